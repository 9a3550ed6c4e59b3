// DWG drawings reach us as OGR features of GDAL's CAD driver. No DWG file can be made here, so
// the conversion of features is shown on a data source in memory with the same kinds of
// features; a file the driver cannot read is refused.
#include <QFile>

#include <cmath>
#include <map>
#include <memory>

#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include "konvertel/DrawingShape.h"
#include "konvertel/DwgReader.h"
#include "platform/cad/Cad.h"
#include "support/TestEnv.h"

namespace {

struct DrawingDeleter {
    void operator()(CadDrawing* d) const { CadDelete(d); }
};
using Drawing = std::unique_ptr<CadDrawing, DrawingDeleter>;

}  // namespace

TEST(KonvertelDwg, FeaturesBecomeEntitiesOnTheirLayers) {
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("Memory"), "", 0, 0, 0, GDT_Unknown, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRLayerH walls = GDALDatasetCreateLayer(ds, "walls", nullptr, wkbUnknown, nullptr);
    OGRLayerH notes = GDALDatasetCreateLayer(ds, "notes", nullptr, wkbUnknown, nullptr);
    for (OGRLayerH l : {walls, notes}) {
        OGRFieldDefnH colour = OGR_Fld_Create("Color", OFTIntegerList);
        OGRFieldDefnH text = OGR_Fld_Create("Text", OFTString);
        OGR_L_CreateField(l, colour, TRUE);
        OGR_L_CreateField(l, text, TRUE);
        OGR_Fld_Destroy(colour);
        OGR_Fld_Destroy(text);
    }
    auto add = [&](OGRLayerH l, const char* wkt, const char* text = nullptr, const char* style = nullptr,
                   bool red = false) {
        OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(l));
        OGRGeometryH g = nullptr;
        char* w = const_cast<char*>(wkt);
        ASSERT_EQ(OGR_G_CreateFromWkt(&w, nullptr, &g), OGRERR_NONE);
        OGR_F_SetGeometryDirectly(f, g);
        if (text)
            OGR_F_SetFieldString(f, 1, text);
        if (style)
            OGR_F_SetStyleString(f, style);
        if (red) {
            const int rgb[3] = {255, 0, 0};
            OGR_F_SetFieldIntegerList(f, 0, 3, rgb);
        }
        EXPECT_EQ(OGR_L_CreateFeature(l, f), OGRERR_NONE);
        OGR_F_Destroy(f);
    };
    add(walls, "LINESTRING Z (0 0 1,5 0 1)", nullptr, nullptr, true);
    add(walls, "LINESTRING (0 0,1 0,1 1,0 0)");
    add(walls, "POLYGON ((0 0,10 0,10 10,0 10,0 0),(2 2,3 2,3 3,2 2))");
    add(walls, "CIRCULARSTRING (0 0,1 1,2 0)");
    add(walls, "MULTIPOINT ((1 1),(2 2))");
    add(notes, "POINT (3 4)", "Beschriftung");
    add(notes, "POINT (5 6)", nullptr, "LABEL(f:\"Arial\",t:\"Höhe 12.5\",a:45,s:2.5g)");

    Drawing d(CadCreate());
    int entities = 0;
    ASSERT_NE(OgrReadDrawing(ds, d.get(), &entities), 0);
    GDALClose(ds);
    EXPECT_EQ(entities, 9);
    ASSERT_EQ(CadCountEntities(d.get()), 9);

    std::vector<CadEntity*> e;
    for (CadEntity* x = CadGetFirstEntity(d.get()); x; x = CadGetNextEntity(d.get(), x))
        e.push_back(x);
    double x, y, z;
    EXPECT_EQ(CadEntityGetType(e[0]), CAD_ENT_LINE);
    EXPECT_EQ(CadEntityGetColor(e[0]), CAD_COLOR_RED);
    EXPECT_EQ(CadTextOf(CadLayerGetName, CadEntityGetLayer(e[0])), "walls");
    // A ring given with its first point repeated is a closed polyline of three vertices.
    EXPECT_EQ(CadEntityGetType(e[1]), CAD_ENT_POLYLINE);
    EXPECT_EQ(CadPlineGetClosed(e[1]), 1);
    EXPECT_EQ(CadPlineGetNumVers(e[1]), 3);
    EXPECT_EQ(CadEntityGetColor(e[1]), CAD_COLOR_BYLAYER);
    // Both rings of the polygon.
    EXPECT_EQ(CadPlineGetNumVers(e[2]), 4);
    EXPECT_EQ(CadPlineGetNumVers(e[3]), 3);
    // The arc through (0,0), (1,1), (2,0) as points on its circle.
    ASSERT_GT(CadPlineGetNumVers(e[4]), 8);
    for (int i = 0; i < CadPlineGetNumVers(e[4]); ++i) {
        CadPlineGetVer(e[4], i, &x, &y, &z);
        EXPECT_NEAR(std::hypot(x - 1, y), 1, 1e-9);
    }
    EXPECT_EQ(CadEntityGetType(e[5]), CAD_ENT_POINT);
    EXPECT_EQ(CadEntityGetType(e[6]), CAD_ENT_POINT);
    ASSERT_EQ(CadEntityGetType(e[7]), CAD_ENT_TEXT);
    EXPECT_EQ(CadTextOf(CadTextGetText, e[7]), "Beschriftung");
    EXPECT_EQ(CadTextOf(CadLayerGetName, CadEntityGetLayer(e[7])), "notes");
    ASSERT_EQ(CadEntityGetType(e[8]), CAD_ENT_TEXT);
    EXPECT_EQ(CadTextOf(CadTextGetText, e[8]), "Höhe 12.5");
    EXPECT_DOUBLE_EQ(CadTextGetHeight(e[8]), 2.5);
    EXPECT_NEAR(CadTextGetAngle(e[8]), 3.14159265358979323846 / 4, 1e-12);
}

TEST(KonvertelDwg, FilesTheDriverCannotReadAreRefused) {
    const QString path = kvtest::TempDir() + "/not_a_drawing.dwg";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("AC1015") + QByteArray(4096, '\x2a'));
    f.close();
    Drawing d(CadCreate());
    std::string error;
    EXPECT_EQ(DwgReadDrawing(path, d.get(), &error), 0);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(DwgReadDrawing(kvtest::TempDir() + "/missing.dwg", d.get(), &error), 0);
    EXPECT_EQ(CadCountEntities(d.get()), 0);
}
