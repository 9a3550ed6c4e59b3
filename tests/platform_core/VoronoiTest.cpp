#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "platform/geometry/Voronoi.h"

namespace {

// A point type of the kind callers pass: indexed access and an (x, y) constructor.
struct Pt {
    Pt(double x, double y) : v{x, y} {}
    double operator[](int i) const { return v[i]; }
    double v[2];
};

double Area(const std::vector<Pt>& poly) {
    double a = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const Pt& p = poly[i];
        const Pt& q = poly[(i + 1) % poly.size()];
        a += p[0] * q[1] - q[0] * p[1];
    }
    return a / 2;
}

double Dist2(const Pt& a, const Pt& b) {
    return (a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]);
}

// Every cell is counter-clockwise, its vertices are at least as near to its own site as to any
// other, and the cells cover the box without overlap (their areas add up to the box's).
void ExpectPartition(const std::vector<Pt>& sites, const VoronoiBox& box,
                     const std::vector<std::vector<Pt>>& cells) {
    ASSERT_EQ(cells.size(), sites.size());
    const double scale = std::hypot(box[1] - box[0], box[3] - box[2]);
    double total = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].empty()) {
            continue;
        }
        EXPECT_GT(Area(cells[i]), 0) << "cell " << i;
        total += Area(cells[i]);
        for (const Pt& v : cells[i]) {
            EXPECT_GE(v[0], box[0] - 1e-9 * scale);
            EXPECT_LE(v[0], box[1] + 1e-9 * scale);
            for (const Pt& other : sites) {
                EXPECT_LE(std::sqrt(Dist2(v, sites[i])), std::sqrt(Dist2(v, other)) + 1e-7 * scale);
            }
        }
    }
    EXPECT_NEAR(total, (box[1] - box[0]) * (box[3] - box[2]), 1e-9 * scale * scale);
}

}  // namespace

TEST(Voronoi, TwoSitesSplitTheBoxAtTheirBisector) {
    std::vector<std::vector<Pt>> cells;
    VoronoiBox box = {0, 10, 0, 4};
    ASSERT_NE(BuildVoronoiDiagram_2(std::vector<Pt>{{8, 2}, {2, 2}}, box, cells), 0);
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_DOUBLE_EQ(Area(cells[0]), 20.0);  // x from 5 to 10: cell k belongs to site k
    EXPECT_DOUBLE_EQ(Area(cells[1]), 20.0);
    for (const Pt& v : cells[0]) {
        EXPECT_GE(v[0], 5.0);
    }
    EXPECT_EQ(cells[0].size(), 4u);
}

TEST(Voronoi, RandomSitesInMapCoordinatesPartitionTheBox) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> ux(552000, 556000), uy(9112000, 9115000);
    for (int trial = 0; trial < 5; ++trial) {
        std::vector<Pt> sites;
        for (int i = 0; i < 25; ++i) {
            sites.emplace_back(ux(rng), uy(rng));
        }
        VoronoiBox box = {552000, 556000, 9112000, 9115000};
        std::vector<std::vector<Pt>> cells;
        ASSERT_NE(BuildVoronoiDiagram_2(sites, box, cells), 0);
        ExpectPartition(sites, box, cells);
        for (const auto& cell : cells) {
            EXPECT_FALSE(cell.empty());  // every site inside the box owns some of it
        }
    }
}

TEST(Voronoi, DuplicateOutsideAndInvalidSitesKeepTheCellsAPartition) {
    VoronoiBox box = {0, 100, 0, 100};
    // The first of two coinciding sites owns the cell, the second gets an empty one.
    std::vector<Pt> sites = {{25, 50}, {75, 50}, {25, 50}};
    std::vector<std::vector<Pt>> cells;
    ASSERT_NE(BuildVoronoiDiagram_2(sites, box, cells), 0);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_DOUBLE_EQ(Area(cells[0]), 5000.0);
    EXPECT_TRUE(cells[2].empty());
    ExpectPartition(sites, box, cells);

    // A site outside the box gets the part of the box nearest to it, or nothing.
    sites = {{50, 50}, {150, 50}, {-500, 50}};
    ASSERT_NE(BuildVoronoiDiagram_2(sites, box, cells), 0);
    EXPECT_TRUE(cells[1].empty());  // its bisector with the first site is the box's edge
    EXPECT_TRUE(cells[2].empty());
    EXPECT_DOUBLE_EQ(Area(cells[0]), 10000.0);
    sites = {{50, 50}, {120, 50}};
    ASSERT_NE(BuildVoronoiDiagram_2(sites, box, cells), 0);
    EXPECT_DOUBLE_EQ(Area(cells[1]), 1500.0);  // x from 85 to 100
    ExpectPartition(sites, box, cells);

    // A site that is not a number takes nothing; an invalid box gives empty cells and 0.
    sites = {{50, 50}, {NAN, 10}};
    ASSERT_NE(BuildVoronoiDiagram_2(sites, box, cells), 0);
    EXPECT_DOUBLE_EQ(Area(cells[0]), 10000.0);
    EXPECT_TRUE(cells[1].empty());
    EXPECT_EQ(BuildVoronoiDiagram_2(sites, VoronoiBox{10, 0, 0, 10}, cells), 0);
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_TRUE(cells[0].empty());
    EXPECT_EQ(BuildVoronoiDiagram_2(std::vector<Pt>{}, box, cells), 1);
    EXPECT_TRUE(cells.empty());
}
