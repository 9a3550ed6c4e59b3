// What the tests of the DEM-writing commands read back: the command line's last lines and a
// raster file's form and cells.
#pragma once

#include <QFile>
#include <QString>

#include <gdal.h>
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/cad/Cad.h"

namespace dtest {

// The last lines of the drawing's command line, newest first, one a line.
inline QString CommandLineHistory(CadDrawing* drawing, int lines) {
    QString text;
    char line[1024];
    for (int i = 0; i < lines && CadCmdGetHistory(drawing, i, line, sizeof line); ++i) {
        text += QString::fromUtf8(line) + '\n';
    }
    return text;
}

struct Raster {
    int width = 0, height = 0, bands = 0, blockX = 0, blockY = 0;
    GDALDataType type = GDT_Unknown;
    double noData = 0.0;
    int hasNoData = 0;
    std::array<double, 6> gt{};
    std::vector<float> cells;  // band 1, row by row
};

inline Raster ReadRaster(const QString& path) {
    Raster r;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr) << path.toStdString();
    if (!ds) {
        return r;
    }
    r.width = GDALGetRasterXSize(ds);
    r.height = GDALGetRasterYSize(ds);
    r.bands = GDALGetRasterCount(ds);
    GDALGetGeoTransform(ds, r.gt.data());
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    r.type = GDALGetRasterDataType(band);
    GDALGetBlockSize(band, &r.blockX, &r.blockY);
    r.noData = GDALGetRasterNoDataValue(band, &r.hasNoData);
    r.cells.resize(size_t(r.width) * size_t(r.height));
    EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, r.width, r.height, r.cells.data(), r.width, r.height,
                           GDT_Float32, 0, 0),
              CE_None);
    GDALClose(ds);
    return r;
}

}  // namespace dtest
