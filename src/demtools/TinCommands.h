// The commands that turn drawing entities into elevations through a TIN: the operator draws an
// area, and the points, lines and polylines inside it are triangulated with their segments as
// break lines.
#pragma once

class QPainter;
struct CadDrawing;

// DEMFROMTIN: the TIN of one area sampled at cell centres on a grid of a typed cell size, saved as
// a new GeoTIFF and added to the project as a DEM.
void CmdDemFromTin(CadDrawing* drawing);
void CmdDemFromTinDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
// EDITDEMFROMTIN: area after area, the cells of a picked DEM under the TIN take the TIN's heights,
// one undo round per area.
void CmdEditDemFromTin(CadDrawing* drawing);
void CmdEditDemFromTinDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
