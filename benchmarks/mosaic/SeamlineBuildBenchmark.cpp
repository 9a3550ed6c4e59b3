// The whole seamline build of four orthophotos, pass by pass, side by side with OpenCV's seam
// finders on the same images.
//
// Input: bands 3, 2, 1 of the Landsat scene of the test data warped bilinearly from 28.5 m to
// 2.85 m cells (3490 x 3520), cut into four 2000 x 2000 crops at (0, 0), (1490, 0), (0, 1520) and
// (1490, 1520), loaded as the orthophotos of a project. The build reduces them by s = 4 (500 x 500
// each) and routes the five shared seams of the four regions.
//   BM_BuildOrthoSeamlines - BuildOrthoSeamlines, everything from the seam polygons to the
//                            temporary drawing, "pol" and "sml" files written into the project folder;
//   BM_Prepare ... BM_TrimPass - each pass of that build alone (the earlier passes run untimed);
//   BM_DpSeamFinder        - cv::detail::DpSeamFinder (COLOR_GRAD) on the four crops reduced by 4 and
//                            masked as the build reads them;
//   BM_GraphCutSeamFinder  - cv::detail::GraphCutSeamFinder (COST_COLOR) on them.
//
// The project folder is a temporary folder (TMPDIR). The build writes its eight polygon files
// through the synced write layer, whose syncs take most of the wall time on a busy disk; with
// TMPDIR=/dev/shm the figures are those of the computation alone.
#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

#include "FourCrops.h"
#include "SeamFinderPeers.h"
#include "document/KelvaroDoc.h"
#include "mosaic/SeamlineBuilders.h"
#include "raster/Ortho.h"

namespace {

using bench::kCorners;
using bench::kCrop;
using bench::kPixel;

CKelvaroDoc* g_doc = nullptr;
std::vector<COrtho*> g_images;
std::vector<cv::Mat> g_reduced;  // the crops at 1 / 4, masked, as the build reads them

bool MakeScene(const QString& folder) {
    QStringList paths;
    if (!bench::MakeFourCrops(KV_BENCH_SCENE, folder, g_doc, &paths)) {
        return false;
    }
    for (const QString& path : paths) {
        cv::Mat reduced;
        double gt[6];
        if (ReadOrthoSeamImage(path, 4.0, reduced, gt) != 1) {
            return false;
        }
        g_reduced.push_back(reduced);
    }
    for (const auto& entry : g_doc->m_Orthos) {
        g_images.push_back(entry.second);
    }
    g_doc->SetPathName(folder + "/bench.kvp");
    return g_images.size() == 4;
}

const CCentralImagineryParams kCentral(0, 4.0, 128.0, 0);

void BM_BuildOrthoSeamlines(benchmark::State& state) {
    int abortFlag = 0;
    for (auto _ : state) {
        CadDrawing* temporary = nullptr;
        if (BuildOrthoSeamlines(g_doc, g_images, &temporary, kPixel, kCentral, nullptr, &abortFlag) != 0) {
            state.SkipWithError("the build failed");
        }
        CadDelete(temporary);
    }
}

// Times pass `timed` (0 to 3) of a build; the passes before it run untimed.
void TimePass(benchmark::State& state, int timed) {
    int (SeamlineBuild::*passes[4])() = {&SeamlineBuild::Prepare, &SeamlineBuild::RoutePass,
                                         &SeamlineBuild::ReadBackPass, &SeamlineBuild::TrimPass};
    int abortFlag = 0;
    for (auto _ : state) {
        state.PauseTiming();
        OrthoSeamlineImages images(g_images);
        SeamlineBuild build(g_doc, images, kPixel, kCentral, nullptr, &abortFlag);
        for (int pass = 0; pass <= timed; ++pass) {
            if (pass == timed) {
                state.ResumeTiming();
            }
            if ((build.*passes[pass])() != 0) {
                state.SkipWithError("a pass failed");
            }
        }
    }
}

void BM_Prepare(benchmark::State& state) {
    TimePass(state, 0);
}
void BM_RoutePass(benchmark::State& state) {
    TimePass(state, 1);
}
void BM_ReadBackPass(benchmark::State& state) {
    TimePass(state, 2);
}
void BM_TrimPass(benchmark::State& state) {
    TimePass(state, 3);
}

std::vector<cv::Point> FinderCorners() {
    std::vector<cv::Point> corners;
    for (const cv::Point& corner : kCorners) {
        corners.emplace_back(int(std::lround(corner.x / 4.0)), int(std::lround(corner.y / 4.0)));
    }
    return corners;
}

void BM_DpSeamFinder(benchmark::State& state) {
    RunDpSeamFinder(state, g_reduced, FinderCorners());
}

void BM_GraphCutSeamFinder(benchmark::State& state) {
    RunGraphCutSeamFinder(state, g_reduced, FinderCorners());
}

BENCHMARK(BM_BuildOrthoSeamlines)->Unit(benchmark::kMillisecond);
// The passes run a fixed number of times: each one needs the passes before it, run untimed.
BENCHMARK(BM_Prepare)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_RoutePass)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_ReadBackPass)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_TrimPass)->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_DpSeamFinder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GraphCutSeamFinder)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    const auto app = bench::StartProgram(argc, argv);
    QTemporaryDir folder;
    CKelvaroDoc doc;
    g_doc = &doc;
    if (!folder.isValid() || !MakeScene(folder.path())) {
        std::fprintf(stderr, "could not make the four orthophotos\n");
        return 1;
    }
    int abortFlag = 0;
    CadDrawing* temporary = nullptr;
    const int result = BuildOrthoSeamlines(&doc, g_images, &temporary, kPixel, kCentral, nullptr, &abortFlag);
    int polylines = 0, vertices = 0;
    for (CadEntity* e = temporary ? CadGetFirstEntity(temporary) : nullptr; e;
         e = CadGetNextEntity(temporary, e)) {
        ++polylines;
        vertices += CadPlineGetNumVers(e);
    }
    std::printf("four crops of %d x %d at %.2f m; build %d, s = %.0f, %d region polylines of %d vertices\n",
                kCrop, kCrop, kPixel, result, doc.SeamlineScaleFactor, polylines, vertices);
    CadDelete(temporary);

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_images.clear();
    return 0;
}
