#include "analysis/ProfileGraph.h"

#include <algorithm>
#include <cmath>

#include "analysis/Lattice.h"
#include "platform/cad/Cad.h"
#include "raster/DEM.h"

namespace {

// Rules every fifth of the range: six from the low end to the high end, counted rather than
// stepped so that rounding neither drops the last nor adds one; one rule when the range is empty.
int RuleCount(double span) {
    return span > 0.0 ? 6 : 1;
}

CadEntity* AddRule(CadDrawing* drawing, double x1, double y1, double x2, double y2, int colour) {
    CadEntity* line = CadAddLine(drawing, x1, y1, 0.0, x2, y2, 0.0);
    if (line) {
        CadEntityPutColor(line, colour);
    }
    return line;
}

void AddLabel(CadDrawing* drawing, double value, double x, double y, int align, double height) {
    if (CadEntity* text =
            CadAddText(drawing, QString::asprintf("%.3lf", value).toUtf8().constData(), x, y, 0.0)) {
        CadTextPutAlign(text, align);
        CadTextPutHeight(text, height);
        CadEntityPutColor(text, CAD_COLOR_FOREGROUND);
    }
}

}  // namespace

ProfileSection SampleProfile(CDEM& dem, const std::vector<Wml::Point3>& line, double step,
                             bool breakOnNoData) {
    ProfileSection section;
    if (!(step > 0.0) || line.size() < 2) {
        return section;
    }
    std::vector<Wml::Point2> piece;
    auto sample = [&](double distance, const Wml::Point2& at) {
        const double z = dem.GetElevation(at.X(), at.Y());
        if (z == kNoData) {
            if (breakOnNoData && !piece.empty()) {
                section.pieces.push_back(std::move(piece));
                piece.clear();
            }
            return;
        }
        if (section.empty) {
            section.minDistance = section.maxDistance = distance;
            section.minElevation = section.maxElevation = z;
            section.empty = false;
        }
        section.minDistance = std::min(section.minDistance, distance);
        section.maxDistance = std::max(section.maxDistance, distance);
        section.minElevation = std::min(section.minElevation, z);
        section.maxElevation = std::max(section.maxElevation, z);
        piece.emplace_back(distance, z);
    };

    double offset = 0.0;
    bool sampledBefore = false;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        const Wml::Point2 p(line[i].X(), line[i].Y());
        const Wml::Point2 q(line[i + 1].X(), line[i + 1].Y());
        Wml::Vector2 u = q - p;
        const double length = u.Normalize();
        if (!(length > 0.0)) {
            continue;
        }
        const long long count = LatticeCount(0.0, length, step);
        // The segment's start is the previous segment's end, sampled already.
        for (long long k = sampledBefore ? 1 : 0; k < count; ++k) {
            const double s = double(k) * step;
            sample(offset + s, p + s * u);
        }
        const double last = double(count - 1) * step;
        offset += length;
        if (length > last) {
            sample(offset, q);
        }
        sampledBefore = true;
    }
    if (!piece.empty()) {
        section.pieces.push_back(std::move(piece));
    }
    return section;
}

void DrawProfileGraph(CadDrawing* drawing, CadLayer* layer, const ProfileSection& section, double reference,
                      double zScale) {
    const int layerId = CadLayerGetID(layer);
    for (const std::vector<Wml::Point2>& piece : section.pieces) {
        CadClearVertices();
        for (const Wml::Point2& v : piece) {
            CadAddVertex(v.X(), v.Y() * zScale, 0.0);
        }
        if (CadEntity* polyline = CadAddPolyline(drawing, 0, 0)) {
            CadEntityPutLayerID(polyline, layerId);
        }
    }
    CadClearVertices();

    const double dmin = section.minDistance, dmax = section.maxDistance;
    const double zmin = section.minElevation, zmax = section.maxElevation;
    const double w = dmax - dmin, h = zmax - zmin;
    const double xs = w / 5.0, zs = h / 5.0;
    const double textHeight = zs / 10.0 * zScale;

    double top = zmin;
    const int horizontal = RuleCount(h);
    for (int i = 0; i < horizontal; ++i) {
        const double e = zmin + i * zs;
        AddRule(drawing, dmin - w / 100.0, e * zScale, dmax + w / 100.0, e * zScale, i % 2 ? 4 : 252);
        AddLabel(drawing, e, dmin - w / 99.0, e * zScale, CAD_TA_RIGHT_MIDDLE, textHeight);
        top = e;
    }
    const int vertical = RuleCount(w);
    for (int i = 0; i < vertical; ++i) {
        const double x = dmin + i * xs;
        AddRule(drawing, x, (zmin - h / 100.0) * zScale, x, (top + h / 100.0) * zScale, 251);
    }
    if (CadEntity* line = AddRule(drawing, dmin - w / 100.0, reference * zScale, dmax + w / 100.0,
                                  reference * zScale, CAD_COLOR_RED)) {
        CadEntityPutLineWeight(line, 30);
    }
    AddLabel(drawing, reference, dmax + w / 99.0, reference * zScale, CAD_TA_LEFT_BOTTOM, textHeight);
}

std::optional<Wml::Point2> PointAtDistance(const std::vector<Wml::Point3>& line, double distance) {
    double sum = 0.0;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        const Wml::Point2 p(line[i].X(), line[i].Y());
        const Wml::Point2 q(line[i + 1].X(), line[i + 1].Y());
        const double length = (q - p).Length();
        if (!(length > 0.0)) {
            continue;
        }
        sum += length;
        if (sum >= distance) {
            return q - (sum - distance) * (q - p) / length;
        }
    }
    return std::nullopt;
}

std::optional<Wml::Point2> CutProfile(CadLayer* layer, double x, double top, double bottom) {
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
        if (CadEntityGetType(e) != CAD_ENT_POLYLINE || CadPlineGetClosed(e)) {
            continue;
        }
        double cx = 0.0, cy = 0.0;
        if (CadPlineGetInterPoint(e, x, top + 100.0, x, bottom - 100.0, &cx, &cy)) {
            return Wml::Point2(cx, cy);
        }
    }
    return std::nullopt;
}

ProfileReadout ReadoutAt(double y, double zScale, double reference) {
    ProfileReadout readout;
    const double absolute = y / zScale;
    const QString absoluteText = QString::asprintf("%.3lf", absolute);
    readout.absolute = QStringLiteral("Absolute Z: %1").arg(absoluteText);
    readout.relative =
        QStringLiteral("Relative Z: %1")
            .arg(reference != -9999.0 ? QString::asprintf("%.3lf", absolute - reference) : absoluteText);
    readout.below = absolute - reference < 0.0;
    return readout;
}
