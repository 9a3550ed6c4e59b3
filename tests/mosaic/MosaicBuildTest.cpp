// The mosaic build as the operator runs it from the ribbon: four Landsat crops in a 2 × 2 layout,
// their seamline regions and the tile layout, tiles that copy each region's owner, transitions
// along the seams, radiometric balancing, the order of the orthophotos and the colour statistics,
// the world file, aborts and refusals.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPixmap>
#include <QRegularExpression>

#include <gdal.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "MosaicFixtures.h"
#include "demtools/DemToolsTestSupport.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "mosaic/BuildMosaicDlg.h"
#include "mosaic/MosaicCommands.h"
#include "mosaic/MosaicOrder.h"
#include "mosaic/MosaicTile.h"
#include "mosaic/RadiometricBalancing.h"
#include "mosaic/SeamlineFiles.h"
#include "mosaic/TileLayout.h"
#include "platform/tools/MakerInfo.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CommandIds.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"
#include "support/Limits.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// A raster read whole: bands pixel-interleaved as bytes.
struct Raster {
    int width = 0, height = 0, bands = 0;
    double gt[6] = {0, 0, 0, 0, 0, 0};
    std::vector<uint8_t> cells;
    int at(int column, int row, int band) const {
        return cells[(size_t(row) * width + column) * bands + band];
    }
};

Raster ReadRaster(const QString& path) {
    Raster r;
    const kvtest::RasterFacts facts = kvtest::Inspect(path);
    EXPECT_TRUE(facts.opened) << path.toStdString();
    r.width = facts.width;
    r.height = facts.height;
    r.bands = facts.bands;
    std::copy(facts.geoTransform, facts.geoTransform + 6, r.gt);
    r.cells.resize(size_t(r.width) * r.height * r.bands);
    for (int b = 0; b < r.bands; ++b) {
        const std::vector<double> band = kvtest::ReadBand(path, b + 1);
        for (size_t i = 0; i < band.size() && i * r.bands + b < r.cells.size(); ++i) {
            r.cells[i * r.bands + b] = uint8_t(band[i]);
        }
    }
    return r;
}

// Adds delta to every value of the raster (held within 0 ... 255), or multiplies them by factor.
void ChangeValues(const QString& path, int delta, double factor = 1.0) {
    Raster r = ReadRaster(path);
    for (uint8_t& v : r.cells) {
        v = uint8_t(std::clamp(int(std::lround(v * factor)) + delta, 0, 255));
    }
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_Update);
    ASSERT_EQ(GDALDatasetRasterIO(ds, GF_Write, 0, 0, r.width, r.height, r.cells.data(), r.width, r.height,
                                  GDT_Byte, r.bands, nullptr, r.bands, r.bands * r.width, 1),
              CE_None);
    GDALClose(ds);
}

// A closed polyline of the rectangle of scene cells [c0, c1) × [r0, r1) on the layer.
CadEntity* AddRectangle(CadDrawing* drawing, const char* layerName, const double* scene, double c0, double r0,
                        double c1, double r1) {
    CadLayer* layer = CadGetLayerByName(drawing, layerName);
    if (!layer) {
        layer = CadAddLayer(drawing, layerName, 7, 0, 0);
    }
    CadSetCurLayer(drawing, layer);
    CadClearVertices();
    const double x0 = scene[0] + c0 * scene[1], x1 = scene[0] + c1 * scene[1];
    const double y0 = scene[3] + r0 * scene[5], y1 = scene[3] + r1 * scene[5];
    CadAddVertex(x0, y0, 0);
    CadAddVertex(x1, y0, 0);
    CadAddVertex(x1, y1, 0);
    CadAddVertex(x0, y1, 0);
    CadEntity* e = CadAddPolyline(drawing, 0, 1);
    CadSetCurLayerByName(drawing, "0");
    return e;
}

// Presses "Build Mosaic" and answers its dialog; onProgress sees the bar of the current tile.
class BuildRunner : public mtest::DialogRunner<CBuildMosaicDlg, TProgressTimeToComplete> {
public:
    explicit BuildRunner(kvtest::ScriptedInteraction& ui)
        : DialogRunner(ui, &CBuildMosaicDlg::m_ProgressTile) {}
    int Press(CKelvaroDoc& doc) { return DialogRunner::Press(doc, ID_MOSAICMERGE_BUILDMOSAIC); }
};

// Crop windows of the scene (column, row, width, height): a 2 × 2 layout overlapping in columns
// 130-219 and rows 130-219; the lower right one ends at row 280, so that the corner beyond is
// covered by none. Each crop's values are offset so that owners differ.
struct Crop {
    const char* name;
    int column, row, width, height, offset;
};
constexpr Crop kCrops[4] = {{"nw", 0, 0, 220, 220, 0},
                            {"ne", 130, 0, 219, 220, 15},
                            {"sw", 0, 130, 220, 222, 30},
                            {"se", 130, 130, 219, 150, 45}};
// The seams of the regions in scene cells.
constexpr int kSeamColumn = 175, kSeamRow = 175;

int OwnerOf(int column, int row) {
    if (row < kSeamRow) {
        return column < kSeamColumn ? 0 : 1;
    }
    if (column < kSeamColumn) {
        return 2;
    }
    if (row < 280) {
        return 3;
    }
    // Below "se" no region lies: "sw" has data up to column 219, beyond it nothing does.
    return column < 220 ? -2 : -1;
}

class MosaicBuild : public ::testing::Test {
protected:
    void SetUp() override {
        folder = mtest::PrepareMosaicCommands();
        doc = std::make_unique<CKelvaroDoc>();
        // The scene's geotransform.
        ASSERT_FALSE(mtest::CutLandsat(folder + "/scene.tif", 0, 0, 349, 352, scene).isEmpty());
    }
    void TearDown() override {
        doc.reset();
        GetDocumentProcedures().Reset();
    }

    // The four crops as the project's orthophotos with their seamline regions, the project saved.
    // prepare may change a crop's file before the project opens it.
    void AddCrops(double brightenNe = 1.0, std::function<void(int, const QString&)> prepare = nullptr) {
        for (int i = 0; i < 4; ++i) {
            const Crop& c = kCrops[i];
            paths[i] = mtest::CutLandsat(folder + "/" + c.name + ".tif", c.column, c.row, c.width, c.height);
            ChangeValues(paths[i], c.offset, i == 1 ? brightenNe : 1.0);
            if (prepare) {
                prepare(i, paths[i]);
            }
            ASSERT_EQ(doc->AddOrtho(paths[i], 0, 0), 1);
        }
        for (int i = 0; i < 4; ++i) {
            orthos[i] = doc->m_Orthos.at(QString::fromLatin1(kCrops[i].name) + ".tif");
        }
        const double regions[4][4] = {{0, 0, kSeamColumn, kSeamRow},
                                      {kSeamColumn, 0, 349, kSeamRow},
                                      {0, kSeamRow, kSeamColumn, 352},
                                      {kSeamColumn, kSeamRow, 349, 280}};
        for (int i = 0; i < 4; ++i) {
            CadEntity* e = AddRectangle(doc->m_pCad, kSeamLinesLayer, scene, regions[i][0], regions[i][1],
                                        regions[i][2], regions[i][3]);
            CadEntityPutUserPtr(e, orthos[i]);
            orthos[i]->SeamlinePolylines.push_back(e);
        }
        doc->SeamlineScaleFactor = 2;
        ASSERT_EQ(doc->DoSave(folder + "/site.kvp"), 1);
    }

    // Named tiles on "Tiles" (outline and label, as the tile setup makes them) split at scene
    // column 100 and row 200.
    void AddTiles() {
        const int columns[3] = {0, 100, 349}, rows[3] = {0, 200, 352};
        CadLayer* layer = GetTileLayer(doc->m_pCad, kTilesLayer);
        for (int r = 0; r < 2; ++r) {
            for (int c = 0; c < 2; ++c) {
                const double x0 = scene[0] + columns[c] * scene[1], x1 = scene[0] + columns[c + 1] * scene[1];
                const double y0 = scene[3] + rows[r] * scene[5], y1 = scene[3] + rows[r + 1] * scene[5];
                char name[16];
                std::snprintf(name, sizeof(name), "T-%02d-%02d", r, c);
                AddTile(doc->m_pCad, layer, name, {{x0, y0, 0}, {x1, y0, 0}, {x1, y1, 0}, {x0, y1, 0}},
                        kTileColour);
            }
        }
    }

    // The scene cell's expected value in the tile: the owner's crop value.
    int OwnerValue(const Raster* crops, int owner, int column, int row, int band) const {
        return crops[owner].at(column - kCrops[owner].column, row - kCrops[owner].row, band);
    }

    kvtest::ScriptedInteraction ui;
    BuildRunner runner{ui};
    QString folder;
    std::unique_ptr<CKelvaroDoc> doc;
    double scene[6];
    QString paths[4];
    COrtho* orthos[4] = {};
};

}  // namespace

TEST_F(MosaicBuild, RibbonBuildWritesNamedTilesThatCopyEachRegionsOwnerAndJoinTheProject) {
    AddCrops();
    AddTiles();
    const QString out = folder + "/tiles";
    QDir().mkpath(out);
    ui.AnswerFile(out);
    ui.AnswerMessage(IDNO);
    bool pictured = false;
    runner.onProgress = [&](CBuildMosaicDlg& dialog, int value) {
        if (!pictured && value > 0) {
            pictured = true;
            const QImage shot = kvtest::Screenshot(&dialog, "CBuildMosaicDlg");
            EXPECT_EQ(dialog.windowTitle(), "Build Mosaic");
            EXPECT_GT(kvtest::ColourCount(shot), 8);
        }
    };
    EXPECT_EQ(runner.Press(*doc), IDOK);
    EXPECT_TRUE(pictured);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Apply radiometric balancing?"});

    Raster crops[4];
    for (int i = 0; i < 4; ++i) {
        crops[i] = ReadRaster(paths[i]);
    }
    const int columns[3] = {0, 100, 349}, rows[3] = {0, 200, 352};
    int compared = 0, empty = 0;
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 2; ++c) {
            const QString name = QString::asprintf("T-%02d-%02d", r, c);
            const QString path = out + "/" + name + ".tif";
            ASSERT_TRUE(QFile::exists(path)) << path.toStdString();
            QFile world(out + "/" + name + ".tfw");
            ASSERT_TRUE(world.open(QIODevice::ReadOnly));
            const QList<QByteArray> lines = world.readAll().split('\n');
            ASSERT_EQ(lines.size(), 6);
            EXPECT_DOUBLE_EQ(lines[0].toDouble(), scene[1]);
            EXPECT_DOUBLE_EQ(lines[4].toDouble(), scene[0] + columns[c] * scene[1] + scene[1] / 2);
            const Raster tile = ReadRaster(path);
            ASSERT_EQ(tile.width, columns[c + 1] - columns[c]);
            ASSERT_EQ(tile.height, rows[r + 1] - rows[r]);
            EXPECT_DOUBLE_EQ(tile.gt[0], scene[0] + columns[c] * scene[1]);
            EXPECT_DOUBLE_EQ(tile.gt[3], scene[3] + rows[r] * scene[5]);
            for (int y = 0; y < tile.height; y += 3) {
                for (int x = 0; x < tile.width; x += 3) {
                    const int column = columns[c] + x, row = rows[r] + y;
                    const int owner = OwnerOf(column, row);
                    if (owner == -2) {
                        continue;
                    }
                    if (owner < 0) {
                        for (int b = 0; b < 3; ++b) {
                            ASSERT_EQ(tile.at(x, y, b), 0) << column << "," << row;
                        }
                        ++empty;
                        continue;
                    }
                    // Beyond the transition from every seam.
                    if (std::abs(column - kSeamColumn) < 14 || std::abs(row - kSeamRow) < 14 ||
                        std::abs(row - 280) < 14) {
                        continue;
                    }
                    for (int b = 0; b < 3; ++b) {
                        const int expected = OwnerValue(crops, owner, column, row, b);
                        const int value = tile.at(x, y, b);
                        EXPECT_TRUE(value == expected || value == std::clamp(expected, 1, 254))
                            << name.toStdString() << " " << column << "," << row << " band " << b << ": "
                            << value << " vs " << expected << " A " << OwnerValue(crops, 0, column, row, b);
                    }
                    ++compared;
                }
            }
        }
    }
    EXPECT_GT(compared, 8000);
    EXPECT_GT(empty, 300);

    // Tags and projection inside the TIFF.
    GDALDatasetH ds = GDALOpen(QFile::encodeName(out + "/T-00-00.tif").constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    EXPECT_STREQ(GDALGetMetadataItem(ds, "TIFFTAG_SOFTWARE", nullptr),
                 "Kelvaro - Drovane Software - " KV_MAKER_WEB_ADDRESS);
    EXPECT_NE(GDALGetMetadataItem(ds, "TIFFTAG_DATETIME", nullptr), nullptr);
    EXPECT_STREQ(GDALGetProjectionRef(ds), GDALGetProjectionRef(orthos[0]->m_pDataset));
    GDALClose(ds);

    // The tiles are orthophotos of the project; the seamline and tile layers are hidden, their
    // highlights gone.
    int tilesInProject = 0;
    for (const auto& entry : doc->m_Orthos) {
        tilesInProject += QFileInfo(entry.second->m_path).absolutePath() == QFileInfo(out).absoluteFilePath();
    }
    EXPECT_EQ(tilesInProject, 4);
    EXPECT_EQ(CadLayerGetVisible(CadGetLayerByName(doc->m_pCad, kSeamLinesLayer)), 0);
    EXPECT_EQ(CadLayerGetVisible(CadGetLayerByName(doc->m_pCad, "Tiles")), 0);
    for (COrtho* o : orthos) {
        EXPECT_EQ(CadEntityGetColor(o->SeamlinePolylines.front()), 256);
        EXPECT_EQ(CadEntityGetFilled(o->SeamlinePolylines.front()), 0);
    }

    // A rebuild into the same folder would write over loaded tiles: each is refused and kept.
    const QDateTime before = QFileInfo(out + "/T-00-00.tif").lastModified();
    ui.Clear();
    ui.AnswerFile(out);
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(runner.Press(*doc), IDOK);
    EXPECT_EQ(ui.MessageTexts().count("The file is used by a loaded layer"), 4)
        << ui.MessageTexts().join("|").toStdString();
    EXPECT_EQ(ui.MessageTexts().size(), 5);
    EXPECT_EQ(QFileInfo(out + "/T-00-00.tif").lastModified(), before);
}

TEST_F(MosaicBuild, TileNamesWithFolderPartsWriteAndDeleteOnlyInsideTheChosenFolder) {
    AddCrops();
    // "../victim" lies where no orthophoto reaches (its file would be deleted), "../left" over the
    // scene's left columns (its file would be written); both names exist beside the folder.
    CadLayer* layer = GetTileLayer(doc->m_pCad, kTilesLayer);
    const double x0 = scene[0], y0 = scene[3] + 200 * scene[5], x1 = scene[0] + 100 * scene[1];
    AddTile(doc->m_pCad, layer, "../left", {{x0, y0, 0}, {x1, y0, 0}, {x1, scene[3], 0}, {x0, scene[3], 0}},
            kTileColour);
    AddTile(doc->m_pCad, layer, "../victim",
            {{x0 - 9000, y0, 0}, {x0 - 6000, y0, 0}, {x0 - 6000, scene[3], 0}, {x0 - 9000, scene[3], 0}},
            kTileColour);
    for (const char* name : {"/left.tif", "/victim.tif"}) {
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("kept");
    }
    const QString out = folder + "/tiles";
    QDir().mkpath(out);
    ui.AnswerFile(out);
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(runner.Press(*doc), IDOK);
    for (const char* name : {"/left.tif", "/victim.tif"}) {
        QFile file(folder + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(file.readAll(), "kept") << name;
    }
    EXPECT_EQ(ReadRaster(out + "/.._left.tif").width, 100);
    EXPECT_TRUE(QFile::exists(out + "/.._left.tfw"));
}

TEST_F(MosaicBuild, FilesAtTilePathsAreAskedAboutOnceAndNoLeavesEveryFileAsItWas) {
    AddCrops();
    AddTiles();
    // "precious" lies where no orthophoto reaches: the build would remove the file of its name.
    const double x0 = scene[0] - 9000, y0 = scene[3] - 3000;
    AddTile(doc->m_pCad, GetTileLayer(doc->m_pCad, kTilesLayer), "precious",
            {{x0, y0, 0}, {x0 + 3000, y0, 0}, {x0 + 3000, y0 + 3000, 0}, {x0, y0 + 3000, 0}}, kTileColour);
    const QString out = folder + "/tiles";
    QDir().mkpath(out);
    // Beside "T-00-01", where no raster stands, its overviews and statistics: they go with the
    // raster that takes their place.
    const std::map<QString, QByteArray> owned = {{"precious.tif", "the operator's own"},
                                                 {"T-00-00.tif", "an older tile"},
                                                 {"T-00-00.tfw", "its world"},
                                                 {"T-00-01.tif.ovr", "overviews"},
                                                 {"T-00-01.tif.aux.xml", "<PAMDataset/>"}};
    for (const auto& [name, bytes] : owned) {
        QFile file(out + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    // A loaded layer's file at a tile's path is never replaced, so it is not asked about.
    ASSERT_TRUE(QFile::copy(paths[3], out + "/T-01-01.tif"));
    ASSERT_EQ(doc->AddOrtho(out + "/T-01-01.tif", 0, 0), 1);
    const QString question = QString("2 files in %1 would be replaced and 3 removed. Continue?").arg(out);

    // No: nothing is written, removed or built, not even the balancing map.
    ui.AnswerFile(out);
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(runner.Press(*doc), IDCANCEL);
    ASSERT_EQ(ui.MessageTexts(), QStringList{question});
    EXPECT_EQ(ui.Messages()[0].type, unsigned(MB_YESNO | MB_ICONQUESTION));
    for (const auto& [name, bytes] : owned) {
        QFile file(out + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        EXPECT_EQ(file.readAll(), bytes) << name.toStdString();
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 6);
    EXPECT_EQ(doc->m_Orthos.size(), 5u);
    EXPECT_FALSE(QFile::exists(folder + "/RadiometricBalancingMap.tif"));
    EXPECT_EQ(CadLayerGetVisible(CadGetLayerByName(doc->m_pCad, "Tiles")), 1);

    // Yes: the build goes on, replaces the older tile and removes the file under no orthophoto.
    ui.Clear();
    ui.AnswerFile(out);
    ui.AnswerMessage(IDYES);
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(runner.Press(*doc), IDOK);
    EXPECT_EQ(ui.MessageTexts(),
              QStringList({question, "Apply radiometric balancing?", "The file is used by a loaded layer"}));
    EXPECT_FALSE(QFile::exists(out + "/precious.tif"));
    EXPECT_EQ(ReadRaster(out + "/T-00-00.tif").width, 100);
    QFile world(out + "/T-00-00.tfw");
    ASSERT_TRUE(world.open(QIODevice::ReadOnly));
    EXPECT_EQ(world.readAll().split('\n').size(), 6);
    EXPECT_EQ(ReadRaster(out + "/T-00-01.tif").width, 249);
    for (const char* side : {"T-00-01.tif.ovr", "T-00-01.tif.aux.xml"}) {
        QFile file(out + "/" + side);
        EXPECT_TRUE(!file.open(QIODevice::ReadOnly) || file.readAll() != owned.at(side)) << side;
    }
}

TEST_F(MosaicBuild, TilesOfOneFileAreToldAndATileThatCannotBeCreatedSaysWhy) {
    AddCrops();
    // "Left" and "left" name one file; a folder stands at the path of "dir".
    CadLayer* layer = GetTileLayer(doc->m_pCad, kTilesLayer);
    const double x0 = scene[0], y0 = scene[3] + 200 * scene[5], x1 = scene[0] + 100 * scene[1];
    for (const char* name : {"Left", "left", "dir"}) {
        AddTile(doc->m_pCad, layer, name, {{x0, y0, 0}, {x1, y0, 0}, {x1, scene[3], 0}, {x0, scene[3], 0}},
                kTileColour);
    }
    const QString out = folder + "/tiles";
    ASSERT_TRUE(QDir().mkpath(out + "/dir.tif"));
    ui.AnswerFile(out);
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(runner.Press(*doc), IDOK);
    const QString refused = QString("unable to create %1/dir.tif file").arg(out);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Apply radiometric balancing?", refused}));
    CadCmdPrompt(doc->m_pCad, "", nullptr);
    QString said = dtest::CommandLineHistory(doc->m_pCad, 4);
    for (const QString& line : {QString("Tile left not written: another tile is written to the same file"),
                                refused + ": Is a directory"}) {
        EXPECT_TRUE(said.contains(line)) << line.toStdString() << " in\n" << said.toStdString();
    }
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList({"Left.tfw", "Left.tif"}));
    EXPECT_EQ(doc->m_Orthos.count("left.tif"), 1u);

    // A folder that cannot hold the tiles: the cause as GDAL gave it.
    doc->RemoveAllOrthos();
    AddCrops();
    ui.Clear();
    ui.AnswerFile(folder + "/missing/deeper");
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(runner.Press(*doc), IDOK);
    CadCmdPrompt(doc->m_pCad, "", nullptr);
    said = dtest::CommandLineHistory(doc->m_pCad, 4);
    EXPECT_TRUE(
        said.contains(QRegularExpression("unable to create .*/missing/deeper/dir.tif file: .*No such file")))
        << said.toStdString();
}

// A tile goes in place with its world file and overviews as one set: a world file that cannot be
// put in place leaves the older tile and its world file as they were.
TEST_F(MosaicBuild, ATileWhoseWorldFileCannotBeWrittenLeavesTheOlderTileAndItsWorldFile) {
    AddCrops();
    AddTiles();
    const QString out = folder + "/tiles";
    QDir().mkpath(out);
    ASSERT_TRUE(kvtest::WriteFileBytes(out + "/T-00-00.tif", "an older tile"));
    ASSERT_TRUE(kvtest::WriteFileBytes(out + "/T-00-00.tfw", "its world"));
    ui.AnswerFile(out);
    ui.AnswerMessage(IDYES);
    ui.AnswerMessage(IDNO);
    {
        kvtest::FileFault readOnly(kv::FileStep::Rename, EROFS, ".tfw");
        runner.Press(*doc);
    }
    EXPECT_EQ(kvtest::FileBytes(out + "/T-00-00.tif"), "an older tile");
    EXPECT_EQ(kvtest::FileBytes(out + "/T-00-00.tfw"), "its world");
    EXPECT_EQ(QDir(out).entryList({"*.kvsave*"}, QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(MosaicBuild, WithoutNamedClosedTilesOneFileCoversTheWholeMosaic) {
    AddCrops();
    // No "Tiles" layer: only the file is asked for.
    ui.AnswerMessage(IDNO);
    ui.AnswerFile(folder + "/whole");
    EXPECT_EQ(runner.Press(*doc), IDOK);
    EXPECT_EQ(ui.Choosers().size(), 1);
    Raster whole = ReadRaster(folder + "/whole.tif");
    EXPECT_EQ(whole.width, 349);
    EXPECT_EQ(whole.height, 352);
    EXPECT_TRUE(QFile::exists(folder + "/whole.tfw"));
    QImage picture(whole.width, whole.height, QImage::Format_RGB888);
    for (int y = 0; y < whole.height; ++y) {
        for (int x = 0; x < whole.width; ++x) {
            picture.setPixel(x, y, qRgb(whole.at(x, y, 0), whole.at(x, y, 1), whole.at(x, y, 2)));
        }
    }
    QLabel shown;
    shown.setPixmap(QPixmap::fromImage(picture));
    shown.resize(picture.size());
    const QImage shot = kvtest::Screenshot(&shown, "MosaicTile");
    EXPECT_GT(kvtest::ColourCount(shot), 1000);
    EXPECT_GT(kvtest::ColourShare(shot, Qt::black, QRect(240, 300, 100, 40)), 0.95);  // covered by none

    // Open or unnamed polylines on "Tiles": a folder, the balancing question, then the file.
    CadEntity* open = AddRectangle(doc->m_pCad, "Tiles", scene, 0, 0, 100, 100);
    CadPlinePutClosed(open, 0);
    char name[256] = "T-00-00";
    CadEntityPutExData(open, name, 256);
    AddRectangle(doc->m_pCad, "Tiles", scene, 100, 100, 200, 200);
    CadLayerPutVisible(CadGetLayerByName(doc->m_pCad, kSeamLinesLayer), 1);
    ui.Clear();
    ui.AnswerFile(folder);
    ui.AnswerMessage(IDNO);
    ui.AnswerFile(folder + "/again.tif");
    EXPECT_EQ(runner.Press(*doc), IDOK);
    ASSERT_EQ(ui.Choosers().size(), 2);
    EXPECT_EQ(ui.Choosers()[0], "Select output folder");
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Apply radiometric balancing?"});
    Raster again = ReadRaster(folder + "/again.tif");
    EXPECT_EQ(again.width, 349);

    // Over a file of the operator's with its overviews beside it: the chooser asks about the
    // file, and the build about every file that goes; No leaves them all.
    const std::map<QString, QByteArray> owned = {{"own.tif", "the operator's own"},
                                                 {"own.tif.ovr", "overviews"}};
    for (const auto& [name, bytes] : owned) {
        QFile file(folder + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    ui.Clear();
    ui.AnswerFile(folder);
    ui.AnswerMessage(IDNO);
    ui.AnswerFile(folder + "/own.tif");
    ui.AnswerMessage(IDYES);
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(runner.Press(*doc), IDCANCEL);
    EXPECT_EQ(
        ui.MessageTexts(),
        QStringList({"Apply radiometric balancing?", "own.tif already exists.\nDo you want to replace it?",
                     QString("1 file in %1 would be replaced and 1 removed. Continue?").arg(folder)}));
    for (const auto& [name, bytes] : owned) {
        QFile file(folder + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), bytes) << name.toStdString();
    }
    EXPECT_FALSE(QFile::exists(folder + "/own.tfw"));

    // A project without an orthophoto that has seamlines says so and ends with 2.
    CKelvaroDoc empty;
    ui.Clear();
    EXPECT_EQ(runner.Press(empty), IDCANCEL);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"No orthophoto with seamlines to mosaic"});
}

TEST_F(MosaicBuild, TransitionsBlendOnlyAlongSeamsAndKeepTheTypesExtremesOut) {
    EXPECT_EQ(TransitionWidth(0, 15), 0);
    EXPECT_EQ(TransitionWidth(1, 15), 15);
    EXPECT_EQ(TransitionWidth(4, 15), 5);
    EXPECT_EQ(TransitionWidth(5, 15), 1);
    EXPECT_EQ(TransitionKernelSize(TransitionWidth(5, 15)), 1);
    EXPECT_EQ(TransitionKernelSize(TransitionWidth(6, 10)), 11);
    EXPECT_EQ(TransitionWidth(6, 0), 0);
    EXPECT_EQ(TransitionWidth(9, 15), 0);
    EXPECT_EQ(BlockMargin(2), 16);
    EXPECT_EQ(BlockMargin(8), 8);
    EXPECT_EQ(SeamlineWorkingScale(0), 1);

    // Two constant orthophotos: "nw" white (255) with a black hole, "ne" grey (100); the seam at
    // column 175. The tile starts inside "nw" (column 20), so "nw" skips its first 20 columns.
    AddCrops(1.0, [](int i, const QString& path) {
        if (i == 1) {
            ChangeValues(path, 100, 0.0);
        }
        if (i != 0) {
            return;
        }
        Raster nw = ReadRaster(path);
        std::fill(nw.cells.begin(), nw.cells.end(), 255);
        for (int row = 40; row < 60; ++row) {
            for (int column = 150; column < 170; ++column) {
                for (int b = 0; b < 3; ++b) {
                    nw.cells[(size_t(row) * nw.width + column) * 3 + b] = 0;
                }
            }
        }
        GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_Update);
        ASSERT_EQ(GDALDatasetRasterIO(ds, GF_Write, 0, 0, nw.width, nw.height, nw.cells.data(), nw.width,
                                      nw.height, GDT_Byte, 3, nullptr, 3, 3 * nw.width, 1),
                  CE_None);
        GDALClose(ds);
    });
    doc->SeamlineScaleFactor = 0;  // never built: taken as 1

    auto writeTile = [&](int mode, int custom, const QString& name) {
        CMosaicTile tile(doc.get());
        tile.m_strOutputPath = folder + "/" + name + ".tif";
        tile.m_strName = name;
        tile.m_minX = scene[0] + 20 * scene[1];
        tile.m_maxX = scene[0] + 330 * scene[1];
        tile.m_maxY = scene[3];
        tile.m_minY = scene[3] + 150 * scene[5];
        const double gt[6] = {tile.m_minX, scene[1], 0, tile.m_maxY, 0, scene[5]};
        std::copy(gt, gt + 6, tile.m_geoTransform);
        tile.m_width = 310;
        tile.m_height = 150;
        const Wml::Point2 corners[4] = {{tile.m_minX, tile.m_minY},
                                        {tile.m_maxX, tile.m_minY},
                                        {tile.m_maxX, tile.m_maxY},
                                        {tile.m_minX, tile.m_maxY}};
        tile.m_Outline = CPgon(corners, 4);
        tile.m_Orthos = {orthos[0], orthos[1]};
        tile.m_nTransitionMode = mode;
        tile.m_nCustomTransitionWidth = custom;
        EXPECT_EQ(tile.WriteTile(0, nullptr, nullptr), CMosaicTile::kWritten);
        EXPECT_EQ(tile.m_Orthos.size(), 2u);
        return ReadRaster(tile.m_strOutputPath);
    };
    const Raster hard = writeTile(0, 15, "hard");
    const Raster soft = writeTile(6, 10, "soft");
    int intermediate = 0, whiteKept = 0;
    for (int y = 0; y < hard.height; ++y) {
        for (int x = 0; x < hard.width; ++x) {
            const int column = x + 20;
            const int h = hard.at(x, y, 0), s = soft.at(x, y, 0);
            // Hard seams: the owner's value (white held at 254 where blended) or the other one's.
            ASSERT_TRUE(h == 100 || h == 254 || h == 255) << x << "," << y << ": " << h;
            if (column < 160 && !(y >= 40 && y < 60 && column >= 150)) {
                ASSERT_GE(h, 254);
            }
            if (column >= 190 && column < 219) {
                ASSERT_EQ(h, 100);
            }
            // Inside the hole of "nw" the tile takes "ne", which fills empty pixels of its blocks.
            if (y >= 40 && y < 60 && column >= 150 && column < 170) {
                ASSERT_EQ(h, 100);
            }
            intermediate += s > 100 && s < 254;
            whiteKept += h == 255;
            if (column >= 130 && column < 220) {
                ASSERT_LE(s, 254);
                ASSERT_LE(h, 254);
            }
        }
    }
    EXPECT_GT(whiteKept, 0);       // copied into empty pixels, white stays 255
    EXPECT_GT(intermediate, 150);  // an 11 × 11 kernel blends across the seam
    for (int y = 0; y < soft.height; ++y) {
        for (int x = 0; x < 120; ++x) {
            ASSERT_EQ(soft.at(x, y, 0), hard.at(x, y, 0)) << x << "," << y;  // far from the seam
        }
    }
}

TEST_F(MosaicBuild, BalancingBringsABrightenedCropToItsNeighboursWithinTheByteRange) {
    AddCrops(1.2);
    ui.AnswerMessage(IDYES);
    ui.AnswerFile(folder + "/balanced.tif");
    EXPECT_EQ(runner.Press(*doc), IDOK);
    ui.AnswerMessage(IDNO);
    ui.AnswerFile(folder + "/plain.tif");
    EXPECT_EQ(runner.Press(*doc), IDOK);
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{"Apply radiometric balancing?", "Apply radiometric balancing?"}));

    // Across the seam of "nw" and "ne", five pixels each side.
    const Raster balanced = ReadRaster(folder + "/balanced.tif");
    const Raster plain = ReadRaster(folder + "/plain.tif");
    auto seamStep = [](const Raster& r) {
        double sum = 0;
        int n = 0;
        for (int row = 10; row < 160; ++row) {
            for (int b = 0; b < 3; ++b) {
                double left = 0, right = 0;
                for (int d = 1; d <= 5; ++d) {
                    left += r.at(kSeamColumn - d, row, b);
                    right += r.at(kSeamColumn - 1 + d, row, b);
                }
                sum += std::fabs(right - left) / 5;
                ++n;
            }
        }
        return sum / n;
    };
    EXPECT_LT(seamStep(balanced), seamStep(plain) * 0.8) << seamStep(balanced) << " vs " << seamStep(plain);
    for (int y = 0; y < balanced.height; ++y) {
        for (int x = 0; x < balanced.width; ++x) {
            if (balanced.at(x, y, 0) || balanced.at(x, y, 1) || balanced.at(x, y, 2)) {
                for (int b = 0; b < 3; ++b) {
                    ASSERT_GE(balanced.at(x, y, b), 1);
                    ASSERT_LE(balanced.at(x, y, b), 254);
                }
            }
        }
    }

    // The map beside the project: the crops' median is far below 100,000 pixels, f is 1.
    EXPECT_EQ(doc->BalancingScaleFactor, 1.0);
    EXPECT_EQ(doc->BalancingMapPath, folder + "/RadiometricBalancingMap.tif");
    const Raster map = ReadRaster(doc->BalancingMapPath);
    EXPECT_EQ(map.width, 349);
    EXPECT_EQ(map.height, 352);
    EXPECT_EQ(map.bands, 3);
    EXPECT_DOUBLE_EQ(map.gt[0], scene[0]);
    EXPECT_DOUBLE_EQ(map.gt[1], scene[1]);
    EXPECT_DOUBLE_EQ(map.gt[3], scene[3]);
    EXPECT_DOUBLE_EQ(map.gt[5], scene[5]);
    EXPECT_EQ(BalancingScaleFactorFor(20e6), 200.0);
    EXPECT_EQ(BalancingScaleFactorFor(48400), 1.0);

    // Two 400 x 304 images 59 pixels apart: f = 1.216, and the second one's rounded corner (49)
    // plus its rounded width (329) pass the rounded map width (377) by one; only what fits is
    // fed to the blender, which writes without bounds checks.
    std::vector<std::unique_ptr<COrtho>> owned;
    std::vector<COrtho*> pair;
    for (int i = 0; i < 2; ++i) {
        auto o = std::make_unique<COrtho>(nullptr);
        o->m_pDataset = GDALCreate(GDALGetDriverByName("MEM"), "", 400, 304, 3, GDT_Byte, nullptr);
        for (int b = 1; b <= 3; ++b) {
            GDALFillRaster(GDALGetRasterBand(o->m_pDataset, b), 100 + 50 * i, 0);
        }
        const double gt[6] = {59.0 * i, 1, 0, 304, 0, -1};
        std::copy(gt, gt + 6, o->m_geoTransform);
        o->m_width = 400;
        o->m_height = 304;
        pair.push_back(o.get());
        owned.push_back(std::move(o));
    }
    MosaicBox box;
    box.minX = 0, box.maxX = 459, box.minY = 0, box.maxY = 304, box.pixelWidth = 1, box.pixelHeight = -1;
    ASSERT_EQ(
        BuildRadiometricBalancingMap(doc.get(), pair, QString(), 459, 304, GDT_Byte, box, nullptr, nullptr),
        1);
    EXPECT_DOUBLE_EQ(doc->BalancingScaleFactor, 1.216);
    const Raster small = ReadRaster(doc->BalancingMapPath);
    EXPECT_EQ(small.width, 377);
    EXPECT_EQ(small.height, 250);
}

TEST_F(MosaicBuild, CorrectionsLeaveBand4TwoBandPixelsAndEmptyPixelsAloneAndStayFinite) {
    AddCrops();
    COrtho* nw = orthos[0];
    // Grids of +300 (band 1), -300 (band 2), +7 (band 3) and +50 (band 4).
    const float grids[4] = {300, -300, 7, 50};
    for (int b = 0; b < 4; ++b) {
        nw->m_correctionImage[b] = cv::Mat(10, 10, CV_32FC1, cv::Scalar(grids[b]));
    }
    double lo, hi;
    GetMosaicValueRange(GDT_Byte, &lo, &hi);
    double v[4] = {100, 100, 100, 100};
    CorrectOrthoPixel(nw, v, 3, 3, 3, GDT_Byte, CorrectionDivisor(GDT_Byte), lo, hi, 1.0);
    EXPECT_EQ(v[0], 254);
    EXPECT_EQ(v[1], 1);
    EXPECT_EQ(v[2], 107);
    double two[2] = {100, 100};
    CorrectOrthoPixel(nw, two, 3, 3, 2, GDT_Byte, 1, lo, hi, 1.0);
    EXPECT_EQ(two[0], 100);
    double empty[3] = {0, 0, 0};
    CorrectOrthoPixel(nw, empty, 3, 3, 3, GDT_Byte, 1, lo, hi, 1.0);
    EXPECT_EQ(empty[0], 0);
    double outside[3] = {100, 100, 100};
    CorrectOrthoPixel(nw, outside, 30, 3, 3, GDT_Byte, 1, lo, hi, 1.0);
    EXPECT_EQ(outside[0], 100);
    // 16-bit data take the 8-bit correction eight times.
    GetMosaicValueRange(GDT_UInt16, &lo, &hi);
    double wide[3] = {1000, 1000, 1000};
    CorrectOrthoPixel(nw, wide, 3, 3, 3, GDT_UInt16, CorrectionDivisor(GDT_UInt16), lo, hi, 1.0);
    EXPECT_EQ(wide[2], 1056);

    // Fitted from 0 to 3 collinear control points (grey cells 1 ... k of the fourth row of the
    // map, black elsewhere), the grids stay finite; band 4 gets no correction.
    const Raster crop = ReadRaster(paths[0]);
    for (int k = 0; k <= 3; ++k) {
        const QString mapPath = folder + QString("/map%1.tif").arg(k);
        GDALDatasetH map = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(mapPath).constData(),
                                      crop.width, crop.height, 3, GDT_Byte, nullptr);
        GDALSetGeoTransform(map, nw->m_geoTransform);
        std::vector<uint8_t> cells(size_t(crop.width) * crop.height * 3, 0);
        const int cw = crop.width / 9, ch = crop.height / 9;
        for (int j = 1; j <= k; ++j) {
            for (int y = 4 * ch - ch / 2 + 3; y < 4 * ch + ch / 2 - 3; ++y) {
                for (int x = j * cw - cw / 2 + 3; x < j * cw + cw / 2 - 3; ++x) {
                    for (int b = 0; b < 3; ++b) {
                        cells[(size_t(y) * crop.width + x) * 3 + b] = 120;
                    }
                }
            }
        }
        ASSERT_EQ(GDALDatasetRasterIO(map, GF_Write, 0, 0, crop.width, crop.height, cells.data(), crop.width,
                                      crop.height, GDT_Byte, 3, nullptr, 3, 3 * crop.width, 1),
                  CE_None);
        GDALClose(map);
        ASSERT_EQ(ComputeOrthoCorrection(nw, 4, mapPath, 1.0), 1) << k;
        for (int b = 0; b < 4; ++b) {
            ASSERT_EQ(nw->m_correctionImage[b].size(), cv::Size(crop.width, crop.height));
            EXPECT_TRUE(cv::checkRange(nw->m_correctionImage[b])) << k << " band " << b;
        }
        EXPECT_EQ(cv::countNonZero(nw->m_correctionImage[3]), 0) << k;
    }
    EXPECT_EQ(ComputeOrthoCorrection(nw, 3, folder + "/none.tif", 1.0), 0);

    // Without a balancing map the orthophoto is written uncorrected, not left out, and the
    // command line names it.
    doc->BalancingMapPath = folder + "/none.tif";
    doc->BalancingScaleFactor = 1;
    CMosaicTile tile(doc.get());
    tile.m_strOutputPath = folder + "/uncorrected.tif";
    tile.m_minX = tile.m_geoTransform[0] = nw->m_geoTransform[0];
    tile.m_maxY = tile.m_geoTransform[3] = nw->m_geoTransform[3];
    tile.m_geoTransform[1] = nw->m_geoTransform[1];
    tile.m_geoTransform[5] = nw->m_geoTransform[5];
    tile.m_maxX = tile.m_minX + 100 * nw->m_geoTransform[1];
    tile.m_minY = tile.m_maxY + 100 * nw->m_geoTransform[5];
    tile.m_width = tile.m_height = 100;
    const Wml::Point2 corners[4] = {{tile.m_minX, tile.m_minY},
                                    {tile.m_maxX, tile.m_minY},
                                    {tile.m_maxX, tile.m_maxY},
                                    {tile.m_minX, tile.m_maxY}};
    tile.m_Outline = CPgon(corners, 4);
    tile.m_Orthos = {nw};
    ASSERT_EQ(tile.WriteTile(1, nullptr, nullptr), CMosaicTile::kWritten);
    const Raster uncorrected = ReadRaster(tile.m_strOutputPath);
    for (int y = 0; y < 100; y += 7) {
        for (int x = 0; x < 100; x += 7) {
            ASSERT_EQ(uncorrected.at(x, y, 1), crop.at(x, y, 1)) << x << "," << y;
        }
    }
    char line[512] = {0};
    ASSERT_TRUE(CadCmdGetPrompt(doc->m_pCad, line, sizeof(line)));
    EXPECT_NE(std::strstr(line, "nw.tif"), nullptr) << line;
}

TEST_F(MosaicBuild, FourBandOrthophotosGiveRgbTilesWithAnExtraBandLeftUncorrected) {
    // Four bands: 3, 2, 1 and 4 of the scene.
    QString paths4[2];
    for (int i = 0; i < 2; ++i) {
        const Crop& c = kCrops[i];
        const QString three =
            mtest::CutLandsat(folder + "/t" + c.name + ".tif", c.column, c.row, c.width, c.height);
        paths4[i] = folder + "/" + c.name + "4.tif";
        const Raster r = ReadRaster(three);
        GDALDatasetH in = GDALOpen(QFile::encodeName(three).constData(), GA_ReadOnly);
        GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(paths4[i]).constData(),
                                     r.width, r.height, 4, GDT_Byte, nullptr);
        GDALSetGeoTransform(ds, const_cast<double*>(r.gt));
        GDALSetProjection(ds, GDALGetProjectionRef(in));
        GDALClose(in);
        std::vector<uint8_t> cells(size_t(r.width) * r.height * 4);
        for (size_t p = 0; p < size_t(r.width) * r.height; ++p) {
            for (int b = 0; b < 3; ++b) {
                cells[p * 4 + b] = r.cells[p * 3 + b];
            }
            cells[p * 4 + 3] = 77;
        }
        ASSERT_EQ(GDALDatasetRasterIO(ds, GF_Write, 0, 0, r.width, r.height, cells.data(), r.width, r.height,
                                      GDT_Byte, 4, nullptr, 4, 4 * r.width, 1),
                  CE_None);
        GDALClose(ds);
        ASSERT_EQ(doc->AddOrtho(paths4[i], 0, 0), 1);
        COrtho* o = doc->m_Orthos.at(QFileInfo(paths4[i]).fileName());
        CadEntity* e = AddRectangle(doc->m_pCad, kSeamLinesLayer, scene, i == 0 ? 0 : kSeamColumn, 0,
                                    i == 0 ? kSeamColumn : 349, 220);
        CadEntityPutUserPtr(e, o);
        o->SeamlinePolylines.push_back(e);
    }
    doc->SeamlineScaleFactor = 2;
    ASSERT_EQ(doc->DoSave(folder + "/site.kvp"), 1);
    ui.AnswerMessage(IDYES);
    ui.AnswerFile(folder + "/four.tif");
    EXPECT_EQ(runner.Press(*doc), IDOK);
    GDALDatasetH ds = GDALOpen(QFile::encodeName(folder + "/four.tif").constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    ASSERT_EQ(GDALGetRasterCount(ds), 4);
    EXPECT_EQ(GDALGetRasterColorInterpretation(GDALGetRasterBand(ds, 1)), GCI_RedBand);
    EXPECT_NE(GDALGetRasterColorInterpretation(GDALGetRasterBand(ds, 4)), GCI_AlphaBand);
    GDALClose(ds);
    const Raster four = ReadRaster(folder + "/four.tif");
    int corrected = 0;
    for (int y = 0; y < four.height; y += 2) {
        for (int x = 0; x < four.width; x += 2) {
            if (four.at(x, y, 0)) {
                ASSERT_EQ(four.at(x, y, 3), 77) << x << "," << y;
                ++corrected;
            }
        }
    }
    EXPECT_GT(corrected, 10000);
}

TEST_F(MosaicBuild, AbortRemovesTheTileBeingWrittenAndKeepsFinishedOnes) {
    AddCrops();
    AddTiles();
    ui.AnswerFile(folder);
    ui.AnswerMessage(IDNO);
    runner.onProgress = [](CBuildMosaicDlg& dialog, int value) {
        if (dialog.m_ProgressTiles.GetPos() == 1 && value > 0 && dialog.m_btnAbort.isEnabled()) {
            dialog.m_btnAbort.click();
        }
    };
    EXPECT_EQ(runner.Press(*doc), IDOK);
    EXPECT_TRUE(QFile::exists(folder + "/T-00-00.tif"));
    EXPECT_TRUE(QFile::exists(folder + "/T-00-00.tfw"));
    for (const char* name : {"T-00-01", "T-01-00", "T-01-01"}) {
        EXPECT_FALSE(QFile::exists(folder + "/" + name + ".tif")) << name;
        EXPECT_FALSE(QFile::exists(folder + "/" + name + ".tfw")) << name;
    }
    EXPECT_TRUE(QDir(folder).entryList({".*"}, QDir::Files | QDir::Hidden).isEmpty());
    for (COrtho* o : orthos) {
        EXPECT_EQ(CadEntityGetColor(o->SeamlinePolylines.front()), 256);
        EXPECT_EQ(CadEntityGetFilled(o->SeamlinePolylines.front()), 0);
    }
    EXPECT_EQ(CadLayerGetVisible(CadGetLayerByName(doc->m_pCad, "Tiles")), 0);
}

TEST(MosaicOrder, CentreFirstOrderMedianAndRobustOverlapMeans) {
    mtest::SyntheticImages images;
    COrtho* big = images.Add(3000, 3000, 0, 0);
    COrtho* small = images.Add(2000, 2000, 10000, 0);
    std::vector<COrtho*> list = {big, small};
    double largest = 0, median = 0;
    ASSERT_EQ(SortOrthophotosFromCenter(list, nullptr, nullptr, &largest, &median), 1);
    EXPECT_EQ(median, 9e6);
    EXPECT_EQ(largest, 9e6);
    std::vector<COrtho*> none;
    EXPECT_EQ(SortOrthophotosFromCenter(none, nullptr, nullptr, &largest, &median), 0);

    // Centres at -10, 10 and 0 (all 2 wide): the middle one first, then the two equidistant
    // ones in their array order.
    mtest::SyntheticImages row;
    COrtho* left = row.Add(2, 2, -11, 1);
    COrtho* right = row.Add(2, 2, 9, 1);
    COrtho* middle = row.Add(2, 2, -1, 1);
    std::vector<COrtho*> three = {right, left, middle};
    ASSERT_EQ(SortOrthophotosFromCenter(three, nullptr, nullptr, &largest, &median), 1);
    EXPECT_EQ(three, (std::vector<COrtho*>{middle, right, left}));
    const Wml::Point2 start(-20, 0);
    three = {right, left, middle};
    SortOrthophotosFromCenter(three, nullptr, &start, &largest, &median);
    EXPECT_EQ(three, (std::vector<COrtho*>{left, middle, right}));

    // Values 10 and 11 in both images give the truncated mean 10; a black pixel in either is
    // left out.
    cv::Mat a(1, 3, CV_8UC3), b(1, 3, CV_8UC3);
    a.at<cv::Vec3b>(0, 0) = {10, 10, 10};
    a.at<cv::Vec3b>(0, 1) = {11, 11, 11};
    a.at<cv::Vec3b>(0, 2) = {200, 200, 200};
    b.at<cv::Vec3b>(0, 0) = {20, 30, 40};
    b.at<cv::Vec3b>(0, 1) = {21, 31, 41};
    b.at<cv::Vec3b>(0, 2) = {0, 0, 0};
    OverlapMeans ma, mb;
    ASSERT_EQ(ComputeOverlapColorMeans(a, ma, b, mb), 1);
    EXPECT_EQ(ma.red, 10);
    EXPECT_EQ(mb.red, 40);
    EXPECT_EQ(mb.blue, 20);
    // No pixel valid in both.
    a.at<cv::Vec3b>(0, 0) = {0, 0, 0};
    a.at<cv::Vec3b>(0, 1) = {0, 0, 0};
    EXPECT_EQ(ComputeOverlapColorMeans(a, ma, b, mb), 0);
    EXPECT_EQ(ComputeOverlapColorMeans(a, ma, cv::Mat(2, 3, CV_8UC3), mb), 0);
    cv::Mat g1 = (cv::Mat_<uchar>(1, 2) << 10, 11), g2 = (cv::Mat_<uchar>(1, 2) << 5, 6);
    ASSERT_EQ(ComputeOverlapColorMeans(g1, ma, g2, mb), 1);
    EXPECT_EQ(ma.grey, 10);
    EXPECT_EQ(mb.grey, 5);
}

TEST(MosaicFiles, WorldFileOverviewsLabelMapAndPixelRoutines) {
    const double gt[6] = {1000, 0.5, 0, 2000, 0, -0.5};
    EXPECT_EQ(WorldFileText(gt),
              QString("0.500000000000000000000000000000\n0.000000000000000000000000000000\n"
                      "0.000000000000000000000000000000\n-0.500000000000000000000000000000\n"
                      "1000.250000000000000000000000000000\n1999.750000000000000000000000000000"));
    EXPECT_EQ(WorldFilePath("/data/out/T-00-00.tif"), "/data/out/T-00-00.tfw");
    EXPECT_EQ(kv::OverviewLevelCount(3000, 2000), 2);
    EXPECT_EQ(kv::OverviewLevelCount(1100, 800), 1);
    EXPECT_EQ(kv::OverviewLevelCount(1000, 1000), 0);

    // An island (first orthophoto) in the hole of a frame (second): one even-odd fill per
    // orthophoto keeps the island its owner's.
    CadDrawing* drawing = CadCreate();
    auto square = [drawing](double a, double b) {
        CadClearVertices();
        CadAddVertex(a, 100 - a, 0);
        CadAddVertex(b, 100 - a, 0);
        CadAddVertex(b, 100 - b, 0);
        CadAddVertex(a, 100 - b, 0);
        return CadAddPolyline(drawing, 0, 1);
    };
    {
        COrtho island(nullptr), frame(nullptr);
        island.SeamlinePolylines = {square(40, 60)};
        frame.SeamlinePolylines = {square(0, 100), square(30, 70)};
        CMosaicTile tile(nullptr);
        tile.m_minX = 0;
        tile.m_maxY = 100;
        tile.m_geoTransform[1] = 1;
        tile.m_geoTransform[5] = -1;
        tile.m_width = tile.m_height = 100;
        tile.m_Orthos = {&island, &frame};
        const cv::Mat labels = tile.BuildLabelMap(2, 3);
        ASSERT_EQ(labels.size(), cv::Size(56, 56));
        auto label = [&labels](int x, int y) {
            const cv::Vec3b c = labels.at<cv::Vec3b>(y / 2 + 3, x / 2 + 3);
            return c[0] * 65536 + c[1] * 256 + c[2];
        };
        EXPECT_EQ(label(50, 50), 0);
        EXPECT_EQ(label(10, 10), 1);
        EXPECT_EQ(label(34, 50), 0xFFFFFF);
    }
    CadDelete(drawing);

    cv::Mat image = CreateImageForGDALType(cv::Size(2, 1), GDT_Int16, 3);
    ASSERT_EQ(image.type(), CV_16SC3);
    const double values[3] = {-3.7, 3.7, 32767};
    SetImagePixelFromDoubles(image, GDT_Int16, 1, 0, values);
    EXPECT_EQ(image.at<cv::Vec3s>(0, 1), cv::Vec3s(-3, 3, 32767));
    EXPECT_TRUE(CreateImageForGDALType(cv::Size(2, 1), GDT_CInt16, 1).empty());
}
