#include "mosaic/TileLayout.h"

#include <QByteArray>

#include <algorithm>

#include "mosaic/MosaicTile.h"
#include "platform/cad/Cad.h"
#include "platform/geometry/Pgon.h"

namespace {

// The tile name a polyline of "Tiles" carries: the zero-terminated text of its extended data, of
// which at most 1023 characters are used.
QString TileNameOf(CadEntity* entity) {
    const int size = CadEntityGetExData(entity, nullptr, 0);
    if (size <= 0) {
        return QString();
    }
    QByteArray data(size, '\0');
    CadEntityGetExData(entity, data.data(), size);
    return QString::fromUtf8(data.constData(), int(qstrnlen(data.constData(), std::min(size, 1023))));
}

}  // namespace

std::vector<std::unique_ptr<CMosaicTile>> ReadTileLayout(CadLayer* tilesLayer, CKelvaroDoc* doc,
                                                         double pixelWidth, double pixelHeight,
                                                         const QString& folder, const QString& suffix) {
    std::vector<std::unique_ptr<CMosaicTile>> tiles;
    for (CadEntity* e = tilesLayer ? CadLayerGetFirstEntity(tilesLayer) : nullptr; e;
         e = CadLayerGetNextEntity(tilesLayer, e)) {
        if (CadEntityGetDeleted(e) || !CadEntityGetVisible(e) || CadEntityGetType(e) != CAD_ENT_POLYLINE ||
            CadPlineGetNumVers(e) <= 2 || !CadPlineGetClosed(e)) {
            continue;
        }
        const QString name = TileNameOf(e);
        if (name.isEmpty()) {
            continue;
        }
        auto tile = std::make_unique<CMosaicTile>(doc);
        std::vector<Wml::Point2> points;
        for (int i = 0; i < CadPlineGetNumVers(e); ++i) {
            double x = 0, y = 0, z = 0;
            CadPlineGetVer(e, i, &x, &y, &z);
            points.emplace_back(x, y);
            tile->m_minX = std::min(tile->m_minX, x);
            tile->m_maxX = std::max(tile->m_maxX, x);
            tile->m_minY = std::min(tile->m_minY, y);
            tile->m_maxY = std::max(tile->m_maxY, y);
        }
        tile->m_Outline = CPgon(points.data(), int(points.size()));
        tile->m_strName = name;
        tile->m_strOutputPath = folder + name + suffix;
        const double gt[6] = {tile->m_minX, pixelWidth, 0.0, tile->m_maxY, 0.0, pixelHeight};
        std::copy(gt, gt + 6, tile->m_geoTransform);
        tile->m_width = PixelSpan(tile->m_maxX - tile->m_minX, pixelWidth);
        tile->m_height = PixelSpan(tile->m_maxY - tile->m_minY, pixelHeight);
        tiles.push_back(std::move(tile));
    }
    return tiles;
}
