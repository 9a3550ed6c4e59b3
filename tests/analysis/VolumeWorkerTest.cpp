// The volume worker on DEMs whose volumes are known, on the real Olinda DEM against a plain
// sample-by-sample reading of the rule, and on areas that are thin, half off the DEM or far larger.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "AnalysisTestSupport.h"
#include "analysis/CellSampling.h"
#include "analysis/VolumeWorker.h"
#include "platform/geometry/Pgon.h"
#include "platform/tools/ProgressSink.h"
#include "raster/RasterIO.h"

namespace {

using Points = std::vector<Wml::Point3>;

// Records every position; sets the abort flag once the position passes abortAt.
class RecordingSink : public ProgressSink {
public:
    void SetRange(int, int) override {}
    void SetPos(int pos) override {
        positions.push_back(pos);
        if (abortFlag && pos > abortAt) {
            *abortFlag = 1;
        }
    }
    std::vector<int> positions;
    int* abortFlag = nullptr;
    int abortAt = 100;
};

// Pixel width 1 (samples 1/3 apart), origin (0, 100), 100 x 100 cells.
const std::array<double, 6> kUnitCells = {0.0, 1.0, 0.0, 100.0, 0.0, -1.0};
// Pixel width 3 (samples on whole coordinates), origin (0, 150), 50 x 50 cells.
const std::array<double, 6> kThreeUnitCells = {0.0, 3.0, 0.0, 150.0, 0.0, -3.0};

TEST(VolumeWorkerTest, FlatDemCountsEverySampleOfTheSquareAndNothingAtTheTerrainsOwnHeight) {
    auto dem = atest::GridDem(100, 100, kUnitCells, [](int, int) { return 100.0; });
    const Points square = {{20, 20, 0}, {50, 20, 0}, {50, 50, 0}, {20, 50, 0}};

    const AoiVolumes below = ComputeAoiVolumes(*dem, square, 90.0);
    // 91 x 91 samples, each worth 1/9 of a square unit, 10 units above the reference.
    EXPECT_EQ(below.samples, 8281);
    ASSERT_TRUE(below.overReference && below.underReference && below.overPlane && below.underPlane);
    EXPECT_NEAR(*below.overReference, 9201.111, 5e-4);
    EXPECT_EQ(*below.underReference, 0.0);
    EXPECT_EQ(*below.overPlane, 0.0);
    EXPECT_EQ(*below.underPlane, 0.0);
    EXPECT_EQ(below.reference, 90.0);
    EXPECT_EQ(below.verticesMinimum, 100.0);
    EXPECT_EQ(below.aoiMinimum, 100.0);

    // The terrain's own height adds nothing on either side, given or taken from the vertices.
    for (double reference : {100.0, kUnsetReference}) {
        const AoiVolumes level = ComputeAoiVolumes(*dem, square, reference);
        EXPECT_EQ(level.reference, 100.0);
        EXPECT_EQ(*level.overReference, 0.0);
        EXPECT_EQ(*level.underReference, 0.0);
    }
}

TEST(VolumeWorkerTest, AnAreaHalfOffTheDemSkipsTheSamplesAndVerticesOffIt) {
    // Heights rise one unit per unit eastwards, each cell's at its centre: z = 98.5 + x.
    auto dem = atest::GridDem(50, 50, kThreeUnitCells, [](int c, int) { return 100.0 + 3.0 * c; });
    // Two vertices west of the DEM, three on it at cell centres.
    const Points pentagon = {
        {-30, 31.5, 0}, {61.5, 31.5, 0}, {76.5, 61.5, 0}, {61.5, 91.5, 0}, {-30, 91.5, 0}};
    const AoiVolumes volumes = ComputeAoiVolumes(*dem, pentagon, 150.0);

    // Samples on whole x from x = 0 to the eastern outline, outline included.
    long long expected = 0;
    for (int j = 0; j <= 60; ++j) {
        const double y = 31.5 + j;
        const double east = y <= 61.5 ? 61.5 + (y - 31.5) / 2.0 : 76.5 - (y - 61.5) / 2.0;
        expected += static_cast<long long>(std::floor(east)) + 1;
    }
    EXPECT_EQ(volumes.samples, expected);
    EXPECT_EQ(volumes.verticesMinimum, 160.0);
    // The western border cell's outer half carries the slope on to the DEM's edge.
    ASSERT_TRUE(volumes.aoiMinimum);
    EXPECT_NEAR(*volumes.aoiMinimum, 98.5, 1e-9);
    // The plane through the three vertices on data is the terrain itself.
    ASSERT_TRUE(volumes.overPlane && volumes.underPlane);
    EXPECT_NEAR(*volumes.overPlane, 0.0, 1e-6);
    EXPECT_NEAR(*volumes.underPlane, 0.0, 1e-6);
    ASSERT_TRUE(volumes.overReference && volumes.underReference);
    EXPECT_GT(*volumes.overReference, 0.0);
    EXPECT_GT(*volumes.underReference, 0.0);

    // With only two vertices on data no plane is fitted.
    const Points rectangle = {{-30, 31.5, 0}, {61.5, 31.5, 0}, {61.5, 91.5, 0}, {-30, 91.5, 0}};
    const AoiVolumes noPlane = ComputeAoiVolumes(*dem, rectangle, 150.0);
    EXPECT_FALSE(noPlane.overPlane.has_value());
    EXPECT_FALSE(noPlane.underPlane.has_value());
    EXPECT_EQ(noPlane.samples, 62 * 61);
}

// A DEM holding a tilted plane at its cell centres: every sample's elevation is the plane's, so the
// volumes are the lattice's sums of the plane in closed form, out to the DEM's edges.
TEST(VolumeWorkerTest, OverATiltedPlaneTheVolumesAreThePlanesOwnSums) {
    const double a = 0.25, b = -0.125, c = 40.0;
    const auto plane = [&](double x, double y) { return a * x + b * y + c; };
    auto dem = atest::GridDem(100, 100, kUnitCells,
                              [&](int col, int row) { return plane(col + 0.5, 100.0 - (row + 0.5)); });
    const double g = 1.0 / 3.0;
    // One rectangle inside the DEM, one covering it out to its edges.
    for (const auto& [x0, y0, n, m] : {std::tuple(20.0, 30.0, 90, 120), std::tuple(0.0, 0.0, 300, 300)}) {
        SCOPED_TRACE(x0);
        const double x1 = x0 + n * g, y1 = y0 + m * g;
        const Points box = {{x0, y0, 0}, {x1, y0, 0}, {x1, y1, 0}, {x0, y1, 0}};
        const double reference = 0.0;  // below the whole plane
        const AoiVolumes v = ComputeAoiVolumes(*dem, box, reference);
        // The lattice's samples on the DEM: x in [0, 100), y in (0, 100].
        long double sum = 0.0L;
        long long count = 0;
        for (int j = 0; j <= m; ++j) {
            const double y = y0 + double(j) * g;
            for (int i = 0; i <= n && y > 0.0 && y <= 100.0; ++i) {
                const double x = x0 + double(i) * g;
                if (x >= 0.0 && x < 100.0) {
                    sum += plane(x, y) - reference;
                    ++count;
                }
            }
        }
        EXPECT_EQ(v.samples, count);
        ASSERT_TRUE(v.overReference);
        EXPECT_NEAR(*v.overReference, double(sum) * g * g, 1e-6 * double(sum) * g * g);
        EXPECT_EQ(*v.underReference, 0.0);
    }
}

TEST(VolumeWorkerTest, ACollinearAreaMeasuresNothingAndKeepsTheProgressInRange) {
    auto dem = atest::GridDem(100, 100, kUnitCells, [](int, int) { return 100.0; });
    RecordingSink sink;
    const AoiVolumes volumes = ComputeAoiVolumes(*dem, {{10, 10, 0}, {20, 20, 0}, {30, 30, 0}}, 90.0, &sink);
    EXPECT_EQ(volumes.samples, 0);
    ASSERT_TRUE(volumes.overReference && volumes.underReference);
    EXPECT_EQ(*volumes.overReference, 0.0);
    EXPECT_EQ(*volumes.underReference, 0.0);
    EXPECT_FALSE(volumes.overPlane.has_value());
    EXPECT_FALSE(volumes.aoiMinimum.has_value());
    for (int pos : sink.positions) {
        EXPECT_GE(pos, 0);
        EXPECT_LE(pos, 100);
    }
    // Fewer than three vertices measure nothing at all.
    const AoiVolumes two = ComputeAoiVolumes(*dem, {{10, 10, 0}, {20, 20, 0}}, 90.0);
    EXPECT_FALSE(two.overReference.has_value());
    EXPECT_FALSE(two.verticesMinimum.has_value());
}

// The rule read plainly: every lattice sample tested against the polygon and interpolated between
// the cell centres of the window, its volume added at once.
AoiVolumes PlainVolumes(CDEM& dem, const Points& aoi, double reference) {
    const double* gt = dem.m_geoTransform;
    std::vector<Wml::Point2> outline;
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    double minPx = 1e300, maxPx = -1e300, minPy = 1e300, maxPy = -1e300;
    for (const Wml::Point3& v : aoi) {
        outline.emplace_back(v.X(), v.Y());
        minX = std::min(minX, v.X()), maxX = std::max(maxX, v.X());
        minY = std::min(minY, v.Y()), maxY = std::max(maxY, v.Y());
        minPx = std::min(minPx, (v.X() - gt[0]) / gt[1]), maxPx = std::max(maxPx, (v.X() - gt[0]) / gt[1]);
        minPy = std::min(minPy, (v.Y() - gt[3]) / gt[5]), maxPy = std::max(maxPy, (v.Y() - gt[3]) / gt[5]);
    }
    const CPgon polygon(outline.data(), int(outline.size()));
    const int left = std::max(int(minPx) - 10, 0), top = std::max(int(minPy) - 10, 0);
    const int right = std::min(int(maxPx) + 10, dem.Width()),
              bottom = std::min(int(maxPy) + 10, dem.Height());
    const cv::Rect window(left, top, right - left, bottom - top);
    const cv::Mat image = dem.CreateRegionImage(&window, window.size());
    const double x0 = gt[0] + left * gt[1], y0 = gt[3] + top * gt[5];
    const double g = gt[1] / 3.0;
    AoiVolumes plain;
    plain.overReference = 0.0;
    plain.underReference = 0.0;
    for (long long j = 0; minY + double(j) * g <= maxY; ++j) {
        const double y = minY + double(j) * g;
        for (long long k = 0; minX + double(k) * g <= maxX; ++k) {
            const double x = minX + double(k) * g;
            if (!polygon.PtInPolygon(x, y)) {
                continue;
            }
            const double z = SampleAtCellCentres(image, (x - x0) / gt[1], (y - y0) / gt[5]);
            if (z == kNoData) {
                continue;
            }
            ++plain.samples;
            const double d = z - reference;
            *(d > 0.0 ? &*plain.overReference : &*plain.underReference) += g * g * std::fabs(d);
        }
    }
    return plain;
}

TEST(VolumeWorkerTest, OnTheOlindaDemTheWorkerGivesThePlainRulesVolumesWithTheSameBitsEveryRun) {
    std::unique_ptr<CDEM> dem(LoadDemFromGeoTiff(atest::OlindaCopy("olinda_volume")));
    ASSERT_TRUE(dem);
    const double* gt = dem->m_geoTransform;
    auto at = [gt](double c, double r) { return Wml::Point3(gt[0] + c * gt[1], gt[3] + r * gt[5], 0.0); };
    // A concave outline whose eastern part runs off the DEM.
    const Points aoi = {at(10.3, 12.7), at(60.2, 5.1),  at(130.0, 40.4),
                        at(70.5, 50.5), at(95.1, 98.2), at(20.9, 80.3)};
    const AoiVolumes plain = PlainVolumes(*dem, aoi, 20.0);
    const AoiVolumes first = ComputeAoiVolumes(*dem, aoi, 20.0);
    ASSERT_GT(plain.samples, 30000);
    EXPECT_EQ(first.samples, plain.samples);
    EXPECT_NEAR(*first.overReference, *plain.overReference, 1e-9 * *plain.overReference);
    EXPECT_NEAR(*first.underReference, *plain.underReference, 1e-9 * *plain.underReference);

    dem->LoadData();  // from the grid in memory now, not from the file
    const AoiVolumes second = ComputeAoiVolumes(*dem, aoi, 20.0);
    EXPECT_EQ(second.samples, first.samples);
    EXPECT_EQ(*second.overReference, *first.overReference);
    EXPECT_EQ(*second.underReference, *first.underReference);
    EXPECT_EQ(*second.overPlane, *first.overPlane);
    EXPECT_EQ(*second.underPlane, *first.underPlane);
}

TEST(VolumeWorkerTest, AnAreaFarLargerThanTheDemSamplesOnlyTheDemAndAnAbortStopsTheRun) {
    auto dem = atest::GridDem(50, 50, kThreeUnitCells, [](int c, int r) { return 100.0 + c + r; });
    const Points huge = {{-1e7, -1e7, 0}, {1e7, -1e7, 0}, {1e7, 1e7, 0}, {-1e7, 1e7, 0}};
    const AoiVolumes all = ComputeAoiVolumes(*dem, huge, 0.0);
    // Whole coordinates x in [0, 150) and y in (0, 150] lie on the DEM.
    EXPECT_EQ(all.samples, 150 * 150);
    EXPECT_FALSE(all.aborted);

    int abort = 0;
    RecordingSink sink;
    sink.abortFlag = &abort;
    sink.abortAt = 0;
    auto big = atest::GridDem(2000, 2000, kUnitCells, [](int, int) { return 100.0; });
    const Points square = {{10, -1800, 0}, {1900, -1800, 0}, {1900, 90, 0}, {10, 90, 0}};
    const AoiVolumes stopped = ComputeAoiVolumes(*big, square, 90.0, &sink, &abort);
    EXPECT_TRUE(stopped.aborted);
    EXPECT_GT(stopped.samples, 0);
    EXPECT_LT(stopped.samples, 5671LL * 5671LL / 2);
}

}  // namespace
