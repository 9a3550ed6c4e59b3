// The difference raster A - B of two DEMs of the same cell size over their common area: the worker
// the subtract dialog runs, written tile by tile so that memory stays bounded for rasters of any
// size.
#pragma once

#include <QString>

class CDEM;
class ProgressSink;

// The common area of two DEMs on the cells of A: its upper left corner, A's cell size and its
// size in cells.
struct DemPairGrid {
    double left = 0.0;
    double top = 0.0;
    double cell = 0.0;
    int columns = 0;
    int rows = 0;
};

enum class DemPairCheck {
    Ok,
    // The cell sizes differ, a cell is not square (or not north-up), or a DEM has no raster.
    DifferentResolution,
    // Less than one cell in common.
    NoOverlap,
};

// Whether A and B can be subtracted, and their common area when they can. Cell sizes count as
// equal within 1e-6 of their size.
DemPairCheck CheckDemPair(const CDEM& a, const CDEM& b, DemPairGrid* grid = nullptr);

struct DemDifference {
    enum Status { Done, DifferentResolution, NoOverlap, CannotCreate, ReadFailed, WriteFailed };
    Status status = Done;
    // Lowest and highest difference written; minimum > maximum when no cell had data in both.
    float minimum = 0.0f;
    float maximum = 0.0f;
    DemPairGrid grid;

    bool HasValues() const { return minimum <= maximum; }
};

// Side of the square tiles the difference is computed in, and the distance between their starts:
// neighbouring tiles share 8 cells, of which each writes its own half.
inline constexpr int kDifferenceTile = 256;
inline constexpr int kDifferenceTileStep = 248;
// Number of tiles across a side of n cells.
int DifferenceTileCount(int n);

// Writes A - B over the common area to a new Float32 GeoTIFF at path (tiled 128 x 128, A's
// projection, no data -9999, "NEAREST" overviews): a cell is -9999 where either DEM has no data,
// 0 where |A - B| (in single precision) is below the tolerance, else A - B. Reports one step per
// tile. On any failure nothing is left at path.
DemDifference ComputeDemDifference(CDEM& a, CDEM& b, double tolerance, const QString& path,
                                   ProgressSink* progress);
