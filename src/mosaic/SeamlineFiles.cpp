#include "mosaic/SeamlineFiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <vector>

#include "demtools/DemEditCommands.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/ArchiveStream.h"

namespace {

constexpr int32_t kFormatWord = 1;
constexpr qint64 kVertexBytes = 16;

int g_retryPauseMs = 1000;

// Writes the layout of the polygon files; true when every byte reached the file.
bool WritePolygonFile(const QString& path, const CPgon& polygon) {
    kv::SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    kv::ArchiveWriter out(&file);
    out.WriteInt32(kFormatWord);
    out.WriteInt32(polygon.GetNumContours());
    for (int c = 0; c < polygon.GetNumContours(); ++c) {
        const std::vector<Wml::Point2>& points = polygon.GetContour(c);
        out.WriteInt32(int32_t(points.size()));
        for (const Wml::Point2& p : points) {
            out.WriteDouble(p.X());
            out.WriteDouble(p.Y());
        }
    }
    if (!out.Ok()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Waits the pause while the progress window stays responsive.
void RetryPause() {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < g_retryPauseMs) {
        ZQT_PumpMessages();
        QThread::msleep(std::min<qint64>(20, std::max<qint64>(0, g_retryPauseMs - timer.elapsed())));
    }
}

}  // namespace

CadLayer* GetSeamlineLayer(CadDrawing* drawing, const char* name) {
    if (!drawing || !name) {
        return nullptr;
    }
    if (CadLayer* layer = CadGetLayerByName(drawing, name)) {
        return layer;
    }
    return CadAddLayer(drawing, name, kSeamLayerColour, kSeamLayerLineType, kSeamLayerLineWeight);
}

std::vector<Wml::Point2> PolylinePoints(CadEntity* polyline) {
    const std::vector<Wml::Point3> vertices = DrawingPolylineVertices(polyline);
    std::vector<Wml::Point2> points;
    points.reserve(vertices.size());
    for (const Wml::Point3& v : vertices) {
        points.emplace_back(v.X(), v.Y());
    }
    return points;
}

CPgon SeamlineGridToMap(const CPgon& grid, const SeamlineGrid& frame) {
    CPgon map;
    for (int c = 0; c < grid.GetNumContours(); ++c) {
        std::vector<Wml::Point2> points = grid.GetContour(c);
        for (Wml::Point2& p : points) {
            p = frame.ToMap(p.X(), p.Y());
        }
        map.AddContour(points.data(), int(points.size()), grid.IsHole(c) != 0);
    }
    return map;
}

QString SeamPolygonFilePath(const QString& folder, const QString& name, const char* extension) {
    return QDir(folder).filePath(name + QLatin1Char('.') + QLatin1String(extension));
}

int WritePgonFile(const QString& name, const QString& polFolder, const CPgon& polygon) {
    if (name.isEmpty()) {
        return 0;
    }
    return WritePolygonFile(SeamPolygonFilePath(polFolder, name, "pol"), polygon) ? 1 : 0;
}

int ReadPgonFile(const QString& path, CPgon& polygon) {
    polygon = CPgon();
    QFile file(path);
    if (!file.exists()) {
        return 1;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    kv::ArchiveReader in(&file);
    const int32_t format = in.ReadInt32();
    if (!in.Ok()) {
        return 0;
    }
    if (format <= 0) {
        return 1;
    }
    const int32_t contours = in.ReadInt32();
    // Every contour takes at least its vertex count.
    if (!in.Ok() || contours < 0 || qint64(contours) * 4 > in.Remaining()) {
        return 0;
    }
    CPgon read;
    std::vector<Wml::Point2> points;
    for (int32_t c = 0; c < contours; ++c) {
        const int32_t count = in.ReadInt32();
        if (!in.Ok() || count < 0 || qint64(count) * kVertexBytes > in.Remaining()) {
            return 0;
        }
        points.resize(size_t(count));
        for (Wml::Point2& p : points) {
            const double x = in.ReadDouble();
            const double y = in.ReadDouble();
            if (!std::isfinite(x) || !std::isfinite(y)) {
                return 0;
            }
            p = Wml::Point2(x, y);
        }
        if (!in.Ok()) {
            return 0;
        }
        read.AddContour(points.data(), count);
    }
    polygon = read;
    return 1;
}

int WriteSmlFile(const QString& folder, const QString& name, const CPgon& region) {
    const QString path = SeamPolygonFilePath(folder, name, "sml");
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (WritePolygonFile(path, region)) {
            return 0;
        }
        RetryPause();
    }
    while (!WritePolygonFile(path, region)) {
        if (KvMessageBox(QStringLiteral("Unable to write seamlines.\nRetry?"), MB_YESNO | MB_ICONQUESTION) !=
            IDYES) {
            return -2;
        }
    }
    return 0;
}

void SetSeamlineRetryPause(int milliseconds) {
    g_retryPauseMs = std::max(0, milliseconds);
}

void DeletePgonFiles(const QString& polFolder) {
    QDir dir(polFolder);
    const QFileInfoList files = dir.entryInfoList({QStringLiteral("*.pol")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& info : files) {
        QFile::remove(info.absoluteFilePath());
    }
}
