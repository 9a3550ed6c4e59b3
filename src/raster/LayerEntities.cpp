#include "raster/LayerEntities.h"

#include "platform/cad/Cad.h"

void EraseLayerEntity(CadEntity* entity) {
    if (entity) {
        CadEntityErase(entity, 1);
    }
}

bool IsLayerImageShown(CadDrawing* drawing, CadEntity* image, const QString& layerName) {
    if (!drawing || !image || CadEntityGetDeleted(image) || !CadEntityGetVisible(image)) {
        return false;
    }
    CadLayer* layer = CadGetLayerByName(drawing, layerName.toUtf8().constData());
    return layer && !CadLayerGetDeleted(layer) && CadLayerGetVisible(layer);
}
