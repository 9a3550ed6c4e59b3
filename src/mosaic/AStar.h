// Best-first path search over a rectangular grid of integer node costs with eight-neighbour moves.
// The seamline builders turn the pixels of a cost image into nodes and route each seam through it.
//
// Plain procedural code on heap blocks: failures are a null or zero result and an error code in
// AStarLastError. One grid serves any number of searches; nodes keep a stamp of the search that
// reached them, so nothing is cleared between searches. The open list is one fixed array: a search
// whose frontier outgrows it ends early with the path to the best node reached so far.
#pragma once

#include <cstdint>

struct AStarGrid;

// One grid cell. The caller sets `cost` through AStarNodeAt; the rest is the search's own.
struct AStarNode {
    int32_t x;
    int32_t y;
    // Paid when a path leaves this node; equal to the grid's wall cost for a cell never entered.
    int32_t cost;
    // Raised by the grid's reuse increment each time the node lies on a returned path, and paid
    // like cost; later searches on the same grid then avoid earlier paths.
    int32_t reusePenalty;
    // Moves from the start along the parent chain (both fields always hold the same value).
    int32_t length;
    int32_t stepNumber;
    int32_t g;    // accumulated path cost from the start
    int32_t h;    // heuristic estimate to the goal
    int32_t key;  // open-list order value
    int32_t parentX;
    int32_t parentY;
    int32_t stamp;      // search counter of the search that reached the node
    int32_t heapIndex;  // slot in the open list, 0 when not in it
};

// One entry of a returned path.
struct AStarStep {
    int32_t stepNumber;
    int16_t kind;  // kAStarStepMove for every entry, kAStarStepLast for the last one
    int32_t x;
    int32_t y;
};

constexpr int16_t kAStarStepMove = 2;
constexpr int16_t kAStarStepLast = 3;

// Error codes of AStarLastError.
constexpr int kAStarErrorAllocation = 1;
constexpr int kAStarErrorOutside = 5;

// Capacity of the open list.
constexpr int kAStarOpenListCapacity = 640000;

// Heuristic estimate from a node to the goal.
using AStarHeuristic = int32_t (*)(const AStarGrid* grid, const AStarNode* node, const AStarNode* goal);
// Order value of a node in the open list, from the cost of the path up to the node (without the
// node's own reuse penalty), the heuristic estimate and the reuse penalty paid on the last move.
using AStarKey = int32_t (*)(const AStarGrid* grid, int32_t pathPart, int32_t h, int32_t reusePart);

struct AStarHeap;

struct AStarGrid {
    int32_t width;
    int32_t height;
    AStarNode* nodes;  // width × height, row-major
    int32_t searchCounter;
    AStarHeap* openList;
    AStarHeuristic heuristic;
    AStarKey key;
    int32_t wallCost;
    int32_t reuseIncrement;
    int32_t heuristicScale;
    int32_t straightStep;  // cost of a move N, E, S or W
    int32_t diagonalStep;  // cost of a move NE, SE, SW or NW
};

// Last error of the module (kAStarError...): set on failure, never reset.
extern int AStarLastError;

// A grid of width × height nodes with the defaults: Chebyshev heuristic, key g plus heuristic, wall
// 10000, reuse increment 2, heuristic scale 24, straight step 20, diagonal step 28. Null (error 1)
// when the memory cannot be had or the size is not positive.
AStarGrid* AStarCreate(int width, int height);
void AStarSetCosts(AStarGrid* grid, int wall, int reuseIncrement, int heuristicScale, int straightStep,
                   int diagonalStep);
// The node of a cell; null (error 5) outside the grid.
AStarNode* AStarNodeAt(AStarGrid* grid, int x, int y);
// Searches from start to goal. Returns the number of entries of *steps, from the start (entry 0)
// to the goal (last entry), allocated with std::malloc for the caller to std::free; 0 when start is goal
// or no path exists (steps untouched then). After an overflow of the open list the path ends at
// the node nearest the goal reached so far.
int AStarFindPath(AStarGrid* grid, AStarNode* start, AStarNode* goal, AStarStep** steps);
void AStarDestroy(AStarGrid* grid);

// max(|dx|, |dy|) × heuristic scale (the default).
int32_t AStarHeuristicChebyshev(const AStarGrid* grid, const AStarNode* node, const AStarNode* goal);
// sqrt(dx² + dy²) × heuristic scale, truncated.
int32_t AStarHeuristicEuclid(const AStarGrid* grid, const AStarNode* node, const AStarNode* goal);
// pathPart + h + reusePart (the default).
int32_t AStarKeyCostPlusHeuristic(const AStarGrid* grid, int32_t pathPart, int32_t h, int32_t reusePart);
// pathPart + reusePart: uniform-cost order; the heuristic then only picks the node returned after an
// overflow of the open list.
int32_t AStarKeyPathCost(const AStarGrid* grid, int32_t pathPart, int32_t h, int32_t reusePart);
