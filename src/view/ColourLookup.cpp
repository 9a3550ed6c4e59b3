#include "view/ColourLookup.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/ui/ElevationColorRamp.h"
#include "raster/AGColors.h"

namespace {

// Finite floats as integers in the order of their values (both zeros are 0), so that the floats
// between two can be counted and halved.
int64_t Ordered(float value) {
    const int32_t bits = std::bit_cast<int32_t>(value);
    return bits >= 0 ? bits : static_cast<int64_t>(std::numeric_limits<int32_t>::min()) - bits;
}

float Unordered(int64_t ordered) {
    const int64_t bits =
        ordered >= 0 ? ordered : static_cast<int64_t>(std::numeric_limits<int32_t>::min()) - ordered;
    return std::bit_cast<float>(static_cast<int32_t>(bits));
}

// Where a value lies for its colouring, and its colour. Within one part the colour moves with the
// value one way, channel by channel: one ramp entry, one palette segment between two of its
// colours (or beyond either end), the values between two class bounds. So the values between two
// of the same part and colour all take that colour.
struct Probe {
    int64_t part = 0;
    uint32_t colour = 0;
    bool operator==(const Probe&) const = default;
};

Probe ProbeOf(float value, const RasterColouring& colouring) {
    Probe probe;
    probe.colour = ColourOfValue(value, colouring);
    const double range = colouring.maximum - colouring.minimum;
    const double position = range != 0.0 ? (value - colouring.minimum) / range : 0.0;
    // The position moves with the value one way; where it is no finite number, ColourOfValue
    // takes 0, so each kind of non-finite position is a part of its own.
    const int64_t state = std::isfinite(position) ? 0 : std::isnan(position) ? 1 : position > 0.0 ? 2 : 3;
    const double t = state == 0 ? position : 0.0;
    if (const CAGColors* palette = colouring.palette) {
        if (!colouring.colorsOnly && !palette->m_classes.empty()) {
            for (const ColorClassEntry& entry : palette->m_classes) {
                probe.part += entry.upperLimit < value ? 1 : 0;
            }
            return probe;
        }
        const int count = palette->Get_Count();
        const double x = t * (count - 1);
        const int64_t segment = !(x > 0.0) ? -1 : x >= count - 1 ? count : static_cast<int64_t>(x);
        probe.part = state << 32 | (segment + 1);
        return probe;
    }
    const int last = ElevationColorRampSize - 1;
    if (!ElevationColorRamp || last < 0 || value <= colouring.minimum) {
        probe.part = 0;
    } else if (value >= colouring.maximum) {
        probe.part = last;
    } else {
        probe.part = std::clamp(static_cast<int>(last * t), 0, last);
    }
    return probe;
}

struct Change {
    float from;
    uint32_t colour;
};

// Appends the values of (a, b] at which the probe changes, in order, each with the colour from
// there on; false once there are more than `limit`.
bool FindChanges(float a, const Probe& pa, float b, const Probe& pb, const RasterColouring& colouring,
                 std::vector<Change>& changes, size_t limit) {
    if (pa == pb) {
        return true;
    }
    const int64_t oa = Ordered(a), ob = Ordered(b);
    if (ob - oa == 1) {
        changes.push_back({b, pb.colour});
        return changes.size() <= limit;
    }
    const float middle = Unordered(oa + (ob - oa) / 2);
    const Probe pm = ProbeOf(middle, colouring);
    return FindChanges(a, pa, middle, pm, colouring, changes, limit) &&
           FindChanges(middle, pm, b, pb, colouring, changes, limit);
}

// A bucket whose probes at its ends lie further apart than this many parts changes too often
// to be worth halving.
constexpr int64_t kPartsApart = 8;
// The most colouring lookups kept: the layers of a view, each with its own colouring.
constexpr size_t kKept = 6;

}  // namespace

ColourLookup::ColourLookup(const RasterColouring& colouring)
    : m_minimum(colouring.minimum),
      m_maximum(colouring.maximum),
      m_colorsOnly(colouring.colorsOnly),
      m_hasPalette(colouring.palette != nullptr),
      m_ramp(ElevationColorRamp),
      m_rampSize(ElevationColorRampSize) {
    if (const CAGColors* palette = colouring.palette) {
        for (int i = 0; i < palette->Get_Count(); ++i) {
            m_colours.push_back(palette->Get_Color(i));
        }
        for (const ColorClassEntry& entry : palette->m_classes) {
            m_bounds.push_back(entry.upperLimit);
            m_classColours.push_back(entry.color);
            m_classVisible.push_back(entry.visible);
        }
    }
    m_origin = std::numeric_limits<double>::quiet_NaN();
    const double low = std::min(colouring.minimum, colouring.maximum);
    const double span = std::max(colouring.minimum, colouring.maximum) - low;
    if (!(std::isfinite(span) && span > 0.0)) {
        return;
    }
    const double width = span * 1.25;
    m_origin = low - span / 8.0;
    m_perValue = kBuckets / width;
    // The floats searched for the buckets' first values: from below the first bucket to above the
    // last.
    const float below =
        std::nextafter(static_cast<float>(m_origin - width), -std::numeric_limits<float>::max());
    const float above =
        std::nextafter(static_cast<float>(m_origin + 2.0 * width), std::numeric_limits<float>::max());
    if (!std::isfinite(below) || !std::isfinite(above) || !(BucketAt(below) < 0.0) ||
        !(BucketAt(above) >= kBuckets)) {
        m_origin = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    // The first float of bucket k is the first whose place is at least k.
    auto firstOf = [&](int k, int64_t from) {
        int64_t lo = from, hi = Ordered(above);
        while (lo < hi) {
            const int64_t middle = lo + (hi - lo) / 2;
            if (BucketAt(Unordered(middle)) >= k) {
                hi = middle;
            } else {
                lo = middle + 1;
            }
        }
        return lo;
    };
    m_entries.assign(kBuckets, kOneByOne << 24);
    int64_t first = firstOf(0, Ordered(below));
    for (int k = 0; k < kBuckets; ++k) {
        const int64_t next = firstOf(k + 1, first);
        // A bucket narrower than the floats around it holds none.
        if (next > first) {
            Fill(k, Unordered(first), Unordered(next - 1), colouring);
        }
        first = next;
    }
    // No data is answered before the buckets.
    const double noData = BucketAt(kNoData);
    if (noData >= 0.0 && noData < kBuckets) {
        m_entries[static_cast<int>(noData)] = kOneByOne << 24;
    }
}

void ColourLookup::Fill(int bucket, float a, float b, const RasterColouring& colouring) {
    const Probe pa = ProbeOf(a, colouring);
    const Probe pb = ProbeOf(b, colouring);
    if (pa == pb) {
        m_entries[bucket] = PixelOfColour(pa.colour);
        return;
    }
    if (std::llabs(pb.part - pa.part) > kPartsApart) {
        return;
    }
    std::vector<Change> found;
    if (!FindChanges(a, pa, b, pb, colouring, found, 4 * kMaxChanges)) {
        return;
    }
    // Only changes of colour count; a new part may keep the colour.
    Changes changes;
    int count = 0;
    uint32_t colour = pa.colour;
    for (const Change& change : found) {
        if (change.colour == colour) {
            continue;
        }
        if (count == kMaxChanges) {
            return;
        }
        changes.from[count] = change.from;
        changes.pixels[count + 1] = PixelOfColour(change.colour);
        colour = change.colour;
        ++count;
    }
    changes.pixels[0] = PixelOfColour(pa.colour);
    if (count == 0) {
        m_entries[bucket] = changes.pixels[0];
        return;
    }
    for (int j = count; j < kMaxChanges; ++j) {
        changes.from[j] = std::numeric_limits<float>::infinity();
        changes.pixels[j + 1] = changes.pixels[count];
    }
    m_entries[bucket] = kChanging << 24 | static_cast<uint32_t>(m_changes.size());
    m_changes.push_back(changes);
}

bool ColourLookup::Serves(const RasterColouring& colouring) const {
    // Compared bit for bit: a range kept with a NaN end still finds its lookup.
    if (std::bit_cast<uint64_t>(colouring.minimum) != std::bit_cast<uint64_t>(m_minimum) ||
        std::bit_cast<uint64_t>(colouring.maximum) != std::bit_cast<uint64_t>(m_maximum) ||
        colouring.colorsOnly != m_colorsOnly || (colouring.palette != nullptr) != m_hasPalette ||
        m_ramp != ElevationColorRamp || m_rampSize != ElevationColorRampSize) {
        return false;
    }
    const CAGColors* palette = colouring.palette;
    if (!palette) {
        return true;
    }
    if (palette->Get_Count() != static_cast<int>(m_colours.size()) ||
        palette->m_classes.size() != m_bounds.size()) {
        return false;
    }
    for (size_t i = 0; i < m_colours.size(); ++i) {
        if (palette->Get_Color(static_cast<int>(i)) != m_colours[i]) {
            return false;
        }
    }
    for (size_t i = 0; i < m_bounds.size(); ++i) {
        const ColorClassEntry& entry = palette->m_classes[i];
        if (std::bit_cast<uint32_t>(entry.upperLimit) != std::bit_cast<uint32_t>(m_bounds[i]) ||
            entry.color != m_classColours[i] || entry.visible != m_classVisible[i]) {
            return false;
        }
    }
    return true;
}

const ColourLookup& ColourLookup::Of(const RasterColouring& colouring) {
    static std::vector<std::unique_ptr<ColourLookup>> kept;
    auto found = std::find_if(kept.begin(), kept.end(),
                              [&](const std::unique_ptr<ColourLookup>& l) { return l->Serves(colouring); });
    if (found == kept.end()) {
        if (kept.size() == kKept) {
            kept.pop_back();
        }
        kept.insert(kept.begin(), std::make_unique<ColourLookup>(colouring));
    } else {
        std::rotate(kept.begin(), found, found + 1);
    }
    return *kept.front();
}
