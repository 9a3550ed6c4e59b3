#include "platform/cad/CadDimension.h"

#include "platform/cad/Cad.h"

namespace cad {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The direction of a line turned so that text along it reads left to right, or upwards.
double ReadableAngle(double dx, double dy) {
    double a = std::atan2(dy, dx);
    if (a > kPi / 2 + 1e-12)
        a -= kPi;
    else if (a <= -kPi / 2 + 1e-12)
        a += kPi;
    return a;
}

}  // namespace

bool MakeDimShape(int kind, const DimPoint& a, const DimPoint& b, const DimPoint& c, DimShape& out) {
    out = DimShape();
    switch (kind) {
        case CAD_DIM_RADIUS:
        case CAD_DIM_DIAMETER: {
            const double r = std::hypot(b.x - a.x, b.y - a.y);
            if (!(r > 0))
                return false;
            const DimPoint from = kind == CAD_DIM_RADIUS ? a : DimPoint{2 * a.x - b.x, 2 * a.y - b.y};
            out.paths.push_back({from, b});
            // A text placed outside the circle gets a leader from the circle to it.
            if (std::hypot(c.x - a.x, c.y - a.y) > r)
                out.paths.push_back({b, c});
            out.arrows.push_back({b, from});
            if (kind == CAD_DIM_DIAMETER)
                out.arrows.push_back({from, b});
            out.value = kind == CAD_DIM_RADIUS ? r : 2 * r;
            out.textAt = c;
            return true;
        }
        case CAD_DIM_ANGULAR: {
            const double r = std::hypot(b.x - a.x, b.y - a.y);
            if (!(r > 0))
                return false;
            const double a0 = std::atan2(b.y - a.y, b.x - a.x), a1 = std::atan2(c.y - a.y, c.x - a.x);
            double sweep = a1 - a0;
            while (sweep < 0)
                sweep += 2 * kPi;
            constexpr int kSteps = 32;
            std::vector<DimPoint> arc;
            for (int i = 0; i <= kSteps; ++i) {
                const double t = a0 + sweep * i / kSteps;
                arc.push_back({a.x + r * std::cos(t), a.y + r * std::sin(t)});
            }
            out.paths.push_back({a, b});
            out.paths.push_back({a, arc.back()});
            if (sweep > 0) {
                out.arrows.push_back({arc.front(), arc[1]});
                out.arrows.push_back({arc.back(), arc[kSteps - 1]});
            }
            // Above the middle of the arc, along its tangent there.
            const double mid = a0 + sweep / 2;
            out.textAt = arc[kSteps / 2];
            out.textAngle = ReadableAngle(-std::sin(mid), std::cos(mid));
            out.paths.push_back(std::move(arc));
            out.value = sweep * 180 / kPi;
            return true;
        }
        case CAD_DIM_ORDINATE: {
            const bool alongX = std::fabs(c.x - a.x) < std::fabs(c.y - a.y);
            out.paths.push_back({a, c});
            out.value = alongX ? a.x : a.y;
            out.textAt = c;
            return true;
        }
        default: {
            // Linear (horizontal or vertical, by where the dimension line passes) or aligned.
            double ux = b.x - a.x, uy = b.y - a.y;
            if (kind == CAD_DIM_LINEAR) {
                const double mx = (a.x + b.x) / 2, my = (a.y + b.y) / 2;
                if (std::fabs(c.y - my) >= std::fabs(c.x - mx))
                    uy = 0;
                else
                    ux = 0;
            }
            const double len = std::hypot(ux, uy);
            if (!(len > 0))
                return false;
            const double nx = -uy / len, ny = ux / len;
            const double off = (c.x - a.x) * nx + (c.y - a.y) * ny;
            const DimPoint pa{a.x + nx * off, a.y + ny * off};
            // The second extension line ends where b projects onto the dimension line.
            const double along = (b.x - pa.x) * ux / len + (b.y - pa.y) * uy / len;
            const DimPoint pb{pa.x + ux / len * along, pa.y + uy / len * along};
            out.paths.push_back({a, pa});
            out.paths.push_back({b, pb});
            out.paths.push_back({pa, pb});
            out.arrows.push_back({pa, pb});
            out.arrows.push_back({pb, pa});
            out.value = std::fabs(along);
            out.textAt = {(pa.x + pb.x) / 2, (pa.y + pb.y) / 2};
            out.textAngle = ReadableAngle(ux, uy);
            return true;
        }
    }
}

std::string DimensionText(const std::string& own, const std::string& measured) {
    if (own.empty())
        return measured;
    std::string text;
    size_t from = 0;
    for (size_t at = own.find("<>"); at != std::string::npos; at = own.find("<>", from)) {
        text += own.substr(from, at - from) + measured;
        from = at + 2;
    }
    return text + own.substr(from);
}

}  // namespace cad
