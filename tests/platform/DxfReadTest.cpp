// Reading DXF drawings of other programs: real files, the older and newer forms of entities,
// blocks the engine cannot keep as references, and damaged or foreign files.
#include <QFile>

#include <cmath>
#include <map>
#include <memory>
#include <string>

#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include "konvertel/DrawingShape.h"
#include "konvertel/DxfReader.h"
#include "platform/cad/Cad.h"
#include "support/TestEnv.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct DrawingDeleter {
    void operator()(CadDrawing* d) const { CadDelete(d); }
};
using Drawing = std::unique_ptr<CadDrawing, DrawingDeleter>;

// Reads DXF text; the drawing is null when the read failed.
Drawing Read(const std::string& text, std::string* error = nullptr) {
    Drawing d(CadCreate());
    std::string why;
    if (!DxfReadDrawingData(QByteArray::fromStdString(text), d.get(), &why)) {
        if (error)
            *error = why;
        return nullptr;
    }
    return d;
}

// An ENTITIES section around the given records (and a BLOCKS section when given).
std::string Entities(const std::string& records, const std::string& blocks = std::string()) {
    std::string s;
    if (!blocks.empty())
        s += "0\nSECTION\n2\nBLOCKS\n" + blocks + "0\nENDSEC\n";
    return s + "0\nSECTION\n2\nENTITIES\n" + records + "0\nENDSEC\n0\nEOF\n";
}

std::string LayerOf(CadEntity* e) {
    return CadTextOf(CadLayerGetName, CadEntityGetLayer(e));
}

std::vector<CadEntity*> All(CadDrawing* d) {
    std::vector<CadEntity*> v;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e))
        v.push_back(e);
    return v;
}

}  // namespace

TEST(DxfRead, RealDrawingsGiveTheirEntitiesLayersAndExtents) {
    // Counts and extents as ogrinfo reports them and as the files' coordinates give them.
    struct Expect {
        const char* file;
        int lines;
        std::map<std::string, int> perLayer;
        std::map<std::string, int> colours;
        double l, b, r, t;
    };
    const Expect cases[] = {
        {"example007.dxf",
         20,
         {{"cutout1", 4}, {"cutout2", 8}, {"dorn", 8}},
         {{"cutout1", 6}, {"cutout2", 5}, {"dorn", 3}, {"0", 7}},
         -11,
         0,
         11,
         31},
        {"example008.dxf",
         49,
         {{"B", 17}, {"G", 16}, {"E", 12}, {"X", 4}},
         {{"B", 7}, {"G", 7}, {"E", 7}, {"X", 7}},
         0,
         0,
         150,
         150},
    };
    for (const Expect& c : cases) {
        Drawing d(CadCreate());
        std::string error;
        DxfReadReport report;
        ASSERT_NE(DxfReadDrawing(kvtest::DataPath(c.file), d.get(), &error, &report), 0) << error;
        EXPECT_EQ(report.entities, c.lines) << c.file;
        EXPECT_EQ(report.skipped, 0) << c.file;
        ASSERT_EQ(CadCountEntities(d.get()), c.lines) << c.file;
        std::map<std::string, int> perLayer;
        for (CadEntity* e : All(d.get())) {
            EXPECT_EQ(CadEntityGetType(e), CAD_ENT_LINE);
            EXPECT_EQ(CadEntityGetColor(e), CAD_COLOR_BYLAYER);
            ++perLayer[LayerOf(e)];
        }
        EXPECT_EQ(perLayer, c.perLayer) << c.file;
        for (const auto& [name, colour] : c.colours) {
            CadLayer* l = CadGetLayerByName(d.get(), name.c_str());
            ASSERT_NE(l, nullptr) << name;
            EXPECT_EQ(CadLayerGetColor(l), colour) << name;
            EXPECT_EQ(CadLayerGetLineType(l), CAD_LTYPE_CONTINUOUS) << name;
        }
        double l, b, r, t;
        ASSERT_NE(CadGetExtents(d.get(), &l, &b, &r, &t), 0);
        EXPECT_DOUBLE_EQ(l, c.l);
        EXPECT_DOUBLE_EQ(b, c.b);
        EXPECT_DOUBLE_EQ(r, c.r);
        EXPECT_DOUBLE_EQ(t, c.t);
    }
}

TEST(DxfRead, DrawingsWrittenByGdalAreRead) {
    // Another program's writer: GDAL's DXF driver writes points, polylines, filled polygons
    // (as hatches) and labels (as texts), each on the layer its feature names.
    const QString path = kvtest::TempDir() + "/by_gdal.dxf";
    GDALDatasetH ds =
        GDALCreate(GDALGetDriverByName("DXF"), path.toUtf8().constData(), 0, 0, 0, GDT_Unknown, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRLayerH layer = GDALDatasetCreateLayer(ds, "entities", nullptr, wkbUnknown, nullptr);
    ASSERT_NE(layer, nullptr);
    auto add = [&](const char* wkt, const char* layerName, const char* style) {
        OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        OGRGeometryH g = nullptr;
        char* text = const_cast<char*>(wkt);
        ASSERT_EQ(OGR_G_CreateFromWkt(&text, nullptr, &g), OGRERR_NONE);
        OGR_F_SetGeometryDirectly(f, g);
        OGR_F_SetFieldString(f, OGR_F_GetFieldIndex(f, "Layer"), layerName);
        if (style)
            OGR_F_SetStyleString(f, style);
        EXPECT_EQ(OGR_L_CreateFeature(layer, f), OGRERR_NONE);
        OGR_F_Destroy(f);
    };
    add("POINT Z (1 2 3)", "points", nullptr);
    add("LINESTRING Z (0 0 1,10 0 2,10 10 3)", "lines", nullptr);
    add("POLYGON ((0 0,20 0,20 20,0 20,0 0),(5 5,6 5,6 6,5 5))", "areas", nullptr);
    add("POINT (7 8)", "labels", "LABEL(f:\"Arial\",t:\"Hallo\",a:30,s:2g)");
    GDALClose(ds);

    Drawing d(CadCreate());
    std::string error;
    ASSERT_NE(DxfReadDrawing(path, d.get(), &error), 0) << error;
    std::map<std::string, CadEntity*> byLayer;
    for (CadEntity* e : All(d.get()))
        byLayer[LayerOf(e)] = e;
    ASSERT_EQ(byLayer.size(), 4u);
    double x, y, z;
    ASSERT_EQ(CadEntityGetType(byLayer["points"]), CAD_ENT_POINT);
    CadPointGet(byLayer["points"], &x, &y, &z);
    EXPECT_DOUBLE_EQ(z, 3);
    CadEntity* line = byLayer["lines"];
    ASSERT_EQ(CadEntityGetType(line), CAD_ENT_POLYLINE);
    ASSERT_EQ(CadPlineGetNumVers(line), 3);
    CadPlineGetVer(line, 2, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, 10);
    EXPECT_DOUBLE_EQ(y, 10);
    EXPECT_DOUBLE_EQ(z, 3);
    CadEntity* area = byLayer["areas"];
    ASSERT_EQ(CadEntityGetType(area), CAD_ENT_HATCH);
    EXPECT_EQ(CadPlineGetNumVers(area), 4);  // the outer ring; the hole is left out
    EXPECT_DOUBLE_EQ(CadEntityGetRight(area), 20);
    CadEntity* label = byLayer["labels"];
    ASSERT_EQ(CadEntityGetType(label), CAD_ENT_TEXT);
    EXPECT_EQ(CadTextOf(CadTextGetText, label), "Hallo");
    EXPECT_NEAR(CadTextGetAngle(label), kPi / 6, 1e-9);
    EXPECT_DOUBLE_EQ(CadTextGetHeight(label), 2);
}

TEST(DxfRead, OlderAndNewerFormsOfEntities) {
    // An R12 drawing (no header, no tables) with Windows line ends and a comment, then the
    // newer forms.
    std::string text = Entities(
        // A closed 3D polyline of vertex records.
        "0\nPOLYLINE\n8\nroads\n66\n1\n70\n9\n"
        "0\nVERTEX\n8\nroads\n10\n0\n20\n0\n30\n1\n70\n32\n"
        "0\nVERTEX\n8\nroads\n10\n10\n20\n0\n30\n2\n70\n32\n"
        "0\nVERTEX\n8\nroads\n10\n10\n20\n5\n30\n3\n70\n32\n"
        "0\nSEQEND\n"
        // A 2D polyline at elevation 4 whose first segment is a half circle (bulge 1).
        "999\nA comment\n"
        "0\nPOLYLINE\n8\nroads\n66\n1\n10\n0\n20\n0\n30\n4\n70\n0\n"
        "0\nVERTEX\n10\n0\n20\n0\n42\n1\n0\nVERTEX\n10\n2\n20\n0\n0\nVERTEX\n10\n2\n20\n5\n0\nSEQEND\n"
        // A curve-fit polyline: the added points go, the engine draws its own curve.
        "0\nPOLYLINE\n8\nfit\n66\n1\n70\n2\n0\nVERTEX\n10\n0\n20\n0\n70\n0\n0\nVERTEX\n10\n1\n20\n1\n70\n1\n"
        "0\nVERTEX\n10\n2\n20\n0\n70\n0\n0\nSEQEND\n"
        // A lightweight polyline, closed, with a quarter-circle bulge on its last segment.
        "0\nLWPOLYLINE\n8\nparcels\n62\n1\n90\n3\n70\n1\n38\n2.5\n10\n0\n20\n0\n10\n4\n20\n0\n10\n4\n20\n4\n"
        "42\n0.41421356237309503\n"
        // A justified text, a text of control codes and a paragraph text.
        "0\nTEXT\n8\nlabels\n10\n0\n20\n0\n40\n2\n1\nX\n50\n90\n72\n1\n11\n5\n21\n6\n31\n0\n73\n2\n"
        "0\nTEXT\n8\nlabels\n10\n1\n20\n1\n40\n1\n1\n45%%d %%p0.5 %%c10 100%%%\n"
        "0\nMTEXT\n8\nlabels\n10\n3\n20\n4\n40\n1.5\n71\n5\n3\n{\\fArial|b1;Erste}\\PZwei\\~\n1\nDrei "
        "\\S1^2;\n"
        "50\n30\n"
        // Arc, circle, ellipse, point, solid, 3D face and a line on a layer given by no table.
        "0\nARC\n8\ncurves\n10\n1\n20\n1\n40\n2\n50\n0\n51\n90\n"
        "0\nCIRCLE\n8\ncurves\n10\n0\n20\n0\n40\n3\n"
        "0\nELLIPSE\n8\ncurves\n10\n0\n20\n0\n30\n0\n11\n0\n21\n4\n31\n0\n40\n0.5\n41\n0\n42\n3."
        "14159265358979\n"
        "0\nPOINT\n8\npoints\n10\n1\n20\n2\n30\n3\n"
        "0\nSOLID\n8\nfill\n62\n5\n10\n0\n20\n0\n11\n1\n21\n0\n12\n0\n22\n1\n13\n1\n23\n1\n"
        "0\n3DFACE\n8\nfaces\n10\n0\n20\n0\n30\n0\n11\n1\n21\n0\n31\n1\n12\n1\n22\n1\n32\n2\n13\n1\n23\n1\n33"
        "\n2\n"
        "0\nLINE\n10\n0\n20\n0\n11\n1\n21\n1\n");
    std::string crlf;
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string error;
    Drawing d = Read(crlf, &error);
    ASSERT_NE(d, nullptr) << error;
    const std::vector<CadEntity*> e = All(d.get());
    ASSERT_EQ(e.size(), 14u);
    double x, y, z;

    EXPECT_EQ(CadEntityGetType(e[0]), CAD_ENT_POLYLINE);
    EXPECT_EQ(LayerOf(e[0]), "roads");
    EXPECT_EQ(CadPlineGetClosed(e[0]), 1);
    ASSERT_EQ(CadPlineGetNumVers(e[0]), 3);
    CadPlineGetVer(e[0], 2, &x, &y, &z);
    EXPECT_DOUBLE_EQ(z, 3);

    // The half circle from (0,0) to (2,0) turns counter-clockwise through (1,-1).
    const int n = CadPlineGetNumVers(e[1]);
    ASSERT_GT(n, 10);
    double minY = 1;
    for (int i = 0; i < n; ++i) {
        CadPlineGetVer(e[1], i, &x, &y, &z);
        EXPECT_DOUBLE_EQ(z, 4);
        if (x >= 0 && x <= 2 && y <= 0) {
            EXPECT_NEAR(std::hypot(x - 1, y), 1, 1e-9);
            minY = std::min(minY, y);
        }
    }
    EXPECT_NEAR(minY, -1, 1e-9);
    CadPlineGetVer(e[1], n - 1, &x, &y, &z);
    EXPECT_DOUBLE_EQ(y, 5);

    EXPECT_EQ(CadPlineGetFit(e[2]), 1);
    EXPECT_EQ(CadPlineGetNumVers(e[2]), 2);

    EXPECT_EQ(CadEntityGetColor(e[3]), 1);
    EXPECT_EQ(CadPlineGetClosed(e[3]), 1);
    CadPlineGetVer(e[3], CadPlineGetNumVers(e[3]) / 2 + 2, &x, &y, &z);
    EXPECT_NEAR(std::hypot(x - 4, y), 4, 1e-9);  // on the quarter circle about (4, 0)
    EXPECT_DOUBLE_EQ(z, 2.5);

    EXPECT_EQ(CadTextGetAlign(e[4]), CAD_TA_CENTER_MIDDLE);
    CadTextGetPoint(e[4], &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, 5);  // a justified text stands at its second point
    EXPECT_NEAR(CadTextGetAngle(e[4]), kPi / 2, 1e-12);
    EXPECT_DOUBLE_EQ(CadTextGetHeight(e[4]), 2);
    EXPECT_EQ(CadTextOf(CadTextGetText, e[5]), "45\u00b0 \u00b10.5 \u230010 100%");
    EXPECT_EQ(CadTextOf(CadTextGetText, e[6]), "Erste\nZwei Drei 1/2");
    EXPECT_EQ(CadTextGetAlign(e[6]), CAD_TA_CENTER_MIDDLE);
    EXPECT_NEAR(CadTextGetAngle(e[6]), kPi / 6, 1e-12);

    double r, a0, a1;
    CadArcGet(e[7], &x, &y, &z, &r, &a0, &a1);
    EXPECT_DOUBLE_EQ(r, 2);
    EXPECT_NEAR(a1, kPi / 2, 1e-12);
    EXPECT_EQ(CadArcIsCircle(e[8]), 1);
    double rx, ry, turn, t0, t1;
    CadEllipseGet(e[9], &x, &y, &z, &rx, &ry, &turn, &t0, &t1);
    EXPECT_DOUBLE_EQ(rx, 4);
    EXPECT_DOUBLE_EQ(ry, 2);
    EXPECT_NEAR(turn, kPi / 2, 1e-12);
    EXPECT_EQ(CadEntityGetType(e[10]), CAD_ENT_POINT);
    // The solid's corners run 1, 2, 4, 3: a square, not a bow tie.
    EXPECT_EQ(CadEntityGetType(e[11]), CAD_ENT_POLYGON);
    ASSERT_EQ(CadPlineGetNumVers(e[11]), 4);
    CadPlineGetVer(e[11], 2, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, 1);
    EXPECT_DOUBLE_EQ(y, 1);
    EXPECT_EQ(CadEntityGetType(e[12]), CAD_ENT_POLYLINE);
    EXPECT_EQ(CadPlineGetNumVers(e[12]), 3);  // the repeated fourth corner dropped
    EXPECT_EQ(CadEntityGetType(e[13]), CAD_ENT_LINE);
    EXPECT_EQ(LayerOf(e[13]), "0");
    EXPECT_NE(CadGetLayerByName(d.get(), "faces"), nullptr);
}

TEST(DxfRead, MirroredAndTiltedEntitiesLandWhereTheyAreDrawn) {
    // An arc and a text seen from below (extrusion 0,0,-1): x is mirrored and the arc runs the
    // other way round. An arc tilted out of the plane becomes a polyline in space.
    Drawing d =
        Read(Entities("0\nARC\n10\n5\n20\n0\n30\n0\n40\n1\n50\n0\n51\n90\n210\n0\n220\n0\n230\n-1\n"
                      "0\nTEXT\n10\n5\n20\n1\n40\n1\n1\nM\n210\n0\n220\n0\n230\n-1\n"
                      "0\nCIRCLE\n10\n0\n20\n0\n30\n0\n40\n1\n210\n1\n220\n0\n230\n0\n"));
    ASSERT_NE(d, nullptr);
    const std::vector<CadEntity*> e = All(d.get());
    ASSERT_EQ(e.size(), 3u);
    double x, y, z, r, a0, a1;
    CadArcGet(e[0], &x, &y, &z, &r, &a0, &a1);
    EXPECT_DOUBLE_EQ(x, -5);
    // From 90 to 180 degrees about (-5, 0): the points (-5, 1) and (-6, 0).
    EXPECT_NEAR(std::cos(a0), 0, 1e-12);
    EXPECT_NEAR(std::sin(a0), 1, 1e-12);
    EXPECT_NEAR(std::cos(a1), -1, 1e-12);
    CadTextGetPoint(e[1], &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, -5);
    EXPECT_DOUBLE_EQ(y, 1);
    EXPECT_EQ(CadEntityGetType(e[2]), CAD_ENT_POLYLINE);
    for (int i = 0; i < CadPlineGetNumVers(e[2]); ++i) {
        CadPlineGetVer(e[2], i, &x, &y, &z);
        EXPECT_NEAR(x, 0, 1e-12);  // the circle stands in the y-z plane
        EXPECT_NEAR(std::hypot(y, z), 1, 1e-12);
    }
}

TEST(DxfRead, BlocksAreKeptOrResolvedAsTheEngineAllows) {
    const std::string blocks =
        // A: a line and a circle on layer "0" coloured by block, base (1, 1).
        "0\nBLOCK\n2\nA\n70\n0\n10\n1\n20\n1\n30\n0\n"
        "0\nLINE\n8\n0\n10\n1\n20\n1\n11\n3\n21\n1\n"
        "0\nCIRCLE\n8\n0\n62\n0\n10\n1\n20\n1\n40\n1\n"
        "0\nENDBLK\n"
        // B: a reference to A turned by 90 degrees, and a point on its own layer.
        "0\nBLOCK\n2\nB\n70\n0\n10\n0\n20\n0\n30\n0\n"
        "0\nINSERT\n2\nA\n8\n0\n10\n10\n20\n0\n50\n90\n"
        "0\nPOINT\n8\nmarks\n10\n0\n20\n0\n"
        "0\nENDBLK\n"
        // C refers to itself.
        "0\nBLOCK\n2\nC\n70\n0\n10\n0\n20\n0\n0\nINSERT\n2\nC\n10\n1\n20\n1\n0\nLINE\n10\n0\n20\n0\n11\n1\n21"
        "\n0\n"
        "0\nENDBLK\n";
    const std::string records =
        // Kept: B scaled by 2 at (100, 0); its block holds A's entities resolved.
        "0\nINSERT\n8\nsigns\n2\nB\n10\n100\n20\n0\n41\n2\n42\n2\n43\n2\n"
        // Unevenly scaled: resolved into entities on the reference's layer and colour.
        "0\nINSERT\n8\nstretched\n62\n4\n2\nA\n10\n0\n20\n50\n41\n2\n42\n1\n43\n1\n"
        // An array of 2 columns and 3 rows.
        "0\nINSERT\n8\nsigns\n2\nA\n10\n0\n20\n0\n70\n2\n71\n3\n44\n10\n45\n20\n"
        // Attributes follow their reference.
        "0\nINSERT\n8\nsigns\n2\nA\n66\n1\n10\n0\n20\n-50\n"
        "0\nATTRIB\n8\nsigns\n10\n0\n20\n-52\n40\n1\n1\nNr. 7\n2\nNR\n70\n0\n"
        "0\nATTRIB\n8\nsigns\n10\n0\n20\n-53\n40\n1\n1\nhidden\n2\nX\n70\n1\n"
        "0\nSEQEND\n"
        "0\nINSERT\n2\nC\n10\n0\n20\n0\n"
        "0\nINSERT\n2\nmissing\n10\n0\n20\n0\n";
    std::string error;
    Drawing d = Read(Entities(records, blocks), &error);
    ASSERT_NE(d, nullptr) << error;

    CadBlock* b = CadGetBlockByName(d.get(), "B");
    ASSERT_NE(b, nullptr);
    int inB = 0;
    double x, y, z;
    for (CadEntity* e = CadBlockGetFirstEntity(b); e; e = CadBlockGetNextEntity(b, e)) {
        ++inB;
        if (CadEntityGetType(e) == CAD_ENT_LINE) {
            double x2, y2, z2;
            CadLineGet(e, &x, &y, &z, &x2, &y2, &z2);
            // A's line from its base, turned by 90 degrees and moved to (10, 0).
            EXPECT_NEAR(x, 10, 1e-12);
            EXPECT_NEAR(y, 0, 1e-12);
            EXPECT_NEAR(x2, 10, 1e-12);
            EXPECT_NEAR(y2, 2, 1e-12);
        }
    }
    EXPECT_EQ(inB, 3);

    std::map<std::string, std::map<int, int>> kinds;  // layer -> type -> count
    std::vector<CadEntity*> inserts;
    for (CadEntity* e : All(d.get())) {
        ++kinds[LayerOf(e)][CadEntityGetType(e)];
        if (CadEntityGetType(e) == CAD_ENT_INSERT)
            inserts.push_back(e);
    }
    // B once, A six times in the array and once with attributes; C as a reference to the
    // lines it holds (the reference to itself is left out).
    EXPECT_EQ(kinds["signs"][CAD_ENT_INSERT], 8);
    ASSERT_GE(inserts.size(), 1u);
    int blockId;
    double scale, turn;
    CadInsertGet(inserts[0], &blockId, &x, &y, &z, &scale, &turn);
    EXPECT_DOUBLE_EQ(scale, 2);
    EXPECT_DOUBLE_EQ(x, 100);
    EXPECT_EQ(kinds["signs"][CAD_ENT_TEXT], 1);  // the visible attribute
    // The stretched reference: a line and an ellipse of radii 2 and 1, coloured 4 where the
    // block said "by block", on the reference's layer.
    EXPECT_EQ(kinds["stretched"][CAD_ENT_LINE], 1);
    EXPECT_EQ(kinds["stretched"][CAD_ENT_ELLIPSE], 1);
    for (CadEntity* e : All(d.get()))
        if (CadEntityGetType(e) == CAD_ENT_ELLIPSE) {
            double rx, ry, a, t0, t1;
            CadEllipseGet(e, &x, &y, &z, &rx, &ry, &a, &t0, &t1);
            EXPECT_NEAR(rx, 2, 1e-12);
            EXPECT_NEAR(ry, 1, 1e-12);
            EXPECT_NEAR(x, 0, 1e-12);
            EXPECT_NEAR(y, 50, 1e-12);
            EXPECT_EQ(CadEntityGetColor(e), 4);
        }
    EXPECT_EQ(kinds["0"][CAD_ENT_INSERT], 1);  // C
}

TEST(DxfRead, HatchesKeepTheirOuterBoundariesAndDimensionsTheirPoints) {
    // A square with a hole and a separate triangle, in one hatch; then an edge-defined
    // boundary with an arc.
    const std::string hatch =
        "0\nHATCH\n8\nfill\n10\n0\n20\n0\n30\n0\n210\n0\n220\n0\n230\n1\n2\nANSI31\n70\n0\n71\n0\n91\n3\n"
        "92\n3\n72\n0\n73\n1\n93\n4\n10\n0\n20\n0\n10\n10\n20\n0\n10\n10\n20\n10\n10\n0\n20\n10\n97\n0\n"
        "92\n2\n72\n0\n73\n1\n93\n3\n10\n2\n20\n2\n10\n4\n20\n2\n10\n4\n20\n4\n97\n0\n"
        "92\n3\n72\n0\n73\n1\n93\n3\n10\n20\n20\n0\n10\n24\n20\n0\n10\n24\n20\n4\n97\n0\n"
        "75\n0\n76\n1\n52\n0\n41\n2\n77\n0\n78\n1\n53\n45\n43\n0\n44\n0\n45\n-2\n46\n2\n79\n0\n98\n0\n"
        "0\nHATCH\n8\nfill\n10\n0\n20\n0\n30\n0\n2\nSOLID\n70\n1\n71\n0\n91\n1\n"
        "92\n1\n93\n2\n72\n1\n10\n-"
        "1\n20\n0\n11\n1\n21\n0\n72\n2\n10\n0\n20\n0\n40\n1\n50\n0\n51\n180\n73\n1\n"
        "97\n0\n75\n0\n76\n1\n98\n0\n";
    const std::string dims =
        // Two-line angular: lines along +x and +y from the origin, the arc through (1, 1).
        "0\nDIMENSION\n8\ndims\n2\n*D9\n10\n0\n20\n5\n11\n0\n21\n0\n70\n2\n13\n0\n23\n0\n14\n5\n24\n0\n"
        "15\n0\n25\n0\n16\n1\n26\n1\n"
        // Rotated by 30 degrees: the engine has no such dimension, so its picture is drawn.
        "0\nDIMENSION\n8\ndims\n2\n*D8\n10\n0\n20\n5\n70\n0\n13\n0\n23\n0\n14\n5\n24\n0\n50\n30\n";
    const std::string pictures =
        "0\nBLOCK\n2\n*D8\n70\n1\n10\n0\n20\n0\n0\nLINE\n8\n0\n10\n0\n20\n0\n11\n4\n21\n2\n"
        "0\nTEXT\n8\n0\n10\n2\n20\n1\n40\n0.5\n1\n4.33\n0\nENDBLK\n";
    std::string error;
    Drawing d = Read(Entities(hatch + dims, pictures), &error);
    ASSERT_NE(d, nullptr) << error;
    const std::vector<CadEntity*> e = All(d.get());
    ASSERT_EQ(e.size(), 6u);
    int pattern;
    double scale, angle;
    EXPECT_EQ(CadEntityGetType(e[0]), CAD_ENT_HATCH);
    EXPECT_EQ(CadPlineGetNumVers(e[0]), 4);  // the square without its hole
    CadHatchGet(e[0], &pattern, &scale, &angle);
    EXPECT_EQ(pattern, 1);
    EXPECT_DOUBLE_EQ(scale, 2);
    EXPECT_EQ(CadPlineGetNumVers(e[1]), 3);  // the triangle
    CadHatchGet(e[2], &pattern, &scale, &angle);
    EXPECT_EQ(pattern, 0);
    double x, y, z, l, b, r, t;
    l = CadEntityGetLeft(e[2]), b = CadEntityGetBottom(e[2]), r = CadEntityGetRight(e[2]),
    t = CadEntityGetTop(e[2]);
    EXPECT_DOUBLE_EQ(l, -1);
    EXPECT_DOUBLE_EQ(r, 1);
    EXPECT_DOUBLE_EQ(b, 0);
    EXPECT_NEAR(t, 1, 1e-9);  // the arc edge
    (void)x, (void)y, (void)z;

    int kind;
    double p[6];
    ASSERT_EQ(CadEntityGetType(e[3]), CAD_ENT_DIMENSION);
    CadDimensionGet(e[3], &kind, &p[0], &p[1], &p[2], &p[3], &p[4], &p[5]);
    EXPECT_EQ(kind, CAD_DIM_ANGULAR);
    EXPECT_NEAR(p[0], 0, 1e-12);  // the vertex where the lines meet
    EXPECT_NEAR(p[1], 0, 1e-12);
    EXPECT_NEAR(p[2], std::sqrt(2.0), 1e-12);  // first leg along +x at the arc's radius
    EXPECT_NEAR(p[3], 0, 1e-12);
    EXPECT_NEAR(p[4], 0, 1e-12);  // second leg along +y
    EXPECT_GT(p[5], 0);
    EXPECT_EQ(CadEntityGetType(e[4]), CAD_ENT_LINE);
    EXPECT_EQ(CadEntityGetType(e[5]), CAD_ENT_TEXT);
    EXPECT_EQ(LayerOf(e[4]), "dims");
}

TEST(DxfRead, DamagedAndForeignFilesAreRefusedCleanly) {
    QFile f(kvtest::DataPath("example007.dxf"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const std::string real = f.readAll().toStdString();
    const size_t cut = real.find("LINE", real.find("ENTITIES")) + 40;
    const std::string png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
    const std::string cases[] = {
        "",
        png,
        "hello\nworld\n",
        "AutoCAD Binary DXF\r\n\x1a",
        real.substr(0, cut),                                                      // cut inside an entity
        real.substr(0, real.size() / 2),                                          // cut inside a section
        "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\nabc\n20\n0\n0\nENDSEC\n0\nEOF\n",  // no number
        "0\nSECTION\n2\nENTITIES\n0\nLINE\n1x0\n0\n0\nENDSEC\n0\nEOF\n",          // no group code
        "0\nSECTION\n2\nENTITIES\n0\nLINE\n10\n",                                 // value missing
        "0\nLINE\n10\n0\n20\n0\n",                                                // outside a section
        "0\nEOF\n",                                                               // no section at all
        // A few lines that ask for a thousand million copies.
        Entities("0\nINSERT\n2\nA\n10\n0\n20\n0\n70\n32767\n71\n32767\n",
                 "0\nBLOCK\n2\nA\n10\n0\n20\n0\n0\nLINE\n10\n0\n20\n0\n11\n1\n21\n0\n0\nENDBLK\n"),
    };
    int n = 0;
    for (const std::string& text : cases) {
        std::string error;
        EXPECT_EQ(Read(text, &error), nullptr) << "case " << n;
        EXPECT_FALSE(error.empty()) << "case " << n;
        ++n;
    }
    // Trailing empty lines and a missing EOF are no damage.
    EXPECT_NE(Read("0\nSECTION\n2\nENTITIES\n0\nPOINT\n10\n1\n20\n2\n0\nENDSEC\n\n"), nullptr);
}

TEST(DxfRead, ExtremeNumbersGiveUsableEntitiesOrNone) {
    // Angles of countless turns come back to one turn; coordinates that overflow through a
    // scaled reference make no entity.
    Drawing d = Read(
        Entities("0\nARC\n10\n0\n20\n0\n40\n1\n50\n1e300\n51\n-1e300\n"
                 "0\nELLIPSE\n10\n0\n20\n0\n11\n2\n21\n0\n40\n0.5\n41\n-1e300\n42\n1e300\n"
                 "0\nINSERT\n2\nBIG\n10\n0\n20\n0\n41\n1e300\n42\n1e200\n",
                 "0\nBLOCK\n2\nBIG\n10\n0\n20\n0\n0\nLINE\n10\n0\n20\n0\n11\n1e300\n21\n1\n0\nENDBLK\n"));
    ASSERT_NE(d, nullptr);
    const std::vector<CadEntity*> e = All(d.get());
    ASSERT_EQ(e.size(), 2u);
    double x, y, z, r, a0, a1, rx, ry, turn;
    CadArcGet(e[0], &x, &y, &z, &r, &a0, &a1);
    EXPECT_LE(std::fabs(a0), 2 * kPi);
    EXPECT_GT(a1, a0);
    EXPECT_LE(a1 - a0, 2 * kPi);
    CadEllipseGet(e[1], &x, &y, &z, &rx, &ry, &turn, &a0, &a1);
    EXPECT_LE(std::fabs(a0), 2 * kPi);
    EXPECT_LE(a1 - a0, 2 * kPi);
    EXPECT_GT(CadEntityGetRight(e[1]), 0);  // its extents are computed in finite time
}
