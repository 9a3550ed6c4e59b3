// RASTERIZEMAP: the drawing over one raster layer's footprint rendered as a picture at a pixel
// size the operator gives, saved under a name the operator chooses.
#pragma once

struct CadDrawing;

void CmdRasterizeMap(CadDrawing* drawing);
