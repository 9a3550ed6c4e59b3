#include "ProductsFixtures.h"

#include <QFile>

#include <gdal_utils.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "products/MapClassificationCommands.h"
#include "products/VegetationIndex.h"
#include "support/RasterFixtures.h"
#include "support/TestEnv.h"

namespace ptest {

namespace {

QString Translate(const QString& source, const QString& target, std::vector<const char*> args) {
    args.push_back(nullptr);
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args.data()), nullptr);
    GDALDatasetH in = GDALOpen(QFile::encodeName(source).constData(), GA_ReadOnly);
    EXPECT_NE(in, nullptr);
    GDALDatasetH out = GDALTranslate(QFile::encodeName(target).constData(), in, options, nullptr);
    EXPECT_NE(out, nullptr);
    GDALClose(out);
    GDALClose(in);
    GDALTranslateOptionsFree(options);
    return target;
}

}  // namespace

QString SceneNdvi(CKelvaroDoc& doc, const QString& folder) {
    const QString scene = folder + "/L7_ETMs.tif";
    const QString ndvi = folder + "/ndvi.gtif";
    if (!QFile::exists(scene) && !QFile::copy(kvtest::DataPath("L7_ETMs.tif"), scene)) {
        return QString();
    }
    GDALDatasetH ds = GDALOpen(QFile::encodeName(scene).constData(), GA_ReadOnly);
    const int made = ds ? ComputeVegetationIndex(&doc, nullptr, GDALGetRasterBand(ds, 3),
                                                 GDALGetRasterBand(ds, 4), 0.0f, ndvi, nullptr)
                        : 0;
    GDALClose(ds);
    return made == 1 ? ndvi : QString();
}

QString OlindaDtm(const QString& folder, const QString& name) {
    return Translate(kvtest::DataPath("olinda_dem_utm25s.tif"), folder + '/' + name, {"-a_nodata", "-9999"});
}

QString LandsatOrtho(const QString& folder, const QString& name) {
    return Translate(kvtest::DataPath("L7_ETMs.tif"), folder + '/' + name, {"-b", "3", "-b", "2", "-b", "1"});
}

QString WriteGrid(const QString& path, const cv::Mat& grid, const double* gt, const double* noData) {
    kvtest::RasterSpec spec;
    spec.width = grid.cols;
    spec.height = grid.rows;
    spec.bands = grid.channels();
    spec.type = grid.depth() == CV_8U ? GDT_Byte : grid.depth() == CV_16S ? GDT_Int16 : GDT_Float32;
    spec.hasNoData = noData != nullptr;
    spec.noData = noData ? *noData : 0.0;
    std::copy(gt, gt + 6, spec.geoTransform.begin());
    cv::Mat values;
    grid.convertTo(values, CV_64F);
    const QString written = kvtest::WriteRaster(path, spec, [&values](int c, int r, int b) {
        return values.ptr<double>(r)[c * values.channels() + b - 1];
    });
    EXPECT_EQ(written, path);
    return written;
}

QString GreyOrtho(const QString& path, int w, int h, double pixel, double x0, double y0) {
    const double gt[6] = {x0, pixel, 0.0, y0, 0.0, -pixel};
    return WriteGrid(path, cv::Mat(h, w, CV_8UC3, cv::Scalar::all(100)), gt);
}

FreshProfile::FreshProfile() : m_previous(ZQT_GetUserProfilePath()) {
    ZQT_SetUserProfilePath(kvtest::NewTempFolder("profile") + "/profile.ini");
}

FreshProfile::~FreshProfile() {
    ZQT_SetUserProfilePath(m_previous);
}

MapToolWindowsSupplied::MapToolWindowsSupplied() {
    SetMapToolWindowMaker(MakeMapToolWindow);
}

MapToolWindowsSupplied::~MapToolWindowsSupplied() {
    SetMapToolWindowMaker(nullptr);
}

bool ShowsText(const cv::Mat& image, const std::string& text, cv::Point baseline, int font, double scale,
               const cv::Scalar& colour, int thickness, const cv::Vec3b& background) {
    cv::Mat expected(image.size(), image.type(), cv::Scalar(background[0], background[1], background[2]));
    cv::putText(expected, text, baseline, font, scale, colour, thickness, cv::LINE_AA);
    int base = 0;
    const cv::Size size = cv::getTextSize(text, font, scale, thickness, &base);
    // The two rows above the baseline are left out: the dot of a measured point reaches them.
    const cv::Rect box = cv::Rect(baseline.x, baseline.y - size.height, size.width, size.height - 2) &
                         cv::Rect(0, 0, image.cols, image.rows);
    if (box.empty() || IsPlain(expected, box, background)) {
        return false;
    }
    return cv::norm(image(box), expected(box), cv::NORM_INF) == 0.0;
}

bool IsPlain(const cv::Mat& image, cv::Rect rect, const cv::Vec3b& colour) {
    rect &= cv::Rect(0, 0, image.cols, image.rows);
    for (int r = rect.y; r < rect.y + rect.height; ++r)
        for (int c = rect.x; c < rect.x + rect.width; ++c)
            if (image.at<cv::Vec3b>(r, c) != colour)
                return false;
    return true;
}

bool InHistory(CadDrawing* drawing, const char* line) {
    char text[256] = {};
    for (int i = 0; CadCmdGetHistory(drawing, i, text, sizeof text); ++i)
        if (QString::fromUtf8(text) == line)
            return true;
    return false;
}

QString CommandLineText(CadDrawing* drawing) {
    char text[1024] = {};
    CadCmdGetPrompt(drawing, text, sizeof text);
    QString lines = QString::fromUtf8(text);
    for (int i = 0; CadCmdGetHistory(drawing, i, text, sizeof text); ++i) {
        lines += QLatin1Char('\n') + QString::fromUtf8(text);
    }
    return lines;
}

cv::Mat ReadRaster(const QString& path, double* gt) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return cv::Mat();
    }
    if (gt) {
        GDALGetGeoTransform(ds, gt);
    }
    const int bands = GDALGetRasterCount(ds);
    const GDALDataType type = GDALGetRasterDataType(GDALGetRasterBand(ds, 1));
    const int depth = type == GDT_Byte ? CV_8U : type == GDT_Int16 ? CV_16S : CV_32F;
    const GDALDataType read = type == GDT_Byte ? GDT_Byte : type == GDT_Int16 ? GDT_Int16 : GDT_Float32;
    cv::Mat image(GDALGetRasterYSize(ds), GDALGetRasterXSize(ds), CV_MAKETYPE(depth, bands));
    const int cell = static_cast<int>(image.elemSize1());
    const CPLErr err =
        GDALDatasetRasterIO(ds, GF_Read, 0, 0, image.cols, image.rows, image.data, image.cols, image.rows,
                            read, bands, nullptr, cell * bands, static_cast<GSpacing>(image.step), cell);
    GDALClose(ds);
    return err == CE_None ? image : cv::Mat();
}

}  // namespace ptest
