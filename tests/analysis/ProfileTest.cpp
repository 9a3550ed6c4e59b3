// PROFILE: the section sampled along a line, the graph built and rebuilt in the dialog's drawing,
// the readout and the hover dot under the cursor, the plan view in a cache of its own, the export,
// and what the dialog gives back to the project when it closes.
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "AnalysisTestSupport.h"
#include "analysis/ProfileCommand.h"
#include "analysis/ProfileDlg.h"
#include "analysis/ProfileGraph.h"
#include "document/CadCalls.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/ElevationColorRamp.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"

namespace {

// Pixel width 3, origin (1000, 2000): 60 x 40 cells.
const std::array<double, 6> kCells = {1000.0, 3.0, 0.0, 2000.0, 0.0, -3.0};

std::vector<double> Distances(const std::vector<Wml::Point2>& piece) {
    std::vector<double> d;
    for (const Wml::Point2& p : piece) {
        d.push_back(p.X());
    }
    return d;
}

TEST(ProfileSectionTest, SamplesEveryPixelWidthAndTheEndAndBreaksOnlyWhenAsked) {
    // Heights rise eastwards; columns 20 to 24 (x 1060 to 1075) have no data.
    auto dem =
        atest::GridDem(60, 40, kCells, [](int c, int) { return c >= 20 && c < 25 ? -9999.0 : 10.0 + c; });
    const std::vector<Wml::Point3> ten = {{1001.5, 1950, 0}, {1011.5, 1950, 0}};
    ProfileSection section = SampleProfile(*dem, ten, 3.0, true);
    ASSERT_EQ(section.pieces.size(), 1u);
    EXPECT_EQ(Distances(section.pieces[0]), (std::vector<double>{0, 3, 6, 9, 10}));

    // A vertex shared by two segments is sampled once; a segment of no length adds nothing.
    const std::vector<Wml::Point3> bent = {
        {1001.5, 1950, 0}, {1007.5, 1950, 0}, {1007.5, 1950, 0}, {1011.5, 1950, 0}};
    section = SampleProfile(*dem, bent, 3.0, true);
    ASSERT_EQ(section.pieces.size(), 1u);
    EXPECT_EQ(Distances(section.pieces[0]), (std::vector<double>{0, 3, 6, 9, 10}));

    // Across the gap: two pieces with the break, one bridging piece without it.
    const std::vector<Wml::Point3> across = {{1010, 1950, 0}, {1170, 1950, 0}};
    section = SampleProfile(*dem, across, 3.0, true);
    ASSERT_EQ(section.pieces.size(), 2u);
    EXPECT_EQ(section.pieces[0].back().X(), 48.0);
    EXPECT_EQ(section.pieces[1].front().X(), 66.0);
    section = SampleProfile(*dem, across, 3.0, false);
    ASSERT_EQ(section.pieces.size(), 1u);
    EXPECT_EQ(section.pieces[0].size(), 54u - 5u + 1u);

    // A line that starts off the DEM starts at its first distance with data.
    section = SampleProfile(*dem, {{980, 1950, 0}, {1040, 1950, 0}}, 3.0, true);
    ASSERT_FALSE(section.empty);
    EXPECT_EQ(section.minDistance, 21.0);
    EXPECT_EQ(section.pieces[0].front().X(), 21.0);
}

TEST(ProfileSectionTest, TheReadoutAndTheDotFollowTheDistance) {
    const ProfileReadout below = ReadoutAt(190.0, 2.0, 100.0);
    EXPECT_EQ(below.absolute, "Absolute Z: 95.000");
    EXPECT_EQ(below.relative, "Relative Z: -5.000");
    EXPECT_TRUE(below.below);
    const ProfileReadout unset = ReadoutAt(190.0, 2.0, -9999.0);
    EXPECT_EQ(unset.relative, "Relative Z: 95.000");
    EXPECT_FALSE(unset.below);

    const std::vector<Wml::Point3> line = {{0, 0, 0}, {3, 4, 0}, {3, 4, 0}, {3, 10, 0}};
    EXPECT_EQ(PointAtDistance(line, 2.5), Wml::Point2(1.5, 2.0));
    EXPECT_EQ(PointAtDistance(line, 8.0), Wml::Point2(3.0, 7.0));
    EXPECT_FALSE(PointAtDistance(line, 11.5).has_value());
}

class ProfileDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        SetDrawingConverterProgram(QStringLiteral(KV_KONVERTEL_EXE));
        BuildElevationColorRamp();  // the application builds it at start
    }
    void TearDown() override {
        CadScriptSetStrict(0);
        SetDrawingConverterProgram(QString());
        kv::SetCadCallObserver({});
    }
};

// The extents of the open polylines of the graph.
struct Extent {
    double bottom = 1e300, top = -1e300;
    int polylines = 0;
};
Extent GraphExtent(CProfileDlg& dialog) {
    Extent e;
    for (CadEntity* p = CadLayerGetFirstEntity(dialog.m_profileLayer); p;
         p = CadLayerGetNextEntity(dialog.m_profileLayer, p)) {
        e.bottom = std::min(e.bottom, CadEntityGetBottom(p));
        e.top = std::max(e.top, CadEntityGetTop(p));
        ++e.polylines;
    }
    return e;
}

// The graph's lines of a colour.
int LinesOfColour(CadDrawing* drawing, int colour) {
    int n = 0;
    for (CadEntity* e = CadGetFirstEntity(drawing); e; e = CadGetNextEntity(drawing, e)) {
        n += CadEntityGetType(e) == CAD_ENT_LINE && CadEntityGetColor(e) == colour;
    }
    return n;
}

// The scripted interaction, keeping the filters the save choosers offered.
class FilterRecorder : public kvtest::ScriptedInteraction {
public:
    QString ChooseSaveFile(const QString& title, const QString& path, const QString& filter,
                           QString* selectedFilter) override {
        filters << filter;
        return ScriptedInteraction::ChooseSaveFile(title, path, filter, selectedFilter);
    }
    QStringList filters;
};

TEST_F(ProfileDialogTest, OnOlindaTheZScaleStretchesOnlyTheGraphsHeightsAndBothSettingsAreKept) {
    FilterRecorder ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(atest::OlindaCopy("profile_olinda"), 0), 1);
    CadDrawing* d = doc.m_pCad;
    ZQT_WriteUserProfileString(QStringLiteral("Profile"), QStringLiteral("ZScale"), QStringLiteral("0"));
    ZQT_WriteUserProfileString(QStringLiteral("Profile"), QStringLiteral("BreakOnNoDataValue"),
                               QStringLiteral("1"));
    CadClearVertices();
    CadAddVertex(289500, 9112500, 0);
    CadAddVertex(294000, 9116000, 0);
    CadAddVertex(298000, 9119500, 0);
    CadEntity* line = CadAddPolyline(d, 0, 0);

    ui.AnswerModal(100);
    CadScriptPushEntity(d, line);
    ui.AnswerModal([&](QDialog& dialog) {
        CProfileDlg& p = static_cast<CProfileDlg&>(dialog);
        EXPECT_EQ(ActiveCadCommandId, CMD_PROFILE);
        EXPECT_EQ(p.m_editZScale.text(), "1.000");
        EXPECT_EQ(ZQT_GetUserProfileString("Profile", "ZScale", ""), "1.000");
        const Extent one = GraphExtent(p);
        EXPECT_EQ(one.polylines, 1);
        double l1, b1, r1, t1;
        CadGetViewRect(p.m_profile.Window(), &l1, &b1, &r1, &t1);

        // Exaggerated 20 times, the graph grows only upwards: the view keeps its width and scale
        // and its middle follows the heights.
        p.m_editZScale.setText("20");
        p.m_btnUpdate.click();
        const Extent twenty = GraphExtent(p);
        EXPECT_NEAR(twenty.top, 20 * one.top, 1e-9);
        EXPECT_NEAR(twenty.bottom, 20 * one.bottom, 1e-9);
        double l2, b2, r2, t2;
        CadGetViewRect(p.m_profile.Window(), &l2, &b2, &r2, &t2);
        EXPECT_NEAR(l2, l1, 1e-6 * (r1 - l1));
        EXPECT_NEAR(r2, r1, 1e-6 * (r1 - l1));
        EXPECT_NEAR(t2 - b2, t1 - b1, 1e-6 * (t1 - b1));
        EXPECT_NEAR(t2 + b2, 20 * (t1 + b1), 1e-6 * std::fabs(t1 + b1));
        EXPECT_EQ(ZQT_GetUserProfileString("Profile", "ZScale", ""), "20");

        p.m_chkBreak.click();
        EXPECT_EQ(ZQT_GetUserProfileString("Profile", "BreakOnNoDataValue", ""), "0");
        // The reference is the section's lowest elevation, drawn as the red line.
        EXPECT_FALSE(p.m_editReference.text().isEmpty());
        EXPECT_EQ(LinesOfColour(p.m_profile.Drawing(), CAD_COLOR_RED), 1);
        EXPECT_EQ(LinesOfColour(p.m_profile.Drawing(), 252) + LinesOfColour(p.m_profile.Drawing(), 4), 6);

        // Export: the graph as DXF, which our converter reads back; DWG, which it cannot write, is
        // not offered, and a name typed with its extension fails.
        const QString folder = kvtest::NewTempFolder("profile_export");
        ui.AnswerFile(folder + "/graph");
        p.m_btnExport.click();
        CadDrawing* back = CadCreate();
        EXPECT_TRUE(ImportDrawingFile(back, folder + "/graph.dxf"));
        CadLayer* profile = CadGetLayerByName(back, "Profile");
        int polylines = 0;
        for (CadEntity* e = profile ? CadLayerGetFirstEntity(profile) : nullptr; e;
             e = CadLayerGetNextEntity(profile, e)) {
            polylines += CadEntityGetType(e) == CAD_ENT_POLYLINE;
        }
        EXPECT_EQ(polylines, 1);
        CadDelete(back);
        ui.AnswerFile(folder + "/graph.dwg");
        p.m_btnExport.click();
        EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to save file!"});
        EXPECT_FALSE(QFileInfo::exists(folder + "/graph.dwg"));
        EXPECT_EQ(ui.filters.join(" | ").toStdString(), "DXF File (*.dxf) | DXF File (*.dxf)");

        // For the picture: a section of 11 km over 90 m of relief, exaggerated 30 times.
        p.m_editZScale.setText("30");
        p.m_btnUpdate.click();
        CadExecute(p.m_profile.Drawing(), p.m_profile.Window(), CAD_CMD_ZOOM_EXTENTS);
        const QImage shot = kvtest::Screenshot(&p, "profile_dialog");
        // The plan view shows the DEM in the ramp's colours, the graph its green section.
        EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(&p.m_hostPlan, &p)), 50);
        const uint32_t green = CadColorGetRGB(CAD_COLOR_GREEN);
        EXPECT_GT(kvtest::ColourShare(shot, QColor(green & 0xFF, (green >> 8) & 0xFF, (green >> 16) & 0xFF),
                                      kvtest::PlaceIn(&p.m_hostProfile, &p), 40),
                  0.001);
        p.m_btnClose.click();
        return -1;
    });
    CadScriptPushFinish(d);  // no second line: the command ends
    CmdProfile(d);
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(doc.m_strCommandPrompt.isEmpty());
    EXPECT_EQ(ProfileState().current, nullptr);
}

TEST_F(ProfileDialogTest, TheReadoutTheDotThePlanViewAndTheSizeFollowTheCursorAndTheProjectGetsItsOwnBack) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    // Flat at 95 with no data in columns 20 to 24.
    const QString path = atest::WriteDemFile("profile_flat", 60, 40, kCells,
                                             [](int c, int) { return c >= 20 && c < 25 ? -9999.0 : 95.0; });
    ASSERT_EQ(doc.AddDEM(path, 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CadDrawing* d = doc.m_pCad;
    ZQT_WriteUserProfileString(QStringLiteral("Profile"), QStringLiteral("BreakOnNoDataValue"),
                               QStringLiteral("1"));
    // The project's own window, painted while the dialog is open.
    QWidget projectHost;
    projectHost.resize(400, 300);
    QWidget* projectWindow = CadWndCreate(d, &projectHost, 0, 0, 400, 300);
    CadExecute(d, projectWindow, CAD_CMD_ZOOM_EXTENTS);
    std::vector<kv::CadCallRecord> calls;
    kv::SetCadCallObserver([&](const kv::CadCallRecord& r) { calls.push_back(r); });

    ui.AnswerModal(101);
    CadScriptPushPoint(d, 1010, 1950, 0);
    CadScriptPushPoint(d, 1170, 1950, 0);
    CadScriptPushFinish(d);
    ui.AnswerModal([&](QDialog& dialog) {
        CProfileDlg& p = static_cast<CProfileDlg&>(dialog);
        p.m_editReference.setText("100");
        p.m_editZScale.setText("2");
        p.m_btnUpdate.click();
        EXPECT_EQ(GraphExtent(p).polylines, 2);
        EXPECT_NEAR(GraphExtent(p).top, 190.0, 1e-9);
        // A flat section: one horizontal rule besides the reference line.
        EXPECT_EQ(LinesOfColour(p.m_profile.Drawing(), 252) + LinesOfColour(p.m_profile.Drawing(), 4), 1);

        // Over the first piece: the readout, and the dot at that distance along the line.
        QWidget* graph = p.m_profile.Window();
        int x = 0, y = 0;
        EXPECT_TRUE(CadCoordModelToWin(graph, 30.0, 190.0, &x, &y));
        QImage picture(graph->size(), QImage::Format_RGB32);
        picture.fill(Qt::black);
        {
            QPainter painter(&picture);
            p.OnCadDrawCursor(&painter, x, y);
        }
        EXPECT_GT(kvtest::ColourShare(picture, QColor(255, 50, 50), QRect(x + 20, y + 5, 160, 16)), 0.01);
        EXPECT_GT(kvtest::ColourShare(picture, Qt::white, QRect(x + 20, y - 25, 160, 16)), 0.01);
        EXPECT_EQ(kvtest::ColourShare(picture, QColor(50, 255, 50), QRect()), 0.0);
        p.OnCadMouseMove(0, 30.0, 190.0);
        EXPECT_EQ(p.m_hoverDot, Wml::Point2(1040.0, 1950.0));

        // Over the gap: no readout, and the dot leaves the plan view.
        EXPECT_TRUE(CadCoordModelToWin(graph, 57.0, 190.0, &x, &y));
        picture.fill(Qt::black);
        {
            QPainter painter(&picture);
            p.OnCadDrawCursor(&painter, x, y);
        }
        EXPECT_EQ(kvtest::ColourCount(picture), 1);
        p.OnCadMouseMove(0, 57.0, 190.0);
        EXPECT_EQ(p.m_hoverDot, Wml::Point2(0.0, 0.0));

        // The plan view draws into the dialog's cache; the project window keeps drawing with the
        // DEM's own.
        dem->ReleaseDisplayCache();
        p.m_plan.Window()->grab();
        EXPECT_FALSE(p.m_planCache.picture.empty());
        EXPECT_TRUE(dem->m_display.picture.empty());
        projectWindow->grab();
        EXPECT_FALSE(dem->m_display.picture.empty());

        p.resize(800, 400);
        EXPECT_GE(p.width(), CProfileDlg::kMinWidth);
        EXPECT_GE(p.height(), CProfileDlg::kMinHeight);
        // Grown, the plan view takes the added width and height; the graph only the height.
        const QRect plan = p.m_hostPlan.geometry(), graphHost = p.m_hostProfile.geometry();
        const QRect close = p.m_btnClose.geometry();
        const QSize before = p.size();
        p.resize(before + QSize(200, 100));
        EXPECT_EQ(p.m_hostPlan.geometry(), plan.adjusted(0, 0, 200, 100));
        EXPECT_EQ(p.m_hostProfile.geometry(), graphHost.adjusted(0, 0, 0, 100));
        EXPECT_EQ(p.m_btnClose.geometry(), close.translated(200, 100));
        EXPECT_EQ(p.m_plan.Window()->size(), p.m_hostPlan.contentsRect().size());
        return IDOK;
    });
    CadScriptPushCancel(d);
    CmdProfile(d);
    EXPECT_EQ(ActiveCadCommandId, 0);

    // The project's context menu and its drawing of rasters are back.
    QStringList menu;
    for (const kv::CadCallRecord& r : calls) {
        if (r.kind == kv::CadCallRecord::MenuClear && r.number == CAD_MENU_DEFAULT) {
            menu.clear();
        } else if (r.kind == kv::CadCallRecord::MenuAdd && r.number == CAD_MENU_DEFAULT) {
            menu << r.text;
        }
    }
    EXPECT_EQ(menu, (QStringList{"*REPEAT*", "-", "Zoom Extents", "Zoom Window", "Zoom Previous", "-",
                                 "Properties..."}));
    dem->ReleaseDisplayCache();
    projectWindow->grab();
    EXPECT_FALSE(dem->m_display.picture.empty());
    CadWndDestroy(projectWindow);
}

}  // namespace
