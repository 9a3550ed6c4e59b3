// DEM analysis against SAGA's command line, each side a whole process with the same threads: ours
// is RunDemAnalysis (SAGA's tool libraries in process: import, basic terrain analysis, GeoTIFF
// export of slope, catchment area and wetness); the peer saga_cmd ta_compound 0 with the same three
// outputs in SAGA's own grid format. Our runner holds SAGA to about half the processors and to
// those the load leaves idle: the peer is given the same count, reckoned the same way when the
// pair starts. The DEM is the Olinda DEM upsampled bilinearly to 1500 x 1500 cells (at 4000 x 4000
// one run takes minutes on one thread). Both slopes must agree cell by cell, ours in percent and
// SAGA's in radians turned into percent.
#include <QFile>

#include <gdal.h>

#include <cmath>
#include <string>

#include "Bench.h"
#include "Data.h"
#include "analysis/DemAnalysis.h"
#include "analysis/SagaRunner.h"

namespace {

using bench::Args;

constexpr int kDemSide = 1500;

const bench::Files File("demanalysis");

const bench::PairRegistration kAnalysis("dem_analysis", [](bench::Pair* pair) {
    if (!File.MakeOnce("1", [] { return bench::WriteUpsampled(KV_BENCH_DEM, kDemSide, File("dem.tif")); })) {
        return false;
    }
    pair->operation = "DEM analysis: slope, catchment area, wetness (RunDemAnalysis)";
    pair->input = "1500 x 1500 DEM";
    pair->threads = kv::saga::ThreadCap();
    pair->ours = {"ours",
                  {bench::Self("analysis-ours", {File("dem.tif")})},
                  {File("dem_SLOPE.tif"), File("dem_CAREA.tif"), File("dem_WETNESS.tif")}};
    std::vector<std::string> saga;
    for (const char* product : {"slope", "flow", "wetness"}) {
        saga.push_back(File(std::string("saga_") + product + ".sdat"));
    }
    pair->peer = {"saga_cmd -c=N ta_compound 0",
                  {{"saga_cmd", "-c=" + std::to_string(pair->threads), "ta_compound", "0", "-ELEVATION",
                    File("dem.tif"), "-SLOPE", saga[0], "-FLOW", saga[1], "-WETNESS", saga[2]}},
                  saga};
    // Our slope is in percent, SAGA's an angle in radians: SAGA's is turned into percent first.
    const std::string ours = File("dem_SLOPE.tif"), theirs = saga[0],
                      percent = File("saga_slope_percent.tif");
    pair->check = [ours, theirs, percent](std::string* agreed) {
        cv::Mat slope;
        double gt[6];
        if (!bench::ReadRaster(theirs, &slope, gt)) {
            return std::string("the peer's slope cannot be read");
        }
        for (float& v : cv::Mat_<float>(slope)) {
            if (v >= 0.0f && v < float(M_PI / 2)) {
                v = float(100.0 * std::tan(double(v)));
            }
        }
        if (!bench::WriteRaster(slope, gt, percent)) {
            return std::string("the peer's slope in percent cannot be written");
        }
        return bench::RastersAgree(ours, percent, 1e-3)(agreed);
    };
    return true;
});

const bench::SideRegistration kOurs("analysis-ours", [](const Args& a) {
    DemAnalysisChoice choice;
    choice.shade = choice.lsFactor = 0;
    const DemAnalysisResult result = RunDemAnalysis(QFile::decodeName(a[0].c_str()), choice, nullptr);
    return result.ran && result.notCreated.isEmpty() ? 0 : 1;
});

}  // namespace
