#include "layout/SheetLayoutDlg.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QShowEvent>
#include <QVBoxLayout>

#include <climits>
#include <cmath>

#include "controls/KvIcons.h"
#include "document/KelvaroDoc.h"
#include "layout/SheetLayoutLayersPropertiesDlg.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

namespace {

const char* const kStyles[] = {"Simple", "Cross", "Line"};
const char* const kFormats[] = {"0", "0.0", "0.00", "0.000", "0.0000", "0.00000", "0.000000", "0.0000000"};
const char* const kBlockName = "Parametratura";

// Decimals shown while no output format is chosen.
constexpr int kDefaultDecimals = 2;

QString Read(const char* key, const char* fallback) {
    return ZQT_GetUserProfileString(QString::fromLatin1(kSheetLayoutSection), QString::fromLatin1(key),
                                    QString::fromLatin1(fallback));
}

void Write(const char* key, const QString& value) {
    ZQT_WriteUserProfileString(QString::fromLatin1(kSheetLayoutSection), QString::fromLatin1(key), value);
}

// The text as a number, or fallback when it is not one.
double Number(const QString& text, double fallback = 0.0) {
    double value = fallback;
    ZQT_StringToDouble(text, &value);
    return value;
}

// Shows the wait cursor for as long as it lives.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// A new block for the layout: "Parametratura", or "Parametratura_1", "_2", ... when the drawing
// has the name already. Null when the drawing refuses a name it does not have.
CadBlock* AddLayoutBlock(CadDrawing* drawing, double x0, double y0) {
    QByteArray name(kBlockName);
    for (int i = 1;; ++i) {
        if (CadBlock* block = CadAddBlock(drawing, name.constData(), x0, y0, 0.0)) {
            return block;
        }
        if (!CadGetBlockByName(drawing, name.constData()) || i == INT_MAX) {
            return nullptr;
        }
        name = QByteArray(kBlockName) + '_' + QByteArray::number(i);
    }
}

QLineEdit* NewEdit(QWidget* parent, int id) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::number(id));
    return edit;
}

CButtonST* NewButton(QWidget* parent, int id) {
    auto* button = new CButtonST(parent);
    button->setObjectName(QString::number(id));
    // No button acts on Enter: only a click on the build button builds the layout.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

CSheetLayoutDlg::CSheetLayoutDlg(CKelvaroDoc* doc, QWidget* parent) : KvDialog(parent), m_pDoc(doc) {
    m_grpStyle = new QGroupBox(this);
    m_cbStyle = new QComboBox(m_grpStyle);
    m_cbStyle->setObjectName(QString::number(IDC_STYLE));
    m_stPreview = new QLabel(m_grpStyle);
    m_stPreview->setObjectName(QString::number(IDC_STYLE_PREVIEW));
    m_stPreview->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_stPreview->setAlignment(Qt::AlignCenter);
    m_stCrossSize = new QLabel(m_grpStyle);
    m_edCrossSize = NewEdit(m_grpStyle, IDC_CROSS_SIZE);
    auto* style = new QGridLayout(m_grpStyle);
    style->addWidget(m_cbStyle, 0, 0, 1, 2);
    style->addWidget(m_stPreview, 1, 0, 1, 2);
    style->addWidget(m_stCrossSize, 2, 0);
    style->addWidget(m_edCrossSize, 2, 1);

    m_grpStep = new QGroupBox(this);
    m_stStepX = new QLabel(m_grpStep);
    m_edStepX = NewEdit(m_grpStep, IDC_STEP_X);
    m_stStepY = new QLabel(m_grpStep);
    m_edStepY = NewEdit(m_grpStep, IDC_STEP_Y);
    m_stFormat = new QLabel(m_grpStep);
    m_cbFormat = new QComboBox(m_grpStep);
    m_cbFormat->setObjectName(QString::number(IDC_FORMAT));
    auto* step = new QGridLayout(m_grpStep);
    step->addWidget(m_stStepX, 0, 0);
    step->addWidget(m_edStepX, 0, 1);
    step->addWidget(m_stStepY, 1, 0);
    step->addWidget(m_edStepY, 1, 1);
    step->addWidget(m_stFormat, 2, 0);
    step->addWidget(m_cbFormat, 2, 1);

    m_grpExtent = new QGroupBox(this);
    m_btnLowerLeft = NewButton(m_grpExtent, IDC_LOWER_LEFT);
    m_edX0 = NewEdit(m_grpExtent, IDC_X0);
    m_edY0 = NewEdit(m_grpExtent, IDC_Y0);
    m_btnUpperRight = NewButton(m_grpExtent, IDC_UPPER_RIGHT);
    m_edX1 = NewEdit(m_grpExtent, IDC_X1);
    m_edY1 = NewEdit(m_grpExtent, IDC_Y1);
    m_stWidth = new QLabel(m_grpExtent);
    m_edWidth = NewEdit(m_grpExtent, IDC_WIDTH);
    m_edWidth->setReadOnly(true);
    m_stHeight = new QLabel(m_grpExtent);
    m_edHeight = NewEdit(m_grpExtent, IDC_HEIGHT);
    m_edHeight->setReadOnly(true);
    auto* extent = new QGridLayout(m_grpExtent);
    extent->addWidget(m_btnLowerLeft, 0, 0);
    extent->addWidget(m_edX0, 0, 1);
    extent->addWidget(m_edY0, 0, 2);
    extent->addWidget(m_btnUpperRight, 1, 0);
    extent->addWidget(m_edX1, 1, 1);
    extent->addWidget(m_edY1, 1, 2);
    extent->addWidget(m_stWidth, 2, 0);
    extent->addWidget(m_edWidth, 2, 1, 1, 2);
    extent->addWidget(m_stHeight, 3, 0);
    extent->addWidget(m_edHeight, 3, 1, 1, 2);

    m_grpComments = new QGroupBox(this);
    m_stTitle = new QLabel(m_grpComments);
    m_edTitle = NewEdit(m_grpComments, IDC_TITLE);
    m_stSite = new QLabel(m_grpComments);
    m_edSite = NewEdit(m_grpComments, IDC_SITE);
    m_stScale = new QLabel(m_grpComments);
    m_edScale = NewEdit(m_grpComments, IDC_SCALE);
    m_stDate = new QLabel(m_grpComments);
    m_edDate = NewEdit(m_grpComments, IDC_DATE);
    auto* comments = new QGridLayout(m_grpComments);
    QLabel* labels[] = {m_stTitle, m_stSite, m_stScale, m_stDate};
    QLineEdit* edits[] = {m_edTitle, m_edSite, m_edScale, m_edDate};
    for (int i = 0; i < 4; ++i) {
        comments->addWidget(labels[i], i, 0);
        comments->addWidget(edits[i], i, 1);
    }

    m_btnLayerProperties = NewButton(this, IDC_LAYER_PROPERTIES);
    m_btnOK = NewButton(this, IDC_BUILD);
    m_btnCancel = NewButton(this, IDCANCEL);

    auto* left = new QVBoxLayout();
    left->addWidget(m_grpStyle);
    left->addWidget(m_grpStep);
    left->addStretch(1);
    auto* right = new QVBoxLayout();
    right->addWidget(m_grpExtent);
    right->addWidget(m_grpComments);
    right->addStretch(1);
    auto* columns = new QHBoxLayout();
    columns->addLayout(left);
    columns->addLayout(right, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(m_btnLayerProperties);
    buttons->addStretch(1);
    buttons->addWidget(m_btnOK);
    buttons->addWidget(m_btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addLayout(buttons);

    // Selection changes are the operator's only (the loading of the lists does not count);
    // edits notify every change of their text, the program's own included.
    connect(m_cbStyle, &QComboBox::activated, this, [this] { OnSelchangeStyle(); });
    connect(m_cbFormat, &QComboBox::activated, this, [this] { OnSelchangeFormat(); });
    for (QLineEdit* corner : {m_edX0, m_edY0, m_edX1, m_edY1}) {
        const int id = corner->objectName().toInt();
        connect(corner, &QLineEdit::textChanged, this, [this, id] { UpdateExtent(id); });
    }
    connect(m_btnLowerLeft, &QPushButton::clicked, this, [this] { OnBnClickedLowerLeft(); });
    connect(m_btnUpperRight, &QPushButton::clicked, this, [this] { OnBnClickedUpperRight(); });
    connect(m_btnLayerProperties, &QPushButton::clicked, this, [this] { OnBnClickedLayerProperties(); });
    connect(m_btnOK, &QPushButton::clicked, this, [this] { OnBnClickedOk(); });
    connect(m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

bool CSheetLayoutDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("Sheet Layout"));
    m_grpStyle->setTitle(QStringLiteral("Style"));
    m_stCrossSize->setText(QStringLiteral("Cross Size (d.u)"));
    m_grpStep->setTitle(QStringLiteral("Step and Precision"));
    m_stStepX->setText(QStringLiteral("Step X:"));
    m_stStepY->setText(QStringLiteral("Step Y:"));
    m_stFormat->setText(QStringLiteral("Output Format:"));
    m_grpExtent->setTitle(QStringLiteral("Extension (Drawing Unit)"));
    m_btnLowerLeft->setText(QStringLiteral("Lower-Left"));
    m_btnUpperRight->setText(QStringLiteral("Upper-Right"));
    m_stWidth->setText(QStringLiteral("Width:"));
    m_stHeight->setText(QStringLiteral("Height:"));
    m_grpComments->setTitle(QStringLiteral("Comments"));
    m_stTitle->setText(QStringLiteral("Title"));
    m_stSite->setText(QStringLiteral("Site"));
    m_stScale->setText(QStringLiteral("Scale 1:"));
    m_stDate->setText(QStringLiteral("Date"));
    m_btnLayerProperties->setText(QStringLiteral("Layer Properties"));
    m_btnOK->setText(QStringLiteral("OK"));
    m_btnCancel->setText(QStringLiteral("Cancel"));
    m_btnLowerLeft->SetIcon(IDI_PICK_LOWER_LEFT, IDI_PICK_LOWER_LEFT_DISABLED);
    m_btnUpperRight->SetIcon(IDI_PICK_UPPER_RIGHT, IDI_PICK_UPPER_RIGHT_DISABLED);
    m_btnLayerProperties->SetIcon(IDI_LAYER_PROPERTIES, IDI_LAYER_PROPERTIES_DISABLED);
    m_btnOK->SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel->SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    OpenFields();
    return true;
}

void CSheetLayoutDlg::showEvent(QShowEvent* event) {
    // The first showing sets the dialog up (and loads the fields); every later opening of the
    // same dialog loads them again, so that a corner picked meanwhile appears.
    if (m_bOpened && !event->spontaneous()) {
        OpenFields();
    }
    KvDialog::showEvent(event);
    m_bOpened = true;
}

void CSheetLayoutDlg::OpenFields() {
    m_edCrossSize->setEnabled(true);
    LoadSettings();
    UpdateStylePreview();
}

int CSheetLayoutDlg::ShownDecimals() const {
    return m_nDecimals >= 0 ? m_nDecimals : kDefaultDecimals;
}

QLineEdit* CSheetLayoutDlg::CornerField(int id) const {
    switch (id) {
        case IDC_X0:
            return m_edX0;
        case IDC_Y0:
            return m_edY0;
        case IDC_X1:
            return m_edX1;
        case IDC_Y1:
            return m_edY1;
        default:
            return nullptr;
    }
}

void CSheetLayoutDlg::LoadSettings() {
    const QString style = Read("style", "Simple");
    for (int i = 0; i < 3; ++i) {
        if (style.compare(QString::fromLatin1(kStyles[i]), Qt::CaseInsensitive) == 0) {
            m_nStyle = i;
        }
    }
    m_cbStyle->clear();
    for (const char* s : kStyles) {
        m_cbStyle->addItem(QString::fromLatin1(s));
    }
    m_cbStyle->setCurrentIndex(m_nStyle);

    m_edCrossSize->setText(ZQT_DoubleToString(Number(Read("dimCroce", "1"), 1.0), 1));

    const QString format = Read("format", "0.00");
    m_cbFormat->clear();
    for (int i = 0; i < 8; ++i) {
        if (format == QString::fromLatin1(kFormats[i])) {
            m_nDecimals = i;
        }
        m_cbFormat->addItem(QString::fromLatin1(kFormats[i]));
    }
    m_cbFormat->setCurrentIndex(m_nDecimals);

    const int n = ShownDecimals();
    m_edStepX->setText(ZQT_DoubleToString(Number(Read("stepX", "100"), 100.0), n));
    m_edStepY->setText(ZQT_DoubleToString(Number(Read("stepY", "100"), 100.0), n));

    const double x0 = Number(Read("BottomLeftX", "0"));
    const double y0 = Number(Read("BottomLeftY", "0"));
    const double x1 = Number(Read("TopRightX", "100"), 100.0);
    const double y1 = Number(Read("TopRightY", "100"), 100.0);
    m_edX0->setText(ZQT_DoubleToString(x0, n));
    m_edY0->setText(ZQT_DoubleToString(y0, n));
    m_edX1->setText(ZQT_DoubleToString(x1, n));
    m_edY1->setText(ZQT_DoubleToString(y1, n));
    m_edWidth->setText(ZQT_DoubleToString(std::fabs(x1 - x0), 6));
    m_edHeight->setText(ZQT_DoubleToString(std::fabs(y1 - y0), 6));

    m_edTitle->setText(Read("title", ""));
    m_edSite->setText(Read("where", ""));
    m_edScale->setText(Read("scale", ""));
    m_edDate->setText(Read("date", ""));
}

void CSheetLayoutDlg::UpdateExtent(int changedId) {
    if (m_bUpdatingExtent) {
        return;
    }
    m_bUpdatingExtent = 1;
    const double x0 = Number(m_edX0->text());
    const double y0 = Number(m_edY0->text());
    const double x1 = Number(m_edX1->text());
    const double y1 = Number(m_edY1->text());
    double width = Number(m_edWidth->text());
    double height = Number(m_edHeight->text());
    if (changedId == IDC_Y0 || changedId == IDC_Y1) {
        height = y1 - y0;
    }
    if (changedId == IDC_X0 || changedId == IDC_X1) {
        width = x1 - x0;
    }
    const int n = ShownDecimals();
    const std::pair<int, double> corners[] = {{IDC_X0, x0}, {IDC_Y0, y0}, {IDC_X1, x1}, {IDC_Y1, y1}};
    for (const auto& [id, value] : corners) {
        if (id != changedId) {
            CornerField(id)->setText(ZQT_DoubleToString(value, n));
        }
    }
    m_edWidth->setText(ZQT_DoubleToString(width, n));
    m_edHeight->setText(ZQT_DoubleToString(height, n));
    m_bUpdatingExtent = 0;
}

void CSheetLayoutDlg::SaveSettings() {
    Write("style", m_cbStyle->itemText(m_nStyle));
    Write("dimCroce", m_edCrossSize->text());
    Write("format", m_cbFormat->itemText(m_nDecimals));
    Write("stepX", m_edStepX->text());
    Write("stepY", m_edStepY->text());
    Write("BottomLeftX", m_edX0->text());
    Write("BottomLeftY", m_edY0->text());
    Write("TopRightX", m_edX1->text());
    Write("TopRightY", m_edY1->text());
    Write("title", m_edTitle->text());
    Write("where", m_edSite->text());
    Write("scale", m_edScale->text());
    Write("date", m_edDate->text());
}

void CSheetLayoutDlg::OnSelchangeStyle() {
    m_nStyle = m_cbStyle->currentIndex();
    m_edCrossSize->setEnabled(m_nStyle == static_cast<int>(SheetStyle::Cross));
    UpdateStylePreview();
}

void CSheetLayoutDlg::UpdateStylePreview() {
    static const int kPreviews[] = {IDB_SHEET_STYLE_SIMPLE, IDB_SHEET_STYLE_CROSS, IDB_SHEET_STYLE_LINE};
    if (m_nStyle >= 0 && m_nStyle < 3) {
        m_stPreview->setPixmap(KvLoadBitmap(kPreviews[m_nStyle]));
    }
}

void CSheetLayoutDlg::OnSelchangeFormat() {
    m_nDecimals = m_cbFormat->currentIndex();
}

void CSheetLayoutDlg::OnBnClickedLowerLeft() {
    SaveSettings();
    EndDialog(IDR_PICK_LOWER_LEFT);
}

void CSheetLayoutDlg::OnBnClickedUpperRight() {
    SaveSettings();
    EndDialog(IDR_PICK_UPPER_RIGHT);
}

void CSheetLayoutDlg::OnBnClickedLayerProperties() {
    CSheetLayoutLayersPropertiesDlg dialog(this);
    dialog.DoModal();
}

SheetStyle CSheetLayoutDlg::ChosenStyle() const {
    const QString text = m_cbStyle->itemText(m_nStyle);
    if (text.compare(QStringLiteral("Line"), Qt::CaseInsensitive) == 0) {
        return SheetStyle::Line;
    }
    if (text.compare(QStringLiteral("Cross"), Qt::CaseInsensitive) == 0) {
        return SheetStyle::Cross;
    }
    return SheetStyle::Simple;
}

void CSheetLayoutDlg::OnBnClickedOk() {
    auto refuse = [](const char* text) {
        KvMessageBox(QString::fromLatin1(text), MB_OK | MB_ICONEXCLAMATION);
    };
    // A step must be a positive number: the grid would never end on anything else.
    auto stepMissing = [](const QLineEdit* field) {
        double step = 0.0;
        return !ZQT_StringToDouble(field->text(), &step) || !(step > 0) || !std::isfinite(step);
    };
    if (m_cbStyle->currentIndex() < 0) {
        refuse("Select the style of the layout");
        return;
    }
    if (m_cbFormat->currentIndex() < 0) {
        refuse("Select the format of the output");
        return;
    }
    if (stepMissing(m_edStepX)) {
        refuse("Select the X step");
        return;
    }
    if (stepMissing(m_edStepY)) {
        refuse("Select the Y step");
        return;
    }
    if (m_edX0->text().isEmpty() || m_edY0->text().isEmpty() || m_edX1->text().isEmpty() ||
        m_edY1->text().isEmpty()) {
        refuse("Setup the extension");
        return;
    }
    SaveSettings();
    SheetExtent extent;
    extent.x0 = Number(m_edX0->text());
    extent.y0 = Number(m_edY0->text());
    extent.width = Number(m_edWidth->text());
    extent.height = Number(m_edHeight->text());
    if (!(extent.width > 0) || !(extent.height > 0) || !std::isfinite(extent.width) ||
        !std::isfinite(extent.height)) {
        refuse("Wrong dimensions");
        return;
    }
    SheetGrid grid;
    grid.stepX = Number(m_edStepX->text());
    grid.stepY = Number(m_edStepY->text());
    grid.style = ChosenStyle();
    switch (SheetRefusedStep(extent, grid)) {
        case 1:
            refuse("Select the X step");
            return;
        case 2:
            refuse("Select the Y step");
            return;
        default:
            break;
    }

    CadDrawing* drawing = m_pDoc->m_pCad;
    {
        WaitCursor wait;
        CadLayer* current = CadGetCurLayer(drawing);
        CadPurge(drawing, CAD_PURGE_ALL);
        m_pBlock = AddLayoutBlock(drawing, extent.x0, extent.y0);
        CadEntity* insert = nullptr;
        if (m_pBlock) {
            DrawBorders(extent.x0, extent.y0, extent.width, extent.height);
            DrawCoordinates(extent.x0, extent.y0, extent.width, extent.height, grid.stepX, grid.stepY);
            DrawComments();
            insert = CadAddInsBlock(drawing, CadBlockGetID(m_pBlock), extent.x0, extent.y0, 0.0, 1.0, 0.0);
        }
        m_pBlock = nullptr;
        if (!insert) {
            refuse("Unable to insert the sheet layout!");
        }
        CadSetCurLayer(drawing, current);
        CadRegen(drawing);
    }
    EndDialog(IDOK);
}

CadLayer* CSheetLayoutDlg::SetupLayer(SheetLayer layer) {
    CadDrawing* drawing = m_pDoc->m_pCad;
    const QByteArray name = ReadSheetLayerName(layer, false).toUtf8();
    CadLayer* found = CadGetLayerByName(drawing, name.constData());
    if (!found) {
        found = CadAddLayer(drawing, name.constData(), CadColorSeek(ReadSheetLayerColor(layer)),
                            CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    }
    m_layers[static_cast<int>(layer)] = found;
    return found;
}

void CSheetLayoutDlg::AddShapes(const std::vector<SheetShape>& shapes) {
    CadDrawing* drawing = m_pDoc->m_pCad;
    CadLayer* current = nullptr;
    for (const SheetShape& shape : shapes) {
        CadLayer* layer = m_layers[static_cast<int>(shape.layer)];
        if (layer && layer != current) {
            CadSetCurLayer(drawing, layer);
            current = layer;
        }
        CadEntity* entity = nullptr;
        switch (shape.kind) {
            case SheetShape::Line:
                entity = CadAddLine(drawing, shape.x, shape.y, 0.0, shape.x2, shape.y2, 0.0);
                break;
            case SheetShape::Rect:
                entity = CadAddRect(drawing, shape.x, shape.y, 0.0, shape.width, shape.height, 0.0);
                break;
            case SheetShape::Text:
                entity = CadAddText(drawing, shape.text.toUtf8().constData(), shape.x, shape.y, 0.0);
                if (entity) {
                    CadTextPutAngle(entity, shape.angle);
                    CadTextPutHeight(entity, shape.textHeight);
                }
                break;
        }
        if (entity) {
            CadEntityPutColor(entity, CAD_COLOR_BYLAYER);
            CadBlockAddEntity(m_pBlock, entity);
        }
    }
}

void CSheetLayoutDlg::DrawBorders(double x0, double y0, double width, double height) {
    CadSetCurLayer(m_pDoc->m_pCad, SetupLayer(SheetLayer::Borders));
    AddShapes(SheetBorders({x0, y0, width, height}));
}

void CSheetLayoutDlg::DrawCoordinates(double x0, double y0, double width, double height, double stepX,
                                      double stepY) {
    SetupLayer(SheetLayer::Parameters);
    SetupLayer(SheetLayer::Coordinates);
    SheetGrid grid;
    grid.stepX = stepX;
    grid.stepY = stepY;
    grid.decimals = m_nDecimals;
    grid.style = ChosenStyle();
    grid.crossSize = Number(m_edCrossSize->text());
    AddShapes(SheetCoordinates({x0, y0, width, height}, grid));
    CadSetCurLayer(m_pDoc->m_pCad, m_layers[static_cast<int>(SheetLayer::Parameters)]);
}

void CSheetLayoutDlg::DrawComments() {
    CadSetCurLayer(m_pDoc->m_pCad, SetupLayer(SheetLayer::Comments));
    const SheetExtent extent{Number(m_edX0->text()), Number(m_edY0->text()), Number(m_edWidth->text()),
                             Number(m_edHeight->text())};
    AddShapes(
        SheetComments(extent, {m_edTitle->text(), m_edSite->text(), m_edScale->text(), m_edDate->text()}));
}
