// Cutting a raster by a polygon and rotating it about a base point, through the commands as the
// operator runs them and through the workers: what lies inside and outside, no data, data types,
// overviews, rasters whose DEM has unsaved edits, and the block-wise warp against one warp of the
// whole raster.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <random>
#include <vector>

#include "DemToolsTestSupport.h"
#include "demtools/RasterCutRotate.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ProgressSink.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"
#include "support/Limits.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// The cells of band b as a float image.
cv::Mat BandImage(const QString& path, int band = 1) {
    const kvtest::RasterFacts facts = kvtest::Inspect(path);
    const std::vector<double> cells = kvtest::ReadBand(path, band);
    cv::Mat image(facts.height, facts.width, CV_32FC1);
    for (int r = 0; r < facts.height; ++r) {
        for (int c = 0; c < facts.width; ++c) {
            image.at<float>(r, c) = float(cells[size_t(r) * size_t(facts.width) + size_t(c)]);
        }
    }
    return image;
}

// World position of the centre of cell (c, r) of a raster with 2 m cells at (500000, 9000000).
void PushCell(CadDrawing* d, double c, double r) {
    CadScriptPushPoint(d, 500000.0 + 2.0 * c + 1.0, 9000000.0 - 2.0 * r - 1.0, 0.0);
}

struct Aborting : ProgressSink {
    void SetRange(int, int) override {}
    void SetPos(int) override {}
    bool IsAborted() const override { return true; }
};

class RasterCutRotateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder("cutrotate");
    }
    void TearDown() override { CadScriptSetStrict(0); }

    QString m_folder;
};

TEST_F(RasterCutRotateTest, CutKeepsTheInsideOfThePolygonAndNoDataOutside) {
    kvtest::ScriptedInteraction ui;
    // An orthophoto: three Byte bands without no data.
    kvtest::RasterSpec rgb;
    rgb.width = 60;
    rgb.height = 40;
    rgb.bands = 3;
    rgb.type = GDT_Byte;
    rgb.hasNoData = false;
    const auto colour = [](int c, int r, int b) { return double(10 * b + (c + r) % 7 + 1); };
    kvtest::WriteRaster(m_folder + "/ortho.tif", rgb, colour);
    {
        CKelvaroDoc doc;
        ASSERT_EQ(doc.AddOrtho(m_folder + "/ortho.tif", 0, 0), 1);
        ui.Clear();
        // A triangle typed point by point that runs over the left edge of the raster.
        CadScriptPushFinish(doc.m_pCad);  // no existing polyline: a new outline
        PushCell(doc.m_pCad, -10, 5);
        PushCell(doc.m_pCad, 30, 5);
        PushCell(doc.m_pCad, 30, 35);
        CadScriptPushFinish(doc.m_pCad);
        ui.AnswerFile(m_folder + "/cut");
        CmdCut(doc.m_pCad);
        EXPECT_TRUE(ui.MessageTexts().isEmpty());
        EXPECT_EQ(ActiveCadCommandId, 0);
    }
    const kvtest::RasterFacts cut = kvtest::Inspect(m_folder + "/cut.tif");
    ASSERT_TRUE(cut.opened);
    // Cells (0, 5) to (30, 35): the part left of the raster is not there.
    EXPECT_EQ(cut.width, 31);
    EXPECT_EQ(cut.height, 31);
    EXPECT_EQ(cut.bands, 3);
    EXPECT_EQ(cut.type, GDT_Byte);
    EXPECT_FALSE(cut.hasNoData);
    EXPECT_EQ(cut.blockX, 128);
    EXPECT_DOUBLE_EQ(cut.geoTransform[0], 500000.0);
    EXPECT_DOUBLE_EQ(cut.geoTransform[3], 9000000.0 - 10.0);
    CPgon area;
    {
        const Wml::Point2 cells[3] = {{-9, 5}, {30, 5}, {30, 35}};  // -9.5 truncated towards zero
        const Wml::Point2 outline[4] = {{0, 0}, {59, 0}, {59, 39}, {0, 39}};
        area = CPgon(outline, 4) & CPgon(cells, 3);
    }
    for (int b = 1; b <= 3; ++b) {
        const cv::Mat cells = BandImage(m_folder + "/cut.tif", b);
        for (int r = 0; r < cells.rows; ++r) {
            for (int c = 0; c < cells.cols; ++c) {
                const double expected = area.PtInPolygon(c, 5 + r) ? colour(c, 5 + r, b) : 0.0;
                ASSERT_EQ(cells.at<float>(r, c), expected) << c << "," << r << " band " << b;
            }
        }
    }

    // A DEM: Float32 with -9999 outside and on the band; the polygon an existing polyline.
    kvtest::RasterSpec spec;
    spec.width = 50;
    spec.height = 50;
    kvtest::WriteRaster(m_folder + "/dem.tif", spec, [](int c, int r, int) { return 100.0 + c + 0.5 * r; });
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_folder + "/dem.tif", 0), 1);
    CadClearVertices();
    for (const cv::Point& p : {cv::Point(10, 10), cv::Point(40, 12), cv::Point(25, 40)}) {
        CadAddVertex(500000.0 + 2.0 * p.x + 1.0, 9000000.0 - 2.0 * p.y - 1.0, 0.0);
    }
    CadEntity* outline = CadAddPolyline(doc.m_pCad, 0, 1);
    ui.Clear();
    CadScriptPushEntity(doc.m_pCad, CadAddLine(doc.m_pCad, 0, 0, 0, 1, 1, 0));  // no polyline
    CadScriptPushEntity(doc.m_pCad, outline);
    ui.AnswerFile(m_folder + "/demcut.tif");
    CmdCut(doc.m_pCad);
    EXPECT_TRUE(dtest::CommandLineHistory(doc.m_pCad, 4).contains("Invalid entity"));
    const dtest::Raster dem = dtest::ReadRaster(m_folder + "/demcut.tif");
    EXPECT_EQ(dem.type, GDT_Float32);
    EXPECT_EQ(dem.noData, -9999.0);
    EXPECT_EQ(dem.width, 31);
    EXPECT_EQ(dem.height, 31);
    EXPECT_EQ(dem.cells[size_t(30 * 31)], -9999.0f);                // (10, 40) outside
    EXPECT_EQ(dem.cells[size_t(2 * 31 + 15)], 100.0f + 25 + 6.0f);  // (25, 12) inside
}

TEST_F(RasterCutRotateTest, CutMatchesThePolygonTestOnEveryCell) {
    // Random outlines, crossing themselves and the raster's edges: a cell is written exactly when
    // the clipped polygon holds it (its boundary included).
    kvtest::RasterSpec spec;
    spec.width = 300;
    spec.height = 200;
    spec.type = GDT_Byte;
    spec.hasNoData = false;
    kvtest::WriteRaster(m_folder + "/ones.tif", spec, [](int, int, int) { return 1.0; });
    GDALDatasetH ds = GDALOpen(QFile::encodeName(m_folder + "/ones.tif").constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    RasterSource source;
    source.dataset = ds;
    std::mt19937 random(11);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<Wml::Point3> vertices;
        const int count = 3 + int(random() % 9);
        for (int k = 0; k < count; ++k) {
            // Cell centres from a little outside the raster.
            const double c = double(int(random() % 340) - 20), r = double(int(random() % 240) - 20);
            vertices.emplace_back(500000.0 + 2.0 * c + 1.0, 9000000.0 - 2.0 * r - 1.0, 0.0);
        }
        const CPgon area = CutArea(ds, vertices);
        if (area.GetNumContours() == 0) {
            continue;
        }
        const QString path = m_folder + QString("/trial%1.tif").arg(trial);
        ASSERT_EQ(CutRasterToFile(source, area, path, nullptr), RasterJob::Done);
        Wml::Point2 low, high;
        area.GetBoundingBox(low, high);
        const cv::Mat cells = BandImage(path);
        for (int r = 0; r < cells.rows; ++r) {
            for (int c = 0; c < cells.cols; ++c) {
                const int x = int(std::floor(low.X())) + c, y = int(std::floor(low.Y())) + r;
                ASSERT_EQ(cells.at<float>(r, c), area.PtInPolygon(x, y) ? 1.0f : 0.0f)
                    << "trial " << trial << " cell " << x << "," << y;
            }
        }
    }
    GDALClose(ds);
}

TEST_F(RasterCutRotateTest, CutRefusalsOverviewsAndTheChoiceOfLayer) {
    kvtest::ScriptedInteraction ui;
    kvtest::RasterSpec spec;
    spec.width = 1100;
    spec.height = 600;
    kvtest::WriteRaster(m_folder + "/dem.tif", spec, nullptr);
    kvtest::RasterSpec small = spec;
    small.width = small.height = 30;
    kvtest::WriteRaster(m_folder + "/map.tif", small, [](int c, int, int) { return double(c); });
    CKelvaroDoc doc;
    ui.AnswerMessage(IDNO);  // no overview levels for the DEM
    ASSERT_EQ(doc.AddDEM(m_folder + "/dem.tif", 0), 1);
    MapLayerInfo map;
    map.title = "Slope";
    map.mapType = MapTypeSlope;
    map.path = m_folder + "/map.tif";
    ASSERT_TRUE(doc.AddMap(map, 0));
    CadDrawing* d = doc.m_pCad;
    ui.Clear();

    // One DEM and no orthophoto: no question although a map is loaded. Two vertices write
    // nothing; neither does a cancelled chooser.
    CadScriptPushFinish(d);  // no existing polyline: a new outline
    PushCell(d, 0, 0);
    PushCell(d, 10, 10);
    CadScriptPushFinish(d);
    CmdCut(d);
    EXPECT_TRUE(ui.Choosers().isEmpty());
    EXPECT_FALSE(dtest::CommandLineHistory(d, 6).contains("Select DEM or OrthoPhoto"));
    ui.Clear();
    CadScriptPushFinish(d);  // no existing polyline: a new outline
    PushCell(d, 0, 0);
    PushCell(d, 999, 0);
    PushCell(d, 999, 599);
    PushCell(d, 0, 599);
    CadScriptPushFinish(d);
    ui.AnswerFile("");
    CmdCut(d);
    EXPECT_EQ(ui.Choosers().size(), 1);
    EXPECT_EQ(QDir(m_folder).entryList({"*.tif"}, QDir::Files).size(), 2);

    // 1000 x 600 cells: no overviews; 1100 x 600: the factor 2 only. The DEM's own file is refused.
    for (int width : {1000, 1100}) {
        ui.Clear();
        CadScriptPushFinish(d);  // no existing polyline: a new outline
        PushCell(d, 0, 0);
        PushCell(d, width - 1, 0);
        PushCell(d, width - 1, 599);
        PushCell(d, 0, 599);
        CadScriptPushFinish(d);
        ui.AnswerFile(m_folder + "/dem.tif");
        ui.AnswerFile(m_folder + QString("/cut%1.tif").arg(width));
        CmdCut(d);
        EXPECT_EQ(ui.MessageTexts(), QStringList{"The file is used by a loaded layer"});
        const kvtest::RasterFacts facts = kvtest::Inspect(m_folder + QString("/cut%1.tif").arg(width));
        EXPECT_EQ(facts.width, width);
        EXPECT_EQ(facts.height, 600);
        EXPECT_EQ(facts.overviewWidths, width == 1000 ? std::vector<int>{} : std::vector<int>{550});
    }
    EXPECT_EQ(ActiveCadCommandId, 0);

    // A disk that takes no more: the old file at the path stays as it was, nothing else is left.
    ui.Clear();
    const QByteArray before = kvtest::FileBytes(m_folder + "/cut1000.tif");
    CadScriptPushFinish(d);
    PushCell(d, 0, 0);
    PushCell(d, 1099, 0);
    PushCell(d, 1099, 599);
    CadScriptPushFinish(d);
    ui.AnswerFile(m_folder + "/cut1000.tif");
    {
        kvtest::FileSizeLimit disk(64 * 1024);
        CmdCut(d);
    }
    EXPECT_EQ(ui.MessageTexts(), QStringList({"cut1000.tif already exists.\nDo you want to replace it?",
                                              "Unable to save new file!"}));
    EXPECT_EQ(kvtest::FileBytes(m_folder + "/cut1000.tif"), before);
    EXPECT_EQ(QDir(m_folder).entryList({"*.kvsave*"}, QDir::Files | QDir::Hidden), QStringList());

    // A stopped cut leaves nothing.
    GDALDatasetH ds = GDALOpen(QFile::encodeName(m_folder + "/map.tif").constData(), GA_ReadOnly);
    RasterSource source;
    source.dataset = ds;
    const std::vector<Wml::Point3> square = {
        {500001, 8999999, 0}, {500041, 8999999, 0}, {500041, 8999959, 0}, {500001, 8999959, 0}};
    Aborting aborting;
    EXPECT_EQ(CutRasterToFile(source, CutArea(ds, square), m_folder + "/stopped.tif", &aborting),
              RasterJob::Aborted);
    GDALClose(ds);
    EXPECT_EQ(QDir(m_folder).entryList({"*stopped*"}, QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(RasterCutRotateTest, EditedDemIsCutAndRotatedFromItsGridAndLeftAsItIs) {
    kvtest::ScriptedInteraction ui;
    // Int16 heights with scale 0.5, offset 10 and no data -32768.
    kvtest::RasterSpec spec;
    spec.width = 40;
    spec.height = 30;
    spec.type = GDT_Int16;
    spec.noData = -32768;
    spec.hasScaleOffset = true;
    spec.scale = 0.5;
    spec.offset = 10.0;
    kvtest::WriteRaster(m_folder + "/dem.tif", spec,
                        [](int c, int r, int) { return r == 3 ? -32768.0 : c + r; });
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_folder + "/dem.tif", 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    const QByteArray file = kvtest::FileBytes(dem->m_path);
    ASSERT_EQ(dem->LoadData(), 1);
    dem->m_grid.at<float>(5, 5) = 77.0f;
    dem->m_grid.at<float>(6, 6) = kNoData;
    dem->m_modified = 1;
    const cv::Mat grid = dem->m_grid.clone();

    CadScriptPushFinish(doc.m_pCad);  // no existing polyline: a new outline
    PushCell(doc.m_pCad, 0, 0);
    PushCell(doc.m_pCad, 39, 0);
    PushCell(doc.m_pCad, 39, 29);
    PushCell(doc.m_pCad, 0, 29);
    CadScriptPushFinish(doc.m_pCad);
    ui.AnswerFile(m_folder + "/cut.tif");
    CmdCut(doc.m_pCad);
    // Base, then a point east and a point north of it: a quarter turn.
    PushCell(doc.m_pCad, 20, 15);
    PushCell(doc.m_pCad, 30, 15);
    PushCell(doc.m_pCad, 20, 5);
    ui.AnswerFile(m_folder + "/rotated.tif");
    CmdRotate(doc.m_pCad);
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join('|').toStdString();

    for (const char* name : {"/cut.tif", "/rotated.tif"}) {
        const kvtest::RasterFacts facts = kvtest::Inspect(m_folder + name);
        EXPECT_EQ(facts.type, GDT_Int16) << name;
        EXPECT_EQ(facts.noData, -32768.0) << name;
        GDALDatasetH ds = GDALOpen(QFile::encodeName(m_folder + name).constData(), GA_ReadOnly);
        EXPECT_EQ(GDALGetRasterScale(GDALGetRasterBand(ds, 1), nullptr), 0.5) << name;
        EXPECT_EQ(GDALGetRasterOffset(GDALGetRasterBand(ds, 1), nullptr), 10.0) << name;
        GDALClose(ds);
    }
    // The cut holds the grid's heights in the file's encoding: (77 - 10) / 0.5 = 134.
    const std::vector<double> cut = kvtest::ReadBand(m_folder + "/cut.tif");
    EXPECT_EQ(cut[5 * 40 + 5], 134.0);
    EXPECT_EQ(cut[6 * 40 + 6], -32768.0);
    EXPECT_EQ(cut[3 * 40 + 9], -32768.0);
    EXPECT_EQ(cut[7 * 40 + 9], (9 + 7) * 1.0);
    // Turned: 30 x 40 cells; the edited cell is there.
    const kvtest::RasterFacts turned = kvtest::Inspect(m_folder + "/rotated.tif");
    EXPECT_NEAR(turned.width, 30, 1);
    EXPECT_NEAR(turned.height, 40, 1);
    EXPECT_EQ(cv::countNonZero(BandImage(m_folder + "/rotated.tif") == 134.0f), 1);

    EXPECT_EQ(kvtest::FileBytes(dem->m_path), file);
    EXPECT_EQ(dem->m_pDataset, nullptr);
    EXPECT_EQ(dem->m_modified, 1);
    EXPECT_EQ(cv::countNonZero(dem->m_grid != grid), 0);
}

TEST_F(RasterCutRotateTest, QuarterTurnSwapsTheSidesAndFillsTheCornersWithNoData) {
    kvtest::ScriptedInteraction ui;
    kvtest::RasterSpec spec;
    spec.width = 80;
    spec.height = 50;
    const auto height = [](int c, int r, int) { return c == 20 && r == 10 ? -9999.0 : 50.0 + c - r; };
    kvtest::WriteRaster(m_folder + "/dem.tif", spec, height);
    kvtest::RasterSpec rgb = spec;
    rgb.bands = 3;
    rgb.type = GDT_Byte;
    rgb.hasNoData = false;
    kvtest::WriteRaster(m_folder + "/ortho.tif", rgb, [](int, int, int b) { return 100.0 + b; });
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_folder + "/dem.tif", 0), 1);
    ASSERT_EQ(doc.AddOrtho(m_folder + "/ortho.tif", 0, 0), 1);
    CadDrawing* d = doc.m_pCad;
    // The DEM a quarter turn about (30.2, 20.7): a point due east of the base and one due north.
    // The orthophoto and the DEM by 30 degrees.
    const auto rotate = [&](CadEntity* image, double degrees, const char* output) {
        CadScriptPushEntity(d, image);
        CadScriptPushPoint(d, 500060.4, 8999958.6, 0);
        CadScriptPushPoint(d, 500090.4, 8999958.6, 0);
        CadScriptPushPoint(d, 500060.4 + 30.0 * std::cos(degrees * M_PI / 180),
                           8999958.6 + 30.0 * std::sin(degrees * M_PI / 180), 0);
        ui.AnswerFile(m_folder + output);
        CmdRotate(d);
    };
    rotate(doc.m_DEMs.begin()->second->m_imageEntity, 90, "/dem90.tif");
    rotate(doc.m_Orthos.begin()->second->m_imageEntity, 30, "/rgb30.tif");
    rotate(doc.m_DEMs.begin()->second->m_imageEntity, 30, "/dem30.tif");
    const cv::Mat dem30 = BandImage(m_folder + "/dem30.tif");
    for (const cv::Point& corner :
         {cv::Point(0, 0), cv::Point(dem30.cols - 1, 0), cv::Point(0, dem30.rows - 1),
          cv::Point(dem30.cols - 1, dem30.rows - 1)}) {
        EXPECT_EQ(dem30.at<float>(corner), -9999.0f) << corner.x << "," << corner.y;
    }
    EXPECT_NEAR(dem30.at<float>(dem30.rows / 2, dem30.cols / 2), 50.0 + 39.5 - 24.5, 1.5);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());

    const cv::Mat turned = BandImage(m_folder + "/dem90.tif");
    const kvtest::RasterFacts facts = kvtest::Inspect(m_folder + "/dem90.tif");
    EXPECT_NEAR(turned.cols, 50, 1);
    EXPECT_NEAR(turned.rows, 80, 1);
    EXPECT_EQ(facts.noData, -9999.0);
    EXPECT_EQ(facts.type, GDT_Float32);
    EXPECT_DOUBLE_EQ(facts.geoTransform[1], 2.0);
    EXPECT_DOUBLE_EQ(facts.geoTransform[5], -2.0);
    // Every cell holds the source's height where its centre turns back to (bilinear, so exact for
    // these planar heights up to the warp's 1/32-cell sampling); the hole stays a hole.
    const Wml::Point2 base(500060.4, 8999958.6);
    int valid = 0;
    for (int r = 0; r < turned.rows; ++r) {
        for (int c = 0; c < turned.cols; ++c) {
            const Wml::Point2 world(facts.geoTransform[0] + 2.0 * (c + 0.5),
                                    facts.geoTransform[3] - 2.0 * (r + 0.5));
            const Wml::Point2 back = RotatePoint2D(world, -M_PI / 2, base);
            const double x = (back.X() - 500000.0) / 2.0 - 0.5, y = (9000000.0 - back.Y()) / 2.0 - 0.5;
            const float cell = turned.at<float>(r, c);
            if (x >= 0.0 && y >= 0.0 && x <= 79.0 && y <= 49.0 && std::hypot(x - 20, y - 10) >= 1.5) {
                ASSERT_NEAR(cell, 50.0 + x - y, 0.04) << c << "," << r;
                ++valid;
            } else if (x < -1.0 || y < -1.0 || x > 80.0 || y > 50.0 || std::hypot(x - 20, y - 10) < 0.5) {
                ASSERT_EQ(cell, -9999.0f) << c << "," << r;
            }
        }
    }
    EXPECT_GT(valid, 48 * 78);
    for (int b = 1; b <= 3; ++b) {
        const cv::Mat colour = BandImage(m_folder + "/rgb30.tif", b);
        EXPECT_EQ(colour.at<float>(colour.rows / 2, colour.cols / 2), 100.0f + b);
        EXPECT_GT(cv::countNonZero(colour == 0.0f), 0) << b;
        EXPECT_EQ(cv::countNonZero(colour > float(100 + b)), 0) << b;
        EXPECT_EQ(colour.at<float>(0, 0), 0.0f);
        EXPECT_EQ(colour.at<float>(colour.rows - 1, colour.cols - 1), 0.0f);
    }
}

TEST_F(RasterCutRotateTest, NoTurnGivesTheSourceBack) {
    kvtest::ScriptedInteraction ui;
    kvtest::RasterSpec spec;
    spec.width = 70;
    spec.height = 45;
    kvtest::WriteRaster(m_folder + "/dem.tif", spec, [](int c, int r, int) {
        return (c * 7 + r * 3) % 11 == 0 ? -9999.0 : 10.0 + c * 0.25 + r;
    });
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(m_folder + "/dem.tif", 0), 1);
    // Both rotation points on one ray from the base.
    PushCell(doc.m_pCad, 10, 10);
    PushCell(doc.m_pCad, 20, 20);
    PushCell(doc.m_pCad, 40, 40);
    ui.AnswerFile(m_folder + "/same.tif");
    CmdRotate(doc.m_pCad);
    const cv::Mat source = BandImage(m_folder + "/dem.tif");
    const cv::Mat same = BandImage(m_folder + "/same.tif");
    ASSERT_EQ(same.size(), source.size());
    EXPECT_EQ(cv::countNonZero(same != source), 0);
    const kvtest::RasterFacts facts = kvtest::Inspect(m_folder + "/same.tif");
    EXPECT_DOUBLE_EQ(facts.geoTransform[0], 500000.0);
    EXPECT_DOUBLE_EQ(facts.geoTransform[3], 9000000.0);
}

TEST_F(RasterCutRotateTest, BlocksEqualOneWarpOfTheWholeRaster) {
    // 3000 x 2000 heights with holes, turned by 0.3 rad: two blocks across, one down, and windows
    // that end inside the source.
    kvtest::RasterSpec spec;
    spec.width = 3000;
    spec.height = 2000;
    const auto height = [](int c, int r, int) {
        return (c / 40 + r / 40) % 9 == 0 && (c % 40) < 10 ? -9999.0
                                                           : 100.0 + std::sin(c * 0.01) * 30.0 + r * 0.02;
    };
    kvtest::WriteRaster(m_folder + "/big.tif", spec, height);
    GDALDatasetH ds = GDALOpen(QFile::encodeName(m_folder + "/big.tif").constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    RasterSource source;
    source.dataset = ds;
    const double angle = 0.3;
    const Wml::Point2 base(501234.5, 8998765.4);
    ASSERT_EQ(RotateRasterToFile(source, angle, base, m_folder + "/blocks.tif", nullptr), RasterJob::Done);
    double gt[6];
    GDALGetGeoTransform(ds, gt);
    GDALClose(ds);

    RotationGrid grid;
    ASSERT_TRUE(RotationGridOf(3000, 2000, gt, angle, base, &grid));
    cv::Mat whole = BandImage(m_folder + "/big.tif");
    whole.setTo(std::numeric_limits<float>::quiet_NaN(), whole == -9999.0f);
    cv::Mat reference;
    cv::warpPerspective(whole, reference, grid.transform, cv::Size(grid.width, grid.height), cv::INTER_LINEAR,
                        cv::BORDER_CONSTANT, cv::Scalar::all(std::numeric_limits<double>::quiet_NaN()));
    const cv::Mat blocks = BandImage(m_folder + "/blocks.tif");
    ASSERT_EQ(blocks.size(), reference.size());
    int both = 0, rescued = 0;
    for (int r = 0; r < blocks.rows; ++r) {
        for (int c = 0; c < blocks.cols; ++c) {
            const float ours = blocks.at<float>(r, c);
            const float theirs = reference.at<float>(r, c);
            if (!std::isnan(theirs)) {
                ASSERT_NEAR(ours, theirs, 1e-4) << c << "," << r;
                ++both;
            } else if (ours != -9999.0f) {
                // A cell the single warp loses to a neighbour of zero weight: it lies next to one
                // that both keep.
                const cv::Rect around =
                    cv::Rect(c - 1, r - 1, 3, 3) & cv::Rect(0, 0, blocks.cols, blocks.rows);
                cv::Mat near = reference(around);
                ASSERT_GT(cv::countNonZero(near == near), 0) << c << "," << r;
                ++rescued;
            }
        }
    }
    EXPECT_GT(both, 3000 * 2000 * 9 / 10);
    EXPECT_LT(rescued, both / 100);
}

TEST_F(RasterCutRotateTest, AnInfiniteCellTurnsAsNoData) {
    // The real DEM with one infinite cell turns as the same DEM with no data in that cell.
    const float noData = -9999.0f;
    cv::Mat turned[2];
    const QString sources[2] = {dtest::CopyInfiniteDem(m_folder + "/infinite.tif"),
                                dtest::CopyInfiniteDem(m_folder + "/hole.tif", &noData)};
    for (int i = 0; i < 2; ++i) {
        GDALDatasetH ds = GDALOpen(QFile::encodeName(sources[i]).constData(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr);
        RasterSource source;
        source.dataset = ds;
        const QString output = sources[i] + ".turned.tif";
        ASSERT_EQ(RotateRasterToFile(source, 0.3, Wml::Point2(292000.0, 9117000.0), output, nullptr),
                  RasterJob::Done);
        GDALClose(ds);
        turned[i] = BandImage(output);
    }
    ASSERT_EQ(turned[0].size(), turned[1].size());
    EXPECT_EQ(cv::countNonZero(turned[0] != turned[1]), 0);
}

TEST_F(RasterCutRotateTest, LongRasterRotates) {
    // A side of 40,000 cells: the single warp of the whole raster cannot take it.
    kvtest::RasterSpec spec;
    spec.width = 40000;
    spec.height = 300;
    spec.options = {"TILED=YES"};
    kvtest::WriteRaster(m_folder + "/long.tif", spec, [](int c, int r, int) { return c * 0.01 + r; });
    GDALDatasetH ds = GDALOpen(QFile::encodeName(m_folder + "/long.tif").constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    RasterSource source;
    source.dataset = ds;
    ASSERT_EQ(RotateRasterToFile(source, M_PI / 2, Wml::Point2(500000.0, 9000000.0),
                                 m_folder + "/upright.tif", nullptr),
              RasterJob::Done);
    GDALClose(ds);
    const kvtest::RasterFacts facts = kvtest::Inspect(m_folder + "/upright.tif");
    EXPECT_EQ(facts.width, 300);
    EXPECT_EQ(facts.height, 40000);
    EXPECT_GT(facts.overviews, 0);
    // Source cell (c, r) turns to output cell (r, 39999 - c).
    GDALDatasetH out = GDALOpen(QFile::encodeName(m_folder + "/upright.tif").constData(), GA_ReadOnly);
    float cell = 0.f;
    for (const cv::Point& p : {cv::Point(100, 7), cv::Point(25000, 150), cv::Point(39000, 298)}) {
        ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(out, 1), GF_Read, p.y, 39999 - p.x, 1, 1, &cell, 1, 1,
                               GDT_Float32, 0, 0),
                  CE_None);
        EXPECT_NEAR(cell, p.x * 0.01 + p.y, 1e-2) << p.x;
    }
    GDALClose(out);
}

}  // namespace
