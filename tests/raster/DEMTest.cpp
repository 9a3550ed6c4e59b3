#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <memory>
#include <random>

#include "RecordingProgress.h"
#include "platform/tools/BusyScope.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

std::unique_ptr<CDEM> OpenDem(const QString& path) {
    kvtest::ScriptedInteraction ui;
    std::unique_ptr<CDEM> dem(LoadDemFromGeoTiff(path));
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("; ").toStdString();
    return dem;
}

// A DEM in memory with the given grid and no file yet.
std::unique_ptr<CDEM> MemoryDem(const cv::Mat& grid, const QString& path) {
    auto dem = std::make_unique<CDEM>(nullptr);
    dem->m_grid = grid.clone();
    double gt[6] = {1000.0, 1.0, 0.0, 2000.0, 0.0, -1.0};
    std::memcpy(dem->m_geoTransform, gt, sizeof gt);
    dem->m_path = path;
    return dem;
}

float At(const cv::Mat& m, int c, int r) {
    return m.at<float>(r, c);
}

// Makes writes beyond a few kilobytes fail as on a full disk, for the life of the object.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }

private:
    rlimit m_old{};
};

}  // namespace

TEST(DemLoadSave, ScaledInt16CellsBecomeHeightsAndGoBackSaturatedNeverOntoNoData) {
    QString dir = kvtest::NewTempFolder("int16");
    kvtest::RasterSpec spec;
    spec.width = 4;
    spec.height = 3;
    spec.type = GDT_Int16;
    spec.noData = -32768;
    spec.hasScaleOffset = true;
    spec.scale = 0.1;
    spec.offset = 100.0;
    QString path = kvtest::WriteRaster(dir + "/Scaled.TIF", spec, [](int c, int r, int) {
        return c == 1 && r == 0 ? -32768.0 : c == 0 && r == 0 ? 250.0 : c + 10.0 * r;
    });
    auto dem = OpenDem(path);
    ASSERT_TRUE(dem);
    EXPECT_EQ(dem->m_path, path);
    EXPECT_EQ(dem->m_name, "scaled.tif");
    ASSERT_EQ(dem->LoadData(), 1);
    EXPECT_EQ(dem->m_pDataset, nullptr);
    EXPECT_FLOAT_EQ(At(dem->m_grid, 0, 0), 125.0f);
    EXPECT_EQ(At(dem->m_grid, 1, 0), -9999.0f);
    EXPECT_FLOAT_EQ(At(dem->m_grid, 3, 2), 100.0f + 2.3f);

    // Heights that the band cannot hold are limited to its range, and a valid height never
    // becomes the no-data value.
    dem->m_grid.at<float>(1, 0) = 100.0f + 0.1f * -40000.0f;  // -40000 stored
    dem->m_grid.at<float>(1, 1) = 5000.0f;                    // 49000 stored
    dem->m_grid.at<float>(1, 2) = 100.0f - 3276.8f;           // exactly the no-data value
    ASSERT_EQ(dem->SaveData(), 1);
    std::vector<double> cells = kvtest::ReadBand(path);
    ASSERT_EQ(cells.size(), 12u);
    EXPECT_EQ(cells[0], 250.0);
    EXPECT_EQ(cells[1], -32768.0);
    EXPECT_EQ(cells[4], -32767.0);
    EXPECT_EQ(cells[5], 32767.0);
    EXPECT_EQ(cells[6], -32767.0);
    EXPECT_EQ(cells[11], 23.0);
    EXPECT_EQ(kvtest::Inspect(path).type, GDT_Int16);
    // Updated in place: no second file appears in the folder.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 1);
}

TEST(DemLoadSave, Float32WithMinus9999RoundTripsBitForBitAndNaNIsNoData) {
    QString dir = kvtest::NewTempFolder("f32");
    std::mt19937 gen(7);
    std::uniform_real_distribution<float> dist(-500.0f, 9000.0f);
    kvtest::RasterSpec spec;
    spec.width = 1100;  // two blocks across
    spec.height = 70;
    std::vector<float> values(static_cast<size_t>(spec.width) * spec.height);
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = i % 17 == 0 ? -9999.0f : dist(gen);
    }
    values[1] = -0.0f;
    values[2] = std::numeric_limits<float>::denorm_min();
    values[3] = std::numeric_limits<float>::max();
    QString path = kvtest::WriteRaster(dir + "/bits.tif", spec, [&](int c, int r, int) {
        return values[static_cast<size_t>(r) * spec.width + c];
    });
    auto dem = OpenDem(path);
    ASSERT_TRUE(dem);
    ASSERT_EQ(dem->LoadData(), 1);
    ASSERT_EQ(dem->SaveData(), 1);
    std::vector<uint32_t> bits = kvtest::ReadBits32(path);
    ASSERT_EQ(bits.size(), values.size());
    EXPECT_EQ(std::memcmp(bits.data(), values.data(), values.size() * 4), 0);

    // A NaN or infinite cell counts as no data in the grid; every other cell keeps its bits (the
    // largest float too), in tiles and in strips, across the 1024-cell blocks of the load and in
    // the last cells of a row, also in rows whose only such cell is the last.
    kvtest::RasterSpec large = spec;
    large.width = 1103;
    large.height = 1290;
    const double inf = std::numeric_limits<double>::infinity();
    auto cell = [&](int c, int r) {
        return r % 3 == 0                                            ? (c == large.width - 1 ? -inf
                                                                        : c == 5             ? std::numeric_limits<float>::max()
                                                                                             : -0.5 * r)
               : (c * 7 + r * 13) % 101 == 0 || c == large.width - 1 ? std::nan("")
               : (c * 3 + r) % 211 == 0                              ? inf
               : (c + r * 5) % 307 == 0                              ? -inf
                                                                     : 0.25 * c - 0.5 * r;
    };
    for (const std::vector<std::string>& layout :
         {std::vector<std::string>{"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256"},
          std::vector<std::string>{}}) {
        large.options = layout;
        kvtest::WriteRaster(dir + "/nan.tif", large, [&](int c, int r, int) { return cell(c, r); });
        auto nan = OpenDem(dir + "/nan.tif");
        ASSERT_TRUE(nan);
        ASSERT_EQ(nan->LoadData(), 1);
        int wrong = 0;
        for (int r = 0; r < large.height; ++r) {
            for (int c = 0; c < large.width; ++c) {
                const double v = cell(c, r);
                wrong += At(nan->m_grid, c, r) != (std::isfinite(v) ? float(v) : -9999.0f);
            }
        }
        EXPECT_EQ(wrong, 0) << layout.size();

        // Cells an edit left as no finite number are saved as no data, the others bit for bit.
        nan->m_grid.at<float>(3, 1000) = std::numeric_limits<float>::infinity();
        nan->m_grid.at<float>(1200, 7) = std::numeric_limits<float>::quiet_NaN();
        cv::Mat expected = nan->m_grid.clone();
        expected.at<float>(3, 1000) = -9999.0f;
        expected.at<float>(1200, 7) = -9999.0f;
        ASSERT_EQ(nan->SaveData(), 1);
        const std::vector<uint32_t> saved = kvtest::ReadBits32(dir + "/nan.tif");
        ASSERT_EQ(saved.size(), expected.total());
        EXPECT_EQ(std::memcmp(saved.data(), expected.data, saved.size() * 4), 0) << layout.size();
    }
}

TEST(DemLoadSave, NaNAsNoDataValueAndUInt32BandsKeepTheirValues) {
    QString dir = kvtest::NewTempFolder("types");
    kvtest::RasterSpec spec;
    spec.width = 6;
    spec.height = 2;
    spec.noData = std::nan("");
    kvtest::WriteRaster(dir + "/nan.tif", spec, [](int c, int, int) { return c == 2 ? std::nan("") : 7.5; });
    auto dem = OpenDem(dir + "/nan.tif");
    ASSERT_TRUE(dem);
    ASSERT_EQ(dem->LoadData(), 1);
    EXPECT_EQ(At(dem->m_grid, 2, 1), -9999.0f);
    dem->m_grid.at<float>(0, 0) = -9999.0f;
    ASSERT_EQ(dem->SaveData(), 1);
    std::vector<double> cells = kvtest::ReadBand(dir + "/nan.tif");
    EXPECT_TRUE(std::isnan(cells[0]));
    EXPECT_TRUE(std::isnan(cells[2]));
    EXPECT_EQ(cells[1], 7.5);

    spec.type = GDT_UInt32;
    spec.noData = 4294967295.0;
    const double stored[6] = {0.0, 1.0, 70000.0, 16777216.0, 4294967295.0, 123456.0};
    kvtest::WriteRaster(dir + "/u32.tif", spec, [&](int c, int, int) { return stored[c]; });
    auto u32 = OpenDem(dir + "/u32.tif");
    ASSERT_TRUE(u32);
    ASSERT_EQ(u32->LoadData(), 1);
    EXPECT_EQ(At(u32->m_grid, 2, 0), 70000.0f);
    EXPECT_EQ(At(u32->m_grid, 3, 1), 16777216.0f);
    EXPECT_EQ(At(u32->m_grid, 4, 0), -9999.0f);
    std::vector<uint32_t> before = kvtest::ReadBits32(dir + "/u32.tif");
    ASSERT_EQ(u32->SaveData(), 1);
    EXPECT_EQ(kvtest::ReadBits32(dir + "/u32.tif"), before);
}

TEST(DemLoadSave, NewFilesAreTiledFloat32WithOverviewsByTheLargerSide) {
    QString dir = kvtest::NewTempFolder("newfiles");
    struct Case {
        int w, h;
        std::vector<int> overviewWidths;
    };
    const Case cases[] = {{512, 512, {}},
                          {1025, 600, {}},
                          {1026, 600, {513}},
                          {2048, 2048, {1024}},
                          {5000, 8, {2500, 1250, 625}}};
    for (const Case& k : cases) {
        cv::Mat grid(k.h, k.w, CV_32FC1, cv::Scalar(12.5f));
        QString path = dir + QString("/New_%1x%2.tif").arg(k.w).arg(k.h);
        auto dem = MemoryDem(grid, path);
        dem->m_projection = "LOCAL_CS[\"test\"]";
        ASSERT_EQ(dem->SaveData(), 1) << k.w;
        kvtest::RasterFacts f = kvtest::Inspect(path);
        EXPECT_EQ(f.driver, "GTiff");
        EXPECT_EQ(f.type, GDT_Float32);
        EXPECT_EQ(f.blockX, 256);
        EXPECT_EQ(f.blockY, 256);
        EXPECT_TRUE(f.hasNoData);
        EXPECT_EQ(f.noData, -9999.0);
        EXPECT_EQ(f.geoTransform[0], 1000.0);
        EXPECT_EQ(f.overviewWidths, k.overviewWidths) << k.w << " x " << k.h;
        // The grid stays in memory and the file is a classic (not Big)TIFF.
        EXPECT_FALSE(dem->m_grid.empty());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.read(4), QByteArray("II*\0", 4));
    }
    // Nothing but the finished files is left in the folder.
    EXPECT_EQ(QDir(dir).entryList(QDir::Files).size(), 5);
}

TEST(DemLoadSave, WriteFailuresAreReportedAndLeaveNoFile) {
    QString dir = kvtest::NewTempFolder("failures");
    cv::Mat grid(1500, 1500, CV_32FC1, cv::Scalar(3.0f));

    // A folder that does not exist: nothing can be created.
    auto missing = MemoryDem(grid, dir + "/no/such/folder/dem.tif");
    EXPECT_EQ(missing->SaveData(), 0);

    // A full disk, made by a file size limit of 64 KiB on this process: the blocks or the
    // overviews fail to reach the file.
    auto full = MemoryDem(grid, dir + "/full.tif");
    {
        FileSizeLimit limit(64 * 1024);
        EXPECT_EQ(full->SaveData(), 0);
    }
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty())
        << QDir(dir).entryList(QDir::Files).join(",").toStdString();
    EXPECT_EQ(full->SaveData(), 1);
    EXPECT_TRUE(QFileInfo::exists(dir + "/full.tif"));

    // No grid: nothing to save.
    CDEM empty(nullptr);
    empty.m_path = dir + "/empty.tif";
    EXPECT_EQ(empty.SaveData(), 0);
}

TEST(DemLoadSave, AFileCutShortFailsEveryReadAndIsReportedOncePerCommand) {
    QString dir = kvtest::NewTempFolder("truncated");
    kvtest::RasterSpec spec;
    spec.width = 600;
    spec.height = 600;
    QString path = kvtest::WriteRaster(dir + "/cut.tif", spec, [](int c, int r, int) { return c + r; });
    // The layer's file is cut short after it was opened: it still opens, and only the reads of its
    // missing blocks fail.
    CDEM dem(nullptr);
    dem.m_path = path;
    dem.m_pDataset = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    ASSERT_NE(dem.m_pDataset, nullptr);
    GDALGetGeoTransform(dem.m_pDataset, dem.m_geoTransform);
    QFile::resize(path, QFileInfo(path).size() / 2);
    const QRegularExpression unreadable("^Unable to read " + QRegularExpression::escape(path) + ": \\S");

    kvtest::ScriptedInteraction ui;
    {
        kv::BusyScope command;
        EXPECT_EQ(dem.LoadData(), 0);
        EXPECT_TRUE(dem.m_grid.empty());
        EXPECT_NE(dem.m_pDataset, nullptr);
        EXPECT_TRUE(dem.CreateRegionImage(nullptr, cv::Size(60, 60)).empty());
        // A cell of the last row, which lies in the part that was cut off.
        EXPECT_EQ(dem.GetElevation(spec.geoTransform[0] + 3.0, spec.geoTransform[3] - 599.0 * 2.0), kNoData);
    }
    ASSERT_EQ(ui.MessageTexts().size(), 1u) << ui.MessageTexts().join(" | ").toStdString();
    EXPECT_TRUE(unreadable.match(ui.MessageTexts()[0]).hasMatch()) << ui.MessageTexts()[0].toStdString();
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Warning);
    // The next command that reads it says so again.
    {
        kv::BusyScope command;
        EXPECT_EQ(dem.LoadData(), 0);
    }
    EXPECT_EQ(ui.MessageTexts().size(), 2u);

    // Opened as a new DEM it is refused with the same message.
    ui.Clear();
    EXPECT_EQ(LoadDemFromGeoTiff(path), nullptr);
    ASSERT_EQ(ui.MessageTexts().size(), 1u) << ui.MessageTexts().join(" | ").toStdString();
    EXPECT_TRUE(unreadable.match(ui.MessageTexts()[0]).hasMatch()) << ui.MessageTexts()[0].toStdString();
}

TEST(DemRegion, MemoryRegionsAreResampledToTheImageAndStayInsideIt) {
    cv::Mat grid(10, 10, CV_32FC1);
    for (int r = 0; r < 10; ++r) {
        for (int c = 0; c < 10; ++c) {
            grid.at<float>(r, c) = static_cast<float>(c + 10 * r);
        }
    }
    grid.at<float>(5, 5) = -9999.0f;
    auto dem = MemoryDem(grid, QString());

    // Half outside at the rectangle's own size: -9999 outside.
    cv::Mat same(4, 4, CV_32FC1);
    cv::Rect half(-2, 8, 4, 4);
    ASSERT_EQ(dem->GetRegion(&half, same), 1);
    EXPECT_EQ(At(same, 0, 0), -9999.0f);
    EXPECT_EQ(At(same, 2, 0), 80.0f);
    EXPECT_EQ(At(same, 3, 1), 91.0f);
    EXPECT_EQ(At(same, 3, 2), -9999.0f);

    // Into a smaller and a larger image, each inside a guarded frame that must stay untouched.
    for (cv::Size size : {cv::Size(5, 5), cv::Size(3, 7), cv::Size(25, 20)}) {
        cv::Mat frame(size.height + 2, size.width + 2, CV_32FC1, cv::Scalar(42.0f));
        cv::Mat image = frame(cv::Rect(1, 1, size.width, size.height));
        cv::Rect over(-5, -5, 12, 12);
        ASSERT_EQ(dem->GetRegion(&over, image), 1);
        cv::Mat inner = frame.clone();
        image.setTo(42.0f);
        EXPECT_EQ(cv::countNonZero(frame != 42.0f), 0) << size;
        EXPECT_EQ(At(inner, 1, 1), -9999.0f);
        EXPECT_GT(cv::countNonZero((inner != -9999.0f) & (inner != 42.0f)), 0);
    }

    // Enlarged: cells that draw on no data stay no data; far from it heights are interpolated.
    cv::Mat big(20, 20, CV_32FC1);
    ASSERT_EQ(dem->GetRegion(nullptr, big), 1);
    EXPECT_EQ(At(big, 10, 10), -9999.0f);
    EXPECT_EQ(At(big, 11, 11), -9999.0f);
    EXPECT_NEAR(At(big, 3, 3), 1.25f + 10 * 1.25f, 1e-4);

    // Refused: wrong image type, rectangle beside the raster.
    cv::Mat wrong(5, 5, CV_64FC1);
    EXPECT_EQ(dem->GetRegion(nullptr, wrong), 0);
    cv::Rect beside(10, 0, 3, 3);
    EXPECT_EQ(dem->GetRegion(&beside, same), 0);
    EXPECT_TRUE(dem->CreateRegionImage(&beside, cv::Size(3, 3)).empty());
}

TEST(DemRegion, FileAndMemoryReadsAgree) {
    QString dir = kvtest::NewTempFolder("agree");
    kvtest::RasterSpec spec;
    spec.width = 40;
    spec.height = 30;
    spec.type = GDT_Int16;
    spec.noData = -1;
    QString path = kvtest::WriteRaster(dir + "/a.tif", spec,
                                       [](int c, int r, int) { return c == 7 && r == 7 ? -1 : c * r; });
    auto onFile = OpenDem(path);
    auto inMemory = OpenDem(path);
    ASSERT_TRUE(onFile && inMemory);
    ASSERT_EQ(inMemory->LoadData(), 1);
    for (cv::Size size : {cv::Size(12, 12), cv::Size(6, 6), cv::Size(36, 36)}) {
        cv::Rect rect(-2, 3, 12, 12);
        cv::Mat a = onFile->CreateRegionImage(&rect, size);
        cv::Mat b = inMemory->CreateRegionImage(&rect, size);
        ASSERT_FALSE(a.empty());
        ASSERT_FALSE(b.empty());
        if (size.width >= 12) {
            EXPECT_EQ(cv::norm(a, b, cv::NORM_INF), 0.0) << size;
        }
        EXPECT_EQ(cv::countNonZero(a == -9999.0f), cv::countNonZero(b == -9999.0f)) << size;
    }
    // The preview of a small DEM is the raster at full size.
    EXPECT_EQ(onFile->m_minElevation, 0.0);
    EXPECT_EQ(onFile->m_maxElevation, 39.0 * 29.0);
}

TEST(DemElevation, HeightOfTheCellThatHoldsThePoint) {
    QString dir = kvtest::NewTempFolder("elev");
    kvtest::RasterSpec spec;
    spec.width = 20;
    spec.height = 10;
    QString path =
        kvtest::WriteRaster(dir + "/e.tif", spec, [](int c, int r, int) { return 100.0 + c + 100.0 * r; });
    auto dem = OpenDem(path);
    ASSERT_TRUE(dem);
    const double* gt = dem->m_geoTransform;
    for (int pass = 0; pass < 2; ++pass) {  // on file, then in memory
        EXPECT_EQ(dem->GetElevation(gt[0], gt[3]), 100.0);
        EXPECT_EQ(dem->GetElevation(gt[0] + 20 * gt[1], gt[3]), -9999.0);
        EXPECT_EQ(dem->GetElevation(gt[0] - 0.01, gt[3]), -9999.0);
        EXPECT_EQ(dem->GetElevation(gt[0] + 19.99 * gt[1], gt[3] + 9.99 * gt[5]), 100.0 + 19 + 900);
        // Between two cells: the cell that holds the point, not a blend.
        EXPECT_EQ(dem->GetElevation(gt[0] + 5.9 * gt[1], gt[3] + 2.5 * gt[5]), 100.0 + 5 + 200);
        ASSERT_EQ(dem->LoadData(), 1);
    }
    CDEM none(nullptr);
    EXPECT_EQ(none.GetElevation(0, 0), -9999.0);
}

TEST(DemSampling, BicubicInsideBorderCellsNearTheEdgeAndNoDataLeftOut) {
    cv::Mat image(100, 100, CV_32FC1);
    for (int r = 0; r < 100; ++r) {
        for (int c = 0; c < 100; ++c) {
            image.at<float>(r, c) = static_cast<float>(c * c + 2 * r);
        }
    }
    // Column 3 is not above 3: the cell itself. Column 4: the cubic, exact for a quadratic.
    EXPECT_EQ(SampleGrid(image, 3.5, 10.5), 9.0 + 20.0);
    EXPECT_NEAR(SampleGrid(image, 4.5, 10.5), 4.5 * 4.5 + 21.0, 1e-4);
    EXPECT_EQ(SampleGrid(image, 99.2, 50.0), 99.0 * 99.0 + 100.0);
    EXPECT_EQ(SampleGrid(image, 100.0, 50.0), -9999.0);
    EXPECT_EQ(SampleGrid(image, -0.5, 50.0), -9999.0);
    EXPECT_EQ(SampleGrid(cv::Mat(), 1, 1), -9999.0);

    // One no-data cell among the 16: bilinear over the three remaining corners.
    image.at<float>(11, 51) = -9999.0f;
    double fx = 0.25;
    double fy = 0.5;
    double v00 = 50 * 50 + 20, v10 = 51 * 51 + 20, v01 = 50 * 50 + 22;
    double w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy;
    double expected = (v00 * w00 + v10 * w10 + v01 * w01) / (w00 + w10 + w01);
    EXPECT_NEAR(InterpolateBicubic(image, 50, 10, fx, fy), expected, 1e-9);
    EXPECT_NEAR(SampleGrid(image, 50.25, 10.5), expected, 1e-9);
    // A no-data cell of the outer ring also drops the cubic.
    image.at<float>(11, 51) = 51 * 51 + 22;
    image.at<float>(9, 49) = std::nanf("");
    EXPECT_NEAR(InterpolateBicubic(image, 50, 10, fx, fy), InterpolateBilinear(image, 50, 10, fx, fy), 1e-9);
    // All four corners without data: no data.
    cv::Mat holes(10, 10, CV_32FC1, cv::Scalar(-9999.0f));
    EXPECT_EQ(InterpolateBilinear(holes, 4, 4, 0.5, 0.5), -9999.0);
    EXPECT_EQ(SampleGrid(holes, 1.0, 1.0), -9999.0);
}

TEST(DemLoadSave, ProgressCountsBlocksAndClearsItsCaption) {
    QString dir = kvtest::NewTempFolder("progress");
    cv::Mat grid(1100, 2100, CV_32FC1, cv::Scalar(1.0f));
    auto dem = MemoryDem(grid, dir + "/p.tif");
    rtest::RecordingProgress saving;
    ASSERT_EQ(dem->SaveData(&saving), 1);
    EXPECT_EQ(saving.ranges, (std::vector<std::pair<int, int>>{{0, 6}, {0, 100}}));
    // The operation's names go to a time-to-complete bar only; the window's caption stays.
    EXPECT_EQ(saving.barTexts, (QStringList{"Saving DEM...", "", "Building overviews...", ""}));
    EXPECT_TRUE(saving.captions.isEmpty());
    EXPECT_EQ(std::vector<int>(saving.positions.begin(), saving.positions.begin() + 7),
              (std::vector<int>{0, 0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(saving.starts, 1);

    auto loaded = OpenDem(dir + "/p.tif");
    ASSERT_TRUE(loaded);
    rtest::RecordingProgress loading;
    ASSERT_EQ(loaded->LoadData(&loading), 1);
    EXPECT_EQ(loading.ranges, (std::vector<std::pair<int, int>>{{0, 6}}));
    EXPECT_EQ(loading.positions, (std::vector<int>{0, 0, 1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(loading.barTexts, (QStringList{"Loading DEM...", ""}));
    EXPECT_TRUE(loading.captions.isEmpty());
}
