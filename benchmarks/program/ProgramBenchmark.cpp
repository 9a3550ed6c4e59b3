// Commands through the whole program, as the operator runs them: each of our sides is the scenario
// runner (Program.h) starting the program with its main window, opening the data through the
// ribbon and running the command through its dialogs; each peer is the GDAL program doing the same
// work, with the same outputs and overviews. Whole processes on one processor (the peers use no
// more; so does the program, which takes its threads from the processors it may run on).
// The data, made once from the test data:
//   dem.tif    - the Olinda DEM upsampled bilinearly to 6000 x 6000 cells of 1.67 m, with overviews;
//   holes.tif  - the same with 4.5 % of its cells cut out as irregular holes (HolePattern);
//   disks.tif  - the same with 30 disks of 50 to 200 cells radius cut out (4.6 % of its cells);
//   scene.tif  - bands 3 and 4 (red, near infrared) of the Landsat scene's square part upsampled
//                bilinearly to 6000 x 6000, with overviews.
// The pairs:
//   runner start-up - an empty script: the program started and ended (no peer);
//   contours   - Build contours every 1 m into the saved project's folder, the lines loaded into the
//                drawing with their labels, against gdal_contour -i 1 -3d; vertex by vertex; on the
//                DEM and on it upsampled to a half and a quarter of its side, so that the time and
//                memory can be set against the vertices;
//   contours over far cells - Build contours from 10 to 100 m by 1 m on the DEM upsampled to
//                8000 x 8000 with 20 cells at -32768 that the layer's preview misses, against the
//                same command on the same DEM without them; the lines compared outside the cells
//                around those 20;
//   close gaps - Close gaps over an area around the whole DEM, the project saved (the DEM written
//                back with its overviews), against gdal_fillnodata.py -md 100 and gdaladdo; the
//                hole cells compared, and both fills against the heights the holes took away; the
//                same on the disks, the peer searching far enough to fill the largest;
//   slope map  - SLOPE of dem.tif beside it, against gdaldem slope -p and gdaladdo; the same on the
//                DEM warped to cells that are not exactly square;
//   NDVI       - NDVI-SAVI of the scene's two bands over its total area, against gdal_calc.py (with
//                the world file) and gdaladdo;
//   calculator - the Raster Calculator's (scene<2>-scene<1>)/(scene<2>+scene<1>), against
//                gdal_calc.py and gdaladdo.
#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "Program.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

const int kSide = bench::Scaled(6000);
constexpr double kHoleShare = 0.045;
constexpr int kSearchDistance = 100;
// Two fillers' heights differ; the check asks for every hole cell filled by both and heights close
// to each other (as the gap filler's own pair does) on all but a share of the hole cells. Far from
// the edges of large holes the two surfaces part further (on the disks a third of the cells are
// more than 3 m apart, 1.4 % more than 10 m).
constexpr double kFillTolerance = 2.0, kFillApart = 0.01;
constexpr double kLargeFillTolerance = 10.0, kLargeFillApart = 0.05;

const bench::Files File("program");

const std::string kInput = std::to_string(kSide) + " x " + std::to_string(kSide);

bool WithOverviews(const std::string& path) {
    return bench::Run(bench::OverviewsLike(path, kSide, kSide));
}

bool MakeData() {
    return File.MakeOnce("1", [] {
        cv::Mat dem;
        double gt[6];
        const std::string projection = bench::ProjectionOf(KV_BENCH_DEM);
        if (!bench::ReadUpsampled(KV_BENCH_DEM, kSide, &dem, gt) ||
            !bench::WriteRaster(dem, gt, File("dem.tif"), -9999.0, projection)) {
            return false;
        }
        dem.setTo(-9999.0f, bench::HolePattern(kSide, kHoleShare));
        return bench::WriteRaster(dem, gt, File("holes.tif"), -9999.0, projection) &&
               bench::TranslateBands(KV_BENCH_SCENE, {3, 4}, 349, kSide, File("scene.tif")) &&
               WithOverviews(File("dem.tif")) && WithOverviews(File("holes.tif")) &&
               WithOverviews(File("scene.tif"));
    });
}

double CellWidth() {
    double gt[6] = {0, 1, 0, 0, 0, -1};
    if (GDALDatasetH ds = GDALOpen(File("dem.tif").c_str(), GA_ReadOnly)) {
        GDALGetGeoTransform(ds, gt);
        GDALClose(ds);
    }
    return gt[1];
}

// A side that runs a script written into the data folder, in a working folder of its own (emptied
// before each run, then given the program's folder of an operator who has started it before, and
// set up further by setUp when given).
bench::Side ProgramSide(const std::string& label, const std::string& name,
                        const std::function<bool()>& setUp = {}) {
    const std::string work = File(name);
    return {label, {bench::Scenario(File(name + ".kvs"), work + "/")}, {work + "/"}, [work, setUp] {
                return bench::StartedBefore(work) && (!setUp || setUp());
            }};
}

// A pair whose side of ours runs the script `name`.
bool ProgramPair(bench::Pair* pair, const std::string& name, const std::string& script,
                 const std::function<bool()>& setUp = {}) {
    if (!bench::HaveScenarioRunner() || !MakeData() || !bench::WriteScript(File(name + ".kvs"), script)) {
        return false;
    }
    pair->ours = ProgramSide("ours", name, setUp);
    return true;
}

// ---- the runner's own start-up

const bench::PairRegistration kStartup("program_startup", [](bench::Pair* pair) {
    if (!bench::HaveScenarioRunner() || !MakeData()) {
        return false;
    }
    pair->operation =
        "The program started and ended by the scenario runner (an empty script), as it was started before";
    pair->input = "nothing";
    return ProgramPair(pair, "startup", "# The program started and ended, nothing else.\n");
});

// ---- contours

// Build contours every 1 m on a copy of the DEM `dem` in `work` (the command may write the DEM's
// grid back to its file), after the dialog's other settings `settings` (lines of "    set ...").
std::string ContourScript(const std::string& work, const std::string& dem, const std::string& settings) {
    return "new\nadd-dem " + work + "/" + dem + "\nsave " + work +
           "/bench.kvp\n"
           "button Build contours\n"
           "dialog Contour Lines\n" +
           settings +
           "    set Contours Step = 1\n"
           "    press Generate\n"
           "wait-idle\n"
           "expect-file " +
           work + "/" + dem + "_Contours.shp\n";
}

// The contour command on the DEM at three sizes: its time and memory against the vertices.
void RegisterContours(const std::string& id, int side) {
    static std::vector<bench::PairRegistration> registrations;
    registrations.emplace_back(id, [id, side](bench::Pair* pair) {
        // The 6000 x 6000 DEM is the one the other pairs share.
        const std::string dem = side == kSide ? "dem.tif" : "dem" + std::to_string(side) + ".tif";
        if (!MakeData() || !File.MakeOnce(("contours-" + std::to_string(side) + "-1").c_str(), [&] {
                return side == kSide || (bench::WriteUpsampled(KV_BENCH_DEM, side, File(dem), true) &&
                                         bench::Run(bench::OverviewsLike(File(dem), side, side)));
            })) {
            return false;
        }
        const std::string work = File(id), lines = work + "/" + dem + "_Contours.shp";
        if (!ProgramPair(pair, id, ContourScript(work, dem, ""),
                         [work, dem] { return bench::CopyFile(File(dem), work + "/" + dem); })) {
            return false;
        }
        const std::string theirs = File("gdal_" + id + ".shp");
        pair->operation =
            "Contour command every 1 m through the program (Build contours: traced, saved, drawn with "
            "labels)";
        pair->input = std::to_string(side) + " x " + std::to_string(side) + " DEM";
        pair->peer = {"gdal_contour -i 1 -3d",
                      {{"gdal_contour", "-q", "-3d", "-i", "1", "-a", "Elevation", File(dem), theirs}},
                      {theirs}};
        pair->check = bench::LinesAgree(lines, theirs, 0.001 * CellWidth() * kSide / side);
        return true;
    });
}

const bool kContours = [] {
    RegisterContours("program_contours_" + std::to_string(kSide / 4), kSide / 4);
    RegisterContours("program_contours_" + std::to_string(kSide / 2), kSide / 2);
    RegisterContours("program_contours", kSide);
    return true;
}();

// ---- contours over far cells

const int kFarSide = bench::Scaled(8000);
constexpr int kFarCells = 20;
constexpr float kFarValue = -32768.0f;

// The columns and rows of the far cells: a lattice of 5 x 4 over the grid, moved by `shift` cells.
std::vector<cv::Point> FarCells(int shift) {
    std::vector<cv::Point> cells;
    for (int i = 0; i < kFarCells; ++i) {
        cells.emplace_back((2 * (i % 5) + 1) * kFarSide / 10 + shift,
                           (2 * (i / 5) + 1) * kFarSide / 8 + shift);
    }
    return cells;
}

// The lowest height of the DEM's preview, as the program reads it when it opens the DEM.
double PreviewMinimum(const std::string& path) {
    const std::unique_ptr<CDEM> dem(LoadDemFromGeoTiff(QString::fromStdString(path), true));
    return dem ? dem->m_minElevation : kFarValue;
}

// The shift of the far cells that the preview misses: the first of a few that it misses, -1 when
// it catches every one (the DEM with the far cells of that shift is left written).
int PlaceFarCells() {
    cv::Mat dem;
    double gt[6];
    if (!bench::ReadRaster(File("dem_clean.tif"), &dem, gt)) {
        return -1;
    }
    for (int shift = 0; shift < 8; ++shift) {
        cv::Mat far = dem.clone();
        for (const cv::Point& cell : FarCells(shift)) {
            far.at<float>(cell) = kFarValue;
        }
        const std::string path = File("dem_far.tif");
        if (bench::WriteRaster(far, gt, path, -9999.0, bench::ProjectionOf(KV_BENCH_DEM)) &&
            bench::Run(bench::OverviewsLike(path, kFarSide, kFarSide)) && PreviewMinimum(path) > kFarValue) {
            return shift;
        }
    }
    return -1;
}

const bench::PairRegistration kContoursFar("program_contours_far_cells", [](bench::Pair* pair) {
    if (!MakeData()) {
        return false;
    }
    const bool made = File.MakeOnce("far-1", [] {
        if (!bench::WriteUpsampled(KV_BENCH_DEM, kFarSide, File("dem_clean.tif"), true) ||
            !bench::Run(bench::OverviewsLike(File("dem_clean.tif"), kFarSide, kFarSide))) {
            return false;
        }
        const int placed = PlaceFarCells();
        return placed >= 0 && bench::WriteScript(File("far_shift.txt"), std::to_string(placed));
    });
    const int shift = made ? std::atoi(bench::ReadText(File("far_shift.txt")).c_str()) : -1;
    double gt[6] = {0, 1, 0, 0, 0, -1};
    if (GDALDatasetH ds = shift >= 0 ? GDALOpen(File("dem_far.tif").c_str(), GA_ReadOnly) : nullptr) {
        GDALGetGeoTransform(ds, gt);
        GDALClose(ds);
    } else {
        return false;
    }
    // Levels 10 to 100 by 1, each side on a copy of its DEM in a working folder of its own.
    const std::string levels = "    set Minimum Elevation = 10\n    set Maximum Elevation = 100\n";
    const std::string work = File("contours_far"), clean = File("contours_clean");
    if (!ProgramPair(pair, "contours_far", ContourScript(work, "dem_far.tif", levels),
                     [work] { return bench::CopyFile(File("dem_far.tif"), work + "/dem_far.tif"); }) ||
        !bench::WriteScript(File("contours_clean.kvs"), ContourScript(clean, "dem_clean.tif", levels))) {
        return false;
    }
    pair->peer = ProgramSide("ours on the same DEM without them", "contours_clean", [clean] {
        return bench::CopyFile(File("dem_clean.tif"), clean + "/dem_clean.tif");
    });
    pair->operation =
        "Contour command from 10 to 100 m by 1 m through the program, over far cells the preview misses";
    pair->input =
        bench::Format("%d x %d DEM with %d cells at %.0f", kFarSide, kFarSide, kFarCells, kFarValue);
    // The lines around a far cell change within a cell of it.
    std::vector<bench::Box> around;
    for (const cv::Point& cell : FarCells(shift)) {
        const double x = gt[0] + (cell.x + 0.5) * gt[1], y = gt[3] + (cell.y + 0.5) * gt[5];
        const double reach = 1.5 * gt[1];
        around.push_back({x - reach, y - reach, x + reach, y + reach});
    }
    pair->check = bench::LinesAgreeOutside(work + "/dem_far.tif_Contours.shp",
                                           clean + "/dem_clean.tif_Contours.shp", 0.001 * gt[1], around);
    return true;
});

// ---- close gaps

// Disks of `count` radii spread evenly from `smallest` to `largest` cells, at places of their own
// (apart from each other and from the edges): 255 inside.
cv::Mat DiskPattern(int side, int count, int smallest, int largest) {
    cv::RNG rng(52);
    cv::Mat disks(side, side, CV_8UC1, cv::Scalar(0));
    std::vector<cv::Vec3i> placed;
    for (int k = 0; k < count; ++k) {
        const int radius = smallest + (largest - smallest) * k / std::max(1, count - 1);
        for (int attempt = 0; attempt < 10000; ++attempt) {
            const cv::Vec3i disk(rng.uniform(radius + 2, side - radius - 2),
                                 rng.uniform(radius + 2, side - radius - 2), radius);
            const bool free = std::none_of(placed.begin(), placed.end(), [&](const cv::Vec3i& other) {
                return std::hypot(disk[0] - other[0], disk[1] - other[1]) < disk[2] + other[2] + 4;
            });
            if (free) {
                placed.push_back(disk);
                cv::circle(disks, cv::Point(disk[0], disk[1]), radius, cv::Scalar(255), cv::FILLED);
                break;
            }
        }
    }
    return disks;
}

constexpr int kDisks = 30;
const int kSmallestDisk = bench::Scaled(50), kLargestDisk = bench::Scaled(200);

bool MakeDisks() {
    return MakeData() && File.MakeOnce("disks-1", [] {
        cv::Mat dem;
        double gt[6];
        if (!bench::ReadRaster(File("dem.tif"), &dem, gt)) {
            return false;
        }
        dem.setTo(-9999.0f, DiskPattern(kSide, kDisks, kSmallestDisk, kLargestDisk));
        return bench::WriteRaster(dem, gt, File("disks.tif"), -9999.0, bench::ProjectionOf(KV_BENCH_DEM)) &&
               WithOverviews(File("disks.tif"));
    });
}

// The distance, in cells, from the hole cell furthest from a valid cell to the nearest valid cell:
// the peer searches at least that far to fill every hole (0 when the grid cannot be read).
int FarthestHoleCell(const std::string& path) {
    cv::Mat grid, distance;
    if (!bench::ReadRaster(path, &grid)) {
        return 0;
    }
    const cv::Mat valid = grid != -9999.0f;
    cv::distanceTransform(~valid, distance, cv::DIST_L2, cv::DIST_MASK_PRECISE);
    double farthest = 0.0;
    cv::minMaxLoc(distance, nullptr, &farthest);
    return int(std::ceil(farthest));
}

// How close each fill came to the heights the holes of `input` took away: the mean and the largest
// absolute difference over the hole cells. Ours fails when its mean is worse than the peer's by
// more than a tenth.
bench::Check HeldOutCells(const std::string& input, const std::string& ours, const std::string& theirs) {
    return [input, ours, theirs](std::string* agreed) {
        cv::Mat truth, holes, a, b;
        if (!bench::ReadRaster(File("dem.tif"), &truth) || !bench::ReadRaster(input, &holes) ||
            !bench::ReadRaster(ours, &a) || !bench::ReadRaster(theirs, &b) || a.size() != truth.size() ||
            b.size() != truth.size()) {
            return std::string("the fills cannot be compared");
        }
        const cv::Mat held = holes == -9999.0f;
        const auto error = [&](const cv::Mat& fill, double* largest) {
            cv::Mat apart;
            cv::absdiff(fill, truth, apart);
            cv::minMaxLoc(apart, nullptr, largest, nullptr, nullptr, held & (fill != -9999.0f));
            return cv::mean(apart, held & (fill != -9999.0f))[0];
        };
        double largest[2] = {0.0, 0.0};
        const double mean[2] = {error(a, &largest[0]), error(b, &largest[1])};
        *agreed = bench::Format("%d held-out cells: mean error %.4f / %.4f, largest %.3f / %.3f",
                                cv::countNonZero(held), mean[0], mean[1], largest[0], largest[1]);
        return bench::NoWorse("mean error on the held-out cells", mean[0], mean[1], 0.0, 0.1);
    };
}

// Close gaps over an area one cell beyond every side of the DEM `name` (a copy in the pair's working
// folder), the project saved, against gdal_fillnodata.py searching `distance` cells. The filled
// cells must agree within `tolerance` but for `apartShare` of them.
bool CloseGapsPair(bench::Pair* pair, const std::string& id, const std::string& name, int distance,
                   double tolerance, double apartShare) {
    const std::string work = File(id);
    double gt[6] = {0, 1, 0, 0, 0, -1};
    if (GDALDatasetH ds = GDALOpen(File("dem.tif").c_str(), GA_ReadOnly)) {
        GDALGetGeoTransform(ds, gt);
        GDALClose(ds);
    }
    const double x0 = gt[0] - gt[1], x1 = gt[0] + (kSide + 1) * gt[1];
    const double y0 = gt[3] - gt[5], y1 = gt[3] + (kSide + 1) * gt[5];
    const auto at = [](double x, double y) {
        return "pick " + bench::Number(x) + " " + bench::Number(y) + "\n";
    };
    const std::string script =
        "new\n"
        "add-dem " +
        work + "/" + name +
        "\n"
        "button Close gaps\n"
        "dialog Close gaps area selection\n"
        "    press Draw new area\n" +
        at(x0, y0) + at(x1, y0) + at(x1, y1) + at(x0, y1) +
        "right-click\n"
        "expect Pick first area vertex\n"
        "right-click\n"
        "wait-idle\n"
        "save " +
        work +
        "/bench.kvp\n"
        "wait-idle\n";
    const std::string input = File(name), ours = work + "/" + name, theirs = File("gdal_" + name);
    if (!ProgramPair(pair, id, script, [input, ours] { return bench::CopyFile(input, ours); })) {
        return false;
    }
    pair->peer = bench::FillNodataPeer(input, theirs, distance, kSide);
    pair->check = bench::AllAgree({{"filled", bench::FillsAgree(ours, theirs, input, tolerance, apartShare)},
                                   {"held out", HeldOutCells(input, ours, theirs)}});
    return true;
}

const bench::PairRegistration kCloseGaps("program_close_gaps", [](bench::Pair* pair) {
    pair->operation = "Close gaps over the whole DEM through the program, project saved";
    pair->input = kInput + " DEM, 4.5 % holes";
    return MakeData() &&
           CloseGapsPair(pair, "close_gaps", "holes.tif", kSearchDistance, kFillTolerance, kFillApart);
});

const bench::PairRegistration kCloseLargeGaps("program_close_gaps_large", [](bench::Pair* pair) {
    const int distance = MakeDisks() ? FarthestHoleCell(File("disks.tif")) + 1 : 0;
    pair->operation = "Close gaps on large holes over the whole DEM through the program, project saved";
    pair->input = kInput + " DEM, " + std::to_string(kDisks) + " disks of " + std::to_string(kSmallestDisk) +
                  " to " + std::to_string(kLargestDisk) + " cells radius cut out";
    return distance > 1 && CloseGapsPair(pair, "close_gaps_large", "disks.tif", distance, kLargeFillTolerance,
                                         kLargeFillApart);
});

// ---- slope map

// SLOPE of the DEM `name` of the data folder, its map written beside it, against gdaldem.
bool SlopePair(bench::Pair* pair, const std::string& id, const std::string& name) {
    const std::string base = name.substr(0, name.rfind('.'));
    const std::string ours = File(base + "_SlopeMap.tif"), theirs = File("gdal_slope_" + base + ".tif");
    const std::string script =
        "new\n"
        "command SLOPE\n"
        "file " +
        File(name) +
        "\n"
        "message OK\n"
        "expect SlopeMap generation done\n"
        "expect-file " +
        ours + "\n";
    if (!ProgramPair(pair, id, script)) {
        return false;
    }
    int width = 0, height = 0;
    double gt[6] = {0, 1, 0, 0, 0, -1};
    if (GDALDatasetH ds = GDALOpen(File(name).c_str(), GA_ReadOnly)) {
        width = GDALGetRasterXSize(ds);
        height = GDALGetRasterYSize(ds);
        GDALGetGeoTransform(ds, gt);
        GDALClose(ds);
    }
    pair->ours.outputs.push_back(ours);
    pair->operation = "Slope map through the program (SLOPE)";
    pair->input = bench::Format(
        "%d x %d DEM of %.7g x %.7g m cells; ours fits 7 x 7 planes into 3 bands, the "
        "peer 3 x 3 into 1",
        width, height, gt[1], std::abs(gt[5]));
    pair->peer = {"gdaldem slope -p + gdaladdo",
                  {{"gdaldem", "slope", "-q", "-p", "-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co",
                    "BLOCKYSIZE=128", File(name), theirs},
                   bench::OverviewsLike(theirs, width, height)},
                  {theirs}};
    pair->check = bench::SlopesAgree(ours, theirs);
    return width > 0;
}

const bench::PairRegistration kSlope("program_slope_map", [](bench::Pair* pair) {
    return MakeData() && SlopePair(pair, "slope_map", "dem.tif");
});

// The DEM warped to a row fewer: its cells are a six-thousandth taller than wide.
const bench::PairRegistration kSlopeNonSquare("program_slope_map_nonsquare", [](bench::Pair* pair) {
    const bool made = MakeData() && File.MakeOnce("nonsquare-1", [] {
        const std::string warped = File("dem_nonsquare.tif");
        return bench::Run({"gdalwarp", "-q", "-overwrite", "-ts", std::to_string(kSide),
                           std::to_string(kSide - 1), "-r", "bilinear", "-co", "TILED=YES", "-co",
                           "BLOCKXSIZE=256", "-co", "BLOCKYSIZE=256", File("dem.tif"), warped}) &&
               bench::Run(bench::OverviewsLike(warped, kSide, kSide - 1));
    });
    return made && SlopePair(pair, "slope_map_nonsquare", "dem_nonsquare.tif");
});

// ---- NDVI and the calculator, on the scene added as a map

// A pair of a command that writes (scene<2>-scene<1>)/(scene<2>+scene<1>) of the scene added as a
// map, its dialogs answered by `steps`, and ends with the output's chooser; the peer gdal_calc.py
// with blocks of that size and the overview levels given.
bool IndexPair(bench::Pair* pair, const std::string& name, const std::string& steps, int block,
               bool worldFile, int levels, bool common) {
    const std::string ours = File(name) + "/" + name + ".gtif", theirs = File("gdal_" + name + ".tif");
    const std::string script =
        "new\n"
        "add-map " +
        File("scene.tif") +
        "\n"
        "dialog Data Type\n"
        "    set Data Type = Other Map\n"
        "    press OK\n" +
        steps + "file " + ours + "\nwait-idle\nexpect-file " + ours + "\n";
    if (!ProgramPair(pair, name, script)) {
        return false;
    }
    pair->input = kInput + " scene, two bands";
    pair->peer = {"gdal_calc.py + gdaladdo",
                  {bench::GdalCalcIndex(File("scene.tif"), 1, File("scene.tif"), 2, theirs, block, worldFile),
                   bench::Gdaladdo(theirs, levels)},
                  {theirs}};
    pair->peer.startup = {bench::PythonStartup("gdal_calc")};
    pair->check = bench::RastersAgree(ours, theirs, 1e-5, 0.0, 0.0, 0, -9999.0, common);
    return true;
}

const bench::PairRegistration kNdvi("program_ndvi", [](bench::Pair* pair) {
    pair->operation = "NDVI through the program (NDVI-SAVI, total area)";
    // The index's file comes with its world file, as the peer's.
    return IndexPair(pair, "ndvi",
                     "button NDVI-SAVI\n"
                     "dialog NDVI-SAVI area selection\n"
                     "    press Use total area\n"
                     "dialog ^NDVI/SAVI$\n"
                     "    set Red channel = scene - channel 0\n"
                     "    set NIR channel = scene - channel 1\n"
                     "    press OK\n",
                     64, true, kv::OverviewHalvings(kSide, kSide), false);
});

const bench::PairRegistration kCalculator("program_calculator", [](bench::Pair* pair) {
    pair->operation = "Raster calculator through the program, (scene<2>-scene<1>)/(scene<2>+scene<1>)";
    // Its grid has a column and a row more than the bands, by its rule: the common cells are
    // compared.
    return IndexPair(pair, "calculator",
                     "button Raster Calculator\n"
                     "dialog ^Raster Calculator$\n"
                     "    set Formula = (scene<2>-scene<1>)/(scene<2>+scene<1>)\n"
                     "    press Evaluate\n",
                     256, false, kv::OverviewLevelCount(kSide + 1, kSide + 1), true);
});

}  // namespace
