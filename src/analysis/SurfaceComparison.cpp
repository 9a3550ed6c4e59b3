#include "analysis/SurfaceComparison.h"

#include <QFile>

#include <gdal.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>

#include "analysis/CellSampling.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"

namespace {

const cv::Scalar kBackground(240, 240, 240);
const cv::Vec3b kNoValue(200, 200, 200);

// The blue, green and red bytes of a COLORREF.
cv::Vec3b ImageColour(uint32_t colour) {
    return cv::Vec3b((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
}

struct Box {
    double x0, y0, x1, y1;
    bool IsEmpty() const { return !(x1 > x0 && y1 > y0); }
};

// The world rectangle a grid covers.
Box Outline(const ComparisonGrid& g) {
    const double* gt = g.geoTransform;
    const double xa = gt[0], xb = gt[0] + g.grid.cols * gt[1];
    const double ya = gt[3], yb = gt[3] + g.grid.rows * gt[5];
    return {std::min(xa, xb), std::min(ya, yb), std::max(xa, xb), std::max(ya, yb)};
}

Box Intersect(const Box& a, const Box& b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

double Sample(const ComparisonGrid& g, double x, double y) {
    return SampleAtCellCentres(g.grid, (x - g.geoTransform[0]) / g.geoTransform[1],
                               (y - g.geoTransform[3]) / g.geoTransform[5]);
}

// How many values origin, origin + step, ... lie at or below origin + span.
int64_t SampleCount(double origin, double span, double step) {
    int64_t n = static_cast<int64_t>(std::floor(span / step)) + 1;
    while (n > 1 && origin + (n - 1) * step > origin + span) {
        --n;
    }
    while (origin + n * step <= origin + span) {
        ++n;
    }
    return n;
}

// Moves the bar whenever the rounded percentage changes, and lets pending events through then.
class PercentProgress {
public:
    PercentProgress(ProgressSink* sink, double total) : m_sink(sink), m_total(total) {
        if (m_sink) {
            m_sink->SetRange(0, 100);
            m_sink->SetPos(0);
        }
    }
    void Done(double done) {
        const int percent = static_cast<int>(std::lround(100.0 * done / m_total));
        if (percent != m_percent) {
            m_percent = percent;
            if (m_sink) {
                m_sink->SetPos(percent);
            }
            ZQT_PumpMessages();
        }
    }

private:
    ProgressSink* m_sink;
    double m_total;
    int m_percent = 0;
};

// Draws the filled dots of a picture: the pixels cv::circle fills for a dot of the radius (8-connected
// edge), found once and stamped at each place. A dot of the same colour at the same place as the one
// just drawn would change no pixel, so it is not drawn again: dense sampling puts several samples on
// a pixel.
class DotPainter {
public:
    DotPainter(cv::Mat& picture, int radius) : m_picture(picture) {
        cv::Mat disk = cv::Mat::zeros(2 * radius + 1, 2 * radius + 1, CV_8UC1);
        cv::circle(disk, cv::Point(radius, radius), radius, cv::Scalar(255), cv::FILLED, cv::LINE_8);
        for (int r = 0; r < disk.rows; ++r) {
            int first = -1, last = -1;
            for (int c = 0; c < disk.cols; ++c) {
                if (disk.at<uchar>(r, c)) {
                    first = first < 0 ? c : first;
                    last = c;
                }
            }
            m_spans.push_back({r - radius, first - radius, last - radius, first >= 0});
        }
    }
    void Dot(cv::Point at, const cv::Vec3b& colour) {
        if (at == m_last && colour == m_lastColour) {
            return;
        }
        m_last = at;
        m_lastColour = colour;
        for (const Span& span : m_spans) {
            const int y = at.y + span.dy;
            if (!span.filled || y < 0 || y >= m_picture.rows) {
                continue;
            }
            const int x0 = std::max(0, at.x + span.x0);
            const int x1 = std::min(m_picture.cols - 1, at.x + span.x1);
            cv::Vec3b* row = m_picture.ptr<cv::Vec3b>(y);
            for (int x = x0; x <= x1; ++x) {
                row[x] = colour;
            }
        }
    }

private:
    struct Span {
        int dy, x0, x1;
        bool filled;
    };
    cv::Mat& m_picture;
    std::vector<Span> m_spans;
    cv::Point m_last{INT_MIN, INT_MIN};
    cv::Vec3b m_lastColour;
};

// Sorts one difference into its class, draws its dot and keeps it.
void Classify(double d, const ComparisonSettings& s, cv::Point at, DotPainter& dots,
              ComparisonResult* result) {
    uint32_t colour = s.colourBelow;
    if (d > s.value2) {
        colour = s.colourAbove;
        ++result->above;
    } else if (d > s.value1) {
        colour = s.colourBetween;
        ++result->between;
    }
    dots.Dot(at, ImageColour(colour));
    result->differences.push_back(d);
    result->sum += d;
}

int Floor(double v) {
    return static_cast<int>(std::floor(std::clamp(v, -1e9, 1e9)));
}

}  // namespace

GridRead ReadComparisonGrid(const QString& path, ComparisonGrid* out) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        return GridRead::CannotOpen;
    }
    if (!CDEM::IsValidDemDataset(ds)) {
        GDALClose(ds);
        return GridRead::Invalid;
    }
    CDEM dem(nullptr);
    dem.m_pDataset = ds;  // closed with the DEM
    GDALGetGeoTransform(ds, out->geoTransform);
    out->noData = GDALGetRasterNoDataValue(GDALGetRasterBand(ds, 1), nullptr);
    out->grid = dem.CreateRegionImage(nullptr, cv::Size(dem.Width(), dem.Height()));
    return out->grid.empty() ? GridRead::ReadFailed : GridRead::Ok;
}

ComparisonResult CompareDemToDem(const ComparisonGrid& reference, const ComparisonGrid& compared,
                                 const ComparisonSettings& settings, ProgressSink* progress) {
    ComparisonResult result;
    const double step = settings.step;
    if (!(step > 0.0) || !std::isfinite(step)) {
        result.status = ComparisonResult::InvalidStep;
        return result;
    }
    const Box box = Intersect(Outline(reference), Outline(compared));
    if (box.IsEmpty()) {
        result.status = ComparisonResult::NoOverlap;
        return result;
    }
    const double sx = box.x1 - box.x0;
    const double sy = box.y1 - box.y0;
    const double s = std::max(sx, sy) / 2000.0;
    const int width = Floor(sx / s + 20.0);
    const int height = Floor(sy / s + 15.0);
    result.picture.create(height, width, CV_8UC3);
    result.picture.setTo(kBackground);

    DotPainter dots(result.picture, 5);
    const int64_t columns = SampleCount(box.x0, sx, step);
    const int64_t rows = SampleCount(box.y0, sy, step);
    const int64_t total = columns * rows;
    PercentProgress percent(progress, static_cast<double>(total));
    // The samples are taken in chunks in parallel (each is a pure function of its place); they are
    // classified and drawn in visiting order.
    constexpr int64_t kChunk = int64_t(1) << 18;
    std::vector<double> r(static_cast<size_t>(std::min(total, kChunk)));
    std::vector<double> c(r.size());
    for (int64_t first = 0; first < total; first += kChunk) {
        const int64_t count = std::min(kChunk, total - first);
        cv::parallel_for_(cv::Range(0, static_cast<int>(count)), [&](const cv::Range& range) {
            for (int k = range.start; k < range.end; ++k) {
                const int64_t index = first + k;
                const double x = box.x0 + static_cast<double>(index % columns) * step;
                const double y = box.y0 + static_cast<double>(index / columns) * step;
                r[size_t(k)] = Sample(reference, x, y);
                c[size_t(k)] = Sample(compared, x, y);
            }
        });
        for (int64_t k = 0; k < count; ++k) {
            const int64_t i = (first + k) % columns + 1;
            const int64_t j = (first + k) / columns + 1;
            const cv::Point at(Floor(static_cast<double>(i) * step * width / sx),
                               Floor((sy - static_cast<double>(j) * step) * height / sy));
            percent.Done(static_cast<double>(first + k + 1));
            const double rv = r[size_t(k)], cv = c[size_t(k)];
            if (rv == reference.noData || cv == compared.noData || rv == kNoData || cv == kNoData) {
                dots.Dot(at, kNoValue);
                continue;
            }
            Classify(std::abs(rv - cv), settings, at, dots, &result);
        }
    }
    return result;
}

bool ReadPointCloud(const QStringList& files, PointFileReader::Kind kind, ProgressSink* progress,
                    PointCloud* cloud, QString* failedFile) {
    *cloud = PointCloud();
    if (progress) {
        progress->SetRange(0, static_cast<int>(files.size()));
        progress->SetPos(0);
    }
    bool first = true;
    std::vector<double> xyz(3 * 65536);
    for (int f = 0; f < files.size(); ++f) {
        std::unique_ptr<PointFileReader> reader = PointFileReader::Open(files[f], kind);
        if (!reader) {
            if (failedFile) {
                *failedFile = files[f];
            }
            return false;
        }
        while (const size_t n = reader->Read(xyz.data(), xyz.size() / 3)) {
            for (size_t k = 0; k < n; ++k) {
                const double x = xyz[3 * k], y = xyz[3 * k + 1], z = xyz[3 * k + 2];
                if (first) {
                    cloud->originX = x;
                    cloud->originY = y;
                    cloud->minX = cloud->maxX = x;
                    cloud->minY = cloud->maxY = y;
                    first = false;
                }
                cloud->minX = std::min(cloud->minX, x);
                cloud->maxX = std::max(cloud->maxX, x);
                cloud->minY = std::min(cloud->minY, y);
                cloud->maxY = std::max(cloud->maxY, y);
                cloud->offsets.emplace_back(static_cast<float>(x - cloud->originX),
                                            static_cast<float>(y - cloud->originY), static_cast<float>(z));
            }
            ZQT_PumpMessages();
        }
        if (progress) {
            progress->SetPos(f + 1);
        }
    }
    return true;
}

ComparisonResult ComparePointsToDem(const ComparisonGrid& reference, const PointCloud& cloud,
                                    PointFileReader::Kind kind, const ComparisonSettings& settings,
                                    ProgressSink* progress) {
    ComparisonResult result;
    const Box box = cloud.offsets.empty()
                        ? Box{0, 0, 0, 0}
                        : Intersect({cloud.minX, cloud.minY, cloud.maxX, cloud.maxY}, Outline(reference));
    if (box.IsEmpty()) {
        result.status = ComparisonResult::NoOverlap;
        return result;
    }
    const double sx = box.x1 - box.x0;
    const double sy = box.y1 - box.y0;
    const bool las = kind == PointFileReader::Kind::Las;
    const double s = std::max(sx, sy) / (las ? 4000.0 : 2000.0);
    const double margin = las ? 0.0 : 10.0;
    result.picture.create(std::max(1, Floor(sy / s + margin)), std::max(1, Floor(sx / s + margin)), CV_8UC3);
    result.picture.setTo(kBackground);
    DotPainter dots(result.picture, las ? 1 : 5);

    const size_t n = cloud.offsets.size();
    const size_t k =
        settings.step >= 2.0 ? static_cast<size_t>(std::min(std::floor(settings.step), double(n))) : 1;
    // The corner of the common area as offsets from the origin, taken in double precision.
    const double left = box.x0 - cloud.originX;
    const double bottom = box.y0 - cloud.originY;
    PercentProgress percent(progress, static_cast<double>(n));
    for (size_t index = 0; index < n; index += k) {
        const cv::Point3f& p = cloud.offsets[index];
        percent.Done(static_cast<double>(index + 1));
        const double r = Sample(reference, cloud.originX + p.x, cloud.originY + p.y);
        const cv::Point at(Floor((p.x - left) / s + 5.0), Floor(sy / s - (p.y - bottom) / s + 5.0));
        if (r == reference.noData || r == kNoData) {
            dots.Dot(at, kNoValue);
            continue;
        }
        Classify(std::abs(r - p.z), settings, at, dots, &result);
    }
    return result;
}

ComparisonStatistics Summarise(const ComparisonResult& result) {
    ComparisonStatistics s;
    s.count = static_cast<int64_t>(result.differences.size());
    if (s.count == 0) {
        return s;
    }
    s.mean = result.sum / static_cast<double>(s.count);
    double squares = 0.0;
    for (double d : result.differences) {
        squares += (d - s.mean) * (d - s.mean);
    }
    s.deviation = std::sqrt(squares / static_cast<double>(s.count));
    s.between = result.between;
    s.above = result.above;
    s.below = s.count - s.between - s.above;
    return s;
}
