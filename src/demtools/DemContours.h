// Contour lines of a DEM: the command, and where its files go.
#pragma once

#include <QString>

#include <vector>

class CDEM;
class ProgressSink;
struct CadDrawing;

// The command CONTOURS: picks the DEM (the only one without asking), asks for the levels and the
// simplification, and builds the contour lines into the project's folder and the drawing.
void CmdContours(CadDrawing* drawing);

// Traces the levels of the DEM's heights (its grid while it is in memory, with no data -9999)
// into the shapefile at shp: layer "Contours" of 2.5D lines with the fields "ID" and "Elevation",
// simplified with the squared-distance tolerance when it is above 0 (the lines are traced into
// scratch files of the program's own temporary names beside shp, removed when the run ends; no
// other file of the folder is touched). The files at shp are replaced only once the new ones are
// complete, and then as one set: whatever stops that leaves the old files, the new ones, or no
// .shp. 1 on success, 0 with the old files left as they were: also when the progress is
// aborted (no new file is left behind) and when the heights hold no value at all.
int TraceContours(CDEM& dem, const std::vector<double>& levels, double step, double tolerance,
                  const QString& shp, ProgressSink* progress);

// Whether the DEM holds a height anywhere (a cell that is not no data).
bool DemHasHeights(CDEM& dem);

// Whether TraceContours traces the levels as GDAL's series of levels rather than as their list:
// the levels are evenly spaced to the bit, and the heights (their exact range, from one pass over
// them) reach few levels of the series beyond them. Either way the files are the same.
bool ContoursTracedAsSeries(CDEM& dem, const std::vector<double>& levels, double step);

// The contour shapefile of the DEM in the project's folder ("<layer name>_Contours.shp"); empty
// while the DEM has no project or the project no path.
QString ContourShapefilePath(const CDEM& dem);
