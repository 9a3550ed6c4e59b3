#include <QCoreApplication>
#include <QString>
#include <gdal.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <opencv2/imgproc.hpp>
#include <string>
#include "platform/gridding/MCCGroundFilter.h"
#include "platform/gridding/GridGaps.h"
#include "platform/las/Las.h"
#include "raster/RasterIO.h"
#include "demtools/DemFromPoints.h"
#include "support/TerrainTruth.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    GDALAllRegister();
    if (argc == 5 && std::string(argv[1]) == "smooth") {
        double nd = -9999; cv::Mat g = kvtest::ReadGrid(argv[2], &nd); double dn; cv::Mat s = kvtest::ReadGrid(argv[3], &dn);
        double gt[6]; GDALDatasetH ds = GDALOpen(argv[2], GA_ReadOnly); GDALGetGeoTransform(ds, gt); GDALClose(ds);
        for (int r = 0; r < g.rows; ++r) for (int c = 0; c < g.cols; ++c) if (!(g.at<float>(r,c)==g.at<float>(r,c))) g.at<float>(r,c) = -9999.0f;
        cv::Mat b; cv::bilateralFilter(g, b, 11, 10.0, 20.0, cv::BORDER_REPLICATE);
        b.setTo(cv::Scalar(-9999.0), (s == float(dn)) | (g == -9999.0f));
        SaveImageAsGeoTiff(b, gt, QString(), -9999.0, argv[4], nullptr); return 0;
    }
    if (argc == 5 && std::string(argv[1]) == "grid") {
        QString error; const double cell = atof(argv[3]);
        if (CreateDemFromPointFiles({argv[2]}, cell, argv[4], nullptr, &error) != PointCloudGridder::Done) return 1;
        double gt[6]; GDALDatasetH ds = GDALOpen(argv[4], GA_ReadOnly); GDALGetGeoTransform(ds, gt);
        int w = GDALGetRasterXSize(ds), hh = GDALGetRasterYSize(ds); GDALClose(ds);
        cv::Mat g = kvtest::GridPointsMax(argv[2], gt, w, hh, 2);
        SaveImageAsGeoTiff(g, gt, QString(), -9999.0, QString(argv[4]) + ".truth.tif", nullptr); return 0;
    }
    if (argc < 5) { std::fprintf(stderr, "usage: dsm scale threshold out_kept.tif [fill.tif]\n"); return 2; }
    const QString dsm = argv[1];
    const double scale = atof(argv[2]), thr = atof(argv[3]);
    double nd = -9999;
    cv::Mat grid = kvtest::ReadGrid(dsm, &nd);
    double gt[6];
    GDALDatasetH ds = GDALOpen(argv[1], GA_ReadOnly); GDALGetGeoTransform(ds, gt); GDALClose(ds);
    LASheader h; h.xScaleFactor = h.yScaleFactor = std::fabs(gt[1]) / 100; h.zScaleFactor = 0.001;
    h.xOffset = gt[0]; h.yOffset = gt[3] + grid.rows * gt[5];
    {
        LASwriteOpener o; o.SetFileName("/tmp/gf/cloud.las"); auto w = o.Open(h);
        for (int r = 0; r < grid.rows; ++r) for (int c = 0; c < grid.cols; ++c) {
            float v = grid.at<float>(r, c); if (!std::isfinite(v) || v == nd) continue;
            LASpoint p; p.X = int32_t(std::lround((gt[0] + c * gt[1] - h.xOffset) / h.xScaleFactor));
            p.Y = int32_t(std::lround((gt[3] + r * gt[5] - h.yOffset) / h.yScaleFactor));
            p.Z = int32_t(std::lround(v / h.zScaleFactor)); w->WritePoint(p);
        }
        w->Close();
    }
    auto t0 = std::chrono::steady_clock::now();
    QString status;
    if (!CMCCGroundFilter().Process(scale, thr, "/tmp/gf/cloud.las", "/tmp/gf/ground.las", nullptr, &status, nullptr)) {
        std::fprintf(stderr, "filter failed %s\n", status.toLocal8Bit().constData()); return 1; }
    auto t1 = std::chrono::steady_clock::now();
    std::fprintf(stderr, "filter %.2f s: %s\n", std::chrono::duration<double>(t1 - t0).count(), status.toLocal8Bit().constData());
    cv::Mat kept(grid.size(), CV_32F, cv::Scalar(-9999.0f));
    LASreadOpener ro; ro.SetFileName("/tmp/gf/ground.las"); auto rd = ro.Open();
    while (rd->ReadPoint()) {
        int c = int(std::rint((rd->GetX() - gt[0]) / gt[1])), r = int(std::rint((rd->GetY() - gt[3]) / gt[5]));
        if (c >= 0 && r >= 0 && c < grid.cols && r < grid.rows) kept.at<float>(r, c) = float(rd->GetZ());
    }
    SaveImageAsGeoTiff(kept, gt, QString(), -9999.0, argv[4], nullptr);
    if (argc > 5) {
        cv::Mat mask = (grid != float(nd)) & (grid == grid);
        CGridGaps gaps; auto t2 = std::chrono::steady_clock::now();
        cv::Mat f = gaps.Process(kept, mask, -9999.0f, 0.1);
        std::fprintf(stderr, "gaps %.2f s\n", std::chrono::duration<double>(std::chrono::steady_clock::now() - t2).count());
        SaveImageAsGeoTiff(f, gt, QString(), -9999.0, argv[5], nullptr);
    }
    return 0;
}
