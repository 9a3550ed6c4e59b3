// Colours as the program stores them: COLORREF values 0x00BBGGRR, the same numbers its files and
// profile hold, with the conversions to and from Qt's colours.
#pragma once

#include <QColor>
#include <cstdint>

using COLORREF = std::uint32_t;

namespace kv {

constexpr COLORREF Rgb(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int RedOf(COLORREF c) {
    return static_cast<int>(c & 0xFF);
}
constexpr int GreenOf(COLORREF c) {
    return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int BlueOf(COLORREF c) {
    return static_cast<int>((c >> 16) & 0xFF);
}

inline QColor ToQColor(COLORREF c) {
    return QColor(RedOf(c), GreenOf(c), BlueOf(c));
}
inline COLORREF ToColorRef(const QColor& c) {
    return Rgb(c.red(), c.green(), c.blue());
}

}  // namespace kv
