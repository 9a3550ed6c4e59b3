// Heights between drawing entities and DEMs, driven as the operator drives the three commands:
// selections, picks and typed text scripted, the grids, entities and undo history read back.
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <gdal_alg.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "DemToolsTestSupport.h"
#include "demtools/EntityElevation.h"
#include "demtools/EntityElevationCommands.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using Height = std::function<double(double, double)>;

// A Float32 GeoTIFF of w x h cells with the geotransform, value(column, row) in its cells and
// no data -9999.
QString WriteDem(const QString& path, int w, int h, const double gt[6],
                 const std::function<float(int, int)>& value) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), w, h, 1,
                                 GDT_Float32, nullptr);
    EXPECT_NE(ds, nullptr);
    GDALSetGeoTransform(ds, const_cast<double*>(gt));
    std::vector<float> cells(size_t(w) * h);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            cells[size_t(r) * w + c] = value(c, r);
        }
    }
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    GDALSetRasterNoDataValue(band, kNoData);
    EXPECT_EQ(GDALRasterIO(band, GF_Write, 0, 0, w, h, cells.data(), w, h, GDT_Float32, 0, 0), CE_None);
    GDALClose(ds);
    return path;
}

CadEntity* AddPolyline(CadDrawing* d, const std::vector<Wml::Point3>& vertices, int closed) {
    CadClearVertices();
    for (const Wml::Point3& p : vertices) {
        CadAddVertex(p.X(), p.Y(), p.Z());
    }
    return CadAddPolyline(d, 0, closed);
}

std::vector<Wml::Point3> Vertices(CadEntity* polyline) {
    std::vector<Wml::Point3> v;
    for (int i = 0; i < CadPlineGetNumVers(polyline); ++i) {
        double x, y, z;
        CadPlineGetVer(polyline, i, &x, &y, &z);
        v.emplace_back(x, y, z);
    }
    return v;
}

// The plan outline of a polyline's vertices.
CPgon Outline(const std::vector<Wml::Point3>& vertices) {
    std::vector<Wml::Point2> plan;
    for (const Wml::Point3& p : vertices) {
        plan.emplace_back(p.X(), p.Y());
    }
    return CPgon(plan.data(), int(plan.size()));
}

// Vertices at the places, with the heights of the surface.
std::vector<Wml::Point3> OnSurface(const std::vector<Wml::Point2>& places, const Height& z) {
    std::vector<Wml::Point3> v;
    for (const Wml::Point2& p : places) {
        v.emplace_back(p.X(), p.Y(), z(p.X(), p.Y()));
    }
    return v;
}

class EntityElevationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder("entity_elevation");
    }
    void TearDown() override { CadScriptSetStrict(0); }

    static void ExpectEnded(CadDrawing* d) {
        EXPECT_EQ(ActiveCadCommandId, 0);
        char prompt[256];
        CadCmdGetPrompt(d, prompt, sizeof prompt);
        EXPECT_STREQ(prompt, "");
    }
    // The refusal without a DEM: nothing waits, and the prompt says why.
    static void ExpectRefused(CadDrawing* d) {
        EXPECT_EQ(ActiveCadCommandId, 0);
        char prompt[256];
        CadCmdGetPrompt(d, prompt, sizeof prompt);
        EXPECT_STREQ(prompt, "No DEM loaded");
    }
    // Adds a copy of the Olinda DEM (no data -9999) under the name and loads its grid.
    CDEM* AddOlinda(CKelvaroDoc& doc, const QString& name) {
        const QString copy = m_folder + "/" + name;
        EXPECT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_EQ(doc.AddDEM(copy, 0), 1);
        CDEM* dem = doc.m_DEMs.at(name);
        EXPECT_EQ(dem->LoadData(), 1);
        return dem;
    }
    // One selection round of the polylines, finished with a right click.
    static void PushRound(CadDrawing* d, std::initializer_list<CadEntity*> entities) {
        for (CadEntity* e : entities) {
            CadScriptPushEntity(d, e);
        }
        CadScriptPushFinish(d);
    }

    kvtest::ScriptedInteraction m_ui;
    QString m_folder;
};

// Every cell whose top-left corner lies in one of the areas and whose centre lies well inside it
// holds the surface at its centre (1e-4); cells of corners inside that are still written hold it
// too; every other cell keeps its value. Answers the number of cells written.
int ExpectSurfaceInside(const CDEM& dem, const cv::Mat& original, const std::vector<CPgon>& areas,
                        const Height& z) {
    const double* gt = dem.m_geoTransform;
    const Wml::Point2 corners[4] = {{gt[0], gt[3] + dem.Height() * gt[5]},
                                    {gt[0] + dem.Width() * gt[1], gt[3] + dem.Height() * gt[5]},
                                    {gt[0] + dem.Width() * gt[1], gt[3]},
                                    {gt[0], gt[3]}};
    std::vector<CPgon> onDem;
    for (const CPgon& area : areas) {
        onDem.push_back(area & CPgon(corners, 4));
    }
    int written = 0;
    for (int r = 0; r < original.rows; ++r) {
        for (int c = 0; c < original.cols; ++c) {
            const double x = gt[0] + c * gt[1], y = gt[3] + r * gt[5];
            const double cx = gt[0] + (c + 0.5) * gt[1], cy = gt[3] + (r + 0.5) * gt[5];
            bool corner = false, centre = false;
            for (const CPgon& area : onDem) {
                corner = corner || area.PtInPolygon(x, y);
                // Well inside: the centre and the four points a tenth of a cell around it.
                bool deep = true;
                for (const auto& [dx, dy] :
                     {std::pair{0.0, 0.0}, {0.1, 0.0}, {-0.1, 0.0}, {0.0, 0.1}, {0.0, -0.1}}) {
                    deep = deep && area.PtInPolygon(cx + dx * gt[1], cy + dy * gt[5]);
                }
                centre = centre || deep;
            }
            const float v = dem.m_grid.at<float>(r, c), before = original.at<float>(r, c);
            if (!corner) {
                EXPECT_EQ(v, before) << c << "," << r;
            } else if (centre || v != before) {
                EXPECT_NEAR(v, z(cx, cy), 1e-4) << c << "," << r;
                ++written;
            }
        }
    }
    return written;
}

TEST(CornersInside, RandomOutlinesMadeValidIntoSeveralContoursAgreeWithThePointTest) {
    const double kGt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
    // Random polygons, half of them with vertices on cell corners (edges through corners, edges
    // along row lines, vertices on the rows), against the polygon's own point test. Crossing
    // outlines come out of CPgon as several contours.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> free(-10.0, 70.0);
    std::uniform_int_distribution<int> lattice(-5, 65);
    const cv::Rect window(3, 2, 50, 60);
    for (int round = 0; round < 300; ++round) {
        const bool onCorners = round % 2 == 0;
        std::vector<Wml::Point2> points;
        const int n = 3 + round % 9;
        for (int i = 0; i < n; ++i) {
            const double c = onCorners ? lattice(random) : free(random);
            const double r = onCorners ? lattice(random) : free(random);
            points.emplace_back(kGt[0] + c * kGt[1], kGt[3] + r * kGt[5]);
        }
        const CPgon polygon(points.data(), n);
        const cv::Mat mask = CornersInside(polygon, kGt, window);
        ASSERT_EQ(mask.size(), window.size());
        int wrong = 0;
        for (int r = 0; r < window.height; ++r)
            for (int c = 0; c < window.width; ++c) {
                const int expected =
                    polygon.PtInPolygon(kGt[0] + (window.x + c) * kGt[1], kGt[3] + (window.y + r) * kGt[5])
                        ? 1
                        : 0;
                wrong += (mask.at<uchar>(r, c) != 0) != (expected != 0);
            }
        ASSERT_EQ(wrong, 0) << "round " << round;
    }
}

TEST(CornersInside, AgreesWithThePointTestOnEveryCellIncludingCornersOnTheOutline) {
    const double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -3.0};
    const cv::Rect window(3, 2, 40, 30);
    auto corner = [&](double c, double r) { return Wml::Point2(gt[0] + c * gt[1], gt[3] + r * gt[5]); };
    std::vector<std::vector<Wml::Point2>> rings = {
        // Grid-aligned, with horizontal and vertical sides along cell lines and a notch.
        {corner(5, 4), corner(30, 4), corner(30, 20), corner(20, 20), corner(20, 10), corner(12, 10),
         corner(12, 20), corner(5, 20)},
        // Vertices on cell corners with slanted sides through further corners, and a spike.
        {corner(4, 3), corner(40, 21), corner(22, 30), corner(22, 6), corner(10, 27)},
        // A bow-tie (even-odd) reaching past the window.
        {corner(0, 0), corner(50, 40), corner(50, 0), corner(0, 40)},
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<Wml::Point2> star;
    for (int i = 0; i < 60; ++i) {
        const double a = 2.0 * M_PI * i / 60.0, radius = 5.0 + 9.0 * u(random);
        // Every third vertex snapped to a cell corner.
        double c = 23.0 + radius * std::cos(a), r = 17.0 + radius * std::sin(a);
        if (i % 3 == 0) {
            c = std::round(c), r = std::round(r);
        }
        star.push_back(corner(c, r));
    }
    rings.push_back(star);
    for (size_t k = 0; k < rings.size(); ++k) {
        const CPgon polygon(rings[k].data(), int(rings[k].size()));
        const cv::Mat mask = CornersInside(polygon, gt, window);
        int inside = 0;
        for (int r = 0; r < window.height; ++r) {
            for (int c = 0; c < window.width; ++c) {
                const double x = gt[0] + (window.x + c) * gt[1], y = gt[3] + (window.y + r) * gt[5];
                const bool expected = polygon.PtInPolygon(x, y) != 0;
                ASSERT_EQ(mask.at<uint8_t>(r, c) != 0, expected) << "ring " << k << " cell " << c << "," << r;
                inside += expected;
            }
        }
        EXPECT_GT(inside, 50) << "ring " << k;
    }
}

TEST_F(EntityElevationTest, ClosedPolylinesWriteTheirPlaneInsideEveryDemOnePieceOnlyOneRoundPerSelection) {
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    CDEM* first = AddOlinda(doc, "olinda_a.tif");
    CDEM* second = AddOlinda(doc, "olinda_b.tif");
    // Every DEM of the project is written, a hidden one too.
    CadEntityPutVisible(second->m_imageEntity, 0);
    const double fine[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -3.0};
    ASSERT_EQ(doc.AddDEM(WriteDem(m_folder + "/fine.tif", 60, 40, fine, [](int, int) { return 0.0f; }), 0),
              1);
    CDEM* narrow = doc.m_DEMs.at("fine.tif");
    ASSERT_EQ(narrow->LoadData(), 1);
    const cv::Mat firstOriginal = first->m_grid.clone(), secondOriginal = second->m_grid.clone(),
                  narrowOriginal = narrow->m_grid.clone();

    const Height tilt = [](double x, double y) {
        return 10.0 + 0.001 * (x - 290000.0) + 0.002 * (y - 9115000.0);
    };
    const Height fineTilt = [](double x, double y) {
        return 3.0 + 0.05 * (x - 1000.0) - 0.02 * (y - 5000.0);
    };
    // A concave polyline inside both Olinda DEMs, one across their west edge, one over the DEM of
    // 2 x 3 m cells.
    const auto inside = OnSurface(
        {{290500, 9112500}, {294000, 9112000}, {295500, 9115500}, {293000, 9114200}, {291000, 9117000}},
        tilt);
    const auto across =
        OnSurface({{287000, 9118000}, {290500, 9118500}, {290000, 9120000}, {287500, 9119500}}, tilt);
    const auto small =
        OnSurface({{1010.3, 4990.1}, {1090.7, 4960.2}, {1100.1, 4900.3}, {1040.2, 4915.5}}, fineTilt);
    CadEntity* a = AddPolyline(d, inside, 1);
    CadEntity* b = AddPolyline(d, across, 1);
    CadEntity* f = AddPolyline(d, small, 1);
    // An open polyline and a point in the selection are left out.
    CadEntity* open =
        AddPolyline(d, OnSurface({{296000, 9118000}, {298000, 9118000}, {297000, 9119500}}, tilt), 0);
    CadEntity* point = CadAddPoint(d, 297000, 9112000, 500.0);
    // A U whose base lies south of the DEMs: its part over them falls into two pieces.
    CadEntity* u = AddPolyline(d,
                               OnSurface({{296000, 9109000},
                                          {298000, 9109000},
                                          {298000, 9113000},
                                          {297500, 9113000},
                                          {297500, 9110000},
                                          {296500, 9110000},
                                          {296500, 9113000},
                                          {296000, 9113000}},
                                         tilt),
                               1);

    PushRound(d, {a, open, b, point, f});
    PushRound(d, {u});
    CadScriptPushFinish(d);  // an empty selection ends the command
    CmdDemElevationByEntities(d);
    ExpectEnded(d);
    EXPECT_TRUE(m_ui.Messages().empty());

    // One round for the first selection: both polylines on both Olinda DEMs and the small one.
    ASSERT_EQ(doc.DemUndoHistory().Count(), 1);
    EXPECT_EQ(doc.DemUndoHistory().Round(0).Records().size(), 5u);
    const std::vector<CPgon> areas = {Outline(inside), Outline(across)};
    EXPECT_GT(ExpectSurfaceInside(*first, firstOriginal, areas, tilt), 300);
    EXPECT_GT(ExpectSurfaceInside(*second, secondOriginal, areas, tilt), 300);
    EXPECT_GT(ExpectSurfaceInside(*narrow, narrowOriginal, {Outline(small)}, fineTilt), 300);
    // The west edge's column is written where the polyline crosses it.
    EXPECT_NEAR(first->m_grid.at<float>(20, 0),
                tilt(first->m_geoTransform[0] + 0.5 * first->m_geoTransform[1],
                     first->m_geoTransform[3] + 20.5 * first->m_geoTransform[5]),
                1e-4);
    EXPECT_EQ(first->m_modified, 1);

    // One Undo restores all three DEMs.
    doc.OnButtonDemundo();
    EXPECT_EQ(cv::norm(first->m_grid, firstOriginal, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(second->m_grid, secondOriginal, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(narrow->m_grid, narrowOriginal, cv::NORM_INF), 0.0);

    // No DEM: the prompt says so and nothing waits.
    CKelvaroDoc empty;
    CmdDemElevationByEntities(empty.m_pCad);
    ExpectRefused(empty.m_pCad);
}

class RasterizeTest : public EntityElevationTest {
protected:
    void SetUp() override {
        EntityElevationTest::SetUp();
        const double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
        ASSERT_EQ(
            m_doc.AddDEM(
                WriteDem(m_folder + "/flat.tif", 100, 100, gt, [](int c, int) { return 100.0f + c; }), 0),
            1);
        m_dem = m_doc.m_DEMs.begin()->second;
    }
    // The world position of a place given in cells (column, row).
    static double X(double column) { return 1000.0 + 2.0 * column; }
    static double Y(double row) { return 5000.0 - 2.0 * row; }
    void Run(std::initializer_list<CadEntity*> entities) {
        for (CadEntity* e : entities) {
            CadScriptPushEntity(m_doc.m_pCad, e);
        }
        CadScriptPushFinish(m_doc.m_pCad);
        CmdRasterizeEntitiesOnDem(m_doc.m_pCad);
        ExpectEnded(m_doc.m_pCad);
    }

    CKelvaroDoc m_doc;
    CDEM* m_dem = nullptr;
};

TEST_F(RasterizeTest, LinesAreWalkedInEighthsOfACellOnlyOnTheGridAndUndoRestoresTheGrid) {
    CadDrawing* d = m_doc.m_pCad;
    ASSERT_EQ(m_dem->LoadData(), 1);
    const cv::Mat original = m_dem->m_grid.clone();
    // A segment shorter than an eighth of a cell, across a cell line.
    CadEntity* shortSide = CadAddLine(d, X(11) - 0.1, Y(10.5), 7.0, X(11) + 0.1, Y(10.5), 8.0);
    // A long one that starts just before its first cell's east edge: 320 steps, 8 a cell.
    CadEntity* longSide = CadAddLine(d, X(21) - 0.1, Y(30.5), 0.0, X(61) - 0.1, Y(30.5), 80.0);
    // A point half a cell north of the DEM and a line ending half a cell west of it.
    CadEntity* north = CadAddPoint(d, X(50.5), Y(-0.5), 5000.0);
    CadEntity* west = CadAddLine(d, X(10.55), Y(40.5), 0.0, X(-0.5), Y(40.5), 1000.0);
    Run({shortSide, longSide, north, west});

    const cv::Mat& g = m_dem->m_grid;
    EXPECT_EQ(g.at<float>(10, 10), 7.0f);
    EXPECT_EQ(g.at<float>(10, 11), 8.0f);
    EXPECT_EQ(g.at<float>(30, 20), 0.0f);  // the first cell holds z1
    for (int c = 21; c < 60; ++c) {
        // Evenly: eight steps of 80 / 320 a cell.
        EXPECT_NEAR(g.at<float>(30, c) - g.at<float>(30, c - 1), 2.0f, 1e-4) << c;
    }
    // Column 0 holds the last step on the grid (k = 84 of 88), not one west of it.
    EXPECT_NEAR(g.at<float>(40, 0), 84.0 * 1000.0 / 88.0, 1e-3);
    // Nothing but the 2 + 41 + 11 cells of the sides changed.
    cv::Mat changed;
    cv::compare(g, original, changed, cv::CMP_NE);
    EXPECT_EQ(cv::countNonZero(changed), 54);
    EXPECT_EQ(m_dem->m_modified, 1);
    ASSERT_EQ(m_doc.DemUndoHistory().Count(), 1);

    m_doc.OnButtonDemundo();
    EXPECT_EQ(cv::norm(g, original, cv::NORM_INF), 0.0);
}

TEST_F(RasterizeTest, ClosedPolylinesBurnTheirClosingSideOtherKindsAreInvalidAndNoDemIsRefused) {
    CadDrawing* d = m_doc.m_pCad;
    // The closing side runs along row 70 from column 40 back to column 20.
    CadEntity* triangle =
        AddPolyline(d, {{X(20.5), Y(70.5), 500}, {X(30.5), Y(90.5), 500}, {X(40.5), Y(70.5), 500}}, 1);
    CadEntity* circle = CadAddCircle(d, X(50), Y(50), 0, 10);
    Run({circle, triangle});
    EXPECT_NE(dtest::CommandLineHistory(d, 6).indexOf("Invalid entity"), -1);
    for (int c = 20; c <= 40; ++c) {
        EXPECT_EQ(m_dem->m_grid.at<float>(70, c), 500.0f) << c;
    }
    EXPECT_EQ(m_dem->m_grid.at<float>(75, 30), 130.0f);  // inside the triangle, untouched

    // Nothing picked: nothing written, no round.
    m_ui.Clear();
    Run({});
    EXPECT_EQ(m_doc.DemUndoHistory().Count(), 1);

    CKelvaroDoc empty;
    CmdRasterizeEntitiesOnDem(empty.m_pCad);
    ExpectRefused(empty.m_pCad);
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].text, "No DEM loaded");
    EXPECT_EQ(m_ui.Messages()[0].icon(), kv::MessageIcon::Warning);

    // A DEM whose cells can no longer be read (its file cut short after it was opened): the
    // command ends without writing anything and without an undo round.
    m_ui.Clear();
    CKelvaroDoc cut;
    const double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
    const QString path = WriteDem(m_folder + "/cut.tif", 300, 300, gt, [](int, int) { return 1.0f; });
    ASSERT_EQ(cut.AddDEM(path, 0), 1);
    CDEM* unreadable = cut.m_DEMs.begin()->second;
    ASSERT_TRUE(unreadable->m_grid.empty());
    ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() / 3));
    GDALFlushCache(unreadable->m_pDataset);  // drops the blocks read for the preview
    CadScriptPushEntity(cut.m_pCad, CadAddLine(cut.m_pCad, X(1), Y(1), 9.0, X(200), Y(200), 9.0));
    CadScriptPushFinish(cut.m_pCad);
    CmdRasterizeEntitiesOnDem(cut.m_pCad);
    ExpectEnded(cut.m_pCad);
    // The read says what GDAL found, then the command what it did not do.
    ASSERT_EQ(m_ui.MessageTexts().size(), 2);
    EXPECT_TRUE(m_ui.MessageTexts()[0].startsWith("Unable to read " + path + ": "));
    EXPECT_EQ(m_ui.MessageTexts()[1], "unable to read DEM");
    EXPECT_TRUE(unreadable->m_grid.empty());
    EXPECT_EQ(unreadable->m_modified, 0);
    EXPECT_EQ(cut.DemUndoHistory().Count(), 0);
}

class SetElevationTest : public RasterizeTest {
protected:
    // Picks the entities, finishes, and answers the step prompt with the texts.
    void Run(std::initializer_list<CadEntity*> entities, std::initializer_list<const char*> texts) {
        CadDrawing* d = m_doc.m_pCad;
        for (CadEntity* e : entities) {
            CadScriptPushEntity(d, e);
        }
        CadScriptPushFinish(d);
        for (const char* text : texts) {
            CadScriptPushText(d, text);
        }
        CmdSetEntElevationFromDem(d);
        ExpectEnded(d);
    }
    // The DEM's height at a place: 100 + column.
    static double H(double x) { return 100.0 + std::floor((x - 1000.0) / 2.0); }
};

TEST_F(SetElevationTest, StepZeroSetsHeightsInPlaceAndKeepsHeightsWhereTheDemHasNone) {
    CadDrawing* d = m_doc.m_pCad;
    CadEntity* point = CadAddPoint(d, X(5.5), Y(4.5), 0.0);
    CadEntity* line = CadAddLine(d, X(10.5), Y(9.5), 1.0, X(20.5), Y(9.5), 2.0);
    CadEntity* firstOff = CadAddLine(d, X(-5), Y(9.5), 1.0, X(20.5), Y(9.5), 2.0);
    CadEntity* secondOff = CadAddLine(d, X(10.5), Y(9.5), 1.0, X(150), Y(9.5), 2.0);
    CadEntity* polyline = AddPolyline(d, {{X(1.5), Y(1.5), 0}, {X(3.5), Y(1.5), 0}, {X(3.5), Y(-3), 9}}, 0);
    const int count = CadCountEntities(d);
    // "-1" and "abc" ask again.
    Run({point, line, firstOff, secondOff, polyline}, {"-1", "abc", "0"});
    EXPECT_TRUE(m_ui.Messages().empty());
    EXPECT_EQ(CadCountEntities(d), count);
    for (CadEntity* e : {point, line, firstOff, secondOff, polyline}) {
        EXPECT_EQ(CadGetEntityByID(d, CadEntityGetID(e)), e);
    }
    EXPECT_GE(dtest::CommandLineHistory(d, 10).count("Resample <0.0>:"), 3);

    double x, y, z, x2, y2, z2;
    CadPointGet(point, &x, &y, &z);
    EXPECT_EQ(z, 105.0);
    EXPECT_EQ(CadEntityGetSelected(point), 0);
    CadLineGet(line, &x, &y, &z, &x2, &y2, &z2);
    EXPECT_EQ(z, 110.0);
    EXPECT_EQ(z2, 120.0);
    CadLineGet(firstOff, &x, &y, &z, &x2, &y2, &z2);
    EXPECT_EQ(z, 1.0);
    EXPECT_EQ(z2, 2.0);
    CadLineGet(secondOff, &x, &y, &z, &x2, &y2, &z2);
    EXPECT_EQ(z, 110.0);
    EXPECT_EQ(z2, 2.0);
    const std::vector<Wml::Point3> v = Vertices(polyline);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].Z(), 101.0);
    EXPECT_EQ(v[1].Z(), 103.0);
    EXPECT_EQ(v[2].Z(), 9.0);  // off the DEM

    // Cancel at the step: nothing changes.
    CadLinePut(line, X(10.5), Y(9.5), 1.0, X(20.5), Y(9.5), 2.0);
    CadScriptPushEntity(d, line);
    CadScriptPushFinish(d);
    CadScriptPushCancel(d);
    CmdSetEntElevationFromDem(d);
    ExpectEnded(d);
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].text, "Invalid resample value");
    EXPECT_EQ(m_ui.Messages()[0].icon(), kv::MessageIcon::Information);
    CadLineGet(line, &x, &y, &z, &x2, &y2, &z2);
    EXPECT_EQ(z, 1.0);

    // Nothing picked ends the command; without a DEM it is refused.
    m_ui.Clear();
    Run({}, {});
    EXPECT_TRUE(m_ui.Messages().empty());
    CKelvaroDoc empty;
    CmdSetEntElevationFromDem(empty.m_pCad);
    ExpectRefused(empty.m_pCad);
    EXPECT_EQ(m_ui.MessageTexts(), QStringList{"No DEM loaded"});
}

TEST_F(SetElevationTest, AStepReplacesLinesAndPolylinesKeepingEveryVertexAndTheLook) {
    CadDrawing* d = m_doc.m_pCad;
    CadLayer* roads = CadAddLayer(d, "roads", 3, CAD_LTYPE_CONTINUOUS, -3);
    auto styled = [&](CadEntity* e) {
        CadEntityPutColor(e, 5);
        CadEntityPutLineWeight(e, 50);
        CadEntityPutLayerID(e, CadLayerGetID(roads));
        CadEntityPutLineType(e, CAD_LTYPE_DASHED);
        return e;
    };
    // 30 long: twelve steps of 2.5, the last one on P2.
    CadEntity* line = styled(CadAddLine(d, X(0.5), Y(50.5), 0.0, X(15.5), Y(50.5), 0.0));
    // A polyline whose third vertex lies over no data and whose last side is shorter than a step.
    const std::vector<Wml::Point3> corners = {
        {X(0.5), Y(90.5), 0.0}, {X(5.75), Y(90.5), 0.0}, {X(5.75), Y(85.5), -7.0}, {X(6.25), Y(85.25), 0.0}};
    ASSERT_EQ(m_dem->LoadData(), 1);
    m_dem->m_grid.at<float>(85, 5) = kNoData;
    CadEntity* polyline = styled(AddPolyline(d, corners, 0));
    const int count = CadCountEntities(d);
    Run({line, polyline, line}, {"2.5"});  // the line picked twice is replaced once
    EXPECT_TRUE(m_ui.Messages().empty());
    EXPECT_EQ(CadCountEntities(d), count);
    EXPECT_EQ(CadEntityGetDeleted(line), 1);
    EXPECT_EQ(CadEntityGetDeleted(polyline), 1);

    std::vector<CadEntity*> made;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e)) {
        if (CadEntityGetType(e) == CAD_ENT_POLYLINE && e != polyline) {
            made.push_back(e);
        }
    }
    ASSERT_EQ(made.size(), 2u);
    for (CadEntity* e : made) {
        EXPECT_EQ(CadEntityGetColor(e), 5);
        EXPECT_EQ(CadEntityGetLineWeight(e), 50);
        EXPECT_EQ(CadEntityGetLayerID(e), CadLayerGetID(roads));
        EXPECT_EQ(CadEntityGetLineType(e), uint32_t(CAD_LTYPE_DASHED));
    }

    const std::vector<Wml::Point3> l = Vertices(made[0]);
    ASSERT_EQ(l.size(), 14u);
    EXPECT_EQ(l.front().X(), X(0.5));
    EXPECT_EQ(l.back().X(), X(15.5));
    for (size_t i = 0; i < l.size(); ++i) {
        EXPECT_EQ(l[i].Y(), Y(50.5));
        if (i > 0 && i + 1 < l.size()) {
            EXPECT_NEAR(l[i].X() - l.front().X(), 2.5 * double(i), 1e-9) << i;
        }
        EXPECT_EQ(l[i].Z(), H(l[i].X())) << i;
    }

    // Every original vertex once and in order, the one over no data with its own height; the
    // points between lie a whole number of steps from their side's start.
    const std::vector<Wml::Point3> p = Vertices(made[1]);
    std::vector<size_t> at;
    for (const Wml::Point3& corner : corners) {
        for (size_t i = 0; i < p.size(); ++i) {
            if (p[i].X() == corner.X() && p[i].Y() == corner.Y()) {
                at.push_back(i);
            }
        }
    }
    EXPECT_EQ(at, (std::vector<size_t>{0, 5, 9, 10}));
    ASSERT_EQ(p.size(), 11u);
    EXPECT_EQ(p[9].Z(), -7.0);
    EXPECT_EQ(p[10].Z(), H(p[10].X()));
    for (size_t i = 1; i < 5; ++i) {
        EXPECT_NEAR(p[i].X() - p[0].X(), 2.5 * double(i), 1e-9);
    }
    for (size_t i = 6; i < 9; ++i) {
        EXPECT_NEAR(p[i].Y() - p[5].Y(), 2.5 * double(i - 5), 1e-9);
        EXPECT_EQ(p[i].Z(), H(p[i].X()));
    }
}

}  // namespace

namespace {

// The burn as a walk in steps of an eighth of the pixel width, every step written: the rule the
// cell walk must give the same cells and heights as.
DemCellWrite EighthStepBurn(const CDEM& dem, const std::vector<BurnShape>& shapes, const cv::Rect& window) {
    DemCellWrite out;
    out.window = window;
    out.heights = cv::Mat(window.size(), CV_32FC1, cv::Scalar(kNotEdited));
    out.mask = cv::Mat(window.size(), CV_8UC1, cv::Scalar(0));
    const double* gt = dem.m_geoTransform;
    auto put = [&](double x, double y, double z) {
        const double c = std::floor((x - gt[0]) / gt[1]), r = std::floor((y - gt[3]) / gt[5]);
        if (c >= window.x && c < window.x + window.width && r >= window.y && r < window.y + window.height) {
            out.heights.at<float>(int(r) - window.y, int(c) - window.x) = float(z);
            out.mask.at<uchar>(int(r) - window.y, int(c) - window.x) = 255;
        }
    };
    const double step = std::abs(gt[1]) * 0.125;
    auto side = [&](const Wml::Point3& a, const Wml::Point3& b) {
        put(a.X(), a.Y(), a.Z());
        put(b.X(), b.Y(), b.Z());
        const double length = std::hypot(b.X() - a.X(), b.Y() - a.Y());
        const double n = std::trunc(length / step);
        const double ux = (b.X() - a.X()) / length, uy = (b.Y() - a.Y()) / length;
        for (double k = 0; k < n; ++k) {
            put(a.X() + (k * step) * ux, a.Y() + (k * step) * uy, a.Z() + k * ((b.Z() - a.Z()) / n));
        }
    };
    for (const BurnShape& shape : shapes) {
        const auto& v = shape.vertices;
        if (v.size() == 1) {
            put(v[0].X(), v[0].Y(), v[0].Z());
        }
        for (size_t i = 0; i + 1 < v.size(); ++i) {
            side(v[i], v[i + 1]);
        }
        if (shape.closed && v.size() > 1) {
            side(v.back(), v.front());
        }
    }
    return out;
}

// The contour lines of a DEM file at every `interval`, as GDAL traces them, each a shape.
std::vector<BurnShape> ContourShapes(const QString& path, double interval) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr);
    OGRDataSourceH memory = OGR_Dr_CreateDataSource(OGRGetDriverByName("Memory"), "lines", nullptr);
    OGRLayerH layer = OGR_DS_CreateLayer(memory, "lines", nullptr, wkbLineString25D, nullptr);
    const std::string options = "LEVEL_INTERVAL=" + std::to_string(interval);
    const char* list[] = {options.c_str(), nullptr};
    EXPECT_EQ(
        GDALContourGenerateEx(GDALGetRasterBand(ds, 1), layer, const_cast<char**>(list), nullptr, nullptr),
        CE_None);
    std::vector<BurnShape> shapes;
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH line = OGR_F_GetGeometryRef(feature);
        BurnShape shape;
        for (int i = 0; i < OGR_G_GetPointCount(line); ++i) {
            shape.vertices.emplace_back(OGR_G_GetX(line, i), OGR_G_GetY(line, i), OGR_G_GetZ(line, i));
        }
        shapes.push_back(std::move(shape));
        OGR_F_Destroy(feature);
    }
    GDALClose(static_cast<GDALDatasetH>(memory));
    GDALClose(ds);
    return shapes;
}

void ExpectSameBurn(const CDEM& dem, const std::vector<BurnShape>& shapes, const char* what) {
    const DemCellWrite walked = BurnShapes(dem, shapes);
    ASSERT_FALSE(walked.Empty()) << what;
    const DemCellWrite stepped = EighthStepBurn(dem, shapes, walked.window);
    EXPECT_EQ(cv::countNonZero(walked.mask != stepped.mask), 0) << what;
    EXPECT_EQ(cv::norm(walked.heights, stepped.heights, cv::NORM_INF), 0.0) << what;
    EXPECT_GT(cv::countNonZero(walked.mask), 1000) << what;
}

TEST(BurnShapes, EachCellCrossedIsWrittenOnceWithTheHeightOfTheLastEighthStepInIt) {
    // The Olinda DEM's own 5 m contour lines burnt into its grid and into grids four and eleven
    // times finer, so that sides cross from a fraction of a cell to many cells.
    const QString olinda = kvtest::DataPath("olinda_dem_utm25s.tif");
    const std::vector<BurnShape> contours = ContourShapes(olinda, 5.0);
    ASSERT_GT(contours.size(), 20u);
    GDALDatasetH ds = GDALOpen(QFile::encodeName(olinda).constData(), GA_ReadOnly);
    double gt[6];
    GDALGetGeoTransform(ds, gt);
    const int side = GDALGetRasterXSize(ds);
    GDALClose(ds);
    for (int factor : {1, 4, 11}) {
        CDEM dem(nullptr);
        dem.m_grid = cv::Mat(side * factor, side * factor, CV_32FC1, cv::Scalar(0.0f));
        std::copy(gt, gt + 6, dem.m_geoTransform);
        dem.m_geoTransform[1] /= factor;
        dem.m_geoTransform[5] /= factor;
        ExpectSameBurn(dem, contours, "contours");
    }

    // Random sides of every direction and length, axis-parallel ones and sides running off the
    // grid, on a north-up grid and on one whose rows grow northwards.
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (double ph : {-2.0, 2.0}) {
        CDEM dem(nullptr);
        dem.m_grid = cv::Mat(300, 300, CV_32FC1, cv::Scalar(0.0f));
        const double grid[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, ph};
        std::copy(grid, grid + 6, dem.m_geoTransform);
        std::vector<BurnShape> shapes;
        for (int i = 0; i < 3000; ++i) {
            const double x = 1000.0 - 40.0 + 680.0 * unit(random),
                         y = 5000.0 + ph * (-20.0 + 340.0 * unit(random));
            const double length = std::pow(10.0, -2.0 + 4.0 * unit(random));
            double angle = 2.0 * M_PI * unit(random);
            if (i % 5 == 0) {
                angle = M_PI / 4.0 * (i % 8);
            }
            BurnShape shape;
            shape.vertices = {Wml::Point3(x, y, 100.0 * unit(random)),
                              Wml::Point3(x + length * std::cos(angle), y + length * std::sin(angle),
                                          100.0 * unit(random))};
            if (i % 7 == 0) {
                shape.vertices.emplace_back(x + 30.0 * unit(random), y - 30.0 * unit(random), 5.0);
                shape.closed = true;
            }
            shapes.push_back(std::move(shape));
        }
        ExpectSameBurn(dem, shapes, ph < 0 ? "north up" : "south up");
    }
}

}  // namespace

namespace {

TEST_F(RasterizeTest, TheUndoRoundSavesOnlyTheBlocksTheLinesTouch) {
    // Two short lines in opposite corners of a large DEM and a long one along a row: the records
    // cover the 256 x 256 blocks these cross, each run along a row of blocks one record.
    CKelvaroDoc doc;
    const double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
    ASSERT_EQ(
        doc.AddDEM(
            WriteDem(m_folder + "/large.tif", 1100, 900, gt, [](int c, int r) { return 0.1f * c + r; }), 0),
        1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    ASSERT_EQ(dem->LoadData(), 1);
    const cv::Mat original = dem->m_grid.clone();
    CadDrawing* d = doc.m_pCad;
    CadScriptPushEntity(d, CadAddLine(d, X(10.5), Y(10.5), 1.0, X(40.5), Y(20.5), 2.0));
    CadScriptPushEntity(d, CadAddLine(d, X(1090.5), Y(890.5), 3.0, X(1060.5), Y(870.5), 4.0));
    CadScriptPushEntity(d, CadAddLine(d, X(100.5), Y(600.5), 5.0, X(900.5), Y(600.5), 6.0));
    CadScriptPushFinish(d);
    CmdRasterizeEntitiesOnDem(d);
    ExpectEnded(d);

    cv::Mat changed = dem->m_grid != original;
    ASSERT_GT(cv::countNonZero(changed), 800);
    ASSERT_EQ(doc.DemUndoHistory().Count(), 1);
    const std::vector<CUndoDEM>& records = doc.DemUndoHistory().Round(0).Records();
    std::vector<cv::Rect> windows;
    for (const CUndoDEM& record : records) {
        GDALDatasetH ds = GDALOpen(QFile::encodeName(record.m_path).constData(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr);
        windows.emplace_back(std::atoi(GDALGetMetadataItem(ds, "TL_X", nullptr)),
                             std::atoi(GDALGetMetadataItem(ds, "TL_Y", nullptr)), GDALGetRasterXSize(ds),
                             GDALGetRasterYSize(ds));
        GDALClose(ds);
    }
    // The first corner's block, the far corner's block and the run of four blocks along row 600.
    EXPECT_EQ(windows.size(), 3u);
    int saved = 0;
    for (const cv::Rect& w : windows) {
        saved += w.area();
        changed(w).setTo(0);
    }
    EXPECT_EQ(cv::countNonZero(changed), 0);  // every written cell lies in a record
    EXPECT_LT(saved, 6 * 256 * 256);

    doc.OnButtonDemundo();
    EXPECT_EQ(cv::norm(dem->m_grid, original, cv::NORM_INF), 0.0);
    doc.OnButtonDemredo();
    EXPECT_GT(cv::countNonZero(dem->m_grid != original), 800);
}

}  // namespace
