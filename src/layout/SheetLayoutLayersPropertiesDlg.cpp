#include "layout/SheetLayoutLayersPropertiesDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "controls/KvIcons.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

namespace {

const SheetLayerProfile kLayers[] = {
    {SheetLayer::Borders, "BorderName", "BorderColor", "Bordi", "Borders", kv::Rgb(0, 0, 255)},
    {SheetLayer::Parameters, "ParametersName", "ParametersColor", "Parametri", "Parameters",
     kv::Rgb(0, 0, 0)},
    {SheetLayer::Coordinates, "CoordinatesName", "CoordinatesColor", "Coordinate", "Coordinates",
     kv::Rgb(255, 0, 0)},
    {SheetLayer::Comments, "CommentsName", "CommentsColor", "Commenti", "Comments", kv::Rgb(0, 0, 0)},
};

// Longest layer name stored.
constexpr int kMaxNameLength = 255;

QString Key(const char* prefix, const char* suffix = "") {
    return QString::fromLatin1(prefix) + QString::fromLatin1(suffix);
}

QString Section() {
    return QString::fromLatin1(kSheetLayoutSection);
}

int ReadComponent(const SheetLayerProfile& keys, const char* component, int fallback) {
    int value = fallback;
    ZQT_StringToInt(
        ZQT_GetUserProfileString(Section(), Key(keys.colorKey, component), QString::number(fallback)),
        &value);
    return std::clamp(value, 0, 255);
}

}  // namespace

const SheetLayerProfile& SheetLayerKeys(SheetLayer layer) {
    return kLayers[static_cast<int>(layer)];
}

QString ReadSheetLayerName(SheetLayer layer, bool dialogDefault) {
    const SheetLayerProfile& keys = SheetLayerKeys(layer);
    const QString fallback = QString::fromLatin1(dialogDefault ? keys.dialogName : keys.drawingName);
    const QString name = ZQT_GetUserProfileString(Section(), Key(keys.nameKey), fallback);
    return name.isEmpty() ? fallback : name;
}

COLORREF ReadSheetLayerColor(SheetLayer layer) {
    const SheetLayerProfile& keys = SheetLayerKeys(layer);
    const COLORREF c = keys.defaultColor;
    return kv::Rgb(ReadComponent(keys, "R", kv::RedOf(c)), ReadComponent(keys, "G", kv::GreenOf(c)),
                   ReadComponent(keys, "B", kv::BlueOf(c)));
}

CSheetLayoutLayersPropertiesDlg::CSheetLayoutLayersPropertiesDlg(QWidget* parent)
    : KvDialog(parent), m_btnOK(new CButtonST(this)), m_btnCancel(new CButtonST(this)) {
    const int nameIds[4] = {IDC_BORDERS_NAME, IDC_PARAMETERS_NAME, IDC_COORDINATES_NAME, IDC_COMMENTS_NAME};
    const int colorIds[4] = {IDC_BORDERS_COLOR, IDC_PARAMETERS_COLOR, IDC_COORDINATES_COLOR,
                             IDC_COMMENTS_COLOR};
    auto* grid = new QGridLayout();
    for (int i = 0; i < 4; ++i) {
        m_groups[i] = new QGroupBox(this);
        m_labels[i] = new QLabel(m_groups[i]);
        m_edNames[i] = new QLineEdit(m_groups[i]);
        m_edNames[i]->setObjectName(QString::number(nameIds[i]));
        m_edNames[i]->setMinimumWidth(140);
        m_btnColors[i] = new KvColorButton(m_groups[i]);
        m_btnColors[i]->setObjectName(QString::number(colorIds[i]));
        auto* row = new QHBoxLayout(m_groups[i]);
        row->addWidget(m_labels[i]);
        row->addWidget(m_edNames[i], 1);
        row->addWidget(m_btnColors[i]);
        grid->addWidget(m_groups[i], i / 2, i % 2);
    }
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(m_btnOK);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    m_btnOK->setText(QStringLiteral("OK"));
    m_btnOK->setDefault(true);
    m_btnCancel->setText(QStringLiteral("Cancel"));
    connect(m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

bool CSheetLayoutLayersPropertiesDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("Layers' Properties"));
    const char* titles[4] = {"Borders", "Parameters", "Coordinates", "Comments"};
    for (int i = 0; i < 4; ++i) {
        const auto layer = static_cast<SheetLayer>(i);
        m_groups[i]->setTitle(QString::fromLatin1(titles[i]));
        m_labels[i]->setText(QStringLiteral("Layer Name:"));
        m_btnColors[i]->SetColor(ReadSheetLayerColor(layer));
        m_edNames[i]->setText(ReadSheetLayerName(layer, true));
    }
    m_btnOK->SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel->SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    return true;
}

void CSheetLayoutLayersPropertiesDlg::OnOK() {
    struct Check {
        SheetLayer layer;
        const char* message;
    };
    static const Check kChecks[] = {
        {SheetLayer::Borders, "The name of the borders' layer is not valid!"},
        {SheetLayer::Comments, "The name of the comments' layer is not valid!"},
        {SheetLayer::Parameters, "The name of the parameters' layer is not valid!"},
        {SheetLayer::Coordinates, "The name of the coordinates' layer is not valid!"},
    };
    for (const Check& check : kChecks) {
        if (m_edNames[static_cast<int>(check.layer)]->text().isEmpty()) {
            KvMessageBox(QString::fromLatin1(check.message), MB_OK | MB_ICONEXCLAMATION);
            return;
        }
    }
    for (int i = 0; i < 4; ++i) {
        const SheetLayerProfile& keys = SheetLayerKeys(static_cast<SheetLayer>(i));
        const COLORREF c = m_btnColors[i]->GetColor();
        ZQT_WriteUserProfileString(Section(), Key(keys.nameKey), m_edNames[i]->text().left(kMaxNameLength));
        ZQT_WriteUserProfileString(Section(), Key(keys.colorKey, "R"), QString::number(kv::RedOf(c)));
        ZQT_WriteUserProfileString(Section(), Key(keys.colorKey, "G"), QString::number(kv::GreenOf(c)));
        ZQT_WriteUserProfileString(Section(), Key(keys.colorKey, "B"), QString::number(kv::BlueOf(c)));
    }
    EndDialog(IDOK);
}
