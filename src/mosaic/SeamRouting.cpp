#include "mosaic/SeamRouting.h"

#include <QFile>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <memory>

#include "mosaic/AStar.h"
#include "platform/raster/ExtractROI.h"
#include "platform/tools/ZQT.h"
#include "raster/RasterIO.h"

namespace {

// Costs of the seam search: a wall that is never added to a sum, reuse increment, heuristic
// scale, and steps that make a diagonal move cheaper than a straight one.
constexpr int kWall = 100000000;
constexpr int kReuseIncrement = 1;
constexpr int kHeuristicScale = 10;
constexpr int kStraightStep = 14;
constexpr int kDiagonalStep = 12;
constexpr int kEndRadius = 8;
constexpr int kEndCost = 64;
constexpr unsigned char kOutside = 254;
constexpr unsigned char kWallPixel = 255;
constexpr double kSimplifyEpsilon = 0.49;

long long g_jitterSeed = -1;

// The fractions of PgonFromMaskContours: a linear congruential generator with 15-bit results.
class JitterGenerator {
public:
    explicit JitterGenerator(unsigned seed) : m_state(seed) {}
    int Next() {
        m_state = m_state * 214013u + 2531011u;
        return int((m_state >> 16) & 0x7FFF);
    }

private:
    unsigned m_state;
};

// Node cost of every pixel value below the wall: trunc(c^1.5).
const std::array<int, 255>& NodeCosts() {
    static const std::array<int, 255> table = [] {
        std::array<int, 255> t{};
        for (int c = 0; c < 255; ++c) {
            t[size_t(c)] = int(std::pow(double(c), 1.5));
        }
        return t;
    }();
    return table;
}

// The cell of a map point in an image reduced by s, clamped onto the image.
int ClampedCell(double value, int size) {
    const double t = std::trunc(value);
    if (!(t > 0.0)) {
        return 0;
    }
    return t >= double(size - 1) ? size - 1 : int(t);
}

struct GridFree {
    void operator()(AStarGrid* grid) const { AStarDestroy(grid); }
};

}  // namespace

CPgon PgonFromMaskContours(const cv::Mat& mask, cv::Point2d offset) {
    CPgon polygon;
    if (mask.empty() || mask.type() != CV_8UC1) {
        return polygon;
    }
    std::vector<std::vector<cv::Point>> contours;
    cv::Mat copy = mask.clone();
    cv::findContours(copy, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
    const double minimumArea = 0.05 * double(mask.cols) * double(mask.rows);
    JitterGenerator jitter(g_jitterSeed >= 0 ? unsigned(g_jitterSeed) : unsigned(std::time(nullptr)));
    std::vector<Wml::Point2> points;
    for (const std::vector<cv::Point>& contour : contours) {
        if (cv::contourArea(contour) < minimumArea) {
            continue;
        }
        points.clear();
        for (const cv::Point& p : contour) {
            const double shift = jitter.Next() / 32767.0;
            points.emplace_back(p.x + offset.x - shift, p.y + offset.y - shift);
        }
        polygon.AddContour(points.data(), int(points.size()));
    }
    return polygon;
}

void SetMaskContourJitterSeed(long long seed) {
    g_jitterSeed = seed;
}

void BlackOutsideValidArea(cv::Mat& image) {
    cv::Mat valid = BuildValidAreaMask(image);
    if (!valid.empty()) {
        image.setTo(cv::Scalar::all(0), valid == 0);
    }
}

int ReadOrthoSeamImage(const QString& path, double scale, cv::Mat& image, double geoTransform[6]) {
    image.release();
    if (!(scale >= 1.0)) {
        return 0;
    }
    GDALDatasetH dataset = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!dataset) {
        return 0;
    }
    const int width = int(GDALGetRasterXSize(dataset) / scale);
    const int height = int(GDALGetRasterYSize(dataset) / scale);
    bool ok = GDALGetGeoTransform(dataset, geoTransform) == CE_None && width > 0 && height > 0;
    if (ok) {
        image.create(height, width, CV_8UC3);
        ok = GDALExtractROI(dataset, image, nullptr, kExtractColour) != 0;
    }
    GDALClose(dataset);
    if (!ok) {
        image.release();
        return 0;
    }
    BlackOutsideValidArea(image);
    return 1;
}

cv::Mat SeamValidMask(const cv::Mat& image) {
    cv::Mat grey, mask;
    cv::cvtColor(image, grey, cv::COLOR_RGB2GRAY);
    cv::threshold(grey, mask, 1, 255, cv::THRESH_BINARY);
    return mask;
}

bool BuildSeamOverlapCost(const cv::Mat& a, const cv::Mat& b, cv::Mat& overlap, cv::Mat& cost) {
    if (a.empty() || a.type() != CV_8UC3 || b.type() != CV_8UC3 || a.size() != b.size()) {
        overlap.release();
        cost.release();
        return false;
    }
    overlap.create(a.size(), CV_8UC1);
    cost.create(a.size(), CV_8UC1);
    cv::parallel_for_(cv::Range(0, a.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            const cv::Vec3b* pa = a.ptr<cv::Vec3b>(y);
            const cv::Vec3b* pb = b.ptr<cv::Vec3b>(y);
            unsigned char* po = overlap.ptr<unsigned char>(y);
            unsigned char* pq = cost.ptr<unsigned char>(y);
            for (int x = 0; x < a.cols; ++x) {
                const cv::Vec3b& ca = pa[x];
                const cv::Vec3b& cb = pb[x];
                if (!(ca[0] | ca[1] | ca[2]) || !(cb[0] | cb[1] | cb[2])) {
                    po[x] = 0;
                    pq[x] = kOutside;
                    continue;
                }
                const int c1 = int(0.3 * std::max(ca[2], cb[2]));
                const int c2 =
                    int((3.0 * std::abs(ca[2] - cb[2]) + std::abs(ca[1] - cb[1]) + std::abs(ca[0] - cb[0])) /
                        5.0 * 0.5);
                po[x] = 255;
                pq[x] = static_cast<unsigned char>(std::min(254, c1 + c2));
            }
        }
    });
    return true;
}

SeamCorridor SeamCorridorFor(double meanPixelSize, double pixelSize, double scale) {
    SeamCorridor corridor;
    const double width = std::trunc(meanPixelSize * 64.0 / pixelSize / scale);
    corridor.halfWidth = width > 16.0 ? (width < 1e6 ? int(width) : 1000000) : 16;
    corridor.slope = 128 / (2 * corridor.halfWidth);
    return corridor;
}

void ShapeSeamCost(cv::Mat& cost, cv::Point start, cv::Point end, const SeamCorridor& corridor) {
    cv::circle(cost, start, kEndRadius, cv::Scalar(kEndCost), cv::FILLED, cv::LINE_8);
    cv::circle(cost, end, kEndRadius, cv::Scalar(kEndCost), cv::FILLED, cv::LINE_8);
    const double length = std::hypot(double(end.x - start.x), double(end.y - start.y));
    const double angle = std::atan2(double(end.y - start.y), double(end.x - start.x));
    const double c = std::cos(angle), s = std::sin(angle);
    // Positions along and across the axis are truncated towards zero; they stay far inside the
    // int range for any image.
    const int alongMax = int(std::rint(length)) + 2;
    const int hw = corridor.halfWidth, k = corridor.slope;
    cv::parallel_for_(cv::Range(0, cost.rows), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y) {
            unsigned char* row = cost.ptr<unsigned char>(y);
            const double dy = y - start.y;
            for (int x = 0; x < cost.cols; ++x) {
                const double dx = x - start.x;
                const int along = int(c * dx + s * dy);
                if (along < -2 || along > alongMax) {
                    if (row[x] != kOutside) {
                        row[x] = kWallPixel;
                    }
                    continue;
                }
                const int across = std::abs(int(c * dy - s * dx));
                if (across > hw) {
                    row[x] = static_cast<unsigned char>(std::min(254, row[x] + across * k - hw * k));
                }
            }
        }
    });
}

int SearchSeam(const cv::Mat& cost, cv::Point start, cv::Point end, cv::Point2f offset, const int* abortFlag,
               std::vector<cv::Point2f>& seam) {
    seam.clear();
    std::vector<cv::Point2f> raw;
    std::unique_ptr<AStarGrid, GridFree> grid(AStarCreate(cost.cols, cost.rows));
    if (grid) {
        AStarSetCosts(grid.get(), kWall, kReuseIncrement, kHeuristicScale, kStraightStep, kDiagonalStep);
        grid->heuristic = AStarHeuristicEuclid;
        grid->key = AStarKeyPathCost;
        ZQT_PumpMessages();
        if (abortFlag && *abortFlag) {
            return -3;
        }
        const std::array<int, 255>& nodeCost = NodeCosts();
        for (int y = 0; y < cost.rows; ++y) {
            const unsigned char* row = cost.ptr<unsigned char>(y);
            AStarNode* nodes = grid->nodes + size_t(y) * size_t(cost.cols);
            for (int x = 0; x < cost.cols; ++x) {
                nodes[x].cost = row[x] == kWallPixel ? kWall : nodeCost[row[x]];
            }
        }
        AStarStep* steps = nullptr;
        const int count = AStarFindPath(grid.get(), AStarNodeAt(grid.get(), start.x, start.y),
                                        AStarNodeAt(grid.get(), end.x, end.y), &steps);
        raw.reserve(size_t(count));
        for (int i = 0; i < count; ++i) {
            raw.emplace_back(float(steps[i].x + offset.x), float(steps[i].y + offset.y));
        }
        std::free(steps);
    }
    if (raw.empty()) {
        raw = {cv::Point2f(float(start.x + offset.x), float(start.y + offset.y)),
               cv::Point2f(float(end.x + offset.x), float(end.y + offset.y))};
    }
    cv::approxPolyDP(raw, seam, kSimplifyEpsilon, false);
    return 1;
}

bool OrthoSeamImageSource::Open(int index, double geoTransform[6]) {
    Close();
    if (index < 0 || size_t(index) >= m_paths.size()) {
        return false;
    }
    m_dataset = GDALOpen(QFile::encodeName(m_paths[size_t(index)]).constData(), GA_ReadOnly);
    if (m_dataset && GDALGetGeoTransform(m_dataset, geoTransform) != CE_None) {
        Close();
    }
    return m_dataset != nullptr;
}

bool OrthoSeamImageSource::Read(const cv::Rect& window, cv::Mat& image) {
    if (!m_dataset || !GDALExtractROI(m_dataset, image, &window, kExtractColour)) {
        return false;
    }
    BlackOutsideValidArea(image);
    return true;
}

void OrthoSeamImageSource::Close() {
    if (m_dataset) {
        GDALClose(m_dataset);
        m_dataset = nullptr;
    }
}

SeamRouter::SeamRouter(const SeamlineGrid& grid, double meanPixelSize,
                       const CCentralImagineryParams& centralImagery, const SeamSegmentLists& segments,
                       SeamImageSource& neighbours, const int* abortFlag)
    : m_grid(grid),
      m_meanPixelSize(meanPixelSize),
      m_centralImagery(centralImagery),
      m_segments(segments),
      m_neighbours(neighbours),
      m_abortFlag(abortFlag) {
    m_stored.resize(segments.size());
    for (size_t i = 0; i < segments.size(); ++i) {
        m_stored[i].resize(segments[i].size());
    }
}

bool SeamRouter::Aborted() const {
    return m_abortFlag && *m_abortFlag;
}

int SeamRouter::SharedSegment(int earlier, int later, const SeamSegment& segment) const {
    const double r = m_meanPixelSize / 100.0;
    auto near = [r](const Wml::Point2& p, const Wml::Point2& q) { return (p - q).Length() <= r; };
    const std::vector<SeamSegment>& list = m_segments[size_t(earlier)];
    for (size_t k = 0; k < list.size(); ++k) {
        if (list[k].neighbour == later && near(list[k].start, segment.end) &&
            near(list[k].end, segment.start)) {
            return int(k);
        }
    }
    return -1;
}

int SeamRouter::RouteImage(int index, const cv::Mat& a, const cv::Mat& validMask,
                           const double geoTransform[6], std::vector<Wml::Point2>& outline) {
    if (index < 0 || size_t(index) >= m_segments.size()) {
        return 0;
    }
    if (a.empty() || a.type() != CV_8UC3 || validMask.type() != CV_8UC1 || validMask.size() != a.size()) {
        return -2;
    }
    const std::vector<SeamSegment>& list = m_segments[size_t(index)];
    const int images = int(m_segments.size());
    for (size_t k = 0; k < list.size(); ++k) {
        const SeamSegment& segment = list[k];
        const int n = segment.neighbour;
        if (n < 0 || n == index || n >= images) {
            outline.push_back(m_grid.ToGrid(segment.start.X(), segment.start.Y()));
            outline.push_back(m_grid.ToGrid(segment.end.X(), segment.end.Y()));
            continue;
        }
        if (n < index) {
            const int shared = SharedSegment(n, index, segment);
            if (shared < 0 || m_stored[size_t(n)][size_t(shared)].empty()) {
                continue;
            }
            SeamPath& path = m_stored[size_t(n)][size_t(shared)];
            const Wml::Point2 p0 = m_grid.ToGrid(segment.start.X(), segment.start.Y());
            auto distance = [&p0](const cv::Point2f& q) { return std::hypot(q.x - p0.X(), q.y - p0.Y()); };
            if (distance(path.front()) < distance(path.back())) {
                for (const cv::Point2f& q : path) {
                    outline.emplace_back(q.x, q.y);
                }
            } else {
                for (auto q = path.rbegin(); q != path.rend(); ++q) {
                    outline.emplace_back(q->x, q->y);
                }
            }
            path.clear();
            continue;
        }
        const int result = RouteSegment(index, int(k), a, validMask, geoTransform, outline);
        m_neighbours.Close();
        if (result != 0) {
            return result;
        }
    }
    return 0;
}

int SeamRouter::RouteSegment(int index, int segmentIndex, const cv::Mat& a, const cv::Mat& validMask,
                             const double geoTransform[6], std::vector<Wml::Point2>& outline) {
    const SeamSegment& segment = m_segments[size_t(index)][size_t(segmentIndex)];
    SeamPath& stored = m_stored[size_t(index)][size_t(segmentIndex)];
    const Wml::Point2 p0 = m_grid.ToGrid(segment.start.X(), segment.start.Y());
    const Wml::Point2 p1 = m_grid.ToGrid(segment.end.X(), segment.end.Y());
    auto straight = [&]() {
        outline.push_back(p0);
        outline.push_back(p1);
        stored = {cv::Point2f(float(p0.X()), float(p0.Y())), cv::Point2f(float(p1.X()), float(p1.Y()))};
        return 0;
    };

    double gtB[6];
    if (!m_neighbours.Open(segment.neighbour, gtB)) {
        return 0;
    }
    const double s = m_grid.scale, p = m_grid.pixelSize;
    const double* gt = geoTransform;
    const double column = std::rint((gt[0] - gtB[0]) / gtB[1]), row = std::rint((gt[3] - gtB[3]) / gtB[5]);
    const double width = std::rint(a.cols * s), height = std::rint(a.rows * s);
    // A window beyond the reach of pixel coordinates (a raster without pixel size) reads nothing.
    constexpr double kLimit = 1e9;
    if (!(std::fabs(column) < kLimit && std::fabs(row) < kLimit && width < kLimit && height < kLimit)) {
        return straight();
    }
    const cv::Rect window{int(column), int(row), int(width), int(height)};
    cv::Mat b(a.size(), CV_8UC3);
    if (!m_neighbours.Read(window, b)) {
        return straight();
    }

    cv::Mat overlap, cost;
    if (!BuildSeamOverlapCost(a, b, overlap, cost)) {
        return straight();
    }
    b.release();
    ZQT_PumpMessages();
    if (Aborted()) {
        return -3;
    }
    ZQT_PumpMessages();
    if (Aborted()) {
        return -3;
    }
    if (m_centralImagery.m_enable) {
        if (!m_centralImagery.IsValid()) {
            return -2;
        }
        m_centralImagery.AddPenalty(cost);
        ZQT_PumpMessages();
        if (Aborted()) {
            return -3;
        }
    }

    const cv::Point2d origin(std::rint((gt[0] - m_grid.minX) / p / s),
                             std::rint(-(gt[3] - m_grid.maxY) / p / s));
    if (PgonFromMaskContours(validMask, origin).GetNumContours() == 0 ||
        PgonFromMaskContours(overlap, cv::Point2d(0, 0)).GetNumContours() == 0) {
        return straight();
    }

    const cv::Point start(ClampedCell((segment.start.X() - gt[0]) / gt[1] / s, a.cols),
                          ClampedCell((segment.start.Y() - gt[3]) / gt[5] / s, a.rows));
    const cv::Point end(ClampedCell((segment.end.X() - gt[0]) / gt[1] / s, a.cols),
                        ClampedCell((segment.end.Y() - gt[3]) / gt[5] / s, a.rows));
    ShapeSeamCost(cost, start, end, SeamCorridorFor(m_meanPixelSize, p, s));

    SeamPath seam;
    if (SearchSeam(cost, start, end, cv::Point2f(float(origin.x), float(origin.y)), m_abortFlag, seam) != 1) {
        return -3;
    }
    for (const cv::Point2f& q : seam) {
        outline.emplace_back(q.x, q.y);
    }
    stored = std::move(seam);
    return 0;
}
