#include "platform/geometry/Voronoi.h"

#include <algorithm>
#include <cmath>

namespace {

// Keeps the part of the convex polygon where a·p <= c (Sutherland-Hodgman against one line).
// Side values within tol of zero count as on the line.
std::vector<VoronoiPoint> ClipHalfPlane(const std::vector<VoronoiPoint>& poly, double ax, double ay, double c,
                                        double tol) {
    std::vector<VoronoiPoint> out;
    const size_t n = poly.size();
    for (size_t i = 0; i < n; ++i) {
        const VoronoiPoint& p = poly[i];
        const VoronoiPoint& q = poly[(i + 1) % n];
        double sp = ax * p[0] + ay * p[1] - c;
        double sq = ax * q[0] + ay * q[1] - c;
        bool pin = sp <= tol;
        bool qin = sq <= tol;
        if (pin) {
            out.push_back(p);
        }
        if (pin != qin && std::fabs(sp) > tol && std::fabs(sq) > tol) {
            double t = sp / (sp - sq);
            out.push_back({p[0] + t * (q[0] - p[0]), p[1] + t * (q[1] - p[1])});
        }
    }
    // Drop repeated vertices that a cut through a vertex leaves behind.
    std::vector<VoronoiPoint> clean;
    for (const VoronoiPoint& p : out) {
        if (clean.empty() || p != clean.back()) {
            clean.push_back(p);
        }
    }
    while (clean.size() > 1 && clean.front() == clean.back()) {
        clean.pop_back();
    }
    if (clean.size() < 3) {
        clean.clear();
    }
    return clean;
}

bool Finite(const VoronoiPoint& p) {
    return std::isfinite(p[0]) && std::isfinite(p[1]);
}

}  // namespace

int BuildVoronoiCells(const std::vector<VoronoiPoint>& sites, const VoronoiBox& box,
                      std::vector<std::vector<VoronoiPoint>>* cells) {
    cells->assign(sites.size(), {});
    const double x0 = box[0], x1 = box[1], y0 = box[2], y1 = box[3];
    if (!(std::isfinite(x0) && std::isfinite(x1) && std::isfinite(y0) && std::isfinite(y1) && x1 > x0 &&
          y1 > y0)) {
        return 0;
    }
    const double diagonal = std::hypot(x1 - x0, y1 - y0);
    for (size_t i = 0; i < sites.size(); ++i) {
        const VoronoiPoint& s = sites[i];
        if (!Finite(s)) {
            continue;
        }
        bool duplicate = false;
        for (size_t j = 0; j < i && !duplicate; ++j) {
            duplicate = sites[j] == s;
        }
        if (duplicate) {
            continue;
        }
        // Clipped in coordinates around the site, so that map coordinates far from the origin
        // keep their precision: nearer to s than to t means (t - s)·p <= |t - s|² / 2.
        std::vector<VoronoiPoint> cell = {
            {x0 - s[0], y0 - s[1]}, {x1 - s[0], y0 - s[1]}, {x1 - s[0], y1 - s[1]}, {x0 - s[0], y1 - s[1]}};
        for (size_t j = 0; j < sites.size() && !cell.empty(); ++j) {
            const VoronoiPoint& t = sites[j];
            if (j == i || !Finite(t) || t == s) {
                continue;
            }
            double ax = t[0] - s[0], ay = t[1] - s[1];
            double c = 0.5 * (ax * ax + ay * ay);
            cell = ClipHalfPlane(cell, ax, ay, c, 1e-12 * (c + std::hypot(ax, ay) * diagonal));
        }
        for (VoronoiPoint& p : cell) {
            p = {p[0] + s[0], p[1] + s[1]};
        }
        (*cells)[i] = std::move(cell);
    }
    return 1;
}
