#include "view/CadEventProcs.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

#include "document/KelvaroDoc.h"
#include "document/MapToolWindows.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"
#include "view/RasterRendering.h"

namespace {

SeamlineEditHandlers g_seamlineEdit;
SeamlineEditHandlers g_demSeamlineEdit;

// The handlers of the active command, or null when no seamline editing runs.
const SeamlineEditHandlers* ActiveSeamlineEdit(CadDrawing* drawing) {
    if (!FindDocByCad(drawing)) {
        return nullptr;
    }
    if (ActiveCadCommandId == CMD_SEAMLINELABELBRUSH) {
        return &g_seamlineEdit;
    }
    if (ActiveCadCommandId == CMD_DEMSEAMLINELABELBRUSH) {
        return &g_demSeamlineEdit;
    }
    return nullptr;
}

template <typename Layer>
Layer* FindLayer(const std::map<int, QString>& ids, const std::map<QString, Layer*>& layers, int id) {
    auto name = ids.find(id);
    if (name == ids.end()) {
        return nullptr;
    }
    auto layer = layers.find(name->second);
    return layer == layers.end() ? nullptr : layer->second;
}

template <typename Layer>
Layer* FindLayerByName(const std::map<QString, Layer*>& layers, const QString& name) {
    auto layer = layers.find(name);
    return layer == layers.end() ? nullptr : layer->second;
}

int DrawDem(CadDrawing* drawing, CDEM* dem, const CadWinRect* update, QPainter* dc, int x0, int yb, int W,
            int H) {
    if (!dem || dem->m_busy || !dem->m_imageEntity || (!dem->m_pDataset && dem->m_grid.empty())) {
        return 0;
    }
    RasterDrawTarget t;
    if (!LayoutPlace(update, x0, yb, W, H, dem->Width(), dem->Height(), t)) {
        return 0;
    }
    t.dc = dc;
    t.opacity = 1.0;
    const RasterClip clip{&dem->SeamlinePolylines, dem->m_geoTransform};
    const int drawn = DrawCached(dem->m_display, t, [&](cv::Mat& values, cv::Mat& picture) {
        if (dem->m_pDataset) {
            return DrawRasterWithPalette(dem->m_pDataset, t, dem->m_colorRangeMin, dem->m_colorRangeMax,
                                         &dem->m_colors, clip, values, picture);
        }
        // An edited DEM lives in memory and looks as it did on file: its palette, classes and clip.
        const RasterColouring colouring{dem->m_colorRangeMin, dem->m_colorRangeMax, &dem->m_colors, false};
        return DrawGridWithColouring(dem->m_grid, t, colouring, clip, values, picture);
    });
    SetDisplayGeoTransform(drawing, dem->m_imageEntity, t, x0, yb, W, dem->m_display);
    return drawn;
}

int DrawLabels(CadDrawing* drawing, CDEM* dem, const CadWinRect* update, QPainter* dc, int x0, int yb, int W,
               int H) {
    if (!dem || !dem->m_labelImageEntity || dem->m_labelMask.empty()) {
        return 0;
    }
    RasterDrawTarget t;
    if (!LayoutPlace(update, x0, yb, W, H, dem->m_labelMask.cols, dem->m_labelMask.rows, t)) {
        return 0;
    }
    t.dc = dc;
    t.opacity = 1.0;
    const int drawn = DrawCached(dem->m_labelDisplay, t, [&](cv::Mat&, cv::Mat& picture) {
        return DrawGrayImageRegion(dem->m_labelMask, t, picture);
    });
    SetDisplayGeoTransform(drawing, dem->m_labelImageEntity, t, x0, yb, W, dem->m_labelDisplay);
    return drawn;
}

int DrawOrtho(CadDrawing* drawing, CKelvaroDoc* doc, COrtho* ortho, const CadWinRect* update, QPainter* dc,
              int x0, int yb, int W, int H) {
    if (!ortho || !ortho->m_imageEntity || !ortho->m_pDataset) {
        return 0;
    }
    RasterDrawTarget t;
    if (!LayoutPlace(update, x0, yb, W, H, GDALGetRasterXSize(ortho->m_pDataset),
                     GDALGetRasterYSize(ortho->m_pDataset), t)) {
        return 0;
    }
    t.dc = dc;
    // Pictures are drawn opaque at an opacity of 0, from the file and from the cache alike.
    t.opacity = doc->m_dOrthoOpacity > 0.0 ? doc->m_dOrthoOpacity : 1.0;
    const RasterClip clip{&ortho->SeamlinePolylines, ortho->m_geoTransform};
    const int drawn = DrawCached(ortho->m_display, t, [&](cv::Mat&, cv::Mat& picture) {
        return ExtractRasterToImage(ortho->m_pDataset, t, clip, picture);
    });
    SetDisplayGeoTransform(drawing, ortho->m_imageEntity, t, x0, yb, W, ortho->m_display);
    return drawn;
}

int DrawMap(CadDrawing* drawing, CMapData* map, const CadWinRect* update, QPainter* dc, int x0, int yb, int W,
            int H) {
    if (!map || map->m_busy || !map->m_imageEntity || !map->m_pDataset) {
        return 0;
    }
    const int bands = GDALGetRasterCount(map->m_pDataset);
    if (bands != 1 && bands != 3) {
        return 0;
    }
    RasterDrawTarget t;
    if (!LayoutPlace(update, x0, yb, W, H, GDALGetRasterXSize(map->m_pDataset),
                     GDALGetRasterYSize(map->m_pDataset), t)) {
        return 0;
    }
    t.dc = dc;
    const RasterClip clip{&map->m_linkedEntities, map->m_geoTransform};
    int drawn = 0;
    if (bands == 1) {
        t.opacity = map->m_opacity;
        const double low = map->m_pRangeMin ? *map->m_pRangeMin : (map->m_pMin ? *map->m_pMin : 0.0);
        const double high = map->m_pRangeMax ? *map->m_pRangeMax : (map->m_pMax ? *map->m_pMax : 0.0);
        drawn = DrawCached(map->m_display, t, [&](cv::Mat& values, cv::Mat& picture) {
            return DrawRasterWithPalette(map->m_pDataset, t, low, high, &map->m_colors, clip, values,
                                         picture);
        });
    } else {
        t.opacity = map->m_opacity > 0.0 ? map->m_opacity : 1.0;
        drawn = DrawCached(map->m_display, t, [&](cv::Mat&, cv::Mat& picture) {
            return ExtractRasterToImage(map->m_pDataset, t, clip, picture);
        });
    }
    SetDisplayGeoTransform(drawing, map->m_imageEntity, t, x0, yb, W, map->m_display);
    return drawn;
}

// The height of the DEM's cell under model point (x, y), once the DEM has been drawn and while
// no edit rewrites it; false outside it or on no data. The cell is read from the layer: the
// display image holds values resampled to the window's pixels, which at most zooms belong to no
// one cell.
bool DemHeightAt(CDEM& dem, double x, double y, float* value) {
    if (dem.m_busy || dem.m_display.values.empty()) {
        return false;
    }
    const float v = dem.GetCellHeight(x, y);
    if (IsNoData(v)) {
        return false;
    }
    *value = v;
    return true;
}

QString LayerName(CadLayer* layer) {
    char buffer[512] = {0};
    CadLayerGetName(layer, buffer, sizeof(buffer));
    return QString::fromUtf8(buffer);
}

// Visible layers other than "0", first to last.
template <typename F>
void ForEachShownLayer(CadDrawing* drawing, F f) {
    for (CadLayer* layer = CadGetFirstLayer(drawing); layer; layer = CadGetNextLayer(drawing, layer)) {
        if (!CadLayerGetVisible(layer) || CadLayerGetDeleted(layer)) {
            continue;
        }
        const QString name = LayerName(layer);
        if (name != QStringLiteral("0")) {
            f(name);
        }
    }
}

}  // namespace

void SetSeamlineEditHandlers(int commandId, const SeamlineEditHandlers& handlers) {
    if (commandId == CMD_SEAMLINELABELBRUSH) {
        g_seamlineEdit = handlers;
    } else if (commandId == CMD_DEMSEAMLINELABELBRUSH) {
        g_demSeamlineEdit = handlers;
    }
}

int OnCadDrawImage(CadDrawing* drawing, QPainter* dc, const CadWinRect* update, int imageId, int placeLeft,
                   int placeBottom, int placeWidth, int placeHeight) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || !dc) {
        return 0;
    }
    const int x0 = placeLeft, yb = placeBottom, W = placeWidth, H = placeHeight;
    if (imageId >= 1000 && imageId <= 1999) {
        return DrawDem(drawing, FindLayer(doc->m_DEMIdNames, doc->m_DEMs, imageId), update, dc, x0, yb, W, H);
    }
    if (imageId >= 2000 && imageId <= 2999) {
        return DrawOrtho(drawing, doc, FindLayer(doc->m_OrthoIdNames, doc->m_Orthos, imageId), update, dc, x0,
                         yb, W, H);
    }
    if (imageId >= 3000 && imageId <= 3999) {
        return DrawLabels(drawing, FindLayer(doc->m_DEMIdNames, doc->m_DEMs, imageId - 2000), update, dc, x0,
                          yb, W, H);
    }
    if (imageId >= 4000 && imageId <= 4999) {
        return DrawMap(drawing, FindLayer(doc->m_MapIdNames, doc->m_Maps, imageId), update, dc, x0, yb, W, H);
    }
    return 0;
}

int OnCadMouseMove(CadDrawing* drawing, int keyFlags, double x, double y) {
    QWidget* window = CadGetWindow(drawing);
    if (window && QApplication::focusWidget() != window) {
        CadWinSetFocus(window);
    }
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || (keyFlags & CAD_KEY_SHIFT)) {
        return 0;
    }
    double value = kNoData;
    QString name;
    bool fromMap = false;
    int precision = 3;
    QString unit;
    ForEachShownLayer(drawing, [&](const QString& layerName) {
        fromMap = false;
        if (CMapData* map = FindLayerByName(doc->m_Maps, layerName)) {
            if (map->m_display.values.empty() || !IsLayerImageShown(drawing, map->m_imageEntity, layerName)) {
                return;
            }
            unit = map->GetUnitName();
            precision = map->m_mapType == MapTypeTemperature ? 2 : 3;
            const float v = map->GetValueAt(drawing, x, y);
            if (v != kNoData) {
                value = map->m_mapType == MapTypeSlope ? std::tan(v) * 100.0 : v;
                name = layerName;
                fromMap = true;
            }
            return;
        }
        name = layerName;
        value = kNoData;
        CDEM* dem = FindLayerByName(doc->m_DEMs, layerName);
        float v = 0.0f;
        if (dem && IsLayerImageShown(drawing, dem->m_imageEntity, layerName) && DemHeightAt(*dem, x, y, &v)) {
            value = v;
        }
    });
    QString status;
    if (value != kNoData) {
        status = QString::asprintf("%.3f, %.3f, %.3f (%s)", x, y, value, name.toUtf8().constData());
        if (fromMap && ActiveCadCommandId == 0) {
            doc->m_strCommandPrompt =
                QString::asprintf("%.*f %s", precision, value, unit.toUtf8().constData());
        }
    } else {
        status = QString::asprintf("%.3f, %.3f", x, y);
        if (ActiveCadCommandId == 0) {
            doc->m_strCommandPrompt.clear();
        }
    }
    if (kv::MainWindowService* service = kv::GetMainWindowService()) {
        service->SetStatusText(status);
    }
    return 0;
}

int OnCadPreMouseDown(CadDrawing* drawing, int button, double x, double y) {
    const SeamlineEditHandlers* edit = ActiveSeamlineEdit(drawing);
    if (edit && button == CAD_BUTTON_LEFT && edit->mouseDown && edit->mouseDown(drawing, x, y) != 0) {
        return 0;  // consumed
    }
    return 1;
}

int OnCadMouseUp(CadDrawing* drawing, int button) {
    const SeamlineEditHandlers* edit = ActiveSeamlineEdit(drawing);
    if (edit && button == CAD_BUTTON_LEFT && edit->mouseUp && edit->mouseUp(drawing) != 0) {
        return 1;
    }
    return 0;
}

int OnCadMouseWheel(CadDrawing* drawing, int keyFlags, int delta) {
    const SeamlineEditHandlers* edit = ActiveSeamlineEdit(drawing);
    if (edit && edit->mouseWheel && edit->mouseWheel(drawing, keyFlags, delta) != 0) {
        return 1;
    }
    return 0;
}

int OnCadPolyFill(CadDrawing*, CadEntity* entity, QPainter* dc, const QPoint* points, const int* ringCounts,
                  int ringCount, uint32_t colour) {
    if (!entity || !dc || CadEntityGetType(entity) != CAD_ENT_POLYLINE) {
        return 0;
    }
    // The entity's user data holds its fill transparency: 0 opaque, 255 invisible.
    const int alpha = 255 - (CadEntityGetUserData(entity) & 0xFF);
    const QColor fill(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF, alpha);
    std::vector<QPolygonF> rings;
    int first = 0;
    for (int i = 0; i < ringCount; ++i) {
        QPolygonF ring;
        for (int k = 0; k < ringCounts[i]; ++k) {
            ring << QPointF(points[first + k]);
        }
        first += ringCounts[i];
        rings.push_back(ring);
    }
    dc->save();
    const QPen pen = dc->pen();
    dc->setPen(Qt::NoPen);
    dc->setBrush(fill);
    for (const QPolygonF& ring : rings) {
        dc->drawPolygon(ring, Qt::OddEvenFill);
    }
    dc->setPen(pen);
    dc->setBrush(Qt::NoBrush);
    for (const QPolygonF& ring : rings) {
        dc->drawPolyline(ring);
    }
    dc->restore();
    return 1;
}

int OnCadEntErase(CadDrawing* drawing, CadEntity* entity) {
    // A layer whose image place was erased leaves the project; its CAD layer and its linked
    // entities stay in the drawing.
    if (CKelvaroDoc* doc = FindDocByCad(drawing)) {
        doc->OnImagePlaceErased(entity);
    }
    return 0;
}

int OnCadDrawCursor(CadDrawing* drawing, QPainter* dc, int x, int y) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || !dc || doc->m_strCommandPrompt.isEmpty()) {
        return 0;
    }
    dc->save();
    QFont font(QStringLiteral("Curier New"));
    font.setPixelSize(15);
    font.setWeight(QFont::Bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    dc->setFont(font);
    dc->setPen(QColor(0xA8, 0xA8, 0xA8));
    dc->drawText(QPoint(x + 7, y - 15), doc->m_strCommandPrompt);
    dc->setPen(Qt::white);
    dc->drawText(QPoint(x + 8, y - 14), doc->m_strCommandPrompt);
    dc->restore();
    return 0;
}

int OnCadSnapToImagePlace(CadDrawing* drawing, CadEntity* imagePlace, double x, double y, double* outX,
                          double* outY, double* outZ) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return 0;
    }
    auto name = doc->m_DEMHandleNames.find(imagePlace);
    if (name == doc->m_DEMHandleNames.end()) {
        return 0;
    }
    CDEM* dem = FindLayerByName(doc->m_DEMs, name->second);
    float z = 0.0f;
    if (!dem || !DemHeightAt(*dem, x, y, &z)) {
        return 0;
    }
    if (outX) {
        *outX = x;
    }
    if (outY) {
        *outY = y;
    }
    if (outZ) {
        *outZ = z;
    }
    return 1;
}

int OnCadPaint(CadDrawing* drawing, QPainter* dc, int windowWidth) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || !dc) {
        return 0;
    }
    // The legend shows the last visible DEM, or NDVI or other map, when it is the last layer.
    QString recordName;
    int recordType = 0;
    ForEachShownLayer(drawing, [&](const QString& name) {
        if (CMapData* map = FindLayerByName(doc->m_Maps, name)) {
            const bool shown = map->m_mapType == MapTypeNDVI || map->m_mapType == MapTypeOther;
            recordName = shown ? name : QString();
            recordType = shown ? map->m_mapType : 0;
        } else if (FindLayerByName(doc->m_DEMs, name)) {
            recordName = name;
            recordType = MapTypeDem;
        } else {
            recordName.clear();
            recordType = 0;
        }
    });
    if (recordName.isEmpty()) {
        return 0;
    }
    // Refreshed without a repaint request: this procedure runs inside the repaint.
    MapLayerInfo record;
    record.title = recordName;
    record.mapType = static_cast<MapType>(recordType);
    record.noRepaint = 1;
    doc->UpdateColorLegend(record);
    const double minimum = doc->m_dLegendMin;
    const double maximum = doc->m_dLegendMax;
    const MapToolWindow* dialog = doc->m_pColorClassificationDlg;
    if ((dialog && dialog->IsShown()) || doc->m_ColorLegend.empty() || doc->m_ColorLegend.type() != CV_8UC3) {
        return 0;
    }
    const cv::Mat& legend = doc->m_ColorLegend;
    const QImage image =
        QImage(legend.data, legend.cols, legend.rows, static_cast<int>(legend.step), QImage::Format_BGR888)
            .copy();
    dc->save();
    dc->drawImage(QPoint(windowWidth - 100, 50), image);
    dc->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    dc->setPen(Qt::white);
    const int descent = QFontMetrics(dc->font()).descent();
    for (int i = 0; i < 5; ++i) {
        const double label = maximum - (maximum - minimum) * 0.25 * i;
        const int lx = windowWidth - 95 + legend.cols;
        const int ly = static_cast<int>(std::rint((legend.rows - 10) * 0.25 * i)) + 60;
        dc->drawText(QPoint(lx, ly - descent), QString::asprintf("%.1lf", label));
    }
    dc->restore();
    return 0;
}

void RegisterDocumentEventProcs() {
    CadOnEventDrawImage(OnCadDrawImage);
    CadOnEventMouseMove(OnCadMouseMove);
    CadOnEventPreMouseDown(OnCadPreMouseDown);
    CadOnEventMouseUp(OnCadMouseUp);
    CadOnEventMouseWheel(OnCadMouseWheel);
    CadOnEventPolyFill(OnCadPolyFill, 0);
    CadOnEventEntErase(OnCadEntErase);
    CadOnEventDrawCursor(OnCadDrawCursor);
    CadOnEventSnapToImagePlace(OnCadSnapToImagePlace);
    CadOnEventPaint(OnCadPaint);
}
