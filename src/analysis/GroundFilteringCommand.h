// The command GROUNDFILTERING: the DEM (the only one, or picked), an area (an existing closed
// polyline, one drawn point by point, or the whole DEM), then the progress window that asks for
// the parameters and runs the filter.
#pragma once

class CDEM;
class QPainter;
struct CadDrawing;

void CmdGroundFiltering(CadDrawing* drawing);
// The rubber band of a drawn area: the vertices so far, the cursor and back to the first vertex.
void CmdGroundFilteringDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
// The DEM the running command filters; null outside the command.
CDEM* GroundFilteringCommandDem();
