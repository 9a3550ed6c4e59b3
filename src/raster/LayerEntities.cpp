#include "raster/LayerEntities.h"

// This build has no CAD engine, so no layer owns an entity: there is nothing to erase, and no
// image place can be shown.
void EraseLayerEntity(CadEntity*) {}

bool IsLayerImageShown(CadDrawing*, CadEntity*, const QString&) { return false; }
