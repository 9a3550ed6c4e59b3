// Contour lines of a DEM: traced by GDAL's contour generator into a shapefile beside the project,
// optionally simplified, and loaded onto a locked CAD layer with a label per line.
#include "demtools/DemContours.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cpl_string.h>
#include <gdal.h>
#include <gdal_alg.h>
#include <ogr_api.h>
#include <ogr_geometry.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_set>
#include <vector>

#include "controls/AbortSingleProgressDlg.h"
#include "demtools/ContourLinesDlg.h"
#include "demtools/DPHull.h"
#include "demtools/DemEditCommands.h"
#include "demtools/DemHeights.h"
#include "demtools/ShapefileFiles.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/cad/Cad.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

// GDAL's block cache while the lines are traced.
constexpr GIntBig kTraceCacheBytes = GIntBig(64) << 20;

QString BaseOf(const QString& shp) {
    return shp.left(shp.size() - 4);
}

// How the generator finds the levels a cell's square spans: in the list of levels, or directly
// as the levels base + k x step of its equally spaced series.
enum class LevelSearch { List, Series };

// A level as the generator takes it: written with six decimals.
std::string LevelText(double level) {
    char text[512];
    CPLsnprintf(text, sizeof text, "%f", level);
    return text;
}
double GeneratorLevel(double level) {
    return CPLAtof(LevelText(level).c_str());
}

// Whether the levels, as the generator takes them, are the generator's series from the first level
// by the step, each to the bit.
bool LevelsFormSeries(const std::vector<double>& levels, double step) {
    const double interval = GeneratorLevel(step);
    if (levels.empty() || !(interval > 0.0)) {
        return false;
    }
    const double base = GeneratorLevel(levels.front());
    for (size_t k = 0; k < levels.size(); ++k) {
        if (GeneratorLevel(levels[k]) != double(int(k)) * interval + base) {
            return false;
        }
    }
    return true;
}

// Whether the series of the levels (LevelsFormSeries) can stand for their list over heights from
// low to high: the heights reach few levels of the series before the first or after the last,
// whose lines are traced and left out (LevelsOnlyLayer). Every level of the series between a
// square's heights is traced, so a single far height costs a line at each level on the way to it.
// The series finds a square's levels at once, where the list is searched from its start for
// every square.
bool SeriesTracesLevels(const std::vector<double>& levels, double step, double low, double high) {
    if (!(low <= high)) {
        return false;
    }
    const double base = GeneratorLevel(levels.front()), interval = GeneratorLevel(step),
                 last = GeneratorLevel(levels.back());
    const double below = low < base ? std::ceil((base - low) / interval) : 0.0;
    const double above = high > last ? std::ceil((high - last) / interval) : 0.0;
    return below + above <= std::max(2.0, 0.25 * double(levels.size()));
}

// The contour layer as the generator writes to it in series: the lines at the list's levels are
// passed on, numbered in the order they come, the others left out. The generator numbers and
// writes them so with the list.
class LevelsOnlyLayer final : public OGRLayer {
public:
    LevelsOnlyLayer(OGRLayerH target, const std::vector<double>& levels, double step)
        : m_target(OGRLayer::FromHandle(target)),
          m_low(levels.front() - 0.5 * step),
          m_high(levels.back() + 0.5 * step) {
        m_id = m_target->GetLayerDefn()->GetFieldIndex("ID");
        m_elevation = m_target->GetLayerDefn()->GetFieldIndex("Elevation");
    }
    OGRFeatureDefn* GetLayerDefn() override { return m_target->GetLayerDefn(); }
    void ResetReading() override {}
    OGRFeature* GetNextFeature() override { return nullptr; }
    int TestCapability(const char*) override { return FALSE; }

protected:
    OGRErr ICreateFeature(OGRFeature* feature) override {
        const double level = feature->GetFieldAsDouble(m_elevation);
        if (!(level >= m_low && level <= m_high)) {
            return OGRERR_NONE;
        }
        feature->SetField(m_id, m_next++);
        return m_target->CreateFeature(feature);
    }

private:
    OGRLayer* m_target;
    double m_low, m_high;
    int m_id = -1, m_elevation = -1, m_next = 0;
};

// The generator's options: the levels (the list, or the series from the first level by the step),
// no data -9999 and the two fields.
CPLStringList GeneratorOptions(const std::vector<double>& levels, double step, LevelSearch search,
                               OGRLayerH layer) {
    CPLStringList options;
    if (search == LevelSearch::List) {
        std::string list;
        for (double level : levels) {
            list += (list.empty() ? "" : ",") + LevelText(level);
        }
        options.SetNameValue("FIXED_LEVELS", list.c_str());
    } else {
        options.SetNameValue("LEVEL_INTERVAL", LevelText(step).c_str());
        options.SetNameValue("LEVEL_BASE", LevelText(levels.front()).c_str());
    }
    options.SetNameValue("NODATA", CPLSPrintf("%.19g", kNoData));
    OGRFeatureDefnH definition = OGR_L_GetLayerDefn(layer);
    options.SetNameValue("ID_FIELD", CPLSPrintf("%d", OGR_FD_GetFieldIndex(definition, "ID")));
    options.SetNameValue("ELEV_FIELD", CPLSPrintf("%d", OGR_FD_GetFieldIndex(definition, "Elevation")));
    return options;
}

// Traces the levels of the heights into a new shapefile: layer "Contours" of 2.5D lines without a
// spatial reference, fields "ID" and "Elevation", with the number of lines in *lines. False (and
// no file) on any failure or when the progress is aborted.
bool GenerateContours(GDALRasterBandH heights, const std::vector<double>& levels, double step,
                      LevelSearch search, const QString& shp, ProgressSink* progress, GIntBig* lines) {
    *lines = 0;
    OGRSFDriverH driver = OGRGetDriverByName("ESRI Shapefile");
    if (!driver) {
        return false;
    }
    RemoveShapefile(shp);
    OGRDataSourceH ds = OGR_Dr_CreateDataSource(driver, QFile::encodeName(shp).constData(), nullptr);
    if (!ds) {
        return false;
    }
    OGRLayerH layer = OGR_DS_CreateLayer(ds, "Contours", nullptr, wkbLineString25D, nullptr);
    bool ok = layer != nullptr;
    if (ok) {
        OGRFieldDefnH id = OGR_Fld_Create("ID", OFTInteger);
        OGR_Fld_SetWidth(id, 8);
        ok = OGR_L_CreateField(layer, id, FALSE) == OGRERR_NONE;
        OGR_Fld_Destroy(id);
        OGRFieldDefnH elevation = OGR_Fld_Create("Elevation", OFTReal);
        OGR_Fld_SetWidth(elevation, 12);
        OGR_Fld_SetPrecision(elevation, 3);
        ok = ok && OGR_L_CreateField(layer, elevation, FALSE) == OGRERR_NONE;
        OGR_Fld_Destroy(elevation);
    }
    if (ok) {
        CGDALListener listener(progress);
        LevelsOnlyLayer levelsOnly(layer, levels, step);
        ok = GDALContourGenerateEx(
                 heights, search == LevelSearch::Series ? OGRLayer::ToHandle(&levelsOnly) : layer,
                 GeneratorOptions(levels, step, search, layer).List(),
                 progress ? GDALListenerProgress : nullptr, progress ? &listener : nullptr) == CE_None;
        *lines = ok ? OGR_L_GetFeatureCount(layer, TRUE) : 0;
    }
    ok = kv::CloseDataset(static_cast<GDALDatasetH>(ds)) && ok;
    if (!ok) {
        RemoveShapefile(shp);
        // The shapefile writer does not say why a write failed (on a full disk it reports only the
        // header it cannot read back): a file written beside it finds the system's reason.
        if (!(progress && progress->IsAborted())) {
            kv::WriteRefusal(shp);
        }
    }
    return ok;
}

// The point halfway along the line through the vertices, by length in the plane.
cv::Point2d HalfwayAlong(const std::vector<double>& xs, const std::vector<double>& ys) {
    double length = 0.0;
    for (size_t k = 1; k < xs.size(); ++k) {
        length += std::hypot(xs[k] - xs[k - 1], ys[k] - ys[k - 1]);
    }
    double left = 0.5 * length;
    for (size_t k = 1; k < xs.size(); ++k) {
        const double side = std::hypot(xs[k] - xs[k - 1], ys[k] - ys[k - 1]);
        if (left <= side && side > 0.0) {
            const double t = left / side;
            return {xs[k - 1] + t * (xs[k] - xs[k - 1]), ys[k - 1] + t * (ys[k] - ys[k - 1])};
        }
        left -= side;
    }
    return {xs.back(), ys.back()};
}

// The contour layer of the DEM: found (and taken back when it was deleted) or added.
CadLayer* ContourLayer(CadDrawing* drawing, const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    CadLayer* layer = CadGetLayerByName(drawing, utf8.constData());
    if (layer) {
        CadLayerPutDeleted(layer, 0);
        return layer;
    }
    return CadAddLayer(drawing, utf8.constData(), CAD_COLOR_FOREGROUND, CAD_LTYPE_CONTINUOUS,
                       CAD_LWEIGHT_DEFAULT);
}

// The polylines and texts on the layer: the contour lines and their labels.
std::vector<CadEntity*> ContourEntities(CadLayer* layer) {
    std::vector<CadEntity*> entities;
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
        const int type = CadEntityGetType(e);
        if (type == CAD_ENT_POLYLINE || type == CAD_ENT_TEXT) {
            entities.push_back(e);
        }
    }
    return entities;
}

// Erases the entities; purges the drawing when any was erased.
void EraseEntities(CadDrawing* drawing, const std::vector<CadEntity*>& entities) {
    for (CadEntity* e : entities) {
        CadEntityErase(e, 1);
    }
    if (!entities.empty()) {
        CadPurge(drawing, CAD_PURGE_ALL);
    }
}

// Reads every cell of the band once, handing them to visit as Float32 images (the band's blocks,
// or strips of whole rows where its blocks are too large to hold one at a time) until it answers
// false. Blocks are read with GDALReadBlock, which keeps them out of the band's block cache. False
// when a read fails.
template <typename Visit>
bool VisitCells(GDALRasterBandH band, const Visit& visit) {
    const int width = GDALGetRasterBandXSize(band), height = GDALGetRasterBandYSize(band);
    int blockWidth = 0, blockHeight = 0;
    GDALGetBlockSize(band, &blockWidth, &blockHeight);
    constexpr int64_t kCells = int64_t(1) << 22;
    if (GDALGetRasterDataType(band) == GDT_Float32 && blockWidth > 0 && blockHeight > 0 &&
        int64_t(blockWidth) * blockHeight <= kCells) {
        cv::Mat block(blockHeight, blockWidth, CV_32FC1);
        for (int y = 0; y * blockHeight < height; ++y) {
            for (int x = 0; x * blockWidth < width; ++x) {
                if (GDALReadBlock(band, x, y, block.data) != CE_None) {
                    return false;
                }
                const cv::Rect valid(0, 0, std::min(blockWidth, width - x * blockWidth),
                                     std::min(blockHeight, height - y * blockHeight));
                if (!visit(block(valid))) {
                    return true;
                }
            }
        }
        return true;
    }
    const int rows = int(std::clamp<int64_t>(kCells / std::max(1, width), 1, std::max(1, height)));
    cv::Mat strip(rows, width, CV_32FC1);
    for (int y = 0; y < height; y += rows) {
        cv::Mat part = strip.rowRange(0, std::min(rows, height - y));
        if (GDALRasterIO(band, GF_Read, 0, y, width, part.rows, part.data, width, part.rows, GDT_Float32, 0,
                         static_cast<GSpacing>(part.step)) != CE_None) {
            return false;
        }
        if (!visit(part)) {
            break;
        }
    }
    return true;
}

// Whether the band holds a height anywhere: a cell that is neither -9999 nor NaN.
bool BandHasHeights(GDALRasterBandH band) {
    bool found = false;
    const bool read = VisitCells(band, [&found](const cv::Mat& cells) {
        found = std::any_of(cells.begin<float>(), cells.end<float>(), [](float v) { return !IsNoData(v); });
        return !found;
    });
    return found || !read;  // unreadable cells are not known to be empty
}

// The exact range of the heights that the generator reads from band (DemHeights of the DEM), no
// data left out, in one pass: over the grid while it is in memory, else over the band. *low is
// above *high when there is no height. False when the band cannot be read.
bool HeightRangeOf(CDEM& dem, GDALRasterBandH band, float* low, float* high) {
    *low = std::numeric_limits<float>::infinity();
    *high = -std::numeric_limits<float>::infinity();
    if (!dem.m_grid.empty()) {
        ExtendHeightRange(dem.m_grid, low, high);
        return true;
    }
    return VisitCells(band, [low, high](const cv::Mat& cells) {
        ExtendHeightRange(cells, low, high);
        return true;
    });
}

// How the generator is to find the levels of the DEM's heights (band: what it reads). The series
// is weighed on the exact range of the heights, not on the DEM's range from its preview, which
// can miss a few far cells (spikes, voids stored as heights). False when the pass over the
// heights found none.
bool ChooseLevelSearch(CDEM& dem, GDALRasterBandH band, const std::vector<double>& levels, double step,
                       LevelSearch* search) {
    *search = LevelSearch::List;
    if (!LevelsFormSeries(levels, step)) {
        return true;
    }
    float low = 0.0f, high = 0.0f;
    if (!HeightRangeOf(dem, band, &low, &high)) {
        return true;  // the generator meets the unreadable cells itself
    }
    if (!(low <= high)) {
        return false;
    }
    if (SeriesTracesLevels(levels, step, low, high)) {
        *search = LevelSearch::Series;
    }
    return true;
}

}  // namespace

bool DemHasHeights(CDEM& dem) {
    DemHeights heights(dem);
    return heights.Band() && BandHasHeights(heights.Band());
}

bool ContoursTracedAsSeries(CDEM& dem, const std::vector<double>& levels, double step) {
    DemHeights heights(dem);
    const kv::BlockCacheCap cap(kTraceCacheBytes);
    LevelSearch search = LevelSearch::List;
    return heights.Band() && ChooseLevelSearch(dem, heights.Band(), levels, step, &search) &&
           search == LevelSearch::Series;
}

int TraceContours(CDEM& dem, const std::vector<double>& levels, double step, double tolerance,
                  const QString& shp, ProgressSink* progress) {
    // The generator sees heights with no data -9999, read from the grid while it is in memory.
    DemHeights heights(dem);
    if (levels.empty() || !heights.Band()) {
        return 0;
    }
    // New files are written under temporary names of the program's own beside the old ones (what a
    // killed run left goes first) and replace them only once complete; the lines traced before
    // they are simplified go to another such name, removed when the run ends.
    kv::RemoveStaleTemporaries(shp);
    const QString finished = kv::TemporaryPathFor(shp) + QStringLiteral(".shp");
    const QString traced = tolerance > 0.0 ? kv::TemporaryPathFor(shp) + QStringLiteral(".shp") : finished;
    struct Scratch {
        QString shp;
        ~Scratch() { RemoveShapefile(shp); }
    } scratch{traced};
    GIntBig lines = 0;
    {
        // The generator reads the heights row by row: the block cache needs to hold a few rows of
        // blocks, not the whole DEM.
        const kv::BlockCacheCap cap(kTraceCacheBytes);
        LevelSearch search = LevelSearch::List;
        if (!ChooseLevelSearch(dem, heights.Band(), levels, step, &search)) {
            return 0;  // no height: no contours to give, nothing replaces the old files
        }
        bool done = false;
        if (search == LevelSearch::Series) {
            done =
                GenerateContours(heights.Band(), levels, step, LevelSearch::Series, traced, progress, &lines);
            if (progress && progress->IsAborted()) {
                return 0;
            }
        }
        // A series the generator refused (too many levels in one cell's square): the list.
        if (!done &&
            !GenerateContours(heights.Band(), levels, step, LevelSearch::List, traced, progress, &lines)) {
            return 0;
        }
    }
    // Heights without a single value have no contours to give: nothing replaces the old files.
    if (lines == 0 && !BandHasHeights(heights.Band())) {
        return 0;
    }
    if (tolerance > 0.0 && !SimplifyContourShapefile(traced, finished, tolerance)) {
        RemoveShapefile(finished);
        return 0;
    }
    if (!PlaceShapefile(finished, shp)) {
        return 0;
    }
    return 1;
}

QString ContourShapefilePath(const CDEM& dem) {
    if (!dem.m_pDoc || dem.m_pDoc->GetPathName().isEmpty()) {
        return QString();
    }
    return QDir(QFileInfo(dem.m_pDoc->GetPathName()).absolutePath())
        .filePath(dem.m_name + QStringLiteral("_Contours.shp"));
}

int CDEM::BuildContours(double minimum, double maximum, double step, ProgressSink* progress, double tolerance,
                        int showLabels) {
    if (!m_pDoc || !m_imageEntity || !(minimum < maximum)) {
        return 0;
    }
    const std::vector<double> levels = ContourLevels(minimum, maximum, step);
    const QString shp = ContourShapefilePath(*this);
    if (levels.empty() || shp.isEmpty()) {
        return 0;
    }
    CadDrawing* drawing = m_pDoc->m_pCad;
    const QString layerName = m_name + QStringLiteral("_Contours");
    CadLayer* before = CadGetLayerByName(drawing, layerName.toUtf8().constData());
    const bool hadLayer = before && !CadLayerGetDeleted(before);
    CadLayer* layer = ContourLayer(drawing, layerName);
    if (!layer) {
        return 0;
    }
    CadLayerPutLock(layer, 1);
    if (!TraceContours(*this, levels, step, tolerance, shp, progress)) {
        // A run that traced nothing leaves no layer of its own behind.
        if (!hadLayer) {
            CadLayerPutDeleted(layer, 1);
        }
        return 0;
    }

    // The old lines and labels go only once the new ones are in the drawing.
    const std::vector<CadEntity*> old = ContourEntities(layer);
    if (!LoadContoursToCad(shp, layer, showLabels)) {
        const std::unordered_set<CadEntity*> kept(old.begin(), old.end());
        std::vector<CadEntity*> added;
        for (CadEntity* e : ContourEntities(layer)) {
            if (!kept.count(e)) {
                added.push_back(e);
            }
        }
        EraseEntities(drawing, added);
        return 0;
    }
    EraseEntities(drawing, old);
    CadRegen(drawing);
    return 1;
}

int CDEM::LoadContoursToCad(const QString& path, CadLayer* layer, int showLabels) {
    if (!m_pDoc || !layer || !OGRGetDriverByName("ESRI Shapefile") || !QFileInfo::exists(path)) {
        return 0;
    }
    OGRDataSourceH ds = OGROpen(QFile::encodeName(path).constData(), FALSE, nullptr);
    if (!ds) {
        return 0;
    }
    CadDrawing* drawing = m_pDoc->m_pCad;
    CadLayerPutVisible(layer, 1);
    CadLayerPutLock(layer, 1);
    const int layerId = CadLayerGetID(layer);
    std::vector<double> xs, ys;
    OGRLayerH lines = OGR_DS_GetLayer(ds, 0);
    bool ok = lines != nullptr;
    if (ok) {
        OGR_L_ResetReading(lines);
    }
    while (ok) {
        OGRFeatureH feature = OGR_L_GetNextFeature(lines);
        if (!feature) {
            break;
        }
        OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
        const int points = geometry && wkbFlatten(OGR_G_GetGeometryType(geometry)) == wkbLineString
                               ? OGR_G_GetPointCount(geometry)
                               : 0;
        if (points > 0) {
            xs.resize(size_t(points));
            ys.resize(size_t(points));
            OGR_G_GetPoints(geometry, xs.data(), sizeof(double), ys.data(), sizeof(double), nullptr, 0);
            const double elevation = OGR_G_GetZ(geometry, 0);
            CadClearVertices();
            size_t lowest = 0;
            for (size_t k = 0; k < xs.size(); ++k) {
                CadAddVertex(xs[k], ys[k], elevation);
                if (ys[k] < ys[lowest]) {
                    lowest = k;
                }
            }
            const bool closed = OGRGeometry::FromHandle(geometry)->toLineString()->get_IsClosed();
            CadEntity* polyline = CadAddPolyline(drawing, 5, closed ? 1 : 0);
            if (polyline) {
                CadEntityPutLayerID(polyline, layerId);
                // Placed from the vertices: the smooth curve the line is drawn as is left to be
                // computed when it is first drawn.
                const cv::Point2d at = closed ? cv::Point2d(xs[lowest], ys[lowest]) : HalfwayAlong(xs, ys);
                CadEntity* label =
                    CadAddText(drawing, QString::asprintf("%.1lf", elevation).toUtf8().constData(), at.x,
                               at.y, elevation);
                ok = label != nullptr;
                if (label) {
                    CadTextPutAlign(label, closed ? CAD_TA_CENTER_BOTTOM : CAD_TA_CENTER_MIDDLE);
                    if (!showLabels) {
                        CadEntityPutVisible(label, 0);
                    }
                    CadTextPutHeight(label, 3.0);
                    CadEntityPutLayerID(label, layerId);
                }
            }
        }
        OGR_F_Destroy(feature);
    }
    GDALClose(static_cast<GDALDatasetH>(ds));
    return ok ? 1 : 0;
}

void CmdContours(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->GetPathName().isEmpty()) {
        KvMessageBox(QStringLiteral("Project must be saved before proceed"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (doc->m_DEMs.empty()) {
        SetDocCommandPrompt(drawing, QString());
        CadCmdPrompt(drawing, "No DEM loaded", "");
        return;
    }
    ActiveCommandScope scope(drawing, CMD_CONTOURS);
    CDEM* dem = PickDem(drawing, *doc, true);
    if (!dem) {
        return;
    }
    // The files the lines go to (and the projection file they replace), never the DEM or another
    // layer's file, whatever their names.
    const QString base = BaseOf(ContourShapefilePath(*dem));
    if (RefuseOutputOverInputs({base + ".shp", base + ".shx", base + ".dbf", base + ".prj"}, {dem->m_path})) {
        return;
    }
    CAbortSingleProgressDlg progress(kv::DialogParent());
    progress.Create();
    CContourLinesDlg dialog(dem, kv::DialogParent());
    if (dialog.DoModal() != IDOK) {
        return;
    }
    // Levels from a minimum that is not below the maximum are none: nothing to do, nothing to say.
    if (!(dialog.m_dMinElevation < dialog.m_dMaxElevation)) {
        return;
    }
    const double tolerance = dialog.m_bSimplification ? dialog.m_dTolerance : 0.0;
    progress.SetCaption(QStringLiteral("Generating contours line"));
    progress.SetRange(0, 100);
    progress.SetPos(0);
    progress.show();
    ZQT_PumpMessages();
    const kv::FailureCauseScope causes;
    const int built = dem->BuildContours(dialog.m_dMinElevation, dialog.m_dMaxElevation, dialog.m_dStep,
                                         &progress, tolerance, dialog.m_bHideText ? 0 : 1);
    progress.hide();
    // An aborted run leaves everything as it was; the operator who stopped it needs no word.
    if (built || progress.IsAborted()) {
        return;
    }
    if (!DemHasHeights(*dem)) {
        KvMessageBox(QStringLiteral("The DEM holds no elevation: no contour lines were generated"),
                     MB_OK | MB_ICONINFORMATION);
        return;
    }
    const QString cause = kv::FailureCause();
    KvMessageBox(QStringLiteral("Unable to generate contours"), MB_OK | MB_ICONEXCLAMATION);
    PromptFailure(drawing, QStringLiteral("Unable to generate contours"), cause);
}
