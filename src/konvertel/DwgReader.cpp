#include "konvertel/DwgReader.h"

#include <QString>

#include <cpl_error.h>
#include <gdal.h>
#include <ogr_api.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "konvertel/DrawingShape.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The text, angle (degrees) and size of a label style: LABEL(f:"...",t:"text",a:30,s:2.5g,...).
bool LabelOf(const char* style, std::string& text, double& angle, double& size) {
    if (!style)
        return false;
    const char* label = std::strstr(style, "LABEL(");
    if (!label)
        return false;
    const char* t = std::strstr(label, "t:\"");
    if (!t)
        return false;
    text.clear();
    for (const char* p = t + 3; *p && *p != '"'; ++p) {
        if (*p == '\\' && p[1] == '"')
            ++p;
        text.push_back(*p);
    }
    auto number = [&](const char* key, double& out) {
        const char* k = std::strstr(label, key);
        if (!k)
            return;
        // Style strings write numbers with a point whatever the locale.
        const char* from = k + std::strlen(key);
        double v = 0;
        if (std::from_chars(from, from + std::strlen(from), v).ec == std::errc())
            out = v;
    };
    number(",a:", angle);
    number(",s:", size);
    return true;
}

class OgrDrawing {
public:
    OgrDrawing(CadDrawing* d) : builder_(d) {}
    void Geometry(OGRGeometryH g, const DrawingShape& base);
    int Added() const { return added_; }
    DrawingBuilder& Builder() { return builder_; }

private:
    void Add(DrawingShape s) {
        if (builder_.Add(s))
            ++added_;
    }
    static std::vector<ShapePoint> Points(OGRGeometryH g) {
        std::vector<ShapePoint> pts;
        const int n = OGR_G_GetPointCount(g);
        for (int i = 0; i < n; ++i) {
            ShapePoint p;
            OGR_G_GetPoint(g, i, &p.x, &p.y, &p.z);
            pts.push_back(p);
        }
        return pts;
    }
    void Outline(std::vector<ShapePoint> pts, DrawingShape s, bool ring) {
        bool closed = ring;
        if (pts.size() > 3 && pts.front().x == pts.back().x && pts.front().y == pts.back().y &&
            pts.front().z == pts.back().z) {
            pts.pop_back();
            closed = true;
        }
        if (pts.empty())
            return;
        s.kind = pts.size() == 1              ? CAD_ENT_POINT
                 : pts.size() == 2 && !closed ? CAD_ENT_LINE
                                              : CAD_ENT_POLYLINE;
        s.closed = closed && pts.size() > 2;
        s.pts = std::move(pts);
        Add(std::move(s));
    }
    DrawingBuilder builder_;
    int added_ = 0;
};

void OgrDrawing::Geometry(OGRGeometryH g, const DrawingShape& base) {
    if (!g)
        return;
    const OGRwkbGeometryType type = wkbFlatten(OGR_G_GetGeometryType(g));
    switch (type) {
        case wkbPoint: {
            DrawingShape s = base;
            if (s.kind != CAD_ENT_TEXT)
                s.kind = CAD_ENT_POINT;
            s.pts = {{OGR_G_GetX(g, 0), OGR_G_GetY(g, 0), OGR_G_GetZ(g, 0)}};
            Add(std::move(s));
            return;
        }
        case wkbLineString:
            Outline(Points(g), base, false);
            return;
        case wkbPolygon:
            for (int i = 0; i < OGR_G_GetGeometryCount(g); ++i)
                Outline(Points(OGR_G_GetGeometryRef(g, i)), base, true);
            return;
        case wkbMultiPoint:
        case wkbMultiLineString:
        case wkbMultiPolygon:
        case wkbGeometryCollection:
        case wkbMultiCurve:
        case wkbMultiSurface:
            for (int i = 0; i < OGR_G_GetGeometryCount(g); ++i)
                Geometry(OGR_G_GetGeometryRef(g, i), base);
            return;
        default: {
            // Curves (arcs, circles, compound curves, curve polygons) as straight pieces.
            if (!OGR_G_HasCurveGeometry(g, FALSE))
                return;
            OGRGeometryH lin = OGR_G_GetLinearGeometry(g, 0, nullptr);
            if (lin)
                Geometry(lin, base);
            OGR_G_DestroyGeometry(lin);
            return;
        }
    }
}

}  // namespace

int OgrReadDrawing(GDALDatasetH ds, CadDrawing* drawing, int* entities) {
    if (!ds || !drawing)
        return 0;
    OgrDrawing out(drawing);
    for (int li = 0; li < GDALDatasetGetLayerCount(ds); ++li) {
        OGRLayerH layer = GDALDatasetGetLayer(ds, li);
        if (!layer)
            continue;
        std::string name = OGR_L_GetName(layer);
        if (name.empty())
            name = "0";
        out.Builder().LayerId(name);
        // The colour of each feature as red, green and blue, and a text of labels, where the
        // layer has such fields.
        OGRFeatureDefnH defn = OGR_L_GetLayerDefn(layer);
        int colourField = -1, textField = -1;
        for (int f = 0; f < OGR_FD_GetFieldCount(defn); ++f) {
            OGRFieldDefnH fd = OGR_FD_GetFieldDefn(defn, f);
            const QString field = QString::fromUtf8(OGR_Fld_GetNameRef(fd));
            if (OGR_Fld_GetType(fd) == OFTIntegerList && field.contains("color", Qt::CaseInsensitive))
                colourField = f;
            else if (OGR_Fld_GetType(fd) == OFTString && field.compare("text", Qt::CaseInsensitive) == 0)
                textField = f;
        }
        OGR_L_ResetReading(layer);
        while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
            DrawingShape base;
            base.layer = name;
            if (colourField >= 0) {
                int n = 0;
                const int* rgb = OGR_F_GetFieldAsIntegerList(feature, colourField, &n);
                if (rgb && n >= 3)
                    base.colour = CadColorSeek(uint32_t(rgb[0] & 255) | uint32_t(rgb[1] & 255) << 8 |
                                               uint32_t(rgb[2] & 255) << 16);
            }
            double angle = 0, size = 0;
            const bool label = LabelOf(OGR_F_GetStyleString(feature), base.text, angle, size);
            if (textField >= 0 && OGR_F_IsFieldSetAndNotNull(feature, textField) &&
                *OGR_F_GetFieldAsString(feature, textField))
                base.text = OGR_F_GetFieldAsString(feature, textField);
            if (label || !base.text.empty()) {
                base.kind = CAD_ENT_TEXT;
                base.v[0] = size > 0 ? size : 1;
                base.v[1] = angle * kPi / 180;
            }
            out.Geometry(OGR_F_GetGeometryRef(feature), base);
            OGR_F_Destroy(feature);
        }
    }
    if (entities)
        *entities = out.Added();
    return 1;
}

int DwgReadDrawing(const QString& path, CadDrawing* drawing, std::string* error, int* entities) {
    if (!drawing) {
        if (error)
            *error = "no drawing";
        return 0;
    }
    GDALAllRegister();
    const char* const drivers[] = {"CAD", nullptr};
    CPLPushErrorHandler(CPLQuietErrorHandler);
    CPLErrorReset();
    GDALDatasetH ds =
        GDALOpenEx(path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr);
    const std::string why = CPLGetLastErrorMsg();
    CPLPopErrorHandler();
    if (!ds) {
        if (error)
            *error = "GDAL's CAD driver cannot read this DWG file (it reads AutoCAD 2000 drawings)" +
                     (why.empty() ? std::string() : ": " + why);
        return 0;
    }
    const int ok = OgrReadDrawing(ds, drawing, entities);
    GDALClose(ds);
    return ok;
}
