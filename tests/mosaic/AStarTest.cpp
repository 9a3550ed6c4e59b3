// The grid search: the edge cases of a search, the cheap diagonals of the seam settings, the
// cheapest path in uniform-cost order, the overflow of the open list and the reuse penalty.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <queue>
#include <random>
#include <vector>

#include "mosaic/AStar.h"

namespace {

using Grid = std::unique_ptr<AStarGrid, decltype(&AStarDestroy)>;

Grid MakeGrid(int w, int h, bool seamSettings = false) {
    Grid grid(AStarCreate(w, h), &AStarDestroy);
    if (grid && seamSettings) {
        AStarSetCosts(grid.get(), 100000000, 1, 10, 14, 12);
        grid->heuristic = AStarHeuristicEuclid;
        grid->key = AStarKeyPathCost;
    }
    return grid;
}

// The path's entries, checked to be one move apart, numbered, and of kind 3 only at the end.
std::vector<AStarStep> Find(AStarGrid* grid, int sx, int sy, int gx, int gy) {
    AStarStep* steps = nullptr;
    const int n = AStarFindPath(grid, AStarNodeAt(grid, sx, sy), AStarNodeAt(grid, gx, gy), &steps);
    std::vector<AStarStep> path(steps, steps + n);
    std::free(steps);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(path[size_t(i)].stepNumber, i);
        EXPECT_EQ(path[size_t(i)].kind, i + 1 < n ? kAStarStepMove : kAStarStepLast);
        if (i > 0) {
            const int dx = std::abs(path[size_t(i)].x - path[size_t(i - 1)].x);
            const int dy = std::abs(path[size_t(i)].y - path[size_t(i - 1)].y);
            EXPECT_TRUE(dx <= 1 && dy <= 1 && dx + dy > 0);
        }
    }
    return path;
}

}  // namespace

TEST(AStarSearch, EdgeCasesAndCheapDiagonals) {
    Grid grid = MakeGrid(10, 10);
    EXPECT_TRUE(Find(grid.get(), 4, 4, 4, 4).empty());
    for (int d = 0; d < 9; ++d) {
        if (d != 4) {
            AStarNodeAt(grid.get(), 4 + d % 3, 4 + d / 3)->cost = grid->wallCost;
        }
    }
    EXPECT_TRUE(Find(grid.get(), 0, 0, 5, 5).empty());  // walled in on all eight sides
    const std::vector<AStarStep> one = Find(grid.get(), 0, 0, 1, 0);
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(one[1].x, 1);
    EXPECT_EQ(AStarNodeAt(grid.get(), 10, 0), nullptr);
    EXPECT_EQ(AStarLastError, kAStarErrorOutside);
    EXPECT_EQ(AStarCreate(0, 5), nullptr);
    EXPECT_EQ(AStarLastError, kAStarErrorAllocation);

    // With straight 14 and diagonal 12, two cells east go north-east then south-east (24), not
    // east twice (28).
    Grid seam = MakeGrid(5, 3, true);
    const std::vector<AStarStep> zigzag = Find(seam.get(), 1, 1, 3, 1);
    ASSERT_EQ(zigzag.size(), 3u);
    EXPECT_EQ(zigzag[1].x * 10 + zigzag[1].y, 20);
    EXPECT_EQ(AStarNodeAt(seam.get(), 3, 1)->g, 24);
}

// On random costs with walls, the path is as cheap as the cheapest one a plain Dijkstra search finds.
TEST(AStarSearch, UniformCostOrderFindsTheCheapestPath) {
    std::mt19937 random(7);
    const int w = 40, h = 30;
    for (int round = 0; round < 20; ++round) {
        Grid grid = MakeGrid(w, h, true);
        for (int i = 1; i + 1 < w * h; ++i) {
            grid->nodes[i].cost = random() % 6 == 0 ? grid->wallCost : int(random() % 4049);
        }
        std::vector<long long> best(size_t(w * h), -1);
        std::priority_queue<std::pair<long long, int>> open;  // negated distances
        open.push({0, 0});
        while (!open.empty()) {
            const auto [d, i] = open.top();
            open.pop();
            if (best[size_t(i)] >= 0) {
                continue;
            }
            best[size_t(i)] = -d;
            for (int m = 0; m < 9; ++m) {
                const int x = i % w + m % 3 - 1, y = i / w + m / 3 - 1, j = y * w + x;
                if (m != 4 && x >= 0 && y >= 0 && x < w && y < h && grid->nodes[j].cost != grid->wallCost) {
                    open.push({d - grid->nodes[i].cost - (m % 2 ? 14 : 12), j});
                }
            }
        }
        const std::vector<AStarStep> path = Find(grid.get(), 0, 0, w - 1, h - 1);
        long long cost = 0;
        for (size_t k = 0; k + 1 < path.size(); ++k) {
            const bool diagonal = path[k].x != path[k + 1].x && path[k].y != path[k + 1].y;
            cost += AStarNodeAt(grid.get(), path[k].x, path[k].y)->cost + (diagonal ? 12 : 14);
        }
        EXPECT_EQ(path.empty() ? -1 : cost, best.back()) << "round " << round;
    }
}

// A heuristic that keeps the search on every third row leaves the rows between waiting in the open
// list, which overflows long before the goal. The search returns the path to the best node removed
// so far: nearest the goal by the heuristic, and of those the one with the costliest path.
TEST(AStarSearch, OverflowOfTheOpenListReturnsThePathToTheBestNode) {
    const int size = 1000;
    Grid grid = MakeGrid(size, size);
    grid->heuristic = [](const AStarGrid*, const AStarNode* n, const AStarNode*) {
        return int32_t(n->y % 3 == 0 || n->x == 0 ? 0 : 1000000);
    };
    const std::vector<AStarStep> path = Find(grid.get(), 0, 0, size - 1, size - 2);
    ASSERT_GE(path.size(), 2u);
    const AStarNode* end = AStarNodeAt(grid.get(), path.back().x, path.back().y);
    EXPECT_EQ(end->h, 0);
    int waiting = 0;
    int32_t costliest = 0;
    for (int i = 0; i < size * size; ++i) {
        const AStarNode& n = grid->nodes[i];
        if (n.stamp == grid->searchCounter) {
            waiting += n.heapIndex > 0;
            costliest = std::max(costliest, n.heapIndex == 0 && n.h == 0 ? n.g : 0);
        }
    }
    EXPECT_EQ(waiting, kAStarOpenListCapacity);
    EXPECT_EQ(end->g, costliest);
}

TEST(AStarSearch, ReturnedPathsRaiseTheReusePenaltyOfTheirNodes) {
    Grid grid = MakeGrid(20, 20);
    const std::vector<AStarStep> first = Find(grid.get(), 2, 3, 15, 12);
    EXPECT_EQ(
        std::count_if(grid->nodes, grid->nodes + 400, [](const AStarNode& n) { return n.reusePenalty != 0; }),
        long(first.size()));
    for (const AStarStep& s : first) {
        EXPECT_EQ(AStarNodeAt(grid.get(), s.x, s.y)->reusePenalty, grid->reuseIncrement);
    }
    // Searching again on the same grid (nothing cleared) raises it once more on the path returned.
    ASSERT_FALSE(Find(grid.get(), 2, 3, 15, 12).empty());
    EXPECT_EQ(AStarNodeAt(grid.get(), 2, 3)->reusePenalty, 2 * grid->reuseIncrement);
}
