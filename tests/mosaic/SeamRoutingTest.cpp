// Seams routed through the overlap of two images: on the Landsat pair the seam keeps to the overlap
// and both regions share it; the cost image, its shaping and the search's fallback; the hand-over
// of a routed seam to the later image; the central-imagery penalty, its validation, and abort.
#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "MosaicFixtures.h"
#include "document/KelvaroDoc.h"
#include "mosaic/SeamRouting.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

std::vector<Wml::Point2> Points(const SeamPath& path, bool reversed = false) {
    std::vector<Wml::Point2> points;
    for (const cv::Point2f& p : path) {
        points.emplace_back(p.x, p.y);
    }
    if (reversed) {
        std::reverse(points.begin(), points.end());
    }
    return points;
}

bool Holds(const std::vector<Wml::Point2>& outline, const std::vector<Wml::Point2>& run) {
    return std::search(outline.begin(), outline.end(), run.begin(), run.end()) != outline.end();
}

// The Landsat pair as the orthophoto builder sees it at s = 1: its segments, both images read and
// masked, and routers over the two rasters.
class LandsatRouting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetMaskContourJitterSeed(25);
        s_pair = new mtest::LandsatPair(kvtest::NewTempFolder("routing_pair"));
        kvtest::ScriptedInteraction ui;
        CKelvaroDoc doc;
        ASSERT_EQ(doc.AddOrtho(s_pair->paths[0], 0, 0) + doc.AddOrtho(s_pair->paths[1], 0, 0), 2);
        std::vector<CPgon> polygons;
        int64_t largest = 0, median = 0;
        ASSERT_TRUE(BuildVoronoiSeamPolygons({doc.m_Orthos.at("scene_a.tif"), doc.m_Orthos.at("scene_b.tif")},
                                             polygons, largest, median, nullptr));
        SeamVertexImageLists vertices;
        ASSERT_EQ(CollectVertexImages(polygons, BuildSeamVertexIndex(polygons), kPixel, &s_segments,
                                      &vertices, nullptr),
                  1);
    }
    static void TearDownTestSuite() {
        delete s_pair;
        SetMaskContourJitterSeed(-1);
    }

    void SetUp() override {
        grid = SeamlineGrid{s_pair->geoTransforms[0][0], s_pair->geoTransforms[0][3], kPixel, 1};
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(ReadOrthoSeamImage(s_pair->paths[i], 1, images[i], geoTransforms[i]), 1);
            cv::dilate(SeamValidMask(images[i]), valid[i], cv::Mat::ones(3, 3, CV_8U));
        }
    }

    int Route(int image, const SeamSegmentLists& segments, std::vector<Wml::Point2>& outline,
              const CCentralImagineryParams& central = CCentralImagineryParams(0, 4, 128, 0)) {
        router = std::make_unique<SeamRouter>(grid, kPixel, central, segments, source, &abortFlag);
        return router->RouteImage(image, images[image], valid[image], geoTransforms[image], outline);
    }

    static constexpr double kPixel = mtest::LandsatPair::kPixel;
    static inline mtest::LandsatPair* s_pair = nullptr;
    static inline SeamSegmentLists s_segments;
    SeamlineGrid grid;
    cv::Mat images[2], valid[2];
    double geoTransforms[2][6];
    int abortFlag = 0;
    OrthoSeamImageSource source{{s_pair->paths[0], s_pair->paths[1]}};
    std::unique_ptr<SeamRouter> router;
};

}  // namespace

TEST_F(LandsatRouting, SeamKeepsToTheOverlapAndBothRegionsShareIt) {
    std::vector<Wml::Point2> outline0, outline1;
    ASSERT_EQ(Route(0, s_segments, outline0), 0);
    const auto& list = s_segments[0];
    const size_t shared = size_t(
        std::find_if(list.begin(), list.end(), [](auto& s) { return s.neighbour == 1; }) - list.begin());
    const SeamPath seam = router->StoredPaths()[0][shared];
    ASSERT_GE(seam.size(), 3u);

    // The ends are the bisector's ends clamped onto image 0 (its last row is 351, not 352).
    const cv::Point2f first = seam.front(), last = seam.back();
    EXPECT_EQ(std::min(first.y, last.y), 0.f);
    EXPECT_EQ(std::max(first.y, last.y), 351.f);
    EXPECT_EQ(first.x, last.x);
    EXPECT_NEAR(first.x, 174.75, 1.0);
    EXPECT_TRUE(std::any_of(seam.begin(), seam.end(), [&](auto& q) { return std::fabs(q.x - first.x) > 2; }));

    // Apart from the end circles the seam runs in the overlap the router saw (image 0's pixels
    // are grid cells here), grown by a cell for the simplification's tolerance.
    double gtB[6];
    cv::Mat b(images[0].size(), CV_8UC3), overlap, cost;
    ASSERT_TRUE(source.Open(1, gtB) && source.Read(cv::Rect(-130, 0, 220, 352), b));
    ASSERT_TRUE(BuildSeamOverlapCost(images[0], b, overlap, cost));
    cv::dilate(overlap, overlap, cv::Mat::ones(3, 3, CV_8U));
    for (size_t i = 0; i + 1 < seam.size(); ++i) {
        for (float t = 0; t <= 1.0f; t += 0.05f) {
            const cv::Point2f q = seam[i] + (seam[i + 1] - seam[i]) * t;
            if (cv::norm(q - first) > 9 && cv::norm(q - last) > 9) {
                ASSERT_EQ(overlap.at<unsigned char>(cvRound(q.y), cvRound(q.x)), 255) << q;
            }
        }
    }

    // Image 1 takes the same seam, reversed, and nothing stays stored.
    router->RouteImage(1, images[1], valid[1], geoTransforms[1], outline1);
    EXPECT_TRUE(Holds(outline0, Points(seam)));
    EXPECT_TRUE(Holds(outline1, Points(seam, true)));
    for (const auto& paths : router->StoredPaths()) {
        EXPECT_TRUE(std::all_of(paths.begin(), paths.end(), [](const SeamPath& p) { return p.empty(); }));
    }
}

TEST_F(LandsatRouting, EndPointsOutsideTheImageAreClampedOntoItsBorder) {
    const double* gt = geoTransforms[0];
    SeamSegment across;
    across.neighbour = 1;
    across.start = Wml::Point2(gt[0] - 5000, gt[3] + 5000);
    across.end = Wml::Point2(gt[0] + 400 * gt[1], gt[3] + 400 * gt[5]);
    const SeamSegmentLists segments = {{across}, {}};
    std::vector<Wml::Point2> outline;
    ASSERT_EQ(Route(0, segments, outline), 0);
    const SeamPath& seam = router->StoredPaths()[0][0];
    ASSERT_GE(seam.size(), 2u);
    EXPECT_EQ(seam.front(), cv::Point2f(0, 0));
    EXPECT_EQ(seam.back(), cv::Point2f(219, 351));
    EXPECT_EQ(outline, Points(seam));
}

TEST_F(LandsatRouting, InvalidCentralImageryFailsAndAbortStops) {
    std::vector<Wml::Point2> outline;
    EXPECT_EQ(Route(0, s_segments, outline, CCentralImagineryParams(1, 4, 128, 2)), -2);
    EXPECT_EQ(Route(0, s_segments, outline, CCentralImagineryParams(1, 4, 129, 0)), -2);
    abortFlag = 1;
    EXPECT_EQ(Route(0, s_segments, outline), -3);
}

TEST(SeamCost, OverlapCostOfIdenticalImagesIsTheirThirdChannel) {
    cv::Mat a(40, 40, CV_8UC3), overlap, cost;
    cv::randu(a, 0, 256);
    a(cv::Rect(0, 0, 10, 10)).setTo(cv::Scalar::all(0));
    ASSERT_TRUE(BuildSeamOverlapCost(a, a, overlap, cost));
    for (int y = 0; y < a.rows; ++y) {
        for (int x = 0; x < a.cols; ++x) {
            const cv::Vec3b c = a.at<cv::Vec3b>(y, x);
            const bool data = c[0] || c[1] || c[2];
            ASSERT_EQ(overlap.at<unsigned char>(y, x), data ? 255 : 0);
            ASSERT_EQ(cost.at<unsigned char>(y, x), data ? int(0.3 * c[2]) : 254);
        }
    }
    // Differences count, the third channel three times.
    cv::Mat b = a.clone();
    b.at<cv::Vec3b>(20, 20) = a.at<cv::Vec3b>(20, 20) + cv::Vec3b(0, 0, 10);
    b.at<cv::Vec3b>(20, 21) = a.at<cv::Vec3b>(20, 21) + cv::Vec3b(10, 0, 0);
    a.at<cv::Vec3b>(20, 20)[2] = a.at<cv::Vec3b>(20, 21)[0] = 100;
    b.at<cv::Vec3b>(20, 20)[2] = b.at<cv::Vec3b>(20, 21)[0] = 110;
    ASSERT_TRUE(BuildSeamOverlapCost(a, b, overlap, cost));
    EXPECT_EQ(cost.at<unsigned char>(20, 20), 33 + 3);
    EXPECT_EQ(cost.at<unsigned char>(20, 21), int(0.3 * a.at<cv::Vec3b>(20, 21)[2]) + 1);
}

TEST(SeamCost, CorridorEndCirclesAndSearch) {
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 4).halfWidth, 16);
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 4).slope, 4);
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 1).halfWidth, 64);
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 1).slope, 1);

    // Along a horizontal axis from (20, 60) to (100, 60), half-width 16, slope 4.
    cv::Mat cost(120, 140, CV_8UC1, cv::Scalar(10));
    cost.at<unsigned char>(60, 130) = 254;  // outside the overlap, beyond the end
    ShapeSeamCost(cost, cv::Point(20, 60), cv::Point(100, 60), SeamCorridor{16, 4});
    EXPECT_EQ(cost.at<unsigned char>(66, 100), 64);
    EXPECT_EQ(cost.at<unsigned char>(60, 18), 64);   // two cells before the start, in the circle
    EXPECT_EQ(cost.at<unsigned char>(60, 17), 255);  // three cells before it
    EXPECT_EQ(cost.at<unsigned char>(60, 103), 255);
    EXPECT_EQ(cost.at<unsigned char>(60, 130), 254);  // stays passable
    EXPECT_EQ(cost.at<unsigned char>(76, 50), 10);
    EXPECT_EQ(cost.at<unsigned char>(79, 50), 10 + 3 * 4);
    EXPECT_EQ(cost.at<unsigned char>(0, 50), 10 + (60 - 16) * 4);

    // The search follows a cheap V, simplified to its corners and shifted by the offset; with the
    // goal walled in, the seam is the straight line between the two ends.
    cv::Mat v(40, 40, CV_8UC1, cv::Scalar(200));
    cv::polylines(v, std::vector<cv::Point>{{5, 5}, {20, 30}, {35, 5}}, false, cv::Scalar(0));
    std::vector<cv::Point2f> seam;
    ASSERT_EQ(SearchSeam(v, {5, 5}, {35, 5}, {100, 50}, nullptr, seam), 1);
    EXPECT_EQ(seam, std::vector<cv::Point2f>({{105, 55}, {120, 80}, {135, 55}}));
    cv::rectangle(v, cv::Rect(33, 3, 5, 5), cv::Scalar(255));
    ASSERT_EQ(SearchSeam(v, {5, 5}, {35, 5}, {100, 50}, nullptr, seam), 1);
    EXPECT_EQ(seam, std::vector<cv::Point2f>({{105, 55}, {135, 55}}));
    const int abort = 1;
    EXPECT_EQ(SearchSeam(v, {5, 5}, {35, 5}, {0, 0}, &abort, seam), -3);
}

// Two shared edges between the same two images: each edge of the later image takes the seam of the
// earlier image's edge with the same two ends, not that of the first edge that names it.
TEST(SeamHandOver, LaterImageTakesTheSeamOfTheEdgeWithTheSameEnds) {
    // A neighbour that opens but cannot be read: every routed edge falls back to its straight segment.
    struct Unreadable : SeamImageSource {
        int reads = 0;
        bool Open(int, double gt[6]) override {
            const double own[6] = {0, 1, 0, 20, 0, -1};
            std::copy(own, own + 6, gt);
            return true;
        }
        bool Read(const cv::Rect&, cv::Mat&) override { return ++reads < 0; }
        void Close() override {}
    } source;
    auto edge = [](int n, double x0, double y0, double x1, double y1) {
        return SeamSegment{n, Wml::Point2(x0, y0), Wml::Point2(x1, y1)};
    };
    const SeamSegmentLists segments = {
        {edge(1, 0, 20, 10, 20), edge(-1, 10, 20, 10, 10), edge(1, 10, 10, 0, 10)},
        {edge(0, 0, 10, 10, 10), edge(0, 10, 20, 0, 20)}};
    SeamRouter router(SeamlineGrid{0, 20, 1, 1}, 1.0, CCentralImagineryParams(), segments, source, nullptr);
    const cv::Mat a(20, 20, CV_8UC3, cv::Scalar(50, 60, 70)), v(20, 20, CV_8UC1, cv::Scalar(255));
    const double gt[6] = {0, 1, 0, 20, 0, -1};
    std::vector<Wml::Point2> outline0, outline1;
    ASSERT_EQ(router.RouteImage(0, a, v, gt, outline0), 0);
    EXPECT_EQ(source.reads, 2);
    EXPECT_EQ(router.StoredPaths()[0][2], SeamPath({{10, 10}, {0, 10}}));
    ASSERT_EQ(router.RouteImage(1, a, v, gt, outline1), 0);
    EXPECT_EQ(outline1, std::vector<Wml::Point2>({{0, 10}, {10, 10}, {10, 0}, {0, 0}}));
    EXPECT_TRUE(router.StoredPaths()[0][0].empty() && router.StoredPaths()[0][2].empty());
}

TEST(CentralImagery, PenaltyRampValidationAndLimits) {
    cv::Mat original(60, 80, CV_8UC1, cv::Scalar(100)), q;
    original.at<unsigned char>(0, 0) = 254;
    original.at<unsigned char>(59, 79) = 200;
    auto penalised = [&](const CCentralImagineryParams& params) {
        q = original.clone();
        params.AddPenalty(q);
        return q;
    };
    // Switched off, or a divisor below 2 or of 2 exactly (the ramp would end where it starts).
    for (const auto& none : {CCentralImagineryParams(0, 4, 128, 0), CCentralImagineryParams(1, 1.5, 128, 0),
                             CCentralImagineryParams(1, 2, 128, 0)}) {
        EXPECT_EQ(cv::countNonZero(penalised(none) != original), 0);
    }
    // Linear ramp from a quarter of the diagonal (25) to half of it (50), limited to 254.
    const cv::Mat linear = penalised(CCentralImagineryParams(1, 4, 128, 0)).clone();
    EXPECT_EQ(linear.at<unsigned char>(30, 40), 100);
    EXPECT_EQ(linear.at<unsigned char>(0, 0), 254);
    EXPECT_EQ(linear.at<unsigned char>(59, 79), 254);
    EXPECT_EQ(linear.at<unsigned char>(0, 79), 100 + std::rint(128.0 / 25 * (std::hypot(39.0, 30.0) - 25)));
    // Quadratic ramp: nothing at the centre, below the linear one between the ends.
    const cv::Mat quadratic = penalised(CCentralImagineryParams(1, 4, 128, 1));
    EXPECT_EQ(quadratic.at<unsigned char>(30, 40), 100);
    EXPECT_GT(quadratic.at<unsigned char>(30, 5), 100);
    EXPECT_LT(quadratic.at<unsigned char>(30, 5), linear.at<unsigned char>(30, 5));

    EXPECT_FALSE(CCentralImagineryParams(1, 4, 128, 2).IsValid());
    EXPECT_FALSE(CCentralImagineryParams(1, 4, 129, 0).IsValid());
    EXPECT_FALSE(CCentralImagineryParams(1, 4, std::nan(""), 0).IsValid());
    EXPECT_TRUE(CCentralImagineryParams(0, 4, 129, 2).IsValid());
}
