// The commands that set two surfaces against each other: the difference raster of two DEMs with
// its preview, and the comparison of a surface with a reference DEM with its picture and report.
#pragma once

struct CadDrawing;

// SUBTRACTDEM: picks DEM A and DEM B and shows A - B in the subtract dialog.
void CmdSubtractDem(CadDrawing* drawing);
// COMPAREDEM: asks for the reference DEM and the compared surface, compares them and writes the
// picture and the report beside the reference.
void CmdCompareDem(CadDrawing* drawing);
