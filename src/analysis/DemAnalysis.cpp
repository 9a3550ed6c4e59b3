#include "analysis/DemAnalysis.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <saga_api/saga_api.h>

#include <algorithm>
#include <memory>

#include "analysis/SagaRunner.h"
#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "controls/SingleProgressDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/CadCalls.h"
#include "document/DocView.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/cad/Cad.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

const char* const kSection = "CompoundAnalysis";

// The import and export tools, the terrain analysis and the libraries whose tools the analysis
// runs by name (without them it stops at its first step).
const std::vector<const char*> kLibraries = {
    "io_gdal",      "ta_compound", "ta_preprocessor", "ta_lighting",   "ta_morphometry", "grid_filter",
    "ta_hydrology", "ta_channels", "grid_tools",      "grid_calculus", "shapes_grid"};
constexpr int kImportTool = 0;
constexpr int kExportTool = 2;
constexpr int kTerrainTool = 0;
// The outputs the terrain analysis is asked for; FLOW is its catchment area.
const char* const kTerrainOutputs[] = {
    "SHADE",   "SLOPE",    "ASPECT",   "HCURV",  "VCURV",     "CONVERGENCE", "SINKS",      "FLOW",
    "WETNESS", "LSFACTOR", "CHANNELS", "BASINS", "CHNL_BASE", "CHNL_DIST",   "VALL_DEPTH", "RSP"};

// The terrain output of each product.
const char* TerrainOutputOf(MapType type) {
    switch (type) {
        case MapTypeSlope:
            return "SLOPE";
        case MapTypeCatchment:
            return "FLOW";
        default:
            return "WETNESS";
    }
}

void Step(ProgressSink* progress, int pos) {
    if (progress) {
        progress->SetPos(pos);
    }
    ZQT_PumpMessages();
}

// Exports one grid to the product's file through a temporary name beside it.
bool ExportGrid(kv::saga::Tool& exporter, CSG_Grid* grid, const QString& path) {
    if (!grid ||
        !kv::RasterFitsOnDisk(path, double(grid->Get_NX()), double(grid->Get_NY()), 1, GDT_Float32)) {
        return false;
    }
    const QString temporary = kv::TemporaryPathFor(path);
    CSG_Parameter_List* grids = exporter->Get_Parameter("GRIDS")->asList();
    grids->Del_Items();
    grids->Add_Item(grid);
    const bool exported = exporter->Set_Parameter("FILE", CSG_String(temporary.toUtf8().constData())) &&
                          exporter.Execute() && QFileInfo::exists(temporary) &&
                          kv::MoveIntoPlace(temporary, path);
    grids->Del_Items();
    if (!exported) {
        kv::RemoveRasterFile(temporary);
    }
    return exported;
}

// Whether every block of the DEM's file can be read; otherwise *cause holds what GDAL said. A file
// that does not open is left to the import, which fails on it.
bool BlocksReadable(const QString& path, QString* cause) {
    GDALDatasetH dataset = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!dataset) {
        return true;
    }
    CGDALListener pump;  // lets pending window events through while the file is read
    const bool readable = kv::ReadEveryBlock(dataset, &pump, cause);
    GDALClose(dataset);
    return readable;
}

QString ProfileKey(const char* key) {
    return ZQT_GetUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(key),
                                    QStringLiteral("1"));
}

}  // namespace

std::vector<DemAnalysisProduct> DemAnalysisProducts(const QString& demPath, const DemAnalysisChoice& choice) {
    const QFileInfo dem(demPath);
    const QString base = QDir(dem.absolutePath()).filePath(dem.completeBaseName());
    std::vector<DemAnalysisProduct> products;
    const auto add = [&](int ticked, const char* suffix, MapType type, const char* failure) {
        if (ticked) {
            const QString path = base + QString::fromLatin1(suffix);
            products.push_back({path, QFileInfo(path).fileName(), type, QString::fromLatin1(failure)});
        }
    };
    add(choice.slope, "_SLOPE.tif", MapTypeSlope, "Slope");
    add(choice.catchmentArea, "_CAREA.tif", MapTypeCatchment, "CMap");
    add(choice.wetness, "_WETNESS.tif", MapTypeWetness, "Wetness");
    return products;
}

DemAnalysisResult RunDemAnalysis(const QString& demPath, const DemAnalysisChoice& choice,
                                 ProgressSink* progress) {
    DemAnalysisResult result;
    const std::vector<DemAnalysisProduct> products = DemAnalysisProducts(demPath, choice);
    if (progress) {
        progress->SetRange(0, int(products.size()) + 2);
        progress->SetPos(0);
    }
    // The import takes cells it cannot read as 0, which the analysis would take as heights: a DEM
    // whose blocks cannot all be read is not analysed.
    if (!BlocksReadable(demPath, &result.unreadable)) {
        return result;
    }
    if (!kv::saga::LoadToolLibraries(kLibraries)) {
        return result;
    }

    kv::saga::Tool import("io_gdal", kImportTool);
    if (!import.Valid() || !import->Set_Parameter("FILES", CSG_String(demPath.toUtf8().constData())) ||
        !import->Set_Parameter("TRANSFORM", true) || !import->Set_Parameter("RESAMPLING", 3) ||
        !import.Execute()) {
        return result;
    }
    CSG_Parameter_Grid_List* grids = import->Get_Parameter("GRIDS")->asGridList();
    if (!grids || grids->Get_Grid_Count() != 1) {
        return result;
    }
    CSG_Grid* elevation = grids->Get_Grid(0);
    Step(progress, 1);

    kv::saga::Tool terrain("ta_compound", kTerrainTool);
    if (!terrain.Valid()) {
        return result;
    }
    terrain->Get_Parameters()->Set_Grid_System(elevation->Get_System());
    bool ready = terrain->Set_Parameter("ELEVATION", elevation) && terrain->Set_Parameter("THRESHOLD", 5);
    for (const char* output : kTerrainOutputs) {
        ready = ready && terrain->Set_Parameter(output, DATAOBJECT_CREATE);
    }
    if (!ready || !terrain.Execute()) {
        return result;
    }
    Step(progress, 2);
    result.ran = 1;

    kv::saga::Tool exporter("io_gdal", kExportTool);
    int step = 2;
    for (const DemAnalysisProduct& product : products) {
        // A loaded layer's file, or the DEM's, is never replaced under it, whatever its name.
        QString cause;
        bool written = false;
        if (OutputOverInputs({product.path}, {demPath})) {
            cause = FileInUseText();
        } else if (exporter.Valid()) {
            const kv::FailureCauseScope causes;
            written = ExportGrid(exporter, terrain->Get_Parameter(TerrainOutputOf(product.mapType))->asGrid(),
                                 product.path);
            cause = written ? QString() : kv::FailureCause();
            if (cause.isEmpty()) {
                cause = kv::saga::LastError().trimmed();
            }
        }
        if (written) {
            result.written.push_back(product);
        } else {
            result.notCreated += product.failure + QLatin1Char('\n');
            result.causes << (cause.isEmpty() ? product.failure
                                              : product.failure + QStringLiteral(": ") + cause);
        }
        Step(progress, ++step);
    }
    return result;
}

CDEMAnalysisDlg::CDEMAnalysisDlg(CKelvaroDoc* doc, QWidget* parent)
    : KvDialog(parent),
      m_group(QStringLiteral("Analysis Type"), this),
      m_checkSlope(QStringLiteral("Slope"), &m_group),
      m_checkCatchmentArea(QStringLiteral("Catchment Area"), &m_group),
      m_checkWetness(QStringLiteral("Topographic Wetness"), &m_group),
      m_checkLSFactor(QStringLiteral("Slope Lenght"), &m_group),
      m_checkShade(QStringLiteral("Shade"), &m_group),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_pDoc(doc) {
    setWindowTitle(QStringLiteral("DEM Analysis"));
    setFixedSize(kv::DluSize(this, 169, 112));
    m_group.setGeometry(kv::DluRect(this, 7, 7, 155, 77));
    int y = 12;
    for (QCheckBox* box :
         {&m_checkSlope, &m_checkCatchmentArea, &m_checkWetness, &m_checkLSFactor, &m_checkShade}) {
        box->setGeometry(kv::DluRect(this, 8, y, 140, 10));
        y += 12;
    }
    m_btnOK.setGeometry(kv::DluRect(this, 7, 90, 74, 16));
    m_btnCancel.setGeometry(kv::DluRect(this, 88, 90, 74, 16));
    m_btnOK.setDefault(true);
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnBnClickedOk(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { EndDialog(IDCANCEL); });
}

bool CDEMAnalysisDlg::OnInitDialog() {
    if (!m_pDoc) {
        EndDialog(IDC_CANCEL);
        return true;
    }
    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    const std::pair<QCheckBox*, const char*> boxes[] = {{&m_checkShade, "shade"},
                                                        {&m_checkSlope, "slope"},
                                                        {&m_checkCatchmentArea, "carea"},
                                                        {&m_checkWetness, "wetness"},
                                                        {&m_checkLSFactor, "lsfactor"}};
    for (const auto& [box, key] : boxes) {
        int value = 1;
        ZQT_StringToInt(ProfileKey(key), &value);
        box->setChecked(value != 0);
    }
    return true;
}

void CDEMAnalysisDlg::OnBnClickedOk() {
    const std::tuple<QCheckBox*, const char*, int*> boxes[] = {
        {&m_checkShade, "shade", &m_bShade},
        {&m_checkSlope, "slope", &m_bSlope},
        {&m_checkCatchmentArea, "carea", &m_bCatchmentArea},
        {&m_checkWetness, "wetness", &m_bWetness},
        {&m_checkLSFactor, "lsfactor", &m_bLSFactor}};
    for (const auto& [box, key, member] : boxes) {
        *member = box->isChecked() ? 1 : 0;
        ZQT_WriteUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(key),
                                   *member ? QStringLiteral("1") : QStringLiteral("0"));
    }
    EndDialog(IDOK);
}

DemAnalysisChoice CDEMAnalysisDlg::Choice() const {
    DemAnalysisChoice choice;
    choice.slope = m_bSlope;
    choice.catchmentArea = m_bCatchmentArea;
    choice.wetness = m_bWetness;
    choice.lsFactor = m_bLSFactor;
    choice.shade = m_bShade;
    return choice;
}

void CmdDemAnalysis(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_DEMs.empty()) {
        KvMessageBox(QStringLiteral("No DEM loaded"), MB_OK);
        Prompt(drawing, QStringLiteral("No DEM loaded"));
        return;
    }
    ActiveCommandScope scope(drawing, CMD_DEMANALYSIS);
    CDEM* dem = PickDem(drawing, *doc, true);
    if (!dem) {
        return;
    }
    if (dem->m_geoTransform[1] < 0.5 &&
        KvMessageBox(
            QStringLiteral("This process is best when used with DTM.\n With selected DEM process may be "
                           "slow, proceed anyway?"),
            MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    Prompt(drawing, QString());
    QWidget* parent = doc->GetFirstView() ? doc->GetFirstView()->GetParentFrame() : kv::DialogParent();
    CDEMAnalysisDlg dialog(doc, parent);
    if (dialog.DoModal() != IDOK) {
        return;
    }

    DemAnalysisResult result;
    {
        CSingleProgressDlg progress(kv::DialogParent());
        progress.Create();
        progress.show();
        result = RunDemAnalysis(dem->m_path, dialog.Choice(), &progress);
        progress.SetPos(0);
        progress.hide();
    }
    if (!result.ran) {
        // A DEM that cannot be read is told as every layer's failed read is, once in the command;
        // the command line keeps why the analysis stopped.
        if (!result.unreadable.isEmpty()) {
            kv::ReportUnreadableRaster(dem->m_path, result.unreadable);
        }
        KvMessageBox(QStringLiteral("Error"), MB_OK | MB_ICONEXCLAMATION);
        if (!result.unreadable.isEmpty()) {
            PromptFailure(drawing, QStringLiteral("Error"),
                          kv::UnreadableRasterText(dem->m_path, result.unreadable));
        }
        return;
    }
    // The layers in the order catchment area, slope, wetness.
    std::vector<DemAnalysisProduct> layers = result.written;
    std::stable_sort(layers.begin(), layers.end(),
                     [](const DemAnalysisProduct& a, const DemAnalysisProduct& b) {
                         return a.mapType == MapTypeCatchment && b.mapType != MapTypeCatchment;
                     });
    for (const DemAnalysisProduct& product : layers) {
        MapLayerInfo info;
        info.kindCode = 1;
        info.title = product.title;
        info.mapType = product.mapType;
        info.kindCode2 = 2;
        info.path = product.path;
        info.visible = 1;
        info.opacity = 100;
        info.rangeMin = info.rangeMax = -9999.0;
        // The map's type chooses its palette and range.
        info.ownPalette = 0;
        doc->AddMap(info, 0);
        doc->UpdateColorLegend(info);
    }
    if (!result.notCreated.isEmpty()) {
        KvMessageBox(QStringLiteral("Following data were not created:\n") + result.notCreated,
                     MB_OK | MB_ICONEXCLAMATION);
        // Why each was not, in the command line, where it stays once the command clears its prompt.
        for (const QString& cause : result.causes) {
            Prompt(drawing, cause);
        }
    }
    if (!CadLayersOrderWindow()) {
        kv::DocExecute(drawing, CadGetWindow(drawing), CAD_CMD_LAYERS_ORDER);
    }
    doc->PlaceLayersOrderWindow();
}
