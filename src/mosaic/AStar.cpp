#include "mosaic/AStar.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

int AStarLastError = 0;

// The open list: a binary min-heap of node pointers in slots 1 to count; slot 0 holds a sentinel
// whose key is -1.
struct AStarHeap {
    int32_t count;
    AStarNode sentinel;
    AStarNode** slots;
};

namespace {

struct Direction {
    int dx;
    int dy;
    bool diagonal;
};

// The order in which the neighbours are examined (y grows downwards).
constexpr Direction kDirections[8] = {
    {0, -1, false},  // N
    {1, -1, true},   // NE
    {1, 0, false},   // E
    {1, 1, true},    // SE
    {0, 1, false},   // S
    {-1, 1, true},   // SW
    {-1, 0, false},  // W
    {-1, -1, true},  // NW
};

// Sums of costs stop at the largest int32 instead of wrapping round to negative keys.
int32_t Add(int64_t a, int64_t b) {
    const int64_t sum = a + b;
    if (sum > std::numeric_limits<int32_t>::max()) {
        return std::numeric_limits<int32_t>::max();
    }
    if (sum < std::numeric_limits<int32_t>::min()) {
        return std::numeric_limits<int32_t>::min();
    }
    return int32_t(sum);
}

AStarHeap* AStarHeapCreate() {
    auto* heap = static_cast<AStarHeap*>(std::calloc(1, sizeof(AStarHeap)));
    if (!heap) {
        return nullptr;
    }
    // Slots beyond the list's count are never read, so they need no clearing.
    heap->slots =
        static_cast<AStarNode**>(std::malloc((size_t(kAStarOpenListCapacity) + 1) * sizeof(AStarNode*)));
    if (!heap->slots) {
        std::free(heap);
        return nullptr;
    }
    heap->sentinel.key = -1;
    heap->slots[0] = &heap->sentinel;
    return heap;
}

void AStarHeapDestroy(AStarHeap* heap) {
    if (heap) {
        std::free(heap->slots);
        std::free(heap);
    }
}

void Place(AStarHeap* heap, int slot, AStarNode* node) {
    heap->slots[slot] = node;
    node->heapIndex = slot;
}

// Moves the entry towards the root while its key is smaller than its parent's; equal keys stay.
// The root slot is never left, whatever key a replaced key function gives.
void SiftUp(AStarHeap* heap, int slot) {
    AStarNode* node = heap->slots[slot];
    while (slot > 1 && node->key < heap->slots[slot / 2]->key) {
        Place(heap, slot, heap->slots[slot / 2]);
        slot /= 2;
    }
    Place(heap, slot, node);
}

void SiftDown(AStarHeap* heap, int slot) {
    AStarNode* node = heap->slots[slot];
    for (;;) {
        int child = 2 * slot;
        if (child > heap->count) {
            break;
        }
        if (child + 1 <= heap->count && heap->slots[child + 1]->key < heap->slots[child]->key) {
            ++child;
        }
        if (!(heap->slots[child]->key < node->key)) {
            break;
        }
        Place(heap, slot, heap->slots[child]);
        slot = child;
    }
    Place(heap, slot, node);
}

void Push(AStarHeap* heap, AStarNode* node) {
    ++heap->count;
    Place(heap, heap->count, node);
    SiftUp(heap, heap->count);
}

AStarNode* PopMin(AStarHeap* heap) {
    AStarNode* top = heap->slots[1];
    Place(heap, 1, heap->slots[heap->count]);
    --heap->count;
    if (heap->count > 0) {
        SiftDown(heap, 1);
    }
    top->heapIndex = 0;
    return top;
}

bool AStarAllocNodes(AStarGrid* grid) {
    const size_t count = size_t(grid->width) * size_t(grid->height);
    grid->nodes = static_cast<AStarNode*>(std::malloc(count * sizeof(AStarNode)));
    if (!grid->nodes) {
        return false;
    }
    for (int y = 0; y < grid->height; ++y) {
        AStarNode* row = grid->nodes + size_t(y) * size_t(grid->width);
        for (int x = 0; x < grid->width; ++x) {
            row[x] = AStarNode{};
            row[x].x = x;
            row[x].y = y;
        }
    }
    return true;
}

}  // namespace

int32_t AStarHeuristicChebyshev(const AStarGrid* grid, const AStarNode* node, const AStarNode* goal) {
    const int64_t dx = std::llabs(int64_t(node->x) - goal->x);
    const int64_t dy = std::llabs(int64_t(node->y) - goal->y);
    return Add((dx > dy ? dx : dy) * grid->heuristicScale, 0);
}

int32_t AStarHeuristicEuclid(const AStarGrid* grid, const AStarNode* node, const AStarNode* goal) {
    const double dx = double(node->x) - goal->x;
    const double dy = double(node->y) - goal->y;
    const double h = std::sqrt(dx * dx + dy * dy) * grid->heuristicScale;
    return h < double(std::numeric_limits<int32_t>::max()) ? int32_t(h) : std::numeric_limits<int32_t>::max();
}

int32_t AStarKeyCostPlusHeuristic(const AStarGrid* /*grid*/, int32_t pathPart, int32_t h, int32_t reusePart) {
    return Add(int64_t(pathPart) + h, reusePart);
}

int32_t AStarKeyPathCost(const AStarGrid* /*grid*/, int32_t pathPart, int32_t /*h*/, int32_t reusePart) {
    return Add(pathPart, reusePart);
}

AStarGrid* AStarCreate(int width, int height) {
    if (width <= 0 || height <= 0 || int64_t(width) * height > int64_t(std::numeric_limits<int32_t>::max())) {
        AStarLastError = kAStarErrorAllocation;
        return nullptr;
    }
    auto* grid = static_cast<AStarGrid*>(std::calloc(1, sizeof(AStarGrid)));
    if (!grid) {
        AStarLastError = kAStarErrorAllocation;
        return nullptr;
    }
    grid->width = width;
    grid->height = height;
    if (!AStarAllocNodes(grid) || !(grid->openList = AStarHeapCreate())) {
        std::free(grid->nodes);
        std::free(grid);
        AStarLastError = kAStarErrorAllocation;
        return nullptr;
    }
    grid->heuristic = AStarHeuristicChebyshev;
    grid->key = AStarKeyCostPlusHeuristic;
    AStarSetCosts(grid, 10000, 2, 24, 20, 28);
    return grid;
}

void AStarSetCosts(AStarGrid* grid, int wall, int reuseIncrement, int heuristicScale, int straightStep,
                   int diagonalStep) {
    grid->wallCost = wall;
    grid->reuseIncrement = reuseIncrement;
    grid->heuristicScale = heuristicScale;
    grid->straightStep = straightStep;
    grid->diagonalStep = diagonalStep;
}

AStarNode* AStarNodeAt(AStarGrid* grid, int x, int y) {
    if (!grid || x < 0 || y < 0 || x >= grid->width || y >= grid->height) {
        AStarLastError = kAStarErrorOutside;
        return nullptr;
    }
    return grid->nodes + size_t(y) * size_t(grid->width) + size_t(x);
}

void AStarDestroy(AStarGrid* grid) {
    if (grid) {
        AStarHeapDestroy(grid->openList);
        std::free(grid->nodes);
        std::free(grid);
    }
}

int AStarFindPath(AStarGrid* grid, AStarNode* start, AStarNode* goal, AStarStep** steps) {
    if (!grid || !start || !goal || !steps || start == goal) {
        return 0;
    }
    AStarHeap* open = grid->openList;
    const int32_t counter = ++grid->searchCounter;
    open->count = 0;

    // The start counts as reached, so that no neighbour ever re-opens it.
    start->stamp = counter;
    start->g = 0;
    start->key = 0;
    start->length = 0;
    start->stepNumber = 0;
    start->h = grid->heuristic(grid, start, goal);
    Push(open, start);

    // The built-in functions are called directly, so that the compiler can inline them.
    const auto heuristic = [h = grid->heuristic](const AStarGrid* g, const AStarNode* n, const AStarNode* t) {
        return h == AStarHeuristicEuclid      ? AStarHeuristicEuclid(g, n, t)
               : h == AStarHeuristicChebyshev ? AStarHeuristicChebyshev(g, n, t)
                                              : h(g, n, t);
    };
    const auto key = [k = grid->key](const AStarGrid* g, int32_t pathPart, int32_t h, int32_t reusePart) {
        return k == AStarKeyPathCost ? AStarKeyPathCost(g, pathPart, h, reusePart)
                                     : k(g, pathPart, h, reusePart);
    };
    AStarNode* best = start;
    AStarNode* lastRemoved = nullptr;
    AStarNode* target = goal;
    bool overflow = false;
    while (open->count > 0 && !overflow) {
        AStarNode* n = PopMin(open);
        lastRemoved = n;
        if (n->h < best->h || (n->h == best->h && n->g > best->g)) {
            best = n;
        }
        for (const Direction& d : kDirections) {
            const int mx = n->x + d.dx, my = n->y + d.dy;
            if (mx < 0 || my < 0 || mx >= grid->width || my >= grid->height) {
                AStarLastError = kAStarErrorOutside;
                continue;
            }
            AStarNode* m = grid->nodes + size_t(my) * size_t(grid->width) + size_t(mx);
            if (m->cost == grid->wallCost) {
                continue;
            }
            const int32_t pathPart =
                Add(int64_t(n->g) + n->cost, d.diagonal ? grid->diagonalStep : grid->straightStep);
            const int32_t reusePart = n->reusePenalty;
            const int32_t candidate = Add(pathPart, reusePart);
            const bool fresh = m->stamp != counter;
            if (!fresh && !(m->heapIndex > 0 && candidate < m->g)) {
                continue;
            }
            m->stamp = counter;
            m->h = heuristic(grid, m, goal);
            m->length = n->length + 1;
            m->stepNumber = n->stepNumber + 1;
            m->key = key(grid, pathPart, m->h, reusePart);
            m->g = candidate;
            m->parentX = n->x;
            m->parentY = n->y;
            if (!fresh) {
                SiftUp(open, m->heapIndex);
            } else if (open->count >= kAStarOpenListCapacity) {
                overflow = true;
                break;
            } else {
                Push(open, m);
            }
        }
        if (n == goal) {
            break;
        }
    }
    if (overflow) {
        target = best;
        lastRemoved = best;
    }
    if (lastRemoved != target || target == start) {
        return 0;
    }

    const int count = target->length + 1;
    auto* path = static_cast<AStarStep*>(std::malloc(sizeof(AStarStep) * size_t(count)));
    if (!path) {
        AStarLastError = kAStarErrorAllocation;
        return 0;
    }
    AStarNode* node = target;
    for (int i = count - 1; i >= 0; --i) {
        path[i].stepNumber = node->stepNumber;
        path[i].kind = kAStarStepMove;
        path[i].x = node->x;
        path[i].y = node->y;
        node->reusePenalty = Add(node->reusePenalty, grid->reuseIncrement);
        if (i > 0) {
            node = grid->nodes + size_t(node->parentY) * size_t(grid->width) + size_t(node->parentX);
        }
    }
    path[count - 1].kind = kAStarStepLast;
    *steps = path;
    return count;
}
