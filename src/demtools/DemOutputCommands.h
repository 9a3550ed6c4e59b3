// The commands that write a new DEM and add it to the project: from point files (LAS or ASCII
// x y z) and as a resized copy of a DEM.
#pragma once

struct CadDrawing;

// CREATEDEMFROMLAS: grids the chosen point files at a cell size proposed from their spacing.
void CmdCreateDemFromLas(CadDrawing* drawing);
// RESIZEDEM: writes a copy of a DEM at another cell size.
void CmdResizeDem(CadDrawing* drawing);
