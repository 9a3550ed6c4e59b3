// DEM from TIN and remesh from TIN driven as the operator drives them: the area picked, the file
// and cell size answered, the written DEM and the remeshed grid read back.
#include <QFile>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <functional>
#include <random>

#include "DemToolsTestSupport.h"
#include "demtools/TinCommands.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using Height = std::function<double(double, double)>;

class TinCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder("tin");
    }
    void TearDown() override { CadScriptSetStrict(0); }

    // The corners of a rectangle picked as an area, finished with a right click.
    static void PushArea(CadDrawing* d, double x0, double y0, double x1, double y1) {
        CadScriptPushPoint(d, x0, y0, 0.0);
        CadScriptPushPoint(d, x1, y0, 0.0);
        CadScriptPushPoint(d, x1, y1, 0.0);
        CadScriptPushPoint(d, x0, y1, 0.0);
        CadScriptPushFinish(d);
    }
    // Points at random places of the rectangle, at the heights of the surface.
    static std::vector<cv::Point2d> AddPoints(CadDrawing* d, int count, cv::Rect2d box, const Height& z) {
        std::mt19937 random(count);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        std::vector<cv::Point2d> places;
        for (int i = 0; i < count; ++i) {
            const cv::Point2d p(box.x + u(random) * box.width, box.y + u(random) * box.height);
            CadAddPoint(d, p.x, p.y, z(p.x, p.y));
            places.push_back(p);
        }
        return places;
    }
    // Runs DEM from TIN over the area with the answers given, and checks the way out.
    void RunDemFromTin(CKelvaroDoc& doc, const QString& output, const QStringList& gsds) {
        CadDrawing* d = doc.m_pCad;
        PushArea(d, 900, 4900, 1200, 5200);
        m_ui.AnswerFile(output);
        for (const QString& gsd : gsds) {
            dtest::AnswerGsd(m_ui, gsd);
        }
        CmdDemFromTin(d);
        ExpectEnded(d);
    }
    static void ExpectEnded(CadDrawing* d) {
        EXPECT_EQ(ActiveCadCommandId, 0);
        char prompt[256];
        CadCmdGetPrompt(d, prompt, sizeof prompt);
        EXPECT_STREQ(prompt, "");
    }

    kvtest::ScriptedInteraction m_ui;
    QString m_folder;
};

// Every cell of the raster is the surface at its centre or no data; none on the outer ring, and
// a value wherever the centre lies more than a hair inside the points' hull.
void ExpectSurface(const dtest::Raster& r, const std::vector<cv::Point2d>& places, const Height& z,
                   double tol) {
    std::vector<cv::Point2f> local;
    for (const cv::Point2d& p : places) {
        local.emplace_back(float(p.x - 1000.0), float(p.y - 5000.0));
    }
    std::vector<cv::Point2f> hull;
    cv::convexHull(local, hull);
    int inside = 0;
    for (int row = 0; row < r.height; ++row) {
        for (int c = 0; c < r.width; ++c) {
            const double x = r.gt[0] + (c + 0.5) * r.gt[1], y = r.gt[3] + (row + 0.5) * r.gt[5];
            const float v = r.cells[size_t(row) * r.width + c];
            const bool ring = row == 0 || c == 0 || row == r.height - 1 || c == r.width - 1;
            const bool inHull =
                cv::pointPolygonTest(hull, cv::Point2f(float(x - 1000.0), float(y - 5000.0)), true) > 0.01;
            if (ring) {
                ASSERT_EQ(v, kNoData) << c << "," << row;
            } else if (inHull) {
                ++inside;
                ASSERT_NEAR(v, z(x, y), tol) << c << "," << row;
            }
        }
    }
    EXPECT_GT(inside, r.width * r.height / 2);
}

TEST_F(TinCommandsTest, DemFromTinSamplesPlanesAtCellCentresAndKeepsTheRidgeOfABreakLine) {
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    const Height plane = [](double x, double y) { return 1.0 + 0.01 * (x - 1000.0) + 0.02 * (y - 5000.0); };
    const std::vector<cv::Point2d> places = AddPoints(d, 60, {1000, 5000, 100, 80}, plane);
    // An area of two vertices starts again; "0" is refused and asked again.
    CadScriptPushPoint(d, 0.0, 0.0, 0.0);
    CadScriptPushPoint(d, 10.0, 0.0, 0.0);
    CadScriptPushFinish(d);
    const QString output = m_folder + "/plane.gtif";
    RunDemFromTin(doc, output, {"0", "2.5"});
    EXPECT_EQ(m_ui.MessageTexts(), QStringList{"Invalid GSD!"});
    ASSERT_EQ(doc.GetDEMCount(), 1);

    const dtest::Raster r = dtest::ReadRaster(output);
    double xmin = 1e9, xmax = -1e9, ymin = 1e9, ymax = -1e9;
    for (const cv::Point2d& p : places) {
        xmin = std::min(xmin, p.x), xmax = std::max(xmax, p.x), ymin = std::min(ymin, p.y),
        ymax = std::max(ymax, p.y);
    }
    EXPECT_NEAR(r.gt[0], xmin, 1e-9);
    EXPECT_NEAR(r.gt[3], ymax, 1e-9);
    EXPECT_EQ(r.gt[1], 2.5);
    EXPECT_EQ(r.gt[5], -2.5);
    EXPECT_EQ(r.gt[2], 0.0);
    EXPECT_EQ(r.gt[4], 0.0);
    EXPECT_EQ(r.width, int((xmax - xmin) / 2.5));
    EXPECT_EQ(r.height, int((ymax - ymin) / 2.5));
    EXPECT_EQ(r.noData, kNoData);
    ExpectSurface(r, places, plane, 1e-6);

    // A ridge along the box's diagonal, given as a selected line between two planes that rise
    // towards it.
    CKelvaroDoc ridgeDoc;
    CadDrawing* rd = ridgeDoc.m_pCad;
    const Height ridge = [](double x, double y) {
        return 40.0 - 0.3 * std::abs((x - 1000.0) - 1.25 * (y - 5000.0)) + 0.05 * (x - 1000.0);
    };
    std::vector<cv::Point2d> ridgePlaces = AddPoints(rd, 150, {1000, 5000, 100, 80}, ridge);
    CadAddLine(rd, 1000.0, 5000.0, ridge(1000, 5000), 1100.0, 5080.0, ridge(1100, 5080));
    ridgePlaces.insert(ridgePlaces.end(), {{1000.0, 5000.0}, {1100.0, 5080.0}});
    const QString ridgeOutput = m_folder + "/ridge.gtif";
    RunDemFromTin(ridgeDoc, ridgeOutput, {"1"});
    ExpectSurface(dtest::ReadRaster(ridgeOutput), ridgePlaces, ridge, 1e-4);
}

TEST_F(TinCommandsTest, DemFromTinRefusesAnEmptyDrawingAndATinWithoutTriangles) {
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    CmdDemFromTin(d);
    ExpectEnded(d);
    ASSERT_EQ(m_ui.Messages().size(), 1u);
    EXPECT_EQ(m_ui.Messages()[0].text, "No entity found!");
    EXPECT_EQ(m_ui.Messages()[0].icon(), kv::MessageIcon::Information);
    EXPECT_TRUE(m_ui.Choosers().isEmpty());

    // Two points (and a third on the first) make no triangle.
    m_ui.Clear();
    CadAddPoint(d, 1000, 5000, 1);
    CadAddPoint(d, 1100, 5100, 2);
    CadAddPoint(d, 1000, 5000, 3);
    const QString output = m_folder + "/none.gtif";
    RunDemFromTin(doc, output, {"1"});
    EXPECT_EQ(m_ui.MessageTexts(), QStringList{"Unable to create DEM"});
    EXPECT_FALSE(QFile::exists(output));
    EXPECT_EQ(doc.GetDEMCount(), 0);
    // The temporary area polygon is gone again.
    EXPECT_EQ(CadCountEntities(d), 3);

    // A triangle, but cells so small that the raster (a million cells a side) cannot be held.
    m_ui.Clear();
    CadAddPoint(d, 1000, 5100, 4);
    RunDemFromTin(doc, output, {"0.0001"});
    EXPECT_EQ(m_ui.MessageTexts(), QStringList{"Unable to create DEM"});
    EXPECT_FALSE(QFile::exists(output));
}

class RemeshTest : public TinCommandsTest {
protected:
    void SetUp() override {
        TinCommandsTest::SetUp();
        const QString copy = m_folder + "/olinda.tif";
        ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_EQ(m_doc.AddDEM(copy, 0), 1);
        m_dem = m_doc.m_DEMs.begin()->second;
        ASSERT_EQ(m_dem->LoadData(), 1);
        m_original = m_dem->m_grid.clone();
    }
    // Points of the surface on a 500 m lattice over the box.
    void AddLattice(cv::Rect2d box, const Height& z) {
        for (double y = box.y; y <= box.y + box.height; y += 500.0) {
            for (double x = box.x; x <= box.x + box.width; x += 500.0) {
                CadAddPoint(m_doc.m_pCad, x, y, z(x, y));
            }
        }
    }
    // The cells whose centres lie inside the box, as a mask.
    cv::Mat CentresIn(cv::Rect2d box) const {
        cv::Mat mask(m_original.size(), CV_8UC1, cv::Scalar(0));
        const double* gt = m_dem->m_geoTransform;
        for (int r = 0; r < mask.rows; ++r) {
            for (int c = 0; c < mask.cols; ++c) {
                const double x = gt[0] + (c + 0.5) * gt[1], y = gt[3] + (r + 0.5) * gt[5];
                mask.at<uchar>(r, c) = box.contains({x, y}) ? 255 : 0;
            }
        }
        return mask;
    }

    CKelvaroDoc m_doc;
    CDEM* m_dem = nullptr;
    cv::Mat m_original;
};

TEST_F(RemeshTest, OlindaCellsUnderTheTinTakeTheTiltedPlaneOneRoundPerAreaAndUndoRestoresThem) {
    CadDrawing* d = m_doc.m_pCad;
    const Height tilt = [](double x, double y) {
        return 10.0 + 0.001 * (x - 290000.0) + 0.002 * (y - 9115000.0);
    };
    const cv::Rect2d first(290000, 9114000, 2000, 2000), second(293000, 9111000, 1500, 1000);
    AddLattice(first, tilt);
    AddLattice(second, tilt);
    PushArea(d, 289900, 9113900, 292100, 9116100);
    PushArea(d, 292900, 9110900, 294600, 9112100);
    CadScriptPushFinish(d);
    CmdEditDemFromTin(d);
    ExpectEnded(d);
    EXPECT_TRUE(m_ui.Messages().empty()) << m_ui.MessageTexts().join(", ").toStdString();
    EXPECT_EQ(CadSelCount(d), 0);
    ASSERT_EQ(m_doc.DemUndoHistory().Count(), 2);

    const cv::Mat under = CentresIn(first) | CentresIn(second);
    const double* gt = m_dem->m_geoTransform;
    for (int r = 0; r < under.rows; ++r) {
        for (int c = 0; c < under.cols; ++c) {
            const float v = m_dem->m_grid.at<float>(r, c);
            if (under.at<uchar>(r, c)) {
                ASSERT_NEAR(v, tilt(gt[0] + (c + 0.5) * gt[1], gt[3] + (r + 0.5) * gt[5]), 1e-4)
                    << c << "," << r;
            } else {
                ASSERT_EQ(v, m_original.at<float>(r, c)) << c << "," << r;
            }
        }
    }
    EXPECT_GT(cv::countNonZero(CentresIn(second)), 100);
    EXPECT_EQ(m_dem->m_modified, 1);

    m_doc.OnButtonDemundo();
    m_doc.OnButtonDemundo();
    EXPECT_EQ(cv::norm(m_dem->m_grid, m_original, cv::NORM_INF), 0.0);
}

TEST_F(RemeshTest, EditedDemsTinsOffTheDemTinsWithoutTrianglesAndADemThatLeftAreRefused) {
    CadDrawing* d = m_doc.m_pCad;
    m_dem->m_modified = 1;
    CmdEditDemFromTin(d);
    ExpectEnded(d);
    EXPECT_EQ(m_ui.MessageTexts(), QStringList{"DEM has been edited, save project before proceeding"});
    m_dem->m_modified = 0;

    // A triangle 100 km east of the DEM, then two points only.
    CadAddPoint(d, 390000, 9114000, 5.0);
    CadAddPoint(d, 390500, 9114000, 5.0);
    CadAddPoint(d, 390000, 9114500, 5.0);
    m_ui.Clear();
    PushArea(d, 389000, 9113000, 391000, 9115000);
    CmdEditDemFromTin(d);
    ExpectEnded(d);
    CadAddPoint(d, 290000, 9114000, 5.0);
    CadAddPoint(d, 291000, 9115000, 5.0);
    PushArea(d, 289000, 9113000, 292000, 9116000);
    CmdEditDemFromTin(d);
    ExpectEnded(d);
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Error editing the DEM", "Error editing the DEM"}));
    EXPECT_EQ(m_doc.DemUndoHistory().Count(), 0);
    EXPECT_EQ(m_dem->m_modified, 0);
    EXPECT_EQ(cv::norm(m_dem->m_grid, m_original, cv::NORM_INF), 0.0);

    // The DEM leaves the project while an area over a triangle is drawn: the command ends.
    CadAddPoint(d, 291000, 9114000, 5.0);
    const QString name = m_dem->m_name;
    CadScriptPushPoint(d, 289000, 9113000, 0.0);
    CadScriptPushPoint(d, 292000, 9113000, 0.0);
    CadScriptPushCall(d, [this, name] { m_doc.RemoveDEM(name); });
    CadScriptPushPoint(d, 292000, 9116000, 0.0);
    CadScriptPushFinish(d);
    m_ui.Clear();
    CmdEditDemFromTin(d);
    ExpectEnded(d);
    EXPECT_EQ(m_doc.GetDEMCount(), 0);
    EXPECT_TRUE(m_ui.Messages().empty());
    EXPECT_EQ(m_doc.DemUndoHistory().Count(), 0);
}

}  // namespace
