#include "products/LandmarkTransform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vtkLandmarkTransform.h>
#include <vtkMatrix4x4.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>
#include <Eigen/Dense>

#include <climits>
#include <cmath>
#include <memory>

#include "demtools/DemEditCommands.h"
#include "demtools/Tin.h"
#include "demtools/TinRaster.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "products/ProductsSupport.h"
#include "products/TerrainMeshFiles.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace products {

bool SpansPlane(const std::vector<Wml::Point3>& points) {
    if (points.size() < 3) {
        return false;
    }
    Eigen::Vector3d mean = Eigen::Vector3d::Zero();
    for (const Wml::Point3& p : points) {
        mean += Eigen::Vector3d(p.X(), p.Y(), p.Z());
    }
    mean /= double(points.size());
    Eigen::MatrixXd centred(points.size(), 3);
    for (size_t i = 0; i < points.size(); ++i) {
        centred.row(Eigen::Index(i)) = Eigen::Vector3d(points[i].X(), points[i].Y(), points[i].Z()) - mean;
    }
    // The second singular value measures how far the points leave their best line; far below the
    // first, what is left is rounding.
    const Eigen::Vector3d spread = Eigen::JacobiSVD<Eigen::MatrixXd>(centred).singularValues();
    return std::isfinite(spread(0)) && spread(0) > 0.0 && spread(1) > 1e-9 * spread(0);
}

namespace {

// A difference with three decimals; one that rounds to zero is written "0.000", whatever its sign.
QString Residual(double value) {
    const QString text = QString::asprintf("%.3lf", value);
    return text == QLatin1String("-0.000") ? QStringLiteral("0.000") : text;
}

void Apply(vtkLinearTransform* transform, const Wml::Point3& p, double out[3]) {
    const double in[3] = {p.X(), p.Y(), p.Z()};
    transform->TransformPoint(in, out);
}

}  // namespace

QString LandmarkReport(const std::vector<Wml::Point3>& source, const std::vector<Wml::Point3>& target,
                       vtkLinearTransform* transform) {
    QString report;
    for (size_t i = 0; i < source.size() && i < target.size(); ++i) {
        double moved[3];
        Apply(transform, source[i], moved);
        report += QStringLiteral("id=%1 dx=%2 dy=%3 dz=%4\n")
                      .arg(int(i))
                      .arg(Residual(moved[0] - target[i].X()), Residual(moved[1] - target[i].Y()),
                           Residual(moved[2] - target[i].Z()));
    }
    return report + QStringLiteral("\nProcedere?");
}

std::vector<Wml::Point3> TerrainCellPoints(const cv::Mat& grid, const double gt[6], const double offset[3],
                                           vtkLinearTransform* transform, double extent[4]) {
    extent[0] = extent[2] = HUGE_VAL;
    extent[1] = extent[3] = -HUGE_VAL;
    std::vector<Wml::Point3> points;
    if (grid.empty() || grid.type() != CV_32FC1) {
        return points;
    }
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    if (transform) {
        vtkMatrix4x4* matrix = transform->GetMatrix();
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 4; ++j) {
                m[i][j] = matrix->GetElement(i, j);
            }
        }
    }
    size_t valid = 0;
    for (int r = 0; r < grid.rows; ++r) {
        const float* row = grid.ptr<float>(r);
        for (int c = 0; c < grid.cols; ++c) {
            valid += IsNoData(row[c]) ? 0 : 1;
        }
    }
    points.reserve(valid);
    const double x0 = gt[0] - offset[0], y0 = gt[3] - offset[1];
    for (int r = 0; r < grid.rows; ++r) {
        const float* row = grid.ptr<float>(r);
        const double y = y0 + (r + 0.5) * gt[5];
        for (int c = 0; c < grid.cols; ++c) {
            if (IsNoData(row[c])) {
                continue;
            }
            const double x = x0 + (c + 0.5) * gt[1];
            const double z = double(row[c]) - offset[2];
            const double tx = m[0][0] * x + m[0][1] * y + m[0][2] * z + m[0][3];
            const double ty = m[1][0] * x + m[1][1] * y + m[1][2] * z + m[1][3];
            const double tz = m[2][0] * x + m[2][1] * y + m[2][2] * z + m[2][3];
            points.emplace_back(tx, ty, tz);
            extent[0] = std::min(extent[0], tx);
            extent[1] = std::max(extent[1], tx);
            extent[2] = std::min(extent[2], ty);
            extent[3] = std::max(extent[3], ty);
        }
    }
    return points;
}

cv::Mat GridTerrainTin(vtkPolyData* tin, const double extent[4], double cellWidth, double cellHeight,
                       double corner[2]) {
    const double p = std::fabs(cellWidth), q = std::fabs(cellHeight);
    if (!(p > 0.0 && q > 0.0) || !(extent[0] <= extent[1] && extent[2] <= extent[3])) {
        return cv::Mat();
    }
    const double columns = std::nearbyint((extent[1] - extent[0]) / p) + 1.0;
    const double rows = std::nearbyint((extent[3] - extent[2]) / q) + 1.0;
    if (!(columns < INT_MAX && rows < INT_MAX)) {
        return cv::Mat();
    }
    corner[0] = extent[0] - p / 2.0;
    corner[1] = extent[3] + q / 2.0;
    // The rasteriser counts whole cells between the bounds: half a cell more on the far sides keeps
    // rounding from taking the last column or row away.
    const double bounds[4] = {corner[0], corner[0] + (columns + 0.5) * p, corner[1] - (rows + 0.5) * q,
                              corner[1]};
    return RasterizeTinToGrid(tin, p, q, bounds);
}

}  // namespace products

namespace {

// The files of one run, beside the terrain's file and named by the pattern ("%s_LMT").
struct Outputs {
    QString vtp, vtw, gtif, dxf;

    Outputs(const QString& terrain, const char* pattern) {
        const QFileInfo info(terrain);
        const QString base =
            QDir(info.absolutePath())
                .filePath(QString::asprintf(pattern, info.completeBaseName().toUtf8().constData()));
        vtp = base + QStringLiteral(".vtp");
        vtw = base + QStringLiteral(".vtw");
        gtif = base + QStringLiteral(".gtif");
        dxf = base + QStringLiteral(".dxf");
    }
    // True, after "The file is used by a loaded layer", when one of them is a loaded layer's file
    // or the terrain's.
    bool Refused(const QString& terrain) const {
        return RefuseOutputOverInputs({vtp, vtw, gtif, dxf}, {terrain});
    }
};

// One run: the terrain with its whole grid in memory (owned by the command, apart from the
// project), the local frame's offset, the landmarks in that frame and the polylines to move.
struct LandmarkRun {
    std::unique_ptr<CDEM> terrain;
    double offset[3] = {0.0, 0.0, 0.0};
    std::vector<Wml::Point3> source, target;
    std::vector<CadEntity*> edits;
};

// The local frame's origin: the middle of the terrain model.
void SetTerrainCentre(LandmarkRun& run) {
    const double* gt = run.terrain->m_geoTransform;
    run.offset[0] = (run.terrain->Width() * 0.5) * gt[1] + gt[0];
    run.offset[1] = (run.terrain->Height() * 0.5) * gt[5] + gt[3];
    run.offset[2] = 0.0;
}

Wml::Point3 Local(const LandmarkRun& run, double x, double y, double z) {
    return Wml::Point3(x - run.offset[0], y - run.offset[1], z);
}

// "Select polyline to edit" until the operator picks none: each polyline is highlighted while the
// picks go on; any other entity is an "Invalid entity".
std::vector<CadEntity*> PickEditPolylines(CadDrawing* drawing) {
    std::vector<CadEntity*> edits;
    for (;;) {
        Prompt(drawing, QStringLiteral("Select polyline to edit"));
        CadEntity* entity = CadCmdUserGetEntity(drawing);
        if (!entity) {
            break;
        }
        if (CadEntityGetType(entity) != CAD_ENT_POLYLINE) {
            CadCmdPrompt(drawing, "Invalid entity", "");
            continue;
        }
        CadSelectEntity(entity, 1);
        CadUpdate(drawing);
        edits.push_back(entity);
    }
    for (CadEntity* entity : edits) {
        CadSelectEntity(entity, 0);
    }
    CadUpdate(drawing);
    return edits;
}

// The moved polylines as a DXF drawing: every vertex takes the terrain's height under it (its own
// where the terrain has none) and is moved in the local frame. False when the file was not made.
bool ExportPolylines(const LandmarkRun& run, vtkLinearTransform* transform, const QString& dxf) {
    std::unique_ptr<CadDrawing, void (*)(CadDrawing*)> moved(CadCreate(), CadDelete);
    if (!moved) {
        return false;
    }
    for (CadEntity* polyline : run.edits) {
        CadClearVertices();
        for (const Wml::Point3& v : DrawingPolylineVertices(polyline)) {
            double z = run.terrain->GetElevation(v.X(), v.Y());
            if (z == kNoData) {
                z = v.Z();
            }
            double out[3];
            const double in[3] = {v.X() - run.offset[0], v.Y() - run.offset[1], z};
            transform->TransformPoint(in, out);
            CadAddVertex(out[0] + run.offset[0], out[1] + run.offset[1], out[2] + run.offset[2]);
        }
        CadAddPolyline(moved.get(), CadPlineGetFit(polyline), CadPlineGetClosed(polyline));
    }
    const QString folder = ZQT_GetSpecialFolder(35, 1, 1);
    QDir().mkpath(folder);
    const QString temporary = ZQT_GetRandomFilePath(folder, QStringLiteral("vec"));
    const bool made = CadFileSaveAs(moved.get(), 0, QFile::encodeName(temporary).constData()) &&
                      RunDrawingConverter(temporary, dxf, QStringLiteral("Export..."));
    QFile::remove(temporary);
    return made;
}

// The steps both commands share once the landmarks are known: the fit, the operator's consent,
// then the moved polylines, the re-gridded terrain, the triangulated terrain and its offset.
void TransformAndWrite(const LandmarkRun& run, const Outputs& outputs) {
    if (!products::SpansPlane(run.source) || !products::SpansPlane(run.target)) {
        KvMessageBox(QStringLiteral("Not enough points!"), MB_OK | MB_ICONWARNING);
        return;
    }
    vtkNew<vtkPoints> source, target;
    source->SetDataTypeToDouble();
    target->SetDataTypeToDouble();
    for (size_t i = 0; i < run.source.size(); ++i) {
        source->InsertNextPoint(run.source[i].X(), run.source[i].Y(), run.source[i].Z());
        target->InsertNextPoint(run.target[i].X(), run.target[i].Y(), run.target[i].Z());
    }
    vtkNew<vtkLandmarkTransform> fit;
    fit->SetModeToSimilarity();
    fit->SetSourceLandmarks(source);
    fit->SetTargetLandmarks(target);
    fit->Update();
    if (KvMessageBox(products::LandmarkReport(run.source, run.target, fit), MB_YESNO | MB_ICONQUESTION) !=
        IDYES) {
        return;
    }

    bool written = true;
    if (!run.edits.empty()) {
        written = ExportPolylines(run, fit, outputs.dxf);
    }
    const CDEM& terrain = *run.terrain;
    double extent[4];
    const std::vector<Wml::Point3> points =
        products::TerrainCellPoints(terrain.m_grid, terrain.m_geoTransform, run.offset, fit, extent);
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, {});
    if (!tin) {
        KvMessageBox(QStringLiteral("Unable to export file!"), MB_OK | MB_ICONWARNING);
        return;
    }
    if (!points.empty()) {
        const double p = std::fabs(terrain.m_geoTransform[1]), q = std::fabs(terrain.m_geoTransform[5]);
        double corner[2];
        const cv::Mat grid = products::GridTerrainTin(tin, extent, p, q, corner);
        const double gt[6] = {corner[0] + run.offset[0], p, 0.0, corner[1] + run.offset[1], 0.0, -q};
        written = !grid.empty() &&
                  SaveImageAsGeoTiff(grid, gt, terrain.m_projection, kNoData, outputs.gtif, nullptr) &&
                  written;
    }
    written = products::WriteMeshFiles(tin, run.offset, outputs.vtp, outputs.vtw) && written;
    if (!written) {
        KvMessageBox(QStringLiteral("Unable to export file!"), MB_OK | MB_ICONWARNING);
    }
}

// A copy of a project DEM's grid and placing that the command owns, for the DEM to stay usable
// whatever happens to the layer while the operator picks.
std::unique_ptr<CDEM> DetachedCopy(const CDEM& dem) {
    auto copy = std::make_unique<CDEM>(nullptr);
    copy->m_grid = dem.m_grid;
    std::copy(dem.m_geoTransform, dem.m_geoTransform + 6, copy->m_geoTransform);
    copy->m_projection = dem.m_projection;
    copy->m_path = dem.m_path;
    copy->m_name = dem.m_name;
    return copy;
}

}  // namespace

void CmdLandmarkTransform(CadDrawing* drawing) {
    if (!FindDocByCad(drawing)) {
        return;
    }
    const QString path = kv::GetInteraction().ChooseOpenFile(QStringLiteral("Open"), QString(),
                                                             QStringLiteral("GeoTiff DEM (*.gtif *.tif)"));
    if (path.isEmpty()) {
        return;
    }
    const Outputs outputs(path, "%s_LMT");
    if (outputs.Refused(path)) {
        return;
    }
    LandmarkRun run;
    run.terrain.reset(LoadDemFromGeoTiff(path, true));
    if (!run.terrain) {
        return;
    }
    if (!run.terrain->LoadData()) {
        KvMessageBox(QStringLiteral("Invalid DEM file!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    SetTerrainCentre(run);

    ActiveCommandScope active(drawing, CMD_LANDMARKTRANSFORM);
    CadEntity *source = nullptr, *target = nullptr;
    if (!products::PickSourceAndTarget(
            drawing, [](int sources, int targets) { return targets == sources; }, &source, &target)) {
        return;
    }
    run.edits = PickEditPolylines(drawing);
    for (const Wml::Point3& v : DrawingPolylineVertices(source)) {
        run.source.push_back(Local(run, v.X(), v.Y(), v.Z()));
    }
    for (const Wml::Point3& v : DrawingPolylineVertices(target)) {
        run.target.push_back(Local(run, v.X(), v.Y(), v.Z()));
    }
    TransformAndWrite(run, outputs);
}

void CmdLandmarkTransformGps(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_DEMs.empty()) {
        CadCmdPrompt(drawing, "No DEM loaded", "");
        return;
    }
    ActiveCommandScope active(drawing, CMD_LANDMARKTRANSFORMGPS);
    CDEM* dem = PickDem(drawing, *doc, true);
    if (!dem) {
        return;
    }
    const Outputs outputs(dem->m_path, "%s_LMTGPS");
    if (outputs.Refused(dem->m_path)) {
        return;
    }
    if (!dem->LoadData()) {
        KvMessageBox(QStringLiteral("Invalid DEM file!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    LandmarkRun run;
    run.terrain = DetachedCopy(*dem);
    SetTerrainCentre(run);

    CadEntity* gps = products::PickPolyline(drawing, QStringLiteral("Select GPS polyline"));
    if (!gps) {
        return;
    }
    run.edits = PickEditPolylines(drawing);
    for (const Wml::Point3& v : DrawingPolylineVertices(gps)) {
        const double terrain = run.terrain->GetElevation(v.X(), v.Y());
        if (terrain != kNoData) {
            run.source.push_back(Local(run, v.X(), v.Y(), terrain));
            run.target.push_back(Local(run, v.X(), v.Y(), v.Z()));
        }
    }
    TransformAndWrite(run, outputs);
}
