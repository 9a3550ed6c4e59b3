#include "app/AppIcons.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>

#include <vector>

namespace {

const QJsonObject& Definitions() {
    static const QJsonObject defs = [] {
        QFile file(QStringLiteral(":/kelvaro/icons.json"));
        if (!file.open(QIODevice::ReadOnly)) {
            return QJsonObject();
        }
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return defs;
}

// An SVG-like path with absolute commands M, L, Q, C and Z.
QPainterPath ParsePath(const QString& text) {
    static const QRegularExpression kToken(QStringLiteral("[MLQCZ]|-?[0-9]*\\.?[0-9]+"));
    QStringList tokens;
    for (auto it = kToken.globalMatch(text); it.hasNext();) {
        tokens << it.next().captured(0);
    }
    QPainterPath path;
    QChar command = 'M';
    int i = 0;
    auto number = [&](bool* ok) {
        if (i >= tokens.size()) {
            *ok = false;
            return 0.0;
        }
        return tokens[i++].toDouble(ok);
    };
    while (i < tokens.size()) {
        if (tokens[i].size() == 1 && tokens[i][0].isLetter()) {
            command = tokens[i++][0];
            if (command == 'Z') {
                path.closeSubpath();
                continue;
            }
        }
        bool ok = true;
        if (command == 'M' || command == 'L') {
            double x = number(&ok), y = number(&ok);
            if (!ok) {
                break;
            }
            command == 'M' ? path.moveTo(x, y) : path.lineTo(x, y);
            command = 'L';  // further pairs are lines, as in SVG
        } else if (command == 'Q') {
            double cx = number(&ok), cy = number(&ok), x = number(&ok), y = number(&ok);
            if (!ok) {
                break;
            }
            path.quadTo(cx, cy, x, y);
        } else if (command == 'C') {
            double c1x = number(&ok), c1y = number(&ok), c2x = number(&ok), c2y = number(&ok);
            double x = number(&ok), y = number(&ok);
            if (!ok) {
                break;
            }
            path.cubicTo(c1x, c1y, c2x, c2y, x, y);
        } else {
            break;
        }
    }
    return path;
}

// A fill: "none", "#rrggbb", "#aarrggbb" or a vertical gradient ["#top", "#bottom"].
QBrush BrushOf(const QJsonValue& value, const QRectF& bounds) {
    if (value.isArray()) {
        QJsonArray stops = value.toArray();
        QLinearGradient g(bounds.topLeft(), bounds.bottomLeft());
        for (int k = 0; k < stops.size(); ++k) {
            g.setColorAt(stops.size() > 1 ? double(k) / (stops.size() - 1) : 0.0,
                         QColor(stops[k].toString()));
        }
        return QBrush(g);
    }
    QString text = value.toString();
    if (text.isEmpty() || text == QLatin1String("none")) {
        return Qt::NoBrush;
    }
    return QBrush(QColor(text));
}

// A shape of an icon ready to paint at any size: its outline, fill and stroke in the icon's
// 32 x 32 units.
struct Shape {
    QPainterPath path;
    QBrush brush;
    QPen pen;
};

Shape ShapeOf(const QJsonObject& shape) {
    Shape out;
    QPainterPath& path = out.path;
    if (shape.contains(QLatin1String("path"))) {
        path = ParsePath(shape.value(QLatin1String("path")).toString());
    } else if (shape.contains(QLatin1String("rect"))) {
        QJsonArray r = shape.value(QLatin1String("rect")).toArray();
        double radius = shape.value(QLatin1String("radius")).toDouble();
        path.addRoundedRect(QRectF(r[0].toDouble(), r[1].toDouble(), r[2].toDouble(), r[3].toDouble()),
                            radius, radius);
    } else if (shape.contains(QLatin1String("ellipse"))) {
        QJsonArray e = shape.value(QLatin1String("ellipse")).toArray();
        path.addEllipse(QPointF(e[0].toDouble(), e[1].toDouble()), e[2].toDouble(), e[3].toDouble());
    } else if (shape.contains(QLatin1String("text"))) {
        QJsonArray at = shape.value(QLatin1String("at")).toArray();
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(qMax(1, shape.value(QLatin1String("size")).toInt(12)));
        font.setBold(shape.value(QLatin1String("bold")).toBool());
        path.addText(QPointF(at[0].toDouble(), at[1].toDouble()), font,
                     shape.value(QLatin1String("text")).toString());
    }
    out.brush = BrushOf(shape.value(QLatin1String("fill")), path.boundingRect());
    QString stroke = shape.value(QLatin1String("stroke")).toString();
    if (stroke.isEmpty() || stroke == QLatin1String("none")) {
        out.pen = QPen(Qt::NoPen);
    } else {
        QPen pen{QColor(stroke)};
        pen.setWidthF(shape.value(QLatin1String("width")).toDouble(1.5));
        pen.setJoinStyle(Qt::RoundJoin);
        pen.setCapStyle(Qt::RoundCap);
        if (shape.value(QLatin1String("dash")).toBool()) {
            pen.setDashPattern({2.0, 2.0});
        }
        out.pen = pen;
    }
    return out;
}

// The shapes of the icon of that name, read once for all the sizes it is painted at (a ribbon
// button's icon comes in three).
const std::vector<Shape>& ShapesOf(const QString& name, const QJsonArray& definition) {
    static QHash<QString, std::vector<Shape>> cache;
    auto it = cache.find(name);
    if (it == cache.end()) {
        std::vector<Shape> shapes;
        for (const QJsonValue& shape : definition) {
            shapes.push_back(ShapeOf(shape.toObject()));
        }
        it = cache.insert(name, std::move(shapes));
    }
    return *it;
}

}  // namespace

int KvHasAppIcon(const QString& name) {
    return Definitions().contains(name) ? 1 : 0;
}

QPixmap KvAppIconPixmap(const QString& name, int size) {
    static QHash<QString, QPixmap> cache;
    QString key = name + '@' + QString::number(size);
    auto it = cache.constFind(key);
    if (it != cache.constEnd()) {
        return *it;
    }
    const QJsonValue def = Definitions().value(name);
    if (!def.isArray() || size <= 0) {
        return QPixmap();
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 32.0, size / 32.0);
        for (const Shape& shape : ShapesOf(name, def.toArray())) {
            p.setBrush(shape.brush);
            p.setPen(shape.pen);
            p.drawPath(shape.path);
        }
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    cache.insert(key, pixmap);
    return pixmap;
}

QIcon KvAppIcon(const QString& name) {
    if (!KvHasAppIcon(name)) {
        return QIcon();
    }
    QIcon icon;
    for (int size : {16, 32, 48}) {
        icon.addPixmap(KvAppIconPixmap(name, size));
    }
    return icon;
}
