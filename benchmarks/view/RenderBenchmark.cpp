// Repaints of a 16000 x 16000 Float32 DEM and of an 8-bit RGB orthophoto of the same size (tiled
// 256 x 256 with overviews, made once) into a 1280 x 800 window, panned across one screen step of
// 97 pixels per repaint, at 0.1, 0.5 and 2 window pixels per raster pixel; timed in process per
// repaint. Ours is the plan view's draw-image procedure (layout, display cache, read at screen
// resolution, colours, paint). The peer draws the same image the plainest way: the visible window
// read by one GDAL RasterIO at screen resolution (GDAL picks the overview), each DEM value coloured
// from a table of the DEM's palette over the same range, black left transparent, into an image of
// the window's size kept from repaint to repaint, and drawn with QPainter::drawImage. Both must
// paint the same picture. Both sides' time is the median of their repaints.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QPainter>

#include <gdal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "Program.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ElevationColorRamp.h"
#include "raster/AGColors.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"
#include "view/CadEventProcs.h"

namespace {

using bench::Args;

const int kSide = bench::Scaled(16000);
const std::string kSideText = std::to_string(kSide) + " x " + std::to_string(kSide);
constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 800;
constexpr double kRangeMin = 0.0, kRangeMax = 250.0;

const bench::Files File("render");

bool MakeRaster(const std::string& path, int bands, GDALDataType type) {
    const char* options[] = {"TILED=YES",   "BLOCKXSIZE=256",   "BLOCKYSIZE=256",
                             "BIGTIFF=YES", "INTERLEAVE=PIXEL", nullptr};
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), path.c_str(), kSide, kSide, bands, type,
                                 const_cast<char**>(options));
    if (!ds) {
        return false;
    }
    double gt[6] = {500000.0, 0.5, 0.0, 9000000.0, 0.0, -0.5};
    GDALSetGeoTransform(ds, gt);
    std::vector<float> strip(size_t(kSide) * 256 * bands);
    bool ok = true;
    for (int y = 0; y < kSide && ok; y += 256) {
        const int rows = std::min(256, kSide - y);
        for (int r = 0; r < rows; ++r) {
            for (int x = 0; x < kSide; ++x) {
                for (int b = 0; b < bands; ++b) {
                    strip[(size_t(r) * kSide + x) * bands + b] =
                        float(((x / 7 + (y + r) / 5 + b * 40) % 200) + 20);
                }
            }
        }
        ok = GDALDatasetRasterIO(ds, GF_Write, 0, y, kSide, rows, strip.data(), kSide, rows, GDT_Float32,
                                 bands, nullptr, 4 * bands, GSpacing(4) * bands * kSide, 4) == CE_None;
    }
    if (bands == 1) {
        GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), -9999.0);
    }
    ok = ok && kv::BuildOverviews(ds, nullptr) != 0;
    return kv::CloseDataset(ds) && ok;
}

bool MakeRasters() {
    return File.MakeOnce("1", [] {
        return MakeRaster(File("dem.tif"), 1, GDT_Float32) && MakeRaster(File("rgb.tif"), 3, GDT_Byte);
    });
}

// Where repaint `step` places the raster in the window: panned diagonally, one screen step of 97
// pixels per repaint. (x0, bottom) is its lower-left corner, size its side, in window pixels.
struct Place {
    int x0, bottom, size;
};
Place PlaceOf(int step, int permille) {
    const int size = int(kSide * (permille / 1000.0));
    const int room = std::max(1, size - kWindowWidth);
    const int offset = (step * 97) % room;
    return {-offset, size - offset * kWindowHeight / kWindowWidth, size};
}

// The program's plan view dragged as an operator drags it: from the raster's top-left corner at
// the window's, kDragSteps moves of (kDragX, kDragY) pixels and as many back.
constexpr int kDragX = -97, kDragY = -61, kDragSteps = 3, kDrags = 5;
Place DragOf(int step, int permille) {
    const int size = int(kSide * (permille / 1000.0));
    const int k = step % (2 * kDragSteps), offset = k <= kDragSteps ? k : 2 * kDragSteps - k;
    return {offset * kDragX, size + offset * kDragY, size};
}

using Places = Place (*)(int step, int permille);

// Runs the repaints for the side's timing, then paints the first place once more on a black
// window and keeps that picture for the check.
int Repaints(const std::function<bool(QPainter&, const Place&)>& paint, int permille,
             const std::string& picture, Places places = PlaceOf) {
    QImage canvas(kWindowWidth, kWindowHeight, QImage::Format_ARGB32);
    canvas.fill(Qt::black);
    QPainter painter(&canvas);
    int step = 0;
    if (!bench::TimePerCall([&] { return paint(painter, places(step++, permille)); })) {
        return 1;
    }
    if (!bench::CheckRun()) {
        return 0;
    }
    canvas.fill(Qt::black);
    if (!paint(painter, places(0, permille))) {
        return 1;
    }
    painter.end();
    return canvas.convertToFormat(QImage::Format_RGB888).save(QString::fromStdString(picture), "PNG") ? 0 : 1;
}

void RegisterRender(const char* kind, int permille) {
    const std::string id = std::string("render_") + kind + "_" + std::to_string(permille);
    static std::vector<bench::PairRegistration> registrations;
    registrations.emplace_back(id, [kind, permille, id](bench::Pair* pair) {
        if (!MakeRasters()) {
            return false;
        }
        const std::string ours = File(id + "_ours.png"), theirs = File(id + "_peer.png");
        const Args args = {kind, std::to_string(permille)};
        pair->operation = std::string("Repaint while panning (OnCadDrawImage), ") +
                          (std::string(kind) == "dem" ? "DEM" : "RGB orthophoto");
        char scale[32];
        std::snprintf(scale, sizeof scale, "%g", permille / 1000.0);
        pair->input = kSideText + ", 1280 x 800 window, " + scale + " window pixels per cell";
        pair->ours = {"ours", {bench::Self("render-ours", {kind, std::to_string(permille), ours})}, {ours}};
        pair->peer = {"GDALRasterIO + QPainter::drawImage",
                      {bench::Self("render-peer", {kind, std::to_string(permille), theirs})},
                      {theirs}};
        pair->check = [ours, theirs](std::string* agreed) {
            const bench::Agreement a = bench::CompareRasters(ours, theirs, 8.0, 0, -1.0);
            const std::string differs = bench::Judge(a, 0.01, 0.0, agreed);
            return differs.empty() && a.meanAbs > 2.0 ? *agreed : differs;
        };
        return true;
    });
}

// ---- The same repaints through the whole program: the DEM added to a project through the
// ribbon, the plan view of 1280 x 800 pixels dragged with the middle button (the scenario runner's
// "view" and "pan" steps), each frame timed from the mouse's move to the repainted view; the
// frame time is the median of the frames, as the peer's is the median of its repaints.

void RegisterProgramRender(int permille) {
    const std::string id = "render_program_dem_" + std::to_string(permille);
    static std::vector<bench::PairRegistration> registrations;
    registrations.emplace_back(id, [permille, id](bench::Pair* pair) {
        if (!bench::HaveScenarioRunner() || !MakeRasters()) {
            return false;
        }
        // The view starts with the raster's top-left corner at the window's (the DEM's cells are
        // 0.5 units wide).
        const double scale = permille / 1000.0 / 0.5;
        const double cx = 500000.0 + kWindowWidth / (2.0 * scale),
                     cy = 9000000.0 - kWindowHeight / (2.0 * scale);
        const std::string work = File(id) + "/", ours = File(id + "_ours.png"),
                          theirs = File(id + "_peer.png");
        std::string script =
            "new\n"
            "add-dem " +
            File("dem.tif") + "\n" +
            bench::Format("view %.17g %.17g %.17g %d %d\n", cx, cy, scale, kWindowWidth, kWindowHeight);
        for (int drag = 0; drag < kDrags; ++drag) {
            script += bench::Format("pan %d %d %d", kDragX, kDragY, kDragSteps) +
                      (drag + 1 == kDrags ? " " + ours : std::string()) + "\n";
        }
        if (!bench::WriteScript(File(id + ".kvs"), script)) {
            return false;
        }
        char scaleText[32];
        std::snprintf(scaleText, sizeof scaleText, "%g", permille / 1000.0);
        pair->operation =
            "Repaint while dragging the plan view through the program (frame: mouse move to repainted "
            "view), DEM";
        pair->input = kSideText + ", 1280 x 800 view, " + scaleText + " window pixels per cell";
        pair->ours = {
            "ours", {bench::Self("render-program", {File(id + ".kvs"), work})}, {work, ours}, [work] {
                return bench::StartedBefore(work);
            }};
        // The program gives a new DEM the colour range of its heights (20 to 219).
        pair->peer = {
            "GDALRasterIO + QPainter::drawImage",
            {bench::Self("render-peer", {"dem", std::to_string(permille), theirs, "drag", "20", "219"})},
            {theirs}};
        // The view's centre is a sum of moves in floating point: the program may place the raster a
        // pixel off the peer's. It draws its colour legend and the cursor over the raster.
        pair->check = bench::PicturesAgree(ours, theirs, 8, 0.02);
        return true;
    });
}

const bool kRegistered = [] {
    for (const char* kind : {"dem", "rgb"}) {
        for (int permille : {100, 500, 2000}) {
            RegisterRender(kind, permille);
        }
    }
    for (int permille : {100, 500, 2000}) {
        RegisterProgramRender(permille);
    }
    return true;
}();

// Runs the script in the program and reports the median of the frames the runner timed.
const bench::SideRegistration kProgram("render-program", [](const Args& a) {
    const std::string transcript = a[1] + "transcript.txt";
    const bench::Command command = bench::Scenario(a[0], a[1]);
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = ::open(transcript.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the scenario failed; its transcript is %s\n", transcript.c_str());
        return 1;
    }
    std::vector<double> frames;
    std::ifstream in(transcript);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(" in ms: ");
        if (line.find(" frames of ") == std::string::npos || at == std::string::npos) {
            continue;
        }
        std::istringstream times(line.substr(at + 8));
        for (double ms = 0.0; times >> ms;) {
            frames.push_back(ms / 1000.0);
        }
    }
    if (frames.empty()) {
        std::fprintf(stderr, "no frames in %s\n", transcript.c_str());
        return 1;
    }
    std::nth_element(frames.begin(), frames.begin() + ptrdiff_t(frames.size() / 2), frames.end());
    bench::ReportTime(frames[frames.size() / 2]);
    return 0;
});

const bench::SideRegistration kOurs(
    "render-ours",
    [](const Args& a) {
        BuildElevationColorRamp();
        const bool dem = a[0] == "dem";
        CKelvaroDoc doc;
        const int imageId = dem ? 1000 : 2000;
        if (dem) {
            auto* layer = new CDEM(&doc);
            layer->m_name = "dem.tif";
            layer->m_pDataset = GDALOpen(File("dem.tif").c_str(), GA_ReadOnly);
            layer->m_colorRangeMin = kRangeMin;
            layer->m_colorRangeMax = kRangeMax;
            layer->m_imageEntity = CadAddImagePlace(doc.m_pCad, imageId, kSide, kSide, 0, 0, 0, 1);
            doc.m_DEMs[layer->m_name] = layer;
            doc.m_DEMIdNames[imageId] = layer->m_name;
        } else {
            auto* layer = new COrtho(&doc);
            layer->m_name = "rgb.tif";
            layer->m_pDataset = GDALOpen(File("rgb.tif").c_str(), GA_ReadOnly);
            layer->m_imageEntity = CadAddImagePlace(doc.m_pCad, imageId, kSide, kSide, 0, 0, 0, 1);
            doc.m_Orthos[layer->m_name] = layer;
            doc.m_OrthoIdNames[imageId] = layer->m_name;
        }
        const CadWinRect update{0, 0, kWindowWidth, kWindowHeight};
        return Repaints(
            [&](QPainter& painter, const Place& p) {
                return OnCadDrawImage(doc.m_pCad, &painter, &update, imageId, p.x0, p.bottom, p.size,
                                      p.size) != 0;
            },
            std::atoi(a[1].c_str()), a[2]);
    },
    bench::Qt::Widgets);

const bench::SideRegistration kPeer(
    "render-peer",
    [](const Args& a) {
        const bool dem = a[0] == "dem";
        GDALDatasetH ds = GDALOpen(File(dem ? "dem.tif" : "rgb.tif").c_str(), GA_ReadOnly);
        if (!ds) {
            return 1;
        }
        std::vector<float> values;
        std::vector<uint8_t> rgb;
        // Where the raster goes (the harness's pan or the program's drag) and the DEM's colour range.
        const bool drag = a.size() > 3 && a[3] == "drag";
        const double rangeMin = a.size() > 5 ? std::atof(a[4].c_str()) : kRangeMin;
        const double rangeMax = a.size() > 5 ? std::atof(a[5].c_str()) : kRangeMax;
        // The colours of a new DEM's palette (as the program adds a DEM: palette 0 of 100 colours),
        // interpolated between its entries into a table.
        CAGColors palette;
        if (drag) {
            palette.Set_Palette(0, false, 100);
        }
        std::vector<QRgb> table(4096);
        for (size_t k = 0; k < table.size(); ++k) {
            const double x = double(k) / double(table.size() - 1) * (palette.Get_Count() - 1);
            const int i = std::min(int(x), palette.Get_Count() - 2);
            const double f = x - i;
            const auto mix = [&](long p, long q) { return int(double(p) + double(q - p) * f); };
            table[k] = qRgb(mix(palette.Get_Red(i), palette.Get_Red(i + 1)),
                            mix(palette.Get_Green(i), palette.Get_Green(i + 1)),
                            mix(palette.Get_Blue(i), palette.Get_Blue(i + 1)));
        }
        const int last = int(table.size()) - 1;
        // One image of the window's size serves every repaint, as the plan view keeps its own.
        QImage image(kWindowWidth, kWindowHeight, QImage::Format_ARGB32);
        const int status = Repaints(
            [&](QPainter& painter, const Place& p) {
                // The part of the window the raster covers, and the raster cells under it.
                const int top = p.bottom - p.size;
                const int vx0 = std::max(0, p.x0), vy0 = std::max(0, top);
                const int vx1 = std::min(kWindowWidth, p.x0 + p.size),
                          vy1 = std::min(kWindowHeight, p.bottom);
                const int vw = vx1 - vx0, vh = vy1 - vy0;
                if (vw <= 0 || vh <= 0) {
                    return true;
                }
                const double cells = double(kSide) / p.size;
                const int rx = int((vx0 - p.x0) * cells), ry = int((vy0 - top) * cells);
                const int rw = std::min(kSide - rx, int(vw * cells + 0.5)),
                          rh = std::min(kSide - ry, int(vh * cells + 0.5));
                if (dem) {
                    values.resize(size_t(vw) * vh);
                    if (GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, rx, ry, rw, rh, values.data(), vw, vh,
                                     GDT_Float32, 0, 0) != CE_None) {
                        return false;
                    }
                    for (int y = 0; y < vh; ++y) {
                        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
                        for (int x = 0; x < vw; ++x) {
                            const float v = values[size_t(y) * vw + x];
                            if (v == -9999.0f) {
                                row[x] = 0;
                                continue;
                            }
                            const double t = (v - rangeMin) / (rangeMax - rangeMin);
                            const QRgb c = table[size_t(std::clamp(int(t * last + 0.5), 0, last))];
                            row[x] = qRed(c) | qGreen(c) | qBlue(c) ? c : 0;
                        }
                    }
                } else {
                    rgb.resize(size_t(vw) * vh * 3);
                    if (GDALDatasetRasterIO(ds, GF_Read, rx, ry, rw, rh, rgb.data(), vw, vh, GDT_Byte, 3,
                                            nullptr, 3, GSpacing(3) * vw, 1) != CE_None) {
                        return false;
                    }
                    for (int y = 0; y < vh; ++y) {
                        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
                        const uint8_t* px = rgb.data() + size_t(y) * vw * 3;
                        for (int x = 0; x < vw; ++x, px += 3) {
                            row[x] = px[0] | px[1] | px[2] ? qRgb(px[0], px[1], px[2]) : 0;
                        }
                    }
                }
                painter.drawImage(QPoint(vx0, vy0), image, QRect(0, 0, vw, vh));
                return true;
            },
            std::atoi(a[1].c_str()), a[2], drag ? DragOf : PlaceOf);
        GDALClose(ds);
        return status;
    },
    bench::Qt::Widgets);

}  // namespace
