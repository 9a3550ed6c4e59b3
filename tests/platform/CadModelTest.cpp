// The drawing model without a window: ids and attributes through the native file, handles after
// erase and purge, refusal of damaged files, layers, geometry queries, selection and clipboard.
#include <QFile>
#include <QImage>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cad/Cad.h"
#include "support/TestEnv.h"

namespace {

struct DrawingDeleter {
    void operator()(CadDrawing* d) const { CadDelete(d); }
};
using Drawing = std::unique_ptr<CadDrawing, DrawingDeleter>;

CadEntity* AddPolyline(CadDrawing* d, std::initializer_list<std::array<double, 3>> pts, int closed) {
    CadClearVertices();
    for (const auto& p : pts)
        CadAddVertex(p[0], p[1], p[2]);
    return CadAddPolyline(d, 0, closed);
}

std::string LayerName(CadEntity* e) {
    char buf[64] = {0};
    CadLayerGetName(CadEntityGetLayer(e), buf, sizeof buf);
    return buf;
}

QString TempVec(const char* name) {
    return kvtest::TempDir() + "/" + name;
}

int g_erased = 0;
int CountErase(CadDrawing*, CadEntity*) {
    ++g_erased;
    return 0;
}

}  // namespace

TEST(CadFile, EntitiesKeepIdsLayersAndDataThroughSaveAndOpen) {
    Drawing d(CadCreate());
    CadLayer* roads = CadAddLayer(d.get(), "roads", 3, CAD_LTYPE_CONTINUOUS, 30);
    ASSERT_NE(roads, nullptr);
    CadSetCurLayer(d.get(), roads);
    CadEntity* pl = AddPolyline(d.get(), {{0, 0, 1}, {10, 0, 2}, {10, 5, 3}}, 1);
    CadEntityPutUserData(pl, 128);
    const char tile[] = "tile_07";
    CadEntityPutExData(pl, tile, sizeof tile);
    CadEntityPutColor(pl, 5);
    CadEntity* text = CadAddText(d.get(), "12.5", 3, 4, 12.5);
    CadTextPutHeight(text, 3);
    CadTextPutAlign(text, CAD_TA_CENTER_MIDDLE);
    CadSetCurLayerByName(d.get(), "0");
    CadEntity* gone = CadAddPoint(d.get(), 1, 1, 1);
    CadEntity* image = CadAddImagePlace(d.get(), 1000, 200, 100, 500, 600, 0, 0.5);
    CadImagePutFile(image, "dem.tif");
    CadEntityErase(gone, 1);
    const int plId = CadEntityGetID(pl), textId = CadEntityGetID(text), imageId = CadEntityGetID(image);
    const int goneId = CadEntityGetID(gone);

    const QString path = TempVec("ids.vec");
    ASSERT_NE(CadFileSaveAs(d.get(), 0, path.toUtf8().constData()), 0);

    Drawing e(CadCreate());
    ASSERT_NE(CadFileOpen(e.get(), 0, path.toUtf8().constData()), 0);
    EXPECT_EQ(CadGetDirty(e.get()), 0);
    EXPECT_EQ(CadCountEntities(e.get()), 3);
    EXPECT_EQ(CadGetEntityByID(e.get(), goneId), nullptr);

    CadEntity* pl2 = CadGetEntityByID(e.get(), plId);
    ASSERT_NE(pl2, nullptr);
    EXPECT_EQ(CadEntityGetType(pl2), CAD_ENT_POLYLINE);
    EXPECT_EQ(LayerName(pl2), "roads");
    EXPECT_EQ(CadLayerGetColor(CadEntityGetLayer(pl2)), 3);
    EXPECT_EQ(CadLayerGetLineWeight(CadEntityGetLayer(pl2)), 30);
    EXPECT_EQ(CadEntityGetUserData(pl2), 128);
    EXPECT_EQ(CadEntityGetColor(pl2), 5);
    EXPECT_EQ(CadPlineGetClosed(pl2), 1);
    char ex[16] = {0};
    EXPECT_EQ(CadEntityGetExData(pl2, ex, sizeof ex), int(sizeof tile));
    EXPECT_STREQ(ex, "tile_07");
    ASSERT_EQ(CadPlineGetNumVers(pl2), 3);
    double x, y, z;
    CadPlineGetVer(pl2, 2, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, 10);
    EXPECT_DOUBLE_EQ(y, 5);
    EXPECT_DOUBLE_EQ(z, 3);

    CadEntity* text2 = CadGetEntityByID(e.get(), textId);
    char buf[32];
    CadTextGetText(text2, buf, sizeof buf);
    EXPECT_STREQ(buf, "12.5");
    EXPECT_DOUBLE_EQ(CadTextGetHeight(text2), 3);
    EXPECT_EQ(CadTextGetAlign(text2), CAD_TA_CENTER_MIDDLE);

    CadEntity* image2 = CadGetEntityByID(e.get(), imageId);
    EXPECT_EQ(CadImageGetDefID(image2), 1000);
    CadImageGetFile(image2, buf, sizeof buf);
    EXPECT_STREQ(buf, "dem.tif");
    EXPECT_DOUBLE_EQ(CadEntityGetRight(image2), 900);
    EXPECT_DOUBLE_EQ(CadEntityGetTop(image2), 800);

    // New entities of the reopened drawing never take an id that was used.
    CadEntity* fresh = CadAddPoint(e.get(), 0, 0, 0);
    EXPECT_GT(CadEntityGetID(fresh), goneId);
}

TEST(CadFile, DamagedOrForeignFilesAreRefusedAndLeaveTheDrawingAsItWas) {
    Drawing src(CadCreate());
    for (int i = 0; i < 50; ++i)
        AddPolyline(src.get(), {{double(i), 0, 0}, {double(i), 10, 0}}, 0);
    const QString good = TempVec("good.vec");
    ASSERT_NE(CadFileSaveAs(src.get(), 0, good.toUtf8().constData()), 0);
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    f.close();

    auto write = [](const QString& path, const QByteArray& data) {
        QFile out(path);
        out.open(QIODevice::WriteOnly);
        out.write(data);
    };
    QByteArray flipped = bytes;
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x20);
    QByteArray future = bytes;
    future[8] = 99;  // the format version
    const QList<QByteArray> bad = {flipped,           bytes.left(bytes.size() - 9),          bytes.left(30),
                                   QByteArray(),      QByteArray("0\nSECTION\n2\nHEADER\n"), future,
                                   bytes + "trailing"};

    Drawing d(CadCreate());
    CadEntity* mine = CadAddLine(d.get(), 0, 0, 0, 1, 1, 0);
    CadAddLayer(d.get(), "keep", 1, CAD_LTYPE_CONTINUOUS, -3);
    CadPutDirty(d.get(), 1);
    int n = 0;
    for (const QByteArray& data : bad) {
        const QString path = TempVec(("bad" + std::to_string(n++) + ".vec").c_str());
        write(path, data);
        EXPECT_EQ(CadFileOpen(d.get(), 0, path.toUtf8().constData()), 0) << "case " << n - 1;
        EXPECT_EQ(CadCountEntities(d.get()), 1);
        EXPECT_EQ(CadGetEntityByID(d.get(), CadEntityGetID(mine)), mine);
        EXPECT_NE(CadGetLayerByName(d.get(), "keep"), nullptr);
        EXPECT_EQ(CadGetDirty(d.get()), 1);
    }
    EXPECT_EQ(CadFileOpen(d.get(), 0, TempVec("missing.vec").toUtf8().constData()), 0);
    EXPECT_EQ(CadFileOpen(d.get(), 0, good.toUtf8().constData()), 1);
    EXPECT_EQ(CadCountEntities(d.get()), 50);
}

TEST(CadModel, HandlesStaySafeAfterEraseAndPurge) {
    g_erased = 0;
    CadOnEventEntErase(CountErase);
    Drawing d(CadCreate());
    CadEntity* a = AddPolyline(d.get(), {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, 1);
    CadEntity* b = CadAddPoint(d.get(), 5, 5, 0);
    const int id = CadEntityGetID(a);
    CadSelectEntity(a, 1);

    EXPECT_EQ(CadEntityErase(a, 1), 1);
    EXPECT_EQ(CadEntityErase(a, 1), 1);  // erasing again is harmless and reports once
    EXPECT_EQ(g_erased, 1);
    EXPECT_EQ(CadEntityGetSelected(a), 0);
    EXPECT_EQ(CadGetEntityByID(d.get(), id), nullptr);
    EXPECT_EQ(CadGetFirstEntity(d.get()), b);
    EXPECT_EQ(CadGetNextEntity(d.get(), a), b);  // the walk goes on from an erased entity
    EXPECT_EQ(CadEntityErase(a, 0), 1);          // restore before the purge
    EXPECT_EQ(CadGetEntityByID(d.get(), id), a);
    CadEntityErase(a, 1);

    CadPurge(d.get(), 3);
    EXPECT_EQ(CadGetEntityByID(d.get(), id), nullptr);
    EXPECT_EQ(CadCountEntities(d.get()), 1);
    // Every call on the purged handle answers without effect.
    EXPECT_EQ(CadEntityGetDeleted(a), 1);
    EXPECT_EQ(CadEntityErase(a, 0), 0);
    EXPECT_EQ(CadEntityErase(a, 1), 0);
    EXPECT_EQ(CadSelectEntity(a, 1), 0);
    EXPECT_EQ(CadEntityPutLayerID(a, 0), 0);
    EXPECT_EQ(CadPlinePutVer(a, 0, 9, 9, 9), 0);
    EXPECT_EQ(CadGetNextEntity(d.get(), a), nullptr);
    EXPECT_EQ(CadLayerGetNextEntity(CadGetLayerByName(d.get(), "0"), a), nullptr);
    CadEntityPutColor(a, 3);
    CadEntityPutVisible(a, 0);
    CadTextPutHeight(a, 2);
    EXPECT_EQ(CadPlineContainPoint(a, 0.5, 0.5), 0);
    EXPECT_EQ(CadCountEntities(d.get()), 1);
    EXPECT_EQ(g_erased, 2);  // the two real erasures
    CadOnEventEntErase(nullptr);
}

TEST(CadModel, LayersSortByDescendingLevelAndAreFoundByName) {
    Drawing d(CadCreate());
    EXPECT_NE(CadGetLayerByName(d.get(), "0"), nullptr);
    CadLayer* a = CadAddLayer(d.get(), "a", 7, CAD_LTYPE_CONTINUOUS, -3);
    CadLayer* b = CadAddLayer(d.get(), "b", 7, CAD_LTYPE_CONTINUOUS, -3);
    EXPECT_EQ(CadAddLayer(d.get(), "a", 1, CAD_LTYPE_CONTINUOUS, -3), nullptr);
    EXPECT_EQ(CadAddLayer(d.get(), "", 1, CAD_LTYPE_CONTINUOUS, -3), nullptr);
    // Give every layer n*10 .. 10 in list order, then "0" level 1: "0" is drawn last.
    int n = CadCountLayers(d.get()), k = 0;
    for (CadLayer* l = CadGetFirstLayer(d.get()); l; l = CadGetNextLayer(d.get(), l))
        CadLayerPutLevel(l, (n - k++) * 10);
    CadLayerPutLevel(CadGetLayerByName(d.get(), "0"), 1);
    CadSortLayers(d.get());
    CadLayer* first = CadGetFirstLayer(d.get());
    EXPECT_EQ(first, a);
    EXPECT_EQ(CadGetNextLayer(d.get(), first), b);
    EXPECT_EQ(CadGetNextLayer(d.get(), b), CadGetLayerByName(d.get(), "0"));

    CadSetCurLayer(d.get(), b);
    CadEntity* e1 = CadAddPoint(d.get(), 0, 0, 0);
    CadAddPoint(d.get(), 1, 0, 0);
    CadEntity* e3 = CadAddPoint(d.get(), 2, 0, 0);
    CadEntityPutLayerID(CadGetNextEntity(d.get(), e1), CadLayerGetID(a));
    EXPECT_EQ(CadLayerGetFirstEntity(b), e1);
    EXPECT_EQ(CadLayerGetNextEntity(b, e1), e3);
    EXPECT_EQ(CadLayerGetNextEntity(b, e3), nullptr);

    // A deleted layer erases its entities, stays findable until a purge, and new entities fall
    // back to layer "0".
    EXPECT_EQ(CadDeleteLayer(d.get(), CadGetLayerByName(d.get(), "0")), 0);
    EXPECT_EQ(CadDeleteLayer(d.get(), b), 1);
    EXPECT_EQ(CadLayerGetDeleted(b), 1);
    EXPECT_EQ(CadEntityGetDeleted(e1), 1);
    EXPECT_EQ(CadGetLayerByName(d.get(), "b"), b);
    EXPECT_EQ(CadEntityGetLayerID(CadAddPoint(d.get(), 3, 3, 0)), 0);
    CadPurge(d.get(), 3);
    EXPECT_EQ(CadGetLayerByName(d.get(), "b"), nullptr);
    EXPECT_EQ(CadLayerGetID(b), CadLayerGetID(b));  // the handle itself is still an object
}

TEST(CadModel, PolylineQueries) {
    Drawing d(CadCreate());
    CadEntity* sq = AddPolyline(d.get(), {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, 1);
    EXPECT_NE(CadPlineContainPoint(sq, 5, 5), 0);
    EXPECT_EQ(CadPlineContainPoint(sq, 15, 5), 0);
    EXPECT_DOUBLE_EQ(CadPlineGetLength(sq), 40);
    double x, y, z;
    ASSERT_NE(CadPlineGetInterPoint(sq, 5, 20, 5, -20, &x, &y), 0);
    EXPECT_DOUBLE_EQ(x, 5);
    EXPECT_DOUBLE_EQ(y, 10);  // the crossing nearest to the segment's start
    EXPECT_EQ(CadPlineGetInterPoint(sq, 20, 20, 30, 30, &x, &y), 0);
    CadPlineGetDistPoint(sq, 15, &x, &y, &z);
    EXPECT_DOUBLE_EQ(x, 10);
    EXPECT_DOUBLE_EQ(y, 5);
    CadPlinePutVer(sq, 2, 20, 20, 4);
    EXPECT_DOUBLE_EQ(CadEntityGetRight(sq), 20);
    EXPECT_DOUBLE_EQ(CadEntityGetTop(sq), 20);

    CadClearVertices();
    CadAddVertex(0, 0, 0);
    EXPECT_EQ(CadAddPolyline(d.get(), 0, 0), nullptr);  // one vertex is no polyline
    EXPECT_EQ(CadAddPolyline(d.get(), 0, 0), nullptr);  // and the list was used up

    CadEntity* rect = CadAddRect(d.get(), 50, 50, 0, 20, 10, 0);
    EXPECT_EQ(CadPlineGetNumVers(rect), 4);
    EXPECT_DOUBLE_EQ(CadEntityGetLeft(rect), 40);
    EXPECT_DOUBLE_EQ(CadEntityGetBottom(rect), 45);
}

TEST(CadModel, PointAndLineSettersMoveTheirOwnKindAndMarkTheDrawingChanged) {
    Drawing d(CadCreate());
    CadEntity* point = CadAddPoint(d.get(), 1, 2, 3);
    CadEntity* line = CadAddLine(d.get(), 0, 0, 0, 10, 0, 0);
    CadPutDirty(d.get(), 0);
    EXPECT_EQ(CadPointPut(point, 20, 30, 7), 1);
    EXPECT_EQ(CadGetDirty(d.get()), 1);
    double x, y, z, x2, y2, z2;
    CadPointGet(point, &x, &y, &z);
    EXPECT_EQ((std::vector<double>{x, y, z}), (std::vector<double>{20, 30, 7}));
    EXPECT_DOUBLE_EQ(CadEntityGetRight(point), 20);  // the cached extents follow

    CadPutDirty(d.get(), 0);
    EXPECT_EQ(CadLinePut(line, 0, 0, 4, 10, 40, 5), 1);
    EXPECT_EQ(CadGetDirty(d.get()), 1);
    CadLineGet(line, &x, &y, &z, &x2, &y2, &z2);
    EXPECT_EQ((std::vector<double>{x, y, z, x2, y2, z2}), (std::vector<double>{0, 0, 4, 10, 40, 5}));
    EXPECT_DOUBLE_EQ(CadEntityGetTop(line), 40);

    // Each refuses the other kind and a purged entity, and changes nothing then.
    CadPutDirty(d.get(), 0);
    EXPECT_EQ(CadPointPut(line, 9, 9, 9), 0);
    EXPECT_EQ(CadLinePut(point, 9, 9, 9, 9, 9, 9), 0);
    EXPECT_EQ(CadGetDirty(d.get()), 0);
    CadLineGet(line, &x, &y, &z, &x2, &y2, &z2);
    EXPECT_EQ(x2, 10);
    CadEntityErase(point, 1);
    CadPurge(d.get(), 3);
    EXPECT_EQ(CadPointPut(point, 9, 9, 9), 0);
}

TEST(CadModel, SelectByPolygonSkipsLockedLayersAndKeepsOrder) {
    Drawing d(CadCreate());
    CadLayer* locked = CadAddLayer(d.get(), "locked", 7, CAD_LTYPE_CONTINUOUS, -3);
    CadEntity* inside = CadAddPoint(d.get(), 5, 5, 0);
    CadEntity* crossing = CadAddLine(d.get(), 5, 5, 0, 50, 5, 0);
    CadEntity* outside = CadAddLine(d.get(), 30, 30, 0, 40, 40, 0);
    CadEntity* onLocked = CadAddPoint(d.get(), 6, 6, 0);
    CadEntityPutLayerID(onLocked, CadLayerGetID(locked));
    CadLayerPutLock(locked, 1);
    CadEntity* area = AddPolyline(d.get(), {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}}, 1);

    CadSelectByPolygon(d.get(), area, 1, 1);
    EXPECT_EQ(CadEntityGetSelected(inside), 1);
    EXPECT_EQ(CadEntityGetSelected(crossing), 1);
    EXPECT_EQ(CadEntityGetSelected(outside), 0);
    EXPECT_EQ(CadEntityGetSelected(onLocked), 0);
    EXPECT_EQ(CadSelGetFirst(d.get()), inside);
    CadSelectEntity(area, 0);
    EXPECT_EQ(CadSelCount(d.get()), 2);

    CadSelectClear(d.get());
    CadSelectByPolygon(d.get(), area, 0, 1);
    EXPECT_EQ(CadEntityGetSelected(crossing), 0);  // wholly inside only
    EXPECT_EQ(CadEntityGetSelected(inside), 1);
}

TEST(CadModel, CopyAndPasteCarryLayersAndBlocks) {
    Drawing src(CadCreate());
    CadLayer* l = CadAddLayer(src.get(), "contours", 2, CAD_LTYPE_CONTINUOUS, 30);
    CadSetCurLayer(src.get(), l);
    CadEntity* pl = AddPolyline(src.get(), {{0, 0, 5}, {1, 1, 5}}, 0);
    CadEntityPutUserData(pl, 7);
    CadBlock* blk = CadAddBlock(src.get(), "Frame", 0, 0, 0);
    ASSERT_NE(blk, nullptr);
    EXPECT_EQ(CadAddBlock(src.get(), "FRAME", 0, 0, 0), nullptr);  // names are unique
    CadBlockAddEntity(blk, CadAddRect(src.get(), 0, 0, 0, 2, 2, 0));
    CadEntity* ins = CadAddInsBlock(src.get(), CadBlockGetID(blk), 100, 100, 0, 2, 0);
    ASSERT_NE(ins, nullptr);
    EXPECT_DOUBLE_EQ(CadEntityGetLeft(ins), 98);
    EXPECT_DOUBLE_EQ(CadEntityGetRight(ins), 102);
    EXPECT_EQ(CadCountEntities(src.get()), 2);  // the rectangle lives in the block
    CadSelectAll(src.get());
    ASSERT_NE(CadCbCopy(src.get(), nullptr), 0);

    Drawing dst(CadCreate());
    EXPECT_EQ(CadCbPaste(dst.get(), 10, 0, 0), 2);
    CadLayer* l2 = CadGetLayerByName(dst.get(), "contours");
    ASSERT_NE(l2, nullptr);
    EXPECT_EQ(CadLayerGetColor(l2), 2);
    CadEntity* copy = CadLayerGetFirstEntity(l2);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(CadEntityGetUserData(copy), 7);
    EXPECT_DOUBLE_EQ(CadEntityGetLeft(copy), 10);
    CadEntity* ins2 = CadGetNextEntity(dst.get(), copy);
    ASSERT_NE(ins2, nullptr);
    EXPECT_EQ(CadEntityGetType(ins2), CAD_ENT_INSERT);
    EXPECT_DOUBLE_EQ(CadEntityGetLeft(ins2), 108);
}

TEST(CadModel, RasterizeWritesThePictureOfTheArea) {
    Drawing d(CadCreate());
    CadAddLine(d.get(), 0, 5, 0, 10, 5, 0);
    const QString path = kvtest::TempDir() + "/raster.png";
    ASSERT_NE(CadRasterize(d.get(), path.toUtf8().constData(), 0, 0, 10, 10, 4), 0);
    QImage img(path);
    ASSERT_EQ(img.size(), QSize(40, 40));
    EXPECT_GT(qAlpha(img.pixel(20, 20)), 0);  // the line across the middle
    EXPECT_EQ(qAlpha(img.pixel(20, 5)), 0);
    EXPECT_EQ(CadRasterize(d.get(), path.toUtf8().constData(), 0, 0, 10, 10, 1e6), 0);  // too large
}

TEST(CadFile, EveryKindOfEntityAndBlocksSurviveTheFile) {
    Drawing d(CadCreate());
    CadAddCircle(d.get(), 1, 2, 3, 4);
    CadAddArc(d.get(), 5, 6, 0, 2, 0.5, 2.5);
    CadAddEllipse(d.get(), 0, 0, 0, 8, 3, 0.25, 0, 6.283185307179586);
    CadClearVertices();
    for (int i = 0; i < 5; ++i)
        CadAddVertex(i, i * i, i);
    CadAddSpline(d.get(), 0);
    CadClearVertices();
    CadAddVertex(0, 0, 0);
    CadAddVertex(4, 0, 0);
    CadAddVertex(4, 4, 0);
    CadAddHatch(d.get(), 2, 1.5, 0.75);
    CadAddDimension(d.get(), CAD_DIM_ALIGNED, 0, 0, 10, 0, 5, 3);
    CadEntity* label = CadAddText(d.get(), "Parametratura", 7, 8, 0);
    CadTextPutAngle(label, 1.5707963267948966);
    CadBlock* b = CadAddBlock(d.get(), "Parametratura", 10, 10, 0);
    CadBlockAddEntity(b, CadAddLine(d.get(), 10, 10, 0, 20, 10, 0));
    CadBlockAddEntity(b, CadAddText(d.get(), "1:500", 12, 12, 0));
    CadAddInsBlock(d.get(), CadBlockGetID(b), 100, 200, 0, 1, 0);
    const QString path = TempVec("kinds.vec");
    ASSERT_NE(CadFileSaveAs(d.get(), 0, path.toUtf8().constData()), 0);

    Drawing e(CadCreate());
    ASSERT_NE(CadFileOpen(e.get(), 0, path.toUtf8().constData()), 0);
    ASSERT_EQ(CadCountEntities(e.get()), CadCountEntities(d.get()));
    for (CadEntity *a = CadGetFirstEntity(d.get()), *c = CadGetFirstEntity(e.get()); a && c;
         a = CadGetNextEntity(d.get(), a), c = CadGetNextEntity(e.get(), c)) {
        EXPECT_EQ(CadEntityGetID(a), CadEntityGetID(c));
        EXPECT_EQ(CadEntityGetType(a), CadEntityGetType(c));
        EXPECT_DOUBLE_EQ(CadEntityGetLeft(a), CadEntityGetLeft(c)) << CadEntityGetType(a);
        EXPECT_DOUBLE_EQ(CadEntityGetTop(a), CadEntityGetTop(c)) << CadEntityGetType(a);
        EXPECT_DOUBLE_EQ(CadEntityGetRight(a), CadEntityGetRight(c)) << CadEntityGetType(a);
        EXPECT_DOUBLE_EQ(CadEntityGetBottom(a), CadEntityGetBottom(c)) << CadEntityGetType(a);
    }
    CadEntity* circle = CadGetFirstEntity(e.get());
    double x, y, z, r, a0, a1;
    ASSERT_NE(CadArcGet(circle, &x, &y, &z, &r, &a0, &a1), 0);
    EXPECT_EQ(CadArcIsCircle(circle), 1);
    EXPECT_DOUBLE_EQ(r, 4);
    int pattern;
    double scale, angle;
    CadEntity* hatch = CadGetNextEntity(
        e.get(), CadGetNextEntity(e.get(), CadGetNextEntity(e.get(), CadGetNextEntity(e.get(), circle))));
    ASSERT_NE(CadHatchGet(hatch, &pattern, &scale, &angle), 0);
    EXPECT_EQ(pattern, 2);
    EXPECT_DOUBLE_EQ(angle, 0.75);
    CadBlock* b2 = CadGetBlockByName(e.get(), "parametratura");
    ASSERT_NE(b2, nullptr);
    CadEntity* inBlock = CadBlockGetFirstEntity(b2);
    ASSERT_NE(inBlock, nullptr);
    EXPECT_EQ(CadEntityGetType(inBlock), CAD_ENT_LINE);
    EXPECT_EQ(CadEntityGetType(CadBlockGetNextEntity(b2, inBlock)), CAD_ENT_TEXT);
    EXPECT_EQ(CadAddBlock(e.get(), "Parametratura", 0, 0, 0), nullptr);
    EXPECT_NE(CadAddBlock(e.get(), "Parametratura_1", 0, 0, 0), nullptr);
}

TEST(CadModel, ReadOnlyDrawingsRefuseTheOperatorsEraseOnly) {
    Drawing d(CadCreate());
    CadEntity* a = CadAddPoint(d.get(), 0, 0, 0);
    CadEntity* b = CadAddPoint(d.get(), 1, 0, 0);
    CadPutReadOnly(d.get(), 1);
    CadSelectEntity(a, 1);
    EXPECT_EQ(CadExecute(d.get(), nullptr, CAD_CMD_ERASE), 0);
    EXPECT_EQ(CadEntityGetDeleted(a), 0);
    EXPECT_EQ(CadEntityErase(b, 1), 1);  // the program's own calls still change it
    CadPutReadOnly(d.get(), 0);
    EXPECT_EQ(CadExecute(d.get(), nullptr, CAD_CMD_ERASE), 1);
    EXPECT_EQ(CadEntityGetDeleted(a), 1);
    EXPECT_EQ(CadCountEntities(d.get()), 0);
    CadSetReturnInt(5);  // outside an event procedure: nothing to answer, nothing happens
}
