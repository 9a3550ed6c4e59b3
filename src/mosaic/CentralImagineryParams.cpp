#include "mosaic/CentralImagineryParams.h"

#include <algorithm>
#include <cmath>

bool CCentralImagineryParams::IsValid() const {
    if (m_enable == 0) {
        return true;
    }
    return (m_mode == kLinear || m_mode == kQuadratic) && m_maximumCost >= 1.0 && m_maximumCost <= 128.0;
}

void CCentralImagineryParams::AddPenalty(cv::Mat& cost) const {
    if (m_enable == 0 || !IsValid() || !(m_radiusDivisor >= 2.0) || cost.empty() || cost.type() != CV_8UC1) {
        return;
    }
    const double w = cost.cols, h = cost.rows;
    const double diagonal = std::hypot(w, h);
    const double radius = diagonal / m_radiusDivisor;
    const double ramp = diagonal * 0.5 - radius;
    // A divisor of exactly 2 puts the start of the ramp on its end: there is nothing to add.
    if (!(ramp > 0.0)) {
        return;
    }
    const double k = m_maximumCost / ramp;
    for (int y = 0; y < cost.rows; ++y) {
        unsigned char* row = cost.ptr<unsigned char>(y);
        for (int x = 0; x < cost.cols; ++x) {
            const double d = std::hypot(x - 0.5 * w, y - 0.5 * h);
            if (d < radius || row[x] >= 254) {
                continue;
            }
            double added;
            if (m_mode == kLinear) {
                added = std::rint(k * d - k * radius);
            } else {
                const double t = (d - radius) / ramp;
                added = std::rint(m_maximumCost * t * t);
            }
            row[x] = static_cast<unsigned char>(std::min(254.0, row[x] + added));
        }
    }
}
