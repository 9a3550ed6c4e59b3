// Voronoi cells of a few sites inside a box: each cell is the box cut by the half-planes that are
// nearer to its site than to every other site. Cells come in site order, counter-clockwise.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

// Box: {minimum x, maximum x, minimum y, maximum y}.
using VoronoiBox = std::array<double, 4>;
using VoronoiPoint = std::array<double, 2>;

// Fills one cell per site (cells.size() == sites.size() always). Coinciding sites: the first of
// them owns the cell and the later ones get an empty cell, so the cells never overlap. A site
// outside the box gets the part of the box nearest to it (possibly empty). A site with a
// non-finite coordinate gets an empty cell and takes nothing from the others. Returns 0 (all
// cells empty) when the box is not a finite box of positive width and height, else non-zero.
int BuildVoronoiCells(const std::vector<VoronoiPoint>& sites, const VoronoiBox& box,
                      std::vector<std::vector<VoronoiPoint>>* cells);

// The same for any point type with indexed access p[0], p[1] and a constructor P(x, y).
template <class Point>
int BuildVoronoiDiagram_2(std::vector<Point> sites, const VoronoiBox& box,
                          std::vector<std::vector<Point>>& cells) {
    std::vector<VoronoiPoint> plain;
    plain.reserve(sites.size());
    for (const Point& p : sites) {
        plain.push_back({double(p[0]), double(p[1])});
    }
    std::vector<std::vector<VoronoiPoint>> out;
    int ok = BuildVoronoiCells(plain, box, &out);
    cells.assign(out.size(), {});
    for (std::size_t i = 0; i < out.size(); ++i) {
        cells[i].reserve(out[i].size());
        for (const VoronoiPoint& q : out[i]) {
            cells[i].push_back(Point(q[0], q[1]));
        }
    }
    return ok;
}
