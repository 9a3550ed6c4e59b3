#include "raster/ClassReport.h"

#include <QDir>
#include <QFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/tools/ProgressSink.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"

namespace kv {

namespace {

constexpr int kBlock = 2048;

// Truncation toward zero, saturated to the int range (NaN gives 0).
int TruncatedPixel(double value) {
    if (!(value == value)) {
        return 0;
    }
    if (value >= double(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    if (value <= double(std::numeric_limits<int>::min())) {
        return std::numeric_limits<int>::min();
    }
    return static_cast<int>(value);
}

// Walks the valid cells of the window in processing order. visit(column, row, value, turn) gets
// the cell's window column and row, its value and its turn: the cell's place in processing order
// among all cells of the window, valid or not.
template <class Visit>
WalkResult Walk(GDALRasterBandH band, const ClassWindow& window, double noData, ProgressSink* progress,
                Visit&& visit) {
    if (!band || window.width <= 0 || window.height <= 0) {
        return WalkResult::ReadFailed;
    }
    if (progress) {
        progress->SetRange(0, 100);
        progress->SetPos(0);
    }
    const double total = double(window.width) * double(window.height);
    std::vector<double> buffer;
    int64_t done = 0;
    int shown = 0;
    for (int by = 0; by < window.height; by += kBlock) {
        const int bh = std::min(kBlock, window.height - by);
        for (int bx = 0; bx < window.width; bx += kBlock) {
            const int bw = std::min(kBlock, window.width - bx);
            buffer.resize(size_t(bw) * size_t(bh));
            if (GDALRasterIO(band, GF_Read, window.column + bx, window.row + by, bw, bh, buffer.data(), bw,
                             bh, GDT_Float64, 0, 0) != CE_None) {
                return WalkResult::ReadFailed;
            }
            for (int j = 0; j < bh; ++j) {
                ZQT_PumpMessages();
                if (progress && progress->IsAborted()) {
                    return WalkResult::Aborted;
                }
                const double* values = buffer.data() + size_t(j) * size_t(bw);
                const int row = by + j;
                const double pixelRow = double(window.row + row);
                for (int k = 0; k < bw; ++k) {
                    const double v = values[k];
                    if (IsNoDataValue(v, noData)) {
                        continue;
                    }
                    const int column = bx + k;
                    if (window.restricted &&
                        !window.area.PtInPolygon(double(window.column + column), pixelRow)) {
                        continue;
                    }
                    visit(column, row, v, done + k);
                }
                done += bw;
                const int percent = static_cast<int>(std::lround(double(done) * 100.0 / total));
                if (progress && percent != shown) {
                    shown = percent;
                    progress->SetPos(percent);
                }
            }
        }
    }
    return WalkResult::Done;
}

cv::Vec3b Bgr(COLORREF colour) {
    return cv::Vec3b(uchar((colour >> 16) & 0xFF), uchar((colour >> 8) & 0xFF), uchar(colour & 0xFF));
}

// Draws the circles of the cells onto the picture: the pixels OpenCV's filled circle of the
// radius covers, stamped row span by row span.
class CirclePicture {
public:
    CirclePicture(int columns, int rows, const ClassStyle& style) {
        const cv::Size size = ClassPictureSize(columns, rows);
        m_picture.create(size, CV_8UC3);
        m_picture.setTo(cv::Scalar::all(std::clamp(style.background, 0, 255)));
        for (COLORREF colour : style.colours) {
            m_colours.push_back(Bgr(colour));
        }
        const int radius = std::max(0, style.radius);
        cv::Mat disk(2 * radius + 1, 2 * radius + 1, CV_8UC1, cv::Scalar(0));
        cv::circle(disk, cv::Point(radius, radius), radius, cv::Scalar(255), cv::FILLED, cv::LINE_8);
        for (int y = 0; y < disk.rows; ++y) {
            int first = -1, last = -1;
            for (int x = 0; x < disk.cols; ++x) {
                if (disk.at<uchar>(y, x)) {
                    first = first < 0 ? x : first;
                    last = x;
                }
            }
            if (first >= 0) {
                m_spans.push_back({y - radius, first - radius, last - radius});
            }
        }
        m_centreX.resize(size_t(columns));
        for (int c = 0; c < columns; ++c) {
            m_centreX[size_t(c)] = int(int64_t(c) * size.width / columns);
        }
        m_centreY.resize(size_t(rows));
        for (int r = 0; r < rows; ++r) {
            m_centreY[size_t(r)] = int(int64_t(r) * size.height / rows);
        }
        // Distinct cells land on distinct centres when the picture has at least as many columns
        // and rows as the window; otherwise only the last cell drawn at a centre shows there.
        m_shared = size.width < columns || size.height < rows;
        if (m_shared) {
            m_lastTurn.assign(size_t(size.width) * size_t(size.height), -1);
            m_lastClass.assign(m_lastTurn.size(), 0);
        }
    }

    void Add(int column, int row, int cls, int64_t turn) {
        if (!m_shared) {
            Stamp(m_centreX[size_t(column)], m_centreY[size_t(row)], cls);
            return;
        }
        const size_t centre = Centre(column, row);
        m_lastTurn[centre] = turn;
        m_lastClass[centre] = uint8_t(cls);
    }

    // Draws the shared centres, each once, in the order of the turns their last cells had.
    cv::Mat Finish(int windowWidth, int windowHeight) {
        if (m_shared) {
            int64_t turn = 0;
            for (int by = 0; by < windowHeight; by += kBlock) {
                const int bh = std::min(kBlock, windowHeight - by);
                for (int bx = 0; bx < windowWidth; bx += kBlock) {
                    const int bw = std::min(kBlock, windowWidth - bx);
                    for (int j = 0; j < bh; ++j) {
                        for (int k = 0; k < bw; ++k, ++turn) {
                            const size_t centre = Centre(bx + k, by + j);
                            if (m_lastTurn[centre] == turn) {
                                Stamp(m_centreX[size_t(bx + k)], m_centreY[size_t(by + j)],
                                      m_lastClass[centre]);
                            }
                        }
                    }
                }
            }
            m_lastTurn.clear();
            m_lastClass.clear();
        }
        return m_picture;
    }

private:
    struct Span {
        int dy, x0, x1;
    };

    size_t Centre(int column, int row) const {
        return size_t(m_centreY[size_t(row)]) * size_t(m_picture.cols) + size_t(m_centreX[size_t(column)]);
    }

    void Stamp(int cx, int cy, int cls) {
        const cv::Vec3b colour = cls < int(m_colours.size()) ? m_colours[size_t(cls)] : cv::Vec3b(0, 0, 0);
        for (const Span& s : m_spans) {
            const int y = cy + s.dy;
            if (y < 0 || y >= m_picture.rows) {
                continue;
            }
            const int x0 = std::max(0, cx + s.x0);
            const int x1 = std::min(m_picture.cols - 1, cx + s.x1);
            cv::Vec3b* line = m_picture.ptr<cv::Vec3b>(y);
            for (int x = x0; x <= x1; ++x) {
                line[x] = colour;
            }
        }
    }

    cv::Mat m_picture;
    std::vector<cv::Vec3b> m_colours;
    std::vector<Span> m_spans;
    std::vector<int> m_centreX;
    std::vector<int> m_centreY;
    bool m_shared = false;
    std::vector<int64_t> m_lastTurn;
    std::vector<uint8_t> m_lastClass;
};

}  // namespace

ClassWindow WholeRasterWindow(int columns, int rows) {
    ClassWindow window;
    window.width = std::max(0, columns);
    window.height = std::max(0, rows);
    return window;
}

bool AreaClassWindow(const std::vector<Wml::Point2>& area, const double* gt, double right, double bottom,
                     int columns, int rows, ClassWindow* window) {
    if (area.size() < 3 || !gt || gt[1] == 0.0 || gt[5] == 0.0 || columns <= 0 || rows <= 0) {
        return false;
    }
    std::vector<Wml::Point2> pixels;
    pixels.reserve(area.size());
    for (const Wml::Point2& p : area) {
        pixels.emplace_back(TruncatedPixel((p.X() - gt[0]) / gt[1]), TruncatedPixel((p.Y() - gt[3]) / gt[5]));
    }
    const Wml::Point2 rect[4] = {{0.0, 0.0}, {right, 0.0}, {right, bottom}, {0.0, bottom}};
    const CPgon clipped = CPgon(pixels.data(), int(pixels.size())) & CPgon(rect, 4);
    Wml::Point2 lo, hi;
    if (clipped.GetNumContours() == 0 || !clipped.GetBoundingBox(lo, hi)) {
        return false;
    }
    const double c0 = std::floor(lo.X());
    const double r0 = std::floor(lo.Y());
    const double width = std::min(std::ceil(hi.X() - c0 + 1.0), double(columns) - c0);
    const double height = std::min(std::ceil(hi.Y() - r0 + 1.0), double(rows) - r0);
    if (!(c0 >= 0.0 && r0 >= 0.0 && width >= 1.0 && height >= 1.0)) {
        return false;
    }
    window->column = int(c0);
    window->row = int(r0);
    window->width = int(width);
    window->height = int(height);
    window->restricted = true;
    window->area = clipped;
    return true;
}

WalkResult ScanValues(GDALRasterBandH band, const ClassWindow& window, double noData, ProgressSink* progress,
                      ValueScan* scan) {
    ValueScan found;
    found.minimum = std::numeric_limits<double>::max();
    found.maximum = std::numeric_limits<double>::lowest();
    const WalkResult result = Walk(band, window, noData, progress, [&](int, int, double v, int64_t) {
        ++found.count;
        found.minimum = std::min(found.minimum, v);
        found.maximum = std::max(found.maximum, v);
    });
    if (found.count == 0) {
        found.minimum = found.maximum = 0.0;
    }
    *scan = found;
    return result;
}

int ClassOf(double value, const std::vector<double>& upperBounds) {
    for (size_t k = 0; k < upperBounds.size(); ++k) {
        if (value <= upperBounds[k]) {
            return int(k);
        }
    }
    return int(upperBounds.size());
}

cv::Size ClassPictureSize(int columns, int rows) {
    if (columns <= 0 || rows <= 0) {
        return cv::Size(20, 15);
    }
    const double s = std::max(columns, rows) / 3000.0;
    return cv::Size(int(columns / s + 20), int(rows / s + 15));
}

int ClassCircleRadius(double area) {
    if (area < 50) {
        return 7;
    }
    if (area < 100) {
        return 6;
    }
    if (area < 150) {
        return 5;
    }
    if (area < 250) {
        return 4;
    }
    return 3;
}

WalkResult ClassifyValues(GDALRasterBandH band, const ClassWindow& window, double noData,
                          const ClassStyle& style, ProgressSink* progress, ClassTally* tally) {
    ClassTally found;
    found.counts.assign(style.upperBounds.size() + 1, 0);
    CirclePicture picture(std::max(window.width, 1), std::max(window.height, 1), style);
    // The sums of the values and of their squares taken from the first valid value: the same
    // standard deviation as a second pass over every value, without keeping them, and without
    // the cancellation of plain sums when the values lie far from zero.
    bool first = true;
    double shift = 0.0;
    double shifted = 0.0;
    double squares = 0.0;
    const WalkResult result = Walk(band, window, noData, progress, [&](int c, int r, double v, int64_t turn) {
        const int cls = ClassOf(v, style.upperBounds);
        ++found.counts[size_t(cls)];
        ++found.total;
        found.sum += v;
        if (first) {
            first = false;
            shift = v;
        }
        const double d = v - shift;
        shifted += d;
        squares += d * d;
        picture.Add(c, r, cls, turn);
    });
    if (result != WalkResult::Done) {
        return result;
    }
    if (found.total > 0) {
        const double n = double(found.total);
        found.mean = found.sum / n;
        found.standardDeviation = std::sqrt(std::max(0.0, (squares - shifted * shifted / n) / n));
    }
    found.picture = picture.Finish(window.width, window.height);
    *tally = std::move(found);
    return result;
}

bool WriteJpeg(const cv::Mat& picture, const QString& path, QString* temporary) {
    std::vector<uchar> jpeg;
    try {
        if (picture.empty() || !cv::imencode(".jpg", picture, jpeg)) {
            return false;
        }
    } catch (const cv::Exception&) {
        return false;
    }
    SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(jpeg.data()), qint64(jpeg.size())) != qint64(jpeg.size())) {
        return false;
    }
    return temporary ? file.finish(temporary) : file.commit();
}

QString ReportScratchFolder() {
    const QString work = ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1);
    if (work.isEmpty()) {
        return QString();
    }
    const QString folder = ZQT_OptimizePath(work, 1) + QStringLiteral("tempReport");
    return QDir().mkpath(folder) ? folder : QString();
}

}  // namespace kv
