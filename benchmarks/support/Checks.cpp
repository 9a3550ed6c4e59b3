#include "Checks.h"

#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>
#include <vtkCellArray.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>

namespace bench {
namespace {

// Every vertex of every line of a line file's first layer (the parts of multi-lines too) that lies
// outside the boxes; false when the file does not open.
bool ReadVertices(const std::string& path, std::vector<std::array<double, 3>>* vertices, long* lines,
                  const std::vector<Box>& leftOut = {}) {
    *lines = 0;
    const auto outside = [&](double x, double y) {
        return std::none_of(leftOut.begin(), leftOut.end(),
                            [&](const Box& b) { return x >= b[0] && x <= b[2] && y >= b[1] && y <= b[3]; });
    };
    return ForEachLine(path, [&](OGRGeometryH line) {
        ++*lines;
        for (int i = 0; i < OGR_G_GetPointCount(line); ++i) {
            if (outside(OGR_G_GetX(line, i), OGR_G_GetY(line, i))) {
                vertices->push_back({OGR_G_GetX(line, i), OGR_G_GetY(line, i), OGR_G_GetZ(line, i)});
            }
        }
    });
}

using Key = std::array<int64_t, 3>;

Key KeyOf(const std::array<double, 3>& v, double tolerance) {
    return {std::llround(v[0] / tolerance), std::llround(v[1] / tolerance), std::llround(v[2] / tolerance)};
}

// The vertices of `from` that lie within the tolerance of one of `to` (whose keys are sorted): a
// partner lies in the vertex's own key or in one next to it.
long Matched(const std::vector<std::array<double, 3>>& from, const std::vector<Key>& to, double tolerance) {
    long matched = 0;
    for (const auto& v : from) {
        const Key k = KeyOf(v, tolerance);
        bool found = std::binary_search(to.begin(), to.end(), k);
        for (int dx = -1; dx <= 1 && !found; ++dx) {
            for (int dy = -1; dy <= 1 && !found; ++dy) {
                for (int dz = -1; dz <= 1 && !found; ++dz) {
                    const Key near = {k[0] + dx, k[1] + dy, k[2] + dz};
                    const auto at = std::lower_bound(to.begin(), to.end(), near);
                    found = at != to.end() && *at == near;
                }
            }
        }
        matched += found;
    }
    return matched;
}

std::vector<Key> SortedKeys(const std::vector<std::array<double, 3>>& vertices, double tolerance) {
    std::vector<Key> keys;
    keys.reserve(vertices.size());
    for (const auto& v : vertices) {
        keys.push_back(KeyOf(v, tolerance));
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool ReadTriangles(const std::string& path, std::vector<Triangle>* triangles) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return false;
    }
    Triangle t;
    while (std::fread(t.data(), sizeof(int), 3, f) == 3) {
        std::sort(t.begin(), t.end());
        triangles->push_back(t);
    }
    std::fclose(f);
    std::sort(triangles->begin(), triangles->end());
    return true;
}

// Band 1 of a raster with its no-data value (NaN when it has none).
bool ReadBand(const std::string& path, cv::Mat* grid, double* noData, double geoTransform[6] = nullptr) {
    if (!ReadRaster(path, grid, geoTransform) || grid->channels() != 1) {
        return false;
    }
    *noData = std::numeric_limits<double>::quiet_NaN();
    CPLPushErrorHandler(CPLQuietErrorHandler);
    if (GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly)) {
        int has = 0;
        const double value = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), &has);
        if (has) {
            *noData = value;
        }
        GDALClose(ds);
    }
    CPLPopErrorHandler();
    return true;
}

bool Missing(float v, double noData) {
    return !std::isfinite(v) || (!std::isnan(noData) && v == float(noData));
}

// The parameters (0 to 1) where a segment in cell coordinates crosses a column or a row boundary,
// its ends included, in order.
std::vector<double> Cuts(double c0, double r0, double dc, double dr) {
    std::vector<double> cuts = {0.0, 1.0};
    if (dc != 0.0) {
        for (double k = std::ceil(std::min(c0, c0 + dc)); k <= std::max(c0, c0 + dc); k += 1.0) {
            cuts.push_back((k - c0) / dc);
        }
    }
    if (dr != 0.0) {
        for (double k = std::ceil(std::min(r0, r0 + dr)); k <= std::max(r0, r0 + dr); k += 1.0) {
            cuts.push_back((k - r0) / dr);
        }
    }
    std::sort(cuts.begin(), cuts.end());
    return cuts;
}

// The cells a segment passes through (with a piece of some length), sorted.
std::vector<cv::Point> CellsOf(double c0, double r0, double c1, double r1) {
    const double dc = c1 - c0, dr = r1 - r0;
    const std::vector<double> cuts = Cuts(c0, r0, dc, dr);
    std::vector<cv::Point> cells;
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        if (cuts[i + 1] > cuts[i]) {
            const double t = (cuts[i] + cuts[i + 1]) / 2.0;
            cells.emplace_back(int(std::floor(c0 + t * dc)), int(std::floor(r0 + t * dr)));
        }
    }
    const auto before = [](const cv::Point& a, const cv::Point& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    };
    std::sort(cells.begin(), cells.end(), before);
    cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
    return cells;
}

// Marks the cells a segment (in cell coordinates) only grazes: it crosses them between two of their
// sides (no end of the segment inside) by less than `grazing` cell widths, or it runs so close to
// one of their sides (within `near` cell widths) that the same segment moved by that much enters
// or leaves them, or touches them at a corner.
void MarkGrazed(double c0, double r0, double c1, double r1, double grazing, double near, cv::Mat* grazed) {
    const auto mark = [&](int col, int row) {
        if (col >= 0 && row >= 0 && col < grazed->cols && row < grazed->rows) {
            grazed->at<uint8_t>(row, col) = 255;
        }
    };
    const double dc = c1 - c0, dr = r1 - r0, length = std::hypot(dc, dr);
    const std::vector<double> cuts = Cuts(c0, r0, dc, dr);
    for (size_t i = 0; i + 1 < cuts.size(); ++i) {
        const double c = c0 + cuts[i] * dc, r = r0 + cuts[i] * dr;
        if (std::abs(c - std::round(c)) < 1e-9 && std::abs(r - std::round(r)) < 1e-9) {
            // Through a corner: the cells on either side of it are touched at that point alone.
            const int col = int(std::round(c)), row = int(std::round(r));
            mark(col - 1, row);
            mark(col, row - 1);
        }
        if (cuts[i] > 0.0 && cuts[i + 1] < 1.0 && (cuts[i + 1] - cuts[i]) * length < grazing) {
            const double t = (cuts[i] + cuts[i + 1]) / 2.0;
            mark(int(std::floor(c0 + t * dc)), int(std::floor(r0 + t * dr)));
        }
    }
    const std::vector<cv::Point> cells = CellsOf(c0, r0, c1, r1);
    for (const cv::Point& move : {cv::Point(1, 0), cv::Point(-1, 0), cv::Point(0, 1), cv::Point(0, -1)}) {
        const std::vector<cv::Point> moved =
            CellsOf(c0 + near * move.x, r0 + near * move.y, c1 + near * move.x, r1 + near * move.y);
        std::vector<cv::Point> either;
        const auto before = [](const cv::Point& a, const cv::Point& b) {
            return a.y != b.y ? a.y < b.y : a.x < b.x;
        };
        std::set_symmetric_difference(cells.begin(), cells.end(), moved.begin(), moved.end(),
                                      std::back_inserter(either), before);
        for (const cv::Point& cell : either) {
            mark(cell.x, cell.y);
        }
    }
}

}  // namespace

bool ForEachLine(const std::string& path, const std::function<void(OGRGeometryH line)>& visit) {
    CPLPushErrorHandler(CPLQuietErrorHandler);
    GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr);
    CPLPopErrorHandler();
    if (!ds) {
        return false;
    }
    OGRLayerH layer = GDALDatasetGetLayer(ds, 0);
    while (OGRFeatureH feature = layer ? OGR_L_GetNextFeature(layer) : nullptr) {
        OGRGeometryH geometry = OGR_F_GetGeometryRef(feature);
        const int parts = geometry ? OGR_G_GetGeometryCount(geometry) : 0;
        if (geometry && parts == 0) {
            visit(geometry);
        }
        for (int k = 0; k < parts; ++k) {
            visit(OGR_G_GetGeometryRef(geometry, k));
        }
        OGR_F_Destroy(feature);
    }
    GDALClose(ds);
    return true;
}

// ---- Lines

LineAgreement CompareLineVertices(const std::string& ours, const std::string& theirs, double tolerance,
                                  const std::vector<Box>& leftOut) {
    LineAgreement a;
    std::vector<std::array<double, 3>> vertices[2];
    if (!ReadVertices(ours, &vertices[0], &a.lines[0], leftOut) ||
        !ReadVertices(theirs, &vertices[1], &a.lines[1], leftOut)) {
        a.error = "a result cannot be read";
        return a;
    }
    for (int side = 0; side < 2; ++side) {
        a.vertices[side] = long(vertices[side].size());
        a.matched[side] = Matched(vertices[side], SortedKeys(vertices[1 - side], tolerance), tolerance);
    }
    return a;
}

Check LinesAgree(const std::string& ours, const std::string& theirs, double tolerance, double share) {
    return [=](std::string* agreed) {
        const LineAgreement a = CompareLineVertices(ours, theirs, tolerance);
        if (!a.error.empty()) {
            return a.error;
        }
        *agreed =
            Format("lines %ld / %ld, vertices %ld / %ld, within %.3g of the other's: %ld / %ld", a.lines[0],
                   a.lines[1], a.vertices[0], a.vertices[1], tolerance, a.matched[0], a.matched[1]);
        const bool same = a.lines[0] == a.lines[1] && a.lines[0] > 0 &&
                          double(a.matched[0]) >= share * double(a.vertices[0]) &&
                          double(a.matched[1]) >= share * double(a.vertices[1]);
        return same ? std::string() : *agreed;
    };
}

Check LinesAgreeOutside(const std::string& ours, const std::string& theirs, double tolerance,
                        const std::vector<Box>& leftOut) {
    return [=](std::string* agreed) {
        const LineAgreement a = CompareLineVertices(ours, theirs, tolerance, leftOut);
        if (!a.error.empty()) {
            return a.error;
        }
        *agreed = Format(
            "outside %zu boxes: vertices %ld / %ld, within %.3g of the other's: %ld / %ld (lines %ld / %ld "
            "in "
            "all)",
            leftOut.size(), a.vertices[0], a.vertices[1], tolerance, a.matched[0], a.matched[1], a.lines[0],
            a.lines[1]);
        const bool same = a.vertices[1] > 0 && a.matched[0] == a.vertices[0] && a.matched[1] == a.vertices[1];
        return same ? std::string() : *agreed;
    };
}

// ---- Triangulations

std::vector<int> FirstOfEach(const std::vector<Wml::Point3>& points) {
    std::vector<int> order(points.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = int(i);
    }
    const auto place = [&](int i) { return std::pair(points[size_t(i)].X(), points[size_t(i)].Y()); };
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return place(a) < place(b); });
    std::vector<int> first(points.size());
    for (size_t k = 0; k < order.size(); ++k) {
        const bool repeated = k > 0 && place(order[k]) == place(order[k - 1]);
        first[size_t(order[k])] = repeated ? first[size_t(order[k - 1])] : order[k];
    }
    return first;
}

std::vector<Triangle> TrianglesOf(vtkPolyData& tin, const std::vector<int>& names) {
    std::vector<Triangle> triangles;
    vtkCellArray* polys = tin.GetPolys();
    if (!polys) {
        return triangles;
    }
    const auto name = [&](vtkIdType id) {
        return id < vtkIdType(names.size()) ? names[size_t(id)] : int(-1 - id);
    };
    vtkIdType n = 0;
    const vtkIdType* ids = nullptr;
    for (polys->InitTraversal(); polys->GetNextCell(n, ids);) {
        if (n == 3) {
            triangles.push_back({name(ids[0]), name(ids[1]), name(ids[2])});
        }
    }
    return triangles;
}

bool KeepTriangles(const std::vector<Triangle>& triangles, const std::string& path) {
    if (!CheckRun()) {
        return true;
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f && std::fwrite(triangles.data(), sizeof(Triangle), triangles.size(), f) == triangles.size() &&
           std::fclose(f) == 0;
}

Check TrianglesAgree(const std::string& ours, const std::string& theirs, double share) {
    return [=](std::string* agreed) {
        std::vector<Triangle> a, b;
        if (!ReadTriangles(ours, &a) || !ReadTriangles(theirs, &b)) {
            return std::string("a result cannot be read");
        }
        std::vector<Triangle> both;
        std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
        *agreed = Format("triangles %zu / %zu, %zu of them the same", a.size(), b.size(), both.size());
        const bool same = !a.empty() && double(both.size()) >= share * double(a.size()) &&
                          double(both.size()) >= share * double(b.size());
        return same ? std::string() : *agreed;
    };
}

// ---- Partitions

Check PartitionsAgree(const std::string& ours, const std::string& theirs, double share) {
    return [=](std::string* agreed) {
        cv::Mat a, b;
        if (!ReadRaster(ours, &a, nullptr, true) || !ReadRaster(theirs, &b, nullptr, true) ||
            a.size() != b.size() || a.channels() != 1 || b.channels() != 1) {
            return std::string("the partitions cannot be compared");
        }
        const cv::Mat labelled = (a != 0) | (b != 0);
        const long cells = cv::countNonZero(labelled);
        const long same = cv::countNonZero((a == b) & labelled);
        *agreed = Format("%ld cells, %.4f of them given the same image by both", cells,
                         cells ? double(same) / double(cells) : 0.0);
        return cells > 0 && double(same) >= share * double(cells) ? std::string() : *agreed;
    };
}

// ---- Pictures

Check PicturesAgree(const std::string& ours, const std::string& theirs, int levels, double share) {
    return [=](std::string* agreed) {
        cv::Mat a, b;
        if (!ReadRaster(ours, &a, nullptr, true) || !ReadRaster(theirs, &b, nullptr, true) ||
            a.size() != b.size() || a.type() != b.type()) {
            return std::string("the pictures cannot be compared");
        }
        long best = -1, cells = 0;
        cv::Point bestShift;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const cv::Rect both = cv::Rect(0, 0, a.cols, a.rows) & cv::Rect(dx, dy, b.cols, b.rows);
                cv::Mat apart;
                cv::absdiff(a(both), b(both - cv::Point(dx, dy)), apart);
                std::vector<cv::Mat> channels;
                cv::split(apart, channels);
                cv::Mat largest = channels[0];
                for (const cv::Mat& channel : channels) {
                    largest = cv::max(largest, channel);
                }
                const long n = cv::countNonZero(largest > levels);
                if (best < 0 || n < best) {
                    best = n;
                    cells = long(both.area());
                    bestShift = {dx, dy};
                }
            }
        }
        *agreed = Format("%ld cells: %ld apart by more than %d levels, shifted by (%d, %d)", cells, best,
                         levels, bestShift.x, bestShift.y);
        return double(best) <= share * double(cells) ? std::string() : *agreed;
    };
}

// ---- Lines burnt into a DEM

// GDAL's cell test places a line that runs within this share of a cell of a cell's side on either
// side of it.
constexpr double kNear = 0.01;

Check BurntLinesAgree(const std::string& ours, const std::string& theirs, const std::string& lines,
                      double tolerance, double grazing) {
    return [=](std::string* agreed) {
        cv::Mat a, b;
        double noA = 0.0, noB = 0.0, gt[6];
        if (!ReadBand(ours, &a, &noA, gt) || !ReadBand(theirs, &b, &noB) || a.size() != b.size()) {
            return std::string("the results cannot be compared");
        }
        long count = 0;
        cv::Mat grazed(a.size(), CV_8UC1, cv::Scalar(0));
        const bool read = ForEachLine(lines, [&](OGRGeometryH line) {
            ++count;
            for (int i = 0; i + 1 < OGR_G_GetPointCount(line); ++i) {
                MarkGrazed((OGR_G_GetX(line, i) - gt[0]) / gt[1], (OGR_G_GetY(line, i) - gt[3]) / gt[5],
                           (OGR_G_GetX(line, i + 1) - gt[0]) / gt[1],
                           (OGR_G_GetY(line, i + 1) - gt[3]) / gt[5], grazing, kNear, &grazed);
            }
        });
        if (!read) {
            return std::string("the lines cannot be read");
        }
        long compared = 0, apart = 0, explained = 0;
        for (int r = 0; r < a.rows; ++r) {
            for (int c = 0; c < a.cols; ++c) {
                const float x = a.at<float>(r, c), y = b.at<float>(r, c);
                const bool missingX = Missing(x, noA), missingY = Missing(y, noB);
                compared += !missingX || !missingY;
                if (missingX != missingY || (!missingX && std::abs(double(x) - double(y)) > tolerance)) {
                    ++apart;
                    explained += grazed.at<uint8_t>(r, c) != 0;
                }
            }
        }
        *agreed = Format(
            "%ld cells, %ld lines: %ld apart, %ld of them grazed by a line (under %.3g of a cell, or within "
            "%.3g of a side)",
            compared, count, apart, explained, grazing, kNear);
        return compared > 0 && apart == explained ? std::string() : *agreed;
    };
}

// ---- Slope maps

Check SlopesAgree(const std::string& ours, const std::string& theirs) {
    return [ours, theirs](std::string* agreed) {
        cv::Mat a, b;
        if (!ReadRaster(ours, &a) || !ReadRaster(theirs, &b) || a.size() != b.size() || a.channels() != 3) {
            return std::string("the slope maps cannot be compared");
        }
        std::vector<float> apart;
        for (int r = 3; r < a.rows - 3; ++r) {
            for (int c = 3; c < a.cols - 3; ++c) {
                const float tangent = a.at<cv::Vec3f>(r, c)[2], percent = b.at<float>(r, c);
                if (tangent != -9999.0f && percent != -9999.0f) {
                    apart.push_back(std::abs(100.0f * tangent - percent));
                }
            }
        }
        if (apart.empty()) {
            return std::string("no cell with a slope on both sides");
        }
        std::nth_element(apart.begin(), apart.begin() + ptrdiff_t(apart.size() / 2), apart.end());
        const float median = apart[apart.size() / 2];
        const double far =
            double(std::count_if(apart.begin(), apart.end(), [](float d) { return d > 5.0f; })) /
            double(apart.size());
        *agreed =
            Format("%zu cells: median difference %.3g %%, %.3g of them over 5 %%", apart.size(), median, far);
        return median < 0.5f && far < 0.02 ? std::string() : *agreed;
    };
}

// ---- Figures

std::string NoWorse(const std::string& figure, double ours, double peer, double absolute, double relative) {
    if (ours <= peer + absolute + relative * std::abs(peer)) {
        return {};
    }
    return Format("%s %.4g against the peer's %.4g (allowed up to %.4g)", figure.c_str(), ours, peer,
                  peer + absolute + relative * std::abs(peer));
}

std::string BareEarthChange::Text() const {
    return Format("median change %.3f, lowered > 1 m %.1f %%, within 1 m %.1f %%, largest lowering %.2f",
                  median, 100.0 * lowered, 100.0 * within, lowest);
}

BareEarthChange ChangeOfBareEarth(const std::string& input, const std::string& result) {
    BareEarthChange change;
    cv::Mat source, grid;
    double noSource = 0.0, noGrid = 0.0;
    if (!ReadBand(input, &source, &noSource) || !ReadBand(result, &grid, &noGrid) ||
        grid.size() != source.size()) {
        return change;
    }
    std::vector<double> changes;
    long lowered = 0, within = 0;
    for (int r = 0; r < grid.rows; ++r) {
        for (int c = 0; c < grid.cols; ++c) {
            const float a = grid.at<float>(r, c), s = source.at<float>(r, c);
            if (Missing(a, noGrid) || Missing(s, noSource)) {
                continue;
            }
            const double d = double(a) - double(s);
            changes.push_back(std::abs(d));
            lowered += d < -1.0;
            within += std::abs(d) <= 1.0;
            change.lowest = std::max(change.lowest, -d);
        }
    }
    if (changes.empty()) {
        return change;
    }
    std::nth_element(changes.begin(), changes.begin() + ptrdiff_t(changes.size() / 2), changes.end());
    change.read = true;
    change.median = changes[changes.size() / 2];
    change.lowered = double(lowered) / double(changes.size());
    change.within = double(within) / double(changes.size());
    return change;
}

// ---- All of several

Check AllAgree(std::vector<std::pair<std::string, Check>> checks) {
    return [checks](std::string* agreed) {
        std::string all;
        for (const auto& [name, check] : checks) {
            std::string one;
            const std::string differs = check(&one);
            if (!differs.empty()) {
                *agreed = name + ": " + one;
                return name + ": " + differs;
            }
            all += (all.empty() ? "" : "; ") + name + ": " + one;
        }
        *agreed = all;
        return std::string();
    };
}

}  // namespace bench
