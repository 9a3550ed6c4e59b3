#include "raster/LayerEntities.h"

// Without a CAD engine in the build no entity can exist, so every handle is null here.
void EraseLayerEntity(CadEntity* entity) {
    (void)entity;
}

bool IsLayerImageShown(CadDrawing* drawing, CadEntity* image, const QString& layerName) {
    (void)layerName;
    return drawing && image && false;
}
