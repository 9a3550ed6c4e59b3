#include "DemEditFixtures.h"

#include <QFile>

#include <gdal.h>
#include <gtest/gtest.h>

#include <cstring>

#include "raster/RasterIO.h"
#include "support/TestEnv.h"

namespace dtest {

std::unique_ptr<CDEM> GridDem(const cv::Mat& grid) {
    auto dem = std::make_unique<CDEM>(nullptr);
    dem->m_grid = grid.clone();
    const double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
    std::memcpy(dem->m_geoTransform, gt, sizeof gt);
    return dem;
}

std::unique_ptr<CDEM> OlindaDem() {
    const QString copy = kvtest::NewTempFolder("olinda") + "/olinda_dem.tif";
    GDALDatasetH source = GDALOpen(QFile::encodeName(kvtest::DataPath("olinda_dem_utm25s.tif")), GA_ReadOnly);
    EXPECT_NE(source, nullptr);
    if (!source) {
        return nullptr;
    }
    GDALDatasetH target = GDALCreateCopy(GDALGetDriverByName("GTiff"), QFile::encodeName(copy), source, FALSE,
                                         nullptr, nullptr, nullptr);
    GDALClose(source);
    EXPECT_NE(target, nullptr);
    if (!target) {
        return nullptr;
    }
    EXPECT_EQ(GDALSetRasterNoDataValue(GDALGetRasterBand(target, 1), kNoData), CE_None);
    GDALClose(target);
    std::unique_ptr<CDEM> dem(LoadDemFromGeoTiff(copy));
    EXPECT_NE(dem, nullptr);
    return dem;
}

Wml::Point2 World(const CDEM& dem, double column, double row) {
    const double* gt = dem.m_geoTransform;
    return Wml::Point2(gt[0] + column * gt[1], gt[3] + row * gt[5]);
}

CPgon CellArea(const CDEM& dem, const std::vector<cv::Point>& cells) {
    std::vector<Wml::Point2> points;
    for (const cv::Point& c : cells) {
        points.push_back(World(dem, c.x + 0.5, c.y + 0.5));
    }
    return CPgon(points.data(), int(points.size()));
}

CPgon CellRect(const CDEM& dem, int c0, int r0, int c1, int r1) {
    return CellArea(dem, {{c0, r0}, {c1, r0}, {c1, r1}, {c0, r1}});
}

cv::Mat NoDataCells(const cv::Mat& grid) {
    cv::Mat valid;
    cv::compare(grid, kNoData, valid, cv::CMP_GT);
    return ~valid;
}

DemEditRecorder WindowLog::Recorder() {
    return [this](CDEM&, const DemEditWindow& edit) {
        cv::Mat before, after;
        edit.cells(cv::Rect(cv::Point(), edit.window.size()), before, after);
        entries.push_back({edit.window, edit.contour, before.clone(), after.clone()});
        return answer;
    };
}

}  // namespace dtest
