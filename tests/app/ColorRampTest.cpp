#include <gtest/gtest.h>

#include "platform/ui/ElevationColorRamp.h"

namespace {

int Red(uint32_t c) {
    return c & 0xFF;
}
int Green(uint32_t c) {
    return (c >> 8) & 0xFF;
}
int Blue(uint32_t c) {
    return (c >> 16) & 0xFF;
}

TEST(ElevationColorRamp, RunsOnceAroundTheColourCircle) {
    ASSERT_NE(BuildElevationColorRamp(), 0);
    ASSERT_NE(ElevationColorRamp, nullptr);
    const int n = ElevationColorRampSize;
    EXPECT_EQ(n, 262144);
    EXPECT_EQ(ElevationColorRamp[0], 0x00800100u);
    // Channels are truncated, not rounded: at an eighth of the circle green is 128 - 89.80 and
    // blue 128 + 89.80.
    EXPECT_EQ(ElevationColorRamp[n / 8], 0x00D92600u);
    // The first quarter has no red, the last quarter no blue (one entry of margin each side of
    // the boundary, where the summed angle may fall either way).
    for (int i = 0; i < n / 4 - 1; ++i) {
        ASSERT_EQ(Red(ElevationColorRamp[i]), 0) << i;
    }
    for (int i = 3 * n / 4 + 2; i < n; ++i) {
        ASSERT_EQ(Blue(ElevationColorRamp[i]), 0) << i;
    }
    EXPECT_GT(Red(ElevationColorRamp[n / 2]), 120);
    EXPECT_EQ(Green(ElevationColorRamp[n / 2]), 255);
    // Neighbouring entries never jump: the ramp is smooth everywhere.
    for (int i = 1; i < n; ++i) {
        uint32_t a = ElevationColorRamp[i - 1];
        uint32_t b = ElevationColorRamp[i];
        ASSERT_LE(std::abs(Green(a) - Green(b)), 1) << i;
    }
    FreeElevationColorRamp();
    EXPECT_EQ(ElevationColorRamp, nullptr);
    EXPECT_EQ(ElevationColorRampSize, 0);
}

}  // namespace
