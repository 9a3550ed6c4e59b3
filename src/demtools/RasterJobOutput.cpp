#include "demtools/RasterJobOutput.h"

#include <QFile>

#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

// GDAL's block cache while the overviews are built and the file is closed: the raster's blocks
// pass through it once, and blocks that leave it lend their memory to those that follow.
constexpr GIntBig kOverviewCacheBytes = GIntBig(64) << 20;

// The per-band settings of a source band carried over to the output: no data, scale, offset.
void CopyBandSettings(GDALRasterBandH from, GDALRasterBandH to, double* fill) {
    int set = 0;
    const double noData = GDALGetRasterNoDataValue(from, &set);
    *fill = 0.0;
    if (set) {
        GDALSetRasterNoDataValue(to, noData);
        *fill = noData;
    }
    const double scale = GDALGetRasterScale(from, &set);
    if (set && scale != 1.0) {
        GDALSetRasterScale(to, scale);
    }
    const double offset = GDALGetRasterOffset(from, &set);
    if (set && offset != 0.0) {
        GDALSetRasterOffset(to, offset);
    }
}

}  // namespace

int CellDepth(GDALDataType type) {
    return GetCVDepth(type);
}

std::vector<uchar> CellBytes(double value, GDALDataType type) {
    std::vector<uchar> bytes(size_t(std::max(1, GDALGetDataTypeSizeBytes(type))));
    GDALCopyWords(&value, GDT_Float64, 0, bytes.data(), type, 0, 1);
    return bytes;
}

RasterJobOutput::RasterJobOutput(const RasterSource& source, const QString& path, int width, int height)
    : m_source(source), m_path(path) {
    const int bands = GDALGetRasterCount(source.dataset);
    GDALDriverH gtiff = GDALGetDriverByName("GTiff");
    if (!gtiff || bands < 1 || width < 1 || height < 1) {
        return;
    }
    m_type =
        source.heights ? source.encoding.type : GDALGetRasterDataType(GDALGetRasterBand(source.dataset, 1));
    if (CellDepth(m_type) < 0 || !kv::RasterFitsOnDisk(path, width, height, bands, m_type)) {
        return;
    }
    m_temporary = kv::TemporaryPathFor(path);
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_SAFER", nullptr};
    m_dataset = GDALCreate(gtiff, QFile::encodeName(m_temporary).constData(), width, height, bands, m_type,
                           const_cast<char**>(options));
    if (!m_dataset) {
        kv::RemoveRasterFile(m_temporary);
        return;
    }
    m_fill.resize(size_t(bands));
    for (int b = 1; b <= bands; ++b) {
        if (source.heights) {
            GDALRasterBandH band = GDALGetRasterBand(m_dataset, b);
            GDALSetRasterNoDataValue(band, source.encoding.noData);
            if (source.encoding.scale != 1.0) {
                GDALSetRasterScale(band, source.encoding.scale);
            }
            if (source.encoding.offset != 0.0) {
                GDALSetRasterOffset(band, source.encoding.offset);
            }
            // Heights are filled with -9999, which the encoding turns into the band's value.
            m_fill[size_t(b - 1)] = kNoData;
        } else {
            CopyBandSettings(GDALGetRasterBand(source.dataset, b), GDALGetRasterBand(m_dataset, b),
                             &m_fill[size_t(b - 1)]);
        }
    }
}

RasterJobOutput::~RasterJobOutput() {
    if (m_dataset) {
        GDALClose(m_dataset);
    }
    if (!m_done && !m_temporary.isEmpty()) {
        kv::RemoveRasterFile(m_temporary);
    }
}

bool RasterJobOutput::Write(int band, int x, int y, const cv::Mat& block, GDALDataType type) {
    const cv::Mat* cells = &block;
    cv::Mat encoded;
    if (m_source.heights && type == GDT_Float32) {
        encoded.create(block.size(), CV_MAKETYPE(CellDepth(m_type), 1));
        EncodeHeights(block, encoded, m_source.encoding);
        cells = &encoded;
        type = m_type;
    }
    return GDALRasterIOEx(Band(band), GF_Write, x, y, cells->cols, cells->rows, cells->data, cells->cols,
                          cells->rows, type, static_cast<GSpacing>(cells->elemSize()),
                          static_cast<GSpacing>(cells->step[0]), nullptr) == CE_None;
}

bool RasterJobOutput::Finish(const double* geoTransform, ProgressSink* progress) {
    if (!m_dataset) {
        return false;
    }
    GDALSetGeoTransform(m_dataset, const_cast<double*>(geoTransform));
    const char* projection = GDALGetProjectionRef(m_source.dataset);
    if (projection && *projection) {
        GDALSetProjection(m_dataset, projection);
    }
    if (progress) {
        progress->SetRange(0, 100);
        progress->SetPos(0);
    }
    CGDALListener listener(progress);
    bool ok = false;
    {
        const kv::BlockCacheCap cap(kOverviewCacheBytes);
        ok = kv::BuildOverviews(m_dataset, &listener) != 0;
        GDALDatasetH dataset = m_dataset;
        m_dataset = nullptr;
        ok = kv::CloseDataset(dataset) && ok;
    }
    if (!ok || !kv::MoveIntoPlace(m_temporary, m_path)) {
        return false;
    }
    m_done = true;
    return true;
}
