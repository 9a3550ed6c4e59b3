#include "products/MapRepresentationDlg.h"

#include <QGridLayout>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "controls/KvIcons.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

// The integer a text starts with, as the C library's atoi reads it; 0 when it starts with none.
int LeadingInt(const QString& text) {
    const QByteArray bytes = text.trimmed().toLatin1();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    if (first != last && *first == '+') {
        ++first;
    }
    long long value = 0;
    const auto result = std::from_chars(first, last, value);
    if (result.ec == std::errc::result_out_of_range) {
        return first != last && *first == '-' ? std::numeric_limits<int>::min()
                                              : std::numeric_limits<int>::max();
    }
    return result.ec == std::errc() ? static_cast<int>(std::clamp<long long>(value, INT32_MIN, INT32_MAX))
                                    : 0;
}

}  // namespace

CMapRepresentationDlg::CMapRepresentationDlg(QWidget* parent)
    : KvDialog(parent),
      m_cmbPalette(this),
      m_editCount(this),
      m_btnApplyCount(QStringLiteral("Apply"), this),
      m_btnRevert(QStringLiteral("Revert"), this),
      m_btnInvert(QStringLiteral("Invert"), this),
      m_editMin(this),
      m_editMax(this),
      m_editRangeMin(this),
      m_editRangeMax(this),
      m_btnApplyRange(QStringLiteral("Apply"), this),
      m_btnRestore(QStringLiteral("Restore"), this),
      m_btnClose(QStringLiteral("Close"), this),
      m_btnCancel(QStringLiteral("Cancel"), this) {
    setWindowTitle(QStringLiteral("Map representation"));
    m_editMin.setReadOnly(true);
    m_editMax.setReadOnly(true);
    connect(&m_btnApplyCount, &QPushButton::clicked, this, &CMapRepresentationDlg::OnBnClickedApplyCount);
    connect(&m_cmbPalette, &QComboBox::activated, this, [this] { OnCbnSelchangePalette(); });
    connect(&m_btnRevert, &QPushButton::clicked, this, &CMapRepresentationDlg::OnBnClickedRevert);
    connect(&m_btnInvert, &QPushButton::clicked, this, &CMapRepresentationDlg::OnBnClickedInvert);
    connect(&m_btnApplyRange, &QPushButton::clicked, this, &CMapRepresentationDlg::OnBnClickedApplyRange);
    connect(&m_btnRestore, &QPushButton::clicked, this, &CMapRepresentationDlg::OnBnClickedRestore);
    connect(&m_btnClose, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, &CMapRepresentationDlg::OnBnClickedCancel);
}

void CMapRepresentationDlg::Create() {
    if (!m_bCreated) {
        OnInitDialog();
    }
}

bool CMapRepresentationDlg::OnInitDialog() {
    if (m_bCreated) {
        return true;
    }
    m_bCreated = true;
    // The palettes in alphabetical order, each with its index.
    std::vector<int> order(kPaletteCount);
    for (int i = 0; i < kPaletteCount; ++i) {
        order[size_t(i)] = i;
    }
    std::sort(order.begin(), order.end(), [](int a, int b) {
        return QString::fromLatin1(PaletteNames[a])
                   .compare(QString::fromLatin1(PaletteNames[b]), Qt::CaseInsensitive) < 0;
    });
    for (int index : order) {
        m_cmbPalette.addItem(QString::fromLatin1(PaletteNames[index]), index);
    }
    m_btnApplyCount.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnApplyRange.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnRestore.SetIcon(IDI_UPDATE, IDI_UPDATE_DISABLED);
    m_btnClose.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Palette"), this), 0, 0);
    grid->addWidget(&m_cmbPalette, 0, 1, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("Colors"), this), 1, 0);
    grid->addWidget(&m_editCount, 1, 1);
    grid->addWidget(&m_btnApplyCount, 1, 2);
    grid->addWidget(&m_btnRevert, 1, 3);
    grid->addWidget(&m_btnInvert, 1, 4);
    grid->addWidget(new QLabel(QStringLiteral("Min value"), this), 2, 0);
    grid->addWidget(&m_editMin, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("Max value"), this), 2, 2);
    grid->addWidget(&m_editMax, 2, 3, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Range min"), this), 3, 0);
    grid->addWidget(&m_editRangeMin, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("Range max"), this), 3, 2);
    grid->addWidget(&m_editRangeMax, 3, 3);
    grid->addWidget(&m_btnApplyRange, 3, 4);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(&m_btnRestore);
    buttons->addStretch(1);
    buttons->addWidget(&m_btnClose);
    buttons->addWidget(&m_btnCancel);
    grid->addLayout(buttons, 4, 0, 1, 5);
    adjustSize();
    return true;
}

CAGColors* CMapRepresentationDlg::Palette() const {
    return m_pMap ? &m_pMap->m_colors : m_pDem ? &m_pDem->m_colors : nullptr;
}

double* CMapRepresentationDlg::RangeMin() const {
    return m_pMap ? m_pMap->m_pRangeMin.get() : m_pDem ? &m_pDem->m_colorRangeMin : nullptr;
}

double* CMapRepresentationDlg::RangeMax() const {
    return m_pMap ? m_pMap->m_pRangeMax.get() : m_pDem ? &m_pDem->m_colorRangeMax : nullptr;
}

int CMapRepresentationDlg::SetMap(CKelvaroDoc* doc, CMapData* map, const MapLayerInfo& record) {
    if (!map) {
        return 0;
    }
    const double minimum = map->m_pMin ? *map->m_pMin : 0.0;
    const double maximum = map->m_pMax ? *map->m_pMax : 0.0;
    if (!map->m_pRangeMin) {
        map->m_pRangeMin = std::make_unique<double>(minimum);
    }
    if (!map->m_pRangeMax) {
        map->m_pRangeMax = std::make_unique<double>(maximum);
    }
    return Bind(doc, map, nullptr, record, minimum, maximum);
}

int CMapRepresentationDlg::SetDem(CKelvaroDoc* doc, CDEM* dem, const MapLayerInfo& record) {
    if (!dem) {
        return 0;
    }
    return Bind(doc, nullptr, dem, record, dem->m_minElevation, dem->m_maxElevation);
}

int CMapRepresentationDlg::Bind(CKelvaroDoc* doc, CMapData* map, CDEM* dem, const MapLayerInfo& record,
                                double minimum, double maximum) {
    if (!doc || !doc->m_pCad) {
        return 0;
    }
    Create();
    m_pDoc = doc;
    m_pMap = map;
    m_pDem = dem;
    m_record = record;
    CAGColors& palette = *Palette();
    m_editMin.setText(QString::asprintf("%lf", minimum));
    m_editMax.setText(QString::asprintf("%lf", maximum));
    m_editRangeMin.setText(QString::asprintf("%lf", *RangeMin()));
    m_editRangeMax.setText(QString::asprintf("%lf", *RangeMax()));

    m_nSavedCount = palette.m_colorCount;
    m_nSavedIndex = palette.m_paletteIndex;
    m_dSavedMin = *RangeMin();
    m_dSavedMax = *RangeMax();
    m_bSavedRevert = palette.m_bRevert;
    m_bSavedInvert = palette.m_bInvert;
    m_savedPalette = palette;

    palette.m_classes.clear();
    palette.Set_Palette(palette.m_paletteIndex, palette.m_bRevert, palette.m_colorCount);
    if (palette.m_bInvert) {
        palette.Invert();
    }
    m_editCount.setText(QString::asprintf("%d", palette.m_colorCount));
    SelectPalette(palette.m_paletteIndex);
    Changed();
    show();
    return 1;
}

void CMapRepresentationDlg::ForgetLayer(const void* layer) {
    if (!layer || (layer != m_pMap && layer != m_pDem)) {
        return;
    }
    m_pMap = nullptr;
    m_pDem = nullptr;
    hide();
}

void CMapRepresentationDlg::SelectPalette(int index) {
    const int item = m_cmbPalette.findData(index);
    m_cmbPalette.setCurrentIndex(item >= 0 ? item : 0);
}

int CMapRepresentationDlg::ColorCountFromEdit() {
    int count = LeadingInt(m_editCount.text());
    if (count < 2) {
        count = 1;
    } else if (count >= kMaxColors) {
        count = kMaxColors;
    }
    m_editCount.setText(QString::asprintf("%d", count));
    return count;
}

void CMapRepresentationDlg::Changed(bool update) {
    if (m_pMap) {
        m_pMap->ReleaseDisplayCache();
    } else if (m_pDem) {
        m_pDem->ReleaseDisplayCache();
    }
    if (!m_pDoc) {
        return;
    }
    m_pDoc->UpdateColorLegend(m_record);
    if (update) {
        CadUpdate(m_pDoc->m_pCad);
    } else if (QWidget* window = CadGetWindow(m_pDoc->m_pCad)) {
        CadWndRedraw(window);
    }
}

void CMapRepresentationDlg::OnBnClickedApplyCount() {
    const int count = ColorCountFromEdit();
    if (CAGColors* palette = Palette()) {
        palette->Set_Count(count);
        palette->Set_Palette(palette->m_paletteIndex, palette->m_bRevert, count);
        palette->m_bInvert = false;
    }
    Changed();
}

void CMapRepresentationDlg::OnCbnSelchangePalette() {
    const int count = ColorCountFromEdit();
    if (CAGColors* palette = Palette()) {
        const QVariant index = m_cmbPalette.currentData();
        palette->m_bInvert = false;
        palette->Set_Palette(index.isValid() ? index.toInt() : 0, false, count);
    }
    Changed();
}

void CMapRepresentationDlg::OnBnClickedRevert() {
    if (CAGColors* palette = Palette()) {
        palette->Revert();
        palette->m_bRevert = !palette->m_bRevert;
    }
    Changed();
}

void CMapRepresentationDlg::OnBnClickedInvert() {
    if (CAGColors* palette = Palette()) {
        palette->Invert();
        palette->m_bInvert = !palette->m_bInvert;
    }
    Changed();
}

void CMapRepresentationDlg::OnBnClickedApplyRange() {
    double minimum = 0.0;
    double maximum = 0.0;
    if (!ZQT_StringToDouble(m_editRangeMin.text(), &minimum) ||
        !ZQT_StringToDouble(m_editRangeMax.text(), &maximum) || !std::isfinite(minimum) ||
        !std::isfinite(maximum) || !(minimum < maximum)) {
        KvMessageBox(QStringLiteral("min range value must be lower than max"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (double* low = RangeMin()) {
        *low = minimum;
        *RangeMax() = maximum;
    }
    Changed();
}

void CMapRepresentationDlg::OnBnClickedRestore() {
    m_editCount.setText(QString::asprintf("%d", m_nSavedCount));
    SelectPalette(m_nSavedIndex);
    m_editRangeMin.setText(QString::asprintf("%lf", m_dSavedMin));
    m_editRangeMax.setText(QString::asprintf("%lf", m_dSavedMax));
    if (CAGColors* palette = Palette()) {
        *RangeMin() = m_dSavedMin;
        *RangeMax() = m_dSavedMax;
        palette->Set_Palette(m_nSavedIndex, m_bSavedRevert, m_nSavedCount);
        palette->m_bInvert = m_bSavedInvert;
        if (m_bSavedInvert) {
            palette->Invert();
        }
    }
    Changed();
}

void CMapRepresentationDlg::OnBnClickedCancel() {
    if (CAGColors* palette = Palette()) {
        *palette = m_savedPalette;
    }
    Changed(true);
    hide();
}
