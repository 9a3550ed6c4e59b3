// Drawings from and to other formats: the converter's command line and how its output replaces
// an older file, the Import and Export commands with their messages, and shapefiles read as
// points, open line strings and closed rings, part by part.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <array>

#include <gdal.h>
#include <ogr_api.h>

#include "DocTestSupport.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::DocTest;

// A stand-in converter: copies its first text to its second, or fails without output when the
// caption says so. Each run leaves its command line in calls.txt beside it.
QString FakeConverter(const QString& folder) {
    const QString path = folder + "/konvertel";
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "#!/bin/sh\n"
        "echo \"$1\" >> \"$(dirname \"$0\")/calls.txt\"\n"
        "in=$(printf '%s' \"$1\" | cut -d'|' -f1 | tr -d '\"')\n"
        "out=$(printf '%s' \"$1\" | cut -d'|' -f2 | tr -d '\"')\n"
        "test -f \"$(dirname \"$0\")/fail\" && exit 1\n"
        "cp \"$in\" \"$out\"\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Counts {
    int open = 0;
    int closed = 0;
    int points = 0;
    int images = 0;
};

Counts CountEntities(CadDrawing* drawing, const char* layerName = nullptr) {
    Counts counts;
    CadLayer* layer = layerName ? CadGetLayerByName(drawing, layerName) : nullptr;
    for (CadEntity* e = CadGetFirstEntity(drawing); e; e = CadGetNextEntity(drawing, e)) {
        if (layer && CadEntityGetLayer(e) != layer) {
            continue;
        }
        switch (CadEntityGetType(e)) {
            case CAD_ENT_POLYLINE:
                (CadPlineGetClosed(e) ? counts.closed : counts.open)++;
                break;
            case CAD_ENT_POINT:
                counts.points++;
                break;
            case CAD_ENT_IMAGE:
                counts.images++;
                break;
            default:
                break;
        }
    }
    return counts;
}

Counts CountFile(const QString& path, const char* layerName = nullptr) {
    CadDrawing* drawing = CadCreate();
    Counts counts;
    if (CadFileOpen(drawing, 0, QFile::encodeName(path).constData())) {
        counts = CountEntities(drawing, layerName);
    }
    CadDelete(drawing);
    return counts;
}

class DrawingIOTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        GDALAllRegister();
        folder = kvtest::NewTempFolder("drawingio");
        converterFolder = kvtest::NewTempFolder("converter");
        SetDrawingConverterProgram(FakeConverter(converterFolder));
    }
    void TearDown() override {
        SetDrawingConverterProgram(QString());
        DocTest::TearDown();
    }
    void SetConverterFails(bool fails) {
        if (fails) {
            QFile marker(converterFolder + "/fail");
            ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
        } else {
            QFile::remove(converterFolder + "/fail");
        }
    }
    kvtest::ScriptedInteraction ui;
    QString folder;
    QString converterFolder;
};

TEST_F(DrawingIOTest, ExportLeavesImagePlacesOutAndKeepsAnOldFileUntilTheNewOneIsWritten) {
    CKelvaroDoc doc;
    CDEM* dem = kvtest::PutDEM(doc, "d.tif");
    dem->m_imageEntity = CadAddImagePlace(doc.m_pCad, 1000, 10, 10, 0, 0, 0, 1);
    CadClearVertices();
    CadAddVertex(0, 0, 0);
    CadAddVertex(5, 5, 0);
    CadAddPolyline(doc.m_pCad, 0, 0);
    CadAddPoint(doc.m_pCad, 1, 2, 3);

    const QString target = folder + "/out.dxf";
    QFile old(target);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old drawing");
    old.close();

    SetConverterFails(true);
    ui.AnswerFile(target);
    doc.OnCommand(ID_BUTTON_EXPORTDRAWING);
    EXPECT_EQ(ReadAll(target), QByteArray("old drawing"));

    SetConverterFails(false);
    ui.AnswerFile(target);
    doc.OnCommand(ID_BUTTON_EXPORTDRAWING);
    // The fake converter copies the native drawing: the export is what the converter was given.
    const Counts exported = CountFile(target);
    EXPECT_EQ(exported.images, 0);
    EXPECT_EQ(exported.open, 1);
    EXPECT_EQ(exported.points, 1);
    EXPECT_EQ(CountEntities(doc.m_pCad).images, 1);

    // DWG cannot be written: refused without running the converter, and the command line says why.
    const QByteArray callsBefore = ReadAll(converterFolder + "/calls.txt");
    ui.AnswerFile(folder + "/out.dwg");
    doc.OnCommand(ID_BUTTON_EXPORTDRAWING);
    EXPECT_FALSE(QFileInfo::exists(folder + "/out.dwg"));
    EXPECT_EQ(ReadAll(converterFolder + "/calls.txt"), callsBefore);
    char said[256] = {};
    CadCmdGetHistory(doc.m_pCad, 0, said, sizeof said);
    EXPECT_STREQ(said, "Unable to export file!: Drawings are exported to DXF only");

    const QString replace = "out.dxf already exists.\nDo you want to replace it?";
    EXPECT_EQ(ui.MessageTexts(), QStringList({replace, "Unable to export file!", replace, "Export done",
                                              "Unable to export file!"}));
    // Three quoted texts joined by vertical bars, the caption last.
    const QList<QByteArray> calls = callsBefore.trimmed().split('\n');
    ASSERT_EQ(calls.size(), 2);
    EXPECT_TRUE(calls[1].startsWith("\"") && calls[1].endsWith("\"|\"Export...\"")) << calls[1].constData();
    EXPECT_EQ(calls[1].count('|'), 2);
}

// The program's real choosers, with its messages recorded (and answered with their first button)
// instead of shown.
class RealChoosers : public kv::QtInteraction {
public:
    int ShowMessage(const QString& text, unsigned type, const QString&) override {
        messages << text;
        return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    }
    QStringList messages;
};

TEST_F(DrawingIOTest, ExportOffersDxfOnlyAndRefusesALayersFileBeforeAskingToReplaceIt) {
    CKelvaroDoc doc;
    const QString dem = folder + "/olinda.tif";
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), dem));
    ASSERT_EQ(doc.AddDEM(dem, 0), 1);
    const QByteArray before = ReadAll(dem);
    RealChoosers choosers;
    kv::SetInteraction(&choosers);

    // The operator types the DEM's file into the chooser and clicks Save; when the chooser comes
    // again, Cancel. A question of the chooser itself is answered No. Each click comes from the
    // event loop, as the mouse's would, so that a window it opens gets the next ones.
    QStringList filters, questions;
    int choosersShown = 0;
    const auto click = [](QAbstractButton* button) {
        QTimer::singleShot(0, button, [button] { QTest::mouseClick(button, Qt::LeftButton); });
    };
    QPointer<QWidget> handled;
    QTimer operatorHand;
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        QWidget* shown = QApplication::activeModalWidget();
        if (!shown || shown == handled || !shown->isVisible()) {
            return;
        }
        handled = shown;
        if (auto* box = qobject_cast<QMessageBox*>(shown)) {
            questions << box->text();
            click(box->button(QMessageBox::No));
            return;
        }
        auto* chooser = qobject_cast<QFileDialog*>(shown);
        auto* buttons = chooser ? chooser->findChild<QDialogButtonBox*>() : nullptr;
        ASSERT_NE(buttons, nullptr);
        if (++choosersShown == 1) {
            filters = chooser->nameFilters();
            chooser->findChild<QLineEdit*>("fileNameEdit")->setText(dem);
            click(buttons->button(QDialogButtonBox::Save));
        } else {
            click(buttons->button(QDialogButtonBox::Cancel));
        }
    });
    operatorHand.start(20);
    doc.OnCommand(ID_BUTTON_EXPORTDRAWING);
    operatorHand.stop();
    kv::SetInteraction(&ui);

    EXPECT_EQ(filters, QStringList{"DXF File (*.dxf)"});
    EXPECT_EQ(questions, QStringList());
    EXPECT_EQ(choosers.messages, QStringList{"The file is used by a loaded layer"});
    EXPECT_EQ(choosersShown, 2);
    EXPECT_EQ(ReadAll(dem), before);
    EXPECT_FALSE(QFileInfo::exists(converterFolder + "/calls.txt"));
}

TEST_F(DrawingIOTest, ImportPastesAConvertedDrawingAndReportsFailures) {
    // A native drawing posing as DXF: the fake converter hands it back unchanged.
    CadDrawing* source = CadCreate();
    CadAddPoint(source, 4, 5, 6);
    CadAddPoint(source, 7, 8, 9);
    ASSERT_TRUE(CadFileSaveAs(source, 0, QFile::encodeName(folder + "/in.dxf").constData()));
    CadDelete(source);

    CKelvaroDoc doc;
    ui.AnswerFile(folder + "/in.dxf");
    doc.OnCommand(ID_BUTTON_IMPORTDRAWING);
    EXPECT_EQ(CountEntities(doc.m_pCad).points, 2);
    EXPECT_TRUE(ReadAll(converterFolder + "/calls.txt").trimmed().endsWith("\"|\"Import...\""));

    SetConverterFails(true);
    ui.AnswerFile(folder + "/in.dxf");
    doc.OnCommand(ID_BUTTON_IMPORTDRAWING);
    EXPECT_EQ(CountEntities(doc.m_pCad).points, 2);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Import done", "Unable to import selected file!"}));
}

TEST_F(DrawingIOTest, AnImportIntoAnEmptyViewShowsTheWholeDrawing) {
    // Two drawings far from the origin and from each other.
    auto write = [&](const QString& path, double x, double y) {
        CadDrawing* source = CadCreate();
        CadAddPoint(source, x, y, 0);
        CadAddLine(source, x, y, 0, x + 1000, y + 600, 0);
        EXPECT_TRUE(CadFileSaveAs(source, 0, QFile::encodeName(path).constData()));
        CadDelete(source);
    };
    write(folder + "/site.vec", 291000, 9118000);
    write(folder + "/far.vec", 500000, 100000);
    auto view = [](QWidget* window) {
        std::array<double, 4> r{};
        CadGetViewRect(window, &r[0], &r[1], &r[2], &r[3]);
        return r;
    };

    CKelvaroDoc doc;
    QWidget* window = CadWndCreate(doc.m_pCad, nullptr, 0, 0, 400, 300);
    ASSERT_NE(window, nullptr);
    ui.AnswerFile(folder + "/site.vec");
    doc.OnCommand(ID_BUTTON_IMPORTDRAWING);
    const std::array<double, 4> shown = view(window);
    EXPECT_LE(shown[0], 291000);
    EXPECT_GE(shown[2], 292000);
    EXPECT_LE(shown[1], 9118000);
    EXPECT_GE(shown[3], 9118600);
    EXPECT_LT(shown[2] - shown[0], 2000);

    // A view that shows something keeps its place.
    ui.AnswerFile(folder + "/far.vec");
    doc.OnCommand(ID_BUTTON_IMPORTDRAWING);
    EXPECT_EQ(view(window), shown);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Import done", "Import done"}));
    CadWndDestroy(window);
}

TEST_F(DrawingIOTest, ShapefilePolygonsBecomeClosedPolylinesOnTheirLayer) {
    const QString output = folder + "/olinda.vec";
    ASSERT_TRUE(ImportShapefileToDrawing(kvtest::DataPath("olinda1.shp"), output));
    const Counts counts = CountFile(output, "olinda1");
    EXPECT_EQ(counts.closed, 470);
    EXPECT_EQ(counts.open, 0);
}

TEST_F(DrawingIOTest, ShapefileLinesStayOpenPartsArePolylinesOfTheirOwnAndEmptyFeaturesAreSkipped) {
    const QString path = folder + "/lines.shp";
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("ESRI Shapefile"), QFile::encodeName(path).constData(),
                                 0, 0, 0, GDT_Unknown, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRLayerH layer = GDALDatasetCreateLayer(ds, "lines", nullptr, wkbLineString, nullptr);
    for (const char* wkt : {"LINESTRING (0 0,10 0,10 10)", "MULTILINESTRING ((0 0,1 1),(5 5,6 6,7 5))", ""}) {
        OGRFeatureH feature = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        if (*wkt) {
            OGRGeometryH geometry = nullptr;
            char* text = const_cast<char*>(wkt);
            ASSERT_EQ(OGR_G_CreateFromWkt(&text, nullptr, &geometry), OGRERR_NONE);
            OGR_F_SetGeometryDirectly(feature, geometry);
        }
        ASSERT_EQ(OGR_L_CreateFeature(layer, feature), OGRERR_NONE);
        OGR_F_Destroy(feature);
    }
    GDALClose(ds);

    CKelvaroDoc doc;
    ui.AnswerFile(path);
    doc.OnCommand(ID_BUTTON_IMPORTDRAWING);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Import done"}));
    const Counts counts = CountEntities(doc.m_pCad, "lines");
    EXPECT_EQ(counts.open, 3);
    EXPECT_EQ(counts.closed, 0);
}

}  // namespace

// The real converter beside the program: a real DXF drawing comes in with its lines on their layers,
// and what is exported as DXF comes back the same.
TEST_F(DrawingIOTest, RealDrawingsGoThroughTheConverterBothWays) {
    SetDrawingConverterProgram(QStringLiteral(KV_KONVERTEL_EXE));
    CKelvaroDoc doc;
    ui.AnswerFile(kvtest::DataPath("example007.dxf"));
    doc.OnCommand(ID_BUTTON_IMPORTDRAWING);
    auto countLines = [](CadDrawing* drawing, const char* layer) {
        int n = 0;
        CadLayer* l = CadGetLayerByName(drawing, layer);
        for (CadEntity* e = CadGetFirstEntity(drawing); e; e = CadGetNextEntity(drawing, e)) {
            n += (l && CadEntityGetLayer(e) == l && CadEntityGetType(e) == CAD_ENT_LINE) ? 1 : 0;
        }
        return n;
    };
    EXPECT_EQ(countLines(doc.m_pCad, "cutout1"), 4);
    EXPECT_EQ(countLines(doc.m_pCad, "cutout2"), 8);
    EXPECT_EQ(countLines(doc.m_pCad, "dorn"), 8);
    double l = 0, b = 0, r = 0, t = 0;
    ASSERT_TRUE(CadGetExtents(doc.m_pCad, &l, &b, &r, &t));
    EXPECT_NEAR(l, -11, 1e-9);
    EXPECT_NEAR(r, 11, 1e-9);
    EXPECT_NEAR(b, 0, 1e-9);
    EXPECT_NEAR(t, 31, 1e-9);

    const QString target = folder + "/again.dxf";
    ui.AnswerFile(target);
    doc.OnCommand(ID_BUTTON_EXPORTDRAWING);
    CKelvaroDoc other;
    ui.AnswerFile(target);
    other.OnCommand(ID_BUTTON_IMPORTDRAWING);
    for (const char* layer : {"cutout1", "cutout2", "dorn"}) {
        EXPECT_EQ(countLines(other.m_pCad, layer), countLines(doc.m_pCad, layer)) << layer;
    }
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Import done", "Export done", "Import done"}));
}
