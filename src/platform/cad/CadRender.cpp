// Drawing the model into a painter: image places through the draw-image event, then the
// vectors, layer by layer in the drawing's layer order (the last layer lies on top). Long
// outlines are thinned to one vertex per pixel on the way, so a full view of a large drawing
// costs about one pass over its vertices.
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>

#include "platform/cad/CadInternal.h"
#include "platform/tools/SafeFile.h"

namespace cad {
namespace {

constexpr double kPi = 3.14159265358979323846;
// Arrowheads of a dimension whose style gives no size: pixels.
constexpr double kScreenArrow = 10.0;

// Model to window as an affine map (a block reference composes its own placement into it).
struct Affine {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;  // wx = a x + c y + e, wy = b x + d y + f
    double X(double x, double y) const { return a * x + c * y + e; }
    double Y(double x, double y) const { return b * x + d * y + f; }
    double Scale() const { return std::sqrt(std::fabs(a * d - b * c)); }
    // Rotation of model x into window space, in radians (window y down).
    double Angle() const { return std::atan2(b, a); }
    Affine Then(const Affine& inner) const {  // this ∘ inner
        Affine r;
        r.a = a * inner.a + c * inner.b;
        r.b = b * inner.a + d * inner.b;
        r.c = a * inner.c + c * inner.d;
        r.d = b * inner.c + d * inner.d;
        r.e = a * inner.e + c * inner.f + e;
        r.f = b * inner.e + d * inner.f + f;
        return r;
    }
};

// Nearest pixel of a window coordinate; far-away values are clamped so that the integer painter
// paths cannot overflow.
int Pixel(double v) {
    constexpr double kLim = 1e7;
    v = std::clamp(v, -kLim, kLim);
    return int(v + (v >= 0 ? 0.5 : -0.5));
}

QColor ToQColor(uint32_t c) {
    return QColor(int(c & 255), int((c >> 8) & 255), int((c >> 16) & 255));
}

QPen PenFor(const CadEntity* e, bool lwDisplay, bool selected) {
    QPen pen(ToQColor(ResolveColour(e)));
    pen.setWidth(0);
    if (lwDisplay) {
        int w = ResolveLineWeight(e);
        if (w > 0)
            pen.setWidthF(std::max(1.0, w / 100.0 * 96.0 / 25.4));
    }
    switch (ResolveLineType(e)) {
        case CAD_LTYPE_DASHED:
            pen.setStyle(Qt::DashLine);
            break;
        case CAD_LTYPE_DOTTED:
            pen.setStyle(Qt::DotLine);
            break;
        case CAD_LTYPE_DASHDOT:
            pen.setStyle(Qt::DashDotLine);
            break;
        default:
            break;
    }
    if (selected)
        pen.setStyle(Qt::DashLine);
    return pen;
}

// Reumann-Witkam simplification: a vertex is dropped while it lies within tol / 2 of the line
// from the last kept vertex along the run's first step; since the run's last vertex does too,
// every dropped vertex lies within tol of the segment that is drawn. at(i) gives vertex i as (x, y); keep(i)
// receives the kept vertices in order, the first and the last always among them. One pass, no allocation.
template <typename At, typename Keep>
void Simplify(size_t n, At at, double tol, Keep keep) {
    if (n == 0)
        return;
    keep(size_t(0));
    if (n == 1)
        return;
    auto [ax, ay] = at(0);
    const double half = tol * 0.5;
    double dx = 0, dy = 0, lastT = 0;
    bool haveDir = false;
    for (size_t i = 1; i < n; ++i) {
        const auto [x, y] = at(i);
        if (haveDir) {
            const double rx = x - ax, ry = y - ay;
            const double t = rx * dx + ry * dy;
            if (std::fabs(rx * dy - ry * dx) <= half && t >= lastT - half) {
                lastT = std::max(lastT, t);
                continue;
            }
            // The run ends at the previous vertex, which anchors the next run.
            keep(i - 1);
            std::tie(ax, ay) = at(i - 1);
            haveDir = false;
        }
        const double rx = x - ax, ry = y - ay, len2 = rx * rx + ry * ry;
        if (len2 >= tol * tol) {
            const double len = std::sqrt(len2);
            dx = rx / len;
            dy = ry / len;
            lastT = len;
            haveDir = true;
        }
    }
    keep(n - 1);
}

// The x and y of point i of a path.
std::pair<double, double> XYOf(const std::vector<Vec3>& pts, size_t i) {
    return {pts[i].x, pts[i].y};
}
std::pair<double, double> XYOf(const OutlineReader& pts, size_t i) {
    return pts.XY(i);
}

// Window points of an outline, thinned to what the screen can show (half a pixel), so a
// zoomed-out view of a dense drawing draws a fraction of its segments.
template <typename Points>
void Thin(const Points& pts, const Affine& m, QPolygon& out) {
    out.clear();
    auto at = [&](size_t i) {
        const auto [x, y] = XYOf(pts, i);
        return std::pair<double, double>(m.X(x, y), m.Y(x, y));
    };
    Simplify(pts.size(), at, 0.5, [&](size_t i) {
        const auto [x, y] = at(i);
        QPoint p(Pixel(x), Pixel(y));
        if (out.isEmpty() || out.last() != p)
            out.append(p);
    });
}

// The points of an outline that a simplification kept.
struct Kept {
    OutlineReader outline;
    const std::vector<uint32_t>& kept;
    size_t size() const { return kept.size(); }
};
std::pair<double, double> XYOf(const Kept& pts, size_t i) {
    return pts.outline.XY(pts.kept[i]);
}

// The outline of a long entity simplified for a view of that many pixels per model unit, as the
// positions of the points kept, or null when the whole outline is drawn. Kept per power-of-two
// tolerance level, so panning and repainting at one zoom reuse it.
const std::vector<uint32_t>* Detail(CadEntity* e, double pixelsPerUnit) {
    const OutlineReader full(e->outline);
    const size_t n = full.size();
    if (n < 256 || n > UINT32_MAX || !(pixelsPerUnit > 0))
        return nullptr;
    const int level = int(std::floor(std::log2(0.5 / pixelsPerUnit)));
    for (const auto& [l, kept] : e->detail)
        if (l == level)
            return kept.empty() ? nullptr : &kept;
    std::vector<uint32_t> kept;
    const double tol = std::ldexp(1.0, level);
    Simplify(
        n, [&](size_t i) { return full.XY(i); }, tol, [&](size_t i) { kept.push_back(uint32_t(i)); });
    // Not worth keeping when it saves little: the full outline serves that level.
    if (kept.size() * 2 > n)
        kept.clear();
    else
        kept.shrink_to_fit();
    e->detail.emplace_back(level, std::move(kept));
    const auto& stored = e->detail.back().second;
    return stored.empty() ? nullptr : &stored;
}

class Renderer {
public:
    Renderer(CadDrawing* d, QPainter& p, const ViewXform& xf) : d_(d), p_(p), xf_(xf) {
        top_.a = xf.scale;
        top_.d = -xf.scale;
        top_.e = xf.width * 0.5 - xf.cx * xf.scale;
        top_.f = xf.height * 0.5 + xf.cy * xf.scale;
        view_.Add(xf.MX(0), xf.MY(xf.height));
        view_.Add(xf.MX(xf.width), xf.MY(0));
        view_ = view_.Inflated(2.0 / xf.scale);
    }

    void Images() {
        if (!Events().drawImage) {
            for (CadLayer* l : d_->layers) {
                if (!l->visible || l->deleted)
                    continue;
                for (CadEntity* e : ByLayer(l->id))
                    if (e->type == CAD_ENT_IMAGE && Shown(e))
                        Frame(e);
            }
            return;
        }
        const CadWinRect update{0, 0, xf_.width, xf_.height};
        for (CadLayer* l : d_->layers) {
            if (!l->visible || l->deleted)
                continue;
            for (CadEntity* e : ByLayer(l->id)) {
                if (e->type != CAD_ENT_IMAGE || !Shown(e))
                    continue;
                const Vec3& o = e->pts[0];
                int left = int(std::lround(xf_.X(o.x))), bottom = int(std::lround(xf_.Y(o.y)));
                int w = int(std::lround(e->p[0] / e->p[2] * xf_.scale));
                int h = int(std::lround(e->p[1] / e->p[2] * xf_.scale));
                p_.save();
                int drawn = CallEvent(CadGetKeyFlags(), [&] {
                    return Events().drawImage(d_, &p_, &update, e->ival, left, bottom, w, h);
                });
                p_.restore();
                if (!drawn)
                    Frame(e);
            }
        }
    }

    void Vectors() {
        std::vector<CadEntity*> selected;
        for (CadLayer* l : d_->layers) {
            if (!l->visible || l->deleted)
                continue;
            for (CadEntity* e : ByLayer(l->id)) {
                if (e->type == CAD_ENT_IMAGE || !Shown(e))
                    continue;
                if (e->selected) {
                    selected.push_back(e);
                    continue;
                }
                Draw(e, top_, false);
            }
        }
        for (CadEntity* e : selected)
            Draw(e, top_, true);
        // Image places show a frame when selected.
        for (CadEntity* e : d_->selection)
            if (e->type == CAD_ENT_IMAGE && Shown(e)) {
                p_.setPen(QPen(QColor(255, 255, 0), 0, Qt::DashLine));
                p_.setBrush(Qt::NoBrush);
                OutlinePath(OutlineReader(e->outline), top_, true);
            }
    }

private:
    bool Shown(CadEntity* e) {
        if (!e->visible || e->erased || !e->linked)
            return false;
        EnsureGeometry(e);
        return e->box.Intersects(view_) ||
               (e->type == CAD_ENT_POINT && !e->box.Empty() && view_.Contains(e->box));
    }

    const std::vector<CadEntity*>& ByLayer(int layerId) {
        if (d_->byLayerVersion != d_->version) {
            d_->byLayer.clear();
            for (CadEntity* e : d_->order)
                if (!e->erased)
                    d_->byLayer[e->layerId].push_back(e);
            d_->byLayerVersion = d_->version;
        }
        static const std::vector<CadEntity*> none;
        auto it = d_->byLayer.find(layerId);
        return it == d_->byLayer.end() ? none : it->second;
    }

    void Frame(CadEntity* e) {
        p_.setPen(QPen(ToQColor(ResolveColour(e)), 0));
        p_.setBrush(Qt::NoBrush);
        OutlinePath(OutlineReader(e->outline), top_, true);
    }

    template <typename Points>
    void OutlinePath(const Points& pts, const Affine& m, bool closed) {
        Thin(pts, m, poly_);
        if (poly_.size() < 2) {
            if (poly_.size() == 1)
                p_.drawPoint(poly_[0]);
            return;
        }
        if (closed)
            p_.drawPolygon(poly_);
        else
            p_.drawPolyline(poly_);
    }

    void Fill(CadEntity* e, const Affine& m, const QColor& colour, Qt::BrushStyle style) {
        QPolygon ring;
        ring.reserve(int(e->outline.size()));
        for (const Vec3& v : e->outline)
            ring.append(QPoint(Pixel(m.X(v.x, v.y)), Pixel(m.Y(v.x, v.y))));
        if (ring.size() < 3)
            return;
        if (style == Qt::SolidPattern && Events().polyFill) {
            const int count = int(ring.size());
            const uint32_t rgb = ResolveColour(e);
            p_.save();
            int done = CallEvent(CadGetKeyFlags(), [&] {
                return Events().polyFill(d_, e, &p_, ring.constData(), &count, 1, rgb);
            });
            p_.restore();
            if (done)
                return;
        }
        p_.save();
        p_.setBrush(QBrush(colour, style));
        p_.drawPolygon(ring, Qt::OddEvenFill);
        p_.restore();
    }

    void Text(CadEntity* e, const Affine& m, double extraAngle) {
        double px = e->p[0] * m.Scale();
        if (px < 2 || e->text.empty()) {
            if (px >= 0.5)
                OutlinePath(OutlineReader(e->outline), m, true);
            return;
        }
        QFont font = p_.font();
        font.setPixelSize(std::max(1, int(std::lround(px))));
        p_.setFont(font);
        QFontMetricsF fm(font);
        QString s = QString::fromStdString(e->text);
        double w = fm.horizontalAdvance(s);
        double dx = 0, dy = 0;  // from the insertion point, window units before rotation
        switch (e->ival) {
            case CAD_TA_CENTER_BASE:
                dx = -w / 2;
                break;
            case CAD_TA_RIGHT_BASE:
                dx = -w;
                break;
            case CAD_TA_LEFT_BOTTOM:
                dy = -fm.descent();
                break;
            case CAD_TA_LEFT_MIDDLE:
                dy = px / 2;
                break;
            case CAD_TA_LEFT_TOP:
                dy = px;
                break;
            case CAD_TA_CENTER_MIDDLE:
                dx = -w / 2, dy = px / 2;
                break;
            case CAD_TA_CENTER_BOTTOM:
                dx = -w / 2, dy = -fm.descent();
                break;
            case CAD_TA_CENTER_TOP:
                dx = -w / 2, dy = px;
                break;
            case CAD_TA_RIGHT_BOTTOM:
                dx = -w, dy = -fm.descent();
                break;
            case CAD_TA_RIGHT_MIDDLE:
                dx = -w, dy = px / 2;
                break;
            case CAD_TA_RIGHT_TOP:
                dx = -w, dy = px;
                break;
            default:
                break;
        }
        const Vec3& o = e->pts[0];
        p_.save();
        p_.translate(m.X(o.x, o.y), m.Y(o.x, o.y));
        p_.rotate(-(e->p[1] + extraAngle) * 180.0 / kPi);
        p_.drawText(QPointF(dx, dy), s);
        p_.restore();
    }

    void Dimension(CadEntity* e, const Affine& m) {
        const DimStyle& st = d_->dimStyle;
        DimShape shape;
        if (!DimShapeOf(e, shape))
            return;
        for (const auto& path : shape.paths)
            OutlinePath(ToModel(path), m, false);
        // The dimension's own sizes come first, then the drawing's style; without either the
        // arrowheads and the text take the window's sizes.
        const double tick = e->p[2] * m.Scale();
        const double arrow = e->p[2] > 0 ? tick : (e->p[1] > 0 ? e->p[1] : st.arrowSize) * m.Scale();
        const double arrowPx = arrow > 0 ? arrow : kScreenArrow;
        if (arrowPx >= 2) {
            for (const auto& [tip, from] : shape.arrows) {
                const double tx = m.X(tip.x, tip.y), ty = m.Y(tip.x, tip.y);
                const double a = std::atan2(m.Y(from.x, from.y) - ty, m.X(from.x, from.y) - tx);
                if (e->p[2] > 0) {
                    // A tick: a short stroke across the line, turned by 45 degrees.
                    const double h = arrowPx / 2, t = a - kPi / 4;
                    p_.drawLine(QPointF(tx - h * std::cos(t), ty - h * std::sin(t)),
                                QPointF(tx + h * std::cos(t), ty + h * std::sin(t)));
                    continue;
                }
                for (double side : {-0.35, 0.35})
                    p_.drawLine(QPointF(tx, ty), QPointF(tx + arrowPx * std::cos(a + side),
                                                         ty + arrowPx * std::sin(a + side)));
            }
        }
        const double height = e->p[0] > 0 ? e->p[0] : st.textHeight;
        if (height > 0) {
            const double px = height * m.Scale();
            if (px < 2)
                return;
            QFont font = p_.font();
            font.setPixelSize(std::max(1, int(std::lround(px))));
            p_.setFont(font);
        }
        const QString text =
            QString::fromStdString(DimensionText(e->text, DimLabel(e->ival, shape.value, st.decimals)));
        // Centred above the anchor along the text's direction, a quarter of its height away.
        const QFontMetricsF metrics(p_.font());
        const double gap = std::max(2.0, metrics.height() / 4);
        const double dx = std::cos(shape.textAngle), dy = std::sin(shape.textAngle);
        const double wx = m.X(shape.textAt.x + dx, shape.textAt.y + dy) - m.X(shape.textAt.x, shape.textAt.y);
        const double wy = m.Y(shape.textAt.x + dx, shape.textAt.y + dy) - m.Y(shape.textAt.x, shape.textAt.y);
        p_.save();
        p_.translate(m.X(shape.textAt.x, shape.textAt.y), m.Y(shape.textAt.x, shape.textAt.y));
        p_.rotate(std::atan2(wy, wx) * 180.0 / kPi);
        p_.drawText(QPointF(-metrics.horizontalAdvance(text) / 2, -gap - metrics.descent()), text);
        p_.restore();
    }

    void PointMark(double x, double y) {
        const PointStyle& st = d_->pointStyle;
        const double h = std::max(1, st.size) / 2.0;
        switch (st.mark) {
            case kPointDot:
                p_.save();
                p_.setBrush(p_.pen().color());
                p_.drawEllipse(QPointF(x, y), std::max(1.0, h / 2), std::max(1.0, h / 2));
                p_.restore();
                break;
            case kPointX:
                p_.drawLine(QPointF(x - h, y - h), QPointF(x + h, y + h));
                p_.drawLine(QPointF(x - h, y + h), QPointF(x + h, y - h));
                break;
            case kPointCircle:
                p_.drawEllipse(QPointF(x, y), h, h);
                break;
            case kPointSquare:
                p_.drawRect(QRectF(x - h, y - h, 2 * h, 2 * h));
                break;
            default:
                p_.drawLine(QPointF(x - h, y), QPointF(x + h, y));
                p_.drawLine(QPointF(x, y - h), QPointF(x, y + h));
                break;
        }
    }

    void Draw(CadEntity* e, const Affine& m, bool selected) {
        EnsureGeometry(e);
        QPen pen = PenFor(e, d_->lwDisplay, selected);
        p_.setPen(pen);
        p_.setBrush(Qt::NoBrush);
        switch (e->type) {
            case CAD_ENT_POINT:
                PointMark(m.X(e->pts[0].x, e->pts[0].y), m.Y(e->pts[0].x, e->pts[0].y));
                break;
            case CAD_ENT_POLYGON:
                Fill(e, m, pen.color(), Qt::SolidPattern);
                break;
            case CAD_ENT_HATCH:
                Fill(e, m, pen.color(),
                     e->ival == 0   ? Qt::SolidPattern
                     : e->ival == 1 ? Qt::BDiagPattern
                                    : Qt::DiagCrossPattern);
                break;
            case CAD_ENT_POLYLINE:
            case CAD_ENT_SPLINE:
            case CAD_ENT_RECT:
            case CAD_ENT_LINE:
            case CAD_ENT_ARC:
            case CAD_ENT_ELLIPSE: {
                bool closed =
                    e->type == CAD_ENT_RECT ||
                    ((e->type == CAD_ENT_POLYLINE || e->type == CAD_ENT_SPLINE) && e->closed && e->fit == 0);
                if (e->filled && e->outline.size() >= 3) {
                    Fill(e, m, pen.color(), Qt::SolidPattern);
                    break;
                }
                if (const std::vector<uint32_t>* kept = Detail(e, m.Scale()))
                    OutlinePath(Kept{OutlineReader(e->outline), *kept}, m, closed);
                else
                    OutlinePath(OutlineReader(e->outline), m, closed);
                break;
            }
            case CAD_ENT_TEXT:
                Text(e, m, 0);
                break;
            case CAD_ENT_DIMENSION:
                Dimension(e, m);
                break;
            case CAD_ENT_INSERT: {
                CadBlock* b = CadGetBlockByID(d_, e->ival);
                if (!b)
                    break;
                double sc = e->p[0], c = std::cos(e->p[1]), s = std::sin(e->p[1]);
                Affine place;  // model = ins + R S (p - base)
                place.a = sc * c;
                place.b = sc * s;
                place.c = -sc * s;
                place.d = sc * c;
                place.e = e->pts[0].x - (place.a * b->base.x + place.c * b->base.y);
                place.f = e->pts[0].y - (place.b * b->base.x + place.d * b->base.y);
                Affine inner = m.Then(place);
                for (CadEntity* be : b->entities) {
                    if (!BlockEntityShown(be))
                        continue;
                    if (be->type == CAD_ENT_TEXT) {
                        EnsureGeometry(be);
                        p_.setPen(PenFor(be, d_->lwDisplay, selected));
                        Text(be, inner, e->p[1]);
                        continue;
                    }
                    Draw(be, inner, selected);
                }
                break;
            }
            default:
                break;
        }
    }

    CadDrawing* d_;
    QPainter& p_;
    ViewXform xf_;
    Affine top_;
    Box view_;
    QPolygon poly_;
};

}  // namespace

bool DimShapeOf(const CadEntity* e, DimShape& out) {
    if (!e || e->type != CAD_ENT_DIMENSION || e->pts.size() < 3)
        return false;
    const auto at = [e](size_t i) { return DimPoint{e->pts[i].x, e->pts[i].y}; };
    return MakeDimShape(e->ival, at(0), at(1), at(2), out);
}

std::vector<Vec3> ToModel(const std::vector<DimPoint>& path) {
    std::vector<Vec3> v;
    v.reserve(path.size());
    for (const DimPoint& p : path)
        v.emplace_back(p.x, p.y, 0.0);
    return v;
}

std::string DimLabel(int kind, double value, int decimals) {
    const QString number = QString::number(value, 'f', std::clamp(decimals, 0, 8));
    switch (kind) {
        case CAD_DIM_RADIUS:
            return ("R" + number).toStdString();
        case CAD_DIM_DIAMETER:
            return (QString::fromUtf8("\u2300") + number).toStdString();
        case CAD_DIM_ANGULAR:
            return (number + QString::fromUtf8("\u00b0")).toStdString();
        default:
            return number.toStdString();
    }
}

void RenderDrawing(CadDrawing* d, QPainter& p, const ViewXform& xf, bool images, bool background) {
    if (background)
        p.fillRect(0, 0, xf.width, xf.height, Qt::black);
    Renderer r(d, p, xf);
    if (images)
        r.Images();
    r.Vectors();
}

}  // namespace cad

double CadDimensionGetValue(CadEntity* e) {
    cad::DimShape shape;
    if (!e || !e->linked || !cad::DimShapeOf(e, shape))
        return 0;
    return shape.value;
}

int CadRasterize(CadDrawing* d, const char* path, double left, double bottom, double right, double top,
                 double scale) {
    if (!d || !path || !*path || !(scale > 0))
        return 0;
    if (left > right)
        std::swap(left, right);
    if (bottom > top)
        std::swap(bottom, top);
    double w = (right - left) * scale, h = (top - bottom) * scale;
    if (!(w >= 1 && h >= 1) || w > CAD_RASTERIZE_MAX_SIDE || h > CAD_RASTERIZE_MAX_SIDE)
        return 0;
    QImage image(int(std::ceil(w)), int(std::ceil(h)), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return 0;
    image.fill(Qt::transparent);
    cad::ViewXform xf;
    xf.width = image.width();
    xf.height = image.height();
    xf.scale = scale;
    xf.cx = left + xf.width / scale / 2;
    xf.cy = top - xf.height / scale / 2;
    {
        QPainter p(&image);
        cad::RenderDrawing(d, p, xf, false, false);
    }
    QString file = QString::fromUtf8(path);
    QString suffix = file.section('.', -1).toLower();
    QByteArray format = suffix == "tif" || suffix == "tiff"   ? "TIFF"
                        : suffix == "jpg" || suffix == "jpeg" ? "JPEG"
                        : suffix == "bmp"                     ? "BMP"
                                                              : "PNG";
    kv::SafeFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return 0;
    QImage toSave = format == "JPEG" || format == "BMP" ? image.convertToFormat(QImage::Format_RGB32) : image;
    if (!toSave.save(&out, format.constData())) {
        out.cancelWriting();
        return 0;
    }
    return out.commit() ? 1 : 0;
}
