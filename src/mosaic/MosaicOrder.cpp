#include "mosaic/MosaicOrder.h"

#include <algorithm>
#include <cmath>

#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/Ortho.h"

namespace {

Wml::Point2 CenterOf(const COrtho* ortho) {
    return Wml::Point2(ortho->m_geoTransform[0] + ortho->m_width * 0.5 * ortho->m_geoTransform[1],
                       ortho->m_geoTransform[3] + ortho->m_height * 0.5 * ortho->m_geoTransform[5]);
}

double Distance(const Wml::Point2& a, const Wml::Point2& b) {
    return std::hypot(a.X() - b.X(), a.Y() - b.Y());
}

// Index of the centre nearest the point among those not taken; the first of equals wins.
int Nearest(const std::vector<Wml::Point2>& centres, const std::vector<char>& taken,
            const Wml::Point2& point) {
    int best = -1;
    double bestDistance = 1e11;
    for (size_t i = 0; i < centres.size(); ++i) {
        const double d = Distance(centres[i], point);
        if (!taken[i] && (best < 0 || d < bestDistance)) {
            best = int(i);
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace

int SortOrthophotosFromCenter(std::vector<COrtho*>& orthos, ProgressSink* progress, const Wml::Point2* start,
                              double* largest, double* median) {
    const int count = int(orthos.size());
    if (count == 0) {
        return 0;
    }
    std::vector<Wml::Point2> centres;
    Wml::Point2 mean(0.0, 0.0);
    for (const COrtho* ortho : orthos) {
        centres.push_back(CenterOf(ortho));
        mean = Wml::Point2(mean.X() + centres.back().X() / count, mean.Y() + centres.back().Y() / count);
    }
    std::vector<char> taken(count, 0);
    std::vector<int> order;
    order.push_back(Nearest(centres, taken, start ? *start : mean));
    taken[order.back()] = 1;
    if (progress) {
        progress->SetRange(0, count);
    }
    while (int(order.size()) < count) {
        if (progress) {
            progress->SetPos(int(order.size()));
        }
        ZQT_PumpMessages();
        double x = 0.0, y = 0.0;
        for (int i : order) {
            x += centres[i].X();
            y += centres[i].Y();
        }
        const int next = Nearest(centres, taken, Wml::Point2(x / order.size(), y / order.size()));
        taken[next] = 1;
        order.push_back(next);
    }
    if (progress) {
        progress->SetPos(0);
    }
    std::vector<COrtho*> sorted;
    std::vector<double> pixels;
    double most = 0.0;
    for (int i : order) {
        sorted.push_back(orthos[i]);
        const double n = double(orthos[i]->m_width) * orthos[i]->m_height;
        most = std::max(most, n);
        pixels.push_back(n);
    }
    std::sort(pixels.begin(), pixels.end());
    if (largest) {
        *largest = most;
    }
    if (median) {
        *median = pixels[count / 2];
    }
    orthos = sorted;
    return 1;
}

namespace {

// The robust means of the given channels of two images; valid tells whether a pixel of one image
// carries data.
int RobustMeans(const cv::Mat& first, const cv::Mat& second, const int* channels, int channelCount,
                int* firstOut, int* secondOut) {
    const int step = first.channels();
    const int values = 2 * channelCount;
    auto pixelValues = [&](int row, int column, int* out) {
        const uchar* a = first.ptr<uchar>(row) + size_t(column) * step;
        const uchar* b = second.ptr<uchar>(row) + size_t(column) * step;
        bool validA = false, validB = false;
        for (int c = 0; c < channelCount; ++c) {
            out[c] = a[channels[c]];
            out[channelCount + c] = b[channels[c]];
            validA = validA || a[channels[c]] != 0;
            validB = validB || b[channels[c]] != 0;
        }
        return validA && validB;
    };
    double sum[6] = {0}, squares[6] = {0};
    long long n = 0;
    int v[6];
    for (int row = 0; row < first.rows; ++row) {
        for (int column = 0; column < first.cols; ++column) {
            if (!pixelValues(row, column, v)) {
                continue;
            }
            for (int k = 0; k < values; ++k) {
                sum[k] += v[k];
                squares[k] += double(v[k]) * v[k];
            }
            ++n;
        }
    }
    if (n == 0) {
        return 0;
    }
    double mean[6], deviation[6];
    for (int k = 0; k < values; ++k) {
        mean[k] = sum[k] / n;
        deviation[k] = std::sqrt(std::max(0.0, squares[k] / n - mean[k] * mean[k]));
    }
    long long kept[6] = {0};
    long long m = 0;
    for (int row = 0; row < first.rows; ++row) {
        for (int column = 0; column < first.cols; ++column) {
            if (!pixelValues(row, column, v)) {
                continue;
            }
            bool within = true;
            for (int k = 0; k < values && within; ++k) {
                // A rounding margin keeps values that lie exactly one deviation away.
                within = std::fabs(v[k] - mean[k]) <= deviation[k] + 1e-9;
            }
            if (within) {
                for (int k = 0; k < values; ++k) {
                    kept[k] += v[k];
                }
                ++m;
            }
        }
    }
    if (m == 0) {
        return 0;
    }
    for (int c = 0; c < channelCount; ++c) {
        firstOut[c] = int(kept[c] / m);
        secondOut[c] = int(kept[channelCount + c] / m);
    }
    return 1;
}

}  // namespace

int ComputeOverlapColorMeans(const cv::Mat& first, OverlapMeans& firstMeans, const cv::Mat& second,
                             OverlapMeans& secondMeans) {
    if (first.empty() || second.empty() || first.size() != second.size() || first.type() != second.type() ||
        first.depth() != CV_8U) {
        return 0;
    }
    if (first.channels() == 3 || first.channels() == 4) {
        // Channel 2 is red, 1 green, 0 blue.
        const int channels[3] = {2, 1, 0};
        int a[3], b[3];
        if (!RobustMeans(first, second, channels, 3, a, b)) {
            return 0;
        }
        firstMeans.red = a[0], firstMeans.green = a[1], firstMeans.blue = a[2];
        secondMeans.red = b[0], secondMeans.green = b[1], secondMeans.blue = b[2];
        return 1;
    }
    if (first.channels() == 1) {
        const int channel = 0;
        return RobustMeans(first, second, &channel, 1, &firstMeans.grey, &secondMeans.grey);
    }
    return 0;
}
