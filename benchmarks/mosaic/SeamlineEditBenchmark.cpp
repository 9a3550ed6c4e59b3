// One seamline edit over many regions, side by side with the same polygon booleans through OGR;
// and the preview of a large tile grid.
//
// Input: the 470 neighbourhood polygons of tests/data/olinda1.shp, each the one seamline region of
// an orthophoto record of a project (polylines on "SeamLines" linked as the generation links
// them). The area is a square around the centre of one neighbourhood, grown until it reaches 20
// regions (found by OGR_G_Intersects, untimed).
//   BM_EditApplyUndoRedo - ApplySeamlineArea (selection by the area, the union for the clicked
//                          region and the differences for the others, new polylines, the round),
//                          then UndoSeamlineRound and RedoSeamlineRound; the project is put back
//                          untimed between iterations;
//   BM_OgrUnionDifference - the peer: OGR_G_Union of the clicked region with the area and
//                          OGR_G_Difference of every other touched region, on OGR polygons of the
//                          same rings (GDAL over GEOS);
//   BM_TilePreview100x100 - the tiles of a 100 x 100 grid laid over a square footprint and drawn
//                          on "TempTiles" as the setup dialog's preview draws them, then erased
//                          and purged.
#include <benchmark/benchmark.h>
#include <gdal.h>
#include <ogr_api.h>

#include <QApplication>

#include <cmath>
#include <cstdio>
#include <vector>

#include "document/KelvaroDoc.h"
#include "mosaic/SeamlineEdit.h"
#include "mosaic/SeamlineFiles.h"
#include "mosaic/TileLayout.h"
#include "raster/Ortho.h"

namespace {

constexpr int kTouched = 20;

CKelvaroDoc* g_doc = nullptr;
std::vector<COrtho*> g_images;
std::vector<OGRGeometryH> g_regions;  // the same regions for the peer
COrtho* g_edited = nullptr;
std::vector<Wml::Point2> g_area;
OGRGeometryH g_areaGeometry = nullptr;
std::vector<int> g_touched;  // indices of the regions the edit touches

OGRGeometryH SquareGeometry(double cx, double cy, double half) {
    OGRGeometryH ring = OGR_G_CreateGeometry(wkbLinearRing);
    const double xs[5] = {cx - half, cx + half, cx + half, cx - half, cx - half};
    const double ys[5] = {cy - half, cy - half, cy + half, cy + half, cy - half};
    for (int i = 0; i < 5; ++i) {
        OGR_G_AddPoint_2D(ring, xs[i], ys[i]);
    }
    OGRGeometryH polygon = OGR_G_CreateGeometry(wkbPolygon);
    OGR_G_AddGeometryDirectly(polygon, ring);
    return polygon;
}

bool LoadRegions() {
    GDALDatasetH source =
        GDALOpenEx(KV_BENCH_OLINDA, GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    if (!source) {
        return false;
    }
    OGRLayerH layer = GDALDatasetGetLayer(source, 0);
    CadDrawing* drawing = g_doc->m_pCad;
    CadLayer* seamLayer = GetSeamlineLayer(drawing, kSeamLinesLayer);
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
        if (geometry && wkbFlatten(OGR_G_GetGeometryType(geometry)) == wkbPolygon) {
            auto* ortho = new COrtho(g_doc);
            ortho->m_name = QStringLiteral("region_%1.tif").arg(g_images.size(), 3, 10, QLatin1Char('0'));
            g_doc->m_Orthos[ortho->m_name] = ortho;
            for (int r = 0; r < OGR_G_GetGeometryCount(geometry); ++r) {
                OGRGeometryH ring = OGR_G_GetGeometryRef(geometry, r);
                CadClearVertices();
                // The closing point is not repeated in a polyline.
                for (int i = 0; i + 1 < OGR_G_GetPointCount(ring); ++i) {
                    CadAddVertex(OGR_G_GetX(ring, i), OGR_G_GetY(ring, i), 0.0);
                }
                CadEntity* polyline = CadAddPolyline(drawing, 0, 1);
                CadEntityPutLayerID(polyline, CadLayerGetID(seamLayer));
                CadEntityPutUserPtr(polyline, ortho);
                CadEntityPutUserData(polyline, static_cast<int>(g_images.size()) + 1);
                ortho->SeamlinePolylines.push_back(polyline);
            }
            CadClearVertices();
            g_images.push_back(ortho);
            g_regions.push_back(OGR_G_Clone(geometry));
        }
        OGR_F_Destroy(feature);
    }
    GDALClose(source);
    return g_images.size() == 470;
}

// A square around the centre of one region, grown until it reaches kTouched regions.
bool ChooseArea() {
    OGREnvelope envelope;
    OGR_G_GetEnvelope(g_regions[200], &envelope);
    const double cx = (envelope.MinX + envelope.MaxX) / 2, cy = (envelope.MinY + envelope.MaxY) / 2;
    OGRGeometryH centre = OGR_G_CreateGeometry(wkbPoint);
    OGR_G_SetPoint_2D(centre, 0, cx, cy);
    for (size_t i = 0; i < g_regions.size() && !g_edited; ++i) {
        if (OGR_G_Contains(g_regions[i], centre)) {
            g_edited = g_images[i];
        }
    }
    OGR_G_DestroyGeometry(centre);
    for (double half = 1e-4; half < 0.05 && g_edited; half *= 1.05) {
        OGRGeometryH square = SquareGeometry(cx, cy, half);
        std::vector<int> touched;
        for (size_t i = 0; i < g_regions.size(); ++i) {
            if (OGR_G_Intersects(g_regions[i], square)) {
                touched.push_back(static_cast<int>(i));
            }
        }
        if (static_cast<int>(touched.size()) >= kTouched) {
            g_areaGeometry = square;
            g_touched = touched;
            g_area = {{cx - half, cy - half},
                      {cx + half, cy - half},
                      {cx + half, cy + half},
                      {cx - half, cy + half}};
            return true;
        }
        OGR_G_DestroyGeometry(square);
    }
    return false;
}

// A purge drops the drawing's spatial index, which the next query (or repaint) builds again; it
// is built here, untimed, by a selection far from every region.
void WarmIndex() {
    CadDrawing* drawing = g_doc->m_pCad;
    CadClearVertices();
    for (const Wml::Point2& p : std::vector<Wml::Point2>{{0, 0}, {1e-6, 0}, {1e-6, 1e-6}}) {
        CadAddVertex(p.X(), p.Y(), 0.0);
    }
    CadEntity* probe = CadAddPolyline(drawing, 0, 1);
    CadClearVertices();
    CadSelectByPolygon(drawing, probe, 1, 1);
    CadSelectClear(drawing);
    CadEntityErase(probe, 1);
}

void BM_EditApplyUndoRedo(benchmark::State& state) {
    WarmIndex();
    for (auto _ : state) {
        benchmark::DoNotOptimize(ApplySeamlineArea(*g_doc, g_edited, g_area));
        g_doc->UndoSeamlineRound();
        g_doc->RedoSeamlineRound();
        state.PauseTiming();
        g_doc->UndoSeamlineRound();
        CadPurge(g_doc->m_pCad, CAD_PURGE_ALL);
        WarmIndex();
        state.ResumeTiming();
    }
}

void BM_OgrUnionDifference(benchmark::State& state) {
    for (auto _ : state) {
        for (int i : g_touched) {
            OGRGeometryH result = g_images[static_cast<size_t>(i)] == g_edited
                                      ? OGR_G_Union(g_regions[static_cast<size_t>(i)], g_areaGeometry)
                                      : OGR_G_Difference(g_regions[static_cast<size_t>(i)], g_areaGeometry);
            benchmark::DoNotOptimize(result);
            OGR_G_DestroyGeometry(result);
        }
    }
}

void BM_TilePreview100x100(benchmark::State& state) {
    const Wml::Point2 corners[4] = {{0, 0}, {999.5, 0}, {999.5, 999.5}, {0, 999.5}};
    const CPgon footprint(corners, 4);
    CadDrawing* drawing = g_doc->m_pCad;
    CadLayer* preview = GetTileLayer(drawing, kTempTilesLayer);
    std::vector<CadEntity*> handles;
    for (auto _ : state) {
        const std::vector<GridTile> grid = LayTileGrid(footprint, {0, 0, 10, 10, 0, 0});
        for (const GridTile& tile : grid) {
            const TileHandleStruct added = AddTile(drawing, preview, tile.name,
                                                   {{tile.x, tile.y, 0.0},
                                                    {tile.x + 10, tile.y, 0.0},
                                                    {tile.x + 10, tile.y + 10, 0.0},
                                                    {tile.x, tile.y + 10, 0.0}},
                                                   kPreviewTileColour);
            handles.push_back(added.outline);
            handles.push_back(added.label);
        }
        state.PauseTiming();
        if (grid.size() != 10000) {
            state.SkipWithError("the grid is not 100 x 100");
        }
        for (CadEntity* e : handles) {
            CadEntityErase(e, 1);
        }
        handles.clear();
        CadPurge(drawing, CAD_PURGE_ALL);
        state.ResumeTiming();
    }
}

BENCHMARK(BM_EditApplyUndoRedo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OgrUnionDifference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TilePreview100x100)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    CKelvaroDoc doc;
    g_doc = &doc;
    if (!LoadRegions() || !ChooseArea()) {
        std::fprintf(stderr, "could not load the 470 regions or choose the area\n");
        return 1;
    }
    // The edit must touch exactly the regions the peer works on.
    const int applied = ApplySeamlineArea(doc, g_edited, g_area);
    const size_t touched = applied ? doc.m_SeamlineRounds.back()->orthos.size() : 0;
    doc.UndoSeamlineRound();
    std::printf("470 regions; the area reaches %zu of them (OGR), the edit touches %zu\n", g_touched.size(),
                touched);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (OGRGeometryH geometry : g_regions) {
        OGR_G_DestroyGeometry(geometry);
    }
    OGR_G_DestroyGeometry(g_areaGeometry);
    return 0;
}
