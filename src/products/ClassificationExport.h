// The export of a classified map: the valid cells of each class inside the map's area (or the
// whole map), their ground areas and shares, the mean and standard deviation of the values, a
// picture of the classified cells and a one-page PDF report, both written beside the map's file
// under its base name ("<name>.jpg", "<name>.pdf") and the PDF then opened.
#pragma once

#include <QString>

#include <vector>

#include "controls/ColorRef.h"

class CMapData;
class KvProgressDialog;

// One class of the export: the class takes the values above its threshold up to the next class's
// threshold (the first class also everything below, the last everything above).
struct ExportClass {
    double threshold = 0.0;
    COLORREF colour = 0;
};

enum class ExportResult {
    Written,   // the picture and the report are in place and the report was opened
    Aborted,   // the operator pressed Abort; the earlier files stay
    NoOutput,  // nothing to report: no geotransform, an area off the map, no valid value
    Failed,    // a read, the picture or the report failed (said in a message); the earlier files stay
};

// The classes as the map's palette holds them (threshold = lower limit of each class entry) with
// the given colours, sorted by threshold.
std::vector<ExportClass> ExportClassesOf(const CMapData& map, const std::vector<COLORREF>& colours);

// Counts, draws and reports the map's band 1 by the classes. The area is the map's first linked
// entity when it is a polyline; the band's no-data value and NaN are no values. The picture and
// the PDF are written under temporary names and put in place when both are complete. The progress
// window shows the pass ("Generating Report...") and its Abort stops it.
ExportResult ExportClassification(CMapData* map, const std::vector<ExportClass>& classes,
                                  KvProgressDialog& progress);
