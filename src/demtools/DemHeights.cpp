#include "demtools/DemHeights.h"

#include <QFile>

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <gdal_vrt.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char* const kFiniteHeights = "KvFiniteHeights";

// The pixel function of a derived band over one Float32 source: cells that are no finite number
// become -9999, as the DEM's own reads make them.
CPLErr FiniteHeights(void** sources, int count, void* data, int width, int height, GDALDataType sourceType,
                     GDALDataType bufferType, int pixelSpace, int lineSpace) {
    if (count != 1 || sourceType != GDT_Float32) {
        return CE_Failure;
    }
    std::vector<float> row(static_cast<size_t>(width));
    for (int r = 0; r < height; ++r) {
        const float* cells = static_cast<const float*>(sources[0]) + static_cast<size_t>(r) * width;
        for (int c = 0; c < width; ++c) {
            row[size_t(c)] = std::isfinite(cells[c]) ? cells[c] : kNoData;
        }
        GDALCopyWords(row.data(), GDT_Float32, sizeof(float),
                      static_cast<GByte*>(data) + size_t(r) * lineSpace, bufferType, pixelSpace, width);
    }
    return CE_None;
}

// Cells that are no finite number become -9999, in place.
template <typename T>
void MakeFinite(GByte* data, int width, int height, GSpacing pixelSpace, GSpacing lineSpace) {
    for (int r = 0; r < height; ++r) {
        GByte* row = data + r * lineSpace;
        for (int c = 0; c < width; ++c) {
            T* cell = reinterpret_cast<T*>(row + c * pixelSpace);
            if (!std::isfinite(*cell)) {
                *cell = T(kNoData);
            }
        }
    }
}

// A Float32 band whose cells are a Float32 band's own, no data -9999 (or no number) as there, with
// every cell that is no finite number made -9999. Reads go straight to the source, which keeps the
// blocks, into the caller's buffer: no copy and no allocation per read.
class FiniteHeightsBand final : public GDALRasterBand {
public:
    FiniteHeightsBand(GDALDataset* owner, GDALRasterBand* source) : m_source(source) {
        poDS = owner;
        nBand = 1;
        eDataType = GDT_Float32;
        nRasterXSize = source->GetXSize();
        nRasterYSize = source->GetYSize();
        source->GetBlockSize(&nBlockXSize, &nBlockYSize);
    }
    double GetNoDataValue(int* success) override {
        if (success) {
            *success = TRUE;
        }
        return kNoData;
    }

protected:
    CPLErr IReadBlock(int blockX, int blockY, void* image) override {
        const int x = blockX * nBlockXSize, y = blockY * nBlockYSize;
        const int width = std::min(nBlockXSize, nRasterXSize - x),
                  height = std::min(nBlockYSize, nRasterYSize - y);
        const GSpacing line = GSpacing(nBlockXSize) * GSpacing(sizeof(float));
        // The blocks are the source's own: a source that cannot have changed blocks in GDAL's cache
        // gives its block straight from the file, past the cache.
        const CPLErr read = m_source->GetAccess() == GA_ReadOnly
                                ? m_source->ReadBlock(blockX, blockY, image)
                                : m_source->RasterIO(GF_Read, x, y, width, height, image, width, height,
                                                     GDT_Float32, sizeof(float), line, nullptr);
        if (read != CE_None) {
            return CE_Failure;
        }
        MakeFinite<float>(static_cast<GByte*>(image), width, height, sizeof(float), line);
        return CE_None;
    }
    CPLErr IRasterIO(GDALRWFlag flag, int x, int y, int width, int height, void* data, int bufferWidth,
                     int bufferHeight, GDALDataType type, GSpacing pixelSpace, GSpacing lineSpace,
                     GDALRasterIOExtraArg* extra) override {
        if (flag != GF_Read) {
            return CE_Failure;
        }
        // Other buffer types take the blocks, made finite as Float32 before they are converted.
        if (type != GDT_Float32 && type != GDT_Float64) {
            return GDALRasterBand::IRasterIO(flag, x, y, width, height, data, bufferWidth, bufferHeight, type,
                                             pixelSpace, lineSpace, extra);
        }
        if (m_source->RasterIO(GF_Read, x, y, width, height, data, bufferWidth, bufferHeight, type,
                               pixelSpace, lineSpace, extra) != CE_None) {
            return CE_Failure;
        }
        if (type == GDT_Float32) {
            MakeFinite<float>(static_cast<GByte*>(data), bufferWidth, bufferHeight, pixelSpace, lineSpace);
        } else {
            MakeFinite<double>(static_cast<GByte*>(data), bufferWidth, bufferHeight, pixelSpace, lineSpace);
        }
        return CE_None;
    }

private:
    GDALRasterBand* m_source;
};

class FiniteHeightsDataset final : public GDALDataset {
public:
    FiniteHeightsDataset(GDALRasterBand* source, const double* geoTransform) {
        nRasterXSize = source->GetXSize();
        nRasterYSize = source->GetYSize();
        std::copy(geoTransform, geoTransform + 6, m_geoTransform);
        SetBand(1, new FiniteHeightsBand(this, source));
        m_source = source;
    }
    // The source's blocks read through this leave GDAL's cache with it (a read-only source has
    // none to write).
    ~FiniteHeightsDataset() override {
        if (m_source->GetAccess() == GA_ReadOnly) {
            m_source->FlushCache(false);
        }
    }
    CPLErr GetGeoTransform(double* transform) override {
        std::copy(m_geoTransform, m_geoTransform + 6, transform);
        return CE_None;
    }

private:
    GDALRasterBand* m_source;
    double m_geoTransform[6];
};

}  // namespace

DemHeights::DemHeights(CDEM& dem) {
    if (!dem.m_grid.empty()) {
        m_owned = WrapGridAsDataset(dem.m_grid, dem.m_geoTransform, dem.m_projection);
        m_dataset = m_owned;
        return;
    }
    if (!dem.m_pDataset) {
        return;
    }
    GDALRasterBandH band = GDALGetRasterBand(dem.m_pDataset, 1);
    if (!band) {
        return;
    }
    const HeightEncoding encoding = BandHeightEncoding(band);
    int hasNoData = 0;
    GDALGetRasterNoDataValue(band, &hasNoData);
    // Float32 heights as they are, whose no-data cells are -9999 or no number already: the cells
    // pass unchanged but for those that are no finite number.
    if (encoding.type == GDT_Float32 && encoding.scale == 1.0 && encoding.offset == 0.0 &&
        (!hasNoData || encoding.noData == kNoData || std::isnan(encoding.noData))) {
        m_owned = GDALDataset::ToHandle(
            new FiniteHeightsDataset(GDALRasterBand::FromHandle(band), dem.m_geoTransform));
        m_dataset = m_owned;
        return;
    }
    // Cells equal to the band's no-data value are skipped by the source and keep the virtual
    // band's own no-data value; every other cell becomes value x scale + offset. A band of real
    // numbers may also hold cells that are no finite number: a derived band makes them no data.
    const bool real = encoding.type == GDT_Float32 || encoding.type == GDT_Float64;
    const int width = GDALGetRasterXSize(dem.m_pDataset);
    const int height = GDALGetRasterYSize(dem.m_pDataset);
    VRTDatasetH vrt = VRTCreate(width, height);
    if (!vrt) {
        return;
    }
    GDALSetGeoTransform(vrt, dem.m_geoTransform);
    static std::once_flag registered;
    std::call_once(registered, [] { GDALAddDerivedBandPixelFunc(kFiniteHeights, FiniteHeights); });
    const std::string function = std::string("PixelFunctionType=") + kFiniteHeights;
    const char* derived[] = {"subClass=VRTDerivedRasterBand", function.c_str(), "SourceTransferType=Float32",
                             nullptr};
    if (GDALAddBand(vrt, GDT_Float32, real ? const_cast<char**>(derived) : nullptr) != CE_None) {
        GDALClose(vrt);
        return;
    }
    auto* heights = static_cast<VRTSourcedRasterBandH>(GDALGetRasterBand(vrt, 1));
    GDALSetRasterNoDataValue(heights, kNoData);
    const CPLErr added =
        VRTAddComplexSource(heights, band, 0, 0, width, height, 0, 0, width, height, encoding.offset,
                            encoding.scale, hasNoData ? encoding.noData : VRT_NODATA_UNSET);
    if (added != CE_None) {
        GDALClose(vrt);
        return;
    }
    m_owned = vrt;
    m_dataset = vrt;
}

DemHeights::~DemHeights() {
    if (m_owned) {
        GDALClose(m_owned);
    }
}

GDALDatasetH WrapGridAsDataset(const cv::Mat& grid, const double* geoTransform, const QString& projection) {
    if (grid.empty() || grid.type() != CV_32FC1) {
        return nullptr;
    }
    GDALDriverH mem = GDALGetDriverByName("MEM");
    if (!mem) {
        return nullptr;
    }
    GDALDatasetH ds = GDALCreate(mem, "", grid.cols, grid.rows, 0, GDT_Float32, nullptr);
    if (!ds) {
        return nullptr;
    }
    char pointer[64] = {};
    CPLPrintPointer(pointer, const_cast<uchar*>(grid.data), sizeof pointer - 1);
    const std::string data = std::string("DATAPOINTER=") + pointer;
    const std::string pixel = "PIXELOFFSET=" + std::to_string(grid.elemSize());
    const std::string line = "LINEOFFSET=" + std::to_string(grid.step[0]);
    const char* options[] = {data.c_str(), pixel.c_str(), line.c_str(), nullptr};
    if (GDALAddBand(ds, GDT_Float32, const_cast<char**>(options)) != CE_None) {
        GDALClose(ds);
        return nullptr;
    }
    GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), kNoData);
    if (geoTransform) {
        GDALSetGeoTransform(ds, const_cast<double*>(geoTransform));
    }
    if (!projection.isEmpty()) {
        GDALSetProjection(ds, projection.toUtf8().constData());
    }
    return ds;
}

HeightEncoding DemFileEncoding(const CDEM& dem) {
    if (dem.m_pDataset) {
        return BandHeightEncoding(GDALGetRasterBand(dem.m_pDataset, 1));
    }
    GDALDatasetH ds = GDALOpen(QFile::encodeName(dem.m_path).constData(), GA_ReadOnly);
    if (!ds) {
        return HeightEncoding();
    }
    const HeightEncoding encoding = BandHeightEncoding(GDALGetRasterBand(ds, 1));
    GDALClose(ds);
    return encoding;
}
