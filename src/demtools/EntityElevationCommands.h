// The commands that carry heights between drawing entities and DEMs.
#pragma once

struct CadDrawing;

// DEMELEVATIONBYENTITIES: round after round of selected closed polylines, each triangulated from
// its vertices; inside it every DEM of the project takes the heights of that surface. One undo
// round per selection.
void CmdDemElevationByEntities(CadDrawing* drawing);

// RASTERIZEENTITIESONDEM: picked points, lines and polylines burnt into one DEM, heights
// interpolated along the lines; one undo round.
void CmdRasterizeEntitiesOnDem(CadDrawing* drawing);

// SETENTELEVATIONFROMDEM: picked points, lines and polylines take the heights of a DEM below
// them; with a resample step, lines and polylines become polylines with a vertex every step.
void CmdSetEntElevationFromDem(CadDrawing* drawing);
