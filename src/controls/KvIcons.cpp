#include "controls/KvIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <iterator>

namespace {

// Icons are drawn on a 32 x 32 grid and scaled to the size asked for.
constexpr double kGrid = 32.0;

const QColor kDisabledInk(150, 150, 150);

void DrawCheck(QPainter& p, const QColor& ink) {
    QPainterPath path;
    path.moveTo(6, 17);
    path.lineTo(13, 24);
    path.lineTo(26, 8);
    p.setPen(QPen(ink, 5.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
}

void DrawCross(QPainter& p, const QColor& ink) {
    p.setPen(QPen(ink, 5.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(24, 24));
    p.drawLine(QPointF(24, 8), QPointF(8, 24));
}

const QPolygonF& AreaOutline() {
    static const QPolygonF outline(
        {QPointF(4, 10), QPointF(14, 4), QPointF(27, 8), QPointF(25, 22), QPointF(12, 26), QPointF(5, 20)});
    return outline;
}

void DrawSelectArea(QPainter& p) {
    p.setPen(QPen(QColor(30, 90, 200), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(QColor(120, 170, 240, 110));
    p.drawPolygon(AreaOutline());
    // The pointer that picks it.
    QPolygonF arrow({QPointF(16, 13), QPointF(16, 30), QPointF(20, 26), QPointF(23, 31), QPointF(26, 30),
                     QPointF(23, 25), QPointF(28, 24)});
    p.setPen(QPen(QColor(20, 20, 20), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::white);
    p.drawPolygon(arrow);
}

void DrawDrawArea(QPainter& p) {
    const QPolygonF& outline = AreaOutline();
    p.setPen(QPen(QColor(200, 100, 20), 2.5, Qt::DashLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(outline);
    p.setPen(QPen(QColor(120, 50, 0), 1.0));
    p.setBrush(QColor(255, 200, 60));
    for (const QPointF& v : outline) {
        p.drawRect(QRectF(v.x() - 2.5, v.y() - 2.5, 5, 5));
    }
}

void DrawTotalArea(QPainter& p) {
    p.setPen(QPen(QColor(20, 130, 60), 2.5));
    p.setBrush(QColor(110, 200, 130, 120));
    p.drawRect(QRectF(4, 5, 24, 22));
    p.setPen(QPen(QColor(20, 90, 40), 2.0, Qt::SolidLine, Qt::RoundCap));
    // Corner marks: the whole extent.
    for (const QPointF& c : {QPointF(4, 5), QPointF(28, 5), QPointF(28, 27), QPointF(4, 27)}) {
        const double dx = c.x() < 16 ? 5 : -5;
        const double dy = c.y() < 16 ? 5 : -5;
        p.drawLine(c, QPointF(c.x() + dx, c.y()));
        p.drawLine(c, QPointF(c.x(), c.y() + dy));
    }
}

// Three stacked layer sheets.
void DrawLayerProperties(QPainter& p, bool enabled) {
    const QColor fills[3] = {QColor(60, 110, 190), QColor(90, 150, 220), QColor(150, 200, 245)};
    for (int i = 0; i < 3; ++i) {
        const double y = 22 - i * 6;
        const QPolygonF sheet({QPointF(3, y), QPointF(16, y - 6), QPointF(29, y), QPointF(16, y + 6)});
        p.setPen(QPen(enabled ? QColor(30, 60, 120) : kDisabledInk, 1.5, Qt::SolidLine, Qt::RoundCap,
                      Qt::RoundJoin));
        p.setBrush(enabled ? fills[i] : QColor(215, 215, 215));
        p.drawPolygon(sheet);
    }
}

// The extent as a dashed frame, the corner to pick marked by a cross-hair.
void DrawPickCorner(QPainter& p, bool upperRight, bool enabled) {
    p.setPen(QPen(enabled ? QColor(90, 90, 90) : kDisabledInk, 1.5, Qt::DashLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(7, 7, 18, 18));
    const QPointF corner = upperRight ? QPointF(25, 7) : QPointF(7, 25);
    p.setPen(QPen(enabled ? QColor(200, 30, 30) : kDisabledInk, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(corner - QPointF(6, 0), corner + QPointF(6, 0));
    p.drawLine(corner - QPointF(0, 6), corner + QPointF(0, 6));
    p.setBrush(enabled ? QColor(255, 200, 60) : QColor(215, 215, 215));
    p.drawEllipse(corner, 3, 3);
}

// A cross-hair over a contour line: the point to pick in the drawing.
void DrawPick(QPainter& p, bool enabled) {
    QPainterPath contour;
    contour.moveTo(3, 24);
    contour.cubicTo(10, 14, 20, 30, 29, 18);
    p.setPen(QPen(enabled ? QColor(150, 110, 60) : kDisabledInk, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(contour);
    const QColor ink = enabled ? QColor(200, 30, 30) : kDisabledInk;
    p.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(16, 3), QPointF(16, 11));
    p.drawLine(QPointF(16, 21), QPointF(16, 29));
    p.drawLine(QPointF(3, 16), QPointF(11, 16));
    p.drawLine(QPointF(21, 16), QPointF(29, 16));
    p.drawEllipse(QPointF(16, 16), 5, 5);
}

// Two arrows chasing each other round a circle.
void DrawUpdate(QPainter& p, bool enabled) {
    const QColor ink = enabled ? QColor(30, 120, 200) : kDisabledInk;
    p.setPen(QPen(ink, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const QRectF circle(6, 6, 20, 20);
    p.drawArc(circle, 30 * 16, 130 * 16);
    p.drawArc(circle, 210 * 16, 130 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPolygon(QPolygonF({QPointF(4, 10), QPointF(12, 12), QPointF(6, 18)}));
    p.drawPolygon(QPolygonF({QPointF(28, 22), QPointF(20, 20), QPointF(26, 14)}));
}

// A sheet with an arrow leaving it.
void DrawExport(QPainter& p, bool enabled) {
    p.setPen(
        QPen(enabled ? QColor(70, 70, 70) : kDisabledInk, 2.0, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(enabled ? QColor(250, 250, 240) : QColor(225, 225, 225));
    p.drawRect(QRectF(4, 4, 17, 24));
    const QColor ink = enabled ? QColor(20, 150, 40) : kDisabledInk;
    p.setPen(QPen(ink, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(12, 16), QPointF(25, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(ink);
    p.drawPolygon(QPolygonF({QPointF(30, 16), QPointF(22, 10), QPointF(22, 22)}));
}

// A sheet layout in miniature: the double frame with its ticks and labels and the title above,
// with grid crosses or grid lines inside for those styles.
QPixmap SheetStylePreview(int id) {
    constexpr int kWidth = 96;
    constexpr int kHeight = 80;
    QPixmap preview(kWidth, kHeight);
    preview.fill(Qt::white);
    QPainter p(&preview);
    const QRect inner(14, 24, 68, 44);
    const QColor frame(30, 60, 200);
    const QColor ticks(40, 40, 40);
    const QColor labels(200, 30, 30);
    p.setPen(QPen(frame, 1));
    p.drawRect(inner);
    p.drawRect(inner.adjusted(-4, -4, 4, 4));
    const int xs[3] = {31, 48, 65};
    const int ys[2] = {39, 53};
    p.setPen(QPen(ticks, 1));
    for (int x : xs) {
        p.drawLine(x, inner.top(), x, inner.top() - 3);
        p.drawLine(x, inner.bottom(), x, inner.bottom() + 3);
    }
    for (int y : ys) {
        p.drawLine(inner.left(), y, inner.left() - 3, y);
        p.drawLine(inner.right(), y, inner.right() + 3, y);
    }
    if (id == IDB_SHEET_STYLE_LINE) {
        p.setPen(QPen(QColor(120, 120, 120), 1));
        for (int x : xs) {
            p.drawLine(x, inner.top(), x, inner.bottom());
        }
        for (int y : ys) {
            p.drawLine(inner.left(), y, inner.right(), y);
        }
    } else if (id == IDB_SHEET_STYLE_CROSS) {
        p.setPen(QPen(ticks, 1));
        for (int y : ys) {
            for (int x : xs) {
                p.drawLine(x - 2, y, x + 2, y);
                p.drawLine(x, y - 2, x, y + 2);
            }
        }
    }
    p.setPen(QPen(labels, 1));
    for (int x : xs) {
        p.drawLine(x, inner.top() - 7, x + 5, inner.top() - 7);
        p.drawLine(x, inner.bottom() + 7, x + 5, inner.bottom() + 7);
    }
    for (int y : ys) {
        p.drawLine(inner.left() - 7, y, inner.left() - 7, y - 5);
        p.drawLine(inner.right() + 7, y, inner.right() + 7, y - 5);
    }
    p.fillRect(QRect(34, 4, 28, 4), QColor(20, 20, 20));
    p.fillRect(QRect(38, 11, 20, 2), QColor(90, 90, 90));
    return preview;
}

struct IconEntry {
    int id;
    int naturalSize;
    void (*draw)(QPainter&);
};

// Every icon of the program: its number, natural size and drawing.
const IconEntry kIcons[] = {
    {IDI_OK, 16, [](QPainter& p) { DrawCheck(p, QColor(20, 150, 40)); }},
    {IDI_OK_DISABLED, 16, [](QPainter& p) { DrawCheck(p, kDisabledInk); }},
    {IDI_CANCEL, 16, [](QPainter& p) { DrawCross(p, QColor(200, 30, 30)); }},
    {IDI_CANCEL_DISABLED, 16, [](QPainter& p) { DrawCross(p, kDisabledInk); }},
    {IDI_PICK, 16, [](QPainter& p) { DrawPick(p, true); }},
    {IDI_PICK_DISABLED, 16, [](QPainter& p) { DrawPick(p, false); }},
    {IDI_PREVIEW, 16, [](QPainter& p) { DrawUpdate(p, true); }},
    {IDI_PREVIEW_DISABLED, 16, [](QPainter& p) { DrawUpdate(p, false); }},
    {IDI_UPDATE, 16, [](QPainter& p) { DrawUpdate(p, true); }},
    {IDI_UPDATE_DISABLED, 16, [](QPainter& p) { DrawUpdate(p, false); }},
    {IDI_EXPORT, 16, [](QPainter& p) { DrawExport(p, true); }},
    {IDI_EXPORT_DISABLED, 16, [](QPainter& p) { DrawExport(p, false); }},
    {IDI_SELECT_AREA, 32, DrawSelectArea},
    {IDI_DRAW_AREA, 32, DrawDrawArea},
    {IDI_TOTAL_AREA, 32, DrawTotalArea},
    {IDI_LAYER_PROPERTIES, 16, [](QPainter& p) { DrawLayerProperties(p, true); }},
    {IDI_LAYER_PROPERTIES_DISABLED, 16, [](QPainter& p) { DrawLayerProperties(p, false); }},
    {IDI_PICK_LOWER_LEFT, 16, [](QPainter& p) { DrawPickCorner(p, false, true); }},
    {IDI_PICK_LOWER_LEFT_DISABLED, 16, [](QPainter& p) { DrawPickCorner(p, false, false); }},
    {IDI_PICK_UPPER_RIGHT, 16, [](QPainter& p) { DrawPickCorner(p, true, true); }},
    {IDI_PICK_UPPER_RIGHT_DISABLED, 16, [](QPainter& p) { DrawPickCorner(p, true, false); }},
};

// The report list's images, on black: 0 a raster band, 1 a band without data, 2 a layer.
QPixmap ReportImages() {
    QPixmap strip(48, 16);
    strip.fill(Qt::black);
    QPainter p(&strip);
    const QColor cells[3][3] = {{QColor(70, 140, 60), QColor(120, 180, 80), QColor(200, 190, 90)},
                                {QColor(110, 170, 70), QColor(190, 170, 80), QColor(170, 120, 60)},
                                {QColor(180, 160, 90), QColor(160, 110, 60), QColor(130, 90, 50)}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            p.fillRect(2 + c * 4, 2 + r * 4, 4, 4, cells[r][c]);
        }
    }
    p.setPen(QColor(60, 60, 60));
    p.drawRect(1, 1, 13, 13);
    p.setPen(QColor(140, 140, 140));
    p.drawRect(17, 1, 13, 13);
    p.drawLine(18, 14, 30, 2);
    const QColor sheets[3] = {QColor(60, 110, 190), QColor(90, 150, 220), QColor(150, 200, 245)};
    for (int i = 0; i < 3; ++i) {
        const int y = 10 - i * 3;
        QPolygon sheet({QPoint(34, y + 2), QPoint(41, y - 1), QPoint(46, y + 2), QPoint(39, y + 5)});
        p.setPen(QColor(30, 60, 120));
        p.setBrush(sheets[i]);
        p.drawPolygon(sheet);
    }
    return strip;
}

}  // namespace

QPixmap KvLoadIcon(int id, int size) {
    const auto entry =
        std::find_if(std::begin(kIcons), std::end(kIcons), [id](const IconEntry& e) { return e.id == id; });
    if (entry == std::end(kIcons)) {
        return QPixmap();
    }
    const int side = size > 0 ? size : entry->naturalSize;
    QPixmap icon(side, side);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(side / kGrid, side / kGrid);
    entry->draw(p);
    return icon;
}

QPixmap KvLoadBitmap(int id) {
    if (id == IDB_REPORT_IMAGES) {
        return ReportImages();
    }
    if (id == IDB_SHEET_STYLE_CROSS || id == IDB_SHEET_STYLE_LINE || id == IDB_SHEET_STYLE_SIMPLE) {
        return SheetStylePreview(id);
    }
    return QPixmap();
}
