// Commands through the whole program, as the operator runs them: each of our sides is the scenario
// runner (Program.h) starting the program with its main window, opening the data through the
// ribbon and running the command through its dialogs; each peer is the GDAL program doing the same
// work, with the same outputs and overviews. Whole processes on one thread (the peers use no
// more; the calculator's reader of the next strip is a thread of its own, which the row shows).
// The data, made once from the test data:
//   dem.tif    - the Olinda DEM upsampled bilinearly to 6000 x 6000 cells of 1.67 m, with overviews;
//   holes.tif  - the same with 4.5 % of its cells cut out as irregular holes (HolePattern);
//   scene.tif  - bands 3 and 4 (red, near infrared) of the Landsat scene's square part upsampled
//                bilinearly to 6000 x 6000, with overviews.
// The pairs:
//   runner start-up - an empty script: the program started and ended (no peer);
//   contours   - Build contours every 1 m into the saved project's folder, the lines loaded into the
//                drawing with their labels, against gdal_contour -i 1 -3d; vertex by vertex; on the
//                DEM and on it upsampled to a half and a quarter of its side, so that the time and
//                memory can be set against the vertices;
//   close gaps - Close gaps over an area around the whole DEM, the project saved (the DEM written
//                back with its overviews), against gdal_fillnodata.py -md 100 and gdaladdo; the
//                filled cells compared, and both fills against the heights the holes took away;
//   slope map  - SLOPE of dem.tif beside it, against gdaldem slope -p and gdaladdo;
//   NDVI       - NDVI-SAVI of the scene's two bands over its total area, against gdal_calc.py (with
//                the world file) and gdaladdo;
//   calculator - the Raster Calculator's (scene<2>-scene<1>)/(scene<2>+scene<1>), against
//                gdal_calc.py and gdaladdo.
#include <gdal.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "Program.h"
#include "raster/RasterIO.h"

namespace {

const int kSide = bench::Scaled(6000);
constexpr double kHoleShare = 0.045;
constexpr int kSearchDistance = 100;
// Two fillers' heights differ; the check asks for the same cells filled and heights close to each
// other (as the gap filler's own pair does).
constexpr double kFillTolerance = 2.0;

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
               WithOverviews(File("scene.tif")) &&
               bench::WriteScript(File("empty.kvs"), "# The program started and ended, nothing else.\n");
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

// A pair whose side runs a script written into the data folder, in a working folder of its own
// (emptied before each run).
bool ProgramPair(bench::Pair* pair, const std::string& name, const std::string& script) {
    if (!bench::HaveScenarioRunner() || !MakeData() || !bench::WriteScript(File(name + ".kvs"), script)) {
        return false;
    }
    pair->ours = {"ours", {bench::Scenario(File(name + ".kvs"), File(name) + "/")}, {File(name) + "/"}};
    return true;
}

// ---- the runner's own start-up

const bench::PairRegistration kStartup("program_startup", [](bench::Pair* pair) {
    if (!bench::HaveScenarioRunner() || !MakeData()) {
        return false;
    }
    pair->operation = "The program started and ended by the scenario runner (an empty script)";
    pair->input = "nothing";
    pair->ours = {
        "ours", {bench::Scenario(File("empty.kvs"), File("startup") + "/")}, {File("startup") + "/"}};
    return true;
});

// ---- contours

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
        // The command may write the DEM's grid back to its file: it works on a copy.
        const std::string script = "new\nadd-dem " + work + "/" + dem + "\nsave " + work +
                                   "/bench.kvp\n"
                                   "button Build contours\n"
                                   "dialog Contour Lines\n"
                                   "    set Contours Step = 1\n"
                                   "    press Generate\n"
                                   "wait-idle\n"
                                   "expect-file " +
                                   lines + "\n";
        if (!ProgramPair(pair, id, script)) {
            return false;
        }
        pair->ours.before = [work, dem] { return bench::CopyFile(File(dem), work + "/" + dem); };
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

// ---- close gaps

// How close each fill came to the heights the holes took away: the mean and the largest absolute
// difference over the hole cells. Ours fails when its mean is worse than the peer's by more than a
// tenth.
bench::Check HeldOutCells(const std::string& ours, const std::string& theirs) {
    return [ours, theirs](std::string* agreed) {
        cv::Mat truth, holes, a, b;
        if (!bench::ReadRaster(File("dem.tif"), &truth) || !bench::ReadRaster(File("holes.tif"), &holes) ||
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

const bench::PairRegistration kCloseGaps("program_close_gaps", [](bench::Pair* pair) {
    const std::string work = File("close_gaps");
    double gt[6] = {0, 1, 0, 0, 0, -1};
    if (GDALDatasetH ds = MakeData() ? GDALOpen(File("dem.tif").c_str(), GA_ReadOnly) : nullptr) {
        GDALGetGeoTransform(ds, gt);
        GDALClose(ds);
    }
    // An area one cell beyond every side of the DEM.
    const double x0 = gt[0] - gt[1], x1 = gt[0] + (kSide + 1) * gt[1];
    const double y0 = gt[3] - gt[5], y1 = gt[3] + (kSide + 1) * gt[5];
    const auto at = [](double x, double y) {
        return "pick " + bench::Number(x) + " " + bench::Number(y) + "\n";
    };
    const std::string script =
        "new\n"
        "add-dem " +
        work +
        "/holes.tif\n"
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
    if (!ProgramPair(pair, "close_gaps", script)) {
        return false;
    }
    pair->ours.before = [work] { return bench::CopyFile(File("holes.tif"), work + "/holes.tif"); };
    const std::string ours = work + "/holes.tif", theirs = File("gdal_filled.tif");
    pair->operation = "Close gaps over the whole DEM through the program, project saved";
    pair->input = kInput + " DEM, 4.5 % holes";
    pair->peer = bench::FillNodataPeer(File("holes.tif"), theirs, kSearchDistance, kSide);
    pair->check = bench::AllAgree({{"filled", bench::RastersAgree(ours, theirs, kFillTolerance, 0.01, 0.0)},
                                   {"held out", HeldOutCells(ours, theirs)}});
    return true;
});

// ---- slope map

const bench::PairRegistration kSlope("program_slope_map", [](bench::Pair* pair) {
    const std::string ours = File("dem_SlopeMap.tif"), theirs = File("gdal_slope.tif");
    const std::string script =
        "new\n"
        "command SLOPE\n"
        "file " +
        File("dem.tif") +
        "\n"
        "message OK\n"
        "expect SlopeMap generation done\n"
        "expect-file " +
        ours + "\n";
    if (!ProgramPair(pair, "slope_map", script)) {
        return false;
    }
    pair->ours.outputs.push_back(ours);
    pair->operation = "Slope map through the program (SLOPE)";
    pair->input = kInput + " DEM; ours fits 7 x 7 planes into 3 bands, the peer 3 x 3 into 1";
    pair->peer = {"gdaldem slope -p + gdaladdo",
                  {{"gdaldem", "slope", "-q", "-p", "-co", "TILED=YES", "-co", "BLOCKXSIZE=128", "-co",
                    "BLOCKYSIZE=128", File("dem.tif"), theirs},
                   bench::OverviewsLike(theirs, kSide, kSide)},
                  {theirs}};
    pair->check = bench::SlopesAgree(ours, theirs);
    return true;
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
