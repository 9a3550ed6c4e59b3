#include "raster/DEM.h"

#include <QFile>
#include <QFileInfo>

#include <cpl_string.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <type_traits>

#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/BlockWalk.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

// What the conversions need of band 1: its type, no-data value, offset and scale.
struct BandInfo {
    GDALRasterBandH band = nullptr;
    GDALDataType type = GDT_Unknown;
    double noData = 0.0;
    double offset = 0.0;
    double scale = 1.0;

    BandInfo() = default;
    explicit BandInfo(GDALDatasetH dataset) {
        band = GDALGetRasterBand(dataset, 1);
        if (!band) {
            return;
        }
        type = GDALGetRasterDataType(band);
        noData = GDALGetRasterNoDataValue(band, nullptr);
        int set = 0;
        double value = GDALGetRasterOffset(band, &set);
        offset = set ? value : 0.0;
        value = GDALGetRasterScale(band, &set);
        scale = set ? value : 1.0;
    }

    bool Identity() const { return offset == 0.0 && scale == 1.0; }
};

// The C type of the cells of a band type. UInt32 cells travel as their bits in 32-bit buffers.
template <GDALDataType T>
struct CellOf;
template <>
struct CellOf<GDT_UInt16> {
    using type = uint16_t;
};
template <>
struct CellOf<GDT_Int16> {
    using type = int16_t;
};
template <>
struct CellOf<GDT_UInt32> {
    using type = uint32_t;
};
template <>
struct CellOf<GDT_Int32> {
    using type = int32_t;
};
template <>
struct CellOf<GDT_Float32> {
    using type = float;
};
template <>
struct CellOf<GDT_Float64> {
    using type = double;
};

// Calls f with a value of the cell type of the band type; false for types a DEM cannot have.
template <typename F>
bool DispatchCellType(GDALDataType type, F&& f) {
    switch (type) {
        case GDT_UInt16:
            f(CellOf<GDT_UInt16>::type{});
            return true;
        case GDT_Int16:
            f(CellOf<GDT_Int16>::type{});
            return true;
        case GDT_UInt32:
            f(CellOf<GDT_UInt32>::type{});
            return true;
        case GDT_Int32:
            f(CellOf<GDT_Int32>::type{});
            return true;
        case GDT_Float32:
            f(CellOf<GDT_Float32>::type{});
            return true;
        case GDT_Float64:
            f(CellOf<GDT_Float64>::type{});
            return true;
        default:
            return false;
    }
}

// Recognises the band's no-data cells in the band's own type.
template <typename T>
class NoDataTest {
public:
    explicit NoDataTest(double noData) : m_noData(noData) {
        if constexpr (std::is_floating_point_v<T>) {
            m_value = static_cast<T>(noData);
        } else {
            m_inRange = noData >= static_cast<double>(std::numeric_limits<T>::lowest()) &&
                        noData <= static_cast<double>(std::numeric_limits<T>::max()) &&
                        noData == std::floor(noData);
            m_value = m_inRange ? static_cast<T>(noData) : T{};
        }
    }

    bool operator()(T v) const {
        if constexpr (std::is_floating_point_v<T>) {
            // Values that are no finite number are no heights, whatever the band's no-data value.
            return !std::isfinite(v) || v == m_value;
        } else {
            return m_inRange && v == m_value;
        }
    }

private:
    double m_noData;
    bool m_inRange = false;
    T m_value{};
};

// Band cells to heights: no data (and what is no finite number) becomes `empty`, every other cell value x
// scale + offset. Source and target may be the same Float32 buffer.
template <typename T>
void CellsToHeights(const cv::Mat& cells, cv::Mat& heights, const BandInfo& info, float empty) {
    NoDataTest<T> isNoData(info.noData);
    bool identity = info.Identity();
    for (int r = 0; r < cells.rows; ++r) {
        const T* s = reinterpret_cast<const T*>(cells.ptr(r));
        float* d = heights.ptr<float>(r);
        for (int c = 0; c < cells.cols; ++c) {
            T v = s[c];
            if (isNoData(v)) {
                d[c] = empty;
            } else if (identity) {
                d[c] = static_cast<float>(v);
            } else {
                d[c] = static_cast<float>(static_cast<double>(v) * info.scale + info.offset);
            }
        }
    }
}

// A band value of type T for the stored value x (already unscaled), rounded for integer types and
// limited to the type's range, and never equal to the band's no-data value.
template <typename T>
T StoreCell(double x, T noData) {
    T v;
    if constexpr (std::is_floating_point_v<T>) {
        double lo = static_cast<double>(std::numeric_limits<T>::lowest());
        double hi = static_cast<double>(std::numeric_limits<T>::max());
        v = static_cast<T>(std::clamp(x, lo, hi));
        if (v == noData) {
            v = std::nextafter(v, x >= static_cast<double>(noData) ? std::numeric_limits<T>::max()
                                                                   : std::numeric_limits<T>::lowest());
        }
    } else {
        constexpr T lo = std::numeric_limits<T>::lowest();
        constexpr T hi = std::numeric_limits<T>::max();
        double r = std::round(x);
        v = r <= static_cast<double>(lo) ? lo : r >= static_cast<double>(hi) ? hi : static_cast<T>(r);
        if (v == noData) {
            bool up = v == lo || (v != hi && x >= static_cast<double>(noData));
            v = up ? static_cast<T>(v + 1) : static_cast<T>(v - 1);
        }
    }
    return v;
}

// The band's no-data value in its own type, limited to the type's range.
template <typename T>
T NoDataCell(double noData) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(noData);
    } else {
        if (std::isnan(noData)) {
            return T{};
        }
        return static_cast<T>(std::clamp(noData, static_cast<double>(std::numeric_limits<T>::lowest()),
                                         static_cast<double>(std::numeric_limits<T>::max())));
    }
}

// Heights to band cells: no data (IsNoData) becomes the band's no-data value, every other height
// (value - offset) / scale.
template <typename T>
void HeightsToCells(const cv::Mat& heights, cv::Mat& cells, const BandInfo& info) {
    T noData = NoDataCell<T>(info.noData);
    bool identity = info.Identity();
    for (int r = 0; r < heights.rows; ++r) {
        const float* s = heights.ptr<float>(r);
        T* d = reinterpret_cast<T*>(cells.ptr(r));
        for (int c = 0; c < heights.cols; ++c) {
            float v = s[c];
            if (IsNoData(v)) {
                d[c] = noData;
            } else if (identity) {
                d[c] = StoreCell<T>(v, noData);
            } else {
                d[c] = StoreCell<T>((static_cast<double>(v) - info.offset) / info.scale, noData);
            }
        }
    }
}

// Whether any of the cells is an infinity or NaN, on the bits: the sum of the exponent field and
// its lowest bit reaches the sign bit exactly for those. Built for the wider vector units too, the
// best one chosen when the program loads: every block a DEM loads or saves is read through it.
__attribute__((target_clones("avx2", "default"))) bool AnyNonFinite(const uint32_t* cells, int count) {
    constexpr uint32_t kExponent = 0x7f800000u;
    constexpr uint32_t kExponentOne = 0x00800000u;
    // Pieces of a fixed length, which the compiler turns into vector code, then the rest.
    constexpr int kPiece = 64;
    uint32_t seen = 0;
    int c = 0;
    for (; c + kPiece <= count; c += kPiece) {
        for (int k = 0; k < kPiece; ++k) {
            seen |= (cells[c + k] & kExponent) + kExponentOne;
        }
    }
    for (; c < count; ++c) {
        seen |= (cells[c] & kExponent) + kExponentOne;
    }
    return (seen & 0x80000000u) != 0;
}

// Whether every cell of a Float32 image is a finite number.
bool AllFinite(const cv::Mat& image) {
    const int count = image.cols * image.channels();
    for (int r = 0; r < image.rows; ++r) {
        if (AnyNonFinite(image.ptr<uint32_t>(r), count)) {
            return false;
        }
    }
    return true;
}

// Band-to-heights conversion for the band's type.
void ToHeights(const cv::Mat& cells, cv::Mat& heights, const BandInfo& info, float empty) {
    DispatchCellType(info.type,
                     [&](auto cell) { CellsToHeights<decltype(cell)>(cells, heights, info, empty); });
}

// The file a layer reads: its path, or the dataset's own name for a layer without one.
QString FileOf(const QString& path, GDALDatasetH dataset) {
    if (!path.isEmpty() || !dataset) {
        return path;
    }
    return QFile::decodeName(GDALGetDescription(dataset));
}

// Reads a window of the band, resampled to the buffer's size, in the band's own type.
bool ReadCells(const BandInfo& info, const cv::Rect& window, cv::Mat& buffer) {
    return GDALRasterIOEx(info.band, GF_Read, window.x, window.y, window.width, window.height, buffer.data,
                          buffer.cols, buffer.rows, info.type, static_cast<GSpacing>(buffer.elemSize()),
                          static_cast<GSpacing>(buffer.step), nullptr) == CE_None;
}

// Copies a Float32 region into a target of any size: at the same size as it is, reduced by
// taking the nearest cell, enlarged bilinearly with every cell that draws on no data left as no
// data.
void ResampleHeights(const cv::Mat& source, cv::Mat& target) {
    if (source.size() == target.size()) {
        source.copyTo(target);
    } else if (static_cast<double>(target.total()) <= static_cast<double>(source.total())) {
        cv::resize(source, target, target.size(), 0, 0, cv::INTER_NEAREST_EXACT);
    } else {
        cv::Mat marked = source.clone();
        marked.setTo(std::numeric_limits<float>::quiet_NaN(), marked == kNoData);
        cv::resize(marked, target, target.size(), 0, 0, cv::INTER_LINEAR);
    }
    PatchNonFinite(target);
}

// GDAL's block cache while a DEM is saved.
constexpr GIntBig kSaveCacheBytes = GIntBig(64) << 20;

// Makes a new Float32 GeoTIFF for the grid at a temporary path.
GDALDatasetH CreateDemFile(const QString& path, const cv::Mat& grid, const double* geoTransform,
                           const QString& projection) {
    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    if (!gtiff || !kv::RasterFitsOnDisk(path, grid.cols, grid.rows, 1, GDT_Float32)) {
        return nullptr;
    }
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=IF_NEEDED", nullptr};
    GDALDatasetH ds = GDALCreate(gtiff, QFile::encodeName(path).constData(), grid.cols, grid.rows, 1,
                                 GDT_Float32, const_cast<char**>(options));
    if (!ds) {
        return nullptr;
    }
    GDALSetGeoTransform(ds, const_cast<double*>(geoTransform));
    if (!projection.isEmpty()) {
        GDALSetProjection(ds, projection.toUtf8().constData());
    }
    GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), kNoData);
    return ds;
}

// Makes a new one-band file at a temporary path in the layout of the source: its format, cell
// type, tiling and compression, band 1's no-data value, offset, scale and unit, the geotransform,
// the projection and the metadata of the default domains (statistics left out: they describe the
// old cells). None when the source's format cannot create files.
GDALDatasetH CreateFileLike(const QString& path, GDALDatasetH source) {
    GDALDriverH driver = GDALGetDatasetDriver(source);
    GDALRasterBandH band = GDALGetRasterBand(source, 1);
    if (!driver || !band || !GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr)) {
        return nullptr;
    }
    const int width = GDALGetRasterXSize(source);
    const int height = GDALGetRasterYSize(source);
    CPLStringList options;
    if (EQUAL(GDALGetDriverShortName(driver), "GTiff")) {
        int blockX = 0, blockY = 0;
        GDALGetBlockSize(band, &blockX, &blockY);
        // Strips are as wide as the raster; tiles are square multiples of 16.
        if (blockX != width || (blockX == blockY && blockX % 16 == 0 && blockY < height)) {
            options.SetNameValue("TILED", "YES");
            options.SetNameValue("BLOCKXSIZE", CPLSPrintf("%d", blockX));
            options.SetNameValue("BLOCKYSIZE", CPLSPrintf("%d", blockY));
        }
        if (const char* compression = GDALGetMetadataItem(source, "COMPRESSION", "IMAGE_STRUCTURE")) {
            options.SetNameValue("COMPRESS", compression);
        }
        options.SetNameValue("BIGTIFF", "IF_SAFER");
    }
    const GDALDataType type = GDALGetRasterDataType(band);
    GDALDatasetH ds =
        kv::RasterFitsOnDisk(path, width, height, 1, type)
            ? GDALCreate(driver, QFile::encodeName(path).constData(), width, height, 1, type, options.List())
            : nullptr;
    if (!ds) {
        return nullptr;
    }
    double gt[6];
    if (GDALGetGeoTransform(source, gt) == CE_None) {
        GDALSetGeoTransform(ds, gt);
    }
    const char* wkt = GDALGetProjectionRef(source);
    if (wkt && *wkt) {
        GDALSetProjection(ds, wkt);
    }
    GDALSetMetadata(ds, GDALGetMetadata(source, nullptr), nullptr);
    GDALRasterBandH target = GDALGetRasterBand(ds, 1);
    CPLStringList bandMetadata;
    for (char** item = GDALGetMetadata(band, nullptr); item && *item; ++item) {
        if (!STARTS_WITH_CI(*item, "STATISTICS_")) {
            bandMetadata.AddString(*item);
        }
    }
    GDALSetMetadata(target, bandMetadata.List(), nullptr);
    int set = 0;
    const double noData = GDALGetRasterNoDataValue(band, &set);
    if (set) {
        GDALSetRasterNoDataValue(target, noData);
    }
    const double offset = GDALGetRasterOffset(band, &set);
    if (set) {
        GDALSetRasterOffset(target, offset);
    }
    const double scale = GDALGetRasterScale(band, &set);
    if (set) {
        GDALSetRasterScale(target, scale);
    }
    if (const char* unit = GDALGetRasterUnitType(band); unit && *unit) {
        GDALSetRasterUnitType(target, unit);
    }
    const char* description = GDALGetDescription(band);
    if (description && *description) {
        GDALSetDescription(target, description);
    }
    return ds;
}

}  // namespace

namespace {

uint64_t NextDemSerial() {
    static std::atomic<uint64_t> last{0};
    return ++last;
}

}  // namespace

CDEM::CDEM(CKelvaroDoc* owner) : m_serial(NextDemSerial()), m_pDoc(owner) {
    m_sampleWindow.create(m_sampleWindowSize, m_sampleWindowSize, CV_32FC1);
}

CDEM::~CDEM() {
    EraseLayerEntity(m_imageEntity);
    EraseLayerEntity(m_labelImageEntity);
    if (m_pDataset) {
        GDALClose(m_pDataset);
    }
}

int CDEM::Width() const {
    if (!m_grid.empty()) {
        return m_grid.cols;
    }
    return m_pDataset ? GDALGetRasterXSize(m_pDataset) : 0;
}

int CDEM::Height() const {
    if (!m_grid.empty()) {
        return m_grid.rows;
    }
    return m_pDataset ? GDALGetRasterYSize(m_pDataset) : 0;
}

bool CDEM::IsValidDemDataset(GDALDatasetH dataset) {
    double gt[6];
    if (!dataset || GDALGetRasterCount(dataset) != 1 || GDALGetGeoTransform(dataset, gt) != CE_None) {
        return false;
    }
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    int hasNoData = 0;
    GDALGetRasterNoDataValue(band, &hasNoData);
    GDALDataType type = GDALGetRasterDataType(band);
    return hasNoData && type >= GDT_UInt16 && type <= GDT_Float64;
}

int CDEM::LoadData(ProgressSink* progress) {
    if (!m_grid.empty()) {
        return 1;
    }
    if (!m_pDataset) {
        return 0;
    }
    int width = GDALGetRasterXSize(m_pDataset);
    int height = GDALGetRasterYSize(m_pDataset);
    BandInfo info(m_pDataset);
    if (!info.band || GetCVDepth(info.type) < 0) {
        return 0;
    }
    cv::Mat grid(height, width, CV_32FC1);
    cv::Mat scratch;
    // Rows read at once from a Float32 band: 64 rows of a block of 1024 columns (a quarter of a
    // megabyte, which the checks below read while it is still in the second-level cache), or
    // whole rows of the file's blocks when they are lower. Taller blocks are read once into
    // GDAL's block cache and handed out from there.
    int blockX = 0, blockY = 0;
    GDALGetBlockSize(info.band, &blockX, &blockY);
    const int rowsPerBlock = std::max(blockY, 1);
    constexpr int kStripRows = 64;
    const int strip = rowsPerBlock >= kStripRows
                          ? kStripRows
                          : (kStripRows + rowsPerBlock - 1) / rowsPerBlock * rowsPerBlock;
    kv::BlockProgress steps(progress, kv::BlockCount(width, height), QStringLiteral("Loading DEM..."));
    kv::GdalFailureWatch watch;
    bool ok = kv::ForEachBlock(width, height, [&](const cv::Rect& window, int index) {
        steps.Step(index);
        cv::Mat target = grid(window);
        if (info.type == GDT_Float32) {
            // Read straight into the grid and converted in place, a strip of the file's blocks at
            // a time, so that the cells are converted while they are still in the cache.
            for (int y = 0; y < window.height; y += strip) {
                const cv::Rect part(window.x, window.y + y, window.width, std::min(strip, window.height - y));
                cv::Mat cells = grid(part);
                if (!ReadCells(info, part, cells)) {
                    return false;
                }
                if (info.Identity() && info.noData == kNoData) {
                    PatchNonFinite(cells);
                } else {
                    ToHeights(cells, cells, info, kNoData);
                }
            }
            ZQT_PumpMessages();
            return true;
        }
        if (scratch.size() != window.size()) {
            scratch.create(window.size(), CV_MAKETYPE(GetCVDepth(info.type), 1));
        }
        if (!ReadCells(info, window, scratch)) {
            return false;
        }
        ZQT_PumpMessages();
        ToHeights(scratch, target, info, kNoData);
        return true;
    });
    if (!ok) {
        kv::ReportUnreadableRaster(FileOf(m_path, m_pDataset), kv::ReadFailureText(watch));
        return 0;
    }
    m_grid = grid;
    GDALClose(m_pDataset);
    m_pDataset = nullptr;
    return 1;
}

int CDEM::SaveData(ProgressSink* progress) {
    QString temporary;
    if (!WriteSaveCopy(progress, &temporary)) {
        return 0;
    }
    return kv::MoveIntoPlace(temporary, m_path) ? 1 : 0;
}

int CDEM::WriteSaveCopy(ProgressSink* progress, QString* temporary) {
    if (m_grid.empty() || !temporary) {
        return 0;
    }
    if (m_pDataset) {
        GDALClose(m_pDataset);
        m_pDataset = nullptr;
    }
    // The layer's own file is never written in place: a save that stops half-way would leave
    // it neither old nor new. The copy takes the file's layout and replaces it once complete.
    // A file that is gone or no longer a DEM of this size is replaced by a new Float32 GeoTIFF.
    const bool exists = QFileInfo::exists(m_path);
    const QString copy = kv::TemporaryPathFor(m_path);
    GDALDatasetH ds = nullptr;
    if (GDALDatasetH source =
            exists ? GDALOpen(QFile::encodeName(m_path).constData(), GA_ReadOnly) : nullptr) {
        if (GDALGetRasterXSize(source) == m_grid.cols && GDALGetRasterYSize(source) == m_grid.rows &&
            IsValidDemDataset(source)) {
            ds = CreateFileLike(copy, source);
        }
        GDALClose(source);
    }
    if (!ds) {
        kv::RemoveRasterFile(copy);
        ds = CreateDemFile(copy, m_grid, m_geoTransform, m_projection);
    }
    if (!ds) {
        kv::RemoveRasterFile(copy);
        return 0;
    }
    // The grid is in memory already: GDAL need not hold the file's blocks too.
    const kv::BlockCacheCap cap(kSaveCacheBytes);
    BandInfo info(ds);
    bool ok = info.band && GetCVDepth(info.type) >= 0;
    if (ok) {
        cv::Mat scratch;
        kv::BlockProgress steps(progress, kv::BlockCount(m_grid.cols, m_grid.rows),
                                QStringLiteral("Saving DEM..."));
        // A Float32 band without scale and offset whose no-data value is the grid's own takes the
        // heights as they are, unless the block holds a cell that is no finite number.
        const bool sameCells =
            info.type == GDT_Float32 && info.Identity() && NoDataCell<float>(info.noData) == kNoData;
        ok = kv::ForEachBlock(m_grid.cols, m_grid.rows, [&](const cv::Rect& window, int index) {
            steps.Step(index);
            const cv::Mat heights = m_grid(window);
            const cv::Mat* cells = &heights;
            if (!sameCells || !AllFinite(heights)) {
                if (scratch.size() != window.size()) {
                    scratch.create(window.size(), CV_MAKETYPE(GetCVDepth(info.type), 1));
                }
                DispatchCellType(info.type,
                                 [&](auto cell) { HeightsToCells<decltype(cell)>(heights, scratch, info); });
                cells = &scratch;
            }
            bool written = GDALRasterIOEx(info.band, GF_Write, window.x, window.y, window.width,
                                          window.height, cells->data, cells->cols, cells->rows, info.type,
                                          static_cast<GSpacing>(cells->elemSize()),
                                          static_cast<GSpacing>(cells->step), nullptr) == CE_None;
            ZQT_PumpMessages();
            return written;
        });
    }
    if (ok) {
        if (progress) {
            progress->SetRange(0, 100);
            progress->SetBarText(QStringLiteral("Building overviews..."));
        }
        CGDALListener listener(progress);
        ok = kv::BuildOverviews(ds, &listener) != 0;
        if (progress) {
            progress->SetBarText(QString());
        }
    }
    ok = kv::CloseDataset(ds) && ok;
    if (!ok) {
        kv::RemoveRasterFile(copy);
        return 0;
    }
    if (exists) {
        QFile::setPermissions(copy, QFile::permissions(m_path));
    }
    *temporary = copy;
    return 1;
}

namespace {

// The heights of the source rectangle of the band resampled into the target; false when a read
// fails.
bool ReadRegionCells(const BandInfo& info, int depth, const cv::Rect& source, cv::Mat& target) {
    if (target.total() <= static_cast<size_t>(source.area())) {
        // Same size or reduced: GDAL resamples on the way (from overviews where there are some).
        if (info.type == GDT_Float32) {
            if (!ReadCells(info, source, target)) {
                return false;
            }
            ToHeights(target, target, info, kNoData);
            return true;
        }
        cv::Mat cells(target.size(), CV_MAKETYPE(depth, 1));
        if (!ReadCells(info, source, cells)) {
            return false;
        }
        ToHeights(cells, target, info, kNoData);
        return true;
    }
    // Enlarged: the cells are read at their own size and interpolated here, so that no data
    // never blends into a height.
    cv::Mat cells(source.size(), CV_MAKETYPE(depth, 1));
    if (!ReadCells(info, source, cells)) {
        return false;
    }
    cv::Mat heights(source.size(), CV_32FC1);
    ToHeights(cells, heights, info, kNoData);
    ResampleHeights(heights, target);
    return true;
}

}  // namespace

int CDEM::ReadRegionFromFile(const cv::Rect& source, cv::Mat& target) {
    BandInfo info(m_pDataset);
    int depth = info.band ? GetCVDepth(info.type) : -1;
    if (depth < 0) {
        return 0;
    }
    kv::GdalFailureWatch watch;
    if (ReadRegionCells(info, depth, source, target)) {
        return 1;
    }
    kv::ReportUnreadableRaster(FileOf(m_path, m_pDataset), kv::ReadFailureText(watch));
    return 0;
}

int CDEM::GetRegion(const cv::Rect* rect, cv::Mat& image) {
    if (image.empty() || image.type() != CV_32FC1 || (m_grid.empty() && !m_pDataset)) {
        return 0;
    }
    cv::Size size(Width(), Height());
    cv::Rect sourcePart;
    cv::Rect targetPart;
    if (!kv::MapRegion(rect ? *rect : cv::Rect(0, 0, size.width, size.height), size, image.size(),
                       &sourcePart, &targetPart)) {
        return 0;
    }
    image.setTo(kNoData);
    cv::Mat target = image(targetPart);
    if (!m_grid.empty()) {
        ResampleHeights(m_grid(sourcePart), target);
        return 1;
    }
    return ReadRegionFromFile(sourcePart, target);
}

cv::Mat CDEM::CreateRegionImage(const cv::Rect* rect, cv::Size size) {
    if ((m_grid.empty() && !m_pDataset) || size.width <= 0 || size.height <= 0) {
        return cv::Mat();
    }
    cv::Mat image(size, CV_32FC1);
    if (!GetRegion(rect, image)) {
        return cv::Mat();
    }
    return image;
}

double CDEM::GetElevation(double x, double y) {
    if ((!m_pDataset && m_grid.empty()) || m_sampleWindow.empty()) {
        return kNoData;
    }
    double c = (x - m_geoTransform[0]) / m_geoTransform[1];
    double r = (y - m_geoTransform[3]) / m_geoTransform[5];
    if (!(c >= 0.0 && r >= 0.0 && c < Width() && r < Height())) {
        return kNoData;
    }
    int half = m_sampleWindowSize / 2;
    cv::Rect window(static_cast<int>(c) - half, static_cast<int>(r) - half, m_sampleWindowSize,
                    m_sampleWindowSize);
    if (!GetRegion(&window, m_sampleWindow)) {
        return kNoData;
    }
    return SampleGrid(m_sampleWindow, half, half);
}

float CDEM::GetCellHeight(double x, double y) {
    const cv::Size size(Width(), Height());
    cv::Point cell;
    if ((!m_pDataset && m_grid.empty()) || !CellOfPosition(m_geoTransform, size, x, y, &cell)) {
        return kNoData;
    }
    // The readout and the snap run at every move of the cursor, where no message may be shown: a
    // read that fails is not told here (the next command that reads the file tells it) and the
    // failed square is kept, so that the moves over it read nothing.
    const float v = !m_grid.empty() ? m_grid.at<float>(cell)
                                    : m_display.CellValue(m_pDataset, size, cell,
                                                          [this](const cv::Rect& rect, cv::Mat& cells) {
                                                              const kv::QuietReadFailures quiet;
                                                              return GetRegion(&rect, cells) != 0;
                                                          });
    return IsNoData(v) ? kNoData : v;
}

double InterpolateBilinear(const cv::Mat& image, int column, int row, double fx, double fy) {
    const double weights[4] = {(1 - fx) * (1 - fy), fx * (1 - fy), (1 - fx) * fy, fx * fy};
    const int dc[4] = {0, 1, 0, 1};
    const int dr[4] = {0, 0, 1, 1};
    double sum = 0.0;
    double weight = 0.0;
    for (int i = 0; i < 4; ++i) {
        int c = column + dc[i];
        int r = row + dr[i];
        if (c < 0 || r < 0 || c >= image.cols || r >= image.rows) {
            continue;
        }
        float v = image.at<float>(r, c);
        if (IsNoData(v)) {
            continue;
        }
        sum += weights[i] * v;
        weight += weights[i];
    }
    return weight > 0.0 ? sum / weight : kNoData;
}

double InterpolateBicubic(const cv::Mat& image, int column, int row, double fx, double fy) {
    if (column < 1 || row < 1 || column + 2 >= image.cols || row + 2 >= image.rows) {
        return InterpolateBilinear(image, column, row, fx, fy);
    }
    double rows[4];
    for (int j = 0; j < 4; ++j) {
        const float* line = image.ptr<float>(row - 1 + j);
        double p[4];
        for (int i = 0; i < 4; ++i) {
            float v = line[column - 1 + i];
            if (IsNoData(v)) {
                return InterpolateBilinear(image, column, row, fx, fy);
            }
            p[i] = v;
        }
        rows[j] = CubicThrough(p, fx);
    }
    return CubicThrough(rows, fy);
}

double SampleGrid(const cv::Mat& image, double x, double y) {
    // A position left of or above the first cell lies outside, even within one cell of it.
    if (image.empty() || !(x >= 0.0 && y >= 0.0 && x < image.cols && y < image.rows)) {
        return kNoData;
    }
    int c = static_cast<int>(x);
    int r = static_cast<int>(y);
    if (c > 3 && c < image.cols - 3 && r > 3 && r < image.rows - 3) {
        return InterpolateBicubic(image, c, r, x - c, y - r);
    }
    float v = image.at<float>(r, c);
    return IsNoData(v) ? kNoData : v;
}

void ExtendHeightRange(const cv::Mat& heights, float* low, float* high) {
    CV_Assert(heights.empty() || heights.type() == CV_32FC1);
    constexpr float kLargest = std::numeric_limits<float>::max();
    float least = *low, greatest = *high;
    for (int r = 0; r < heights.rows; ++r) {
        const float* cells = heights.ptr<float>(r);
        for (int c = 0; c < heights.cols; ++c) {
            // Neither -9999 nor an infinity nor NaN (which fails every comparison).
            const float v = cells[c];
            if (v != kNoData && std::abs(v) <= kLargest) {
                least = std::min(least, v);
                greatest = std::max(greatest, v);
            }
        }
    }
    *low = least;
    *high = greatest;
}

void PatchNonFinite(cv::Mat& image) {
    CV_Assert(image.depth() == CV_32F);
    // The cells of a DEM are nearly always all finite: a row is first only read, and written only
    // when it holds an infinity or NaN.
    uint32_t noData = 0;
    std::memcpy(&noData, &kNoData, sizeof noData);
    constexpr uint32_t kExponent = 0x7f800000u;  // all ones: an infinity or NaN
    const int count = image.cols * image.channels();
    for (int r = 0; r < image.rows; ++r) {
        uint32_t* cells = image.ptr<uint32_t>(r);
        if (!AnyNonFinite(cells, count)) {
            continue;
        }
        for (int c = 0; c < count; ++c) {
            cells[c] = (cells[c] & kExponent) == kExponent ? noData : cells[c];
        }
    }
}

HeightEncoding BandHeightEncoding(GDALRasterBandH band) {
    HeightEncoding encoding;
    if (!band) {
        return encoding;
    }
    encoding.type = GDALGetRasterDataType(band);
    int set = 0;
    double value = GDALGetRasterNoDataValue(band, &set);
    encoding.noData = set ? value : kNoData;
    value = GDALGetRasterOffset(band, &set);
    encoding.offset = set ? value : 0.0;
    value = GDALGetRasterScale(band, &set);
    encoding.scale = set ? value : 1.0;
    return encoding;
}

void EncodeHeights(const cv::Mat& heights, cv::Mat& cells, const HeightEncoding& encoding) {
    BandInfo info;
    info.type = encoding.type;
    info.noData = encoding.noData;
    info.offset = encoding.offset;
    info.scale = encoding.scale;
    DispatchCellType(info.type, [&](auto cell) { HeightsToCells<decltype(cell)>(heights, cells, info); });
}
