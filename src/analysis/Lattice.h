// Sample positions along an axis at a fixed step, the way the measurement tools place them.
#pragma once

#include <cmath>

// The number of samples origin + k·step (k = 0, 1, ...) that do not pass end: the positions are
// computed from the count k, never summed step by step, so rounding cannot drop the last one. 0
// when end lies before origin or the step is not positive; capped at limit.
inline long long LatticeCount(double origin, double end, double step, long long limit = 1LL << 40) {
    if (!(step > 0.0) || !(end >= origin) || !std::isfinite(origin) || !std::isfinite(end)) {
        return 0;
    }
    const double estimate = std::floor((end - origin) / step);
    if (!(estimate < double(limit))) {
        return limit;
    }
    long long k = static_cast<long long>(estimate);
    while (k > 0 && origin + double(k) * step > end) {
        --k;
    }
    while (origin + double(k + 1) * step <= end) {
        ++k;
    }
    return k + 1 < limit ? k + 1 : limit;
}
