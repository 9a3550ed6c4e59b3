// Raster layers of a project: which files are taken as DEM, orthophoto or map, names that differ
// only in case, the overview question, rasters whose blocks cannot be read, image-definition ids
// and image places, and how layers leave the project when their image place is erased.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <functional>
#include <string>

#include <unistd.h>

#include <gdal.h>

#include "DocTestSupport.h"
#include "document/LayerFiles.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::DocTest;

// The layers' rasters: 40 x 30 Int16 cells with no data, 2 m cells from (1000, 5000), compressed
// so that large rasters stay small on disk.
kvtest::RasterSpec LayerRaster(GDALDataType type = GDT_Int16, int bands = 1) {
    kvtest::RasterSpec spec;
    spec.width = 40;
    spec.height = 30;
    spec.bands = bands;
    spec.type = type;
    spec.geoTransform = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
    spec.options = {"COMPRESS=DEFLATE", "TILED=YES"};
    return spec;
}

// Writes the raster with cells rising from left to right (10 + column + row); one of more than a
// million cells is left at zero.
QString MakeRaster(const QString& path, const kvtest::RasterSpec& spec = LayerRaster()) {
    if (spec.width * spec.height > 1000000) {
        return kvtest::WriteRaster(path, spec, nullptr);
    }
    return kvtest::WriteRaster(path, spec, [](int c, int r, int) { return 10.0 + c + r; });
}

// A copy of a file of tests/data in a new folder (the layers open their files for update).
QString CopyData(const QString& name, const QString& folder) {
    QString target = kvtest::NewTempFolder(folder) + QLatin1Char('/') + name;
    EXPECT_TRUE(QFile::copy(kvtest::DataPath(name), target));
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    return target;
}

QString LayerNameOf(CadEntity* entity) {
    char buffer[256] = {0};
    CadLayerGetName(CadEntityGetLayer(entity), buffer, sizeof(buffer));
    return QString::fromUtf8(buffer);
}

MapLayerInfo MapInfo(const QString& title, const QString& path, MapType type = MapTypeOther) {
    MapLayerInfo info;
    info.title = title;
    info.path = path;
    info.mapType = type;
    return info;
}

// Passes the engine's erase events to the project, as the plan view's event procedure does.
int ForwardErase(CadDrawing* drawing, CadEntity* entity) {
    if (CKelvaroDoc* doc = FindDocByCad(drawing)) {
        doc->OnImagePlaceErased(entity);
    }
    return 0;
}

class LayersTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        GDALAllRegister();
        CadOnEventEntErase(ForwardErase);
    }
    void TearDown() override {
        CadOnEventEntErase(nullptr);
        DocTest::TearDown();
    }
    kvtest::ScriptedInteraction ui;
};

TEST_F(LayersTest, FilesAreTakenByKindAndNamesDifferingInCaseAreOneLayer) {
    CKelvaroDoc doc;
    const QString upper = MakeRaster(kvtest::NewTempFolder("case1") + "/A.TIF");
    const QString lower = MakeRaster(kvtest::NewTempFolder("case2") + "/a.tif");
    ASSERT_EQ(doc.AddDEM(upper, 1), 1);
    ASSERT_EQ(doc.m_DEMs.count("a.tif"), 1u);
    // The layer name is lower case; the file is still found under its own name.
    EXPECT_EQ(doc.m_DEMs["a.tif"]->m_path, upper);
    EXPECT_EQ(doc.AddDEM(lower, 1), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"A DEM with this name is already loaded!"});
    EXPECT_EQ(doc.GetDEMCount(), 1);
    // Without messages the refusal is silent.
    EXPECT_EQ(doc.AddDEM(lower, 0), 0);
    EXPECT_EQ(ui.Messages().size(), 1u);

    ui.Clear();
    const QString grey = MakeRaster(kvtest::NewTempFolder("grey") + "/grey.tif", LayerRaster(GDT_Byte));
    EXPECT_EQ(doc.AddDEM(grey, 1), 0);
    EXPECT_EQ(doc.AddOrtho(grey, 1, 0), 1);
    EXPECT_EQ(doc.GetOrthoCount(), 1);

    // A Float32 raster without no data is a map, not a DEM.
    const QString olinda = CopyData("olinda_dem_utm25s.tif", "olinda");
    EXPECT_EQ(doc.AddDEM(olinda, 1), 0);
    EXPECT_TRUE(doc.AddMap(MapInfo("olinda", olinda), 1));
    EXPECT_EQ(doc.GetMapCount(), 1);

    // Six bands are no orthophoto; a missing file opens nothing.
    EXPECT_EQ(doc.AddOrtho(CopyData("L7_ETMs.tif", "l7"), 1, 0), 0);
    EXPECT_EQ(doc.AddDEM(kvtest::TempDir() + "/none.tif", 1), 0);
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Invalid DEM file!", "Invalid DEM file!", "Invalid Ortho file!",
                                              "Unable to open selected file!"}));
    EXPECT_EQ(doc.GetDEMCount(), 1);
}

TEST_F(LayersTest, MapRecordsOfOtherKindsAreRefusedOrPointedToTheirTool) {
    CKelvaroDoc doc;
    const QString path = CopyData("olinda_dem_utm25s.tif", "kinds");
    EXPECT_FALSE(doc.AddMap(MapInfo("m", path, MapTypeOrthophoto), 0));
    EXPECT_FALSE(doc.AddMap(MapInfo("m", path, MapTypeElevation), 0));
    EXPECT_FALSE(doc.AddMap(MapInfo("m", path, static_cast<MapType>(7)), 1));
    EXPECT_EQ(ui.MessageTexts(), (QStringList{"Use the Add Ortho tool to import this file",
                                              "Use the Add DEM tool to import this file"}));
    EXPECT_EQ(doc.GetMapCount(), 0);

    ASSERT_TRUE(doc.AddMap(MapInfo("m", path, MapTypeSlope), 1));
    EXPECT_FALSE(doc.AddMap(MapInfo("m", path, MapTypeSlope), 1));
    EXPECT_EQ(ui.MessageTexts().last(), "A Map with this name is already loaded!");
    CMapData* map = doc.m_Maps["m"];
    EXPECT_EQ(map->m_mapType, MapTypeSlope);
    ASSERT_TRUE(map->m_pMin && map->m_pMax);
    EXPECT_LT(*map->m_pMin, *map->m_pMax);
}

TEST_F(LayersTest, ALargeRasterWithoutOverviewsIsOfferedThreeLevels) {
    CKelvaroDoc doc;
    kvtest::RasterSpec big = LayerRaster();
    big.width = 5000;
    big.height = 3000;
    const QString yes = MakeRaster(kvtest::NewTempFolder("big1") + "/big.tif", big);
    const QString no = MakeRaster(kvtest::NewTempFolder("big2") + "/other.tif", big);
    ui.AnswerMessage(IDYES);
    ASSERT_EQ(doc.AddDEM(yes, 0), 1);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Pyramidal levels not found, generate now?"});
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Question);
    GDALRasterBandH band = GDALGetRasterBand(doc.m_DEMs["big.tif"]->m_pDataset, 1);
    ASSERT_EQ(GDALGetOverviewCount(band), 3);
    EXPECT_EQ(GDALGetRasterBandXSize(GDALGetOverview(band, 0)), 2500);
    EXPECT_EQ(GDALGetRasterBandXSize(GDALGetOverview(band, 2)), 625);

    ui.AnswerMessage(IDNO);
    ASSERT_EQ(doc.AddDEM(no, 0), 1);
    EXPECT_EQ(GDALGetOverviewCount(GDALGetRasterBand(doc.m_DEMs["other.tif"]->m_pDataset, 1)), 0);

    // A small raster is not asked about.
    ui.Clear();
    ASSERT_EQ(doc.AddDEM(MakeRaster(kvtest::NewTempFolder("small") + "/small.tif"), 0), 1);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
}

// Cuts the file short at 40 % of its bytes: it still opens, but the reads of its last blocks fail.
void CutShort(const QString& path) {
    ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() * 2 / 5));
}

// Overwrites the bytes of the second block of band 1 with bytes that do not decompress; the blocks
// after it, and so the end of the file, stay whole.
void Garble(const QString& path) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    ASSERT_NE(ds, nullptr);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    const char* offset = GDALGetMetadataItem(band, "BLOCK_OFFSET_1_0", "TIFF");
    const char* size = GDALGetMetadataItem(band, "BLOCK_SIZE_1_0", "TIFF");
    ASSERT_TRUE(offset && size);
    const qint64 at = QByteArray(offset).toLongLong();
    const int bytes = QByteArray(size).toInt();
    GDALClose(ds);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(at));
    ASSERT_EQ(file.write(QByteArray(bytes, '\xAB')), bytes);
}

TEST_F(LayersTest, RastersWhoseBlocksCannotBeReadAreRefusedAndLeftAsTheyAre) {
    CKelvaroDoc doc;
    struct Kind {
        const char* name;
        GDALDataType type;
        int bands;
        std::function<bool(const QString&, int)> add;
    };
    const Kind kinds[] = {
        {"dem", GDT_Int16, 1,
         [&](const QString& path, int messages) { return doc.AddDEM(path, messages) == 1; }},
        {"ortho", GDT_Byte, 3,
         [&](const QString& path, int messages) { return doc.AddOrtho(path, messages, 0) == 1; }},
        {"map", GDT_Float32, 1,
         [&](const QString& path, int messages) {
             return doc.AddMap(MapInfo(QFileInfo(path).fileName(), path), messages);
         }},
    };
    for (const Kind& kind : kinds) {
        for (const bool cut : {true, false}) {
            SCOPED_TRACE(std::string(kind.name) + (cut ? " cut short" : " garbled"));
            // Wide enough to be offered one overview level.
            kvtest::RasterSpec spec = LayerRaster(kind.type, kind.bands);
            spec.width = 1100;
            spec.height = 40;
            const QString folder =
                kvtest::NewTempFolder(QStringLiteral("unreadable_%1_%2").arg(kind.name).arg(cut));
            const QString name = QStringLiteral("%1_%2.tif").arg(kind.name, cut ? "cut" : "garbled");
            const QString path = MakeRaster(folder + "/" + name, spec);
            cut ? CutShort(path) : Garble(path);
            const QByteArray before = kvtest::FileBytes(path);

            ui.Clear();
            ui.AnswerMessage(IDYES);
            EXPECT_FALSE(kind.add(path, 1));
            // A file cut short is refused before the question; a garbled block is found by the
            // read of every block that comes before anything is written.
            const QStringList texts = ui.MessageTexts();
            ASSERT_EQ(texts.size(), cut ? 1 : 2) << texts.join(" | ").toStdString();
            if (!cut) {
                EXPECT_EQ(texts.first(), "Pyramidal levels not found, generate now?");
            }
            EXPECT_TRUE(QRegularExpression("^Unable to read " + QRegularExpression::escape(path) + ": \\S")
                            .match(texts.last())
                            .hasMatch())
                << texts.last().toStdString();
            EXPECT_EQ(ui.Messages().back().icon(), kv::MessageIcon::Warning);
            EXPECT_TRUE(kvtest::FileBytes(path) == before);
            EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{name});

            if (cut) {
                // The project's archive asks for no messages: the refusal is silent.
                ui.Clear();
                EXPECT_FALSE(kind.add(path, 0));
                EXPECT_TRUE(ui.MessageTexts().isEmpty());
            }
        }
    }
    EXPECT_EQ(doc.GetDEMCount() + doc.GetOrthoCount() + doc.GetMapCount(), 0);
}

// An RGB GeoTIFF (its bands share their blocks) with overviews in a side file, which GDAL stores
// band by band: whole it is taken as an orthophoto and as a map; with the side file cut at 40 %
// or by its last byte, where band 1's blocks are still whole, both refuse it.
TEST_F(LayersTest, AnRgbRasterWhoseSideFileOverviewsAreCutShortIsRefused) {
    for (const char* cut : {"whole", "40 %", "last byte"}) {
        SCOPED_TRACE(cut);
        const QString folder = kvtest::NewTempFolder(QStringLiteral("side_overviews"));
        kvtest::RasterSpec spec = LayerRaster(GDT_Byte, 3);
        spec.width = spec.height = 1100;
        spec.options = {"TILED=YES", "INTERLEAVE=PIXEL"};
        const QString path = kvtest::WriteRaster(folder + "/rgb.tif", spec, [](int c, int r, int b) {
            return static_cast<double>((c * 7919 + r * 104729 + b * 31) % 251);
        });
        GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr);
        ASSERT_EQ(kv::BuildOverviews(ds, nullptr, 2), 1);
        GDALClose(ds);
        const QString side = path + ".ovr";
        GDALDatasetH overviews = GDALOpen(QFile::encodeName(side).constData(), GA_ReadOnly);
        ASSERT_NE(overviews, nullptr);
        EXPECT_STREQ(GDALGetMetadataItem(overviews, "INTERLEAVE", "IMAGE_STRUCTURE"), "BAND");
        GDALClose(overviews);
        const qint64 bytes = QFileInfo(side).size();
        if (cut != std::string("whole")) {
            ASSERT_TRUE(QFile::resize(side, cut == std::string("40 %") ? bytes * 2 / 5 : bytes - 1));
        }
        const QByteArray before = kvtest::FileBytes(side);

        CKelvaroDoc doc;
        ui.Clear();
        const bool ortho = doc.AddOrtho(path, 1, 0) == 1;
        const bool map = doc.AddMap(MapInfo(QStringLiteral("rgb map"), path), 1);
        const bool whole = cut == std::string("whole");
        EXPECT_EQ(ortho, whole);
        EXPECT_EQ(map, whole);
        const QStringList texts = ui.MessageTexts();
        ASSERT_EQ(texts.size(), whole ? 0 : 2) << texts.join(" | ").toStdString();
        for (const QString& text : texts) {
            EXPECT_TRUE(QRegularExpression("^Unable to read " + QRegularExpression::escape(path) + ": \\S")
                            .match(text)
                            .hasMatch())
                << text.toStdString();
        }
        EXPECT_TRUE(kvtest::FileBytes(side) == before);
    }
}

TEST_F(LayersTest, IdsCountOnFromTheLargestAndImagePlacesLieOnTheRaster) {
    CKelvaroDoc doc;
    doc.m_DEMIdNames[1000] = "x";
    doc.m_DEMIdNames[1003] = "y";
    const QString path = MakeRaster(kvtest::NewTempFolder("ids") + "/Dem.Tif");
    ASSERT_EQ(doc.AddDEM(path, 0), 1);
    CDEM* dem = doc.m_DEMs["dem.tif"];
    EXPECT_EQ(dem->m_imageDefId, 1004);
    EXPECT_EQ(doc.m_DEMIdNames[1004], "dem.tif");
    ASSERT_NE(dem->m_imageEntity, nullptr);
    EXPECT_EQ(doc.m_DEMHandleNames[dem->m_imageEntity], "dem.tif");
    EXPECT_EQ(CadImageGetDefID(dem->m_imageEntity), 1004);

    int w = 0, h = 0;
    double x = 0, y = 0, z = 0, scale = 0;
    ASSERT_NE(CadImageGetPlace(dem->m_imageEntity, &w, &h, &x, &y, &z, &scale), 0);
    EXPECT_EQ(w, 40);
    EXPECT_EQ(h, 30);
    EXPECT_DOUBLE_EQ(x, 1000.0);
    EXPECT_DOUBLE_EQ(y, 5000.0 - 30 * 2.0);
    EXPECT_DOUBLE_EQ(scale, 0.5);
    EXPECT_EQ(LayerNameOf(dem->m_imageEntity), "dem.tif");
    // The colour range comes from the cells: 10 to 10 + 39 + 29.
    EXPECT_DOUBLE_EQ(dem->m_colorRangeMin, 10.0);
    EXPECT_DOUBLE_EQ(dem->m_colorRangeMax, 78.0);
    EXPECT_EQ(dem->m_colors.Get_Count(), 100);
    EXPECT_DOUBLE_EQ(doc.m_dDEMRangeMax, 78.0);

    ASSERT_EQ(
        doc.AddOrtho(MakeRaster(kvtest::NewTempFolder("ids2") + "/o.tif", LayerRaster(GDT_Byte, 3)), 0, 0),
        1);
    EXPECT_EQ(doc.m_Orthos["o.tif"]->m_imageDefId, 2000);
    ASSERT_TRUE(doc.AddMap(MapInfo("Slope Map", CopyData("olinda_dem_utm25s.tif", "ids3")), 0));
    CMapData* map = doc.m_Maps["Slope Map"];
    EXPECT_EQ(map->m_imageDefId, 4000);
    // A map's layer keeps the title's case.
    EXPECT_EQ(LayerNameOf(map->m_imageEntity), "Slope Map");

    doc.m_DEMIdNames.erase(1000);
    doc.m_DEMIdNames.erase(1003);
    doc.RemoveAllDEMs();
    ASSERT_EQ(doc.AddDEM(path, 0), 1);
    EXPECT_EQ(doc.m_DEMs["dem.tif"]->m_imageDefId, 1000);
}

TEST_F(LayersTest, ErasingAnImagePlaceRemovesItsLayerAndUntiesItsPolylines) {
    CKelvaroDoc doc;
    const QString path = MakeRaster(kvtest::NewTempFolder("erase") + "/e.tif");
    auto* dem = new CDEM(&doc);
    dem->m_path = path;
    CadClearVertices();
    for (auto [px, py] : {std::pair{1010.0, 4990.0}, {1050.0, 4990.0}, {1050.0, 4960.0}}) {
        CadAddVertex(px, py, 0);
    }
    CadEntity* polyline = CadAddPolyline(doc.m_pCad, 0, 1);
    dem->SeamlinePolylines = {nullptr, polyline};
    ASSERT_EQ(doc.LoadDEM(dem, 0, 1, 0, 0), 1);
    EXPECT_EQ(dem->SeamlinePolylines.size(), 1u);
    EXPECT_EQ(CadEntityGetUserPtr(polyline), dem);
    EXPECT_EQ(CadEntityGetUserData(polyline), CadEntityGetID(dem->m_imageEntity));

    CadEntity* image = dem->m_imageEntity;
    CadEntityErase(image, 1);  // as the operator's erase does
    EXPECT_EQ(doc.GetDEMCount(), 0);
    EXPECT_TRUE(doc.m_DEMIdNames.empty());
    EXPECT_TRUE(doc.m_DEMHandleNames.empty());
    EXPECT_NE(CadGetLayerByName(doc.m_pCad, "e.tif"), nullptr);
    EXPECT_FALSE(CadEntityGetDeleted(polyline));
    EXPECT_EQ(CadEntityGetUserPtr(polyline), nullptr);
    // Erasing an entity of no layer changes nothing.
    EXPECT_EQ(doc.OnImagePlaceErased(polyline), 0);

    // The program's own removal leaves the same state, and the layer can come back.
    ASSERT_EQ(
        doc.AddOrtho(MakeRaster(kvtest::NewTempFolder("erase2") + "/o.tif", LayerRaster(GDT_Byte, 3)), 0, 0),
        1);
    CadEntity* orthoImage = doc.m_Orthos["o.tif"]->m_imageEntity;
    doc.RemoveOrtho("o.tif");
    EXPECT_EQ(doc.GetOrthoCount(), 0);
    EXPECT_TRUE(doc.m_OrthoHandleNames.empty());
    EXPECT_TRUE(CadEntityGetDeleted(orthoImage));
    doc.RemoveOrtho("o.tif");
    ASSERT_EQ(doc.AddDEM(path, 0), 1);
    EXPECT_EQ(doc.m_DEMs["e.tif"]->m_imageDefId, 1000);
}

TEST_F(LayersTest, TheLegendRunsFromTheLastColourAtTheTopToTheFirstAtTheBottom) {
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(CopyData("elev.tif", "legend"), 0), 1);
    CDEM* dem = doc.m_DEMs["elev.tif"];
    MapLayerInfo info;
    info.title = "elev.tif";
    info.mapType = MapTypeDem;
    info.noRepaint = 1;
    doc.UpdateColorLegend(info);
    ASSERT_EQ(doc.m_ColorLegend.size(), cv::Size(42, 266));
    auto bgr = [&](int index) {
        long c = dem->m_colors.Get_Color(index);
        return cv::Vec3b(static_cast<uchar>((c >> 16) & 0xFF), static_cast<uchar>((c >> 8) & 0xFF),
                         static_cast<uchar>(c & 0xFF));
    };
    EXPECT_EQ(doc.m_ColorLegend.at<cv::Vec3b>(5, 5), bgr(96));
    EXPECT_EQ(doc.m_ColorLegend.at<cv::Vec3b>(260, 36), bgr(0));
    EXPECT_EQ(doc.m_ColorLegend.at<cv::Vec3b>(4, 20), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(doc.m_ColorLegend.at<cv::Vec3b>(100, 37), cv::Vec3b(0, 0, 0));
    EXPECT_DOUBLE_EQ(doc.m_dLegendMin, dem->m_colorRangeMin);
    EXPECT_DOUBLE_EQ(doc.m_dLegendMax, dem->m_colorRangeMax);

    // A slope map's record leaves the legend alone; an unknown title empties it.
    const cv::Mat before = doc.m_ColorLegend;
    info.mapType = MapTypeSlope;
    doc.UpdateColorLegend(info);
    EXPECT_EQ(doc.m_ColorLegend.data, before.data);
    info.mapType = MapTypeOther;
    doc.UpdateColorLegend(info);
    EXPECT_TRUE(doc.m_ColorLegend.empty());
}

TEST_F(LayersTest, OutputsAreComparedWithLayersAndInputsAsFilesWhateverTheirSpelling) {
    CKelvaroDoc doc;
    const QString dem = MakeRaster(kvtest::NewTempFolder("spelled") + "/dem.tif");
    const QString folder = QFileInfo(dem).absolutePath();
    ASSERT_EQ(doc.AddDEM(dem, 0), 1);
    const QString input = MakeRaster(folder + "/input.tif");
    ASSERT_TRUE(QDir(folder).mkdir("sub"));
    ASSERT_TRUE(QFile::link(folder, folder + "/linked"));
    ASSERT_TRUE(QFile::link(dem, folder + "/dem_link.tif"));
    ASSERT_EQ(::link(QFile::encodeName(input).constData(),
                     QFile::encodeName(folder + "/input_too.tif").constData()),
              0);
    ASSERT_TRUE(QFile::copy(input, folder + "/input_copy.tif"));
    const QString current = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder + "/sub"));

    // The layer's file and the input, however they are named: relative, through "..", through a
    // linked folder, a symbolic link, a hard link.
    for (const QString& output :
         {QString("../dem.tif"), folder + "/sub/../dem.tif", folder + "/./dem.tif",
          folder + "/linked/dem.tif", folder + "/dem_link.tif", QString("../input.tif"),
          folder + "/linked/input.tif", folder + "/input_too.tif"}) {
        EXPECT_TRUE(OutputOverInputs({output}, {input})) << output.toStdString();
    }
    // A file not written yet is compared by the place it would take.
    EXPECT_TRUE(OutputOverInputs({folder + "/linked/new.tif"}, {folder + "/new.tif"}));
    // Another file, even with the same bytes, and the input's own name when the command has none.
    for (const QString& output : {folder + "/input_copy.tif", folder + "/new.tif", QString("new.tif")}) {
        EXPECT_FALSE(OutputOverInputs({output}, {input})) << output.toStdString();
    }
    EXPECT_FALSE(OutputOverInputs({input}, {}));
    // The refusal tells the operator once.
    EXPECT_TRUE(RefuseOutputOverInputs({folder + "/new.tif", "../input.tif"}, {input}));
    EXPECT_FALSE(RefuseOutputOverInputs({folder + "/new.tif"}, {input}));
    EXPECT_EQ(ui.MessageTexts(), QStringList{"The file is used by a loaded layer"});
    QDir::setCurrent(current);
}

}  // namespace
