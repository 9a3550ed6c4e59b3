// LANDMARKTRANSFORM on the Olinda DEM, driven through the file chooser, the polyline picks and
// the report's Yes or No; the written terrain, mesh, offset file and drawing are read back. (The
// GPS variant on a DEM layer is a scenario: tests/scenarios/landmark_transform.kvs.)
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkXMLPolyDataReader.h>

#include <cmath>
#include <memory>

#include "ProductsFixtures.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "products/LandmarkTransform.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// A similarity in map coordinates: a turn about the vertical through the pivot, a scale about
// the pivot, then a shift.
struct Similarity {
    double angle = 0.0, scale = 1.0, pivot[2] = {0, 0}, shift[3] = {0, 0, 0};
    Wml::Point3 operator()(double x, double y, double z) const {
        const double c = std::cos(angle), s = std::sin(angle);
        const double dx = x - pivot[0], dy = y - pivot[1];
        return Wml::Point3(pivot[0] + scale * (c * dx - s * dy) + shift[0],
                           pivot[1] + scale * (s * dx + c * dy) + shift[1], scale * z + shift[2]);
    }
};

class LandmarkTransformTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        SetDrawingConverterProgram(QStringLiteral(KV_KONVERTEL_EXE));
        folder = kvtest::NewTempFolder("landmarks");
        dtm = ptest::OlindaDtm(folder);
        base = folder + "/olinda_dem_LMT";
        d = doc.m_pCad;
        original = ptest::ReadRaster(dtm, gt);
    }
    void TearDown() override {
        CadScriptSetStrict(0);
        SetDrawingConverterProgram(QString());
    }

    CadEntity* Polyline(const std::vector<Wml::Point3>& vertices, int closed = 0) {
        CadClearVertices();
        for (const Wml::Point3& v : vertices)
            CadAddVertex(v.X(), v.Y(), v.Z());
        return CadAddPolyline(d, 0, closed);
    }
    // Map position of the cell centre (c, r) of the DEM.
    double X(double c) const { return gt[0] + (c + 0.5) * gt[1]; }
    double Y(double r) const { return gt[3] + (r + 0.5) * gt[5]; }
    float Height(int c, int r) const { return original.at<float>(r, c); }
    // Four landmarks spread over the DEM, at different heights.
    std::vector<Wml::Point3> Landmarks() const {
        return {{X(10), Y(12), 20.0}, {X(95), Y(15), 35.0}, {X(90), Y(100), 5.0}, {X(20), Y(80), 60.0}};
    }
    bool History(const char* line) { return ptest::InHistory(d, line); }
    // LANDMARKTRANSFORM on the DEM file: the source, the target and the polylines to edit picked,
    // the picks ended with a right click, the report answered (when it is to come).
    void Run(CadEntity* source, CadEntity* target, std::initializer_list<CadEntity*> edits = {},
             int answer = 0) {
        ui.AnswerFile(dtm);
        CadScriptPushEntity(d, source);
        CadScriptPushEntity(d, target);
        for (CadEntity* edit : edits)
            CadScriptPushEntity(d, edit);
        CadScriptPushFinish(d);
        if (answer)
            ui.AnswerMessage(answer);
        CmdLandmarkTransform(d);
        ExpectEnded();
    }
    void ExpectEnded() {
        EXPECT_EQ(ActiveCadCommandId, 0);
        char prompt[256] = {};
        CadCmdGetPrompt(d, prompt, sizeof prompt);
        EXPECT_STREQ(prompt, "");
    }
    bool AnyOutput(const QString& name) const {
        for (const char* ext : {".vtp", ".vtw", ".gtif", ".dxf"})
            if (QFileInfo::exists(folder + '/' + name + ext))
                return true;
        return false;
    }
    // The re-gridded terrain: the DEM's size, geotransform and heights (within 1e-3) off the outer
    // ring, which holds no data.
    void ExpectTerrainOnItsGrid(const QString& path) {
        double written[6];
        const cv::Mat cells = ptest::ReadRaster(path, written);
        ASSERT_EQ(cells.size(), original.size());
        for (int i = 0; i < 6; ++i)
            EXPECT_NEAR(written[i], gt[i], 1e-6) << i;
        int off = 0;
        for (int r = 0; r < cells.rows; ++r)
            for (int c = 0; c < cells.cols; ++c) {
                const bool ring = r == 0 || c == 0 || r == cells.rows - 1 || c == cells.cols - 1;
                const float expected = ring ? kNoData : Height(c, r);
                off += std::abs(cells.at<float>(r, c) - expected) > 1e-3f;
            }
        EXPECT_EQ(off, 0);
    }

    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CadDrawing* d = nullptr;
    QString folder, dtm, base;
    cv::Mat original;
    double gt[6] = {};
};

TEST_F(LandmarkTransformTest, EqualPolylinesGiveZeroResidualsAndTheTerrainOnItsOwnGrid) {
    Run(Polyline(Landmarks()), Polyline(Landmarks()), {}, IDYES);

    ASSERT_EQ(ui.Messages().size(), 1u);
    const QString zero = "dx=0.000 dy=0.000 dz=0.000\n";
    EXPECT_EQ(ui.Messages()[0].text,
              "id=0 " + zero + "id=1 " + zero + "id=2 " + zero + "id=3 " + zero + "\nProcedere?");
    EXPECT_EQ(ui.Messages()[0].type, unsigned(MB_YESNO | MB_ICONQUESTION));
    ExpectTerrainOnItsGrid(base + ".gtif");
    EXPECT_TRUE(QFileInfo::exists(base + ".vtp"));
    EXPECT_TRUE(QFileInfo::exists(base + ".vtw"));
    EXPECT_FALSE(QFileInfo::exists(base + ".dxf"));  // no polyline to edit, no drawing
}

TEST_F(LandmarkTransformTest, KnownSimilarityMovesTheTerrainMeshAndTheEditPolylines) {
    Similarity sim;
    sim.angle = 5.0 * M_PI / 180.0;
    sim.scale = 1.01;
    sim.pivot[0] = 293000.0;
    sim.pivot[1] = 9116000.0;
    sim.shift[0] = 120.0;
    sim.shift[1] = -80.0;
    sim.shift[2] = 3.0;
    std::vector<Wml::Point3> moved;
    for (const Wml::Point3& p : Landmarks())
        moved.push_back(sim(p.X(), p.Y(), p.Z()));
    CadEntity* source = Polyline(Landmarks());
    CadEntity* target = Polyline(moved);
    // The edit polyline: two vertices on the terrain take its heights, one beyond it keeps its own.
    const std::vector<Wml::Point3> edit = {
        {X(30), Y(40), 1.0}, {X(60), Y(41), 2.0}, {gt[0] - 500.0, Y(50), 7.5}};
    CadEntity* polyline = Polyline(edit, 1);
    CadEntity* stray = CadAddPoint(d, X(5), Y(5), 0.0);

    Run(source, target, {stray, polyline}, IDYES);  // the point is no polyline
    EXPECT_TRUE(History("Invalid entity"));
    EXPECT_FALSE(CadEntityGetSelected(polyline));
    ASSERT_EQ(ui.Messages().size(), 1u) << ui.MessageTexts().join('|').toStdString();
    EXPECT_TRUE(ui.Messages()[0].text.startsWith("id=0 dx=0.000 dy=0.000 dz=0.000\nid=1 "));

    // The offset file, byte for byte: the middle of the DEM.
    const double ox = (111 * 0.5) * gt[1] + gt[0], oy = (111 * 0.5) * gt[5] + gt[3];
    QFile vtw(base + ".vtw");
    ASSERT_TRUE(vtw.open(QIODevice::ReadOnly));
    EXPECT_EQ(vtw.readAll(),
              QString::asprintf("[PolyData Offset]\nX=%lf\nY=%lf\nZ=0.000000\n", ox, oy).toLatin1());

    // The mesh: every cell centre moved, in the DEM's order, plus triangles.
    vtkNew<vtkXMLPolyDataReader> reader;
    reader->SetFileName(QFile::encodeName(base + ".vtp").constData());
    reader->Update();
    vtkPolyData* mesh = reader->GetOutput();
    ASSERT_EQ(mesh->GetNumberOfPoints(), 111 * 111);
    EXPECT_GT(mesh->GetNumberOfPolys(), 2 * 100 * 100);
    double worst = 0.0;
    for (int r = 0, i = 0; r < 111; ++r)
        for (int c = 0; c < 111; ++c, ++i) {
            const Wml::Point3 expected = sim(X(c), Y(r), Height(c, r));
            double p[3];
            mesh->GetPoint(i, p);
            worst = std::max({worst, std::abs(p[0] + ox - expected.X()), std::abs(p[1] + oy - expected.Y()),
                              std::abs(p[2] - expected.Z())});
        }
    EXPECT_LT(worst, 1e-6);

    // The drawing: the polyline moved, closed as it was.
    std::unique_ptr<CadDrawing, void (*)(CadDrawing*)> back(CadCreate(), CadDelete);
    ASSERT_TRUE(ImportDrawingFile(back.get(), base + ".dxf"));
    CadEntity* copy = CadGetFirstEntity(back.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(CadGetNextEntity(back.get(), copy), nullptr);
    ASSERT_EQ(CadPlineGetNumVers(copy), 3);
    EXPECT_EQ(CadPlineGetClosed(copy), 1);
    const double heights[3] = {Height(30, 40), Height(60, 41), 7.5};
    for (int i = 0; i < 3; ++i) {
        const Wml::Point3 expected = sim(edit[i].X(), edit[i].Y(), heights[i]);
        double x, y, z;
        CadPlineGetVer(copy, i, &x, &y, &z);
        EXPECT_NEAR(x, expected.X(), 1e-6) << i;
        EXPECT_NEAR(y, expected.Y(), 1e-6) << i;
        EXPECT_NEAR(z, expected.Z(), 1e-6) << i;
    }

    // The re-gridded terrain: north up at the DEM's cell size, covering the moved cell centres;
    // inside, each height lies between those of the four DEM cells around the place it came from.
    double written[6];
    const cv::Mat cells = ptest::ReadRaster(base + ".gtif", written);
    ASSERT_FALSE(cells.empty());
    EXPECT_NEAR(written[1], gt[1], 1e-9);
    EXPECT_NEAR(written[5], gt[5], 1e-9);
    int checked = 0, outside = 0;
    for (int r = 5; r < cells.rows - 5; r += 7)
        for (int c = 5; c < cells.cols - 5; c += 7) {
            const float v = cells.at<float>(r, c);
            const double qx = written[0] + (c + 0.5) * written[1], qy = written[3] + (r + 0.5) * written[5];
            // Back to the DEM: the inverse turn and scale about the pivot.
            const double dx = (qx - sim.shift[0] - sim.pivot[0]) / sim.scale;
            const double dy = (qy - sim.shift[1] - sim.pivot[1]) / sim.scale;
            const double co = std::cos(sim.angle), si = std::sin(sim.angle);
            const double fc = (sim.pivot[0] + co * dx + si * dy - gt[0]) / gt[1] - 0.5;
            const double fr = (sim.pivot[1] - si * dx + co * dy - gt[3]) / gt[5] - 0.5;
            if (fc < 0.0 || fr < 0.0 || fc >= 110.0 || fr >= 110.0) {
                continue;
            }
            const int c0 = int(fc), r0 = int(fr);
            const float lo =
                std::min({Height(c0, r0), Height(c0 + 1, r0), Height(c0, r0 + 1), Height(c0 + 1, r0 + 1)});
            const float hi =
                std::max({Height(c0, r0), Height(c0 + 1, r0), Height(c0, r0 + 1), Height(c0 + 1, r0 + 1)});
            ++checked;
            outside += v < sim.scale * lo + sim.shift[2] - 1e-3 || v > sim.scale * hi + sim.shift[2] + 1e-3;
        }
    EXPECT_GT(checked, 150);
    EXPECT_EQ(outside, 0);
}

TEST_F(LandmarkTransformTest, RefusalsAndNoWriteNothing) {
    const std::vector<Wml::Point3> four = Landmarks();
    std::vector<Wml::Point3> five = four;
    five.emplace_back(X(50), Y(50), 0.0);

    // A target with one vertex more is refused; the operator then gives up.
    CadEntity* source = Polyline(four);
    Run(source, Polyline(five));
    EXPECT_TRUE(History("Invalid entity"));

    // Two landmarks, or landmarks on one line, leave the turn about that line open.
    for (const std::vector<Wml::Point3>& line :
         {std::vector<Wml::Point3>{four[0], four[1]},
          std::vector<Wml::Point3>{{X(10), Y(10), 5.0}, {X(20), Y(20), 10.0}, {X(40), Y(40), 20.0}}})
        Run(Polyline(line), Polyline(line));
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Not enough points!", "Not enough points!"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Warning);

    // "No" to the report.
    ui.Clear();
    CadEntity* edit = Polyline({{X(30), Y(40), 1.0}, {X(60), Y(41), 2.0}});
    Run(source, source, {edit}, IDNO);
    EXPECT_EQ(ui.Messages().size(), 1u);
    EXPECT_FALSE(AnyOutput("olinda_dem_LMT"));

    // A drawing the converter cannot make is reported; the other files are written.
    ui.Clear();
    SetDrawingConverterProgram(folder + "/no_such_converter");
    Run(source, source, {edit}, IDYES);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_EQ(ui.Messages()[1].text, "Unable to export file!");
    EXPECT_FALSE(QFileInfo::exists(base + ".dxf"));
    EXPECT_TRUE(QFileInfo::exists(base + ".gtif"));
    for (const char* ext : {".gtif", ".vtp", ".vtw"})
        ASSERT_TRUE(QFile::remove(base + ext));

    // The GPS variant without a DEM layer.
    CKelvaroDoc empty;
    CmdLandmarkTransformGps(empty.m_pCad);
    char prompt[64] = {};
    CadCmdGetPrompt(empty.m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "No DEM loaded");

    // An output that a loaded layer reads is refused before anything is asked.
    ui.Clear();
    ASSERT_TRUE(QFile::copy(dtm, base + ".gtif"));
    ASSERT_EQ(doc.AddDEM(base + ".gtif", 0), 1);
    ui.AnswerFile(dtm);
    CmdLandmarkTransform(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"The file is used by a loaded layer"});
    EXPECT_EQ(CadScriptPending(d), 0);
    EXPECT_FALSE(QFileInfo::exists(base + ".vtp"));
}

}  // namespace
