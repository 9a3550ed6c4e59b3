// The drawing entities of a raster layer: the image places that show it and the entities tied to
// it (clip polylines, seamlines).
#pragma once

#include <vector>

// A handle of an entity of the CAD drawing; null for none.
using CadEntityHandle = void*;
using CadEntityList = std::vector<CadEntityHandle>;

// Erases a layer's own entity from its drawing; nothing for a null handle.
void EraseLayerEntity(CadEntityHandle entity);
