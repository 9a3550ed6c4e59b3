#include "demtools/DemHeights.h"

#include <QFile>

#include <cpl_conv.h>
#include <gdal_vrt.h>

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
    int hasNoData = 0;
    GDALGetRasterNoDataValue(band, &hasNoData);
    if (VRTAddComplexSource(heights, band, 0, 0, width, height, 0, 0, width, height, encoding.offset,
                            encoding.scale, hasNoData ? encoding.noData : VRT_NODATA_UNSET) != CE_None) {
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
