// Seams routed through the overlap of two images: on the Landsat pair the seam keeps to the overlap
// and both regions share it; the cost image, its shaping and the search's fallbacks; the hand-over
// of a routed seam to the later image; the central-imagery penalty, its validation and abort.
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

std::vector<Wml::Point2> Points(const SeamPath& path) {
    std::vector<Wml::Point2> points;
    for (const cv::Point2f& p : path) {
        points.emplace_back(p.x, p.y);
    }
    return points;
}

// The Landsat pair as the orthophoto builder sees it at s = 1: its seam polygons and segments,
// both images read and masked, and the router over the two rasters.
class LandsatRouting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetMaskContourJitterSeed(25);
        s_pair = new mtest::LandsatPair(kvtest::NewTempFolder("routing_pair"));
        kvtest::ScriptedInteraction ui;
        s_doc = new CKelvaroDoc;
        ASSERT_EQ(s_doc->AddOrtho(s_pair->paths[0], 0, 0), 1);
        ASSERT_EQ(s_doc->AddOrtho(s_pair->paths[1], 0, 0), 1);
        const std::vector<COrtho*> images = {s_doc->m_Orthos.at("scene_a.tif"), s_doc->m_Orthos.at("scene_b.tif")};
        std::vector<CPgon> polygons;
        int64_t largest = 0, median = 0;
        ASSERT_TRUE(BuildVoronoiSeamPolygons(images, polygons, largest, median, nullptr));
        s_segments = new SeamSegmentLists;
        SeamVertexImageLists vertices;
        ASSERT_EQ(CollectVertexImages(polygons, BuildSeamVertexIndex(polygons), kPixel, s_segments, &vertices,
                                      nullptr),
                  1);
    }
    static void TearDownTestSuite() {
        delete s_segments;
        delete s_doc;
        delete s_pair;
        SetMaskContourJitterSeed(-1);
    }

    void SetUp() override {
        grid.minX = s_pair->geoTransforms[0][0];
        grid.maxY = s_pair->geoTransforms[0][3];
        grid.pixelSize = kPixel;
        grid.scale = 1;
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(ReadOrthoSeamImage(s_pair->paths[i], 1, images[i], geoTransforms[i]), 1);
            cv::dilate(SeamValidMask(images[i]), valid[i], cv::Mat::ones(3, 3, CV_8U));
        }
    }

    std::unique_ptr<SeamRouter> Router(const SeamSegmentLists& segments, SeamImageSource& source,
                                       CCentralImagineryParams central = CCentralImagineryParams(0, 4, 128, 0)) {
        return std::make_unique<SeamRouter>(grid, kPixel, central, segments, source, &abortFlag);
    }

    // The index of image 0's segment shared with image 1.
    static int SharedSegment() {
        const auto& list = (*s_segments)[0];
        return int(std::find_if(list.begin(), list.end(), [](const SeamSegment& s) { return s.neighbour == 1; }) -
                   list.begin());
    }

    static constexpr double kPixel = mtest::LandsatPair::kPixel;
    static mtest::LandsatPair* s_pair;
    static CKelvaroDoc* s_doc;
    static SeamSegmentLists* s_segments;
    SeamlineGrid grid;
    cv::Mat images[2], valid[2];
    double geoTransforms[2][6];
    int abortFlag = 0;
};

mtest::LandsatPair* LandsatRouting::s_pair = nullptr;
CKelvaroDoc* LandsatRouting::s_doc = nullptr;
SeamSegmentLists* LandsatRouting::s_segments = nullptr;

}  // namespace

TEST_F(LandsatRouting, SeamKeepsToTheOverlapAndBothRegionsShareIt) {
    OrthoSeamImageSource source({s_pair->paths[0], s_pair->paths[1]});
    auto router = Router(*s_segments, source);
    std::vector<Wml::Point2> outline0, outline1;
    ASSERT_EQ(router->RouteImage(0, images[0], valid[0], geoTransforms[0], outline0), 0);
    const int shared = SharedSegment();
    const SeamPath seam = router->StoredPaths()[0][size_t(shared)];
    ASSERT_GE(seam.size(), 3u);

    // The overlap as the router saw it (image 0 lies at the grid's origin, so its pixels are grid
    // cells), grown by one cell for the simplification's tolerance.
    double gtB[6];
    ASSERT_TRUE(source.Open(1, gtB));
    cv::Mat b(images[0].size(), CV_8UC3), overlap, cost;
    ASSERT_TRUE(source.Read(cv::Rect(-130, 0, 220, 352), b));
    source.Close();
    BuildSeamOverlapCost(images[0], b, overlap, cost);
    cv::dilate(overlap, overlap, cv::Mat::ones(3, 3, CV_8U));

    // The ends are the bisector's ends clamped onto image 0 (its last row is 351, not 352).
    const cv::Point2f first = seam.front(), last = seam.back();
    EXPECT_EQ(std::min(first.y, last.y), 0.f);
    EXPECT_EQ(std::max(first.y, last.y), 351.f);
    EXPECT_EQ(first.x, last.x);
    EXPECT_NEAR(first.x, 174.75, 1.0);
    for (size_t i = 0; i + 1 < seam.size(); ++i) {
        for (double t = 0; t <= 1.0; t += 0.05) {
            const cv::Point2f q = seam[i] + (seam[i + 1] - seam[i]) * float(t);
            if (std::hypot(q.x - first.x, q.y - first.y) <= 9 || std::hypot(q.x - last.x, q.y - last.y) <= 9) {
                continue;  // the end circles reach outside the overlap
            }
            ASSERT_EQ(overlap.at<unsigned char>(int(std::lround(q.y)), int(std::lround(q.x))), 255)
                << "seam point (" << q.x << ", " << q.y << ")";
        }
    }
    // A routed seam, not the straight segment: it leaves the bisector somewhere.
    EXPECT_TRUE(std::any_of(seam.begin(), seam.end(), [&](const cv::Point2f& q) { return std::fabs(q.x - first.x) > 2; }));

    // Image 1 takes the same seam, reversed, and nothing is left stored.
    ASSERT_EQ(router->RouteImage(1, images[1], valid[1], geoTransforms[1], outline1), 0);
    std::vector<Wml::Point2> reversed = Points(seam);
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_NE(std::search(outline1.begin(), outline1.end(), reversed.begin(), reversed.end()), outline1.end());
    const std::vector<Wml::Point2> forward = Points(seam);
    EXPECT_NE(std::search(outline0.begin(), outline0.end(), forward.begin(), forward.end()), outline0.end());
    for (const auto& paths : router->StoredPaths()) {
        for (const SeamPath& path : paths) {
            EXPECT_TRUE(path.empty());
        }
    }
    // Image 1's outline lies in its own part of the grid: its vertices are grid points of the
    // pair's extent.
    for (const Wml::Point2& p : outline1) {
        EXPECT_GE(p.X(), 130 - 1e-9);
        EXPECT_LE(p.X(), 349 + 1e-9);
    }
}

TEST_F(LandsatRouting, EndPointsOutsideTheImageAreClampedOntoItsBorder) {
    OrthoSeamImageSource source({s_pair->paths[0], s_pair->paths[1]});
    const double* gt = geoTransforms[0];
    SeamSegmentLists segments(2);
    SeamSegment across;
    across.neighbour = 1;
    across.start = Wml::Point2(gt[0] - 5000, gt[3] + 5000);
    across.end = Wml::Point2(gt[0] + 400 * gt[1], gt[3] + 400 * gt[5]);
    segments[0] = {across};
    auto router = Router(segments, source);
    std::vector<Wml::Point2> outline;
    ASSERT_EQ(router->RouteImage(0, images[0], valid[0], gt, outline), 0);
    const SeamPath& seam = router->StoredPaths()[0][0];
    ASSERT_GE(seam.size(), 2u);
    EXPECT_EQ(seam.front(), cv::Point2f(0, 0));
    EXPECT_EQ(seam.back(), cv::Point2f(219, 351));

    // Both ends beyond the same corner meet in one cell: no search, the seam is that cell.
    across.end = Wml::Point2(gt[0] - 3000, gt[3] + 7000);
    segments[0] = {across};
    auto same = Router(segments, source);
    outline.clear();
    ASSERT_EQ(same->RouteImage(0, images[0], valid[0], gt, outline), 0);
    ASSERT_FALSE(same->StoredPaths()[0][0].empty());
    for (const cv::Point2f& q : same->StoredPaths()[0][0]) {
        EXPECT_EQ(q, cv::Point2f(0, 0));
    }
    EXPECT_EQ(outline.size(), same->StoredPaths()[0][0].size());
}

TEST_F(LandsatRouting, CostOfIdenticalImagesIsTheirDarknessInTheThirdChannel) {
    cv::Mat overlap, cost;
    BuildSeamOverlapCost(images[0], images[0], overlap, cost);
    int inside = 0;
    for (int y = 0; y < cost.rows; ++y) {
        for (int x = 0; x < cost.cols; ++x) {
            const cv::Vec3b& c = images[0].at<cv::Vec3b>(y, x);
            const bool data = c[0] || c[1] || c[2];
            inside += data;
            ASSERT_EQ(overlap.at<unsigned char>(y, x), data ? 255 : 0);
            ASSERT_EQ(cost.at<unsigned char>(y, x), data ? int(0.3 * c[2]) : 254) << x << ", " << y;
        }
    }
    EXPECT_GT(inside, 200 * 300);

    // Colour differences weigh in, the third channel three times.
    cv::Mat a(1, 2, CV_8UC3, cv::Scalar(100, 100, 100)), b = a.clone(), o, q;
    b.at<cv::Vec3b>(0, 0) = cv::Vec3b(100, 100, 110);  // third channel +10
    b.at<cv::Vec3b>(0, 1) = cv::Vec3b(110, 100, 100);  // first channel +10
    BuildSeamOverlapCost(a, b, o, q);
    EXPECT_EQ(q.at<unsigned char>(0, 0), int(0.3 * 110) + int(30.0 / 5 * 0.5));
    EXPECT_EQ(q.at<unsigned char>(0, 1), 30 + 1);
}

TEST(SeamCost, CorridorAndEndCirclesShapeTheCost) {
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 4).halfWidth, 16);
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 4).slope, 4);
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 1).halfWidth, 64);
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 1).slope, 1);
    EXPECT_EQ(SeamCorridorFor(28.5, 28.5, 2).slope, 2);

    // Along a horizontal axis from (20, 60) to (100, 60), half-width 16.
    cv::Mat cost(120, 140, CV_8UC1, cv::Scalar(10));
    cost.at<unsigned char>(60, 130) = 254;  // outside the overlap, beyond the end
    const SeamCorridor corridor{16, 4};
    ShapeSeamCost(cost, cv::Point(20, 60), cv::Point(100, 60), corridor);
    EXPECT_EQ(cost.at<unsigned char>(60, 20), 64);
    EXPECT_EQ(cost.at<unsigned char>(66, 100), 64);
    EXPECT_EQ(cost.at<unsigned char>(60, 17), 255);   // more than two cells before the start
    EXPECT_EQ(cost.at<unsigned char>(60, 18), 64);    // inside the circle, two cells before
    EXPECT_EQ(cost.at<unsigned char>(60, 103), 255);
    EXPECT_EQ(cost.at<unsigned char>(60, 130), 254);  // stays passable
    EXPECT_EQ(cost.at<unsigned char>(60 + 16, 50), 10);
    EXPECT_EQ(cost.at<unsigned char>(60 + 19, 50), 10 + 3 * 4);
    EXPECT_EQ(cost.at<unsigned char>(0, 50), std::min(254, 10 + (60 - 16) * 4));
}

TEST(SeamCost, SearchFollowsCheapCellsAndFallsBackToTheTwoEnds) {
    cv::Mat cost(40, 40, CV_8UC1, cv::Scalar(200));
    cv::line(cost, cv::Point(5, 5), cv::Point(20, 30), cv::Scalar(0), 1, cv::LINE_8);
    cv::line(cost, cv::Point(20, 30), cv::Point(35, 5), cv::Scalar(0), 1, cv::LINE_8);
    std::vector<cv::Point2f> seam;
    ASSERT_EQ(SearchSeam(cost, cv::Point(5, 5), cv::Point(35, 5), cv::Point2f(100, 50), nullptr, seam), 1);
    // The cheap V, simplified to its three corners and shifted by the offset.
    ASSERT_EQ(seam.size(), 3u);
    EXPECT_EQ(seam[0], cv::Point2f(105, 55));
    EXPECT_EQ(seam[1], cv::Point2f(120, 80));
    EXPECT_EQ(seam[2], cv::Point2f(135, 55));

    // A goal walled in on every side: the seam is the straight line between the two ends.
    cv::rectangle(cost, cv::Rect(33, 3, 5, 5), cv::Scalar(255), 1);
    ASSERT_EQ(SearchSeam(cost, cv::Point(5, 5), cv::Point(35, 5), cv::Point2f(100, 50), nullptr, seam), 1);
    EXPECT_EQ(seam, std::vector<cv::Point2f>({{105, 55}, {135, 55}}));

    const int abort = 1;
    EXPECT_EQ(SearchSeam(cost, cv::Point(5, 5), cv::Point(35, 5), cv::Point2f(0, 0), &abort, seam), -3);
}

// Two shared edges between the same two images: each edge of the later image takes the seam of
// the earlier image's edge with the same two ends, not the first edge that names it.
TEST(SeamHandOver, LaterImageTakesTheSeamOfTheEdgeWithTheSameEnds) {
    mtest::MemoryImageSource source;
    source.images.resize(2);
    for (auto& image : source.images) {
        image.pixels = cv::Mat(20, 20, CV_8UC3, cv::Scalar(50, 60, 70));
        const double gt[6] = {0, 1, 0, 20, 0, -1};
        std::copy(gt, gt + 6, image.geoTransform);
    }
    source.failReads = true;  // every routed edge falls back to its straight segment
    SeamSegmentLists segments(2);
    auto edge = [](int n, double x0, double y0, double x1, double y1) {
        SeamSegment s;
        s.neighbour = n;
        s.start = Wml::Point2(x0, y0);
        s.end = Wml::Point2(x1, y1);
        return s;
    };
    segments[0] = {edge(1, 0, 20, 10, 20), edge(-1, 10, 20, 10, 10), edge(1, 10, 10, 0, 10)};
    segments[1] = {edge(0, 0, 10, 10, 10), edge(0, 10, 20, 0, 20)};
    SeamlineGrid grid;
    grid.maxY = 20;
    SeamRouter router(grid, 1.0, CCentralImagineryParams(), segments, source, nullptr);
    const cv::Mat a = source.images[0].pixels, v(20, 20, CV_8UC1, cv::Scalar(255));
    std::vector<Wml::Point2> outline0, outline1;
    ASSERT_EQ(router.RouteImage(0, a, v, source.images[0].geoTransform, outline0), 0);
    EXPECT_EQ(source.reads, 2);
    EXPECT_EQ(router.StoredPaths()[0][0], SeamPath({{0, 0}, {10, 0}}));
    EXPECT_EQ(router.StoredPaths()[0][2], SeamPath({{10, 10}, {0, 10}}));

    ASSERT_EQ(router.RouteImage(1, a, v, source.images[1].geoTransform, outline1), 0);
    EXPECT_EQ(outline1, std::vector<Wml::Point2>({{0, 10}, {10, 10}, {10, 0}, {0, 0}}));
    EXPECT_TRUE(router.StoredPaths()[0][0].empty());
    EXPECT_TRUE(router.StoredPaths()[0][2].empty());
}

TEST(CentralImagery, PenaltyRampValidationAndLimits) {
    cv::Mat original(60, 80, CV_8UC1, cv::Scalar(100));
    original.at<unsigned char>(0, 0) = 254;
    original.at<unsigned char>(59, 79) = 200;

    cv::Mat q = original.clone();
    CCentralImagineryParams(0, 4.0, 128.0, 0).AddPenalty(q);
    EXPECT_EQ(cv::countNonZero(q != original), 0);

    // Linear ramp from a quarter of the diagonal (25) to half of it (50): nothing inside the
    // radius, rising to the maximum at the corners, 254 at most.
    q = original.clone();
    CCentralImagineryParams linear(1, 4.0, 128.0, 0);
    ASSERT_TRUE(linear.IsValid());
    linear.AddPenalty(q);
    EXPECT_EQ(q.at<unsigned char>(30, 40), 100);
    EXPECT_EQ(q.at<unsigned char>(0, 0), 254);
    EXPECT_EQ(q.at<unsigned char>(59, 79), 254);
    EXPECT_EQ(q.at<unsigned char>(0, 79), 100 + std::rint(128.0 / 25 * (std::hypot(39.0, 30.0) - 25)));
    double maxValue = 0;
    cv::minMaxLoc(q, nullptr, &maxValue);
    EXPECT_EQ(maxValue, 254);

    // Quadratic ramp: below the linear one between its ends, never above the maximum.
    cv::Mat quad = original.clone();
    CCentralImagineryParams(1, 4.0, 128.0, 1).AddPenalty(quad);
    EXPECT_EQ(quad.at<unsigned char>(30, 40), 100);
    EXPECT_LT(quad.at<unsigned char>(30, 5), q.at<unsigned char>(30, 5));
    EXPECT_GT(quad.at<unsigned char>(30, 5), 100);
    EXPECT_LE(quad.at<unsigned char>(0, 79), 100 + 128);

    // No ramp: a divisor below 2, or of 2 exactly (the ramp would start where it ends).
    for (double divisor : {1.5, 2.0}) {
        q = original.clone();
        CCentralImagineryParams(1, divisor, 128.0, 0).AddPenalty(q);
        EXPECT_EQ(cv::countNonZero(q != original), 0) << divisor;
    }
    EXPECT_FALSE(CCentralImagineryParams(1, 4.0, 128.0, 2).IsValid());
    EXPECT_FALSE(CCentralImagineryParams(1, 4.0, 129.0, 0).IsValid());
    EXPECT_FALSE(CCentralImagineryParams(1, 4.0, 0.5, 0).IsValid());
    EXPECT_FALSE(CCentralImagineryParams(1, 4.0, std::nan(""), 0).IsValid());
    EXPECT_TRUE(CCentralImagineryParams(0, 4.0, 129.0, 2).IsValid());
}

TEST_F(LandsatRouting, InvalidCentralImageryFailsAndAbortStops) {
    OrthoSeamImageSource source({s_pair->paths[0], s_pair->paths[1]});
    std::vector<Wml::Point2> outline;
    for (const CCentralImagineryParams& bad : {CCentralImagineryParams(1, 4, 128, 2), CCentralImagineryParams(1, 4, 129, 0)}) {
        auto router = Router(*s_segments, source, bad);
        EXPECT_EQ(router->RouteImage(0, images[0], valid[0], geoTransforms[0], outline), -2);
    }
    abortFlag = 1;
    auto router = Router(*s_segments, source);
    EXPECT_EQ(router->RouteImage(0, images[0], valid[0], geoTransforms[0], outline), -3);
}
