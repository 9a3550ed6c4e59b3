#include "analysis/SurfaceComparison.h"

#include <QFile>

#include <gdal.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

#include "platform/tools/ZQT.h"
#include "platform/ui/ProgressSink.h"
#include "raster/DEM.h"

namespace {

const cv::Scalar kBackground(240, 240, 240);
const cv::Scalar kNoValue(200, 200, 200);

cv::Scalar ImageColour(uint32_t colour) {
    return cv::Scalar((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF);
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
    return SampleGrid(g.grid, (x - g.geoTransform[0]) / g.geoTransform[1],
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

// Sorts one difference into its class, draws its dot and keeps it.
void Classify(double d, const ComparisonSettings& s, cv::Point at, int radius, ComparisonResult* result) {
    uint32_t colour = s.colourBelow;
    if (d > s.value2) {
        colour = s.colourAbove;
        ++result->above;
    } else if (d > s.value1) {
        colour = s.colourBetween;
        ++result->between;
    }
    cv::circle(result->picture, at, radius, ImageColour(colour), cv::FILLED, cv::LINE_8);
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

    const int64_t columns = SampleCount(box.x0, sx, step);
    const int64_t rows = SampleCount(box.y0, sy, step);
    PercentProgress percent(progress, static_cast<double>(columns) * static_cast<double>(rows));
    double visited = 0.0;
    for (int64_t j = 1; j <= rows; ++j) {
        const double y = box.y0 + static_cast<double>(j - 1) * step;
        const int py = Floor((sy - static_cast<double>(j) * step) * height / sy);
        for (int64_t i = 1; i <= columns; ++i) {
            const double x = box.x0 + static_cast<double>(i - 1) * step;
            const cv::Point at(Floor(static_cast<double>(i) * step * width / sx), py);
            const double r = Sample(reference, x, y);
            const double c = Sample(compared, x, y);
            percent.Done(++visited);
            if (r == reference.noData || c == compared.noData || r == kNoData || c == kNoData) {
                cv::circle(result.picture, at, 5, kNoValue, cv::FILLED, cv::LINE_8);
                continue;
            }
            Classify(std::abs(r - c), settings, at, 5, &result);
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
    const int radius = las ? 1 : 5;
    result.picture.create(std::max(1, Floor(sy / s + margin)), std::max(1, Floor(sx / s + margin)), CV_8UC3);
    result.picture.setTo(kBackground);

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
            cv::circle(result.picture, at, radius, kNoValue, cv::FILLED, cv::LINE_8);
            continue;
        }
        Classify(std::abs(r - p.z), settings, at, radius, &result);
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
