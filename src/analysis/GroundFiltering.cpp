#include "analysis/GroundFiltering.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <set>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/geometry/Pgon.h"
#include "platform/gridding/GridGaps.h"
#include "platform/gridding/MCCGroundFilter.h"
#include "platform/las/Las.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kPhases = 8;
constexpr int kReadBlock = 128;
constexpr int kTileSize = 4096;
constexpr int kTileStep = 3072;
constexpr int kTileMargin = 512;
// Cells of the cache through which the ground points are gridded.
constexpr int64_t kCacheCells = int64_t(2048) * 2048;
constexpr uint8_t kGroundClass = 2;
constexpr float kInternalNoData = -9999.0f;
const char* const kSoftware = "Palvex - Drovane Software";
const char* const kWorkFolder = "GroundFiltering";
const char* const kTiffOptions[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_NEEDED",
                                    nullptr};

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
}

// Which cell values are data: finite values other than the no-data value. A NaN or infinite
// no-data value is taken as -9999 inside the run, so that neither the gap filler nor the
// smoothing meets NaN; NaN and infinite cells are never data.
class CellRule {
public:
    CellRule(int hasNoData, double noData)
        : m_noData(hasNoData && std::isfinite(noData) ? float(noData) : kInternalNoData) {}
    // The no-data value of the run's grids and of the output.
    float NoData() const { return m_noData; }
    bool IsValid(float v) const { return std::isfinite(v) && v != m_noData; }

private:
    float m_noData;
};

bool ReadWindow(GDALRasterBandH band, const cv::Rect& window, cv::Mat& grid) {
    grid.create(window.height, window.width, CV_32F);
    return GDALRasterIO(band, GF_Read, window.x, window.y, window.width, window.height, grid.data,
                        window.width, window.height, GDT_Float32, 0, int(grid.step)) == CE_None;
}

bool WriteWindow(GDALRasterBandH band, const cv::Rect& window, const cv::Mat& grid) {
    return GDALRasterIO(band, GF_Write, window.x, window.y, window.width, window.height,
                        const_cast<uchar*>(grid.data), window.width, window.height, GDT_Float32, 0,
                        int(grid.step)) == CE_None;
}

// Scale factor of the LAS coordinates: a power of ten at most a hundredth of the cell, so that
// every point falls back into its own cell whatever the units (a DEM in degrees has tiny cells).
double CoordinateScale(double cell) {
    const double wanted = std::fabs(cell) / 100.0;
    if (!(wanted > 0.0) || !std::isfinite(wanted)) {
        return 0.01;
    }
    return std::pow(10.0, std::floor(std::log10(wanted)));
}

bool FitsInt32(double v) {
    return v >= double(std::numeric_limits<int32_t>::min()) &&
           v <= double(std::numeric_limits<int32_t>::max());
}

// The cache through which ground points reach the output: a strip of whole rows, as many as
// kCacheCells allows (at least one block row). A strip is read when first touched again, filled
// with no data when touched for the first time, and written back when a point falls into
// another strip and at the end; strips no point touched are written as no data at the end.
class StripCache {
public:
    StripCache(GDALRasterBandH band, int width, int height, float noData)
        : m_band(band), m_width(width), m_height(height), m_noData(noData) {
        const int64_t rows =
            std::max<int64_t>(kReadBlock, kCacheCells / std::max(width, 1) / kReadBlock * kReadBlock);
        m_rows = int(std::min<int64_t>(rows, height));
    }
    bool Set(int column, int row, float z) {
        const int strip = row / m_rows;
        if (strip != m_strip && !Load(strip)) {
            return false;
        }
        m_cells.at<float>(row - m_strip * m_rows, column) = z;
        m_dirty = true;
        return true;
    }
    // Writes the strip in hand and fills every strip never touched with no data.
    bool Finish() {
        if (!Flush()) {
            return false;
        }
        const int strips = (m_height + m_rows - 1) / m_rows;
        for (int s = 0; s < strips; ++s) {
            if (!m_touched.count(s)) {
                const cv::Rect window = Window(s);
                cv::Mat empty(window.height, window.width, CV_32F, cv::Scalar(m_noData));
                if (!WriteWindow(m_band, window, empty)) {
                    return false;
                }
            }
        }
        return true;
    }

private:
    cv::Rect Window(int strip) const {
        const int top = strip * m_rows;
        return cv::Rect(0, top, m_width, std::min(m_rows, m_height - top));
    }
    bool Flush() {
        if (m_strip < 0 || !m_dirty) {
            return true;
        }
        m_dirty = false;
        return WriteWindow(m_band, Window(m_strip), m_cells);
    }
    bool Load(int strip) {
        if (!Flush()) {
            return false;
        }
        m_strip = strip;
        const cv::Rect window = Window(strip);
        if (m_touched.insert(strip).second) {
            m_cells.create(window.height, window.width, CV_32F);
            m_cells.setTo(cv::Scalar(m_noData));
            return true;
        }
        return ReadWindow(m_band, window, m_cells);
    }

    GDALRasterBandH m_band;
    int m_width, m_height, m_rows = kReadBlock;
    float m_noData;
    int m_strip = -1;
    bool m_dirty = false;
    cv::Mat m_cells;
    std::set<int> m_touched;
};

// The phase bar as the filter and GDAL see it: what they report reaches the bar, and the run's
// abort (the flag or either bar) reaches them.
class PhaseSink : public ProgressSink {
public:
    PhaseSink(ProgressSink* overall, ProgressSink* phase, int* abortFlag)
        : m_overall(overall), m_phase(phase), m_abort(abortFlag) {}
    void SetRange(int lower, int upper) override {
        if (m_phase) {
            m_phase->SetRange(lower, upper);
        }
    }
    void SetPos(int pos) override {
        if (m_phase) {
            m_phase->SetPos(pos);
        }
    }
    void SetBarText(const QString& text) override {
        if (m_phase) {
            m_phase->SetBarText(text);
        }
    }
    void SetStartTime() override {
        if (m_phase) {
            m_phase->SetStartTime();
        }
    }
    bool IsAborted() const override {
        return (m_abort && *m_abort) || (m_overall && m_overall->IsAborted()) ||
               (m_phase && m_phase->IsAborted());
    }

private:
    ProgressSink* m_overall;
    ProgressSink* m_phase;
    int* m_abort;
};

// One run of the worker: its files, its progress and its way out.
class Run {
public:
    Run(ProgressSink* overall, ProgressSink* phase, int* abortFlag, QString* error)
        : m_overall(overall), m_phase(overall, phase, abortFlag), m_abort(abortFlag), m_error(error) {}
    ~Run() {
        Close(m_work);
        Close(m_output);
        kv::RemoveRasterFile(m_workPath);
        QFile::remove(m_cloudPath);
        QFile::remove(m_groundPath);
        if (!m_outputTemp.isEmpty()) {
            kv::RemoveRasterFile(m_outputTemp);
        }
    }
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    int Execute(const CDEM& dem, const QString& output, const GroundFilterSettings& settings,
                const std::vector<Wml::Point3>& area);

private:
    bool Aborted() const { return m_phase.IsAborted(); }
    // Records the reason of a failure, with its cause when one was given during the phase: what
    // the system said of a write (a full disk, a read-only one) or what GDAL said.
    int Fail(const QString& text) {
        if (m_error) {
            const QString cause = kv::FailureCause();
            *m_error = cause.isEmpty() || text.contains(cause) ? text : text + QStringLiteral(": ") + cause;
        }
        return GroundFilterFailed;
    }
    // Ends a phase (1 to 8) on the overall bar and starts the next one on the phase bar.
    void EndPhase(int done) {
        if (m_overall) {
            m_overall->SetPos(done);
        }
        m_phase.SetPos(0);
        m_phase.SetStartTime();
        ZQT_PumpMessages();
    }
    void PhaseRange(int upper) {
        m_phase.SetRange(0, upper);
        m_phase.SetPos(0);
    }
    void PhasePos(int pos) { m_phase.SetPos(pos); }
    static void Close(GDALDatasetH& ds) {
        if (ds) {
            GDALClose(ds);
            ds = nullptr;
        }
    }

    int MakeWorkRaster(const CDEM& dem, double gsd);
    int WritePoints(const CDEM& dem);
    int CompleteCloud();
    int FilterCloud(const GroundFilterSettings& settings);
    int GridGroundPoints(const CDEM& dem);
    int BuildOutputOverviews();
    int FillAndSmooth();
    int CheckArea(const std::vector<Wml::Point3>& area);
    int RestrictToArea();

    ProgressSink* m_overall;
    PhaseSink m_phase;
    int* m_abort;
    QString* m_error;

    QString m_workPath, m_cloudPath, m_groundPath, m_outputTemp;
    GDALDatasetH m_work = nullptr;
    GDALDatasetH m_output = nullptr;
    double m_gt[6] = {0, 1, 0, 0, 0, -1};
    int m_width = 0, m_height = 0;
    CellRule m_cells{0, kInternalNoData};
    std::unique_ptr<LASwriterLAS> m_writer;
    // The area's part of the work raster, in cells; no contours without an area.
    CPgon m_inside;
};

int Run::MakeWorkRaster(const CDEM& dem, double gsd) {
    const double pixel = dem.m_geoTransform[1];
    if (gsd > pixel) {
        CGDALListener listener(&m_phase);
        PhaseRange(100);
        if (!ResampleRasterGDAL(dem.m_path, m_workPath, pixel / gsd, const_cast<char**>(kTiffOptions),
                                &listener)) {
            return Aborted() ? GroundFilterAborted : Fail("The DEM could not be resampled");
        }
    } else {
        QString space;
        if (!kv::RasterFitsOnDisk(m_workPath, dem.Width(), dem.Height(), 1, GDT_Float32, &space)) {
            return Fail(space);
        }
        GDALDatasetH source = GDALOpen(NativePath(dem.m_path).constData(), GA_ReadOnly);
        if (!source) {
            return Fail("The DEM cannot be opened");
        }
        CGDALListener listener(&m_phase);
        PhaseRange(100);
        GDALDatasetH copy =
            GDALCreateCopy(GDALGetDriverByName("GTiff"), NativePath(m_workPath).constData(), source, FALSE,
                           const_cast<char**>(kTiffOptions), GDALListenerProgress, &listener);
        GDALClose(source);
        if (!copy || !kv::CloseDataset(copy)) {
            return Aborted() ? GroundFilterAborted : Fail("The DEM could not be copied");
        }
    }
    m_work = GDALOpen(NativePath(m_workPath).constData(), GA_ReadOnly);
    if (!m_work || GDALGetRasterCount(m_work) < 1 || GDALGetGeoTransform(m_work, m_gt) != CE_None) {
        return Fail("The work raster cannot be read");
    }
    m_width = GDALGetRasterXSize(m_work);
    m_height = GDALGetRasterYSize(m_work);
    int hasNoData = 0;
    const double noData = GDALGetRasterNoDataValue(GDALGetRasterBand(m_work, 1), &hasNoData);
    m_cells = CellRule(hasNoData, noData);
    return GroundFilterDone;
}

int Run::WritePoints(const CDEM& dem) {
    LASheader header;
    header.versionMajor = 1;
    header.versionMinor = 2;
    header.pointDataFormat = 0;
    header.systemIdentifier = kSoftware;
    header.generatingSoftware = kSoftware;
    header.xScaleFactor = CoordinateScale(m_gt[1]);
    header.yScaleFactor = CoordinateScale(m_gt[5]);
    header.zScaleFactor = 0.001;
    // The raster's extent until the writer puts the points' own bounds in on closing; the offsets at
    // its lower-left corner keep the coordinates of every cell corner small and positive.
    header.minX = m_gt[0];
    header.maxX = m_gt[0] + m_width * m_gt[1];
    header.maxY = m_gt[3];
    header.minY = m_gt[3] + m_height * m_gt[5];
    header.xOffset = std::min(header.minX, header.maxX);
    header.yOffset = std::min(header.minY, header.maxY);
    header.zOffset = 0.0;
    const QByteArray projection = dem.m_projection.toUtf8();
    if (!projection.isEmpty() && projection.size() <= std::numeric_limits<uint16_t>::max()) {
        header.AddVlr("LASF_Projection", 2112, std::vector<uint8_t>(projection.begin(), projection.end()));
    }
    LASwriteOpener opener;
    opener.SetFileName(m_cloudPath);
    QString error;
    m_writer = opener.Open(header, &error);
    if (!m_writer) {
        return Fail(error);
    }

    GDALRasterBandH band = GDALGetRasterBand(m_work, 1);
    const int blocksX = (m_width + kReadBlock - 1) / kReadBlock;
    const int blocksY = (m_height + kReadBlock - 1) / kReadBlock;
    PhaseRange(blocksX * blocksY);
    cv::Mat block;
    LASpoint point;
    int done = 0;
    for (int by = 0; by < blocksY; ++by) {
        for (int bx = 0; bx < blocksX; ++bx) {
            if (Aborted()) {
                return GroundFilterAborted;
            }
            const cv::Rect window(bx * kReadBlock, by * kReadBlock,
                                  std::min(kReadBlock, m_width - bx * kReadBlock),
                                  std::min(kReadBlock, m_height - by * kReadBlock));
            if (!ReadWindow(band, window, block)) {
                return Fail("The work raster cannot be read");
            }
            for (int r = 0; r < window.height; ++r) {
                const float* row = block.ptr<float>(r);
                const int rr = window.y + r;
                for (int c = 0; c < window.width; ++c) {
                    if (!m_cells.IsValid(row[c])) {
                        continue;
                    }
                    const int cc = window.x + c;
                    // The cell's corner, as the gridding of the ground points finds the cell again.
                    const double x = m_gt[0] + cc * m_gt[1];
                    const double y = m_gt[3] + rr * m_gt[5];
                    const double X = std::rint((x - header.xOffset) / header.xScaleFactor);
                    const double Y = std::rint((y - header.yOffset) / header.yScaleFactor);
                    const double Z = std::rint((row[c] - header.zOffset) / header.zScaleFactor);
                    if (!FitsInt32(X) || !FitsInt32(Y) || !FitsInt32(Z)) {
                        return Fail("A cell lies beyond what a LAS file can hold");
                    }
                    point.X = int32_t(X);
                    point.Y = int32_t(Y);
                    point.Z = int32_t(Z);
                    if (!m_writer->WritePoint(point)) {
                        return Fail(m_writer->Error());
                    }
                }
            }
            PhasePos(++done);
            ZQT_PumpMessages();
        }
    }
    if (m_writer->PointsWritten() == 0) {
        return Fail("The DEM holds no valid cell");
    }
    return GroundFilterDone;
}

int Run::CompleteCloud() {
    const bool closed = m_writer->Close();
    const QString error = m_writer->Error();
    m_writer.reset();
    return closed ? GroundFilterDone : Fail(error);
}

int Run::FilterCloud(const GroundFilterSettings& settings) {
    PhaseRange(100);
    CMCCGroundFilter filter;
    QString status;
    if (!filter.Process(std::fabs(m_gt[1]) * settings.factor, settings.curvatureThreshold, m_cloudPath,
                        m_groundPath, &m_phase, &status, m_abort)) {
        return Aborted() ? GroundFilterAborted : Fail(status);
    }
    return GroundFilterDone;
}

int Run::BuildOutputOverviews() {
    CGDALListener listener(&m_phase);
    PhaseRange(100);
    if (!kv::BuildOverviews(m_output, &listener)) {
        return Aborted() ? GroundFilterAborted : Fail("The overviews cannot be built");
    }
    return GroundFilterDone;
}

int Run::GridGroundPoints(const CDEM& dem) {
    QString space;
    if (!kv::RasterFitsOnDisk(m_outputTemp, m_width, m_height, 1, GDT_Float32, &space)) {
        return Fail(space);
    }
    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    m_output = GDALCreate(gtiff, NativePath(m_outputTemp).constData(), m_width, m_height, 1, GDT_Float32,
                          const_cast<char**>(kTiffOptions));
    if (!m_output) {
        return Fail("The output cannot be created");
    }
    GDALSetGeoTransform(m_output, m_gt);
    if (!dem.m_projection.isEmpty()) {
        GDALSetProjection(m_output, dem.m_projection.toUtf8().constData());
    }
    GDALRasterBandH band = GDALGetRasterBand(m_output, 1);
    GDALSetRasterNoDataValue(band, m_cells.NoData());
    QString error;
    const int result = ::GridGroundPoints(m_groundPath, band, m_gt, m_cells.NoData(), &m_phase, &error);
    return result == GroundFilterFailed ? Fail(error) : result;
}

int Run::FillAndSmooth() {
    const std::vector<GroundFilterTile> columns = GroundFilterTiles(m_width);
    const std::vector<GroundFilterTile> rows = GroundFilterTiles(m_height);
    PhaseRange(int(columns.size() * rows.size()));
    GDALRasterBandH outBand = GDALGetRasterBand(m_output, 1);
    GDALRasterBandH workBand = GDALGetRasterBand(m_work, 1);
    const float noData = m_cells.NoData();
    CGridGaps gaps;
    int done = 0;
    for (const GroundFilterTile& ty : rows) {
        for (const GroundFilterTile& tx : columns) {
            if (Aborted()) {
                return GroundFilterAborted;
            }
            const cv::Rect tile(tx.start, ty.start, tx.size, ty.size);
            cv::Mat ground, surface;
            if (!ReadWindow(outBand, tile, ground) || !ReadWindow(workBand, tile, surface)) {
                return Fail("A tile cannot be read");
            }
            // The mask: where the input surface has data.
            cv::Mat mask(tile.size(), CV_8U, cv::Scalar(255));
            for (int r = 0; r < tile.height; ++r) {
                const float* s = surface.ptr<float>(r);
                uchar* m = mask.ptr<uchar>(r);
                for (int c = 0; c < tile.width; ++c) {
                    if (!m_cells.IsValid(s[c])) {
                        m[c] = 0;
                    }
                }
                if (r % 10 == 0) {
                    ZQT_PumpMessages();
                }
            }
            cv::Mat filled = gaps.Process(ground, mask, noData, 0.1);
            if (!filled.empty()) {
                ground = filled;
            }
            cv::Mat smooth;
            cv::bilateralFilter(ground, smooth, 11, 10.0, 20.0, cv::BORDER_REPLICATE);
            // No data where the input had none, and where no ground was found to fill from: the
            // smoothing must not turn a no-data cell into a value next to it.
            smooth.setTo(cv::Scalar(noData), (mask == 0) | (ground == noData));
            const cv::Rect keep(tx.writeBegin - tx.start, ty.writeBegin - ty.start,
                                tx.writeEnd - tx.writeBegin, ty.writeEnd - ty.writeBegin);
            const cv::Rect target(tx.writeBegin, ty.writeBegin, keep.width, keep.height);
            if (!WriteWindow(outBand, target, smooth(keep))) {
                return Fail("A tile cannot be written");
            }
            PhasePos(++done);
        }
    }
    return GroundFilterDone;
}

int Run::CheckArea(const std::vector<Wml::Point3>& area) {
    if (area.size() <= 2) {
        return GroundFilterDone;
    }
    m_inside = AreaCells(area, m_gt, m_width, m_height);
    if (m_inside.GetArea() <= 0.0) {
        KvMessageBox(QStringLiteral("Selected area is out of selected DEM"), MB_OK | MB_ICONSTOP);
        return GroundFilterAreaOutside;
    }
    return GroundFilterDone;
}

int Run::RestrictToArea() {
    if (m_inside.GetNumContours() == 0) {
        return GroundFilterDone;
    }
    const CPgon& inside = m_inside;
    cv::Mat mask(m_height, m_width, CV_8U, cv::Scalar(0));
    for (int holes = 0; holes < 2; ++holes) {
        std::vector<std::vector<cv::Point>> contours;
        for (int i = 0; i < inside.GetNumContours(); ++i) {
            if (bool(inside.IsHole(i)) != bool(holes)) {
                continue;
            }
            std::vector<cv::Point> contour;
            for (const Wml::Point2& p : inside.GetContour(i)) {
                contour.emplace_back(int(std::lround(p.X())), int(std::lround(p.Y())));
            }
            contours.push_back(std::move(contour));
        }
        if (!contours.empty()) {
            cv::fillPoly(mask, contours, cv::Scalar(holes ? 0 : 255));
        }
    }

    const cv::Rect whole(0, 0, m_width, m_height);
    cv::Mat filtered, surface;
    if (!ReadWindow(GDALGetRasterBand(m_output, 1), whole, filtered) ||
        !ReadWindow(GDALGetRasterBand(m_work, 1), whole, surface)) {
        return Fail("The rasters cannot be read");
    }
    filtered.copyTo(surface, mask);
    // The result's no data is -9999, whatever the input's was.
    for (int r = 0; r < surface.rows; ++r) {
        float* row = surface.ptr<float>(r);
        for (int c = 0; c < surface.cols; ++c) {
            if (!m_cells.IsValid(row[c])) {
                row[c] = kInternalNoData;
            }
        }
    }
    GDALRasterBandH band = GDALGetRasterBand(m_output, 1);
    if (GDALSetRasterNoDataValue(band, kInternalNoData) != CE_None || !WriteWindow(band, whole, surface)) {
        KvMessageBox(QStringLiteral("Unable to save DEM"), MB_OK | MB_ICONSTOP);
        return Fail("Unable to save DEM");
    }
    return GroundFilterDone;
}

int Run::Execute(const CDEM& dem, const QString& output, const GroundFilterSettings& settings,
                 const std::vector<Wml::Point3>& area) {
    if (m_overall) {
        m_overall->SetRange(0, kPhases);
        m_overall->SetPos(0);
    }
    m_phase.SetStartTime();
    // 1. Preparation.
    if (!GDALGetDriverByName("GTiff")) {
        return Fail("GDAL has no GeoTIFF driver");
    }
    if (output.isEmpty() || !(settings.gsd > 0.0) || !std::isfinite(settings.gsd) || dem.m_path.isEmpty()) {
        return Fail("Invalid ground filtering parameters");
    }
    const QString folder = GroundFilteringWorkFolder();
    if (folder.isEmpty()) {
        return Fail("The work folder cannot be made");
    }
    m_workPath = ZQT_GetRandomFilePath(folder, QStringLiteral("gtif"));
    m_cloudPath = ZQT_GetRandomFilePath(folder, QStringLiteral("las"));
    m_groundPath = ZQT_GetRandomFilePath(folder, QStringLiteral("las"));
    m_outputTemp = kv::TemporaryPathFor(output);
    EndPhase(1);

    // 2. The work raster; 3. every valid cell a point of the LAS file; 4. the LAS header
    // completed (counts and bounds); 5. the ground filter; 6. the ground points gridded onto the
    // cells; 7. gaps filled and the result smoothed, tile by tile, and with an area only its cells
    // changed; 8. overviews. An area that misses the work raster is refused before any filtering.
    const std::function<int()> phases[kPhases - 1] = {
        [&] {
            const int made = MakeWorkRaster(dem, settings.gsd);
            return made == GroundFilterDone ? CheckArea(area) : made;
        },
        [&] { return WritePoints(dem); },
        [&] { return CompleteCloud(); },
        [&] { return FilterCloud(settings); },
        [&] { return GridGroundPoints(dem); },
        [&] {
            const int filled = FillAndSmooth();
            return filled == GroundFilterDone ? RestrictToArea() : filled;
        },
        [&] { return BuildOutputOverviews(); },
    };
    for (int i = 0; i < kPhases - 1; ++i) {
        if (Aborted()) {
            return GroundFilterAborted;
        }
        const int result = [&] {
            const kv::FailureCauseScope causes;
            return phases[i]();
        }();
        if (result != GroundFilterDone) {
            return result;
        }
        EndPhase(i + 2);
    }
    if (Aborted()) {
        return GroundFilterAborted;
    }
    GDALDatasetH done = m_output;
    m_output = nullptr;
    if (!kv::CloseDataset(done) || !kv::MoveIntoPlace(m_outputTemp, output)) {
        return Fail("Unable to save DEM");
    }
    m_outputTemp.clear();
    return GroundFilterDone;
}

}  // namespace

CPgon AreaCells(const std::vector<Wml::Point3>& area, const double geoTransform[6], int width, int height) {
    std::vector<Wml::Point2> cells;
    cells.reserve(area.size());
    for (const Wml::Point3& p : area) {
        cells.emplace_back(std::rint((p.X() - geoTransform[0]) / geoTransform[1]),
                           std::rint((p.Y() - geoTransform[3]) / geoTransform[5]));
    }
    const double right = width - 1, bottom = height - 1;
    const Wml::Point2 frame[4] = {{0.0, 0.0}, {right, 0.0}, {right, bottom}, {0.0, bottom}};
    return CPgon(cells.data(), int(cells.size())) & CPgon(frame, 4);
}

std::vector<GroundFilterTile> GroundFilterTiles(int side) {
    std::vector<GroundFilterTile> tiles;
    if (side <= 0) {
        return tiles;
    }
    const int count = side <= kTileSize ? 1 : 1 + (side - kTileSize + kTileStep - 1) / kTileStep;
    for (int i = 0; i < count; ++i) {
        GroundFilterTile t;
        t.start = i * kTileStep;
        t.size = std::min(kTileSize, side - t.start);
        t.writeBegin = i == 0 ? 0 : t.start + kTileMargin;
        t.writeEnd = i == count - 1 ? side : t.start + kTileSize - kTileMargin;
        tiles.push_back(t);
    }
    return tiles;
}

int GridGroundPoints(const QString& lasPath, GDALRasterBandH band, const double geoTransform[6], float noData,
                     ProgressSink* progress, QString* error) {
    auto fail = [error](const QString& text) {
        if (error) {
            *error = text;
        }
        return int(GroundFilterFailed);
    };
    LASreadOpener opener;
    opener.SetFileName(lasPath);
    QString openError;
    std::unique_ptr<LASreader> reader = opener.Open(&openError);
    if (!reader) {
        return fail(openError);
    }
    const int width = GDALGetRasterBandXSize(band);
    const int height = GDALGetRasterBandYSize(band);
    StripCache cache(band, width, height, noData);
    const uint64_t total = std::max<uint64_t>(reader->PointCount(), 1);
    if (progress) {
        progress->SetRange(0, 100);
        progress->SetPos(0);
    }
    uint64_t read = 0;
    int percent = 0;
    while (reader->ReadPoint()) {
        ++read;
        const int now = int(read * 100 / total);
        if (now != percent) {
            percent = now;
            if (progress) {
                progress->SetPos(percent);
            }
            ZQT_PumpMessages();
            if (progress && progress->IsAborted()) {
                return GroundFilterAborted;
            }
        }
        if (reader->point.classification != kGroundClass) {
            continue;
        }
        const double column = std::rint((reader->GetX() - geoTransform[0]) / geoTransform[1]);
        const double row = std::rint((reader->GetY() - geoTransform[3]) / geoTransform[5]);
        if (!(column >= 0 && column < width && row >= 0 && row < height)) {
            continue;
        }
        if (!cache.Set(int(column), int(row), float(reader->GetZ()))) {
            return fail("The output cannot be written");
        }
    }
    if (read != reader->PointCount() || !cache.Finish()) {
        return fail("The ground points cannot be gridded");
    }
    return GroundFilterDone;
}

QString GroundFilteringWorkFolder() {
    const QString root = ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1);
    if (root.isEmpty()) {
        return QString();
    }
    const QString folder = QDir(root).filePath(QString::fromLatin1(kWorkFolder));
    return QDir().mkpath(folder) ? folder : QString();
}

int FilterGroundToFile(const CDEM& dem, const QString& output, const GroundFilterSettings& settings,
                       const std::vector<Wml::Point3>& area, ProgressSink* overall, ProgressSink* phase,
                       int* abortFlag, QString* error) {
    Run run(overall, phase, abortFlag, error);
    return run.Execute(dem, output, settings, area);
}

namespace {

// The output of a run: a loaded layer's file is refused by the shared chooser; a name already
// loaded as a DEM is refused here, since the result could not join the project afterwards.
QString ChooseGroundFilterOutput(const CKelvaroDoc* doc) {
    for (;;) {
        const QString path = ChooseOutputFile(QStringLiteral("DEM File (*.gtif)"), QStringLiteral("gtif"));
        if (path.isEmpty() || !doc || !doc->m_DEMs.count(QFileInfo(path).fileName().toLower())) {
            return path;
        }
        KvMessageBox(QStringLiteral("A DEM with this name is already loaded!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

}  // namespace

int RunGroundFiltering(CDEM* dem, double gsd, double factor, double curvatureThreshold, ProgressSink* overall,
                       ProgressSink* phase, int* abortFlag, QString* error) {
    if (!dem || !GDALGetDriverByName("GTiff")) {
        return 0;
    }
    CKelvaroDoc* doc = dem->m_pDoc;
    const QString output = ChooseGroundFilterOutput(doc);
    if (output.isEmpty()) {
        return 0;
    }
    GroundFilterSettings settings;
    settings.gsd = gsd;
    settings.factor = factor;
    settings.curvatureThreshold = curvatureThreshold;
    const std::vector<Wml::Point3> area = doc ? doc->m_AreaVertices : std::vector<Wml::Point3>();
    if (FilterGroundToFile(*dem, output, settings, area, overall, phase, abortFlag, error) !=
        GroundFilterDone) {
        return 0;
    }
    return doc ? doc->AddDEM(output, 0) : 0;
}
