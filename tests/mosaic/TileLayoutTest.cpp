// The tile layout as the operator makes it: the setup dialog's grid over the rasters with its field
// checks, preview, OK and Pick; tiles imported from drawings and shapefiles; Remove All Tiles.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>
#include <ogr_api.h>

#include <map>
#include <memory>
#include <set>

#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "mosaic/MosaicCommands.h"
#include "mosaic/ShapeFileFieldsDlg.h"
#include "mosaic/TileLayout.h"
#include "mosaic/TilesGenerationDlg.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CommandIds.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

CPgon Box(double x0, double y0, double x1, double y1) {
    const Wml::Point2 corners[4] = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    return CPgon(corners, 4);
}

// An orthophoto of three bands with its top-left corner at (x, y) and cells of 0.5.
QString WriteOrtho(const QString& path, double x, double y, int width, int height) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), width,
                                 height, 3, GDT_Byte, nullptr);
    double gt[6] = {x, 0.5, 0, y, 0, -0.5};
    GDALSetGeoTransform(ds, gt);
    for (int b = 1; b <= 3; ++b) {
        GDALFillRaster(GDALGetRasterBand(ds, b), 40.0 * b, 0.0);
    }
    GDALClose(ds);
    return path;
}

// The tiles of a layer by name: outline vertices and label point.
struct Tile {
    std::vector<Wml::Point2> outline;
    Wml::Point2 label;
    int colour = 0;
};
std::map<std::string, Tile> TilesOn(CadDrawing* drawing, const char* layerName) {
    std::map<std::string, Tile> tiles;
    CadLayer* layer = CadGetLayerByName(drawing, layerName);
    for (CadEntity* e = layer ? CadLayerGetFirstEntity(layer) : nullptr; e;
         e = CadLayerGetNextEntity(layer, e)) {
        const std::string name = TileNameOf(e);
        if (name.empty()) {
            continue;
        }
        EXPECT_EQ(CadEntityGetExData(e, nullptr, 0), kTileNameSize);
        CadEntity* other = CadGetEntityByID(drawing, CadEntityGetUserData(e));
        EXPECT_EQ(CadEntityGetUserData(other), CadEntityGetID(e));
        Tile& tile = tiles[name];
        tile.colour = CadEntityGetColor(e);
        double x = 0, y = 0, z = 0;
        if (CadEntityGetType(e) == CAD_ENT_TEXT) {
            CadTextGetPoint(e, &x, &y, &z);
            tile.label = Wml::Point2(x, y);
            EXPECT_EQ(CadTextGetAlign(e), CAD_TA_CENTER_MIDDLE);
            EXPECT_EQ(CadTextGetHeight(e), 3.0);
        } else {
            for (int v = 0; v < CadPlineGetNumVers(e); ++v) {
                CadPlineGetVer(e, v, &x, &y, &z);
                tile.outline.emplace_back(x, y);
            }
        }
    }
    return tiles;
}

// A DXF drawing written by the converter with a closed 10 × 8 polyline on each layer, the i-th
// (from 0) starting at x = 20 (i + 1), its vertices at height z.
bool WriteTileDrawing(const QString& dxf, const std::vector<std::string>& layers, double z) {
    CadDrawing* source = CadCreate();
    for (size_t i = 0; i < layers.size(); ++i) {
        CadLayer* layer = CadAddLayer(source, layers[i].c_str(), 1, CAD_LTYPE_CONTINUOUS, -3);
        CadClearVertices();
        for (const Wml::Point2& p : std::vector<Wml::Point2>{{0, 0}, {10, 0}, {10, 8}, {0, 8}}) {
            CadAddVertex(p.X() + 20.0 * double(i + 1), p.Y(), z);
        }
        CadEntityPutLayerID(CadAddPolyline(source, 0, 1), CadLayerGetID(layer));
    }
    CadClearVertices();
    const QString vec = dxf + ".vec";
    const bool saved = CadFileSaveAs(source, 0, QFile::encodeName(vec).constData());
    CadDelete(source);
    return saved && RunDrawingConverter(vec, dxf, "Export");
}

class TileLayout : public ::testing::Test {
protected:
    void SetUp() override {
        GDALAllRegister();
        GetCommandRegistry().Reset();
        GetDocumentProcedures().Reset();
        RegisterMosaicCommands(GetCommandRegistry(), GetDocumentProcedures());
        CadScriptSetStrict(1);
        ActiveCadCommandId = 0;
        folder = kvtest::NewTempFolder(
            QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        for (const char* key : {"Picking", "MinX", "MinY", "OverlapX", "OverlapY", "Width", "Height"}) {
            ZQT_WriteUserProfileString("Tile", key, "");
        }
        ZQT_WriteUserProfileString("Tiles", "SHPField", "");
        doc = std::make_unique<CKelvaroDoc>();
        d = doc->m_pCad;
    }
    void TearDown() override {
        doc.reset();
        CadScriptSetStrict(0);
        SetDrawingConverterProgram(QString());
        GetDocumentProcedures().Reset();
    }

    // Runs the setup with one script per opening of the dialog.
    void SetUpTiles(std::vector<std::function<void(CTilesGenerationDlg&)>> openings) {
        for (auto& opening : openings) {
            ui.AnswerModal([opening](QDialog& dialog) {
                opening(static_cast<CTilesGenerationDlg&>(dialog));
                return dialog.isVisible() ? IDCANCEL : -1;
            });
        }
        ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_SETUPTILES));
    }

    // Imports the shapefile choosing the field; the result of the import.
    int ImportShapefile(const QString& path, const QString& field) {
        ui.AnswerModal([field](QDialog& dialog) {
            auto& fields = static_cast<CShapeFileFieldsDlg&>(dialog);
            fields.m_comboFields.setCurrentIndex(fields.m_comboFields.findText(field));
            fields.m_btnOK.click();
            return -1;
        });
        return ImportTilesFromShapefile(*doc, path);
    }

    kvtest::ScriptedInteraction ui;
    QString folder;
    std::unique_ptr<CKelvaroDoc> doc;
    CadDrawing* d = nullptr;
};

}  // namespace

TEST_F(TileLayout, TheGridCoversTheRastersFromItsOriginAndKeepsSkippedPositionsNumbers) {
    // x from 10.7 to 29.2 from origin 10 with tiles of 5: columns while x < 30.
    const CPgon footprint = Box(10.7, 0.3, 29.2, 9.8);
    std::vector<GridTile> grid = LayTileGrid(footprint, {10, 0, 5, 5, 0, 0});
    ASSERT_EQ(grid.size(), 8u);
    EXPECT_EQ(grid[3].name, "T-00-03");
    EXPECT_EQ(grid[3].x, 25.0);
    EXPECT_EQ(grid[7].name, "T-01-03");
    EXPECT_EQ(grid[7].y, 5.0);
    // Overlap 24.5 of 100 steps by 75.5.
    grid = LayTileGrid(Box(0, 0, 200, 50), {0, 0, 100, 100, 24.5, 0});
    ASSERT_EQ(grid.size(), 3u);
    EXPECT_EQ(grid[1].x, 75.5);
    EXPECT_EQ(grid[2].x, 151.0);
    // A position that only touches the footprint makes no tile and keeps its number.
    grid = LayTileGrid(Box(0, 0, 10, 10) | Box(20, 0, 30, 10), {0, 0, 10, 10, 0, 0});
    std::vector<std::string> names;
    for (const GridTile& tile : grid) {
        names.push_back(tile.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"T-00-00", "T-00-02"}));
}

TEST_F(TileLayout, TheSetupDialogChecksItsFieldsPreviewsAndReplacesTheLayoutWithTheLastPreview) {
    ASSERT_EQ(doc->AddOrtho(WriteOrtho(folder + "/ortho.tif", 10.7, 9.8, 37, 19), 0, 0), 1);
    // An older layout and a line without a name on "Tiles".
    CadLayer* tiles = GetTileLayer(d, kTilesLayer);
    AddTile(d, tiles, "old", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, 4);

    QStringList refusals;
    SetUpTiles({[&](CTilesGenerationDlg& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Tiles Setup");
        EXPECT_EQ(dialog.m_editOriginX.text(), "10.0");
        EXPECT_EQ(dialog.m_editOriginY.text(), "0.0");
        EXPECT_EQ(dialog.m_editWidth.text(), "1000.000");
        EXPECT_EQ(dialog.m_editOverlapX.text(), "0.000");
        EXPECT_TRUE(CadLayerGetLock(CadGetLayerByName(d, kTilesLayer)));
        EXPECT_TRUE(CadLayerGetLock(CadGetLayerByName(d, kTempTilesLayer)));
        const QImage shot = kvtest::Screenshot(&dialog, "CTilesGenerationDlg");
        EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(&dialog.m_btnPreview, &dialog)), 3);
        EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(&dialog.m_btnPick, &dialog)), 3);

        // OK before any preview; then each field's refusal, nothing drawn meanwhile.
        dialog.m_btnOK.click();
        const struct {
            QLineEdit* field;
            const char* text;
        } wrong[] = {
            {&dialog.m_editOriginX, "30"},
            {&dialog.m_editOriginY, "abc"},
            {&dialog.m_editWidth, "-1234567890"},
            {&dialog.m_editWidth, "0"},
            {&dialog.m_editHeight, "-5"},
            {&dialog.m_editOverlapX, "250"},
            {&dialog.m_editOverlapY, "-1234567890"},
        };
        dialog.m_editWidth.setText("5");
        dialog.m_editHeight.setText("5");
        for (const auto& field : wrong) {
            const QString kept = field.field->text();
            field.field->setText(field.text);
            dialog.m_btnPreview.click();
            field.field->setText(kept);
        }
        EXPECT_TRUE(dialog.m_previewHandles.empty());
        // One unit below the limit passes, and so does a negative overlap (gaps between tiles).
        dialog.m_editOriginX.setText("29");
        dialog.m_editOverlapX.setText("-1");
        dialog.m_btnPreview.click();
        EXPECT_EQ(dialog.m_previewHandles.size(), 4u);
        dialog.m_editOriginX.setText("10");
        dialog.m_editOverlapX.setText("0");
        dialog.m_btnPreview.click();
        EXPECT_EQ(dialog.m_previewHandles.size(), 16u);
        refusals = ui.MessageTexts();
        // A second preview replaces the first; OK after changing the width stores the width but
        // keeps the tiles of the preview.
        dialog.m_btnPreview.click();
        EXPECT_EQ(dialog.m_previewHandles.size(), 16u);
        dialog.m_editWidth.setText("7");
        dialog.m_btnOK.click();
        EXPECT_FALSE(dialog.isVisible());
    }});
    EXPECT_EQ(refusals,
              QStringList({"No tiles to add!", "Invalid Min X value!", "Invalid Min Y value!",
                           "Invalid Size X value!", "Invalid Size X value!", "Invalid Size Y value!",
                           "Invalid Overlap X value!", "Invalid Overlap Y value!"}));
    EXPECT_EQ(ZQT_GetUserProfileString("Tile", "Width", ""), "7");
    EXPECT_EQ(ZQT_GetUserProfileString("Tile", "OverlapY", ""), "0.000");

    const std::map<std::string, Tile> layout = TilesOn(d, kTilesLayer);
    ASSERT_EQ(layout.size(), 8u);
    EXPECT_EQ(layout.count("old"), 0u);
    const Tile& corner = layout.at("T-01-03");
    EXPECT_EQ(corner.colour, kTileColour);
    EXPECT_EQ(corner.outline, (std::vector<Wml::Point2>{{25, 5}, {30, 5}, {30, 10}, {25, 10}}));
    EXPECT_EQ(corner.label, Wml::Point2(27.5, 7.5));
    EXPECT_TRUE(TilesOn(d, kTempTilesLayer).empty());
    EXPECT_TRUE(CadLayerGetVisible(tiles));
    EXPECT_FALSE(CadLayerGetLock(tiles));

    // Pick: the fields are kept as typed, the picked point becomes the origin at the reopening;
    // Cancel takes the new preview away.
    CadScriptPushPoint(d, 12.34, 1.26, 0);
    SetUpTiles({[](CTilesGenerationDlg& dialog) {
                    dialog.m_editHeight.setText("4");
                    dialog.m_btnPreview.click();
                    dialog.m_btnPick.click();
                },
                [](CTilesGenerationDlg& dialog) {
                    EXPECT_EQ(dialog.m_editOriginX.text(), "12.3");
                    EXPECT_EQ(dialog.m_editOriginY.text(), "1.3");
                    EXPECT_EQ(dialog.m_editHeight.text(), "4.000");
                    EXPECT_FALSE(dialog.m_previewHandles.empty());
                    dialog.m_btnCancel.click();
                }});
    EXPECT_TRUE(TilesOn(d, kTempTilesLayer).empty());
    EXPECT_EQ(TilesOn(d, kTilesLayer).size(), 8u);
    EXPECT_EQ(ZQT_GetUserProfileString("Tile", "Picking", ""), "0");

    // Without rasters the dialog closes silently.
    doc->RemoveAllOrthos();
    ui.Clear();
    SetUpTiles({[](CTilesGenerationDlg& dialog) { EXPECT_FALSE(dialog.isVisible()); }});
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
}

TEST_F(TileLayout, TilesComeFromDrawingLayersAndShapefileFeaturesAndRemoveAllKeepsUnnamedEntities) {
    SetDrawingConverterProgram(QStringLiteral(KV_KONVERTEL_EXE));
    // Lines only: nothing to take, and still a run.
    EXPECT_EQ(ImportTilesFromDrawing(*doc, kvtest::DataPath("example007.dxf")), 1);
    EXPECT_TRUE(TilesOn(d, kTilesLayer).empty());
    EXPECT_EQ(ImportTilesFromDrawing(*doc, folder + "/missing.dxf"), 0);
    EXPECT_EQ(ui.MessageTexts(),
              QStringList({"Unable to import this file.\nAutocad 2000 dwg/dxf supported"}));
    // A shapefile that cannot be opened (random bytes) is told and imports nothing.
    ui.Clear();
    EXPECT_EQ(ImportTilesFromShapefile(*doc, kvtest::DataPath("unreadable_tiles.shp")), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Unable to open selected file!"}));
    EXPECT_TRUE(TilesOn(d, kTilesLayer).empty());

    // A drawing with closed polylines on "T1" and "T2", written to DXF by the converter.
    ASSERT_TRUE(WriteTileDrawing(folder + "/tiles.dxf", {"T1", "T2"}, 2.5));
    ui.AnswerFile(folder + "/tiles.dxf");
    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_IMPORTTILES));
    EXPECT_EQ(ui.PendingFileAnswers(), 0);
    std::map<std::string, Tile> tiles = TilesOn(d, kTilesLayer);
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles.at("t2").label, Wml::Point2(45, 4));
    EXPECT_EQ(tiles.at("t1").colour, kPreviewTileColour);
    // Again: every layer name is taken already.
    EXPECT_EQ(ImportTilesFromDrawing(*doc, folder + "/tiles.dxf"), 1);
    EXPECT_EQ(TilesOn(d, kTilesLayer).size(), 2u);

    // Remove All Tiles erases the named entities and keeps the others.
    CadEntity* line = CadAddLine(d, 0, 0, 0, 5, 5, 0);
    CadEntityPutLayerID(line, CadLayerGetID(CadGetLayerByName(d, kTilesLayer)));
    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_REMOVEALLTILES));
    EXPECT_TRUE(TilesOn(d, kTilesLayer).empty());
    EXPECT_FALSE(CadEntityGetDeleted(line));

    // The Olinda neighbourhoods: 470 polygons, named by code or by neighbourhood.
    const QString olinda = kvtest::DataPath("olinda1.shp");
    EXPECT_EQ(ImportShapefile(olinda, "CD_GEOCODI"), 1);
    EXPECT_EQ(TilesOn(d, kTilesLayer).size(), 470u);
    int entities = 0;
    CadLayer* layer = CadGetLayerByName(d, kTilesLayer);
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
        entities += CadEntityGetExData(e, nullptr, 0) > 0 ? 1 : 0;
    }
    EXPECT_EQ(entities, 940);
    EXPECT_EQ(ZQT_GetUserProfileString("Tiles", "SHPField", ""), "CD_GEOCODI");
    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_REMOVEALLTILES));
    EXPECT_EQ(ImportShapefile(olinda, "NM_BAIR"), 1);
    entities = 0;
    std::map<std::string, int> perName;
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
        if (CadEntityGetType(e) == CAD_ENT_POLYLINE && CadEntityGetExData(e, nullptr, 0) > 0) {
            ++entities;
            ++perName[TileNameOf(e)];
        }
    }
    EXPECT_EQ(entities, 470);
    EXPECT_EQ(perName.size(), 43u);
    int defaults = 0;
    for (const auto& [name, count] : perName) {
        defaults += name.rfind("tile_", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(defaults, 12);

    // A copy with heights (PolygonZ) imports alike; a cancelled field choice imports nothing.
    const char* args[] = {"-dim", "XYZ", nullptr};
    GDALVectorTranslateOptions* options = GDALVectorTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH in =
        GDALOpenEx(QFile::encodeName(olinda).constData(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    GDALDatasetH out = GDALVectorTranslate(QFile::encodeName(folder + "/olinda_z.shp").constData(), nullptr,
                                           1, &in, options, nullptr);
    GDALVectorTranslateOptionsFree(options);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(wkbFlatten(OGR_L_GetGeomType(GDALDatasetGetLayer(out, 0))), wkbPolygon);
    EXPECT_NE(OGR_L_GetGeomType(GDALDatasetGetLayer(out, 0)), wkbPolygon);
    GDALClose(out);
    GDALClose(in);
    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_REMOVEALLTILES));
    ui.AnswerModal(IDCANCEL);
    EXPECT_EQ(ImportTilesFromShapefile(*doc, folder + "/olinda_z.shp"), 0);
    EXPECT_EQ(ImportShapefile(folder + "/olinda_z.shp", "CD_GEOCODI"), 1);
    EXPECT_EQ(TilesOn(d, kTilesLayer).size(), 470u);

    // A shapefile of polygons without fields.
    GDALDatasetH bare =
        GDALCreate(GDALGetDriverByName("ESRI Shapefile"), QFile::encodeName(folder + "/bare.shp").constData(),
                   0, 0, 0, GDT_Unknown, nullptr);
    OGRLayerH bareLayer = GDALDatasetCreateLayer(bare, "bare", nullptr, wkbPolygon, nullptr);
    ASSERT_NE(bareLayer, nullptr);
    GDALClose(bare);
    ui.Clear();
    EXPECT_EQ(ImportTilesFromShapefile(*doc, folder + "/bare.shp"), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"No fields found on shape file!"}));

    // The file-name part names a tile, Windows paths included.
    EXPECT_EQ(ImportedTileName("D:\\out\\Tile_7.tif", 3), "tile_7");
    EXPECT_EQ(ImportedTileName("/data/North.West.tif", 3), "north.west");
    EXPECT_EQ(ImportedTileName("", 3), "tile_003");
    EXPECT_EQ(ImportedTileName("C:\\out\\", 12), "tile_012");
}

TEST_F(TileLayout, BothImportsNameTilesByOneRuleThatKeepsEachTileInItsFolderAndVisible) {
    SetDrawingConverterProgram(QStringLiteral(KV_KONVERTEL_EXE));
    // The same texts as a drawing's layer names and as a shapefile's values, the last one 300
    // bytes of two-byte characters.
    std::string accents;
    for (int i = 0; i < 150; ++i) {
        accents += "\xC3\xA9";
    }
    const std::vector<std::string> texts = {".",     "..",      "a/b",   "back\\slash",
                                            "Plain", ".hidden", "x/...", accents};
    const std::set<std::string> expected = {"b", "slash", "plain", "hidden", accents.substr(0, 254)};
    // The names apart from the defaults, which take the index of their layer or feature.
    auto importedNames = [this]() {
        std::set<std::string> names;
        int defaults = 0;
        for (const auto& entry : TilesOn(d, kTilesLayer)) {
            EXPECT_TRUE(QString::fromUtf8(entry.first.c_str()).toUtf8().toStdString() == entry.first)
                << "not whole characters: " << entry.first;
            if (entry.first.rfind("tile_", 0) == 0) {
                ++defaults;
            } else {
                names.insert(entry.first);
            }
        }
        EXPECT_EQ(defaults, 3);
        return names;
    };
    ASSERT_TRUE(WriteTileDrawing(folder + "/names.dxf", texts, 0.0));
    EXPECT_EQ(ImportTilesFromDrawing(*doc, folder + "/names.dxf"), 1);
    EXPECT_EQ(importedNames(), expected);
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();

    ASSERT_TRUE(doc->OnCommand(ID_MOSAICMERGE_REMOVEALLTILES));
    GDALDatasetH shp =
        GDALCreate(GDALGetDriverByName("ESRI Shapefile"),
                   QFile::encodeName(folder + "/names.shp").constData(), 0, 0, 0, GDT_Unknown, nullptr);
    OGRLayerH layer = GDALDatasetCreateLayer(shp, "names", nullptr, wkbPolygon, nullptr);
    OGRFieldDefnH field = OGR_Fld_Create("NAME", OFTString);
    OGR_Fld_SetWidth(field, 254);
    ASSERT_EQ(OGR_L_CreateField(layer, field, TRUE), OGRERR_NONE);
    OGR_Fld_Destroy(field);
    for (size_t i = 0; i < texts.size(); ++i) {
        OGRFeatureH feature = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        OGR_F_SetFieldString(feature, 0, texts[i].c_str());
        const double x = 200 + 20.0 * double(i);
        const std::string wkt =
            QString::asprintf("POLYGON ((%g 0,%g 0,%g 8,%g 8,%g 0))", x, x + 10, x + 10, x, x).toStdString();
        OGRGeometryH polygon = nullptr;
        char* text = const_cast<char*>(wkt.c_str());
        ASSERT_EQ(OGR_G_CreateFromWkt(&text, nullptr, &polygon), OGRERR_NONE);
        OGR_F_SetGeometryDirectly(feature, polygon);
        ASSERT_EQ(OGR_L_CreateFeature(layer, feature), OGRERR_NONE);
        OGR_F_Destroy(feature);
    }
    GDALClose(shp);
    EXPECT_EQ(ImportShapefile(folder + "/names.shp", "NAME"), 1);
    EXPECT_EQ(importedNames(), expected);
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();

    // Names cut at 255 bytes keep whole characters; the default takes the index given.
    EXPECT_EQ(CutBetweenCharacters(accents, 255), accents.substr(0, 254));
    EXPECT_EQ(CutBetweenCharacters("abc", 255), "abc");
    EXPECT_EQ(ImportedTileName("..", 7), "tile_007");
    EXPECT_EQ(ImportedTileName("new\nline\xC2\x85", 7), "new_line_");
    EXPECT_EQ(ImportedTileName("C:\\Tiles\\.Tile_8.tif", 7), "tile_8");
    // A layer name is no file path: its dots stay, so that "north.west" and "north.east" stay two.
    EXPECT_EQ(ImportedTileName("North.West", 7, TileNameText::LayerName), "north.west");
    EXPECT_EQ(ImportedTileName("a/.b.c", 7, TileNameText::LayerName), "b.c");
}

TEST_F(TileLayout, TheFieldDialogPreselectsTheLastFieldAndAsksForOne) {
    const std::vector<QString> fields = {"ID", "NAME", "NM_BAIR"};
    ZQT_WriteUserProfileString("Tiles", "SHPField", "nm_");
    ui.AnswerModal([](QDialog& dialog) {
        auto& chooser = static_cast<CShapeFileFieldsDlg&>(dialog);
        EXPECT_EQ(dialog.windowTitle(), "Select Field");
        EXPECT_EQ(chooser.m_comboFields.currentText(), "NM_BAIR");
        const QImage shot = kvtest::Screenshot(&dialog, "CShapeFileFieldsDlg");
        EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(&chooser.m_btnOK, &dialog)), 3);
        EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(&chooser.m_comboFields, &dialog)), 3);
        chooser.m_comboFields.setCurrentIndex(-1);
        chooser.m_btnOK.click();
        EXPECT_TRUE(dialog.isVisible());
        chooser.m_comboFields.setCurrentIndex(1);
        chooser.m_btnOK.click();
        return -1;
    });
    CShapeFileFieldsDlg dialog(&fields);
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.GetFieldName(), "NAME");
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Select a tile field before!"}));
}
