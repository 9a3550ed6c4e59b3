#include "products/ColorClassificationDlg.h"

#include <QFileInfo>
#include <QMouseEvent>
#include <QResizeEvent>

#include <gdal.h>

#include <algorithm>

#include "controls/AbortSingleProgressDlg.h"
#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/MainWindowService.h"
#include "products/ClassificationExport.h"
#include "products/HistogramsDlg.h"
#include "raster/MapData.h"

namespace {

const char* const kSection = "MapClassification";
const char* const kLastOpened = "LastOpened";
const QString kFilter = QStringLiteral("Color Classification(*.ccl)");

// The exact value range of the map's band (its no-data value and NaN left out); the map's own
// statistics when the band cannot be read or holds no value.
void ExactRange(const CMapData& map, double* minimum, double* maximum) {
    *minimum = map.m_pMin ? *map.m_pMin : 0.0;
    *maximum = map.m_pMax ? *map.m_pMax : 0.0;
    if (!map.m_pDataset || GDALGetRasterCount(map.m_pDataset) < 1) {
        return;
    }
    double range[2] = {0.0, 0.0};
    CPLPushErrorHandler(CPLQuietErrorHandler);
    const CPLErr result = GDALComputeRasterMinMax(GDALGetRasterBand(map.m_pDataset, 1), FALSE, range);
    CPLPopErrorHandler();
    if (result == CE_None && range[0] <= range[1]) {
        *minimum = range[0];
        *maximum = range[1];
    }
}

}  // namespace

CColorClassificationDlg::CColorClassificationDlg(QWidget* parent)
    : KvDialog(parent),
      m_List(this),
      m_staticHelp(this),
      m_editMin(this),
      m_editMax(this),
      m_btnLoad(this),
      m_btnSave(this),
      m_btnHistogram(this),
      m_btnExport(this),
      m_btnCancel(this),
      m_btnOK(this),
      m_btnClose(this) {
    setWindowTitle(QStringLiteral("Color Classification"));
    setMouseTracking(true);
    m_staticHelp.setText(QStringLiteral(
        "Right click to manage the classification ranges - Left click to change range bounds"));
    m_editMin.setReadOnly(true);
    m_editMax.setReadOnly(true);
    m_btnClose.setText(QStringLiteral("close"));
    m_btnClose.hide();
    connect(&m_btnLoad, &QPushButton::clicked, this, [this] { LoadClassification(); });
    connect(&m_btnSave, &QPushButton::clicked, this, [this] { SaveClassification(); });
    connect(&m_btnHistogram, &QPushButton::clicked, this, &CColorClassificationDlg::OnBnClickedHistogram);
    connect(&m_btnExport, &QPushButton::clicked, this, &CColorClassificationDlg::OnBnClickedExportData);
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(&m_btnClose, &QPushButton::clicked, this, [this] { OnCancel(); });
}

CColorClassificationDlg::~CColorClassificationDlg() = default;

void CColorClassificationDlg::Create() {
    if (!m_bInitialised) {
        OnInitDialog();
    }
}

bool CColorClassificationDlg::OnInitDialog() {
    if (m_bInitialised) {
        return true;
    }
    m_btnLoad.SetIcon(IDI_OPEN, IDI_OPEN_DISABLED);
    m_btnSave.SetIcon(IDI_SAVE, IDI_SAVE_DISABLED);
    m_btnHistogram.SetIcon(IDI_HISTOGRAM, IDI_HISTOGRAM_DISABLED);
    m_btnExport.SetIcon(IDI_EXPORT, IDI_EXPORT_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnLoad.SetTooltipText(QStringLiteral("Load classification"));
    m_btnSave.SetTooltipText(QStringLiteral("Save classification"));
    m_btnHistogram.SetTooltipText(QStringLiteral("Open frequencies histogram"));
    m_btnExport.SetTooltipText(QStringLiteral("Export data"));

    // The layout at the template's width; resizing keeps these margins and offsets.
    const int width = std::max(kMinWidth, kv::DluSize(this, 373, 62).width());
    const int margin = 8;
    const int button = 32;
    const int listLeft = margin + 2 * (button + 4);
    const int listRight = width - margin;
    const int editWidth = 110;
    m_staticHelp.setGeometry(margin, 4, width - 2 * margin, 18);
    m_btnHistogram.setGeometry(margin, 26, button, button);
    m_btnExport.setGeometry(margin + button + 4, 26, button, button);
    m_List.setGeometry(listLeft, 26, listRight - listLeft, button);
    m_btnOK.setGeometry(margin, 66, button, 30);
    m_btnCancel.setGeometry(margin + button + 4, 66, button, 30);
    m_editMin.setGeometry(listLeft, 70, editWidth, 22);
    m_editMax.setGeometry(listRight - editWidth, 70, editWidth, 22);
    m_btnSave.setGeometry(listRight - editWidth - 6 - button, 66, button, 30);
    m_btnLoad.setGeometry(listRight - editWidth - 2 * (6 + button), 66, button, 30);

    m_nStaticLeft = m_staticHelp.x();
    m_nStaticRightMargin = width - (m_staticHelp.x() + m_staticHelp.width());
    m_nListRightMargin = width - listRight;
    m_nSaveOffset = m_btnSave.x() - listRight;
    m_nLoadOffset = m_btnLoad.x() - listRight;
    m_nMaxOffset = m_editMax.x() - listRight;

    setMinimumWidth(kMinWidth);
    setFixedHeight(kHeight);
    resize(width, kHeight);
    m_bInitialised = true;
    return true;
}

void CColorClassificationDlg::OnSize(int width, int /*height*/) {
    if (!m_bInitialised) {
        return;
    }
    m_staticHelp.setGeometry(m_nStaticLeft, m_staticHelp.y(),
                             std::max(0, width - m_nStaticRightMargin - m_nStaticLeft),
                             m_staticHelp.height());
    const int listRight = width - m_nListRightMargin;
    m_List.setGeometry(m_List.x(), m_List.y(), std::max(0, listRight - m_List.x()), m_List.height());
    m_btnSave.move(listRight + m_nSaveOffset, m_btnSave.y());
    m_btnLoad.move(listRight + m_nLoadOffset, m_btnLoad.y());
    m_editMax.move(listRight + m_nMaxOffset, m_editMax.y());
    m_List.OnResize();
}

void CColorClassificationDlg::resizeEvent(QResizeEvent* event) {
    KvDialog::resizeEvent(event);
    OnSize(event->size().width(), event->size().height());
}

void CColorClassificationDlg::mouseMoveEvent(QMouseEvent* event) {
    m_List.HideTooltip();
    KvDialog::mouseMoveEvent(event);
}

void CColorClassificationDlg::GiveBackPalette(bool emptyArea) {
    if (!m_pMap || !m_bHolding) {
        return;
    }
    m_bHolding = false;
    m_pMap->m_colors = m_SavedPalette;
    if (emptyArea) {
        m_pMap->m_linkedEntities.clear();
    }
    m_pMap->ReleaseDisplayCache();
    if (m_pDoc && m_pDoc->m_pCad) {
        CadUpdate(m_pDoc->m_pCad);
    }
}

int CColorClassificationDlg::SetMap(CKelvaroDoc* doc, CMapData* map) {
    if (!doc || !doc->m_pCad || !map) {
        return 0;
    }
    Create();
    // The map bound so far gets back what it had; its area goes unless it stays bound (the
    // command has just given the map its new area).
    GiveBackPalette(m_pMap != map);
    m_pDoc = doc;
    m_pMap = map;
    m_SavedPalette = map->m_colors;
    m_bHolding = true;
    // The loader keeps statistics of a preview: a value beyond them would fall in no class.
    ExactRange(*map, &m_dMin, &m_dMax);
    m_editMin.setText(QString::asprintf("%lf", m_dMin));
    m_editMax.setText(QString::asprintf("%lf", m_dMax));

    m_List.Init(
        map, [this] { OnColorClassificationRefresh(); }, this);
    m_List.DeleteAllColumns();
    m_List.SetRange(static_cast<float>(m_dMin), static_cast<float>(m_dMax));
    m_List.AddRange();
    m_List.AddRange();

    const QString last =
        ZQT_GetUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(kLastOpened), QString())
            .left(4095);
    if (!last.isEmpty() && QFileInfo(last).isFile()) {
        LoadClassification(last);
    }
    show();
    return 1;
}

int CColorClassificationDlg::LoadClassification(const QString& chosen) {
    if (!m_pMap) {
        return 0;
    }
    QString path = chosen;
    if (path.isEmpty()) {
        path = kv::GetInteraction().ChooseOpenFile(QStringLiteral("Open"), QString(), kFilter);
        if (path.isEmpty()) {
            return 0;
        }
    }
    const int type = m_pMap->m_mapType;
    if (!m_pMap->m_colors.Load(path, &type)) {
        return 0;
    }
    m_List.SetColors(CAGColors(m_pMap->m_colors));
    m_pMap->ReleaseDisplayCache();
    if (m_pDoc && m_pDoc->m_pCad) {
        CadUpdate(m_pDoc->m_pCad);
    }
    ZQT_WriteUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(kLastOpened), path);
    return 1;
}

int CColorClassificationDlg::SaveClassification(const QString& chosen) {
    if (!m_pMap || !m_pDoc) {
        return 0;
    }
    QString path = chosen;
    if (path.isEmpty()) {
        path = ChooseOutputFile(kFilter, QStringLiteral("ccl"));
        if (path.isEmpty()) {
            return 0;
        }
        const QFileInfo file(path);
        if (file.completeBaseName().isEmpty() || file.isDir()) {
            KvMessageBox(QStringLiteral("Insert a name"), MB_OK | MB_ICONINFORMATION);
            return 0;
        }
    } else if (RefuseLoadedLayerOutput({path})) {
        return 0;
    }
    const int type = m_pMap->m_mapType;
    return m_pMap->m_colors.Save(path, &type, &m_dMin, &m_dMax);
}

void CColorClassificationDlg::OnBnClickedHistogram() {
    CHistogramsDlg histogram(m_pMap, this);
    histogram.DoModal();
}

void CColorClassificationDlg::OnBnClickedExportData() {
    if (!m_pMap) {
        return;
    }
    QWidget* main = kv::GetMainWindowService() ? kv::GetMainWindowService()->MainWindow() : nullptr;
    CAbortSingleProgressDlg progress(main);
    progress.Create();
    ExportClassification(m_pMap, ExportClassesOf(*m_pMap, m_List.Model().Colors()), progress);
}

void CColorClassificationDlg::OnColorClassificationRefresh() {
    if (!m_pMap || !m_pDoc) {
        return;
    }
    m_pMap->ReleaseDisplayCache();
    if (m_pDoc->m_pCad) {
        CadUpdate(m_pDoc->m_pCad);
    }
}

void CColorClassificationDlg::OnCancel() {
    GiveBackPalette(true);
    m_List.HideTooltip();
    hide();
}

void CColorClassificationDlg::ForgetLayer(const void* layer) {
    if (!layer || layer != m_pMap) {
        return;
    }
    m_pMap = nullptr;
    m_bHolding = false;
    m_List.Init(nullptr, {}, this);
    m_List.HideTooltip();
    hide();
}
