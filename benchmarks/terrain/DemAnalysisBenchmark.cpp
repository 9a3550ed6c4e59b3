// DEM analysis against SAGA's command line, each side a whole process with the same threads: ours
// is RunDemAnalysis (SAGA's tool libraries in process: import, basic terrain analysis, GeoTIFF
// export of slope, catchment area and wetness); the peer saga_cmd ta_compound 0 with the same three
// outputs in SAGA's own grid format. Our runner holds SAGA to about half the processors and to
// those the load leaves idle: the peer is given the same count, reckoned the same way when the
// pair starts. The DEM is the Olinda DEM upsampled bilinearly to 1500 x 1500 cells (at 4000 x 4000
// one run takes minutes on one thread). Both slopes must agree cell by cell.
#include <QFile>

#include <gdal.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include "Bench.h"
#include "Data.h"
#include "analysis/DemAnalysis.h"

namespace {

using bench::Args;

constexpr int kDemSide = 1500;

const bench::Files File("demanalysis");

// The threads our SAGA runner takes: about half the processors, and no more than are idle.
int SagaThreads() {
    const int processors = std::max(1, int(std::thread::hardware_concurrency()));
    int cap = std::max(1, processors / 2);
    double load[1] = {0.0};
    if (getloadavg(load, 1) == 1) {
        cap = std::min(cap, std::max(1, processors - int(std::lround(load[0]))));
    }
    return cap;
}

const bench::PairRegistration kAnalysis("dem_analysis", [](bench::Pair* pair) {
    if (!File.MakeOnce("1", [] { return bench::WriteUpsampled(KV_BENCH_DEM, kDemSide, File("dem.tif")); })) {
        return false;
    }
    pair->operation = "DEM analysis: slope, catchment area, wetness (RunDemAnalysis)";
    pair->input = "1500 x 1500 DEM";
    pair->threads = SagaThreads();
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
    const std::string ours = File("dem_SLOPE.tif"), theirs = saga[0];
    pair->check = bench::RastersAgree(ours, theirs, 1e-5);
    return true;
});

const bench::SideRegistration kOurs("analysis-ours", [](const Args& a) {
    DemAnalysisChoice choice;
    choice.shade = choice.lsFactor = 0;
    const DemAnalysisResult result = RunDemAnalysis(QFile::decodeName(a[0].c_str()), choice, nullptr);
    return result.ran && result.notCreated.isEmpty() ? 0 : 1;
});

}  // namespace
