// Contour lines of a DEM: the command, and where its files go.
#pragma once

#include <QString>

class CDEM;
struct CadDrawing;

// The command CONTOURS: picks the DEM (the only one without asking), asks for the levels and the
// simplification, and builds the contour lines into the project's folder and the drawing.
void CmdContours(CadDrawing* drawing);

// The contour shapefile of the DEM in the project's folder ("<layer name>_Contours.shp"); empty
// while the DEM has no project or the project no path.
QString ContourShapefilePath(const CDEM& dem);
