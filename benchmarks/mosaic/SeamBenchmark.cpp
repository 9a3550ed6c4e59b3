// One seam between two orthophotos, side by side with OpenCV's seam finders.
//
// Input: bands 3, 2, 1 of the Landsat scene of the test data warped bilinearly from 28.5 m to
// 2.85 m cells (3490 x 3520), and two 2000 x 2000 crops of it 1490 columns apart. At the working
// scale s = 4 each is 500 x 500 with a 128-column overlap (127.5 cells).
//   BM_RouteSeam         - SeamRouter::RouteImage for the first crop: one seam routed through the
//                          overlap (cost image, overlap contours, corridor, grid search, simplification)
//                          from the two images already reduced and masked;
//   BM_RouteSeamWithReads - the same with both images read from their GeoTIFFs at the working scale;
//   BM_DpSeamFinder      - cv::detail::DpSeamFinder (COLOR_GRAD) on the same two reduced images;
//   BM_GraphCutSeamFinder - cv::detail::GraphCutSeamFinder (COST_COLOR) on them.
#include <benchmark/benchmark.h>
#include <gdal.h>
#include <gdal_utils.h>

#include <QDir>
#include <QTemporaryDir>

#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "SeamFinderPeers.h"
#include "mosaic/SeamRouting.h"

namespace {

constexpr double kScale = 4.0;
constexpr double kPixel = 2.85;
constexpr int kCrop = 2000;
constexpr int kShift = 1490;

struct Scene {
    QString paths[2];
    double geoTransforms[2][6];
    cv::Mat reduced[2];  // read at the working scale and masked, as the builder reads them
    cv::Mat validMask;   // of the first crop, dilated once
    cv::Mat windowOfB;   // the second crop over the first one's extent, as the router reads it
    SeamSegmentLists segments;
    SeamlineGrid grid;
};

Scene* g_scene = nullptr;

// Serves the second crop's window from memory, so that the timing holds the routing alone.
class PreparedSource : public SeamImageSource {
public:
    bool Open(int index, double geoTransform[6]) override {
        std::copy(g_scene->geoTransforms[index], g_scene->geoTransforms[index] + 6, geoTransform);
        return index == 1;
    }
    bool Read(const cv::Rect&, cv::Mat& image) override {
        g_scene->windowOfB.copyTo(image);
        return true;
    }
    void Close() override {}
};

bool MakeScene(const QString& folder, Scene* scene) {
    GDALDatasetH source = GDALOpen(KV_BENCH_SCENE, GA_ReadOnly);
    if (!source) {
        return false;
    }
    const std::string fine = (folder + "/fine.tif").toStdString();
    const char* warpArgs[] = {"-of", "GTiff", "-tr", "2.85", "2.85", "-r", "bilinear", nullptr};
    const char* bands[] = {"-b", "3", "-b", "2", "-b", "1", "-of", "VRT", nullptr};
    GDALTranslateOptions* pick = GDALTranslateOptionsNew(const_cast<char**>(bands), nullptr);
    GDALDatasetH rgb = GDALTranslate((folder + "/rgb.vrt").toStdString().c_str(), source, pick, nullptr);
    GDALTranslateOptionsFree(pick);
    GDALWarpAppOptions* warp = GDALWarpAppOptionsNew(const_cast<char**>(warpArgs), nullptr);
    GDALDatasetH warped = GDALWarp(fine.c_str(), nullptr, 1, &rgb, warp, nullptr);
    GDALWarpAppOptionsFree(warp);
    GDALClose(rgb);
    GDALClose(source);
    if (!warped) {
        return false;
    }
    for (int i = 0; i < 2; ++i) {
        scene->paths[i] = folder + QStringLiteral("/crop_%1.tif").arg(i);
        const std::string column = std::to_string(i * kShift), size = std::to_string(kCrop);
        const char* cut[] = {"-of", "GTiff",      "-srcwin",    column.c_str(),
                             "0",   size.c_str(), size.c_str(), nullptr};
        GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(cut), nullptr);
        GDALDatasetH crop = GDALTranslate(scene->paths[i].toStdString().c_str(), warped, options, nullptr);
        GDALTranslateOptionsFree(options);
        if (!crop) {
            GDALClose(warped);
            return false;
        }
        GDALClose(crop);
    }
    GDALClose(warped);

    for (int i = 0; i < 2; ++i) {
        if (!ReadOrthoSeamImage(scene->paths[i], kScale, scene->reduced[i], scene->geoTransforms[i])) {
            return false;
        }
    }
    cv::dilate(SeamValidMask(scene->reduced[0]), scene->validMask, cv::Mat::ones(3, 3, CV_8U));
    OrthoSeamImageSource reader({scene->paths[0], scene->paths[1]});
    double gt[6];
    scene->windowOfB.create(scene->reduced[0].size(), CV_8UC3);
    if (!reader.Open(1, gt) || !reader.Read(cv::Rect(-kShift, 0, kCrop, kCrop), scene->windowOfB)) {
        return false;
    }

    // The first crop's outline: its own edges and, as the shared edge, the perpendicular bisector
    // of the two centres from the top of the pair to its bottom.
    const double* g0 = scene->geoTransforms[0];
    const double left = g0[0], top = g0[3], bottom = g0[3] + kCrop * g0[5];
    const double bisector = g0[0] + (kCrop + kShift) * 0.5 * g0[1];
    auto edge = [](int n, double x0, double y0, double x1, double y1) {
        SeamSegment s;
        s.neighbour = n;
        s.start = Wml::Point2(x0, y0);
        s.end = Wml::Point2(x1, y1);
        return s;
    };
    scene->segments = {{edge(-1, left, bottom, left, top), edge(-1, left, top, bisector, top),
                        edge(1, bisector, top, bisector, bottom), edge(-1, bisector, bottom, left, bottom)},
                       {}};
    scene->grid.minX = left;
    scene->grid.maxY = top;
    scene->grid.pixelSize = kPixel;
    scene->grid.scale = kScale;
    return true;
}

int RouteOnce(SeamImageSource& source, const cv::Mat& a, const cv::Mat& valid,
              std::vector<Wml::Point2>* outline) {
    SeamRouter router(g_scene->grid, kPixel, CCentralImagineryParams(0, 4.0, 128.0, 0), g_scene->segments,
                      source, nullptr);
    outline->clear();
    return router.RouteImage(0, a, valid, g_scene->geoTransforms[0], *outline);
}

void BM_RouteSeam(benchmark::State& state) {
    PreparedSource source;
    std::vector<Wml::Point2> outline;
    for (auto _ : state) {
        benchmark::DoNotOptimize(RouteOnce(source, g_scene->reduced[0], g_scene->validMask, &outline));
    }
    state.counters["outline points"] = double(outline.size());
}

void BM_RouteSeamWithReads(benchmark::State& state) {
    OrthoSeamImageSource source({g_scene->paths[0], g_scene->paths[1]});
    std::vector<Wml::Point2> outline;
    for (auto _ : state) {
        cv::Mat a, valid;
        double gt[6];
        ReadOrthoSeamImage(g_scene->paths[0], kScale, a, gt);
        cv::dilate(SeamValidMask(a), valid, cv::Mat::ones(3, 3, CV_8U));
        benchmark::DoNotOptimize(RouteOnce(source, a, valid, &outline));
    }
}

std::vector<cv::Point> FinderCorners() {
    return {cv::Point(0, 0), cv::Point(int(std::lround(kShift / kScale)), 0)};
}

void BM_DpSeamFinder(benchmark::State& state) {
    RunDpSeamFinder(state, {g_scene->reduced[0], g_scene->reduced[1]}, FinderCorners());
}

void BM_GraphCutSeamFinder(benchmark::State& state) {
    RunGraphCutSeamFinder(state, {g_scene->reduced[0], g_scene->reduced[1]}, FinderCorners());
}

BENCHMARK(BM_RouteSeam)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RouteSeamWithReads)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DpSeamFinder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GraphCutSeamFinder)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    cv::setNumThreads(1);
    QTemporaryDir folder;
    Scene scene;
    if (!folder.isValid() || !MakeScene(folder.path(), &scene)) {
        std::fprintf(stderr, "could not make the two orthophotos\n");
        return 1;
    }
    g_scene = &scene;
    std::vector<Wml::Point2> outline;
    PreparedSource source;
    const int result = RouteOnce(source, scene.reduced[0], scene.validMask, &outline);
    cv::Mat overlap, cost;
    BuildSeamOverlapCost(scene.reduced[0], scene.windowOfB, overlap, cost);
    std::printf(
        "two crops of %d x %d at %.2f m, reduced by %.0f to %d x %d; overlap %d cells wide; seam routed "
        "(%d), outline of %zu points\n",
        kCrop, kCrop, kPixel, kScale, scene.reduced[0].cols, scene.reduced[0].rows,
        cv::countNonZero(overlap.row(overlap.rows / 2)), result, outline.size());

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
