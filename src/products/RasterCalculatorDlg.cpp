#include "products/RasterCalculatorDlg.h"

#include <QFileInfo>
#include <QHeaderView>

#include <algorithm>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/MainWindowService.h"
#include "products/DialogProgress.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

// The list's images (bitmap of the report list): a band cell, and the layer-name cell.
constexpr int kBandImage = 0;
constexpr int kLayerImage = 2;

}  // namespace

CRasterCalculatorDlg::CRasterCalculatorDlg(CKelvaroDoc* doc, QWidget* parent)
    : KvDialog(parent),
      m_pDoc(doc),
      m_grpInput(QStringLiteral("Raster input"), this),
      m_list(&m_grpInput),
      m_grpFormula(QStringLiteral("Formula"), this),
      m_editFormula(&m_grpFormula),
      m_btnPlus(QStringLiteral("+"), &m_grpFormula),
      m_btnMinus(QStringLiteral("-"), &m_grpFormula),
      m_btnDivide(QStringLiteral("/"), &m_grpFormula),
      m_btnMultiply(QStringLiteral("*"), &m_grpFormula),
      m_btnOpenBracket(QStringLiteral("("), &m_grpFormula),
      m_btnCloseBracket(QStringLiteral(")"), &m_grpFormula),
      m_btnClear(QStringLiteral("Clear"), &m_grpFormula),
      m_btnLoad(QStringLiteral("Load"), &m_grpFormula),
      m_btnSave(QStringLiteral("Save"), &m_grpFormula),
      m_progress(this),
      m_btnEvaluate(QStringLiteral("Evaluate"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_btnAbort(QStringLiteral("Abort"), this) {
    setWindowTitle(QStringLiteral("Raster Calculator"));
    setFixedSize(kv::DluSize(this, 330, 228));
    // Rectangles in the dialog, or in the control's group box.
    kv::PlaceControls(this, {{&m_grpInput, 0, {7, 4, 316, 110}},
                             {&m_list, IDC_LIST, {6, 11, 304, 93}},
                             {&m_grpFormula, 0, {7, 118, 316, 60}},
                             {&m_editFormula, IDC_FORMULA, {6, 12, 304, 14}},
                             {&m_btnPlus, IDC_PLUS, {6, 34, 24, 16}},
                             {&m_btnMinus, IDC_MINUS, {34, 34, 24, 16}},
                             {&m_btnDivide, IDC_DIVIDE, {62, 34, 24, 16}},
                             {&m_btnMultiply, IDC_MULTIPLY, {90, 34, 24, 16}},
                             {&m_btnOpenBracket, IDC_OPEN_BRACKET, {118, 34, 24, 16}},
                             {&m_btnCloseBracket, IDC_CLOSE_BRACKET, {146, 34, 24, 16}},
                             {&m_btnClear, IDC_CLEAR, {178, 34, 40, 16}},
                             {&m_btnLoad, IDC_LOAD, {224, 34, 40, 16}},
                             {&m_btnSave, IDC_SAVE, {268, 34, 40, 16}},
                             {&m_progress, IDC_PROGRESS, {7, 184, 316, 14}},
                             {&m_btnEvaluate, IDC_EVALUATE, {163, 205, 50, 16}},
                             {&m_btnCancel, IDC_CANCEL, {218, 205, 50, 16}},
                             {&m_btnAbort, IDC_ABORT, {273, 205, 50, 16}}});
    m_btnEvaluate.setDefault(true);
    for (QPushButton* button : {&m_btnPlus, &m_btnMinus, &m_btnDivide, &m_btnMultiply, &m_btnOpenBracket,
                                &m_btnCloseBracket, &m_btnClear, &m_btnLoad, &m_btnSave}) {
        button->setAutoDefault(false);
    }
    m_list.setRootIsDecorated(false);
    m_list.setSelectionBehavior(QAbstractItemView::SelectRows);
    connect(&m_btnPlus, &QPushButton::clicked, this, [this] { AppendOperator(QStringLiteral("+ ")); });
    connect(&m_btnMinus, &QPushButton::clicked, this, [this] { AppendOperator(QStringLiteral("- ")); });
    connect(&m_btnDivide, &QPushButton::clicked, this, [this] { AppendOperator(QStringLiteral("/ ")); });
    connect(&m_btnMultiply, &QPushButton::clicked, this, [this] { AppendOperator(QStringLiteral("* ")); });
    connect(&m_btnOpenBracket, &QPushButton::clicked, this, [this] { AppendOperator(QStringLiteral("(")); });
    connect(&m_btnCloseBracket, &QPushButton::clicked, this, [this] { OnBnClickedCloseBracket(); });
    connect(&m_btnClear, &QPushButton::clicked, this, [this] { m_editFormula.setText(QString()); });
    connect(&m_btnEvaluate, &QPushButton::clicked, this, [this] { OnBnClickedEvaluate(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(&m_btnAbort, &QPushButton::clicked, this, [this] { m_nAbort = 1; });
    connect(&m_list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item, int column) {
        OnNMDblclkList(m_list.indexOfTopLevelItem(item), column);
    });
}

bool CRasterCalculatorDlg::OnInitDialog() {
    if (!m_pDoc || !m_pDoc->m_pCad) {
        EndDialog(IDCANCEL);
        return false;
    }
    m_btnEvaluate.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_btnAbort.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_list.SetImageListFromBitmap();
    m_nAbort = 0;

    struct Layer {
        QString name;
        GDALDatasetH dataset;
        COLORREF colour;
    };
    std::vector<Layer> layers;
    for (const auto& [name, dem] : m_pDoc->m_DEMs) {
        if (dem && dem->m_pDataset && name.compare(QLatin1String("SRTM"), Qt::CaseInsensitive) != 0) {
            layers.push_back({name, dem->m_pDataset, kDemColor});
        }
    }
    for (const auto& [name, ortho] : m_pDoc->m_Orthos) {
        if (ortho && ortho->m_pDataset &&
            name.compare(QLatin1String("Background"), Qt::CaseInsensitive) != 0) {
            layers.push_back({name, ortho->m_pDataset, kOrthoColor});
        }
    }
    for (const auto& [name, map] : m_pDoc->m_Maps) {
        if (map && map->m_pDataset) {
            layers.push_back({name, map->m_pDataset, kMapColor});
        }
    }
    int bands = 1;
    for (const Layer& layer : layers) {
        bands = std::max(bands, GDALGetRasterCount(layer.dataset));
    }
    m_list.InsertColumn(0, QStringLiteral("Data name"), 120);
    const int width = std::max(1, (m_list.width() - 125) / bands);
    for (int b = 1; b <= bands; ++b) {
        m_list.InsertColumn(b, QStringLiteral("Chn %1").arg(b), width);
    }
    for (const Layer& layer : layers) {
        const int row = m_list.InsertItem(m_list.GetItemCount(), layer.name);
        m_list.SetItemDataPtr(row, layer.dataset);
        m_list.SetItemTextColor(row, layer.colour);
        m_list.SetItemImage(row, 0, kLayerImage);
        for (int b = 1; b <= GDALGetRasterCount(layer.dataset); ++b) {
            m_list.SetItemImage(row, b, kBandImage);
        }
    }
    return true;
}

std::vector<calc::LayerRow> CRasterCalculatorDlg::Rows() const {
    std::vector<calc::LayerRow> rows;
    for (int row = 0; row < m_list.GetItemCount(); ++row) {
        rows.push_back({m_list.GetItemText(row, 0), static_cast<GDALDatasetH>(m_list.GetItemDataPtr(row))});
    }
    return rows;
}

void CRasterCalculatorDlg::OnNMDblclkList(int row, int column) {
    if (row < 0 || row >= m_list.GetItemCount() || column < 1) {
        return;
    }
    const auto dataset = static_cast<GDALDatasetH>(m_list.GetItemDataPtr(row));
    if (!dataset || column > GDALGetRasterCount(dataset)) {
        return;
    }
    m_editFormula.setText(m_editFormula.text() +
                          QStringLiteral("%1<%2> ").arg(m_list.GetItemText(row, 0)).arg(column));
}

void CRasterCalculatorDlg::AppendOperator(const QString& token) {
    QString text = m_editFormula.text();
    if (!text.isEmpty() && !text.endsWith(QLatin1Char(' '))) {
        text += QLatin1Char(' ');
    }
    m_editFormula.setText(text + token);
}

void CRasterCalculatorDlg::OnBnClickedCloseBracket() {
    QString text = m_editFormula.text();
    if (text.endsWith(QLatin1Char(' '))) {
        text.chop(1);
    }
    m_editFormula.setText(text + QStringLiteral(") "));
}

void CRasterCalculatorDlg::LockControls(bool locked) {
    for (QWidget* control : std::initializer_list<QWidget*>{
             &m_btnEvaluate, &m_btnCancel, &m_editFormula, &m_btnPlus, &m_btnMinus, &m_btnDivide,
             &m_btnMultiply, &m_btnOpenBracket, &m_btnCloseBracket, &m_btnClear}) {
        control->setEnabled(!locked);
    }
    ZQT_PumpMessages();
}

void CRasterCalculatorDlg::OnBnClickedEvaluate() {
    m_nAbort = 0;
    const QString formula = m_editFormula.text();
    if (formula.isEmpty()) {
        return;
    }
    const std::vector<calc::LayerRow> rows = Rows();
    calc::BuildBandTable(rows);
    const calc::Rewritten rewritten = calc::RewriteFormula(formula, rows);
    if (!rewritten.invalidReference.isEmpty()) {
        KvMessageBox(QStringLiteral("Invalid band: %1").arg(rewritten.invalidReference),
                     MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (rewritten.datasets.empty()) {
        // Nothing to evaluate over: a formula of constants, or names that are no listed layer.
        if (!rewritten.unknownReference.isEmpty()) {
            KvMessageBox(QStringLiteral("Unknown layer: %1").arg(rewritten.unknownReference),
                         MB_OK | MB_ICONEXCLAMATION);
        } else {
            const QString example = rows.empty() ? QStringLiteral("name") : rows.front().name;
            KvMessageBox(
                QStringLiteral("The formula uses no band of a loaded layer: name one as %1<1>").arg(example),
                MB_OK | MB_ICONEXCLAMATION);
        }
        return;
    }
    const calc::Grid grid = calc::OutputGrid(rewritten.datasets);
    const QString path = ChooseOutputFile(QStringLiteral("DEM File (*.gtif)"), QStringLiteral("gtif"));
    if (path.isEmpty()) {
        return;
    }
    LockControls(true);
    products::DialogProgress progress(m_progress, m_nAbort);
    QString message;
    switch (calc::EvaluateFormula(rewritten, grid, path, &progress, &message)) {
        case calc::Result::Done: {
            MapLayerInfo info;
            info.kindCode = 1;
            info.title = QFileInfo(path).completeBaseName();
            info.mapType = MapTypeOther;
            info.kindCode2 = 4;
            info.path = path;
            info.visible = 1;
            info.opacity = 100;
            info.rangeMin = -9999.0;
            info.rangeMax = -9999.0;
            info.noRepaint = 0;
            m_pDoc->AddMap(info, 1);
            EndDialog(IDOK);
            return;
        }
        case calc::Result::ParserError:
            KvMessageBox(message, MB_OK);
            break;
        case calc::Result::NoSpace:
            KvMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
            break;
        case calc::Result::CreateFailed:
        case calc::Result::ReadFailed:
            KvMessageBox(QStringLiteral("Process error"), MB_OK | MB_ICONEXCLAMATION);
            PromptFailure(m_pDoc->m_pCad, QStringLiteral("Process error"), message);
            break;
        case calc::Result::Aborted:
            break;
    }
    m_progress.SetPos(0);
    LockControls(false);
}

void CmdRasterCalculator(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_DEMs.empty() && doc->m_Orthos.empty() && doc->m_Maps.empty()) {
        KvMessageBox(QStringLiteral("No map loaded"), MB_OK);
        CadCmdPrompt(drawing, "No map loaded", "");
        return;
    }
    ActiveCommandScope scope(drawing, CMD_RASTERCALCULATOR);
    CRasterCalculatorDlg dialog(
        doc, kv::GetMainWindowService() ? kv::GetMainWindowService()->MainWindow() : nullptr);
    dialog.DoModal();
}
