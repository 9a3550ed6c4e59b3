// A drawing with every entity kind of the engine on several layers, written as DXF and read
// back: the same entities on the same layers, the same geometry, attributes, layers and blocks.
// GDAL's DXF driver reads the same file.
#include <QFile>

#include <array>

#include <cmath>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>

#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include "konvertel/DrawingShape.h"
#include "konvertel/DxfGroups.h"
#include "konvertel/DxfReader.h"
#include "konvertel/DxfWriter.h"
#include "platform/cad/Cad.h"
#include "platform/cad/CadDimension.h"
#include "support/TestEnv.h"

namespace {

constexpr double kTol = 1e-9;
constexpr double kPi = 3.14159265358979323846;

struct DrawingDeleter {
    void operator()(CadDrawing* d) const { CadDelete(d); }
};
using Drawing = std::unique_ptr<CadDrawing, DrawingDeleter>;

CadEntity* Outline(CadDrawing* d, int kind, std::initializer_list<ShapePoint> pts, int closed = 0,
                   int fit = 0) {
    CadClearVertices();
    for (const ShapePoint& p : pts)
        CadAddVertex(p.x, p.y, p.z);
    switch (kind) {
        case CAD_ENT_SPLINE:
            return CadAddSpline(d, closed);
        case CAD_ENT_POLYGON:
            return CadAddPolygon(d, 4, 0);
        case CAD_ENT_HATCH:
            return CadAddHatch(d, closed, 1.5, 0.75);  // closed carries the pattern here
        default:
            return CadAddPolyline(d, fit, closed);
    }
}

// Every entity kind, on four layers of different colours, line types and line weights, with a
// block that a turned and scaled reference uses.
Drawing MakeDrawing() {
    Drawing d(CadCreate());
    CadLayer* roads = CadAddLayer(d.get(), "roads", 1, CAD_LTYPE_DASHED, 35);
    CadLayer* text = CadAddLayer(d.get(), "Beschriftung Höhen", 3, CAD_LTYPE_DOTTED, CAD_LWEIGHT_DEFAULT);
    CadLayer* dims = CadAddLayer(d.get(), "dims", 140, CAD_LTYPE_DASHDOT, 18);
    CadLayer* hidden = CadAddLayer(d.get(), "hidden", 250, CAD_LTYPE_CONTINUOUS, 0);
    CadLayerPutVisible(hidden, 0);
    CadLayerPutLock(dims, 1);
    CadLayerPutColor(CadGetLayerByName(d.get(), "0"), 2);

    CadSetCurLayer(d.get(), roads);
    CadEntity* pt = CadAddPoint(d.get(), 1.25, -2.5, 3.75);
    CadEntityPutColor(pt, 5);
    CadAddLine(d.get(), 0, 0, 0, 1000.125, 2000.5, -3);
    Outline(d.get(), CAD_ENT_POLYLINE, {{0, 0, 7}, {10, 0, 7}, {10, 5, 7}});
    CadEntity* pl3 = Outline(d.get(), CAD_ENT_POLYLINE, {{0, 0, 1}, {10, 0, 2}, {10, 5, 3}, {0, 5, 4}}, 1);
    CadEntityPutLineType(pl3, CAD_LTYPE_DOTTED);
    CadEntityPutLineWeight(pl3, 50);
    CadEntity* fitted =
        Outline(d.get(), CAD_ENT_POLYLINE, {{0, 0, 0}, {5, 3, 0}, {9, -1, 0}, {12, 4, 0}}, 0, 1);
    CadEntityPutFilled(fitted, 1);
    CadEntityPutUserData(fitted, 4711);
    const unsigned char bytes[300] = {0, 1, 2, 255, 128, 7};
    CadEntityPutExData(fitted, bytes, sizeof bytes);
    CadAddRect(d.get(), 50, 60, 2, 20, 10, 0.4);
    CadAddCircle(d.get(), 1, 2, 3, 4.5);
    CadEntity* arc = CadAddArc(d.get(), 5, 6, 0, 2, 5.0, 1.0);  // through zero
    CadEntityPutVisible(arc, 0);
    CadEntityPutColor(arc, CAD_COLOR_BYBLOCK);
    CadAddEllipse(d.get(), 0, 0, 1, 8, 3, 0.25, 0, 2 * kPi);
    CadAddEllipse(d.get(), 20, 0, 0, 6, 2, -0.5, 0.5, 2.5);
    Outline(d.get(), CAD_ENT_SPLINE, {{0, 0, 0}, {1, 1, 0}, {2, 0, 0}, {3, 2, 0}, {4, 1, 0}});
    Outline(d.get(), CAD_ENT_SPLINE, {{0, 0, 1}, {4, 0, 2}, {4, 4, 3}}, 1);

    CadSetCurLayer(d.get(), hidden);
    Outline(d.get(), CAD_ENT_HATCH, {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}}, 2);
    Outline(d.get(), CAD_ENT_HATCH, {{10, 0, 0}, {14, 0, 0}, {14, 4, 0}, {10, 3, 0}}, 0);
    Outline(d.get(), CAD_ENT_HATCH, {{20, 0, 0}, {24, 0, 0}, {24, 4, 0}}, 1);
    Outline(d.get(), CAD_ENT_POLYGON, {{30, 0, 0}, {34, 0, 0}, {34, 4, 0}, {30, 4, 0}});
    CadAddImagePlace(d.get(), 1000, 200, 100, 500, 600, 0, 0.5);  // not in DXF

    CadSetCurLayer(d.get(), text);
    CadEntity* t1 = CadAddText(d.get(), "Parametratura 12.5%", 7, 8, 0.5);
    CadTextPutAngle(t1, 1.5707963267948966);
    CadTextPutHeight(t1, 2.5);
    CadEntity* t2 = CadAddText(d.get(), "Željka 45° %%d", 17, 18, 0);
    CadTextPutAlign(t2, CAD_TA_RIGHT_TOP);
    CadEntity* t3 = CadAddText(d.get(), "two\nlines {a\\b}", 27, 28, 0);
    CadTextPutAlign(t3, CAD_TA_CENTER_MIDDLE);
    CadTextPutAngle(t3, -0.3);

    CadSetCurLayer(d.get(), dims);
    CadAddDimension(d.get(), CAD_DIM_LINEAR, 0, 0, 10, 2, 5, 8);  // horizontal
    CadAddDimension(d.get(), CAD_DIM_LINEAR, 0, 0, 2, 10, 9, 5);  // vertical
    CadAddDimension(d.get(), CAD_DIM_ALIGNED, 0, 0, 10, 4, 3, 6);
    CadAddDimension(d.get(), CAD_DIM_ORDINATE, 3, 4, 7, 1, 3, 20);
    CadAddDimension(d.get(), CAD_DIM_RADIUS, 1, 1, 4, 5, 6, 7);
    CadAddDimension(d.get(), CAD_DIM_DIAMETER, 1, 1, 4, 5, -6, -7);
    CadAddDimension(d.get(), CAD_DIM_ANGULAR, 1, 1, 6, 1, 1, 9);

    CadSetCurLayerByName(d.get(), "0");
    CadBlock* b = CadAddBlock(d.get(), "Nordpfeil", 10, 10, 0);
    CadEntity* inBlock = CadAddLine(d.get(), 10, 10, 0, 20, 10, 0);
    CadEntityPutLayerID(inBlock, CadLayerGetID(roads));
    CadBlockAddEntity(b, inBlock);
    CadBlockAddEntity(b, CadAddText(d.get(), "N", 12, 12, 0));
    CadBlockAddEntity(b, CadAddCircle(d.get(), 15, 15, 0, 3));
    CadEntity* ins = CadAddInsBlock(d.get(), CadBlockGetID(b), 100, 200, 5, 2.5, 0.3);
    CadEntityPutLayerID(ins, CadLayerGetID(roads));
    CadEntityPutColor(ins, 3);
    CadAddBlock(d.get(), "Unused library block", 0, 0, 0);
    return d;
}

std::string LayerOf(CadEntity* e) {
    return CadTextOf(CadLayerGetName, CadEntityGetLayer(e));
}

std::vector<ShapePoint> Vertices(CadEntity* e) {
    std::vector<ShapePoint> v(size_t(CadPlineGetNumVers(e)));
    for (size_t i = 0; i < v.size(); ++i)
        CadPlineGetVer(e, int(i), &v[i].x, &v[i].y, &v[i].z);
    return v;
}

// Points along an ellipse entity, to compare curves whatever their parameters.
std::vector<ShapePoint> EllipsePoints(CadEntity* e) {
    double x, y, z, rx, ry, a, t0, t1;
    CadEllipseGet(e, &x, &y, &z, &rx, &ry, &a, &t0, &t1);
    std::vector<ShapePoint> pts;
    for (int i = 0; i <= 8; ++i) {
        const double t = t0 + (t1 - t0) * i / 8, u = rx * std::cos(t), v = ry * std::sin(t);
        pts.push_back({x + u * std::cos(a) - v * std::sin(a), y + u * std::sin(a) + v * std::cos(a), z});
    }
    return pts;
}

void ExpectSamePoints(const std::vector<ShapePoint>& a, const std::vector<ShapePoint>& b,
                      const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(a[i].x, b[i].x, kTol) << what << " vertex " << i;
        EXPECT_NEAR(a[i].y, b[i].y, kTol) << what << " vertex " << i;
        EXPECT_NEAR(a[i].z, b[i].z, kTol) << what << " vertex " << i;
    }
}

// Same kind, layer, attributes and geometry.
void ExpectSameEntity(CadEntity* a, CadEntity* b) {
    const int type = CadEntityGetType(a);
    const std::string what = "type " + std::to_string(type) + " id " + std::to_string(CadEntityGetID(a));
    ASSERT_EQ(type, CadEntityGetType(b)) << what;
    EXPECT_EQ(LayerOf(a), LayerOf(b)) << what;
    EXPECT_EQ(CadEntityGetColor(a), CadEntityGetColor(b)) << what;
    EXPECT_EQ(CadEntityGetLineType(a), CadEntityGetLineType(b)) << what;
    EXPECT_EQ(CadEntityGetLineWeight(a), CadEntityGetLineWeight(b)) << what;
    EXPECT_EQ(CadEntityGetVisible(a), CadEntityGetVisible(b)) << what;
    EXPECT_EQ(CadEntityGetFilled(a), CadEntityGetFilled(b)) << what;
    EXPECT_EQ(CadEntityGetUserData(a), CadEntityGetUserData(b)) << what;
    std::string xa(size_t(CadEntityGetExData(a, nullptr, 0)), '\0'),
        xb(size_t(CadEntityGetExData(b, nullptr, 0)), '\0');
    CadEntityGetExData(a, xa.data(), int(xa.size()));
    CadEntityGetExData(b, xb.data(), int(xb.size()));
    EXPECT_EQ(xa, xb) << what;
    double pa[9] = {}, pb[9] = {};
    int ia = 0, ib = 0;
    switch (type) {
        case CAD_ENT_POINT:
            CadPointGet(a, &pa[0], &pa[1], &pa[2]);
            CadPointGet(b, &pb[0], &pb[1], &pb[2]);
            break;
        case CAD_ENT_LINE:
            CadLineGet(a, &pa[0], &pa[1], &pa[2], &pa[3], &pa[4], &pa[5]);
            CadLineGet(b, &pb[0], &pb[1], &pb[2], &pb[3], &pb[4], &pb[5]);
            break;
        case CAD_ENT_POLYLINE:
        case CAD_ENT_SPLINE:
        case CAD_ENT_HATCH:
        case CAD_ENT_POLYGON:
            ExpectSamePoints(Vertices(a), Vertices(b), what);
            EXPECT_EQ(CadPlineGetClosed(a), CadPlineGetClosed(b)) << what;
            EXPECT_EQ(CadPlineGetFit(a), CadPlineGetFit(b)) << what;
            if (type == CAD_ENT_HATCH) {
                CadHatchGet(a, &ia, &pa[0], &pa[1]);
                CadHatchGet(b, &ib, &pb[0], &pb[1]);
                EXPECT_EQ(ia, ib) << what;
            }
            break;
        case CAD_ENT_RECT:
            CadRectGet(a, &pa[0], &pa[1], &pa[2], &pa[3], &pa[4], &pa[5]);
            CadRectGet(b, &pb[0], &pb[1], &pb[2], &pb[3], &pb[4], &pb[5]);
            break;
        case CAD_ENT_ARC:
            EXPECT_EQ(CadArcIsCircle(a), CadArcIsCircle(b)) << what;
            CadArcGet(a, &pa[0], &pa[1], &pa[2], &pa[3], &pa[4], &pa[5]);
            CadArcGet(b, &pb[0], &pb[1], &pb[2], &pb[3], &pb[4], &pb[5]);
            break;
        case CAD_ENT_ELLIPSE:
            CadEllipseGet(a, &pa[0], &pa[1], &pa[2], &pa[3], &pa[4], &pa[5], &pa[6], &pa[7]);
            CadEllipseGet(b, &pb[0], &pb[1], &pb[2], &pb[3], &pb[4], &pb[5], &pb[6], &pb[7]);
            break;
        case CAD_ENT_TEXT: {
            EXPECT_EQ(CadTextOf(CadTextGetText, a), CadTextOf(CadTextGetText, b)) << what;
            EXPECT_EQ(CadTextGetAlign(a), CadTextGetAlign(b)) << what;
            CadTextGetPoint(a, &pa[0], &pa[1], &pa[2]);
            CadTextGetPoint(b, &pb[0], &pb[1], &pb[2]);
            pa[3] = CadTextGetHeight(a), pb[3] = CadTextGetHeight(b);
            pa[4] = CadTextGetAngle(a), pb[4] = CadTextGetAngle(b);
            break;
        }
        case CAD_ENT_DIMENSION:
            CadDimensionGet(a, &ia, &pa[0], &pa[1], &pa[2], &pa[3], &pa[4], &pa[5]);
            CadDimensionGet(b, &ib, &pb[0], &pb[1], &pb[2], &pb[3], &pb[4], &pb[5]);
            EXPECT_EQ(ia, ib) << what;
            break;
        case CAD_ENT_INSERT: {
            CadInsertGet(a, &ia, &pa[0], &pa[1], &pa[2], &pa[3], &pa[4]);
            CadInsertGet(b, &ib, &pb[0], &pb[1], &pb[2], &pb[3], &pb[4]);
            EXPECT_EQ(CadTextOf(CadBlockGetName, CadGetBlockByID(CadEntityGetDrawing(a), ia)),
                      CadTextOf(CadBlockGetName, CadGetBlockByID(CadEntityGetDrawing(b), ib)));
            ia = ib = 0;
            break;
        }
        default:
            ADD_FAILURE() << what << " unexpected";
    }
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR(pa[i], pb[i], kTol) << what << " value " << i;
}

QString WriteTemp(CadDrawing* d, const char* name, DxfWriteReport* report = nullptr) {
    const QString path = kvtest::TempDir() + "/" + name;
    std::string error;
    EXPECT_NE(DxfWriteDrawing(d, path, &error, report), 0) << error;
    return path;
}

}  // namespace

TEST(DxfRoundTrip, EveryEntityKindComesBackOnItsLayerWithItsGeometryAndAttributes) {
    Drawing src = MakeDrawing();
    DxfWriteReport written;
    const QString path = WriteTemp(src.get(), "every_kind.dxf", &written);
    EXPECT_EQ(written.skipped, 1);  // the image place

    Drawing back(CadCreate());
    std::string error;
    DxfReadReport read;
    ASSERT_NE(DxfReadDrawing(path, back.get(), &error, &read), 0) << error;
    EXPECT_EQ(read.skipped, 0);
    ASSERT_EQ(CadCountEntities(back.get()), CadCountEntities(src.get()) - 1);

    CadEntity* b = CadGetFirstEntity(back.get());
    for (CadEntity* a = CadGetFirstEntity(src.get()); a; a = CadGetNextEntity(src.get(), a)) {
        if (CadEntityGetType(a) == CAD_ENT_IMAGE)
            continue;
        ASSERT_NE(b, nullptr);
        if (CadEntityGetType(a) == CAD_ENT_ELLIPSE) {
            // A tall ellipse is written around its longer axis: the same curve, other numbers.
            ExpectSamePoints(EllipsePoints(a), EllipsePoints(b), "ellipse");
            EXPECT_EQ(LayerOf(a), LayerOf(b));
        } else {
            ExpectSameEntity(a, b);
        }
        b = CadGetNextEntity(back.get(), b);
    }

    // Layers with their colours, line types, line weights, visibility and locks.
    EXPECT_EQ(CadCountLayers(back.get()), CadCountLayers(src.get()));
    for (CadLayer* l = CadGetFirstLayer(src.get()); l; l = CadGetNextLayer(src.get(), l)) {
        const std::string name = CadTextOf(CadLayerGetName, l);
        CadLayer* m = CadGetLayerByName(back.get(), name.c_str());
        ASSERT_NE(m, nullptr) << name;
        EXPECT_EQ(CadLayerGetColor(m), CadLayerGetColor(l)) << name;
        EXPECT_EQ(CadLayerGetLineType(m), CadLayerGetLineType(l)) << name;
        EXPECT_EQ(CadLayerGetLineWeight(m), CadLayerGetLineWeight(l)) << name;
        EXPECT_EQ(CadLayerGetVisible(m), CadLayerGetVisible(l)) << name;
        EXPECT_EQ(CadLayerGetLock(m), CadLayerGetLock(l)) << name;
    }

    // Blocks with their base points and entities; the unused one too.
    for (CadBlock* k = CadGetFirstBlock(src.get()); k; k = CadGetNextBlock(src.get(), k)) {
        const std::string name = CadTextOf(CadBlockGetName, k);
        CadBlock* m = CadGetBlockByName(back.get(), name.c_str());
        ASSERT_NE(m, nullptr) << name;
        double ka[3], kb[3];
        CadBlockGetBase(k, &ka[0], &ka[1], &ka[2]);
        CadBlockGetBase(m, &kb[0], &kb[1], &kb[2]);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(ka[i], kb[i], kTol);
        CadEntity* eb = CadBlockGetFirstEntity(m);
        for (CadEntity* ea = CadBlockGetFirstEntity(k); ea; ea = CadBlockGetNextEntity(k, ea)) {
            ASSERT_NE(eb, nullptr) << name;
            ExpectSameEntity(ea, eb);
            eb = CadBlockGetNextEntity(m, eb);
        }
        EXPECT_EQ(eb, nullptr) << name;
    }
    // The dimensions' picture blocks are not blocks of the drawing.
    int blocks = 0;
    for (CadBlock* k = CadGetFirstBlock(back.get()); k; k = CadGetNextBlock(back.get(), k))
        ++blocks;
    EXPECT_EQ(blocks, 2);
}

TEST(DxfRoundTrip, GdalReadsTheWrittenFile) {
    Drawing src = MakeDrawing();
    const QString path = WriteTemp(src.get(), "for_gdal.dxf");
    const char* const drivers[] = {"DXF", nullptr};
    GDALDatasetH ds = GDALOpenEx(path.toUtf8().constData(), GDAL_OF_VECTOR, drivers, nullptr, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    ASSERT_NE(layer, nullptr);
    std::set<std::string> layers, texts;
    int features = 0;
    bool sawPolyline3d = false, sawCircle = false;
    while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
        ++features;
        layers.insert(OGR_F_GetFieldAsString(f, OGR_F_GetFieldIndex(f, "Layer")));
        const int ti = OGR_F_GetFieldIndex(f, "Text");
        if (ti >= 0 && OGR_F_IsFieldSetAndNotNull(f, ti))
            texts.insert(OGR_F_GetFieldAsString(f, ti));
        OGRGeometryH g = OGR_F_GetGeometryRef(f);
        if (g && wkbFlatten(OGR_G_GetGeometryType(g)) == wkbLineString && OGR_G_GetPointCount(g) == 5 &&
            OGR_G_GetZ(g, 3) == 4 && OGR_G_GetX(g, 4) == 0 && OGR_G_GetZ(g, 4) == 1)
            sawPolyline3d = true;  // the closed 3D polyline, closed by repeating its first vertex
        OGREnvelope env;
        if (g && wkbFlatten(OGR_G_GetGeometryType(g)) != wkbPoint) {
            OGR_G_GetEnvelope(g, &env);
            if (std::fabs(env.MinX + 3.5) < 1e-9 && std::fabs(env.MaxX - 5.5) < 1e-9 &&
                std::fabs(env.MaxY - 6.5) < 0.01)
                sawCircle = true;
        }
        OGR_F_Destroy(f);
    }
    GDALClose(ds);
    EXPECT_GE(features, 30);
    for (const char* name : {"roads", "Beschriftung Höhen", "dims", "hidden"})
        EXPECT_TRUE(layers.count(name)) << name;
    EXPECT_TRUE(texts.count("Parametratura 12.5%"));
    EXPECT_TRUE(texts.count("two\nlines {a\\b}"));
    EXPECT_TRUE(texts.count("N"));  // exploded from the block reference
    EXPECT_TRUE(sawPolyline3d);
    EXPECT_TRUE(sawCircle);
}

TEST(DxfRoundTrip, MutatedFilesAreReadOrRefusedWithoutHarm) {
    // Lines of real files dropped, doubled, bit-flipped or replaced by extreme numbers: every
    // read either fails with a reason or gives a drawing that can be written again.
    Drawing src = MakeDrawing();
    QFile f(kvtest::DataPath("example008.dxf"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const std::vector<std::string> seeds = {DxfDrawingText(src.get()), f.readAll().toStdString()};
    const char* numbers[] = {"1e308", "-1e308", "32767", "-2147483648", "0", "-1", "", "1e-320", "64", "16"};
    std::mt19937 rng(20240611);
    int read = 0;
    for (int round = 0; round < 400; ++round) {
        std::vector<std::string> lines;
        std::istringstream in(seeds[size_t(round) % seeds.size()]);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        for (int m = 1 + int(rng() % 6); m > 0 && !lines.empty(); --m) {
            const size_t i = rng() % lines.size();
            switch (rng() % 5) {
                case 0:
                    lines.erase(lines.begin() + long(i));
                    break;
                case 1:
                    lines.insert(lines.begin() + long(i), lines[rng() % lines.size()]);
                    break;
                case 2:
                    if (i % 2 == 1)
                        lines[i] = numbers[rng() % 10];
                    break;
                case 3:
                    if (!lines[i].empty())
                        lines[i][rng() % lines[i].size()] ^= char(1 << (rng() % 8));
                    break;
                default:
                    if (i % 2 == 0)
                        lines[i] = std::to_string(rng() % 100);
                    break;
            }
        }
        std::string text;
        for (const std::string& line : lines)
            text += line + '\n';
        Drawing d(CadCreate());
        std::string error;
        if (DxfReadDrawingData(QByteArray::fromStdString(text), d.get(), &error)) {
            ++read;
            EXPECT_FALSE(DxfDrawingText(d.get()).empty());
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
    EXPECT_GT(read, 0);
}

namespace {

// The LINE records of the picture blocks of a written drawing, as (x1, y1, x2, y2).
std::vector<std::array<double, 4>> PictureLines(const std::string& dxf) {
    std::vector<std::array<double, 4>> lines;
    const QByteArray data = QByteArray::fromStdString(dxf);
    DxfGroupReader in(data);
    DxfGroup g;
    std::string record;
    bool inPicture = false;
    while (in.Next(g)) {
        if (g.code == 0) {
            record = std::string(g.value);
            inPicture = inPicture && record != "ENDBLK";
            if (inPicture && record == "LINE")
                lines.push_back({});
        } else if (record == "BLOCK" && g.code == 2) {
            inPicture = g.value.substr(0, 2) == "*D";
        } else if (inPicture && record == "LINE" &&
                   (g.code == 10 || g.code == 20 || g.code == 11 || g.code == 21)) {
            lines.back()[size_t((g.code % 10 == 1 ? 2 : 0) + (g.code >= 20 ? 1 : 0))] = g.Real();
        }
    }
    return lines;
}

bool HasLine(const std::vector<std::array<double, 4>>& lines, const cad::DimPoint& p,
             const cad::DimPoint& q) {
    for (const auto& l : lines) {
        const bool same =
            std::hypot(l[0] - p.x, l[1] - p.y) < 1e-6 && std::hypot(l[2] - q.x, l[3] - q.y) < 1e-6;
        const bool turned =
            std::hypot(l[0] - q.x, l[1] - q.y) < 1e-6 && std::hypot(l[2] - p.x, l[3] - p.y) < 1e-6;
        if (same || turned)
            return true;
    }
    return false;
}

// A DIMENSION of a foreign file: aligned points 13 and 14, line through 10.
std::string DimensionRecord(const std::string& text, const std::string& style,
                            const std::string& extra = {}) {
    return "0\nDIMENSION\n8\ndim\n10\n-10\n20\n-51\n11\n-11.875\n21\n-40\n70\n0\n" +
           (text.empty() ? std::string() : "1\n" + text + "\n") + "3\n" + style +
           "\n100\nAcDbAlignedDimension\n13\n0\n23\n-29\n14\n0\n24\n-"
           "51\n50\n90\n100\nAcDbRotatedDimension\n" +
           extra;
}

}  // namespace

TEST(DxfRoundTrip, DimensionsKeepTheFilesTextsAndStyles) {
    // As drawings of other programs write them: the style in the header and the DIMSTYLE table,
    // the texts in group 1, a style override as ACAD extended data.
    const std::string header =
        "0\nSECTION\n2\nHEADER\n9\n$DIMASZ\n40\n2.5\n9\n$DIMTXT\n40\n2.5\n9\n$"
        "DIMSTYLE\n2\nStandard\n0\nENDSEC\n";
    const std::string tables =
        "0\nSECTION\n2\nTABLES\n0\nTABLE\n2\nDIMSTYLE\n70\n2\n"
        "0\nDIMSTYLE\n2\nStandard\n70\n0\n41\n2.5\n140\n2.5\n147\n0.625\n"
        "0\nDIMSTYLE\n2\nTicks\n70\n0\n40\n2\n140\n2\n142\n1.5\n0\nENDTAB\n0\nENDSEC\n";
    const std::string override = "1001\nACAD\n1000\nDSTYLE\n1002\n{\n1070\n41\n1040\n5\n1002\n}\n";
    const std::string entities = "0\nSECTION\n2\nENTITIES\n" + DimensionRecord("bodywidth", "Standard") +
                                 DimensionRecord("<> mm", "Standard") + DimensionRecord("", "Ticks") +
                                 DimensionRecord("<>", "Standard", override) + "0\nENDSEC\n0\nEOF\n";
    Drawing d(CadCreate());
    std::string error;
    ASSERT_TRUE(DxfReadDrawingData(QByteArray::fromStdString(header + tables + entities), d.get(), &error))
        << error;

    // Written out again, each dimension says what the file said, over its measured 22.00.
    const std::string written = DxfDrawingText(d.get());
    EXPECT_NE(written.find("\n  1\nbodywidth\n"), std::string::npos);
    EXPECT_NE(written.find("\n  1\n22.00 mm\n"), std::string::npos);
    EXPECT_NE(written.find("\n  1\n<> mm\n"), std::string::npos);

    // Read back, the texts and the styles are the file's.
    Drawing again(CadCreate());
    ASSERT_TRUE(DxfReadDrawingData(QByteArray::fromStdString(written), again.get(), &error)) << error;
    for (CadDrawing* drawing : {d.get(), again.get()}) {
        std::vector<CadEntity*> dims;
        for (CadEntity* e = CadGetFirstEntity(drawing); e; e = CadGetNextEntity(drawing, e))
            dims.push_back(e);
        ASSERT_EQ(dims.size(), 4u);
        const char* texts[] = {"bodywidth", "<> mm", "", "<>"};
        // Text height, arrow size, tick size; a scale of the style applies to all three.
        const std::array<double, 3> styles[] = {{2.5, 2.5, 0}, {2.5, 2.5, 0}, {4, 5, 3}, {2.5, 5, 0}};
        for (size_t i = 0; i < dims.size(); ++i) {
            EXPECT_EQ(CadTextOf(CadDimensionGetText, dims[i]), texts[i]) << i;
            std::array<double, 3> style{};
            ASSERT_TRUE(CadDimensionGetStyle(dims[i], &style[0], &style[1], &style[2]));
            EXPECT_EQ(style, styles[i]) << i;
            EXPECT_NEAR(CadDimensionGetValue(dims[i]), 22, 1e-9);
        }
    }
}

TEST(DxfRoundTrip, PictureBlocksDrawTheDimensionsAsTheDrawingWindowDoes) {
    Drawing d(CadCreate());
    const double defs[][7] = {{CAD_DIM_LINEAR, 0, 0, 10, 2, 5, 8},  {CAD_DIM_LINEAR, 0, 0, 2, 10, 9, 5},
                              {CAD_DIM_ALIGNED, 0, 0, 10, 4, 3, 6}, {CAD_DIM_ORDINATE, 3, 4, 7, 1, 3, 20},
                              {CAD_DIM_RADIUS, 1, 1, 4, 5, 6, 7},   {CAD_DIM_DIAMETER, 1, 1, 4, 5, -6, -7},
                              {CAD_DIM_ANGULAR, 1, 1, 6, 1, 1, 9}};
    for (const auto& v : defs)
        CadAddDimension(d.get(), int(v[0]), v[1], v[2], v[3], v[4], v[5], v[6]);
    const std::vector<std::array<double, 4>> lines = PictureLines(DxfDrawingText(d.get()));
    for (const auto& v : defs) {
        cad::DimShape shape;
        ASSERT_TRUE(cad::MakeDimShape(int(v[0]), {v[1], v[2]}, {v[3], v[4]}, {v[5], v[6]}, shape));
        for (const auto& path : shape.paths) {
            // Straight parts are lines of the picture; the arc of an angle is a polyline of its own.
            if (path.size() == 2) {
                EXPECT_TRUE(HasLine(lines, path[0], path[1]))
                    << "kind " << v[0] << ": " << path[0].x << "," << path[0].y << " " << path[1].x << ","
                    << path[1].y;
            }
        }
        // Every arrow has its lines at the tip.
        for (const auto& [tip, from] : shape.arrows) {
            int atTip = 0;
            for (const auto& l : lines)
                atTip += std::hypot(l[0] - tip.x, l[1] - tip.y) < 1e-9 ? 1 : 0;
            EXPECT_GE(atTip, 2) << "kind " << v[0];
        }
    }
}
