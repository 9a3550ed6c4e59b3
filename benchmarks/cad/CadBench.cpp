// The CAD engine on a drawing of one million polyline vertices (1000 contour-like lines of 1000
// vertices), timed in process per call:
//   save, open - the native ".vec" file against the same lines as an ESRI shapefile through OGR
//                (written with the attributes a contour file has, read back whole);
//   repaint    - a 1280 x 800 drawing window at the drawing's extent and zoomed in 20 times,
//                against a plain loop that draws every line with QPainter through the same view;
//   pick       - the entity under a point near the middle line at the operator's aperture,
//                against a plain loop over every side of every line for the nearest one.
// Both sides of each pair must give the same result: the same vertices, the same picture, the
// same line.
#include <QApplication>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <gdal.h>
#include <ogr_api.h>

#include <cmath>
#include <string>
#include <vector>

#include "Bench.h"
#include "Data.h"
#include "platform/cad/Cad.h"

namespace {

using bench::Args;

constexpr int kLines = 1000;
constexpr int kVertices = 1000;
constexpr int kWidth = 1280, kHeight = 800;

const bench::Files File("cad");

// Vertex k of contour line i: lines 10 units apart that follow the same wavy course, so they
// never cross, like contours of a tilted rolling surface.
void Vertex(int i, int k, double& x, double& y, double& z) {
    x = k * (10000.0 / (kVertices - 1));
    y = i * 10.0 + 30 * std::sin(x / 300) + 8 * std::sin(x / 71 + 0.3);
    z = 100.0 + i;
}

CadDrawing* MakeDrawing() {
    CadDrawing* d = CadCreate();
    CadSetCurLayer(d, CadAddLayer(d, "contours", 3, CAD_LTYPE_CONTINUOUS, -3));
    for (int i = 0; i < kLines; ++i) {
        CadClearVertices();
        for (int k = 0; k < kVertices; ++k) {
            double x, y, z;
            Vertex(i, k, x, y, z);
            CadAddVertex(x, y, z);
        }
        CadAddPolyline(d, 0, 0);
    }
    CadPutDirty(d, 0);
    return d;
}

long VerticesOf(CadDrawing* d) {
    long n = 0;
    for (CadEntity* e = CadGetFirstEntity(d); e; e = CadGetNextEntity(d, e)) {
        n += CadPlineGetNumVers(e);
    }
    return n;
}

// The lines as an ESRI shapefile through OGR, with the attributes a contour file has.
bool WriteShapefile(const std::string& path) {
    GDALDriverH drv = GDALGetDriverByName("ESRI Shapefile");
    GDALDeleteDataset(drv, path.c_str());
    GDALDatasetH ds = GDALCreate(drv, path.c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!ds) {
        return false;
    }
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
            Vertex(i, k, x, y, z);
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

long ReadShapefile(const std::string& path) {
    GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    if (!ds) {
        return -1;
    }
    long total = 0;
    std::vector<double> xs, ys, zs;
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    while (OGRFeatureH f = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH g = OGR_F_GetGeometryRef(f);
        const int n = OGR_G_GetPointCount(g);
        xs.resize(size_t(n));
        ys.resize(size_t(n));
        zs.resize(size_t(n));
        OGR_G_GetPoints(g, xs.data(), sizeof(double), ys.data(), sizeof(double), zs.data(), sizeof(double));
        total += n;
        OGR_F_Destroy(f);
    }
    GDALClose(ds);
    return total;
}

bool TextPair(bench::Pair* pair, const char* operation, const char* input, const char* id, const char* peer) {
    const std::string ours = File(std::string(id) + "_ours.txt"),
                      theirs = File(std::string(id) + "_peer.txt");
    pair->operation = operation;
    pair->input = input;
    pair->ours = {"ours", {bench::Self(std::string(id) + "-ours", {ours})}, {ours}};
    pair->peer = {peer, {bench::Self(std::string(id) + "-peer", {theirs})}, {theirs}};
    pair->check = bench::SameText(ours, theirs, "");
    return true;
}

// ---- save and open

const bench::PairRegistration kSave("cad_save", [](bench::Pair* pair) {
    return TextPair(pair, "Drawing saved (CadFileSaveAs)", "1000 polylines of 1000 vertices", "save",
                    "OGR shapefile write");
});

const bench::SideRegistration kSaveOurs(
    "save-ours",
    [](const Args& a) {
        CadDrawing* d = MakeDrawing();
        const std::string path = File("lines.vec");
        const bool ok = bench::TimePerCall([&] { return CadFileSaveAs(d, 0, path.c_str()) != 0; });
        CadDrawing* back = CadCreate();
        const bool kept = ok && CadFileOpen(back, 0, path.c_str()) &&
                          bench::KeepText("vertices " + std::to_string(VerticesOf(back)), a[0]);
        CadDelete(back);
        CadDelete(d);
        return kept ? 0 : 1;
    },
    bench::Qt::Widgets);

const bench::SideRegistration kSavePeer("save-peer", [](const Args& a) {
    const std::string path = File("lines.shp");
    const bool ok = bench::TimePerCall([&] { return WriteShapefile(path); });
    return ok && bench::KeepText("vertices " + std::to_string(ReadShapefile(path)), a[0]) ? 0 : 1;
});

const bench::PairRegistration kOpen("cad_open", [](bench::Pair* pair) {
    return TextPair(pair, "Drawing opened (CadFileOpen)", "1000 polylines of 1000 vertices", "open",
                    "OGR shapefile read");
});

const bench::SideRegistration kOpenOurs(
    "open-ours",
    [](const Args& a) {
        CadDrawing* made = MakeDrawing();
        const std::string path = File("open.vec");
        if (!CadFileSaveAs(made, 0, path.c_str())) {
            return 1;
        }
        CadDelete(made);
        CadDrawing* d = CadCreate();
        long vertices = 0;
        const bool ok = bench::TimePerCall(
            [&] {
                if (!CadFileOpen(d, 0, path.c_str())) {
                    return false;
                }
                vertices = VerticesOf(d);
                return true;
            },
            [&] { CadPurge(d, 3); });
        CadDelete(d);
        return ok && bench::KeepText("vertices " + std::to_string(vertices), a[0]) ? 0 : 1;
    },
    bench::Qt::Widgets);

const bench::SideRegistration kOpenPeer("open-peer", [](const Args& a) {
    const std::string path = File("open.shp");
    long vertices = 0;
    const bool ok =
        WriteShapefile(path) && bench::TimePerCall([&] { return (vertices = ReadShapefile(path)) > 0; });
    return ok && bench::KeepText("vertices " + std::to_string(vertices), a[0]) ? 0 : 1;
});

// ---- repaint

// The view both sides show: the drawing's extent, zoomed about its middle.
struct View {
    double left, bottom, right, top;
};
View ViewOf(double zoom) {
    // The drawing's extent as the window's zoom to extents shows it comes from the window itself;
    // both sides start from the lines' box.
    const double x0 = 0.0, x1 = 10000.0, y0 = -40.0, y1 = (kLines - 1) * 10.0 + 40.0;
    const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2, hw = (x1 - x0) / 2 / zoom, hh = (y1 - y0) / 2 / zoom;
    return {cx - hw, cy - hh, cx + hw, cy + hh};
}

void RegisterRepaint(const char* id, double zoom) {
    static std::vector<bench::PairRegistration> registrations;
    registrations.emplace_back(id, [id, zoom](bench::Pair* pair) {
        const std::string ours = File(std::string(id) + "_ours.png"),
                          theirs = File(std::string(id) + "_peer.png");
        const Args args = {bench::Number(zoom)};
        pair->operation = std::string("Drawing window repaint (CadWinPaint)") +
                          (zoom > 1 ? ", zoomed 20x" : ", full extent");
        pair->input = "1000 polylines of 1000 vertices, 1280 x 800 window";
        pair->ours = {"ours", {bench::Self("repaint-ours", {bench::Number(zoom), ours})}, {ours}};
        pair->peer = {"QPainter::drawPolyline of every line",
                      {bench::Self("repaint-peer", {bench::Number(zoom), theirs})},
                      {theirs}};
        // Where the two round a vertex to the other pixel a step of a line moves by one; the lit
        // pixels must be as many.
        pair->check = [ours, theirs](std::string* agreed) {
            const std::string differs =
                bench::Judge(bench::CompareRasters(ours, theirs, 0.0, 0, -1.0), 0.02, 0.0, agreed);
            cv::Mat a, b;
            if (!differs.empty() || !bench::ReadRaster(ours, &a, nullptr, true) ||
                !bench::ReadRaster(theirs, &b, nullptr, true)) {
                return differs.empty() ? std::string("a picture cannot be read") : differs;
            }
            const int lit[2] = {cv::countNonZero(a.reshape(1) != 0), cv::countNonZero(b.reshape(1) != 0)};
            *agreed += "; lit " + std::to_string(lit[0]) + " / " + std::to_string(lit[1]);
            return lit[1] > 0 && std::abs(lit[0] - lit[1]) <= lit[1] / 20 ? std::string() : *agreed;
        };
        return true;
    });
}

const bool kRepaints = [] {
    RegisterRepaint("cad_repaint", 1.0);
    RegisterRepaint("cad_repaint_zoomed", 20.0);
    return true;
}();

const bench::SideRegistration kRepaintOurs(
    "repaint-ours",
    [](const Args& a) {
        CadDrawing* d = MakeDrawing();
        QWidget* w = CadWndCreate(d, nullptr, 0, 0, kWidth, kHeight);
        const View v = ViewOf(std::atof(a[0].c_str()));
        CadViewRect(w, v.left, v.bottom, v.right, v.top);
        const bool ok = bench::TimePerCall([&] {
            CadWinPaint(w);
            return true;
        });
        const bool kept = ok && (!bench::CheckRun() || w->grab()
                                                           .toImage()
                                                           .convertToFormat(QImage::Format_RGB888)
                                                           .save(QString::fromStdString(a[1]), "PNG"));
        CadWndDestroy(w);
        CadDelete(d);
        return kept ? 0 : 1;
    },
    bench::Qt::Widgets);

const bench::SideRegistration kRepaintPeer(
    "repaint-peer",
    [](const Args& a) {
        // The view of the window as ours lays it out: the same model rectangle, fitted.
        CadDrawing* layout = CadCreate();
        QWidget* w = CadWndCreate(layout, nullptr, 0, 0, kWidth, kHeight);
        const View asked = ViewOf(std::atof(a[0].c_str()));
        CadViewRect(w, asked.left, asked.bottom, asked.right, asked.top);
        View v;
        CadGetViewRect(w, &v.left, &v.bottom, &v.right, &v.top);
        CadWndDestroy(w);
        CadDelete(layout);
        std::vector<std::vector<QPointF>> lines(kLines, std::vector<QPointF>(kVertices));
        for (int i = 0; i < kLines; ++i) {
            for (int k = 0; k < kVertices; ++k) {
                double x, y, z;
                Vertex(i, k, x, y, z);
                lines[size_t(i)][size_t(k)] = QPointF(x, y);
            }
        }
        const double sx = kWidth / (v.right - v.left), sy = kHeight / (v.top - v.bottom);
        QImage canvas(kWidth, kHeight, QImage::Format_RGB32);
        std::vector<QPoint> screen(kVertices);
        const bool ok = bench::TimePerCall([&] {
            canvas.fill(Qt::black);
            QPainter p(&canvas);
            p.setPen(QPen(QColor(0, 255, 0), 0));
            for (const std::vector<QPointF>& line : lines) {
                for (size_t k = 0; k < line.size(); ++k) {
                    screen[k] = QPoint(int(std::lround((line[k].x() - v.left) * sx)),
                                       int(std::lround((v.top - line[k].y()) * sy)));
                }
                p.drawPolyline(screen.data(), int(screen.size()));
            }
            return true;
        });
        return ok && (!bench::CheckRun() ||
                      canvas.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(a[1]), "PNG"))
                   ? 0
                   : 1;
    },
    bench::Qt::Widgets);

// ---- pick

// The point of the pick: a hundredth of a unit beside the middle vertex of the middle line, shown
// at the scale of a 400 x 250 unit window.
void PickPoint(double& x, double& y) {
    double z;
    Vertex(kLines / 2, kVertices / 2, x, y, z);
    x += 0.01;
}

const bench::PairRegistration kPick("cad_pick", [](bench::Pair* pair) {
    return TextPair(pair, "Entity pick (CadCmdUserGetEntity)", "1000 polylines of 1000 vertices", "pick",
                    "nearest side over every line");
});

const bench::SideRegistration kPickOurs(
    "pick-ours",
    [](const Args& a) {
        CadDrawing* d = MakeDrawing();
        QWidget* w = CadWndCreate(d, nullptr, 0, 0, kWidth, kHeight);
        double x, y;
        PickPoint(x, y);
        CadViewRect(w, x - 200, y - 125, x + 200, y + 125);
        CadScriptSetStrict(1);
        CadEntity* found = nullptr;
        const bool ok = bench::TimePerCall([&] {
            CadScriptPushPoint(d, x, y, 0);
            return (found = CadCmdUserGetEntity(d)) != nullptr;
        });
        int index = 0;
        for (CadEntity* e = CadGetFirstEntity(d); e && e != found; e = CadGetNextEntity(d, e)) {
            ++index;
        }
        CadWndDestroy(w);
        CadDelete(d);
        return ok && bench::KeepText("line " + std::to_string(index), a[0]) ? 0 : 1;
    },
    bench::Qt::Widgets);

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay, length = dx * dx + dy * dy;
    const double t = length > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / length, 0.0, 1.0) : 0.0;
    return std::hypot(px - ax - t * dx, py - ay - t * dy);
}

const bench::SideRegistration kPickPeer("pick-peer", [](const Args& a) {
    std::vector<std::vector<double>> lines(kLines, std::vector<double>(2 * kVertices));
    for (int i = 0; i < kLines; ++i) {
        for (int k = 0; k < kVertices; ++k) {
            double z;
            Vertex(i, k, lines[size_t(i)][2 * size_t(k)], lines[size_t(i)][2 * size_t(k) + 1], z);
        }
    }
    double x, y;
    PickPoint(x, y);
    int nearest = -1;
    const bool ok = bench::TimePerCall([&] {
        double best = HUGE_VAL;
        nearest = -1;
        for (int i = 0; i < kLines; ++i) {
            const std::vector<double>& l = lines[size_t(i)];
            for (size_t k = 0; k + 3 < l.size(); k += 2) {
                const double d = SegmentDistance(x, y, l[k], l[k + 1], l[k + 2], l[k + 3]);
                if (d < best) {
                    best = d;
                    nearest = i;
                }
            }
        }
        return nearest >= 0;
    });
    return ok && bench::KeepText("line " + std::to_string(nearest), a[0]) ? 0 : 1;
});

}  // namespace
