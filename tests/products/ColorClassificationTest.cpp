// COLORCLASSIFICATION and MAPREPRESENTATION driven as the operator drives them, on the NDVI map of
// the Landsat scene: the map and area choice, what the renderer draws while the classification is
// shown and after it hides, ".ccl" files, the export's counts against an independent count and its
// files, the frequency histogram, and the palette settings of a map and a DEM.
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ProductsFixtures.h"
#include "controls/AbortSingleProgressDlg.h"
#include "controls/InputValueDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "products/ClassificationExport.h"
#include "products/ColorClassificationDlg.h"
#include "products/HistogramsDlg.h"
#include "products/MapClassificationCommands.h"
#include "products/MapRepresentationDlg.h"
#include "products/VegetationIndex.h"
#include "raster/ClassReport.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "support/OpenedFiles.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/CadEventProcs.h"

namespace {

constexpr QRgb kBackground = 0xFF202020;

QString PdfText(const QString& pdf) {
    return kvtest::PdfText(pdf).simplified();
}

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList History(CadDrawing* d) {
    QStringList lines;
    char line[512] = {};
    for (int i = 0; CadCmdGetHistory(d, i, line, sizeof line); ++i) {
        lines << QString::fromUtf8(line);
    }
    return lines;
}

// A progress window whose Abort is pressed once the bar passes half way.
class AbortingProgress : public CAbortSingleProgressDlg {
public:
    void SetPos(int pos) override {
        CAbortSingleProgressDlg::SetPos(pos);
        if (pos >= 50) {
            m_btnAbort.click();
        }
    }
};

class ColorClassificationTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        folder = kvtest::NewTempFolder("color_classification");
        ndvi = ptest::SceneNdvi(doc, folder);
        ASSERT_FALSE(ndvi.isEmpty());
        map = AddMap(ndvi, "ndvi", MapTypeNDVI);
        ASSERT_NE(map, nullptr);
        d = doc.m_pCad;
        dialog = ColorClassificationWindow(doc);
    }
    void TearDown() override { CadScriptSetStrict(0); }

    CMapData* AddMap(const QString& path, const QString& name, MapType type) {
        MapLayerInfo info;
        info.title = name;
        info.mapType = type;
        info.path = path;
        return doc.AddMap(info, 1) ? doc.m_Maps[name] : nullptr;
    }
    // A map of the values, 1 m cells, no data -9999.
    CMapData* GridMap(const QString& name, const std::vector<float>& values, int columns) {
        cv::Mat grid(int(values.size()) / columns, columns, CV_32FC1);
        std::copy(values.begin(), values.end(), grid.ptr<float>());
        const double gt[6] = {0, 1, 0, double(grid.rows), 0, -1};
        const double noData = -9999.0;
        return AddMap(ptest::WriteGrid(folder + "/" + name + ".tif", grid, gt, &noData), name, MapTypeNDVI);
    }
    // Paints the map over a 200 x 200 canvas, the raster's width over its width.
    QImage Render(CMapData* layer) {
        QImage canvas(200, 200, QImage::Format_ARGB32);
        canvas.fill(kBackground);
        QPainter painter(&canvas);
        const CadWinRect update{0, 0, 200, 200};
        int id = -1;
        for (const auto& [key, name] : doc.m_MapIdNames) {
            if (name == layer->m_name) {
                id = key;
            }
        }
        const int w = GDALGetRasterXSize(layer->m_pDataset), h = GDALGetRasterYSize(layer->m_pDataset);
        const int H = 200 * h / w;
        EXPECT_EQ(OnCadDrawImage(d, &painter, &update, id, 0, H, 200, H), 1);
        return canvas;
    }
    // The command on the only map with the whole area.
    void ClassifyWhole() {
        ui.AnswerModal(102);
        CmdColorClassification(d);
        ASSERT_EQ(dialog->Map(), map);
    }
    // The band's values of the map in a flat list.
    std::vector<double> Values() const { return kvtest::ReadBand(ndvi); }

    ptest::FreshProfile profile;
    kvtest::ScriptedInteraction ui;
    kvtest::OpenedFiles opened;
    // Before the project, which asks for its map windows when it is made.
    ptest::MapToolWindowsSupplied windows;
    CKelvaroDoc doc;
    QString folder, ndvi;
    CMapData* map = nullptr;
    CadDrawing* d = nullptr;
    CColorClassificationDlg* dialog = nullptr;
};

}  // namespace

TEST_F(ColorClassificationTest, OneMapAndTheTotalAreaShowTwoRangesOverTheExactValueRange) {
    // The project's windows exist, hidden and without a parent, before any command runs.
    ASSERT_NE(dialog, nullptr);
    ASSERT_NE(MapRepresentationWindow(doc), nullptr);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(MapRepresentationWindow(doc)->isVisible());
    EXPECT_EQ(MapRepresentationWindow(doc)->parent(), nullptr);
    EXPECT_EQ(dialog->parent(), nullptr);

    const CAGColors before = map->m_colors;
    ClassifyWhole();
    EXPECT_EQ(ActiveCadCommandId, 0);
    EXPECT_FALSE(History(d).join('\n').contains("Select Map"));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(map->m_linkedEntities.empty());
    double lo = std::numeric_limits<double>::max(), hi = -lo;
    for (double v : Values()) {
        if (v != -9999.0) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    EXPECT_EQ(dialog->m_editMin.text(), QString::asprintf("%lf", lo));
    EXPECT_EQ(dialog->m_editMax.text(), QString::asprintf("%lf", hi));
    const std::vector<int>& widths = dialog->m_List.Model().Widths();
    const int W = dialog->m_List.Model().Width();
    ASSERT_EQ(widths.size(), 2u);
    EXPECT_EQ(widths[0], W / 2);
    EXPECT_EQ(widths[1], W - W / 2);
    ASSERT_EQ(map->m_colors.m_classes.size(), 2u);
    EXPECT_EQ(map->m_colors.m_classes[0].lowerLimit, float(lo));
    EXPECT_EQ(map->m_colors.m_classes[1].upperLimit, float(hi));

    // The whole map is drawn in the two class colours.
    const QImage classified = Render(map);
    const QColor first = kv::ToQColor(map->m_colors.m_classes[0].color);
    const QColor second = kv::ToQColor(map->m_colors.m_classes[1].color);
    EXPECT_GT(kvtest::ColourShare(classified, first) + kvtest::ColourShare(classified, second), 0.9);

    dialog->m_btnCancel.click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(map->m_colors.m_classes.empty());
    EXPECT_EQ(map->m_colors.m_colorCount, before.m_colorCount);
    EXPECT_EQ(map->m_colors.m_paletteIndex, before.m_paletteIndex);
}

TEST_F(ColorClassificationTest, ADrawnAreaIsClassifiedInsideAndTheMapComesBackWholeWhenHidden) {
    const double* gt = map->m_geoTransform;
    const int w = GDALGetRasterXSize(map->m_pDataset), h = GDALGetRasterYSize(map->m_pDataset);
    // The middle of the map, a quarter of its width and height each way from the centre.
    const double x0 = gt[0] + gt[1] * w / 4, x1 = gt[0] + gt[1] * w * 3 / 4;
    const double y0 = gt[3] + gt[5] * h / 4, y1 = gt[3] + gt[5] * h * 3 / 4;
    ui.AnswerModal(101);
    CadScriptPushPoint(d, x0, y0, 0);
    CadScriptPushPoint(d, x1, y0, 0);
    CadScriptPushPoint(d, x1, y1, 0);
    CadScriptPushPoint(d, x0, y1, 0);
    CadScriptPushFinish(d);
    CmdColorClassification(d);
    ASSERT_EQ(dialog->Map(), map);
    ASSERT_EQ(map->m_linkedEntities.size(), 1u);
    EXPECT_EQ(CadPlineGetNumVers(map->m_linkedEntities.front()), 4);
    EXPECT_TRUE(CadPlineGetClosed(map->m_linkedEntities.front()));

    // Five ranges, for the pictures.
    const int W = dialog->m_List.Model().Width();
    for (int x : {W / 5, 2 * W / 5, 4 * W / 5}) {
        const QPoint at(x, 5);
        dialog->m_List.AddRange(&at);
    }
    ASSERT_EQ(map->m_colors.m_classes.size(), 5u);
    dialog->resize(700, dialog->height());
    const QImage shot = kvtest::Screenshot(dialog, QStringLiteral("CColorClassificationDlg"));
    EXPECT_EQ(dialog->height(), CColorClassificationDlg::kHeight);
    EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(&dialog->m_List, dialog)), 4);

    const QImage inside = Render(map);
    inside.save(QStringLiteral(KV_SCREENSHOT_DIR "/ColorClassification_map.png"));
    const int H = 200 * h / w;
    EXPECT_NE(inside.pixel(100, H / 2), kBackground);
    EXPECT_EQ(inside.pixel(20, H / 2), kBackground);
    EXPECT_EQ(inside.pixel(100, 5), kBackground);
    double classShare = 0.0;
    for (const ColorClassEntry& e : map->m_colors.m_classes) {
        classShare += kvtest::ColourShare(inside, kv::ToQColor(e.color), QRect(60, H / 2 - 20, 80, 40));
    }
    EXPECT_GT(classShare, 0.95);

    dialog->m_btnOK.click();
    EXPECT_TRUE(map->m_linkedEntities.empty());
    const QImage whole = Render(map);
    EXPECT_NE(whole.pixel(20, H / 2), kBackground);
    EXPECT_NE(whole.pixel(100, 5), kBackground);
}

TEST_F(ColorClassificationTest, PickingAnotherMapGivesTheFirstItsPaletteAndAreaBack) {
    CMapData* second = AddMap(ndvi, "ndvi copy", MapTypeNDVI);
    ASSERT_NE(second, nullptr);
    CadClearVertices();
    const double* gt = map->m_geoTransform;
    for (auto [c, r] : {std::pair{10, 10}, {60, 10}, {60, 60}}) {
        CadAddVertex(gt[0] + gt[1] * c, gt[3] + gt[5] * r, 0);
    }
    CadEntity* area = CadAddPolyline(d, 0, 1);
    CadEntity* point = CadAddPoint(d, gt[0], gt[3], 0);
    const CAGColors before = map->m_colors;

    CadScriptPushEntity(d, point);
    CadScriptPushEntity(d, map->m_imageEntity);
    ui.AnswerModal(100);
    CadScriptPushEntity(d, area);
    CmdColorClassification(d);
    ASSERT_EQ(dialog->Map(), map);
    EXPECT_EQ(map->m_linkedEntities, CadEntityList{area});
    const QStringList history = History(d);
    EXPECT_TRUE(history.join('\n').contains("Invalid Map")) << history.join('|').toStdString();
    EXPECT_FALSE(map->m_colors.m_classes.empty());

    CadScriptPushEntity(d, second->m_imageEntity);
    ui.AnswerModal(102);
    CmdColorClassification(d);
    EXPECT_EQ(dialog->Map(), second);
    EXPECT_TRUE(map->m_colors.m_classes.empty());
    EXPECT_EQ(map->m_colors.m_colorCount, before.m_colorCount);
    EXPECT_TRUE(map->m_linkedEntities.empty());
    EXPECT_EQ(second->m_colors.m_classes.size(), 2u);

    // Removing the bound map hides the dialog and unbinds it.
    doc.RemoveMap("ndvi copy");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->Map(), nullptr);

    // No map at all.
    doc.RemoveMap("ndvi");
    CmdColorClassification(d);
    char prompt[256] = {};
    CadCmdGetPrompt(d, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "No Data Map loaded");
}

TEST_F(ColorClassificationTest, TheListsMenuAndMouseDriveTheMapsClasses) {
    ClassifyWhole();
    CHeaderColorListCtrl& list = dialog->m_List;
    const int W = list.Model().Width();
    // "Add threshold by value" asks for the value; a text that holds no number adds nothing.
    ui.AnswerModal([](QDialog& d) {
        auto& input = static_cast<CInputValueDlg&>(d);
        EXPECT_EQ(input.windowTitle(), "Insert trashold value");
        input.m_Edit.setText("abc");
        input.m_btnOK.click();
        return -1;
    });
    ui.AnswerModal([&](QDialog& d) {
        auto& input = static_cast<CInputValueDlg&>(d);
        input.m_Edit.setText(QString::number(list.Model().PixelToValue(3 * W / 4), 'g', 17));
        input.m_btnOK.click();
        return -1;
    });
    list.ContextMenuAt(QPoint(10, 5));
    list.OnContextCommand(ColorRangeModel::ID_ADD_THRESHOLD);
    EXPECT_EQ(list.Model().Count(), 2);
    list.OnContextCommand(ColorRangeModel::ID_ADD_THRESHOLD);
    ASSERT_EQ(list.Model().Count(), 3);
    EXPECT_EQ(list.Model().LeftEdge(2), 3 * W / 4);

    // The colour dialog recolours the range under the menu.
    ui.AnswerModal([](QDialog& d) {
        static_cast<QColorDialog&>(d).setCurrentColor(QColor(1, 2, 3));
        return int(QDialog::Accepted);
    });
    list.ContextMenuAt(QPoint(3 * W / 4 + 2, 5));
    list.OnContextCommand(ColorRangeModel::ID_CHANGE_COLOR);
    EXPECT_EQ(map->m_colors.m_classes[2].color, kv::Rgb(1, 2, 3));

    // Holding the left button on a range shows it alone; the release shows all again.
    list.OnLeftButtonDown(QPoint(W / 4, 5));
    EXPECT_TRUE(list.IsPressed());
    EXPECT_EQ(map->m_colors.m_classes[0].visible, 1);
    EXPECT_EQ(map->m_colors.m_classes[1].visible, 0);
    EXPECT_EQ(map->m_colors.m_classes[2].visible, 0);
    list.OnLeftButtonUp();
    for (const ColorClassEntry& e : map->m_colors.m_classes) {
        EXPECT_EQ(e.visible, 1);
    }
    // Remove the range under the menu: the others share the width.
    list.ContextMenuAt(QPoint(W / 4, 5));
    list.OnContextCommand(ColorRangeModel::ID_REMOVE_RANGE);
    EXPECT_EQ(list.Model().Count(), 2);
    EXPECT_EQ(map->m_colors.m_classes.size(), 2u);
    EXPECT_EQ(list.Header()->count(), 2);
}

TEST_F(ColorClassificationTest, ClassificationFilesRoundTripAndOnlyLoadsAreRemembered) {
    ClassifyWhole();
    const QPoint at(dialog->m_List.Model().Width() / 3, 5);
    dialog->m_List.AddRange(&at);
    const std::vector<ColorClassEntry> saved = map->m_colors.m_classes;
    ASSERT_EQ(saved.size(), 3u);
    const QString file = folder + "/three.ccl";
    ASSERT_EQ(dialog->SaveClassification(file), 1);
    EXPECT_EQ(ZQT_GetUserProfileString("MapClassification", "LastOpened", ""), "");

    dialog->m_List.RemoveRange(0, true);
    ASSERT_EQ(map->m_colors.m_classes.size(), 2u);
    ui.AnswerFile(file);
    ASSERT_EQ(dialog->LoadClassification(), 1);
    EXPECT_EQ(map->m_colors.m_classes, saved);
    EXPECT_EQ(dialog->m_List.Model().Count(), 3);
    EXPECT_EQ(ZQT_GetUserProfileString("MapClassification", "LastOpened", ""), file);

    // Binding again loads the file opened last.
    dialog->m_btnCancel.click();
    ClassifyWhole();
    EXPECT_EQ(map->m_colors.m_classes, saved);

    // A file made for another type of map is refused; the two ranges stay.
    const QString other = folder + "/slope.ccl";
    map->m_mapType = MapTypeSlope;
    ASSERT_EQ(dialog->SaveClassification(other), 1);
    map->m_mapType = MapTypeNDVI;
    ZQT_WriteUserProfileString("MapClassification", "LastOpened", other);
    dialog->m_btnCancel.click();
    ui.Clear();
    ClassifyWhole();
    EXPECT_EQ(dialog->m_List.Model().Count(), 2);
    EXPECT_EQ(map->m_colors.m_classes.size(), 2u);

    // A save without a name.
    ui.Clear();
    ui.AnswerFile(folder + "/.ccl");
    EXPECT_EQ(dialog->SaveClassification(), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Insert a name"});
}

TEST_F(ColorClassificationTest, TheExportCountsMatchAnIndependentCountAndAbortKeepsThePair) {
    ClassifyWhole();
    const int W = dialog->m_List.Model().Width();
    for (int x : {W / 5, 2 * W / 5, 4 * W / 5}) {
        const QPoint at(x, 5);
        dialog->m_List.AddRange(&at);
    }
    ASSERT_EQ(map->m_colors.m_classes.size(), 5u);
    std::vector<double> t;
    for (const ColorClassEntry& e : map->m_colors.m_classes) {
        t.push_back(e.lowerLimit);
    }
    dialog->m_btnExport.click();
    const QString pdf = folder + "/ndvi.pdf", jpg = folder + "/ndvi.jpg";
    ASSERT_TRUE(QFile::exists(pdf));
    ASSERT_TRUE(QFile::exists(jpg));
    EXPECT_EQ(opened.files, QStringList{pdf});
    // The command line says where the report lies.
    char prompt[1024] = {};
    CadCmdGetPrompt(d, prompt, sizeof prompt);
    EXPECT_EQ(QString::fromUtf8(prompt), "Results are located in: " + pdf);

    int64_t counts[5] = {};
    int64_t n = 0;
    for (double v : Values()) {
        if (v == -9999.0 || std::isnan(v)) {
            continue;
        }
        int k = 0;
        while (k < 4 && v > t[size_t(k) + 1]) {
            ++k;
        }
        ++counts[k];
        ++n;
    }
    const double cell = map->m_geoTransform[1] * map->m_geoTransform[1];
    const QString text = PdfText(pdf);
    EXPECT_TRUE(text.contains("Report of: ndvi")) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::asprintf("Total Area [m^2]: %.3lf", cell * double(n))));
    for (int k = 0; k < 5; ++k) {
        const QString label = k < 4 ? QString::asprintf("Area with NDVI index under %.3lf", t[size_t(k) + 1])
                                    : QString::asprintf("Area with NDVI index over %.3lf", t[4]);
        EXPECT_TRUE(text.contains(label + QString::asprintf(" %.3lf (%.2lf%%)", cell * double(counts[k]),
                                                            double(counts[k]) * 100.0 / double(n))))
            << label.toStdString();
    }
    EXPECT_TRUE(text.contains("Mean NDVI index:"));
    EXPECT_TRUE(text.contains(pdf));
    EXPECT_TRUE(QDir(kv::ReportScratchFolder()).entryList({"color*.jpg"}, QDir::Files).isEmpty());

    // A rerun with other colours replaces the picture; an aborted one keeps the pair.
    const QByteArray firstPicture = Bytes(jpg);
    const COLORREF blue = 0xFF0000;
    dialog->m_List.SetRangeColor(2, &blue);
    dialog->m_btnExport.click();
    const QByteArray secondPicture = Bytes(jpg), secondReport = Bytes(pdf);
    EXPECT_NE(secondPicture, firstPicture);
    AbortingProgress aborting;
    aborting.Create();
    EXPECT_EQ(ExportClassification(map, ExportClassesOf(*map, {}), aborting), ExportResult::Aborted);
    EXPECT_EQ(Bytes(jpg), secondPicture);
    EXPECT_EQ(Bytes(pdf), secondReport);
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter("kvsave").isEmpty());
}

TEST_F(ColorClassificationTest, ThresholdValuesFallInTheClassBelowAndOneClassHoldsEverything) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    CMapData* grid = GridMap("grid", {-1, 1, 1.5f, 2, 5, -9999, nan, 1.9f}, 4);
    ASSERT_NE(grid, nullptr);
    CAbortSingleProgressDlg progress;
    progress.Create();
    const std::vector<ExportClass> three = {{0.0, 0x0000FF}, {1.0, 0x00FF00}, {2.0, 0xFF0000}};
    ASSERT_EQ(ExportClassification(grid, three, progress), ExportResult::Written);
    QString text = PdfText(folder + "/grid.pdf");
    EXPECT_TRUE(text.contains("Total Area [m^2]: 6.000")) << text.toStdString();
    EXPECT_TRUE(text.contains("Area with NDVI index under 1.000 2.000 (33.33%)"));
    EXPECT_TRUE(text.contains("Area with NDVI index under 2.000 3.000 (50.00%)"));
    EXPECT_TRUE(text.contains("Area with NDVI index over 2.000 1.000 (16.67%)"));

    ASSERT_EQ(ExportClassification(grid, {{0.0, 0x00FF00}}, progress), ExportResult::Written);
    text = PdfText(folder + "/grid.pdf");
    EXPECT_FALSE(text.contains("under"));
    EXPECT_TRUE(text.contains("Area with NDVI index over 0.000 6.000 (100.00%)")) << text.toStdString();

    // A square picture under five classes, which as wide as the page would run past its foot,
    // stays on the page: its foot is white paper.
    std::vector<float> ramp(100);
    for (int i = 0; i < 100; ++i) {
        ramp[size_t(i)] = float(i) / 100.0f;
    }
    CMapData* square = GridMap("square", ramp, 10);
    ASSERT_NE(square, nullptr);
    std::vector<ExportClass> five;
    for (int k = 0; k < 5; ++k) {
        five.push_back({0.2 * k, k % 2 ? COLORREF(0x0000FF) : COLORREF(0xFF0000)});
    }
    ASSERT_EQ(ExportClassification(square, five, progress), ExportResult::Written);
    const QImage shown = kvtest::PdfPage(folder + "/square.pdf", "ColorClassification_report_page");
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(kvtest::ColourShare(shown, Qt::white, QRect(0, shown.height() - 15, shown.width(), 15)), 1.0);
    EXPECT_LT(kvtest::ColourShare(shown, Qt::white, QRect(0, shown.height() - 50, shown.width(), 20)), 0.5);
}

TEST_F(ColorClassificationTest, TheHistogramCountsEveryClassFromTheMinimum) {
    // A slope-like map: cells flat at the minimum 0, and a row of no data and NaN.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    CMapData* slope =
        GridMap("slope", {0, 0, 0, 0, 1, 2, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, nan, -9999, nan, -9999}, 4);
    ASSERT_NE(slope, nullptr);
    CadScriptPushEntity(d, slope->m_imageEntity);
    ui.AnswerModal(102);
    CmdColorClassification(d);
    ASSERT_EQ(dialog->Map(), slope);
    EXPECT_EQ(dialog->m_editMin.text(), "0.000000");
    ASSERT_EQ(slope->m_colors.m_classes.size(), 2u);
    slope->m_colors.m_classes[0].upperLimit = slope->m_colors.m_classes[1].lowerLimit = 2.0f;

    ui.AnswerFile(folder + "/histogram.bmp");
    ui.AnswerModal([&](QDialog& d) {
        auto& histogram = static_cast<CHistogramsDlg&>(d);
        EXPECT_GE(histogram.minimumWidth(), CHistogramsDlg::kMinWidth);
        EXPECT_GE(histogram.minimumHeight(), CHistogramsDlg::kMinHeight);
        const std::vector<BAR_DATA>& bars = histogram.m_Graph.Bars();
        EXPECT_EQ(bars.size(), 2u);
        if (bars.size() == 2) {
            EXPECT_EQ(bars[0].value, 60);  // 6 * 100 / 10
            EXPECT_EQ(bars[1].value, 100);
            EXPECT_EQ(bars[0].label, "6 [0.00,2.00]");
            EXPECT_EQ(bars[1].label, "10 [2.00,4.00]");
        }
        histogram.m_cmbDecimals.setCurrentIndex(0);
        EXPECT_EQ(histogram.m_Graph.Bars()[0].label, "6 [0,2]");
        histogram.m_chkClasses.click();
        EXPECT_EQ(histogram.m_Graph.Bars()[1].label, "10");
        kvtest::Screenshot(&histogram, QStringLiteral("CHistogramsDlg"));
        histogram.m_btnSave.click();
        EXPECT_TRUE(ui.MessageTexts().isEmpty());
        // A picture that cannot be written is said, not passed over.
        ui.AnswerFile(folder + "/missing/histogram.bmp");
        histogram.m_btnSave.click();
        EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to save image!"});
        return IDOK;
    });
    dialog->m_btnHistogram.click();
    EXPECT_FALSE(QImage(folder + "/histogram.bmp").isNull());
    EXPECT_FALSE(QFile::exists(folder + "/missing/histogram.bmp"));

    // A map of no data only leaves the graph empty.
    slope->m_colors.m_classes = {{1.0f, 0.0f, 0xFF, 1, {}, {}}};
    CMapData* empty = GridMap("empty", std::vector<float>(8, -9999.0f), 4);
    ASSERT_NE(empty, nullptr);
    empty->m_colors = slope->m_colors;
    CHistogramsDlg histogram(empty);
    histogram.FillHistogram(true, 2);
    EXPECT_TRUE(histogram.m_Graph.Bars().empty());
}

TEST_F(ColorClassificationTest, MapRepresentationCountsPalettesCancelAndRestore) {
    ClassifyWhole();
    const std::vector<ColorClassEntry> classes = map->m_colors.m_classes;
    CmdMapRepresentation(d);
    CMapRepresentationDlg* rep = MapRepresentationWindow(doc);
    ASSERT_EQ(rep->Map(), map);
    const double savedMin = *map->m_pRangeMin, savedMax = *map->m_pRangeMax;
    EXPECT_TRUE(rep->isVisible());
    EXPECT_TRUE(map->m_colors.m_classes.empty());
    kvtest::Screenshot(rep, QStringLiteral("CMapRepresentationDlg"));

    for (auto [typed, used] : {std::pair{"0", 1}, {"1", 1}, {"-5", 1}, {"300", 255}, {"7", 7}}) {
        rep->m_editCount.setText(typed);
        rep->m_btnApplyCount.click();
        EXPECT_EQ(rep->m_editCount.text(), QString::number(used));
        if (used > 1) {
            EXPECT_EQ(map->m_colors.m_colorCount, used);
        }
    }
    // Revert and Invert toggle; a palette chosen afterwards clears both.
    const bool reverted = map->m_colors.m_bRevert;
    rep->m_btnRevert.click();
    rep->m_btnInvert.click();
    EXPECT_NE(map->m_colors.m_bRevert, reverted);
    EXPECT_TRUE(map->m_colors.m_bInvert);
    if (!map->m_colors.m_bRevert) {
        rep->m_btnRevert.click();
    }
    ASSERT_TRUE(map->m_colors.m_bRevert);
    rep->m_cmbPalette.setCurrentIndex(rep->m_cmbPalette.findText("Rainbow"));
    rep->OnCbnSelchangePalette();
    EXPECT_EQ(map->m_colors.m_paletteIndex, 21);
    EXPECT_FALSE(map->m_colors.m_bRevert);
    EXPECT_FALSE(map->m_colors.m_bInvert);

    rep->m_editRangeMin.setText("0.5");
    rep->m_editRangeMax.setText("0.2");
    rep->m_btnApplyRange.click();
    rep->m_editRangeMin.setText("abc");
    rep->m_btnApplyRange.click();
    // An unbounded end would stretch the colours over nothing: refused like a reversed range.
    rep->m_editRangeMin.setText("-inf");
    rep->m_editRangeMax.setText("0.2");
    rep->m_btnApplyRange.click();
    EXPECT_EQ(ui.MessageTexts(),
              QStringList({"min range value must be lower than max", "min range value must be lower than max",
                           "min range value must be lower than max"}));
    EXPECT_EQ(*map->m_pRangeMin, savedMin);
    rep->m_editRangeMin.setText("-0.25");
    rep->m_editRangeMax.setText("0.75");
    rep->m_btnApplyRange.click();
    EXPECT_EQ(*map->m_pRangeMin, -0.25);

    // Cancel: the classes come back, the new range stays.
    rep->m_btnCancel.click();
    EXPECT_FALSE(rep->isVisible());
    EXPECT_EQ(map->m_colors.m_classes, classes);
    EXPECT_EQ(*map->m_pRangeMax, 0.75);
    // Restore puts the saved range back.
    rep->m_btnRestore.click();
    EXPECT_EQ(*map->m_pRangeMin, savedMin);
    EXPECT_EQ(*map->m_pRangeMax, savedMax);
    EXPECT_EQ(rep->m_editRangeMin.text(), QString::asprintf("%lf", savedMin));

    // Removing the bound map hides the dialog and unbinds it.
    CmdMapRepresentation(d);
    ASSERT_TRUE(rep->isVisible());
    doc.RemoveMap("ndvi");
    EXPECT_FALSE(rep->isVisible());
    EXPECT_EQ(rep->Map(), nullptr);
}

TEST_F(ColorClassificationTest, MapRepresentationBindsTheOnlyDemWithoutAsking) {
    doc.RemoveMap("ndvi");
    CmdMapRepresentation(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"No map loaded!"});
    ASSERT_EQ(doc.AddDEM(ptest::OlindaDtm(folder), 0), 1);
    CDEM* dem = doc.m_DEMs.begin()->second;
    CmdMapRepresentation(d);
    CMapRepresentationDlg* rep = MapRepresentationWindow(doc);
    EXPECT_EQ(rep->Dem(), dem);
    EXPECT_EQ(rep->Map(), nullptr);
    EXPECT_FALSE(History(d).join('\n').contains("Select Map"));
    EXPECT_EQ(doc.m_MapLayerInfo.mapType, MapTypeDem);
    rep->m_editRangeMin.setText("5");
    rep->m_editRangeMax.setText("50");
    rep->m_btnApplyRange.click();
    EXPECT_EQ(dem->m_colorRangeMin, 5.0);
    EXPECT_EQ(dem->m_colorRangeMax, 50.0);
}
