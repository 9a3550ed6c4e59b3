// The vegetation-index report: how an index map's values spread over an area, in five classes by
// four thresholds the operator confirms, as a colour-coded JPEG picture of the area and a one-page
// PDF with the classes' areas and shares, the mean and the standard deviation, both written beside
// the map. EXPORTNDVIRESULTS chooses the map and the way areas are given, and reports on one area
// after the other.
#pragma once

#include <vector>

#include "platform/math/Wml.h"

class CMapData;
class KvProgressDialog;
class QPainter;
struct CadDrawing;

// EXPORTNDVIRESULTS: the map (the only one, or picked), the area choice, then reports: an
// existing closed polyline or an area drawn now for each report until the operator stops, or one
// report over the whole map. Abort in the progress window ends the command.
void CmdExportNdviResults(CadDrawing* drawing);
// The rubber band of the area being drawn.
void CmdExportNdviResultsDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);

// Reports on the map over the area (map coordinates; none: the whole map): counts the valid
// values (the band's no-data value and NaN are none) inside the area, asks for the thresholds in
// CExportNDVIDataDlg, classifies and draws the values and writes "<name>.jpg" and "<name>.pdf" in
// the map's folder, both under temporary names and put in place only when both are complete; the
// PDF is opened when the dialog asks for it. The progress window shows the passes and its Abort
// stops them.
//
// 1 when the command may go on: the report was written, the dialog was cancelled, there was no
// valid value ("No value to compare"), or the operator aborted (then *stopped is set). 0 for a
// failure: a map that is no NDVI or other map (a SAVI map among them), no geotransform, an area of
// one or two vertices or wholly off the map, a failed read, or a report that could not be written.
int ExportNdviReport(CMapData* map, const std::vector<Wml::Point3>& area, KvProgressDialog& progress, int* stopped);
