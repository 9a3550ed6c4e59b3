#include "raster/LayerEntities.h"

void EraseLayerEntity(CadEntityHandle entity) {
    (void)entity;
}
