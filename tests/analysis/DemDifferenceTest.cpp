// The difference raster of two DEMs: the cells it holds under a tolerance, its tiles, its overview
// levels, and the DEM pairs it refuses.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <memory>

#include "analysis/DemDifference.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"
#include "support/RasterFixtures.h"
#include "support/TestEnv.h"

namespace {

std::unique_ptr<CDEM> Dem(const QString& path, int width, int height, double left, double top, double cell,
                          const std::function<double(int, int, int)>& value, double cellHeight = 0.0) {
    kvtest::RasterSpec spec;
    spec.width = width;
    spec.height = height;
    spec.geoTransform = {left, cell, 0.0, top, 0.0, cellHeight != 0.0 ? cellHeight : -cell};
    EXPECT_FALSE(kvtest::WriteRaster(path, spec, value).isEmpty());
    return std::unique_ptr<CDEM>(LoadDemFromGeoTiff(path));
}

class DemDifferenceTest : public ::testing::Test {
protected:
    void SetUp() override { m_folder = kvtest::NewTempFolder("difference"); }
    QString m_folder;
};

// A over its own cells, B one column and two rows shifted, with holes in each.
TEST_F(DemDifferenceTest, CellsHoldADifferenceBelowTheToleranceAsZeroAndNoDataWhereEitherHasNone) {
    const auto a = Dem(m_folder + "/a.tif", 40, 30, 1000.0, 2000.0, 0.5, [](int c, int r, int) {
        return c == 5 && r == 5 ? -9999.0 : 100.0 + 0.375 * c - 0.125 * r;
    });
    // B starts one cell right and two cells down: B(c, r) lies on A(c + 1, r + 2).
    const auto b = Dem(m_folder + "/b.tif", 40, 30, 1000.5, 1999.0, 0.5, [](int c, int r, int) {
        if (c == 10 && r == 10) {
            return -9999.0;
        }
        // Differences of exactly 0.4 and 0.5 in two columns, small values elsewhere.
        const double a = 100.0 + 0.375 * (c + 1) - 0.125 * (r + 2);
        return c == 3 ? a - 0.4 : c == 4 ? a - 0.5 : a - 0.013 * r;
    });
    ASSERT_TRUE(a && b);
    const QString out = m_folder + "/diff0.tif";
    const DemDifference zero = ComputeDemDifference(*a, *b, 0.0, out, nullptr);
    ASSERT_EQ(zero.status, DemDifference::Done);
    EXPECT_EQ(zero.grid.columns, 39);
    EXPECT_EQ(zero.grid.rows, 28);
    const auto facts = kvtest::Inspect(out);
    EXPECT_EQ(facts.type, GDT_Float32);
    EXPECT_EQ(facts.blockX, 128);
    EXPECT_EQ(facts.noData, -9999.0);
    EXPECT_EQ(facts.geoTransform[0], 1000.5);
    EXPECT_EQ(facts.geoTransform[3], 1999.0);
    EXPECT_EQ(facts.geoTransform[5], -0.5);
    const std::vector<double> cells = kvtest::ReadBand(out);
    const std::vector<double> av = kvtest::ReadBand(m_folder + "/a.tif");
    const std::vector<double> bv = kvtest::ReadBand(m_folder + "/b.tif");
    float lowest = 1e9f, highest = -1e9f;
    for (int r = 0; r < 28; ++r) {
        for (int c = 0; c < 39; ++c) {
            const double va = av[size_t((r + 2) * 40 + c + 1)];
            const double vb = bv[size_t(r * 40 + c)];
            const double got = cells[size_t(r * 39 + c)];
            if (va == -9999.0 || vb == -9999.0) {
                EXPECT_EQ(got, -9999.0) << c << "," << r;
                continue;
            }
            const float d = float(va) - float(vb);
            EXPECT_EQ(float(got), d) << c << "," << r;
            lowest = std::min(lowest, d);
            highest = std::max(highest, d);
        }
    }
    EXPECT_EQ(zero.minimum, lowest);
    EXPECT_EQ(zero.maximum, highest);

    const DemDifference half = ComputeDemDifference(*a, *b, 0.5, m_folder + "/diff5.tif", nullptr);
    ASSERT_EQ(half.status, DemDifference::Done);
    const std::vector<double> tolerant = kvtest::ReadBand(m_folder + "/diff5.tif");
    for (int r = 0; r < 28; ++r) {
        if (r == 3) {
            continue;  // the hole of A
        }
        EXPECT_EQ(tolerant[size_t(r * 39 + 3)], 0.0) << r;
        EXPECT_EQ(tolerant[size_t(r * 39 + 4)], 0.5) << r;
    }
}

TEST_F(DemDifferenceTest, TilesSharingTheirEdgesGiveTheUntiledDifferenceAndOverviewsFollowTheSize) {
    EXPECT_EQ(DifferenceTileCount(255), 1);
    EXPECT_EQ(DifferenceTileCount(256), 2);
    EXPECT_EQ(DifferenceTileCount(504), 3);
    // 256 columns: a second tile 8 cells wide; 300 rows: two tiles down.
    const auto value = [](int c, int r, int) { return std::sin(c * 0.3) * 50.0 + r * 0.25; };
    const auto a = Dem(m_folder + "/a.tif", 256, 300, 0.0, 300.0, 1.0, value);
    const auto b = Dem(m_folder + "/b.tif", 256, 300, 0.0, 300.0, 1.0,
                       [](int c, int r, int) { return std::cos(r * 0.2) * 20.0 + c * 0.5; });
    ASSERT_TRUE(a && b);
    const QString out = m_folder + "/tiles.tif";
    ASSERT_EQ(ComputeDemDifference(*a, *b, 0.0, out, nullptr).status, DemDifference::Done);
    const std::vector<double> cells = kvtest::ReadBand(out);
    const std::vector<double> av = kvtest::ReadBand(m_folder + "/a.tif");
    const std::vector<double> bv = kvtest::ReadBand(m_folder + "/b.tif");
    ASSERT_EQ(cells.size(), av.size());
    int wrong = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        wrong += float(cells[i]) != float(av[i]) - float(bv[i]);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(kvtest::Inspect(out).overviews, 0);

    const auto wide = Dem(m_folder + "/wide.tif", 1100, 300, 0.0, 300.0, 1.0, nullptr);
    const auto square = Dem(m_folder + "/square.tif", 600, 600, 0.0, 600.0, 1.0, nullptr);
    ASSERT_EQ(ComputeDemDifference(*wide, *wide, 0.0, m_folder + "/w.tif", nullptr).status,
              DemDifference::Done);
    ASSERT_EQ(ComputeDemDifference(*square, *square, 0.0, m_folder + "/s.tif", nullptr).status,
              DemDifference::Done);
    EXPECT_EQ(kvtest::Inspect(m_folder + "/w.tif").overviewWidths, std::vector<int>{550});
    EXPECT_EQ(kvtest::Inspect(m_folder + "/s.tif").overviews, 0);
}

TEST_F(DemDifferenceTest, PairsOfOtherCellSizesOrWithoutCommonCellsAndUnwritableOutputsLeaveNoFile) {
    const auto a = Dem(m_folder + "/a.tif", 20, 20, 0.0, 20.0, 1.0, nullptr);
    const auto coarse = Dem(m_folder + "/coarse.tif", 20, 20, 0.0, 20.0, 1.5, nullptr);
    // The same width but cells 2 m high: rows would be counted with the width.
    const auto tall = Dem(m_folder + "/tall.tif", 20, 20, 0.0, 20.0, 1.0, nullptr, -2.0);
    const auto apart = Dem(m_folder + "/apart.tif", 20, 20, 20.4, 20.0, 1.0, nullptr);
    const auto touching = Dem(m_folder + "/touching.tif", 20, 20, 19.0, 20.0, 1.0, nullptr);
    ASSERT_TRUE(a && coarse && tall && apart && touching);
    EXPECT_EQ(CheckDemPair(*a, *coarse), DemPairCheck::DifferentResolution);
    EXPECT_EQ(CheckDemPair(*a, *tall), DemPairCheck::DifferentResolution);
    EXPECT_EQ(CheckDemPair(*a, *apart), DemPairCheck::NoOverlap);
    DemPairGrid grid;
    EXPECT_EQ(CheckDemPair(*a, *touching, &grid), DemPairCheck::Ok);
    EXPECT_EQ(grid.columns, 1);

    const QString out = m_folder + "/out.tif";
    EXPECT_EQ(ComputeDemDifference(*a, *coarse, 0, out, nullptr).status, DemDifference::DifferentResolution);
    EXPECT_EQ(ComputeDemDifference(*a, *apart, 0, out, nullptr).status, DemDifference::NoOverlap);
    EXPECT_EQ(ComputeDemDifference(*a, *a, 0, m_folder + "/missing/out.tif", nullptr).status,
              DemDifference::CannotCreate);
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_FALSE(QFileInfo::exists(m_folder + "/missing"));
}

}  // namespace
