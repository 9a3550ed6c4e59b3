// The CAD engine measured on a drawing of one million polyline vertices (1000 contour-like lines
// of 1000 vertices): the native file against an ESRI shapefile written and read by OGR, a full
// repaint at full extent and zoomed in, and picks and snaps against the same on a drawing of a
// thousand vertices.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>
#include <gdal.h>
#include <ogr_api.h>
#include <ogr_srs_api.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "platform/cad/Cad.h"

namespace {

constexpr int kLines = 1000;
constexpr int kVertices = 1000;

QTemporaryDir* g_tmp = nullptr;

std::string Path(const char* name) {
    return (g_tmp->path() + "/" + name).toStdString();
}

// Vertex k of contour line i: lines 10 units apart that follow the same wavy course, so they
// never cross, like contours of a tilted rolling surface.
void Vertex(int i, int k, int verts, double& x, double& y, double& z) {
    x = k * (10000.0 / (verts - 1));
    y = i * 10.0 + 30 * std::sin(x / 300) + 8 * std::sin(x / 71 + 0.3);
    z = 100.0 + i;
}

CadDrawing* MakeDrawing(int lines, int verts) {
    CadDrawing* d = CadCreate();
    CadSetCurLayer(d, CadAddLayer(d, "contours", 3, CAD_LTYPE_CONTINUOUS, -3));
    for (int i = 0; i < lines; ++i) {
        CadClearVertices();
        for (int k = 0; k < verts; ++k) {
            double x, y, z;
            Vertex(i * (kLines / lines), k, verts, x, y, z);
            CadAddVertex(x, y, z);
        }
        CadAddPolyline(d, 0, 0);
    }
    CadPutDirty(d, 0);
    return d;
}

CadDrawing* Large() {
    static CadDrawing* d = MakeDrawing(kLines, kVertices);
    return d;
}

CadDrawing* Small() {
    static CadDrawing* d = MakeDrawing(10, 100);
    return d;
}

void BM_VecSave(benchmark::State& state) {
    CadDrawing* d = Large();
    const std::string path = Path("contours.vec");
    for (auto _ : state)
        if (!CadFileSaveAs(d, 0, path.c_str()))
            state.SkipWithError("save failed");
    state.counters["vertices"] = double(kLines) * kVertices;
}

void BM_VecOpen(benchmark::State& state) {
    const std::string path = Path("contours.vec");
    CadFileSaveAs(Large(), 0, path.c_str());
    CadDrawing* d = CadCreate();
    for (auto _ : state) {
        if (!CadFileOpen(d, 0, path.c_str()))
            state.SkipWithError("open failed");
        state.PauseTiming();
        CadPurge(d, 3);
        state.ResumeTiming();
    }
    CadDelete(d);
}

// The same lines as an ESRI shapefile through OGR, with the attributes a contour file has.
bool WriteShapefile(const std::string& path) {
    GDALDriverH drv = GDALGetDriverByName("ESRI Shapefile");
    GDALDeleteDataset(drv, path.c_str());
    GDALDatasetH ds = GDALCreate(drv, path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!ds)
        return false;
    OGRLayerH layer = GDALDatasetCreateLayer(ds, "contours", nullptr, wkbLineString25D, nullptr);
    OGRFieldDefnH fid = OGR_Fld_Create("ID", OFTInteger);
    OGR_L_CreateField(layer, fid, 1);
    OGR_Fld_Destroy(fid);
    OGRFieldDefnH elev = OGR_Fld_Create("Elevation", OFTReal);
    OGR_L_CreateField(layer, elev, 1);
    OGR_Fld_Destroy(elev);
    bool ok = true;
    for (int i = 0; i < kLines; ++i) {
        OGRFeatureH f = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        OGRGeometryH g = OGR_G_CreateGeometry(wkbLineString25D);
        OGR_G_SetPointCount(g, kVertices);
        for (int k = 0; k < kVertices; ++k) {
            double x, y, z;
            Vertex(i, k, kVertices, x, y, z);
            OGR_G_SetPoint(g, k, x, y, z);
        }
        OGR_F_SetFieldInteger(f, 0, i);
        OGR_F_SetFieldDouble(f, 1, 100.0 + i);
        OGR_F_SetGeometryDirectly(f, g);
        ok = ok && OGR_L_CreateFeature(layer, f) == OGRERR_NONE;
        OGR_F_Destroy(f);
    }
    GDALClose(ds);
    return ok;
}

void BM_OgrShapefileWrite(benchmark::State& state) {
    const std::string path = Path("contours.shp");
    for (auto _ : state)
        if (!WriteShapefile(path))
            state.SkipWithError("write failed");
}

void BM_OgrShapefileRead(benchmark::State& state) {
    const std::string path = Path("contours.shp");
    if (!QFile::exists(QString::fromStdString(path)) && !WriteShapefile(path))
        state.SkipWithError("write failed");
    size_t total = 0;
    std::vector<double> xs, ys, zs;
    for (auto _ : state) {
        GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
        if (!ds) {
            state.SkipWithError("open failed");
            break;
        }
        OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
        OGR_L_ResetReading(layer);
        total = 0;
        while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
            OGRGeometryH g = OGR_F_GetGeometryRef(f);
            int n = OGR_G_GetPointCount(g);
            xs.resize(size_t(n));
            ys.resize(size_t(n));
            zs.resize(size_t(n));
            OGR_G_GetPoints(g, xs.data(), sizeof(double), ys.data(), sizeof(double), zs.data(),
                            sizeof(double));
            total += size_t(n);
            OGR_F_Destroy(f);
        }
        GDALClose(ds);
    }
    if (total != size_t(kLines) * kVertices)
        state.SkipWithError("wrong vertex count");
}

QWidget* WindowOf(CadDrawing* d) {
    QWidget* w = CadGetWindow(d);
    if (!w) {
        w = CadWndCreate(d, nullptr, 0, 0, 1280, 800);
        CadExecute(d, w, CAD_CMD_ZOOM_EXTENTS);
    }
    return w;
}

void Repaint(benchmark::State& state, CadDrawing* d, double zoom) {
    QWidget* w = WindowOf(d);
    CadExecute(d, w, CAD_CMD_ZOOM_EXTENTS);
    double l, b, r, t;
    CadGetViewRect(w, &l, &b, &r, &t);
    double cx = (l + r) / 2, cy = (b + t) / 2, hw = (r - l) / 2 / zoom, hh = (t - b) / 2 / zoom;
    CadViewRect(w, cx - hw, cy - hh, cx + hw, cy + hh);
    for (auto _ : state)
        CadWinPaint(w);
}

void BM_RepaintFullExtent(benchmark::State& state) {
    Repaint(state, Large(), 1);
}
void BM_RepaintZoomed20x(benchmark::State& state) {
    Repaint(state, Large(), 20);
}
void BM_RepaintFullExtentSmall(benchmark::State& state) {
    Repaint(state, Small(), 1);
}

// Both drawings are shown at the same scale around a point on their middle line, so that the
// operator's pick aperture covers the same model area in each.
void ShowAroundPick(CadDrawing* d, double& x, double& y) {
    double z;
    Vertex(kLines / 2, kVertices / 2, kVertices, x, y, z);
    CadViewRect(WindowOf(d), x - 200, y - 125, x + 200, y + 125);
}

// One pick of the entity under a point near a line in the middle of the drawing.
void Pick(benchmark::State& state, CadDrawing* d) {
    CadScriptSetStrict(1);
    double x, y;
    ShowAroundPick(d, x, y);
    int found = 0;
    for (auto _ : state) {
        CadScriptPushPoint(d, x + 0.01, y, 0);
        found += CadCmdUserGetEntity(d) ? 1 : 0;
    }
    if (found != int(state.iterations()))
        state.SkipWithError("missed the line");
}

void Snap(benchmark::State& state, CadDrawing* d) {
    CadScriptSetStrict(1);
    CadSnapPutMode(d, CAD_SNAP_END | CAD_SNAP_MID | CAD_SNAP_NEAREST | CAD_SNAP_INTERSECTION);
    CadSnapPutOn(d, 1);
    double x, y;
    ShowAroundPick(d, x, y);
    for (auto _ : state) {
        CadScriptPushPoint(d, x + 0.01, y + 0.01, 0);
        double sx, sy, sz;
        benchmark::DoNotOptimize(CadToolGetPickedPoint(d, &sx, &sy, &sz));
    }
}

// A pick right after an edit: the spatial index is built again first.
void BM_PickAfterEditLarge(benchmark::State& state) {
    CadDrawing* d = Large();
    CadScriptSetStrict(1);
    double x, y;
    ShowAroundPick(d, x, y);
    CadEntity* first = CadGetFirstEntity(d);
    double vx, vy, vz;
    CadPlineGetVer(first, 0, &vx, &vy, &vz);
    for (auto _ : state) {
        CadPlinePutVer(first, 0, vx, vy, vz);
        CadScriptPushPoint(d, x + 0.01, y, 0);
        benchmark::DoNotOptimize(CadCmdUserGetEntity(d));
    }
}

void BM_PickLarge(benchmark::State& state) {
    Pick(state, Large());
}
void BM_PickSmall(benchmark::State& state) {
    Pick(state, Small());
}
void BM_SnapLarge(benchmark::State& state) {
    Snap(state, Large());
}
void BM_SnapSmall(benchmark::State& state) {
    Snap(state, Small());
}

}  // namespace

BENCHMARK(BM_VecSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrShapefileWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_VecOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrShapefileRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintFullExtent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintZoomed20x)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepaintFullExtentSmall)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PickLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PickSmall)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PickAfterEditLarge)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SnapLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SnapSmall)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir tmp;
    g_tmp = &tmp;
    GDALAllRegister();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
