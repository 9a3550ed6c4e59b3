#include "support/RasterFixtures.h"

#include <QFile>

#include <cstring>

namespace kvtest {

QString WriteRaster(const QString& path, const RasterSpec& spec,
                    const std::function<double(int, int, int)>& value) {
    GDALDriverH driver = GDALGetDriverByName(spec.driver.c_str());
    std::vector<const char*> options;
    for (const std::string& o : spec.options) {
        options.push_back(o.c_str());
    }
    options.push_back(nullptr);
    GDALDatasetH ds = GDALCreate(driver, QFile::encodeName(path).constData(), spec.width, spec.height,
                                 spec.bands, spec.type, const_cast<char**>(options.data()));
    if (!ds) {
        return QString();
    }
    if (spec.hasGeoTransform) {
        GDALSetGeoTransform(ds, const_cast<double*>(spec.geoTransform.data()));
    }
    std::vector<double> row(static_cast<size_t>(spec.width));
    for (int b = 1; b <= spec.bands; ++b) {
        GDALRasterBandH band = GDALGetRasterBand(ds, b);
        if (spec.hasNoData) {
            GDALSetRasterNoDataValue(band, spec.noData);
        }
        if (spec.hasScaleOffset) {
            GDALSetRasterScale(band, spec.scale);
            GDALSetRasterOffset(band, spec.offset);
        }
        for (int r = 0; value && r < spec.height; ++r) {
            for (int c = 0; c < spec.width; ++c) {
                row[static_cast<size_t>(c)] = value(c, r, b);
            }
            if (GDALRasterIO(band, GF_Write, 0, r, spec.width, 1, row.data(), spec.width, 1, GDT_Float64, 0,
                             0) != CE_None) {
                GDALClose(ds);
                return QString();
            }
        }
    }
    GDALClose(ds);
    return path;
}

std::vector<double> ReadBand(const QString& path, int band) {
    std::vector<double> cells;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return cells;
    }
    int w = GDALGetRasterXSize(ds);
    int h = GDALGetRasterYSize(ds);
    cells.resize(static_cast<size_t>(w) * h);
    if (GDALRasterIO(GDALGetRasterBand(ds, band), GF_Read, 0, 0, w, h, cells.data(), w, h, GDT_Float64, 0,
                     0) != CE_None) {
        cells.clear();
    }
    GDALClose(ds);
    return cells;
}

std::vector<uint32_t> ReadBits32(const QString& path) {
    std::vector<uint32_t> cells;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return cells;
    }
    int w = GDALGetRasterXSize(ds);
    int h = GDALGetRasterYSize(ds);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    cells.resize(static_cast<size_t>(w) * h);
    if (GDALRasterIO(band, GF_Read, 0, 0, w, h, cells.data(), w, h, GDALGetRasterDataType(band), 0, 0) !=
        CE_None) {
        cells.clear();
    }
    GDALClose(ds);
    return cells;
}

RasterFacts Inspect(const QString& path) {
    RasterFacts f;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return f;
    }
    f.opened = true;
    f.width = GDALGetRasterXSize(ds);
    f.height = GDALGetRasterYSize(ds);
    f.bands = GDALGetRasterCount(ds);
    f.driver = GDALGetDriverShortName(GDALGetDatasetDriver(ds));
    f.projection = GDALGetProjectionRef(ds);
    GDALGetGeoTransform(ds, f.geoTransform);
    if (f.bands > 0) {
        GDALRasterBandH band = GDALGetRasterBand(ds, 1);
        f.type = GDALGetRasterDataType(band);
        f.overviews = GDALGetOverviewCount(band);
        for (int i = 0; i < f.overviews; ++i) {
            f.overviewWidths.push_back(GDALGetRasterBandXSize(GDALGetOverview(band, i)));
        }
        GDALGetBlockSize(band, &f.blockX, &f.blockY);
        int has = 0;
        f.noData = GDALGetRasterNoDataValue(band, &has);
        f.hasNoData = has != 0;
    }
    GDALClose(ds);
    return f;
}

}  // namespace kvtest
