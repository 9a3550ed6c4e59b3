#include "products/ColorRangeModel.h"

#include <algorithm>
#include <cmath>
#include <numeric>

void ColorRangeModel::Bind(CAGColors* palette, std::function<void()> changed, int width) {
    m_palette = palette;
    m_changed = std::move(changed);
    m_W = std::max(0, width);
}

void ColorRangeModel::SetRange(float minimum, float maximum) {
    m_min = minimum;
    m_max = maximum;
}

double ColorRangeModel::PixelToValue(int x) const {
    if (m_min == m_max || m_W == 0) {
        return 0.0;
    }
    if (x <= 0) {
        return m_min;
    }
    if (x >= m_W) {
        return m_max;
    }
    return double(m_min) + (double(m_max) - double(m_min)) * x / m_W;
}

int ColorRangeModel::ValueToPixel(double value) const {
    if (m_min == m_max || m_W == 0 || !(value > double(m_min))) {
        return 0;
    }
    if (value >= double(m_max)) {
        return m_W;
    }
    const double pixel = m_W * (value - double(m_min)) / (double(m_max) - double(m_min));
    // A limit written from pixel p comes back as p: the classes store their limits as 32-bit
    // floats, whose rounding may put the value a hair below the pixel it was made from, and a
    // plain truncation would then move every loaded bound one pixel to the left.
    const double nearest = std::round(pixel);
    if (std::fabs(pixel - nearest) < 1e-3) {
        return static_cast<int>(nearest);
    }
    return static_cast<int>(pixel);
}

int ColorRangeModel::LeftEdge(int column) const {
    const int end = std::clamp(column, 0, Count());
    return std::accumulate(m_widths.begin(), m_widths.begin() + end, 0);
}

QString ColorRangeModel::HeaderText(int column) const {
    return QString::asprintf("%.3lf", PixelToValue(LeftEdge(column)));
}

bool ColorRangeModel::AnyHidden() const {
    if (!m_palette) {
        return false;
    }
    return std::any_of(m_palette->m_classes.begin(), m_palette->m_classes.end(),
                       [](const ColorClassEntry& e) { return e.visible == 0; });
}

void ColorRangeModel::DeleteAllColumns() {
    m_widths.clear();
    m_stored.clear();
    m_colors.clear();
}

int ColorRangeModel::InsertAt(int x, float provisionalLower, const ColorClassEntry* texts) {
    if (!m_palette) {
        return -1;
    }
    int index = -1;
    if (x < 0) {
        m_widths.push_back(0);
        m_colors.push_back(0);
        const int share = m_W / std::max(1, Count());
        std::fill(m_widths.begin(), m_widths.end(), share);
        index = Count() - 1;
    } else {
        int left = 0;
        int k = -1;
        int right = 0;
        for (int i = 0; i < static_cast<int>(m_stored.size()) && i < Count(); ++i) {
            right = left + m_stored[size_t(i)];
            if (right > x) {
                k = i;
                break;
            }
            left = right;
        }
        if (k < 0) {
            return -1;
        }
        m_widths[size_t(k)] = x - left;
        m_widths.insert(m_widths.begin() + k + 1, right - x);
        m_colors.insert(m_colors.begin() + k + 1, m_colors[size_t(k)]);
        index = k + 1;
        // The classes after the split move one place right with their ranges, so that their texts
        // and visible flags stay with them; the new class starts as a copy of the one that stood
        // at its place.
        std::vector<ColorClassEntry>& entries = m_palette->m_classes;
        const size_t at = std::min(size_t(index), entries.size());
        ColorClassEntry fresh = at < entries.size() ? entries[at] : ColorClassEntry{};
        fresh.visible = 1;
        fresh.lowerLimit = provisionalLower;
        if (texts) {
            fresh.tooltip = texts->tooltip;
            fresh.text = texts->text;
        }
        entries.insert(entries.begin() + std::ptrdiff_t(at), fresh);
    }
    m_stored = m_widths;
    return index;
}

int ColorRangeModel::InsertRangeAtPixel(int x) {
    return InsertAt(x, static_cast<float>(PixelToValue(x)), nullptr);
}

int ColorRangeModel::InsertRangeAtValue(double value) {
    return InsertAt(ValueToPixel(value), static_cast<float>(value), nullptr);
}

void ColorRangeModel::SetColumnWidth(int column, int width) {
    if (column >= 0 && column < Count()) {
        m_widths[size_t(column)] = width;
    }
}

void ColorRangeModel::NormalizeColumnWidths(int changed) {
    const int n = Count();
    if (n > 0) {
        const int sum = std::accumulate(m_widths.begin(), m_widths.end(), 0);
        if (sum != m_W) {
            const int j = std::clamp(changed + 1, 0, n - 1);
            m_widths[size_t(j)] += m_W - sum;
        }
        const bool tooNarrow =
            std::any_of(m_widths.begin(), m_widths.end(), [](int w) { return w < kMinWidth; });
        if (!tooNarrow) {
            m_stored = m_widths;
        } else if (static_cast<int>(m_stored.size()) == n) {
            m_widths = m_stored;
        }
    }
    if (m_palette) {
        UpdatePaletteFromColumns();
    }
}

void ColorRangeModel::TrackDivider(int index, int x) {
    if (index < 0 || index >= Count() - 1) {
        return;
    }
    std::vector<int> widths = m_widths;
    const int left = LeftEdge(index);
    const int right = left + widths[size_t(index)];
    widths[size_t(index)] = x - left;
    widths[size_t(index) + 1] += right - x;
    UpdatePaletteFromColumns(&widths);
}

void ColorRangeModel::UpdatePaletteFromColumns(const std::vector<int>* widths,
                                               const std::vector<int>* visible) {
    if (!m_palette) {
        return;
    }
    const size_t n = m_widths.size();
    const std::vector<int>& w = widths && widths->size() == n ? *widths : m_widths;
    if (visible && visible->size() != n) {
        return;
    }
    const std::vector<ColorClassEntry>& old = m_palette->m_classes;
    const bool keep = old.size() == n;
    std::vector<ColorClassEntry> entries(n);
    int right = 0;
    for (size_t i = 0; i < n; ++i) {
        ColorClassEntry& e = entries[i];
        if (keep) {
            e = old[i];
        }
        const int left = right;
        right += w[i];
        e.lowerLimit = static_cast<float>(PixelToValue(left));
        e.upperLimit = static_cast<float>(PixelToValue(right));
        e.color = m_colors[i];
        if (visible) {
            e.visible = (*visible)[i];
        } else if (!keep) {
            e.visible = 1;
        }
    }
    m_palette->m_classes = std::move(entries);
    if (m_changed) {
        m_changed();
    }
}

void ColorRangeModel::RecolourAll() {
    const int n = Count();
    if (!m_palette || n == 0) {
        return;
    }
    CAGColors ramp(n, m_palette->m_paletteIndex, m_palette->m_bRevert);
    ramp.m_bInvert = m_palette->m_bInvert;
    ramp.m_version = m_palette->m_version;
    ramp.m_classes = m_palette->m_classes;
    // The assignment rebuilds the ramp from its settings with n colours and inverts it when the
    // map's palette was inverted.
    *m_palette = ramp;
    for (int i = 0; i < n; ++i) {
        m_colors[size_t(i)] = static_cast<COLORREF>(m_palette->Get_Color(i)) & 0x00FFFFFFu;
    }
    UpdatePaletteFromColumns();
}

int ColorRangeModel::AddRange(int x) {
    const int index = InsertRangeAtPixel(x);
    if (index < 0) {
        return 0;
    }
    NormalizeColumnWidths(index);
    RecolourAll();
    return 1;
}

int ColorRangeModel::AddThresholdRange(const ColorClassEntry& entry) {
    const int index = InsertAt(ValueToPixel(entry.lowerLimit), entry.lowerLimit, &entry);
    if (index < 0) {
        return 0;
    }
    NormalizeColumnWidths(index);
    RecolourAll();
    return 1;
}

void ColorRangeModel::RemoveRange(int index, bool normalise) {
    if (index < 0 || index >= Count()) {
        return;
    }
    m_widths.erase(m_widths.begin() + index);
    if (index < static_cast<int>(m_stored.size())) {
        m_stored.erase(m_stored.begin() + index);
    }
    m_colors.erase(m_colors.begin() + index);
    const int share = m_W / std::max(1, Count());
    std::fill(m_widths.begin(), m_widths.end(), share);
    if (normalise) {
        NormalizeColumnWidths(index);
    }
}

void ColorRangeModel::SetColors(const CAGColors& palette) {
    DeleteAllColumns();
    int previous = 0;
    for (const ColorClassEntry& e : palette.m_classes) {
        // Limits out of order (a damaged file) give empty columns, never negative ones.
        const int pixel = std::max(previous, ValueToPixel(e.upperLimit));
        m_widths.push_back(pixel - previous);
        m_colors.push_back(e.color & 0x00FFFFFFu);
        previous = pixel;
    }
    m_stored = m_widths;
    if (m_palette) {
        NormalizeColumnWidths(Count() - 1);
    }
}

void ColorRangeModel::SetRangeColor(int index, COLORREF color) {
    if (index < 0 || index >= Count()) {
        return;
    }
    m_colors[size_t(index)] = color & 0x00FFFFFFu;
    UpdatePaletteFromColumns();
}

void ColorRangeModel::ShowOnlyRange(int index) {
    std::vector<int> flags(m_widths.size(), 0);
    if (index >= 0 && index < Count()) {
        flags[size_t(index)] = 1;
    }
    UpdatePaletteFromColumns(nullptr, &flags);
}

void ColorRangeModel::ShowAllRanges() {
    const std::vector<int> flags(m_widths.size(), 1);
    UpdatePaletteFromColumns(nullptr, &flags);
}

bool ColorRangeModel::ScaleColumnWidths(double factor, int newWidth) {
    std::vector<int> widths(m_widths.size());
    for (size_t i = 0; i < widths.size(); ++i) {
        const double scaled = m_widths[i] * factor;
        if (!(scaled >= kMinWidth)) {
            return false;
        }
        widths[i] = static_cast<int>(std::min(scaled, 1e9));
    }
    m_W = std::max(0, newWidth);
    m_widths = widths;
    m_stored = widths;
    return true;
}

int ColorRangeModel::ColumnAtPixel(int x) const {
    if (static_cast<int>(m_stored.size()) != Count()) {
        return -1;
    }
    int right = 0;
    for (int i = 0; i < Count(); ++i) {
        right += m_stored[size_t(i)];
        if (right > x) {
            return i;
        }
    }
    return -1;
}

std::vector<ColorRangeModel::MenuItem> ColorRangeModel::ContextMenuItems(int x) const {
    std::vector<MenuItem> items;
    items.push_back({ID_ADD_RANGE, QString::asprintf("Add range here (%f)", PixelToValue(x))});
    items.push_back({ID_ADD_THRESHOLD, QStringLiteral("Add threshold by value")});
    items.push_back({0, QString()});
    items.push_back({ID_CHANGE_COLOR, QStringLiteral("Change range color")});
    if (AnyHidden()) {
        items.push_back({ID_VIEW_ALL, QStringLiteral("View all")});
    } else {
        items.push_back({ID_VIEW_ONLY, QStringLiteral("View this range only")});
    }
    if (Count() >= 2) {
        items.push_back({0, QString()});
        items.push_back({ID_REMOVE_RANGE, QStringLiteral("Remove this range")});
    }
    return items;
}
