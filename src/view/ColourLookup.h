// Colours of values looked up instead of worked out: a repaint colours about a million values, and
// working each one out through the palette costs several times the read of the window. The table
// answers every value exactly as ColourOfValue does.
#pragma once

#include <cstdint>
#include <vector>

#include "raster/DEM.h"
#include "view/RasterRendering.h"

// The picture pixel of a packed colour 0x00BBGGRR: opaque ARGB, or 0 (transparent) for black.
// Opaque and transparent pixels hold the same bits premultiplied or not.
inline uint32_t PixelOfColour(uint32_t packed) {
    if ((packed & 0xFFFFFFu) == 0) {
        return 0;
    }
    return 0xFF000000u | (packed & 0xFFu) << 16 | (packed & 0xFF00u) | (packed >> 16 & 0xFFu);
}

// The colouring's range (with an eighth of it beyond each end) cut into buckets of values. A
// bucket whose values all take one colour holds that pixel; one in which the colour changes a few
// times holds the values where it changes; the others, and values outside the buckets, are
// coloured one by one through ColourOfValue. The bucket of a value is worked out the same way
// when the table is made and when it is read, so each bucket knows exactly which values fall in it.
class ColourLookup {
public:
    explicit ColourLookup(const RasterColouring& colouring);

    // The picture pixel (PixelOfColour) of a value under the colouring the lookup was made for;
    // 0 for no data (IsNoData), which no bucket holds.
    uint32_t Pixel(float value, const RasterColouring& colouring) const {
        const double at = BucketAt(value);
        if (at >= 0.0 && at < kBuckets) {
            const uint32_t entry = m_entries[static_cast<int>(at)];
            const uint32_t tag = entry >> 24;
            if (tag != kChanging && tag != kOneByOne) {
                return entry;
            }
            if (tag == kChanging) {
                const Changes& changes = m_changes[entry & 0xFFFFFFu];
                uint32_t pixel = changes.pixels[0];
                for (int j = 0; j < kMaxChanges; ++j) {
                    if (value >= changes.from[j]) {
                        pixel = changes.pixels[j + 1];
                    }
                }
                return pixel;
            }
        }
        return IsNoData(value) ? 0u : PixelOfColour(ColourOfValue(value, colouring));
    }

    // Whether the lookup answers for this colouring: the same range, palette colours and classes.
    bool Serves(const RasterColouring& colouring) const;

    // The lookup of a colouring, made at its first use and kept for the next repaints (the few
    // colourings last used are kept). User-interface thread only.
    static const ColourLookup& Of(const RasterColouring& colouring);

private:
    static constexpr int kBuckets = 16384;
    static constexpr int kMaxChanges = 3;
    // Entry tags in the top byte, which a pixel holds as 0 or 255 only.
    static constexpr uint32_t kChanging = 1;
    static constexpr uint32_t kOneByOne = 2;

    // A bucket in which the colour changes: pixels[0] up to from[0], pixels[j + 1] from from[j]
    // on; unused changes start at infinity.
    struct Changes {
        float from[kMaxChanges];
        uint32_t pixels[kMaxChanges + 1];
    };

    // Where a value lies among the buckets: bucket trunc(at) for 0 <= at < kBuckets.
    double BucketAt(float value) const { return (static_cast<double>(value) - m_origin) * m_perValue; }
    // Fills the entry of the bucket that holds the floats a to b.
    void Fill(int bucket, float a, float b, const RasterColouring& colouring);

    // The value at the first bucket's start (NaN without buckets, so that no value finds one) and
    // the buckets per unit of value.
    double m_origin = 0.0;
    double m_perValue = 0.0;
    std::vector<uint32_t> m_entries;
    std::vector<Changes> m_changes;

    // What the lookup was made for.
    double m_minimum = 0.0;
    double m_maximum = 0.0;
    bool m_colorsOnly = false;
    bool m_hasPalette = false;
    std::vector<long> m_colours;
    std::vector<float> m_bounds;
    std::vector<uint32_t> m_classColours;
    std::vector<int32_t> m_classVisible;
    const uint32_t* m_ramp = nullptr;
    int m_rampSize = 0;
};
