// OBJECTELEVATION driven as the operator drives it: the inputs dialog answered, the contour
// picked or drawn through scripted input, the refinement dialog's event procedures called as the
// engine calls them, the DEM checked afterwards.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "ObjectElevationFixtures.h"
#include "analysis/ObjectElevation.h"
#include "analysis/RefineContourElevationDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/geometry/Pgon.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "raster/DEM.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/CadEventProcs.h"

namespace {

using oetest::kOlindaCentre;
using Wml::Point2;
using Wml::Point3;

// The outline of a roof 300 x 200 m around the DEM's middle, at the DEM's heights.
std::vector<Point3> Outline(CDEM* dem) {
    std::vector<Point3> outline;
    for (auto [dx, dy] : {std::pair{-150.0, -100.0}, {150.0, -100.0}, {150.0, 100.0}, {-150.0, 100.0}}) {
        const double x = kOlindaCentre.X() + dx, y = kOlindaCentre.Y() + dy;
        outline.emplace_back(x, y, dem->GetElevation(x, y));
    }
    return outline;
}

CadEntity* AddPolyline(CadDrawing* drawing, const std::vector<Point3>& points) {
    CadClearVertices();
    for (const Point3& p : points)
        CadAddVertex(p.X(), p.Y(), p.Z());
    return CadAddPolyline(drawing, 0, 1);
}

Point3 Vertex(CadEntity* polyline, int i) {
    double x = 0, y = 0, z = 0;
    CadPlineGetVer(polyline, i, &x, &y, &z);
    return Point3(x, y, z);
}

// The position in an entry's view (y upward) of a point.
Point2 ViewPosition(const OrientedImageEntry& e, const Point3& p) {
    const Point2 pix = e.orientation.Pt3dToPix(p);
    return Point2(pix.X(), e.orientation.GetImageHeight() - pix.Y());
}

// The cursor procedure drawn into a picture of view 0's size at the window point.
QImage CursorPicture(CRefineContourElevationDlg& dlg, QPoint at) {
    QImage image(dlg.m_views[0].Window()->size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    CRefineContourElevationDlg::OnCadDrawCursor(dlg.m_views[0].Cad(), &painter, at.x(), at.y());
    painter.end();
    return image;
}

QPoint WindowPoint(CRefineContourElevationDlg& dlg, const Point2& model) {
    int x = 0, y = 0;
    CadCoordModelToWin(dlg.m_views[0].Window(), model.X(), model.Y(), &x, &y);
    return QPoint(x, y);
}

QPoint CurrentVertexWindowPoint(CRefineContourElevationDlg& dlg) {
    const Point3 v = Vertex(dlg.m_entries[size_t(dlg.m_nCurrentImage)].contour, dlg.m_nCurrentVertex);
    return WindowPoint(dlg, Point2(v.X(), v.Y()));
}

// The colour of the circle around the window point: its right-most point.
QColor MarkerColour(const QImage& image, QPoint centre) {
    for (int dx = 11; dx <= 13; ++dx) {
        const QColor c = image.pixelColor(centre + QPoint(dx, 0));
        if (c != Qt::black)
            return c;
    }
    return Qt::black;
}

class ObjectElevationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        ASSERT_EQ(m_doc.AddDEM(oetest::OlindaDemCopy(m_folder, "olinda.tif"), 0), 1);
        m_dem = m_doc.m_DEMs.begin()->second;
        m_images = m_folder + "/images";
        QDir().mkpath(m_images);
    }
    void TearDown() override {
        CadScriptSetStrict(0);
        RegisterDocumentEventProcs();
    }

    // Three cameras around the roof: one overhead, two to the side, each a little off it.
    void WriteThreeImages() {
        const Point3 t = kOlindaCentre;
        ASSERT_TRUE(oetest::WriteOrientedImage(m_images + "/north.jpg",
                                               oetest::CameraOver(t, 60, 500, 1500, 20, 40)));
        ASSERT_TRUE(
            oetest::WriteOrientedImage(m_images + "/over.jpg", oetest::CameraOver(t, 0, 0, 1400, 0, 0)));
        ASSERT_TRUE(oetest::WriteOrientedImage(m_images + "/west.jpg",
                                               oetest::CameraOver(t, -550, -80, 1600, -30, 10)));
    }

    // The record as the inputs dialog fills it, with the contour.
    void FillSetup(CadEntity* contour) {
        ObjectElevationSetup& s = m_doc.m_ObjectElevationSetup;
        s.text1 = s.text2 = m_dem->m_name;
        s.elevationDEM = s.targetDEM = m_dem;
        s.imagesFolder = s.text4 = m_images;
        s.contour = contour;
    }

    // Runs the refinement dialog on the record with the script.
    int RunRefine(kvtest::ScriptedInteraction& ui,
                  const std::function<void(CRefineContourElevationDlg&)>& script) {
        ui.AnswerModal([&](QDialog& d) {
            auto& dlg = dynamic_cast<CRefineContourElevationDlg&>(d);
            script(dlg);
            if (dlg.isVisible())
                dlg.m_ok->click();
            return -1;
        });
        CRefineContourElevationDlg dlg(&m_doc);
        return dlg.DoModal();
    }

    // The inputs dialog's answer: the images folder and the DEM in both lists, then OK.
    void AnswerInputs(kvtest::ScriptedInteraction& ui) {
        ui.AnswerModal([this](QDialog& d) {
            auto& inputs = dynamic_cast<CObjectElevationSetupDlg&>(d);
            inputs.m_folder->setText(m_images);
            inputs.m_elevationDem->setCurrentText(m_dem->m_name);
            inputs.m_targetDem->setCurrentText(m_dem->m_name);
            inputs.accept();
            return -1;
        });
    }

    QString Prompt() {
        char text[256] = {};
        CadCmdGetPrompt(m_doc.m_pCad, text, sizeof text);
        return QString::fromUtf8(text);
    }

    CKelvaroDoc m_doc;
    CDEM* m_dem = nullptr;
    QString m_folder;
    QString m_images;
};

}  // namespace

TEST_F(ObjectElevationTest, CandidatesAreTheTenNearestImagesAndTheBestCentredThreeAreShown) {
    const Point3 t = kOlindaCentre;
    auto write = [&](const QString& name, const kvtest::SyntheticCamera& cam, bool oriented = true) {
        ASSERT_TRUE(oetest::WriteOrientedImage(m_images + '/' + name, cam, oriented));
    };
    // The first image in name order is 640 x 480; the best centred one is 1000 x 500 and sees the
    // roof in its own middle, 180 pixels from the middle of the first one.
    write("a_wide.jpg", oetest::CameraOver(t, -300, 200, 1500, 200, 150));
    write("b_big.jpg", oetest::CameraOver(t, 0, 0, 1500, 0, 0, 1000, 500));
    write("c_cam40.JPG", oetest::CameraOver(t, 250, -150, 1500, 40, 0));
    write("d_cam80.jpg", oetest::CameraOver(t, -200, -300, 1500, 0, 80));
    const double offsets[6][4] = {{400, 0, 200, 0},    {-400, 0, -180, 60}, {0, 420, 0, 190},
                                  {0, -430, 170, -90}, {300, 300, 210, 0},  {-300, -250, 0, -220}};
    for (int i = 0; i < 6; ++i)
        write(QStringLiteral("%1_side.jpg").arg(QChar('e' + i)),
              oetest::CameraOver(t, offsets[i][0], offsets[i][1], 1500, offsets[i][2], offsets[i][3]));
    // Two cameras far away that look straight at the roof: better centred than most, but not near.
    write("k_far.jpg", oetest::CameraOver(t, 3000, 0, 1500, 0, 0));
    write("l_far.jpg", oetest::CameraOver(t, -2800, 900, 1500, 0, 0));
    // One image without orientation, one with a damaged one.
    write("m_plain.jpg", oetest::CameraOver(t, 0, 0, 1500, 0, 0), false);
    write("n_damaged.jpg", oetest::CameraOver(t, 10, 0, 1500, 0, 0));
    const QByteArray yml = kvtest::FileBytes(m_images + "/n_damaged.yml");
    ASSERT_TRUE(kvtest::WriteFileBytes(m_images + "/n_damaged.yml", yml.left(yml.size() / 3)));

    kvtest::ScriptedInteraction ui;
    FillSetup(AddPolyline(m_doc.m_pCad, Outline(m_dem)));
    bool ran = false;
    RunRefine(ui, [&](CRefineContourElevationDlg& dlg) {
        ran = true;
        EXPECT_EQ(dlg.m_nFailedImages, 2);
        ASSERT_EQ(dlg.m_entries.size(), 10u);
        for (const OrientedImageEntry& e : dlg.m_entries)
            EXPECT_FALSE(e.path.contains("far")) << e.path.toStdString();
        EXPECT_EQ(dlg.m_imageChecks[0]->text(), QStringLiteral("b_big"));
        EXPECT_EQ(dlg.m_imageChecks[1]->text(), QStringLiteral("c_cam40"));
        EXPECT_EQ(dlg.m_imageChecks[2]->text(), QStringLiteral("d_cam80"));
        EXPECT_TRUE(dlg.m_imageChecks[0]->isChecked());
        // Each view's image place has its own image's size.
        int w = 0, h = 0;
        double x, y, z, s;
        ASSERT_TRUE(CadImageGetPlace(dlg.m_views[0].imagePlace, &w, &h, &x, &y, &z, &s));
        EXPECT_EQ(QSize(w, h), QSize(1000, 500));
        ASSERT_TRUE(CadImageGetPlace(dlg.m_views[1].imagePlace, &w, &h, &x, &y, &z, &s));
        EXPECT_EQ(QSize(w, h), QSize(640, 480));
        // Only the current image's contour shows.
        EXPECT_EQ(CadEntityGetVisible(dlg.m_entries[0].contour), 1);
        EXPECT_EQ(CadEntityGetVisible(dlg.m_entries[1].contour), 0);
    });
    EXPECT_TRUE(ran);
    ASSERT_EQ(ui.Messages().size(), 1u);
    EXPECT_EQ(ui.Messages()[0].text,
              QStringLiteral("Warning\n2 images are not loaded\nCheck their orientations"));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Warning);
    EXPECT_EQ(CRefineContourElevationDlg::Current(), nullptr);
}

TEST_F(ObjectElevationTest, WithoutThreeOrientedImagesTheDialogEnds) {
    FillSetup(AddPolyline(m_doc.m_pCad, Outline(m_dem)));
    const Point3 t = kOlindaCentre;
    // An orientation made for another image size counts as none.
    kvtest::SyntheticCamera other = oetest::CameraOver(t, 0, 0, 1500, 0, 0);
    ASSERT_TRUE(oetest::WriteOrientedImage(m_images + "/x.jpg", other, false));
    other.width = 800;
    ASSERT_TRUE(kvtest::WriteOrientation(m_images + "/x.jpg", other));
    ASSERT_TRUE(oetest::WriteOrientedImage(m_images + "/y.jpg", other, false));
    {
        kvtest::ScriptedInteraction ui;
        CRefineContourElevationDlg dlg(&m_doc);
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(ui.MessageTexts(), QStringList{QStringLiteral("No oriented image available")});
        EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Information);
    }
    // Two oriented images: the dialog ends without a word.
    ASSERT_TRUE(oetest::WriteOrientedImage(m_images + "/a.jpg", oetest::CameraOver(t, 100, 0, 1500, 0, 0)));
    ASSERT_TRUE(oetest::WriteOrientedImage(m_images + "/b.jpg", oetest::CameraOver(t, -100, 0, 1500, 0, 0)));
    QFile::remove(m_images + "/x.jpg");
    QFile::remove(m_images + "/y.jpg");
    kvtest::ScriptedInteraction ui;
    CRefineContourElevationDlg dlg(&m_doc);
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST_F(ObjectElevationTest, MeasuringAVertexInTwoImagesIntersectsItAndTheKeysActAsTheTableSays) {
    WriteThreeImages();
    const std::vector<Point3> outline = Outline(m_dem);
    CadEntity* contour = AddPolyline(m_doc.m_pCad, outline);
    FillSetup(contour);
    // The roof's true corner lies 12 m above the DEM.
    const Point3 truth = outline[0] + Wml::Vector3(0, 0, 12.0);
    kvtest::ScriptedInteraction ui;
    RunRefine(ui, [&](CRefineContourElevationDlg& dlg) {
        ASSERT_EQ(dlg.m_entries.size(), 3u);
        CadDrawing* view0 = dlg.m_views[0].Cad();
        ASSERT_EQ(dlg.m_nCurrentVertex, 0);

        // A press at the true pixel in the first image: measured there (a green circle), nothing
        // intersected yet.
        Point2 at = ViewPosition(dlg.m_entries[0], truth);
        CRefineContourElevationDlg::OnCadMouseDown(view0, CAD_BUTTON_LEFT, at.X(), at.Y());
        EXPECT_EQ(dlg.IsVertexMeasured(0, 0), 1);
        EXPECT_EQ(dlg.CountVertexMeasures(0), 1);
        // Vertices and images are counted from 0 to their count - 1.
        dlg.SetVertexMeasured(4, 0);
        dlg.SetVertexMeasured(0, 3);
        EXPECT_EQ(dlg.CountVertexMeasures(4), 0);
        EXPECT_EQ(dlg.m_entries[0].measured, std::vector<int>{0});
        EXPECT_NEAR(Vertex(contour, 0).Z(), outline[0].Z(), 1e-9);
        QPoint marker = CurrentVertexWindowPoint(dlg);
        EXPECT_EQ(MarkerColour(CursorPicture(dlg, marker), marker), QColor(0, 255, 0));

        // Space: the next image, where the vertex is not measured (red).
        EXPECT_EQ(CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_SPACE, 0), 1);
        EXPECT_EQ(dlg.m_nCurrentImage, 1);
        EXPECT_TRUE(dlg.m_imageChecks[1]->isChecked() && !dlg.m_imageChecks[0]->isChecked());
        marker = CurrentVertexWindowPoint(dlg);
        EXPECT_EQ(MarkerColour(CursorPicture(dlg, marker), marker), QColor(255, 0, 0));

        // The second press writes the true point into the contour and moves the vertex in the
        // third image to where the point projects.
        at = ViewPosition(dlg.m_entries[1], truth);
        CRefineContourElevationDlg::OnCadMouseDown(view0, CAD_BUTTON_LEFT, at.X(), at.Y());
        EXPECT_LT((Vertex(contour, 0) - truth).Length(), 0.001);
        const Point2 third = ViewPosition(dlg.m_entries[2], truth);
        const Point3 moved = Vertex(dlg.m_entries[2].contour, 0);
        EXPECT_LT((Point2(moved.X(), moved.Y()) - third).Length(), 1e-6);
        // Other buttons and other views do nothing.
        CRefineContourElevationDlg::OnCadMouseDown(view0, CAD_BUTTON_RIGHT, 0, 0);
        CRefineContourElevationDlg::OnCadMouseDown(dlg.m_views[1].Cad(), CAD_BUTTON_LEFT, 0, 0);
        EXPECT_LT((Vertex(contour, 0) - truth).Length(), 0.001);

        // Page Up from the first vertex goes to the last, Page Down back round to the first.
        CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_PRIOR, 0);
        EXPECT_EQ(dlg.m_nCurrentVertex, 3);
        CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_NEXT, 0);
        // The same through the engine: a key pressed in view 0's window.
        QTest::keyClick(dlg.m_views[0].Window(), Qt::Key_PageDown);
        EXPECT_EQ(dlg.m_nCurrentVertex, 1);
        // The views follow the vertex.
        double l, b, r, tp;
        CadGetViewRect(dlg.m_views[0].Window(), &l, &b, &r, &tp);
        const Point3 v1 = Vertex(dlg.m_entries[1].contour, 1);
        EXPECT_NEAR((l + r) / 2, v1.X(), 1.0);
        EXPECT_NEAR((b + tp) / 2, v1.Y(), 1.0);

        // Insert measures the vertex where it is, and again clears it.
        CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_INSERT, 0);
        EXPECT_EQ(dlg.IsVertexMeasured(1, 1), 1);
        CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_INSERT, 0);
        EXPECT_EQ(dlg.IsVertexMeasured(1, 1), 0);
        // Keypad 6 and 8 move it one window pixel right and up (one image pixel at this zoom).
        CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_NUMPAD0 + 6, 0);
        QTest::keyClick(dlg.m_views[0].Window(), Qt::Key_8, Qt::KeypadModifier);
        const Point3 stepped = Vertex(dlg.m_entries[1].contour, 1);
        EXPECT_GT(stepped.X() - v1.X(), 0.0);
        EXPECT_LE(stepped.X() - v1.X(), 1.5);
        EXPECT_GT(stepped.Y() - v1.Y(), 0.0);
        EXPECT_LE(stepped.Y() - v1.Y(), 1.5);
        EXPECT_EQ(dlg.IsVertexMeasured(1, 1), 1);
        // Keypad 5 has no move.
        EXPECT_EQ(CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_NUMPAD0 + 5, 0), 0);
        // Keypad + and - zoom all three views.
        double before[3], after[3];
        for (int i = 0; i < 3; ++i) {
            CadGetViewRect(dlg.m_views[i].Window(), &l, &b, &r, &tp);
            before[i] = r - l;
        }
        CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_ADD, 0);
        for (int i = 0; i < 3; ++i) {
            CadGetViewRect(dlg.m_views[i].Window(), &l, &b, &r, &tp);
            after[i] = r - l;
            EXPECT_LT(after[i], before[i] * 0.9);
        }
        CRefineContourElevationDlg::OnCadKeyDown(view0, CAD_VK_SUBTRACT, 0);
        CadGetViewRect(dlg.m_views[2].Window(), &l, &b, &r, &tp);
        EXPECT_NEAR(r - l, before[2], before[2] * 0.01);

        // The cursor picks the nearest vertex, unless Shift is held.
        const QPoint nearThird = WindowPoint(dlg, Point2(Vertex(dlg.m_entries[1].contour, 2).X() + 3,
                                                         Vertex(dlg.m_entries[1].contour, 2).Y()));
        CursorPicture(dlg, nearThird);
        EXPECT_EQ(dlg.m_nCurrentVertex, 2);
        QWidget* side = dlg.m_views[1].Window();
        QTest::mousePress(side, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 5));
        QTest::mouseRelease(side, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 5));
        CursorPicture(dlg, WindowPoint(dlg, Point2(Vertex(dlg.m_entries[1].contour, 0).X(),
                                                   Vertex(dlg.m_entries[1].contour, 0).Y())));
        EXPECT_EQ(dlg.m_nCurrentVertex, 2);
        QTest::mousePress(side, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QTest::mouseRelease(side, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        CursorPicture(dlg, WindowPoint(dlg, Point2(Vertex(dlg.m_entries[1].contour, 0).X(),
                                                   Vertex(dlg.m_entries[1].contour, 0).Y())));
        EXPECT_EQ(dlg.m_nCurrentVertex, 0);

        // The label: index and elevation, or neither.
        marker = CurrentVertexWindowPoint(dlg);
        const QRect label(marker + QPoint(15, -35), QSize(160, 30));
        EXPECT_GT(kvtest::ColourShare(CursorPicture(dlg, marker), Qt::white, label), 0.01);
        dlg.m_viewIndex->click();
        dlg.m_viewElevation->click();
        EXPECT_EQ(ZQT_GetUserProfileString("RefineElevation", "ViewIndex", "x"), QStringLiteral("0"));
        EXPECT_EQ(ZQT_GetUserProfileString("RefineElevation", "ViewElevation", "x"), QStringLiteral("0"));
        EXPECT_EQ(kvtest::ColourShare(CursorPicture(dlg, marker), Qt::white, label), 0.0);

        // The check boxes choose the image; the current one stays ticked when clicked.
        dlg.m_imageChecks[2]->click();
        EXPECT_EQ(dlg.m_nCurrentImage, 2);
        dlg.m_imageChecks[2]->click();
        EXPECT_TRUE(dlg.m_imageChecks[2]->isChecked());
        EXPECT_EQ(CadEntityGetVisible(dlg.m_entries[2].contour), 1);
        EXPECT_EQ(CadEntityGetVisible(dlg.m_entries[1].contour), 0);
    });
    // A larger dialog gives view 0 and its window the room; the buttons keep their corner, the
    // side views their place. It never gets smaller than 800 x 504.
    RunRefine(ui, [](CRefineContourElevationDlg& dlg) {
        const QRect side = dlg.m_views[1].host->geometry();
        const QSize view0 = dlg.m_views[0].host->size();
        const QPoint okFromCorner = QPoint(dlg.width(), dlg.height()) - dlg.m_ok->geometry().topLeft();
        dlg.resize(dlg.width() + 200, dlg.height() + 100);
        EXPECT_EQ(dlg.m_views[0].host->size(), view0 + QSize(200, 100));
        EXPECT_EQ(dlg.m_views[0].Window()->size(), dlg.m_views[0].host->contentsRect().size());
        EXPECT_EQ(QPoint(dlg.width(), dlg.height()) - dlg.m_ok->geometry().topLeft(), okFromCorner);
        EXPECT_EQ(dlg.m_views[1].host->geometry(), side);
        dlg.resize(300, 200);
        EXPECT_EQ(dlg.size(), QSize(800, 504));
    });
    // The settings hold for the next opening.
    RunRefine(ui, [](CRefineContourElevationDlg& dlg) {
        EXPECT_FALSE(dlg.m_viewIndex->isChecked());
        EXPECT_FALSE(dlg.m_viewElevation->isChecked());
    });
}

TEST_F(ObjectElevationTest, ADrawnRoofIsMeasuredAppliedToTheDemAndUndone) {
    WriteThreeImages();
    kvtest::ScriptedInteraction ui;
    AnswerInputs(ui);
    const std::vector<Point3> outline = Outline(m_dem);
    CadDrawing* d = m_doc.m_pCad;
    CadScriptPushFinish(d);  // no existing contour: draw one
    for (size_t i = 0; i < outline.size(); ++i) {
        CadScriptPushPoint(d, outline[i].X(), outline[i].Y(), 0.0);
        if (i == 1)  // off the DEM: refused
            CadScriptPushPoint(d, kOlindaCentre.X() + 9000.0, kOlindaCentre.Y(), 0.0);
    }
    CadScriptPushFinish(d);
    const cv::Mat before = [&] {
        EXPECT_EQ(m_dem->LoadData(), 1);
        return m_dem->m_grid.clone();
    }();

    // Every corner 9 m above the DEM, measured in two images; Apply, then OK.
    std::vector<Point3> roof;
    for (const Point3& p : outline)
        roof.push_back(p + Wml::Vector3(0, 0, 9.0));
    CadEntity* contour = nullptr;
    ui.AnswerModal([&](QDialog& dialog) -> int {
        auto& dlg = dynamic_cast<CRefineContourElevationDlg&>(dialog);
        contour = dlg.m_setup.contour;
        EXPECT_EQ(ActiveCadCommandId, CMD_OBJECTELEVATION);
        EXPECT_EQ(dlg.m_nVertexCount, 4);
        if (dlg.m_nVertexCount != 4)
            return IDCANCEL;
        for (int v = 0; v < 4; ++v)
            EXPECT_NEAR(Vertex(contour, v).Z(),
                        m_dem->GetElevation(outline[size_t(v)].X(), outline[size_t(v)].Y()), 1e-9);
        for (int image = 0; image < 2; ++image) {
            dlg.ShowImage(image);
            for (int v = 0; v < 4; ++v) {
                dlg.m_nCurrentVertex = v;
                const Point2 at = ViewPosition(dlg.m_entries[size_t(image)], roof[size_t(v)]);
                CRefineContourElevationDlg::OnCadMouseDown(dlg.m_views[0].Cad(), CAD_BUTTON_LEFT, at.X(),
                                                           at.Y());
            }
        }
        dlg.m_apply->click();
        dlg.m_ok->click();
        return -1;
    });
    CmdObjectElevation(d);

    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_TRUE(Prompt().isEmpty());
    EXPECT_TRUE(m_doc.m_strCommandPrompt.isEmpty());
    EXPECT_EQ(m_doc.m_ObjectElevationSetup.contour, nullptr);
    ASSERT_NE(contour, nullptr);
    EXPECT_EQ(CadEntityGetDeleted(contour), 0);
    char layer[64] = {};
    CadLayerGetName(CadEntityGetLayer(contour), layer, sizeof layer);
    EXPECT_STREQ(layer, "ObjectContours");
    double mean = 0.0;
    for (int v = 0; v < 4; ++v) {
        EXPECT_LT((Vertex(contour, v) - roof[size_t(v)]).Length(), 0.001);
        mean += roof[size_t(v)].Z() / 4.0;
    }
    // The cells under the roof (their top-left corners inside) take the mean height.
    std::vector<Point2> xy;
    for (const Point3& p : roof)
        xy.emplace_back(p.X(), p.Y());
    const CPgon polygon(xy.data(), 4);
    int inside = 0, wrong = 0;
    const double* gt = m_dem->m_geoTransform;
    for (int r = 0; r < before.rows; ++r)
        for (int c = 0; c < before.cols; ++c) {
            const bool in = polygon.PtInPolygon(gt[0] + c * gt[1], gt[3] + r * gt[5]);
            inside += in;
            const float want = in ? float(mean) : before.at<float>(r, c);
            wrong += std::abs(m_dem->m_grid.at<float>(r, c) - want) > 1e-3f;
        }
    EXPECT_GE(inside, 4);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(m_dem->m_modified, 1);
    ASSERT_EQ(m_doc.DemUndoHistory().Count(), 1);
    m_doc.OnButtonDemundo();
    EXPECT_EQ(cv::countNonZero(m_dem->m_grid != before), 0);
}

TEST_F(ObjectElevationTest, ThePromptsAndWhatStaysInTheDrawingOnEveryWayOut) {
    WriteThreeImages();
    CadDrawing* d = m_doc.m_pCad;
    const std::vector<Point3> outline = Outline(m_dem);
    const int entities = CadCountEntities(d);
    {
        // Cancelled inputs.
        kvtest::ScriptedInteraction ui;
        ui.AnswerModal(IDCANCEL);
        CmdObjectElevation(d);
        EXPECT_EQ(Prompt(), QStringLiteral("Not all needed data were selected"));
        EXPECT_EQ(ui.Dialogs(), QStringList{QStringLiteral("CObjectElevationSetupDlg")});
        EXPECT_EQ(ActiveCadCommandId, 0);
    }
    {
        // Texts filled but the DEM to write is gone: the command does not start.
        FillSetup(nullptr);
        m_doc.m_ObjectElevationSetup.targetDEM = nullptr;
        kvtest::ScriptedInteraction ui;
        ui.AnswerModal(IDOK);
        CmdObjectElevation(d);
        EXPECT_EQ(Prompt(), QStringLiteral("Not all needed data were selected"));
        EXPECT_EQ(ui.Dialogs().size(), 1);
    }
    {
        // Two vertices only.
        kvtest::ScriptedInteraction ui;
        AnswerInputs(ui);
        CadScriptPushFinish(d);
        CadScriptPushPoint(d, outline[0].X(), outline[0].Y(), 0.0);
        CadScriptPushPoint(d, outline[1].X(), outline[1].Y(), 0.0);
        CadScriptPushFinish(d);
        CmdObjectElevation(d);
        EXPECT_EQ(Prompt(), QStringLiteral("At least 3 points are needed"));
        EXPECT_TRUE(m_doc.m_strCommandPrompt.isEmpty());
        EXPECT_EQ(ActiveCadCommandId, 0);
        EXPECT_EQ(ui.Dialogs().size(), 1);
        EXPECT_EQ(CadCountEntities(d), entities);
    }
    {
        // A drawn contour is erased when the dialog is cancelled.
        kvtest::ScriptedInteraction ui;
        AnswerInputs(ui);
        CadScriptPushFinish(d);
        for (const Point3& p : outline)
            CadScriptPushPoint(d, p.X(), p.Y(), 0.0);
        CadScriptPushFinish(d);
        ui.AnswerModal([](QDialog& dlg) {
            dynamic_cast<CRefineContourElevationDlg&>(dlg).m_cancel->click();
            return -1;
        });
        CmdObjectElevation(d);
        EXPECT_EQ(CadCountEntities(d), entities);
        EXPECT_EQ(ActiveCadCommandId, 0);
    }
    {
        // A picked polyline: something else first ("Invalid entity"), then the polyline, which
        // moves to "ObjectContours" and stays after Cancel.
        CadEntity* line = CadAddLine(d, 0, 0, 0, 10, 10, 0);
        CadEntity* picked = AddPolyline(d, outline);
        kvtest::ScriptedInteraction ui;
        AnswerInputs(ui);
        CadScriptPushEntity(d, line);
        CadScriptPushCall(d, [&] {
            char history[256] = {};
            CadCmdGetPrompt(d, history, sizeof history);
            EXPECT_TRUE(QString::fromUtf8(history).contains(QStringLiteral("Invalid entity"))) << history;
            EXPECT_EQ(m_doc.m_strCommandPrompt,
                      QStringLiteral("Select contour polyline (right click to define new one)"));
        });
        CadScriptPushEntity(d, picked);
        ui.AnswerModal([](QDialog& dlg) {
            dynamic_cast<CRefineContourElevationDlg&>(dlg).m_cancel->click();
            return -1;
        });
        CmdObjectElevation(d);
        EXPECT_EQ(CadEntityGetDeleted(picked), 0);
        char layer[64] = {};
        CadLayerGetName(CadEntityGetLayer(picked), layer, sizeof layer);
        EXPECT_STREQ(layer, "ObjectContours");
        EXPECT_EQ(ActiveCadCommandId, 0);
        EXPECT_EQ(CadCmdGetWaiting(d), 0);
    }
    // A removed DEM leaves the record.
    FillSetup(nullptr);
    m_doc.RemoveDEM(m_dem->m_name);
    EXPECT_EQ(m_doc.m_ObjectElevationSetup.elevationDEM, nullptr);
    EXPECT_EQ(m_doc.m_ObjectElevationSetup.targetDEM, nullptr);
}

TEST_F(ObjectElevationTest, ScreenshotsOfTheInputsAndOfTheThreeViewsWithAMarkedVertex) {
    WriteThreeImages();
    FillSetup(AddPolyline(m_doc.m_pCad, Outline(m_dem)));
    ZQT_WriteUserProfileString("RefineElevation", "ViewIndex", "1");
    ZQT_WriteUserProfileString("RefineElevation", "ViewElevation", "1");
    kvtest::ScriptedInteraction ui;
    ui.AnswerModal([](QDialog& d) {
        const QImage shot = kvtest::Screenshot(&d, QStringLiteral("object-elevation-inputs"));
        auto& inputs = dynamic_cast<CObjectElevationSetupDlg&>(d);
        EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(inputs.m_folder, &d)), 2);
        EXPECT_EQ(inputs.m_targetDem->count(), 1);
        EXPECT_FALSE(inputs.m_folder->text().isEmpty());
        return IDCANCEL;
    });
    CObjectElevationSetupDlg inputs(&m_doc);
    inputs.DoModal();

    RunRefine(ui, [](CRefineContourElevationDlg& dlg) {
        dlg.SetVertexMeasured(0, 0);
        QWidget* view0 = dlg.m_views[0].Window();
        const QPoint marker = CurrentVertexWindowPoint(dlg);
        QTest::mouseMove(view0, marker);
        QApplication::processEvents();
        const QImage shot = kvtest::Screenshot(&dlg, QStringLiteral("object-elevation-refine"));
        for (const auto& view : dlg.m_views)
            EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(view.Window(), &dlg)), 50);
        const QRect circle(kvtest::PlaceIn(view0, &dlg).topLeft() + marker - QPoint(14, 14), QSize(29, 29));
        EXPECT_GT(kvtest::ColourShare(shot, QColor(0, 255, 0), circle), 0.05);
        // The label beside it: index and elevation in white.
        const QRect label(kvtest::PlaceIn(view0, &dlg).topLeft() + marker + QPoint(15, -35), QSize(160, 30));
        EXPECT_GT(kvtest::ColourShare(shot, Qt::white, label), 0.02);

        // Read through GDAL as large images are, the views show the same pictures.
        dlg.m_bLargeImages = 1;
        ASSERT_EQ(dlg.ShowImage(0), 1);
        EXPECT_NE(dlg.m_entries[0].dataset, nullptr);
        const QImage large = dlg.grab().toImage().convertToFormat(QImage::Format_RGB32);
        for (const auto& view : dlg.m_views) {
            const QRect place = kvtest::PlaceIn(view.Window(), &dlg);
            EXPECT_GT(kvtest::ColourCount(large, place), 50);
            EXPECT_EQ(large.copy(place), shot.copy(place));
        }
    });
}
