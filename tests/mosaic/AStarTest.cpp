// The grid search: results at the edges of the search, the step costs the seamline builders rely
// on, optimality of the uniform-cost order, the overflow of the open list and the reuse penalty.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <memory>
#include <queue>
#include <random>
#include <vector>

#include "mosaic/AStar.h"

namespace {

struct GridFree {
    void operator()(AStarGrid* grid) const { AStarDestroy(grid); }
};
using Grid = std::unique_ptr<AStarGrid, GridFree>;

struct Path {
    std::vector<AStarStep> steps;
};

Path Find(AStarGrid* grid, int sx, int sy, int gx, int gy) {
    AStarStep* steps = nullptr;
    const int n = AStarFindPath(grid, AStarNodeAt(grid, sx, sy), AStarNodeAt(grid, gx, gy), &steps);
    Path path;
    if (n > 0) {
        path.steps.assign(steps, steps + n);
        std::free(steps);
    } else {
        EXPECT_EQ(steps, nullptr);
    }
    return path;
}

// The cost of a path as the search counts it: each node's cost is paid on leaving it, plus the
// step of the move.
long long PathCost(AStarGrid* grid, const Path& path) {
    long long total = 0;
    for (size_t i = 0; i + 1 < path.steps.size(); ++i) {
        const AStarStep& a = path.steps[i];
        const AStarStep& b = path.steps[i + 1];
        const bool diagonal = a.x != b.x && a.y != b.y;
        total += AStarNodeAt(grid, a.x, a.y)->cost + (diagonal ? grid->diagonalStep : grid->straightStep);
    }
    return total;
}

void ExpectConnected(const Path& path) {
    for (size_t i = 0; i + 1 < path.steps.size(); ++i) {
        const int dx = std::abs(path.steps[i + 1].x - path.steps[i].x);
        const int dy = std::abs(path.steps[i + 1].y - path.steps[i].y);
        ASSERT_TRUE(dx <= 1 && dy <= 1 && dx + dy > 0) << "step " << i;
        EXPECT_EQ(path.steps[i].stepNumber, int(i));
        EXPECT_EQ(path.steps[i].kind, kAStarStepMove);
    }
    EXPECT_EQ(path.steps.back().kind, kAStarStepLast);
}

// The seamline routing's settings: uniform-cost order, Euclidean heuristic, cheap diagonals.
void UseSeamSettings(AStarGrid* grid) {
    AStarSetCosts(grid, 100000000, 1, 10, 14, 12);
    grid->heuristic = AStarHeuristicEuclid;
    grid->key = AStarKeyPathCost;
}

}  // namespace

TEST(AStarSearch, StartAtGoalWalledGoalAndOneMove) {
    Grid grid(AStarCreate(10, 10));
    ASSERT_TRUE(grid);
    EXPECT_TRUE(Find(grid.get(), 4, 4, 4, 4).steps.empty());

    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (dx || dy) {
                AStarNodeAt(grid.get(), 5 + dx, 5 + dy)->cost = grid->wallCost;
            }
        }
    }
    EXPECT_TRUE(Find(grid.get(), 0, 0, 5, 5).steps.empty());

    const Path one = Find(grid.get(), 0, 0, 1, 0);
    ASSERT_EQ(one.steps.size(), 2u);
    EXPECT_EQ(one.steps[0].kind, kAStarStepMove);
    EXPECT_EQ(one.steps[1].kind, kAStarStepLast);
    EXPECT_EQ(one.steps[0].stepNumber, 0);
    EXPECT_EQ(one.steps[1].stepNumber, 1);
    EXPECT_EQ(one.steps[1].x, 1);
    EXPECT_EQ(one.steps[1].y, 0);

    EXPECT_EQ(AStarNodeAt(grid.get(), 10, 0), nullptr);
    EXPECT_EQ(AStarLastError, kAStarErrorOutside);
    EXPECT_EQ(AStarCreate(0, 5), nullptr);
    EXPECT_EQ(AStarLastError, kAStarErrorAllocation);
}

TEST(AStarSearch, CheapDiagonalsZigzagInsteadOfGoingStraight) {
    Grid grid(AStarCreate(5, 3));
    UseSeamSettings(grid.get());
    const Path path = Find(grid.get(), 1, 1, 3, 1);
    ASSERT_EQ(path.steps.size(), 3u);
    EXPECT_EQ(path.steps[1].x, 2);
    EXPECT_EQ(path.steps[1].y, 0);  // north-east, then south-east
    EXPECT_EQ(AStarNodeAt(grid.get(), 3, 1)->g, 24);
}

// On random costs with walls, the uniform-cost order returns a path as cheap as the cheapest one
// found by a plain Dijkstra search over the same moves.
TEST(AStarSearch, UniformCostOrderFindsTheCheapestPath) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        const int w = 40, h = 30;
        Grid grid(AStarCreate(w, h));
        UseSeamSettings(grid.get());
        std::vector<int> cost(size_t(w * h));
        for (int i = 0; i < w * h; ++i) {
            cost[size_t(i)] = random() % 6 == 0 ? grid->wallCost : int(random() % 4049);
            grid->nodes[i].cost = cost[size_t(i)];
        }
        const int start = 0, goal = w * h - 1;
        grid->nodes[start].cost = cost[start] = 0;
        grid->nodes[goal].cost = cost[goal] = 0;

        std::vector<long long> best(size_t(w * h), std::numeric_limits<long long>::max());
        using Item = std::pair<long long, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<>> open;
        best[start] = 0;
        open.push({0, start});
        while (!open.empty()) {
            auto [d, i] = open.top();
            open.pop();
            if (d > best[size_t(i)]) {
                continue;
            }
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = i % w + dx, y = i / w + dy;
                    if ((!dx && !dy) || x < 0 || y < 0 || x >= w || y >= h ||
                        cost[size_t(y * w + x)] == grid->wallCost) {
                        continue;
                    }
                    const long long next = d + cost[size_t(i)] + (dx && dy ? 12 : 14);
                    if (next < best[size_t(y * w + x)]) {
                        best[size_t(y * w + x)] = next;
                        open.push({next, y * w + x});
                    }
                }
            }
        }
        const Path path = Find(grid.get(), 0, 0, w - 1, h - 1);
        if (best[goal] == std::numeric_limits<long long>::max()) {
            EXPECT_TRUE(path.steps.empty()) << "round " << round;
            continue;
        }
        ASSERT_FALSE(path.steps.empty()) << "round " << round;
        ExpectConnected(path);
        for (const AStarStep& s : path.steps) {
            EXPECT_NE(cost[size_t(s.y * w + s.x)], grid->wallCost);
        }
        EXPECT_EQ(PathCost(grid.get(), path), best[goal]) << "round " << round;
    }
}

// A heuristic that keeps the search on every third row (and the first column) leaves the two rows
// between them waiting in the open list, which overflows long before the goal is reached. The
// search then ends with the path to the best node removed so far: the nearest to the goal by the
// heuristic, and of those the one with the costliest path.
TEST(AStarSearch, OverflowOfTheOpenListReturnsThePathToTheBestNode) {
    const int size = 1000;
    Grid grid(AStarCreate(size, size));
    ASSERT_TRUE(grid);
    grid->heuristic = [](const AStarGrid*, const AStarNode* n, const AStarNode*) {
        return int32_t(n->y % 3 == 0 || n->x == 0 ? 0 : 1000000);
    };
    const Path path = Find(grid.get(), 0, 0, size - 1, size - 2);
    ASSERT_GE(path.steps.size(), 2u);
    ExpectConnected(path);
    EXPECT_EQ(path.steps.front().x, 0);
    EXPECT_EQ(path.steps.front().y, 0);
    const AStarNode* end = AStarNodeAt(grid.get(), path.steps.back().x, path.steps.back().y);
    EXPECT_EQ(end->h, 0);
    EXPECT_EQ(end->length + 1, int(path.steps.size()));

    int reached = 0, waiting = 0;
    int32_t costliest = 0;
    for (int i = 0; i < size * size; ++i) {
        const AStarNode& n = grid->nodes[i];
        if (n.stamp != grid->searchCounter) {
            continue;
        }
        ++reached;
        waiting += n.heapIndex > 0;
        if (n.heapIndex == 0 && n.h == 0) {
            costliest = std::max(costliest, n.g);
        }
    }
    EXPECT_EQ(waiting, kAStarOpenListCapacity);
    EXPECT_GT(reached, kAStarOpenListCapacity);
    EXPECT_EQ(end->g, costliest);
}

TEST(AStarSearch, ReturnedPathsRaiseTheReusePenaltyOfTheirNodes) {
    Grid grid(AStarCreate(20, 20));
    const Path first = Find(grid.get(), 2, 3, 15, 12);
    ASSERT_FALSE(first.steps.empty());
    int onPath = 0;
    for (int i = 0; i < 400; ++i) {
        onPath += grid->nodes[i].reusePenalty != 0;
    }
    EXPECT_EQ(onPath, int(first.steps.size()));
    for (const AStarStep& s : first.steps) {
        EXPECT_EQ(AStarNodeAt(grid.get(), s.x, s.y)->reusePenalty, grid->reuseIncrement);
    }
    // The same search again on the same grid (nothing cleared in between) pays the penalty and
    // raises it once more on the nodes it returns.
    const Path second = Find(grid.get(), 2, 3, 15, 12);
    ASSERT_FALSE(second.steps.empty());
    for (const AStarStep& s : second.steps) {
        const int32_t penalty = AStarNodeAt(grid.get(), s.x, s.y)->reusePenalty;
        EXPECT_TRUE(penalty == grid->reuseIncrement || penalty == 2 * grid->reuseIncrement);
    }
    EXPECT_EQ(AStarNodeAt(grid.get(), 2, 3)->reusePenalty, 2 * grid->reuseIncrement);
}
