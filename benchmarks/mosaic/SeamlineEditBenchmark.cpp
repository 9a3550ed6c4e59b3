// One seamline edit over many regions against the same polygon work through OGR, timed in process
// per edit: the 470 neighbourhood polygons of tests/data/olinda1.shp, each the one seamline region
// of an orthophoto record of a project (polylines on "SeamLines" linked as the generation links
// them), and a square around the centre of one neighbourhood grown until it reaches 20 regions.
//   ours - ApplySeamlineArea: the regions the area reaches, the union for the clicked region and
//          the differences for the others, the new polylines and the edit round (undone untimed
//          after each edit);
//   OGR  - the regions the area reaches (OGR_G_Intersects over all 470), OGR_G_Union of the
//          clicked one with the area and OGR_G_Difference of every other one (GDAL over GEOS).
// Both must touch the same regions.
#include <gdal.h>
#include <ogr_api.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "document/KelvaroDoc.h"
#include "mosaic/SeamlineEdit.h"
#include "mosaic/SeamlineFiles.h"
#include "raster/Ortho.h"

namespace {

using bench::Args;

constexpr int kTouched = 20;
constexpr size_t kRegions = 470;

const bench::Files File("seamline_edit");

std::vector<OGRGeometryH> ReadRegions() {
    std::vector<OGRGeometryH> regions;
    GDALDatasetH source =
        GDALOpenEx(KV_BENCH_OLINDA, GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
    if (!source) {
        return regions;
    }
    OGRLayerH layer = GDALDatasetGetLayer(source, 0);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
        if (geometry && wkbFlatten(OGR_G_GetGeometryType(geometry)) == wkbPolygon) {
            regions.push_back(OGR_G_Clone(geometry));
        }
        OGR_F_Destroy(feature);
    }
    GDALClose(source);
    return regions;
}

OGRGeometryH Square(double cx, double cy, double half) {
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

// The edit: the centre of region 200, the region that holds it and the half side of the square
// that reaches kTouched regions.
struct Edit {
    double cx = 0.0, cy = 0.0, half = 0.0;
    size_t clicked = 0;
};

bool ChooseEdit(const std::vector<OGRGeometryH>& regions, Edit* edit) {
    if (regions.size() != kRegions) {
        return false;
    }
    OGREnvelope envelope;
    OGR_G_GetEnvelope(regions[200], &envelope);
    edit->cx = (envelope.MinX + envelope.MaxX) / 2;
    edit->cy = (envelope.MinY + envelope.MaxY) / 2;
    OGRGeometryH centre = OGR_G_CreateGeometry(wkbPoint);
    OGR_G_SetPoint_2D(centre, 0, edit->cx, edit->cy);
    bool found = false;
    for (size_t i = 0; i < regions.size() && !found; ++i) {
        if (OGR_G_Contains(regions[i], centre)) {
            edit->clicked = i;
            found = true;
        }
    }
    OGR_G_DestroyGeometry(centre);
    for (double half = 1e-4; half < 0.05 && found; half *= 1.05) {
        OGRGeometryH square = Square(edit->cx, edit->cy, half);
        int touched = 0;
        for (OGRGeometryH region : regions) {
            touched += OGR_G_Intersects(region, square) ? 1 : 0;
        }
        OGR_G_DestroyGeometry(square);
        if (touched >= kTouched) {
            edit->half = half;
            return true;
        }
    }
    return false;
}

const bench::PairRegistration kSeamlineEdit("seamline_edit", [](bench::Pair* pair) {
    std::vector<OGRGeometryH> regions = ReadRegions();
    Edit edit;
    const bool chosen = ChooseEdit(regions, &edit);
    for (OGRGeometryH region : regions) {
        OGR_G_DestroyGeometry(region);
    }
    if (!chosen) {
        return false;
    }
    const Args args = {bench::Number(edit.cx), bench::Number(edit.cy), bench::Number(edit.half),
                       std::to_string(edit.clicked)};
    const std::string ours = File("ours.txt"), theirs = File("ogr.txt");
    Args oursArgs = args, theirArgs = args;
    oursArgs.push_back(ours);
    theirArgs.push_back(theirs);
    pair->operation = "Seamline edit by an area (ApplySeamlineArea)";
    pair->input = "470 regions, an area over 20 of them";
    pair->ours = {"ours", {bench::Self("seamline-edit-ours", oursArgs)}, {ours}};
    pair->peer = {"OGR_G_Intersects + OGR_G_Union / OGR_G_Difference",
                  {bench::Self("seamline-edit-ogr", theirArgs)},
                  {theirs}};
    pair->check = bench::SameText(ours, theirs, "regions touched ");
    return true;
});

// A purge drops the drawing's spatial index, which the next query builds again: it is built here,
// untimed, by a selection far from every region.
void WarmIndex(CKelvaroDoc& doc) {
    CadDrawing* drawing = doc.m_pCad;
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

const bench::SideRegistration kOurs(
    "seamline-edit-ours",
    [](const Args& a) {
        std::vector<OGRGeometryH> regions = ReadRegions();
        CKelvaroDoc doc;
        CadDrawing* drawing = doc.m_pCad;
        CadLayer* seamLayer = GetSeamlineLayer(drawing, kSeamLinesLayer);
        std::vector<COrtho*> images;
        for (OGRGeometryH geometry : regions) {
            auto* ortho = new COrtho(&doc);
            ortho->m_name = QStringLiteral("region_%1.tif").arg(images.size(), 3, 10, QLatin1Char('0'));
            doc.m_Orthos[ortho->m_name] = ortho;
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
                CadEntityPutUserData(polyline, static_cast<int>(images.size()) + 1);
                ortho->SeamlinePolylines.push_back(polyline);
            }
            CadClearVertices();
            images.push_back(ortho);
            OGR_G_DestroyGeometry(geometry);
        }
        if (images.size() != kRegions) {
            return 1;
        }
        const double cx = std::atof(a[0].c_str()), cy = std::atof(a[1].c_str()),
                     half = std::atof(a[2].c_str());
        const std::vector<Wml::Point2> area = {
            {cx - half, cy - half}, {cx + half, cy - half}, {cx + half, cy + half}, {cx - half, cy + half}};
        COrtho* clicked = images[std::stoul(a[3])];
        size_t touched = 0;
        WarmIndex(doc);
        const bool ok = bench::TimePerCall(
            [&] {
                if (!ApplySeamlineArea(doc, clicked, area)) {
                    return false;
                }
                touched = doc.m_SeamlineRounds.back()->orthos.size();
                return true;
            },
            [&] {
                doc.UndoSeamlineRound();
                CadPurge(doc.m_pCad, CAD_PURGE_ALL);
                WarmIndex(doc);
            });
        return ok && bench::KeepText(std::to_string(touched), a[4]) ? 0 : 1;
    },
    bench::Qt::Widgets);

const bench::SideRegistration kOgr("seamline-edit-ogr", [](const Args& a) {
    std::vector<OGRGeometryH> regions = ReadRegions();
    OGRGeometryH square = Square(std::atof(a[0].c_str()), std::atof(a[1].c_str()), std::atof(a[2].c_str()));
    const size_t clicked = std::stoul(a[3]);
    size_t touched = 0;
    const bool ok = bench::TimePerCall([&] {
        touched = 0;
        for (size_t i = 0; i < regions.size(); ++i) {
            if (!OGR_G_Intersects(regions[i], square)) {
                continue;
            }
            ++touched;
            OGRGeometryH result =
                i == clicked ? OGR_G_Union(regions[i], square) : OGR_G_Difference(regions[i], square);
            if (!result) {
                return false;
            }
            OGR_G_DestroyGeometry(result);
        }
        return true;
    });
    for (OGRGeometryH region : regions) {
        OGR_G_DestroyGeometry(region);
    }
    OGR_G_DestroyGeometry(square);
    return ok && bench::KeepText(std::to_string(touched), a[4]) ? 0 : 1;
});

}  // namespace
