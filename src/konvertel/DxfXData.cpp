#include "konvertel/DxfXData.h"

#include <cstdio>

namespace {

// Bytes per 1004 group: the format allows 127.
constexpr size_t kChunk = 127;

}  // namespace

KelvaroXData KelvaroXData::Parse(const std::vector<DxfGroup>& g) {
    KelvaroXData x;
    size_t i = 0;
    const size_t n = g.size();
    // Our application's part: from its 1001 group to the next one.
    while (i < n && !(g[i].code == 1001 && g[i].value == kKelvaroAppId))
        ++i;
    if (i >= n)
        return x;
    ++i;
    auto real = [&](int code) { return i < n && g[i].code == code ? g[i++].Real() : 0.0; };
    auto point = [&](int code) {
        ShapePoint p;
        p.x = real(code);
        p.y = real(code + 10);
        p.z = real(code + 20);
        return p;
    };
    while (i < n && g[i].code != 1001) {
        if (g[i].code != 1000) {
            ++i;
            continue;
        }
        const std::string_view key = g[i++].value;
        if (key == "RECT") {
            x.rect = true;
            x.rectCentre = point(1010);
            x.rectWidth = real(1040);
            x.rectHeight = real(1040);
            x.rectTurn = real(1040);
        } else if (key == "POLYGON") {
            x.polygon = true;
        } else if (key == "PATTERN") {
            x.hasPattern = true;
            x.patternScale = real(1040);
            x.patternAngle = real(1040);
        } else if (key == "ORDINATE") {
            x.hasOrdinate = true;
            x.ordinate = point(1010);
        } else if (key == "FILLED") {
            x.filled = i < n && g[i].code == 1070 ? (g[i++].Int() != 0 ? 1 : 0) : -1;
        } else if (key == "USERDATA") {
            if (i < n && g[i].code == 1071) {
                x.hasUserData = true;
                x.userData = g[i++].Int();
            }
        } else if (key == "EXDATA") {
            while (i < n && g[i].code == 1004) {
                const std::string_view h = g[i++].value;
                for (size_t k = 0; k + 1 < h.size(); k += 2) {
                    const int hi = DxfHexDigit(h[k]), lo = DxfHexDigit(h[k + 1]);
                    if (hi < 0 || lo < 0)
                        break;
                    x.exData.push_back(uint8_t(hi * 16 + lo));
                }
            }
        }
    }
    return x;
}

void KelvaroXData::ApplyTo(DrawingShape& s) const {
    s.filled = filled;
    s.hasUserData = hasUserData;
    s.userData = userData;
    s.exData = exData;
}

void KelvaroXData::Write(DxfGroupWriter& w) const {
    if (Empty())
        return;
    w.Str(1001, kKelvaroAppId);
    if (rect) {
        w.Str(1000, "RECT");
        w.Point(1010, rectCentre.x, rectCentre.y, rectCentre.z);
        w.Real(1040, rectWidth);
        w.Real(1040, rectHeight);
        w.Real(1040, rectTurn);
    }
    if (polygon)
        w.Str(1000, "POLYGON");
    if (hasPattern) {
        w.Str(1000, "PATTERN");
        w.Real(1040, patternScale);
        w.Real(1040, patternAngle);
    }
    if (hasOrdinate) {
        w.Str(1000, "ORDINATE");
        w.Point(1010, ordinate.x, ordinate.y, ordinate.z);
    }
    if (filled >= 0) {
        w.Str(1000, "FILLED");
        w.Int(1070, filled);
    }
    if (hasUserData) {
        w.Str(1000, "USERDATA");
        w.Int(1071, userData);
    }
    if (!exData.empty()) {
        w.Str(1000, "EXDATA");
        static const char digits[] = "0123456789ABCDEF";
        for (size_t at = 0; at < exData.size(); at += kChunk) {
            std::string h;
            for (size_t k = at; k < exData.size() && k < at + kChunk; ++k) {
                h.push_back(digits[exData[k] >> 4]);
                h.push_back(digits[exData[k] & 15]);
            }
            w.Str(1004, h);
        }
    }
}
