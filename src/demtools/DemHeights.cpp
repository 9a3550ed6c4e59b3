#include "demtools/DemHeights.h"

#include <QFile>

#include <cpl_conv.h>
#include <gdal_vrt.h>

#include <string>

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
    if (encoding.type == GDT_Float32 && encoding.noData == kNoData && encoding.offset == 0.0 &&
        encoding.scale == 1.0) {
        m_dataset = dem.m_pDataset;
        return;
    }
    // Cells equal to the band's no-data value are skipped by the source and keep the virtual
    // band's own no-data value; every other cell becomes value x scale + offset.
    const int width = GDALGetRasterXSize(dem.m_pDataset);
    const int height = GDALGetRasterYSize(dem.m_pDataset);
    VRTDatasetH vrt = VRTCreate(width, height);
    if (!vrt) {
        return;
    }
    GDALSetGeoTransform(vrt, dem.m_geoTransform);
    if (GDALAddBand(vrt, GDT_Float32, nullptr) != CE_None) {
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
