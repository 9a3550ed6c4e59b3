// DEMs for the measurement tests: grids in memory with a chosen geotransform, and GeoTIFF files
// written into the test's temporary folder.
#pragma once

#include <QString>

#include <cstring>
#include <functional>
#include <memory>

#include <opencv2/core.hpp>

#include "raster/DEM.h"
#include "support/RasterFixtures.h"
#include "support/TestEnv.h"

namespace atest {

// A DEM in memory (no file) of w x h cells holding value(column, row), with the geotransform.
inline std::unique_ptr<CDEM> GridDem(int w, int h, const std::array<double, 6>& gt,
                                     const std::function<double(int, int)>& value) {
    auto dem = std::make_unique<CDEM>(nullptr);
    dem->m_grid.create(h, w, CV_32FC1);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            dem->m_grid.at<float>(r, c) = float(value(c, r));
        }
    }
    std::memcpy(dem->m_geoTransform, gt.data(), sizeof(double) * 6);
    return dem;
}

// A Float32 GeoTIFF DEM with no data -9999 in a new folder of the test's temporary folder.
inline QString WriteDemFile(const QString& name, int w, int h, const std::array<double, 6>& gt,
                            const std::function<double(int, int)>& value) {
    kvtest::RasterSpec spec;
    spec.width = w;
    spec.height = h;
    spec.geoTransform = gt;
    return kvtest::WriteRaster(kvtest::NewTempFolder(name) + "/" + name + ".tif", spec,
                               [&](int c, int r, int) { return value(c, r); });
}

// The Olinda DEM of the test data (no data -9999) copied into a new folder.
inline QString OlindaCopy(const QString& folder, const QString& name = QStringLiteral("olinda.tif")) {
    const QString path = kvtest::NewTempFolder(folder) + "/" + name;
    kvtest::WriteFileBytes(path, kvtest::FileBytes(kvtest::DataPath("olinda_dem_nodata.tif")));
    return path;
}

}  // namespace atest
