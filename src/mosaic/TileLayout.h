// The tile layout as its readers take it: the named closed polylines of the drawing layer "Tiles".
#pragma once

#include <QString>

#include <memory>
#include <vector>

class CKelvaroDoc;
class CMosaicTile;
struct CadLayer;

inline constexpr char kTilesLayerName[] = "Tiles";

// The tiles of the layer: every visible, not erased, closed polyline of more than 2 vertices that
// carries a non-empty name in its extended data, in the layer's order, as records of the document
// with the name, the outline and its bounding box, the output path folder + name + suffix, and
// the pixel grid (pixel width, pixel height) from the box's top-left corner.
std::vector<std::unique_ptr<CMosaicTile>> ReadTileLayout(CadLayer* tilesLayer, CKelvaroDoc* doc,
                                                         double pixelWidth, double pixelHeight,
                                                         const QString& folder, const QString& suffix);
