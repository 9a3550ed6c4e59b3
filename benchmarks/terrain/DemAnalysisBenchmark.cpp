// DEM analysis against SAGA's command line, each side a whole process with the same threads: ours
// is RunDemAnalysis (SAGA's tool libraries in process: import, basic terrain analysis, GeoTIFF
// export of slope, catchment area and wetness), its SAGA runner held to the pair's threads; the
// peer saga_cmd ta_compound 0 with the same three outputs in SAGA's own grid format, given the
// same threads. The DEM is the Olinda DEM upsampled bilinearly to 1500 x 1500 cells (at 4000 x
// 4000 one run takes minutes on one thread). All three products must agree cell by cell: the
// slopes as angles in radians, as both sides write them, catchment area and wetness within a
// millionth of SAGA's value.
#include <QFile>

#include <string>

#include "Bench.h"
#include "Checks.h"
#include "Data.h"
#include "analysis/DemAnalysis.h"
#include "analysis/SagaRunner.h"

namespace {

using bench::Args;

const int kDemSide = bench::Scaled(1500);

const bench::Files File("demanalysis");

// Slopes of the same terrain as angles differ by float rounding only.
constexpr double kSlopeTolerance = 1e-5;
constexpr double kRelativeTolerance = 1e-6;

const bench::PairRegistration kAnalysis("dem_analysis", [](bench::Pair* pair) {
    if (!File.MakeOnce("1", [] { return bench::WriteUpsampled(KV_BENCH_DEM, kDemSide, File("dem.tif")); })) {
        return false;
    }
    pair->operation = "DEM analysis: slope, catchment area, wetness (RunDemAnalysis)";
    pair->input = std::to_string(kDemSide) + " x " + std::to_string(kDemSide) + " DEM";
    pair->threads = bench::ParallelThreads();
    const std::string slope = File("dem_SLOPE.tif"), area = File("dem_CAREA.tif"),
                      wetness = File("dem_WETNESS.tif");
    pair->ours = {"ours", {bench::Self("analysis-ours", {File("dem.tif")})}, {slope, area, wetness}};
    std::vector<std::string> saga;
    for (const char* product : {"slope", "flow", "wetness"}) {
        saga.push_back(File(std::string("saga_") + product + ".sdat"));
    }
    pair->peer = {"saga_cmd -c=N ta_compound 0",
                  {{"saga_cmd", "-c=" + std::to_string(pair->threads), "ta_compound", "0", "-ELEVATION",
                    File("dem.tif"), "-SLOPE", saga[0], "-FLOW", saga[1], "-WETNESS", saga[2]}},
                  saga};
    pair->check = bench::AllAgree(
        {{"slope", bench::RastersAgree(slope, saga[0], kSlopeTolerance)},
         {"catchment area",
          bench::RastersAgree(area, saga[1], 0.0, 0.0, 0.0, 0, -9999.0, false, kRelativeTolerance)},
         {"wetness",
          bench::RastersAgree(wetness, saga[2], 0.0, 0.0, 0.0, 0, -9999.0, false, kRelativeTolerance)}});
    return true;
});

const bench::SideRegistration kOurs("analysis-ours", [](const Args& a) {
    kv::saga::HoldThreads(bench::Threads());
    DemAnalysisChoice choice;
    choice.shade = choice.lsFactor = 0;
    const DemAnalysisResult result = RunDemAnalysis(QFile::decodeName(a[0].c_str()), choice, nullptr);
    return result.ran && result.notCreated.isEmpty() ? 0 : 1;
});

}  // namespace
