#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "RecordingProgress.h"
#include "platform/raster/DepthTypes.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"
#include "support/Limits.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

TEST(RasterTypes, UnusualDepthsAndRanges) {
    // UInt32 cells travel in 32-bit buffers; 32-bit signed images are never written.
    EXPECT_EQ(GetCVDepth(GDT_UInt32), CV_32F);
    EXPECT_EQ(GetCVDepth(GDT_CInt16), -1);
    EXPECT_EQ(GetGDALDataType(CV_32S), GDT_Unknown);
    EXPECT_EQ(GetCVDepth(GDT_Int32), CV_32S);
    // Every other depth is written as the type the rasters are read with.
    for (int depth : {CV_8U, CV_16U, CV_16S, CV_32F, CV_64F}) {
        EXPECT_EQ(GetGDALDataType(depth), kv::GDALTypeOfDepth(depth)) << depth;
        EXPECT_EQ(GetCVDepth(GetGDALDataType(depth)), depth) << depth;
    }
    EXPECT_EQ(GetGDALDataType(CV_16F), GDT_Unknown);
    double lo = 1, hi = 1;
    GetGDALDataTypeRange(GDT_Int16, &lo, &hi);
    EXPECT_EQ(lo, -32767.0);
    EXPECT_EQ(hi, 32768.0);
    GetGDALDataTypeRange(GDT_Float64, &lo, &hi);
    EXPECT_EQ(hi, 9223372036854775808.0);
    GetGDALDataTypeRange(GDT_CFloat32, &lo, &hi);
    EXPECT_EQ(lo, 0.0);
    EXPECT_EQ(hi, 0.0);
}

TEST(RasterTypes, PixelValuesOfInterleavedBuffers) {
    cv::Mat f(2, 3, CV_32FC3);
    f.at<cv::Vec3f>(1, 2) = cv::Vec3f(1.5f, -2.0f, 7.0f);
    double values[4] = {9, 9, 9, 9};
    EXPECT_EQ(GetPixelValues(f, GDT_Float32, 2, 1, values), 3);
    EXPECT_EQ(values[0], 1.5);
    EXPECT_EQ(values[1], -2.0);
    EXPECT_EQ(values[2], 7.0);
    EXPECT_EQ(values[3], 9.0);

    cv::Mat u32(1, 2, CV_32FC1);
    uint32_t big = 4000000000u;
    std::memcpy(u32.ptr(0) + 4, &big, 4);
    EXPECT_EQ(GetPixelValues(u32, GDT_UInt32, 1, 0, values), 1);
    EXPECT_EQ(values[0], 4000000000.0);

    cv::Mat s16(1, 1, CV_16SC2, cv::Scalar(-5, 300));
    EXPECT_EQ(GetPixelValues(s16, GDT_Int16, 0, 0, values), 2);
    EXPECT_EQ(values[0], -5.0);
    EXPECT_EQ(values[1], 300.0);
    EXPECT_EQ(GetPixelValues(s16, GDT_CInt16, 0, 0, values), 2);
    EXPECT_EQ(values[0], 0.0);
    EXPECT_EQ(values[1], 0.0);
}

TEST(ImageRegions, ResizeOfARegionThatRunsPastTheLeftEdge) {
    cv::Mat image(100, 100, CV_8UC1, cv::Scalar(200));
    cv::Rect rect(-10, 0, 20, 10);
    cv::Mat out = ResizeImageRegion(image, &rect, cv::Size(40, 20), 7);
    ASSERT_EQ(out.size(), cv::Size(40, 20));
    EXPECT_EQ(cv::countNonZero(out.colRange(0, 20) != 7), 0);
    EXPECT_EQ(cv::countNonZero(out.colRange(20, 40) != 200), 0);

    cv::Mat whole = ResizeImageRegion(image, nullptr, cv::Size(10, 10), 0);
    EXPECT_EQ(cv::countNonZero(whole != 200), 0);
    cv::Rect beside(100, 0, 5, 5);
    cv::Rect above(0, -5, 5, 5);
    EXPECT_TRUE(ResizeImageRegion(image, &beside, cv::Size(10, 10), 0).empty());
    EXPECT_TRUE(ResizeImageRegion(image, &above, cv::Size(10, 10), 0).empty());
    EXPECT_TRUE(ResizeImageRegion(image, nullptr, cv::Size(0, 10), 0).empty());
    // A sliver that would map to less than one target pixel.
    cv::Rect sliver(-99, 0, 100, 10);
    EXPECT_TRUE(ResizeImageRegion(image, &sliver, cv::Size(10, 10), 0).empty());
}

TEST(ImageRegions, ValidAreaMaskClosesSmallHolesAndShrinksTheEdge) {
    EXPECT_EQ(cv::countNonZero(BuildValidAreaMask(cv::Mat::zeros(50, 60, CV_8UC3))), 0);
    EXPECT_TRUE(BuildValidAreaMask(cv::Mat(5, 5, CV_8UC2)).empty());
    EXPECT_TRUE(BuildValidAreaMask(cv::Mat()).empty());

    cv::Mat bright(50, 60, CV_8UC3, cv::Scalar(120, 90, 200));
    bright.at<cv::Vec3b>(25, 30) = cv::Vec3b(0, 0, 0);
    bright(cv::Rect(10, 10, 8, 8)).setTo(cv::Scalar(1, 1, 1));  // grey 1 counts as empty
    cv::Mat mask = BuildValidAreaMask(bright);
    ASSERT_EQ(mask.size(), bright.size());
    ASSERT_EQ(mask.type(), CV_8UC1);
    EXPECT_EQ(mask.at<uchar>(25, 30), 255);
    EXPECT_EQ(mask.at<uchar>(14, 14), 255);
    EXPECT_EQ(mask.at<uchar>(0, 30), 0);
    EXPECT_EQ(mask.at<uchar>(1, 30), 0);
    EXPECT_EQ(mask.at<uchar>(2, 30), 255);
    EXPECT_EQ(mask.at<uchar>(25, 58), 0);
    EXPECT_EQ(mask.at<uchar>(25, 57), 255);
}

TEST(GeoTiffOutput, OverviewLevelsByTheLargerSide) {
    EXPECT_LE(kv::OverviewLevelCount(512, 512), 0);
    EXPECT_EQ(kv::OverviewLevelCount(1025, 10), 0);
    EXPECT_EQ(kv::OverviewLevelCount(10, 1026), 1);
    EXPECT_EQ(kv::OverviewLevelCount(2051, 2051), 1);
    EXPECT_EQ(kv::OverviewLevelCount(2052, 1), 2);
    EXPECT_EQ(kv::OverviewLevelCount(4103, 1), 2);
    EXPECT_EQ(kv::OverviewLevelCount(4104, 1), 3);
    EXPECT_EQ(kv::OverviewLevelCount(8207, 1), 3);
    EXPECT_EQ(kv::OverviewLevelCount(8208, 1), 4);
}

TEST(GeoTiffOutput, ImagesAreWrittenTiledWithTheirBandsAndOverviews) {
    QString dir = kvtest::NewTempFolder("save_image");
    cv::Mat rgb(400, 600, CV_8UC3, cv::Scalar(10, 20, 30));
    rgb.at<cv::Vec3b>(5, 7) = cv::Vec3b(1, 2, 3);
    double gt[6] = {300.0, 0.5, 0.0, 800.0, 0.0, -0.5};
    rtest::RecordingProgress progress;
    ASSERT_TRUE(SaveImageAsGeoTiff(rgb, gt, "LOCAL_CS[\"x\"]", 0.0, dir + "/Rgb.tif", &progress));
    kvtest::RasterFacts f = kvtest::Inspect(dir + "/Rgb.tif");
    EXPECT_EQ(f.type, GDT_Byte);
    EXPECT_EQ(f.bands, 3);
    EXPECT_EQ(f.overviews, 0);
    EXPECT_EQ(f.blockX, 128);
    EXPECT_EQ(f.geoTransform[3], 800.0);
    EXPECT_NE(f.projection.find("LOCAL_CS"), std::string::npos);
    EXPECT_TRUE(f.hasNoData);
    EXPECT_EQ(kvtest::ReadBand(dir + "/Rgb.tif", 3)[5 * 600 + 7], 3.0);
    EXPECT_EQ(progress.ranges.front(), std::make_pair(0, 3));
    EXPECT_EQ(progress.positions, (std::vector<int>{0, 0, 1, 2}));

    cv::Mat wide(1000, 3000, CV_32FC1, cv::Scalar(1.25f));
    ASSERT_TRUE(SaveImageAsGeoTiff(wide, nullptr, QString(), -9999.0, dir + "/wide.tif", nullptr));
    f = kvtest::Inspect(dir + "/wide.tif");
    EXPECT_EQ(f.type, GDT_Float32);
    EXPECT_EQ(f.overviewWidths, (std::vector<int>{1500, 750}));
    EXPECT_EQ(f.noData, -9999.0);

    // A 32-bit signed image has no data type to be written as.
    EXPECT_FALSE(
        SaveImageAsGeoTiff(cv::Mat(10, 10, CV_32SC1), nullptr, QString(), 0, dir + "/int.tif", nullptr));
    EXPECT_FALSE(QFileInfo::exists(dir + "/int.tif"));
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 2);
}

TEST(GeoTiffOutput, FullDiskGivesFalseAndKeepsTheOldFile) {
    QString dir = kvtest::NewTempFolder("save_full");
    cv::Mat small(10, 10, CV_8UC1, cv::Scalar(4));
    ASSERT_TRUE(SaveImageAsGeoTiff(small, nullptr, QString(), 0, dir + "/out.tif", nullptr));
    QByteArray before;
    {
        QFile f(dir + "/out.tif");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        before = f.readAll();
    }
    cv::Mat big(2000, 2000, CV_8UC3, cv::Scalar(50, 60, 70));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = 256 * 1024;
    setrlimit(RLIMIT_FSIZE, &limit);
    bool saved = SaveImageAsGeoTiff(big, nullptr, QString(), 0, dir + "/out.tif", nullptr);
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_FALSE(saved);
    QFile f(dir + "/out.tif");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), before);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), QStringList{"out.tif"});
    EXPECT_FALSE(SaveImageAsGeoTiff(small, nullptr, QString(), 0, dir + "/missing/out.tif", nullptr));
}

// A raster replaced with its side files, stopped before any step of the write layer as a kill
// stops it: the raster stands throughout, old or new, with side files of its own version only
// (overviews and statistics of the old raster never describe the new one).
TEST(GeoTiffOutput, ARasterStoppedAnywhereInItsReplacementStandsWithItsOwnSideFilesOnly) {
    const QString dir = kvtest::NewTempFolder("replaced");
    const QString path = dir + "/out.tif";
    ASSERT_TRUE(
        SaveImageAsGeoTiff(cv::Mat(10, 10, CV_8UC1, cv::Scalar(4)), nullptr, QString(), 0, path, nullptr));
    const QByteArray oldRaster = kvtest::FileBytes(path);
    const QByteArray oldAux = "<PAMDataset><Metadata><MDI key=\"V\">old</MDI></Metadata></PAMDataset>";
    const QByteArray newAux = "<PAMDataset><Metadata><MDI key=\"V\">new</MDI></Metadata></PAMDataset>";
    const QString fresh = dir + "/fresh.tif";
    ASSERT_TRUE(
        SaveImageAsGeoTiff(cv::Mat(10, 10, CV_8UC1, cv::Scalar(9)), nullptr, QString(), 0, fresh, nullptr));
    const QByteArray newRaster = kvtest::FileBytes(fresh);
    bool finished = false;
    for (size_t step = 0; !finished && step < 32; ++step) {
        SCOPED_TRACE(step);
        kvtest::WriteFileBytes(path, oldRaster);
        kvtest::WriteFileBytes(path + ".ovr", "old overviews");
        kvtest::WriteFileBytes(path + ".aux.xml", oldAux);
        const QString temporary = kv::TemporaryPathFor(path);
        kvtest::WriteFileBytes(temporary, newRaster);
        kvtest::WriteFileBytes(temporary + ".aux.xml", newAux);
        finished = kvtest::RunStoppedBeforeStep(step, [&] { kv::MoveIntoPlace(temporary, path); });
        const QByteArray raster = kvtest::FileBytes(path);
        const bool isNew = raster == newRaster;
        ASSERT_TRUE(isNew || raster == oldRaster);
        const QByteArray aux = kvtest::FileBytes(path + ".aux.xml");
        EXPECT_TRUE(!QFileInfo::exists(path + ".aux.xml") || aux == (isNew ? newAux : oldAux));
        EXPECT_TRUE(!QFileInfo::exists(path + ".ovr") || !isNew);
        if (finished) {
            EXPECT_TRUE(isNew);
            EXPECT_EQ(aux, newAux);
            EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden),
                      (QStringList{"fresh.tif", "out.tif", "out.tif.aux.xml"}));
        } else {
            kv::RemoveRasterFile(temporary);
        }
    }
    EXPECT_TRUE(finished);
}

// A raster's name may be as long as any file's: its temporary, and what GDAL writes beside that,
// still fit.
TEST(GeoTiffOutput, NamesOfAnyLegalLengthAreWritten) {
    const QString dir = kvtest::NewTempFolder("long");
    for (int length : {225, 240, 251}) {
        const QString path = dir + '/' + QString(length, 't') + ".tif";
        EXPECT_TRUE(SaveImageAsGeoTiff(cv::Mat(2000, 1100, CV_8UC1, cv::Scalar(length)), nullptr, QString(),
                                       0, path, nullptr))
            << length;
        GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr) << length;
        EXPECT_EQ(GDALGetOverviewCount(GDALGetRasterBand(ds, 1)), 1);
        GDALClose(ds);
    }
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

// Rasters of several layouts, whole and with their last 16 bytes cut off: the cheap check takes
// every whole one and refuses every cut one, wherever the bytes it lost belong; the read of every
// block of the bands agrees where they were theirs.
TEST(RasterReadCheck, AFileCutShortIsFoundWhereverItsLastBytesBelong) {
    const QString dir = kvtest::NewTempFolder("read_check");
    const std::function<double(int, int, int)> noise = [](int c, int r, int b) {
        return static_cast<double>((c * 7919 + r * 104729 + b * 31) % 251);
    };
    auto overviews = [](GDALDatasetH ds) { ASSERT_EQ(kv::BuildOverviews(ds, nullptr, 2), 1); };
    struct Layout {
        const char* name;
        int bands;
        std::vector<std::string> options;
        std::function<void(GDALDatasetH)> after;
    };
    const Layout layouts[] = {
        // Overviews built later lie after every block of the raster itself.
        {"overviews", 1, {"TILED=YES", "COMPRESS=DEFLATE"}, overviews},
        // One strip, which GDAL hands out as blocks of a few rows.
        {"strip", 1, {"BLOCKYSIZE=300"}, nullptr},
        // Each band's blocks after those of the band before.
        {"bands", 3, {"TILED=YES", "INTERLEAVE=BAND", "COMPRESS=DEFLATE"}, nullptr},
        // The first block rewritten with cells that compress worse: it moves to the file's end.
        {"rewritten",
         1,
         {"TILED=YES", "COMPRESS=DEFLATE"},
         [](GDALDatasetH ds) {
             std::vector<uint8_t> cells(256 * 256);
             for (size_t i = 0; i < cells.size(); ++i) {
                 cells[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
             }
             ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Write, 0, 0, 256, 256, cells.data(), 256,
                                    256, GDT_Byte, 0, 0),
                       CE_None);
         }},
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.name);
        kvtest::RasterSpec spec;
        spec.width = 1100;
        spec.height = 300;
        spec.bands = layout.bands;
        spec.type = GDT_Byte;
        spec.options = layout.options;
        // The rewritten block's raster is otherwise flat, so that its first block compresses well.
        const bool rewritten = layout.name == std::string("rewritten");
        const std::function<double(int, int, int)> value =
            rewritten ? [](int, int, int) { return 1.0; } : noise;
        const QString path = kvtest::WriteRaster(dir + "/" + layout.name + ".tif", spec, value);
        ASSERT_FALSE(path.isEmpty());
        if (layout.after) {
            GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_Update);
            ASSERT_NE(ds, nullptr);
            layout.after(ds);
            GDALClose(ds);
        }
        for (const bool cut : {false, true}) {
            if (cut) {
                ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() - 16));
            }
            GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
            ASSERT_NE(ds, nullptr);
            QString cause;
            EXPECT_EQ(kv::CheckRasterReadable(ds, &cause), !cut) << cause.toStdString();
            EXPECT_EQ(cause.isEmpty(), !cut);
            EXPECT_EQ(kv::ReadEveryBlock(ds, nullptr, nullptr),
                      layout.name == std::string("overviews") || !cut);
            GDALClose(ds);
        }
    }
}

TEST(OrthophotoInput, ThreeBandsReadAndRefusalsShowTheirMessages) {
    QString dir = kvtest::NewTempFolder("ortho_in");
    kvtest::RasterSpec spec;
    spec.width = 30;
    spec.height = 20;
    spec.bands = 4;
    spec.type = GDT_Byte;
    spec.hasNoData = false;
    kvtest::WriteRaster(dir + "/Ortho.tif", spec, [](int c, int r, int b) { return b * 50 + (c + r) % 7; });
    kvtest::ScriptedInteraction ui;
    cv::Mat image(3, 3, CV_8UC1);
    double gt[6];
    ASSERT_TRUE(LoadOrthophotoImage(dir + "/Ortho.tif", image, gt));
    ASSERT_EQ(image.type(), CV_8UC3);
    EXPECT_EQ(image.size(), cv::Size(30, 20));
    EXPECT_EQ(image.at<cv::Vec3b>(2, 3), cv::Vec3b(55, 105, 155));
    EXPECT_EQ(gt[0], spec.geoTransform[0]);

    spec.bands = 1;
    kvtest::WriteRaster(dir + "/grey.tif", spec, [](int, int, int) { return 1; });
    std::fill(gt, gt + 6, 5.0);
    EXPECT_FALSE(LoadOrthophotoImage(dir + "/grey.tif", image, gt));
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(gt[5], spec.geoTransform[5]);
    EXPECT_FALSE(LoadOrthophotoImage(dir + "/none.tif", image, nullptr));

    spec.bands = 3;
    spec.width = 800;
    spec.height = 800;
    kvtest::WriteRaster(dir + "/cut.tif", spec, [](int, int, int) { return 9; });
    QFile::resize(dir + "/cut.tif", QFileInfo(dir + "/cut.tif").size() / 3);
    EXPECT_FALSE(LoadOrthophotoImage(dir + "/cut.tif", image, gt));
    EXPECT_TRUE(image.empty());
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Invalid OrthoPhoto file!", "Unable to open OrthoPhoto file!",
                                              "Invalid OrthoPhoto file!"}));
    EXPECT_EQ(ui.Messages().front().icon(), kv::MessageIcon::Warning);
}

TEST(DemInput, RealDemsWithAndWithoutNoData) {
    QString dir = kvtest::NewTempFolder("dem_in");
    QString copy = dir + "/Olinda_NoData.TIF";
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_utm25s.tif"), copy));
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);

    kvtest::ScriptedInteraction ui;
    EXPECT_EQ(LoadDemFromGeoTiff(copy), nullptr);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Invalid DEM file!"});
    EXPECT_EQ(ui.Messages().front().icon(), kv::MessageIcon::Warning);

    GDALDatasetH ds = GDALOpen(QFile::encodeName(copy).constData(), GA_Update);
    ASSERT_NE(ds, nullptr);
    GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), -9999.0);
    GDALClose(ds);
    ui.Clear();
    std::unique_ptr<CDEM> dem(LoadDemFromGeoTiff(copy));
    ASSERT_TRUE(dem);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
    EXPECT_EQ(dem->m_path, copy);
    EXPECT_EQ(dem->m_name, "olinda_nodata.tif");
    EXPECT_EQ(dem->m_pDoc, nullptr);
    EXPECT_NE(dem->m_pDataset, nullptr);
    EXPECT_TRUE(dem->m_grid.empty());
    EXPECT_NEAR(dem->m_geoTransform[1], 89.994067, 1e-6);
    EXPECT_TRUE(dem->m_projection.contains("UTM Zone 25, Southern Hemisphere"));
    std::vector<double> cells = kvtest::ReadBand(copy);
    EXPECT_EQ(dem->m_minElevation, *std::min_element(cells.begin(), cells.end()));
    EXPECT_EQ(dem->m_maxElevation, *std::max_element(cells.begin(), cells.end()));

    // The Int16 DEM with its -32768 no-data value.
    std::unique_ptr<CDEM> elev(LoadDemFromGeoTiff(kvtest::DataPath("elev.tif")));
    ASSERT_TRUE(elev);
    EXPECT_EQ(elev->m_minElevation, 141.0);
    EXPECT_EQ(elev->m_maxElevation, 547.0);
    ASSERT_EQ(elev->LoadData(), 1);
    EXPECT_EQ(elev->m_grid.at<float>(0, 0), -9999.0f);

    ui.Clear();
    EXPECT_EQ(LoadDemFromGeoTiff(dir + "/absent.tif"), nullptr);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to open selected file!"});
}
