// The drawing entities of a raster layer: the image places that show it and the entities tied to
// it (clip polylines, seamlines). These two functions are all the layers ask of the CAD engine.
#pragma once

#include <QString>

#include <vector>

struct CadDrawing;
struct CadEntity;

using CadEntityList = std::vector<CadEntity*>;

// Erases a layer's own entity from its drawing; nothing for a null handle.
void EraseLayerEntity(CadEntity* entity);

// True when the layer's image place is shown: the entity exists, is neither erased nor hidden,
// and the CAD layer named after the layer exists and is visible.
bool IsLayerImageShown(CadDrawing* drawing, CadEntity* image, const QString& layerName);
