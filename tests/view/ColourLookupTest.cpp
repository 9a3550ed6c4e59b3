// The colour lookup of the raster rendering against the rule it stands in for: every value,
// around every change of colour, under palettes, classes and the elevation ramp, and for ranges
// that leave no room for buckets.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "platform/ui/ElevationColorRamp.h"
#include "raster/AGColors.h"
#include "view/ColourLookup.h"

namespace {

// The picture pixel of a value as the renderer worked it out one value at a time.
uint32_t ExpectedPixel(float value, const RasterColouring& colouring) {
    return IsNoData(value) ? 0u : PixelOfColour(ColourOfValue(value, colouring));
}

float NextUp(float value) {
    return std::nextafter(value, std::numeric_limits<float>::infinity());
}

// Values that disagree with the rule: runs of consecutive floats from anchors spread over the
// range and beyond it, from every class bound, and the values without data; with `every`, each
// float from a third of the range below it to a third above.
int Disagreements(const ColourLookup& lookup, const RasterColouring& colouring, bool every,
                  std::string* first) {
    std::vector<float> anchors = {kNoData,
                                  std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  -0.0f,
                                  0.0f,
                                  static_cast<float>(colouring.minimum),
                                  static_cast<float>(colouring.maximum)};
    if (colouring.palette) {
        for (const ColorClassEntry& entry : colouring.palette->m_classes) {
            anchors.push_back(std::nextafter(entry.upperLimit, -std::numeric_limits<float>::infinity()));
        }
    }
    const double low = std::min(colouring.minimum, colouring.maximum);
    const double span = std::max(colouring.minimum, colouring.maximum) - low;
    if (std::isfinite(span)) {
        std::mt19937 random(7);
        std::uniform_real_distribution<double> spread(low - 0.3 * span - 1.0, low + 1.3 * span + 1.0);
        for (int i = 0; i < 3000; ++i) {
            anchors.push_back(static_cast<float>(spread(random)));
        }
    }
    int steps = 48;
    if (every) {
        anchors = {static_cast<float>(low - 0.3 * span)};
        steps = static_cast<int>((static_cast<float>(low + 1.3 * span) - anchors[0]) /
                                 (NextUp(anchors[0]) - anchors[0]));
    }
    int wrong = 0;
    for (float anchor : anchors) {
        float value = anchor;
        for (int step = 0; step < steps; ++step, value = NextUp(value)) {
            if (lookup.Pixel(value, colouring) != ExpectedPixel(value, colouring)) {
                if (wrong++ == 0) {
                    *first = "value " + std::to_string(value) + " (bits " +
                             std::to_string(std::bit_cast<uint32_t>(value)) + ")";
                }
            }
            if (std::isnan(value)) {
                break;
            }
        }
    }
    return wrong;
}

TEST(ColourLookupTest, EveryValueTakesThePixelOfItsColourUnderEveryColouring) {
    BuildElevationColorRamp();
    CAGColors newDem;  // a new DEM's palette
    newDem.Set_Palette(0, false, 100);
    CAGColors reverted;
    reverted.Set_Palette(3, true, 11);
    CAGColors classes;
    classes.Set_Palette(5, false, 20);
    // Bounds out of order and a bound with no number, black and disabled classes among them.
    classes.m_classes = {{10.0f, 0.0f, 0x0000FF, 1, {}, {}},
                         {35.5f, 10.0f, 0x00FF00, 0, {}, {}},
                         {20.0f, 35.5f, 0xFF0000, 1, {}, {}},
                         {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0x123456, 1, {}, {}},
                         {70.25f, 20.0f, 0x000000, 1, {}, {}},
                         {90.0f, 70.25f, 0x808080, 1, {}, {}}};
    // A class thinner than the lookup's buckets between two of one colour.
    CAGColors thin;
    thin.m_classes = {{50.0f, 0.0f, 0x0000FF, 1, {}, {}},
                      {50.002f, 50.0f, 0x00FF00, 1, {}, {}},
                      {1000.0f, 50.002f, 0x0000FF, 1, {}, {}}};
    struct Case {
        const char* what;
        RasterColouring colouring;
        bool every = false;
    };
    const double infinity = std::numeric_limits<double>::infinity();
    const std::vector<Case> cases = {
        {"a new DEM", {20.0, 219.0, &newDem, false}},
        {"classes", {0.0, 100.0, &classes, false}},
        {"a class thinner than a bucket", {0.0, 100.0, &thin, false}},
        {"every float, buckets of a few", {1000.0, 1016.0, &newDem, false}, true},
        {"palette colours only", {-50.0, 1500.0, &reverted, true}},
        {"elevation ramp", {0.0, 250.0, nullptr, false}},
        {"range upside down", {300.0, -20.0, &newDem, false}},
        {"range upside down, ramp", {300.0, -20.0, nullptr, false}},
        {"range around no data", {-12000.0, -8000.0, &newDem, false}},
        {"range narrower than the floats", {1.0e6, 1.0e6 + 0.05, &newDem, false}},
        {"range of one height", {42.0, 42.0, &newDem, false}},
        {"range of one height, ramp", {42.0, 42.0, nullptr, false}},
        {"range to infinity", {0.0, infinity, &newDem, false}},
        {"range wider than the floats", {-3.0e38, 3.0e38, &newDem, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ColourLookup lookup(c.colouring);
        std::string first;
        EXPECT_EQ(Disagreements(lookup, c.colouring, c.every, &first), 0) << "first at " << first;
    }
}

TEST(ColourLookupTest, AChangedPaletteOrRangeGetsALookupOfItsOwn) {
    BuildElevationColorRamp();
    CAGColors palette;
    palette.Set_Palette(0, false, 100);
    RasterColouring colouring{0.0, 100.0, &palette, false};
    const ColourLookup* first = &ColourLookup::Of(colouring);
    EXPECT_EQ(&ColourLookup::Of(colouring), first);
    const uint32_t before = first->Pixel(50.0f, colouring);
    EXPECT_EQ(before, ExpectedPixel(50.0f, colouring));

    // The operator classifies the heights: one class of red.
    palette.m_classes = {{1000.0f, -1000.0f, 0x0000FF, 1, {}, {}}};
    EXPECT_EQ(ColourLookup::Of(colouring).Pixel(50.0f, colouring), 0xFFFF0000u);
    palette.m_classes[0].color = 0x00FF00;
    EXPECT_EQ(ColourLookup::Of(colouring).Pixel(50.0f, colouring), 0xFF00FF00u);
    palette.m_classes.clear();
    palette.Set_Palette(3, false, 100);
    EXPECT_EQ(ColourLookup::Of(colouring).Pixel(50.0f, colouring), ExpectedPixel(50.0f, colouring));
    colouring.maximum = 60.0;
    EXPECT_EQ(ColourLookup::Of(colouring).Pixel(50.0f, colouring), ExpectedPixel(50.0f, colouring));
    palette.Set_Palette(0, false, 100);
    colouring.maximum = 100.0;
    EXPECT_EQ(ColourLookup::Of(colouring).Pixel(50.0f, colouring), before);
}

}  // namespace
