// Projects on disk: a project saved and opened again comes back with every layer, its settings
// and its linked polylines; the companion drawing never holds raster image places; layer files
// are found beside a moved project; missing files are named; old archives get default colours.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>

#include <cmath>
#include <new>
#include <string>

#include "DocTestSupport.h"
#include "raster/ArchiveStream.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"
#include "support/Limits.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::DocTest;

// A GeoTIFF of bands x 30 x 20 cells of the type, value 10 + column + row + offset, 10 m cells
// from (originX, 9000), with no data -9999 unless it holds bytes.
QString WriteRaster(const QString& path, int bands, GDALDataType type, double originX, float offset = 0.0f) {
    kvtest::RasterSpec spec;
    spec.width = 30;
    spec.height = 20;
    spec.bands = bands;
    spec.type = type;
    spec.hasNoData = type != GDT_Byte;
    spec.geoTransform = {originX, 10.0, 0.0, 9000.0, 0.0, -10.0};
    return kvtest::WriteRaster(path, spec, [offset](int c, int r, int) { return 10.0 + c + r + offset; });
}

CadEntity* AddSquare(CadDrawing* drawing, double x, double y) {
    CadClearVertices();
    CadAddVertex(x, y, 0);
    CadAddVertex(x + 50, y, 0);
    CadAddVertex(x + 50, y - 50, 0);
    return CadAddPolyline(drawing, 0, 1);
}

std::vector<int> IdsOf(const CadEntityList& list) {
    std::vector<int> ids;
    for (CadEntity* e : list) {
        ids.push_back(CadEntityGetID(e));
    }
    return ids;
}

class ProjectFileTest : public DocTest {
protected:
    void SetUp() override {
        DocTest::SetUp();
        GDALAllRegister();
    }
    kvtest::ScriptedInteraction ui;
};

TEST_F(ProjectFileTest, AProjectComesBackWithItsLayersSettingsAndLinks) {
    const QString folder = kvtest::NewTempFolder("roundtrip");
    const QString project = folder + "/site.kvp";
    std::vector<int> linkedA, linkedOrtho;
    {
        CKelvaroDoc doc;
        ASSERT_TRUE(doc.AddDEM(WriteRaster(folder + "/a.tif", 1, GDT_Float32, 1000.0), 0));
        ASSERT_TRUE(doc.AddDEM(WriteRaster(folder + "/b.tif", 1, GDT_Float32, 1300.0, 100.0f), 0));
        ASSERT_TRUE(doc.AddOrtho(WriteRaster(folder + "/o.tif", 3, GDT_Byte, 1000.0), 0, 0));
        MapLayerInfo info;
        info.title = "slope";
        info.path = WriteRaster(folder + "/slope.tif", 1, GDT_Float32, 1000.0);
        info.mapType = MapTypeSlope;
        info.ownPalette = 1;
        info.paletteIndex = 4;
        info.revert = true;
        info.colorCount = 20;
        info.rangeMin = 12.0;
        info.rangeMax = 40.0;
        ASSERT_TRUE(doc.AddMap(info, 0));

        CDEM* a = doc.m_DEMs.at("a.tif");
        a->m_colorRangeMin = 15.0;
        a->m_colorRangeMax = 45.0;
        a->m_colors.Set_Palette(3, true, 50);
        a->m_colors.m_bInvert = true;
        a->SeamlinePolylines = {AddSquare(doc.m_pCad, 1050, 8950), AddSquare(doc.m_pCad, 1150, 8950)};
        linkedA = IdsOf(a->SeamlinePolylines);
        COrtho* ortho = doc.m_Orthos.at("o.tif");
        ortho->SeamlinePolylines = {AddSquare(doc.m_pCad, 1100, 8900)};
        linkedOrtho = IdsOf(ortho->SeamlinePolylines);

        // An edit of b that the save writes back into b.tif.
        CDEM* b = doc.m_DEMs.at("b.tif");
        ASSERT_TRUE(b->LoadData());
        b->m_grid.at<float>(2, 3) = 777.0f;
        b->m_modified = 1;
        doc.m_dOrthoOpacity = 0.4;
        doc.m_bOrthoVisible = 0;
        doc.SeamlineScaleFactor = 2.5;

        ASSERT_EQ(doc.RasterImageIds().size(), 4);
        ASSERT_EQ(doc.DoSave(project), 1);
        EXPECT_EQ(b->m_modified, 0);
        EXPECT_FALSE(doc.IsModified());
        // The live drawing keeps its image places.
        EXPECT_NE(CadGetEntityByID(doc.m_pCad, CadEntityGetID(a->m_imageEntity)), nullptr);
        EXPECT_TRUE(ui.MessageTexts().isEmpty());
    }

    // The companion drawing: the three polylines with their ids, no image place.
    CadDrawing* companion = CadCreate();
    ASSERT_TRUE(CadFileOpen(companion, 0, QFile::encodeName(folder + "/site.vec").constData()));
    int polylines = 0;
    for (CadEntity* e = CadGetFirstEntity(companion); e; e = CadGetNextEntity(companion, e)) {
        EXPECT_NE(CadEntityGetType(e), CAD_ENT_IMAGE);
        polylines += CadEntityGetType(e) == CAD_ENT_POLYLINE;
    }
    EXPECT_EQ(polylines, 3);
    CadDelete(companion);

    CKelvaroDoc doc;
    ASSERT_EQ(doc.OnOpenDocument(project), 1);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
    EXPECT_EQ(doc.m_nLoadedVersion, 6);
    ASSERT_EQ(doc.GetDEMCount(), 2);
    ASSERT_EQ(doc.GetOrthoCount(), 1);
    ASSERT_EQ(doc.GetMapCount(), 1);
    EXPECT_EQ(CadGetDirty(doc.m_pCad), 0);

    CDEM* a = doc.m_DEMs.at("a.tif");
    EXPECT_EQ(a->m_colorRangeMin, 15.0);
    EXPECT_EQ(a->m_colorRangeMax, 45.0);
    EXPECT_EQ(a->m_colors.m_paletteIndex, 3);
    EXPECT_EQ(a->m_colors.m_colorCount, 50);
    EXPECT_TRUE(a->m_colors.m_bRevert);
    EXPECT_TRUE(a->m_colors.m_bInvert);
    EXPECT_EQ(IdsOf(a->SeamlinePolylines), linkedA);
    for (CadEntity* e : a->SeamlinePolylines) {
        EXPECT_EQ(CadEntityGetUserPtr(e), a);
    }
    EXPECT_EQ(IdsOf(doc.m_Orthos.at("o.tif")->SeamlinePolylines), linkedOrtho);
    EXPECT_EQ(doc.m_dOrthoOpacity, 0.4);
    EXPECT_EQ(doc.m_bOrthoVisible, 0);
    EXPECT_EQ(CadEntityGetVisible(doc.m_Orthos.at("o.tif")->m_imageEntity), 0);
    EXPECT_EQ(doc.SeamlineScaleFactor, 2.5);

    CDEM* b = doc.m_DEMs.at("b.tif");
    ASSERT_TRUE(b->LoadData());
    EXPECT_EQ(b->m_grid.at<float>(2, 3), 777.0f);
    EXPECT_EQ(b->m_grid.at<float>(2, 4), 10.0f + 4 + 2 + 100.0f);

    CMapData* map = doc.m_Maps.at("slope");
    EXPECT_EQ(map->m_mapType, MapTypeSlope);
    EXPECT_EQ(*map->m_pRangeMin, 12.0);
    EXPECT_EQ(*map->m_pRangeMax, 40.0);
    EXPECT_EQ(map->m_colors.m_paletteIndex, 4);
    EXPECT_EQ(map->m_colors.m_colorCount, 20);
    EXPECT_TRUE(map->m_colors.m_bRevert);
}

TEST_F(ProjectFileTest, AMovedProjectFindsItsFilesBesideItAndNamesTheMissingOnes) {
    const QString original = kvtest::NewTempFolder("original");
    {
        CKelvaroDoc doc;
        ASSERT_TRUE(doc.AddDEM(WriteRaster(original + "/dem.tif", 1, GDT_Float32, 1000.0), 0));
        ASSERT_TRUE(doc.AddOrtho(WriteRaster(original + "/photo.tif", 3, GDT_Byte, 1000.0), 0, 0));
        ASSERT_EQ(doc.DoSave(original + "/p.kvp"), 1);
    }
    const QString moved = kvtest::NewTempFolder("moved");
    for (const char* name : {"p.kvp", "p.vec", "dem.tif"}) {
        ASSERT_TRUE(QFile::rename(original + "/" + name, moved + "/" + name));
    }
    QFile::remove(original + "/photo.tif");

    CKelvaroDoc doc;
    ASSERT_EQ(doc.OnOpenDocument(moved + "/p.kvp"), 1);
    ASSERT_EQ(doc.GetDEMCount(), 1);
    EXPECT_EQ(doc.m_DEMs.at("dem.tif")->m_path, moved + "/dem.tif");
    EXPECT_EQ(doc.GetOrthoCount(), 0);
    ASSERT_EQ(ui.MessageTexts().size(), 1);
    EXPECT_TRUE(ui.MessageTexts()[0].contains(original + "/photo.tif"));
}

TEST_F(ProjectFileTest, ADemOfAnOldArchiveGetsTheDefaultColoursOverItsElevations) {
    const QString folder = kvtest::NewTempFolder("old");
    const QString dem = WriteRaster(folder + "/old.tif", 1, GDT_Float32, 1000.0);
    QFile file(folder + "/old.kvp");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    kv::ArchiveWriter out(&file);
    out.WriteInt32(4);
    out.WriteInt32(1);
    out.WriteDouble(11.0);
    out.WriteDouble(57.0);
    out.WriteString("old.tif");
    out.WriteString(dem);
    out.WriteUInt64(0);
    out.WriteInt32(0);
    out.WriteInt32(1);
    out.WriteDouble(0.7);
    out.WriteDouble(0.0);
    out.WriteDouble(0.0);
    file.close();

    CKelvaroDoc doc;
    ASSERT_EQ(doc.OnOpenDocument(folder + "/old.kvp"), 1);
    CDEM* d = doc.m_DEMs.at("old.tif");
    EXPECT_EQ(doc.m_nLoadedVersion, 4);
    EXPECT_EQ(d->m_colors.m_paletteIndex, 0);
    EXPECT_EQ(d->m_colors.m_colorCount, 100);
    EXPECT_EQ(d->m_colorRangeMin, 11.0);
    EXPECT_EQ(d->m_colorRangeMax, 57.0);
    EXPECT_EQ(doc.m_dDEMRangeMin, 11.0);
    EXPECT_EQ(doc.m_dOrthoOpacity, 0.7);
}

TEST_F(ProjectFileTest, ADamagedArchiveOpensNothing) {
    const QString folder = kvtest::NewTempFolder("damaged");
    {
        CKelvaroDoc doc;
        ASSERT_TRUE(doc.AddDEM(WriteRaster(folder + "/d.tif", 1, GDT_Float32, 1000.0), 0));
        ASSERT_EQ(doc.DoSave(folder + "/p.kvp"), 1);
    }
    QFile archive(folder + "/p.kvp");
    ASSERT_TRUE(archive.open(QIODevice::ReadWrite));
    const QByteArray bytes = archive.readAll();
    archive.resize(bytes.size() - 6);
    archive.close();
    CKelvaroDoc doc;
    EXPECT_EQ(doc.OnOpenDocument(folder + "/p.kvp"), 0);
    EXPECT_EQ(doc.GetDEMCount(), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"File reading error"}));
}

}  // namespace

// A project with a million vertices of contour lines is saved within little memory beyond them, and
// its companion is the drawing that leaves the image places out: the bytes that saving the whole
// drawing, opening it and erasing them would write.
TEST_F(ProjectFileTest, ALargeDrawingIsSavedWithoutACopyOfItAndWithoutItsImagePlaces) {
    const QString folder = kvtest::NewTempFolder("large");
    CKelvaroDoc doc;
    ASSERT_TRUE(doc.AddDEM(WriteRaster(folder + "/a.tif", 1, GDT_Float32, 1000.0), 0));
    ASSERT_TRUE(doc.AddOrtho(WriteRaster(folder + "/o.tif", 3, GDT_Byte, 1000.0), 0, 0));
    for (int line = 0; line < 400; ++line) {
        CadClearVertices();
        for (int i = 0; i < 2500; ++i) {
            CadAddVertex(1000 + 0.1 * i, 8800 + 0.5 * line + 0.2 * std::sin(i * 0.1), line);
        }
        ASSERT_NE(CadAddPolyline(doc.m_pCad, 5, line % 2), nullptr);
        CadAddText(doc.m_pCad, std::to_string(line).c_str(), 1000, 8800 + 0.5 * line, line);
    }
    const QString project = folder + "/site.kvp";
    EXPECT_TRUE(kvtest::RunWithinMemory(12u << 20, [&] {
        try {
            return doc.DoSave(project) == 1;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }));
    ASSERT_EQ(doc.DoSave(project), 1);
    EXPECT_FALSE(doc.IsModified());
    ASSERT_EQ(doc.RasterImageIds().size(), 2);
    for (int id : doc.RasterImageIds()) {
        EXPECT_NE(CadGetEntityByID(doc.m_pCad, id), nullptr);  // the live drawing keeps them
    }

    const QByteArray whole = QFile::encodeName(folder + "/whole.vec"),
                     without = QFile::encodeName(folder + "/without.vec");
    ASSERT_NE(CadFileSaveAs(doc.m_pCad, 0, whole.constData()), 0);
    CadDrawing* copy = CadCreate();
    ASSERT_NE(CadFileOpen(copy, 0, whole.constData()), 0);
    for (int id : doc.RasterImageIds()) {
        CadEntityErase(CadGetEntityByID(copy, id), 1);
    }
    ASSERT_NE(CadFileSaveAs(copy, 0, without.constData()), 0);
    CadDelete(copy);
    EXPECT_TRUE(kvtest::FileBytes(folder + "/site.vec") == kvtest::FileBytes(folder + "/without.vec"));
}

// A map record that asks for two billion colours: the project is refused with the reader's
// message before any palette is built, within the memory a 300-byte file warrants.
TEST_F(ProjectFileTest, AHostileColourCountIsRefusedWithinTheFilesMemory) {
    const QString folder = kvtest::NewTempFolder("hostile");
    ProjectArchiveData data;
    MapArchiveRecord map;
    map.name = QStringLiteral("slope");
    map.path = WriteRaster(folder + "/slope.tif", 1, GDT_Float32, 500000.0);
    map.storedCode = 3;
    map.paletteIndex = 9;
    map.colorCount = 2000000000;
    data.maps.push_back(map);
    const QString project = folder + "/hostile.kvp";
    ASSERT_EQ(WriteProjectArchive(project, data), 1);
    ASSERT_LT(QFileInfo(project).size(), 400);

    EXPECT_TRUE(kvtest::RunWithinMemory(64u << 20, [&] {
        kvtest::ScriptedInteraction shown;
        CKelvaroDoc doc;
        return doc.OnOpenDocument(project) == 0 && doc.m_Maps.empty() &&
               shown.MessageTexts() == QStringList{"File reading error"};
    }));
}
