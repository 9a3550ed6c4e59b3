#include "platform/ui/ElevationColorRamp.h"

#include <cmath>
#include <new>

uint32_t* ElevationColorRamp = nullptr;
int ElevationColorRampSize = 0;

int BuildElevationColorRamp() {
    if (ElevationColorRamp) {
        return 1;
    }
    const int n = kElevationColorRampEntries;
    auto* ramp = new (std::nothrow) uint32_t[n];
    if (!ramp) {
        return 0;
    }
    const double pi = M_PI;
    const double step = 2.0 * pi / n;
    // The angle grows by addition, so the last entries carry the rounding of the sum; the
    // rendered colours of stored projects depend on it.
    double t = 0.0;
    for (int i = 0; i < n; ++i) {
        int red = t < pi / 2.0 ? 0 : static_cast<int>(128.0 - 127.0 * std::sin(pi - t));
        int green = static_cast<int>(128.0 - 127.0 * std::cos(t));
        int blue = t > 3.0 * pi / 2.0 ? 0 : static_cast<int>(128.0 + 127.0 * std::sin(t));
        ramp[i] = static_cast<uint32_t>(red & 0xFF) | static_cast<uint32_t>(green & 0xFF) << 8 |
                  static_cast<uint32_t>(blue & 0xFF) << 16;
        t += step;
    }
    ElevationColorRamp = ramp;
    ElevationColorRampSize = n;
    return 1;
}

void FreeElevationColorRamp() {
    delete[] ElevationColorRamp;
    ElevationColorRamp = nullptr;
    ElevationColorRampSize = 0;
}
