#include "raster/RasterIO.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/raster/DepthTypes.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/BusyScope.h"
#include "platform/tools/GdalFailures.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"

int GetCVDepth(GDALDataType type) {
    switch (type) {
        case GDT_Byte:
            return CV_8U;
        case GDT_UInt16:
            return CV_16U;
        case GDT_Int16:
            return CV_16S;
        case GDT_UInt32:
        case GDT_Float32:
            return CV_32F;
        case GDT_Int32:
            return CV_32S;
        case GDT_Float64:
            return CV_64F;
        default:
            return -1;
    }
}

GDALDataType GetGDALDataType(int depth) {
    // The program writes no 32-bit signed rasters: such an image has no file type.
    return depth == CV_32S ? GDT_Unknown : kv::GDALTypeOfDepth(depth);
}

void GetGDALDataTypeRange(GDALDataType type, double* lower, double* upper) {
    double lo = 0.0;
    double hi = 0.0;
    switch (type) {
        case GDT_Byte:
            hi = 255.0;
            break;
        case GDT_UInt16:
            hi = 65535.0;
            break;
        case GDT_Int16:
            lo = -32767.0;
            hi = 32768.0;
            break;
        case GDT_UInt32:
            hi = 4294967295.0;
            break;
        case GDT_Int32:
        case GDT_Float32:
            lo = -2147483647.0;
            hi = 2147483648.0;
            break;
        case GDT_Float64:
            lo = 1.0 - std::ldexp(1.0, 63);
            hi = std::ldexp(1.0, 63);
            break;
        default:
            break;
    }
    if (lower) {
        *lower = lo;
    }
    if (upper) {
        *upper = hi;
    }
}

int GetPixelValues(const cv::Mat& image, GDALDataType type, int column, int row, double* values) {
    int channels = image.channels();
    for (int k = 0; k < channels; ++k) {
        values[k] = 0.0;
    }
    int size = GDALGetDataTypeSizeBytes(type);
    if (image.empty() || column < 0 || row < 0 || column >= image.cols || row >= image.rows || size <= 0 ||
        size != static_cast<int>(image.elemSize1())) {
        return channels;
    }
    const uchar* p = image.ptr(row) + static_cast<size_t>(column) * channels * size;
    for (int k = 0; k < channels; ++k, p += size) {
        switch (type) {
            case GDT_Byte:
                values[k] = *p;
                break;
            case GDT_UInt16: {
                uint16_t v;
                std::memcpy(&v, p, 2);
                values[k] = v;
                break;
            }
            case GDT_Int16: {
                int16_t v;
                std::memcpy(&v, p, 2);
                values[k] = v;
                break;
            }
            case GDT_UInt32: {
                uint32_t v;
                std::memcpy(&v, p, 4);
                values[k] = v;
                break;
            }
            case GDT_Int32: {
                int32_t v;
                std::memcpy(&v, p, 4);
                values[k] = v;
                break;
            }
            case GDT_Float32: {
                float v;
                std::memcpy(&v, p, 4);
                values[k] = v;
                break;
            }
            case GDT_Float64:
                std::memcpy(&values[k], p, 8);
                break;
            default:
                break;
        }
    }
    return channels;
}

bool LoadOrthophotoImage(const QString& path, cv::Mat& image, double* geoTransform) {
    image.release();
    if (geoTransform) {
        std::fill(geoTransform, geoTransform + 6, 0.0);
    }
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to open OrthoPhoto file!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    double gt[6];
    bool hasGeoTransform = GDALGetGeoTransform(ds, gt) == CE_None;
    if (hasGeoTransform && geoTransform) {
        std::copy(gt, gt + 6, geoTransform);
    }
    int bands = GDALGetRasterCount(ds);
    bool valid = hasGeoTransform && (bands == 3 || bands == 4) &&
                 GDALGetRasterDataType(GDALGetRasterBand(ds, 1)) == GDT_Byte;
    if (valid) {
        image.create(GDALGetRasterYSize(ds), GDALGetRasterXSize(ds), CV_8UC3);
        int bandMap[3] = {1, 2, 3};
        valid =
            GDALDatasetRasterIO(ds, GF_Read, 0, 0, image.cols, image.rows, image.data, image.cols, image.rows,
                                GDT_Byte, 3, bandMap, 3, static_cast<GSpacing>(image.step), 1) == CE_None;
    }
    GDALClose(ds);
    if (!valid) {
        image.release();
        KvMessageBox(QStringLiteral("Invalid OrthoPhoto file!"), MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    return true;
}

bool SaveImageAsGeoTiff(const cv::Mat& image, const double* geoTransform, const QString& projection,
                        double noData, const QString& path, ProgressSink* progress) {
    GDALDataType type = image.empty() ? GDT_Unknown : GetGDALDataType(image.depth());
    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    if (type == GDT_Unknown || !gtiff || path.isEmpty() ||
        !kv::RasterFitsOnDisk(path, image.cols, image.rows, image.channels(), type)) {
        return false;
    }
    QString temporary = kv::TemporaryPathFor(path);
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_SAFER", nullptr};
    int channels = image.channels();
    GDALDatasetH ds = GDALCreate(gtiff, QFile::encodeName(temporary).constData(), image.cols, image.rows,
                                 channels, type, const_cast<char**>(options));
    if (!ds) {
        kv::RemoveRasterFile(temporary);
        return false;
    }
    if (geoTransform) {
        GDALSetGeoTransform(ds, const_cast<double*>(geoTransform));
    }
    if (!projection.isEmpty()) {
        GDALSetProjection(ds, projection.toUtf8().constData());
    }
    if (progress) {
        progress->SetRange(0, 3);
        progress->SetPos(0);
    }
    ZQT_PumpMessages();
    bool ok = true;
    for (int i = 1; i <= channels; ++i) {
        GDALSetRasterNoDataValue(GDALGetRasterBand(ds, i), noData);
    }
    // All bands of a strip in one call: the file interleaves the bands by pixel, so each of its
    // blocks is written once. The progress moves one step per band's share of the rows.
    auto cell = static_cast<int>(image.elemSize1());
    for (int i = 0; i < channels && ok; ++i) {
        if (progress) {
            progress->SetPos(i);
        }
        ZQT_PumpMessages();
        const int top = static_cast<int>(static_cast<int64_t>(image.rows) * i / channels);
        const int bottom = static_cast<int>(static_cast<int64_t>(image.rows) * (i + 1) / channels);
        if (bottom > top) {
            ok = GDALDatasetRasterIO(ds, GF_Write, 0, top, image.cols, bottom - top,
                                     const_cast<uchar*>(image.ptr(top)), image.cols, bottom - top, type,
                                     channels, nullptr, static_cast<GSpacing>(cell) * channels,
                                     static_cast<GSpacing>(image.step), cell) == CE_None;
        }
    }
    if (ok) {
        if (progress) {
            progress->SetRange(0, 100);
        }
        CGDALListener listener(progress);
        ok = kv::BuildOverviews(ds, &listener) != 0;
    }
    ok = kv::CloseDataset(ds) && ok;
    if (!ok || !kv::MoveIntoPlace(temporary, path)) {
        kv::RemoveRasterFile(temporary);
        return false;
    }
    return true;
}

cv::Mat BuildValidAreaMask(const cv::Mat& image) {
    if (image.empty() || image.depth() != CV_8U) {
        return cv::Mat();
    }
    cv::Mat grey;
    switch (image.channels()) {
        case 1:
            grey = image.clone();
            break;
        case 3:
            cv::cvtColor(image, grey, cv::COLOR_RGB2GRAY);
            break;
        case 4:
            cv::cvtColor(image, grey, cv::COLOR_RGBA2GRAY);
            break;
        default:
            return cv::Mat();
    }
    cv::threshold(grey, grey, 1, 255, cv::THRESH_BINARY);
    // Padding with zeros makes the erosion take the image's own border in as well.
    const int pad = 7;
    cv::Mat padded = cv::Mat::zeros(grey.rows + 2 * pad, grey.cols + 2 * pad, CV_8UC1);
    grey.copyTo(padded(cv::Rect(pad, pad, grey.cols, grey.rows)));
    cv::Mat element = cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3));
    cv::dilate(padded, padded, element, cv::Point(-1, -1), 5);
    cv::erode(padded, padded, element, cv::Point(-1, -1), 7);
    return padded(cv::Rect(pad, pad, grey.cols, grey.rows)).clone();
}

cv::Mat ResizeImageRegion(const cv::Mat& image, const cv::Rect* rect, cv::Size size, double fillValue) {
    if (image.empty() || size.width <= 0 || size.height <= 0) {
        return cv::Mat();
    }
    cv::Rect whole(0, 0, image.cols, image.rows);
    cv::Rect sourcePart;
    cv::Rect targetPart;
    if (!kv::MapRegion(rect ? *rect : whole, image.size(), size, &sourcePart, &targetPart)) {
        return cv::Mat();
    }
    cv::Mat result(size, image.type(), cv::Scalar::all(fillValue));
    cv::Mat target = result(targetPart);
    cv::resize(image(sourcePart), target, targetPart.size(), 0, 0, cv::INTER_LINEAR);
    return result;
}

CDEM* LoadDemFromGeoTiff(const QString& path, bool readOnly) {
    auto dem = std::make_unique<CDEM>(nullptr);
    dem->m_path = path;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), readOnly ? GA_ReadOnly : GA_Update);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to open selected file!"), MB_OK | MB_ICONEXCLAMATION);
        return nullptr;
    }
    if (!CDEM::IsValidDemDataset(ds)) {
        GDALClose(ds);
        KvMessageBox(QStringLiteral("Invalid DEM file!"), MB_OK | MB_ICONEXCLAMATION);
        return nullptr;
    }
    dem->m_pDataset = ds;
    QString cause;
    if (!kv::CheckRasterReadable(ds, &cause)) {
        KvMessageBox(kv::UnreadableRasterText(path, cause), MB_OK | MB_ICONEXCLAMATION);
        return nullptr;
    }
    GDALGetGeoTransform(ds, dem->m_geoTransform);
    const char* wkt = GDALGetProjectionRef(ds);
    dem->m_projection = wkt ? QString::fromUtf8(wkt) : QString();
    dem->m_name = QFileInfo(path).fileName().toLower();

    // The elevation range comes from a preview of at most 512 x 512 cells.
    double cells = static_cast<double>(dem->Width()) * dem->Height();
    double scale = std::sqrt(std::min(cells, 262144.0) / cells);
    cv::Size preview(static_cast<int>(std::rint(dem->Width() * scale)),
                     static_cast<int>(std::rint(dem->Height() * scale)));
    const cv::Mat image = kv::ReadQuietly([&] { return dem->CreateRegionImage(nullptr, preview); }, &cause);
    if (image.empty()) {
        KvMessageBox(kv::UnreadableRasterText(path, cause), MB_OK | MB_ICONEXCLAMATION);
        return nullptr;
    }
    dem->m_minElevation = std::numeric_limits<double>::max();
    dem->m_maxElevation = std::numeric_limits<double>::lowest();
    for (int r = 0; r < image.rows; ++r) {
        const float* p = image.ptr<float>(r);
        for (int c = 0; c < image.cols; ++c) {
            if (!IsNoData(p[c])) {
                dem->m_minElevation = std::min<double>(dem->m_minElevation, p[c]);
                dem->m_maxElevation = std::max<double>(dem->m_maxElevation, p[c]);
            }
        }
    }
    return dem.release();
}

namespace kv {

QString ReadFailureText(const GdalFailureWatch& watch) {
    const QString first = watch.FirstFailure();
    return first.isEmpty() ? QStringLiteral("read error") : first;
}

namespace {

// Whether the bands of the raster share their blocks (pixel interleaving): reading a block of
// band 1 then reads the cells of every band.
bool BandsShareBlocks(GDALDatasetH dataset) {
    const char* interleave = GDALGetMetadataItem(dataset, "INTERLEAVE", "IMAGE_STRUCTURE");
    return interleave && EQUAL(interleave, "PIXEL");
}

int BandsToRead(GDALDatasetH dataset) {
    const int bands = GDALGetRasterCount(dataset);
    return bands > 1 && BandsShareBlocks(dataset) ? 1 : bands;
}

// The band and each of its overview levels.
std::vector<GDALRasterBandH> BandLevels(GDALRasterBandH band) {
    std::vector<GDALRasterBandH> levels{band};
    const int count = GDALGetOverviewCount(band);
    for (int i = 0; i < count; ++i) {
        if (GDALRasterBandH overview = GDALGetOverview(band, i)) {
            levels.push_back(overview);
        }
    }
    return levels;
}

struct BlockGrid {
    int blockX = 1;
    int blockY = 1;
    int columns = 0;
    int rows = 0;
};

BlockGrid BlocksOf(GDALRasterBandH band) {
    BlockGrid grid;
    GDALGetBlockSize(band, &grid.blockX, &grid.blockY);
    grid.blockX = std::max(grid.blockX, 1);
    grid.blockY = std::max(grid.blockY, 1);
    grid.columns = (GDALGetRasterBandXSize(band) + grid.blockX - 1) / grid.blockX;
    grid.rows = (GDALGetRasterBandYSize(band) + grid.blockY - 1) / grid.blockY;
    return grid;
}

// The block whose bytes end last in the file, where the driver tells where its blocks lie (a
// GeoTIFF does); the last block otherwise.
cv::Point LastStoredBlock(GDALRasterBandH band, const BlockGrid& grid) {
    cv::Point last(grid.columns - 1, grid.rows - 1);
    unsigned long long farthest = 0;
    for (int y = 0; y < grid.rows; ++y) {
        for (int x = 0; x < grid.columns; ++x) {
            const char* offset = GDALGetMetadataItem(band, CPLSPrintf("BLOCK_OFFSET_%d_%d", x, y), "TIFF");
            if (!offset) {
                if (x == 0 && y == 0) {
                    return last;
                }
                continue;  // a block never written, which reads as empty
            }
            const char* size = GDALGetMetadataItem(band, CPLSPrintf("BLOCK_SIZE_%d_%d", x, y), "TIFF");
            const unsigned long long end =
                std::strtoull(offset, nullptr, 10) + (size ? std::strtoull(size, nullptr, 10) : 0);
            if (end > farthest) {
                farthest = end;
                last = cv::Point(x, y);
            }
        }
    }
    return last;
}

// Reads one block from the file (never from GDAL's block cache) into the buffer.
bool ReadBlockFromFile(GDALRasterBandH band, const BlockGrid& grid, cv::Point block,
                       std::vector<unsigned char>& buffer) {
    const size_t bytes = static_cast<size_t>(grid.blockX) * static_cast<size_t>(grid.blockY) *
                         static_cast<size_t>(GDALGetDataTypeSizeBytes(GDALGetRasterDataType(band)));
    buffer.resize(bytes);
    return GDALReadBlock(band, block.x, block.y, buffer.data()) == CE_None;
}

int g_quietReads = 0;

}  // namespace

bool CheckRasterReadable(GDALDatasetH dataset, QString* cause) {
    GdalFailureWatch watch;
    std::vector<unsigned char> buffer;
    // Every band: the bands of the raster may share their blocks while those of an overview level
    // (in a side file, say) each have their own.
    const int bands = dataset ? GDALGetRasterCount(dataset) : 0;
    for (int b = 1; b <= bands; ++b) {
        for (GDALRasterBandH level : BandLevels(GDALGetRasterBand(dataset, b))) {
            const BlockGrid grid = BlocksOf(level);
            const bool read = grid.columns <= 0 || grid.rows <= 0 ||
                              ReadBlockFromFile(level, grid, LastStoredBlock(level, grid), buffer);
            // Any failure GDAL reports meanwhile (the directory of an overview level that cannot
            // be read, say) refuses the file as well.
            if (!read || watch.Failed()) {
                if (cause) {
                    *cause = ReadFailureText(watch);
                }
                return false;
            }
        }
    }
    return true;
}

bool ReadEveryBlock(GDALDatasetH dataset, CGDALListener* listener, QString* cause) {
    GdalFailureWatch watch;
    const int bands = dataset ? BandsToRead(dataset) : 0;
    double total = 0.0;
    for (int b = 1; b <= bands; ++b) {
        const BlockGrid grid = BlocksOf(GDALGetRasterBand(dataset, b));
        total += static_cast<double>(grid.columns) * grid.rows;
    }
    std::vector<unsigned char> buffer;
    double done = 0.0;
    for (int b = 1; b <= bands; ++b) {
        GDALRasterBandH band = GDALGetRasterBand(dataset, b);
        const BlockGrid grid = BlocksOf(band);
        for (int y = 0; y < grid.rows; ++y) {
            for (int x = 0; x < grid.columns; ++x) {
                if (!ReadBlockFromFile(band, grid, cv::Point(x, y), buffer)) {
                    if (cause) {
                        *cause = ReadFailureText(watch);
                    }
                    return false;
                }
                // The read decides: a request to stop is not taken here.
                GDALListenerProgress(++done / total, nullptr, listener);
            }
        }
    }
    return true;
}

QString UnreadableRasterText(const QString& path, const QString& cause) {
    return QStringLiteral("Unable to read %1: %2").arg(QDir::toNativeSeparators(path), cause);
}

void ReportUnreadableRaster(const QString& path, const QString& cause) {
    if (g_quietReads > 0) {
        return;
    }
    // The piece of work in which each file's failure was last shown.
    static std::map<QString, int> shownIn;
    const int episode = BusyCount() > 0 ? BusyEpisode() : 0;
    auto shown = shownIn.find(path);
    if (episode != 0 && shown != shownIn.end() && shown->second == episode) {
        return;
    }
    shownIn[path] = episode;
    KvMessageBox(UnreadableRasterText(path, cause), MB_OK | MB_ICONEXCLAMATION);
}

cv::Mat ReadQuietly(const std::function<cv::Mat()>& read, QString* cause) {
    GdalFailureWatch watch;
    QuietReadFailures quiet;
    cv::Mat image = read();
    if (image.empty() && cause) {
        *cause = ReadFailureText(watch);
    }
    return image;
}

QuietReadFailures::QuietReadFailures() {
    ++g_quietReads;
}

QuietReadFailures::~QuietReadFailures() {
    --g_quietReads;
}

int OverviewHalvings(int width, int height) {
    int m = std::max(width, height);
    int halvings = 0;
    while (m > 512) {
        m /= 2;
        ++halvings;
    }
    return halvings;
}

int OverviewLevelCount(int width, int height) {
    return OverviewHalvings(width, height) - 1;
}

int BuildOverviews(GDALDatasetH dataset, CGDALListener* listener) {
    return BuildOverviews(dataset, listener,
                          OverviewLevelCount(GDALGetRasterXSize(dataset), GDALGetRasterYSize(dataset)));
}

int BuildOverviews(GDALDatasetH dataset, CGDALListener* listener, int n) {
    if (n <= 0) {
        return 1;
    }
    std::vector<int> levels;
    for (int i = 1; i <= n; ++i) {
        levels.push_back(1 << i);
    }
    GDALProgressFunc progress = listener ? GDALListenerProgress : GDALDummyProgress;
    // A stop asked through the progress function is reported as an error while the build may
    // still answer success, so the reports are watched as well.
    GdalFailureWatch watch;
    bool built =
        GDALBuildOverviews(dataset, "NEAREST", n, levels.data(), 0, nullptr, progress, listener) == CE_None;
    return built && !watch.Failed();
}

BlockCacheCap::BlockCacheCap(GIntBig bytes) : m_previous(GDALGetCacheMax64()) {
    if (bytes < m_previous) {
        GDALSetCacheMax64(bytes);
    }
}

BlockCacheCap::~BlockCacheCap() {
    GDALSetCacheMax64(m_previous);
}

bool CloseDataset(GDALDatasetH dataset) {
    if (!dataset) {
        return false;
    }
    GdalFailureWatch watch;
    GDALClose(dataset);
    return !watch.Failed();
}

QStringList RasterSideFiles(const QString& path) {
    return {path + QStringLiteral(".ovr"), path + QStringLiteral(".aux.xml")};
}

namespace {

// The world file GDAL writes beside a GeoTIFF: the extension replaced by "tfw".
QString WorldFileOf(const QString& path) {
    return QFile::decodeName(CPLResetExtension(QFile::encodeName(path).constData(), "tfw"));
}

}  // namespace

bool MoveIntoPlace(const QString& temporary, const QString& path, const std::vector<SetFile>& extra) {
    // The raster reads alone, so it is never missing: the old side files go first, since
    // overviews and statistics beside the old raster describe cells that are gone, and those GDAL
    // wrote beside the new raster follow it.
    std::vector<SetFile> parts;
    for (const QString& side : RasterSideFiles(path)) {
        const QString fresh = temporary + side.mid(path.size());
        parts.push_back({QFileInfo::exists(fresh) ? fresh : QString(), side});
    }
    parts.insert(parts.end(), extra.begin(), extra.end());
    if (!PlaceFileSet({temporary, path}, parts, SetParts::Optional)) {
        const int error = errno;
        RemoveRasterFile(temporary);
        errno = error;
        return false;
    }
    return true;
}

void RemoveRasterFile(const QString& path) {
    QFile::remove(path);
    for (const QString& side : RasterSideFiles(path)) {
        QFile::remove(side);
    }
}

NewFloatRaster::NewFloatRaster(const QString& path) : m_path(path), m_temporary(TemporaryPathFor(path)) {}

NewFloatRaster::~NewFloatRaster() {
    if (m_dataset) {
        GDALClose(m_dataset);
    }
    if (!m_placed) {
        RemoveRasterFile(m_temporary);
        QFile::remove(WorldFileOf(m_temporary));
    }
}

bool NewFloatRaster::Create(int columns, int rows, const char* const* options, const double* gt,
                            double noData, const QByteArray& projection, int bands) {
    GDALDriverH driver =
        RasterFitsOnDisk(m_path, columns, rows, bands, GDT_Float32) ? GDALGetDriverByName("GTiff") : nullptr;
    m_dataset = driver ? GDALCreate(driver, QFile::encodeName(m_temporary).constData(), columns, rows, bands,
                                    GDT_Float32, const_cast<char**>(options))
                       : nullptr;
    bool ok = m_dataset && GDALSetGeoTransform(m_dataset, const_cast<double*>(gt)) == CE_None;
    for (int b = 1; ok && b <= bands; ++b) {
        ok = GDALSetRasterNoDataValue(GDALGetRasterBand(m_dataset, b), noData) == CE_None;
    }
    return ok && (projection.isEmpty() || GDALSetProjection(m_dataset, projection.constData()) == CE_None);
}

bool NewFloatRaster::Place() {
    const bool closed = CloseDataset(m_dataset);
    m_dataset = nullptr;
    if (!closed) {
        return false;
    }
    // The world file GDAL wrote places the raster for the programs that read it: the two go
    // together.
    const QString world = WorldFileOf(m_temporary);
    std::vector<SetFile> extra;
    if (QFileInfo::exists(world)) {
        extra.push_back({world, WorldFileOf(m_path)});
    }
    if (!MoveIntoPlace(m_temporary, m_path, extra)) {
        return false;
    }
    m_placed = true;
    return true;
}

bool MapRegion(const cv::Rect& rect, cv::Size source, cv::Size target, cv::Rect* sourcePart,
               cv::Rect* targetPart) {
    if (rect.width <= 0 || rect.height <= 0 || target.width <= 0 || target.height <= 0 ||
        rect.x >= source.width || rect.y >= source.height || rect.x + rect.width <= 0 ||
        rect.y + rect.height <= 0) {
        return false;
    }
    cv::Rect clipped = rect & cv::Rect(0, 0, source.width, source.height);
    double fx = static_cast<double>(target.width) / rect.width;
    double fy = static_cast<double>(target.height) / rect.height;
    int left = static_cast<int>((clipped.x - rect.x) * fx);
    int top = static_cast<int>((clipped.y - rect.y) * fy);
    int width = std::min(static_cast<int>(std::rint(fx * clipped.width)), target.width - left);
    int height = std::min(static_cast<int>(std::rint(fy * clipped.height)), target.height - top);
    if (clipped.width < 1 || clipped.height < 1 || width < 1 || height < 1) {
        return false;
    }
    *sourcePart = clipped;
    *targetPart = cv::Rect(left, top, width, height);
    return true;
}

}  // namespace kv
