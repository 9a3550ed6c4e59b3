// The command procedures of the area-restricted DEM edits and the flood fill: how the operator
// gives an area (an existing closed polyline or one drawn point by point), the rubber bands that
// show it, and the frame that runs a worker over every editable DEM the area touches and keeps
// the run as one undo round.
#pragma once

#include <functional>
#include <vector>

#include "demtools/DemEditArea.h"
#include "platform/math/Wml.h"

class CDEM;
class CKelvaroDoc;
class DemUndoRound;
class DemUndoStack;
struct CadDrawing;
class QPainter;

// The DEMs of the document an edit may change: image place present, not deleted and visible, on a
// CAD layer that is visible and not locked; in the order of the document's DEM table.
std::vector<CDEM*> EditableDems(CKelvaroDoc& doc);

// Hands one run's round to the document's DEM undo history. 0 for an empty round.
int PushEditRound(CKelvaroDoc* doc, const DemUndoRound& round);

// A worker on one DEM: edits the area (world coordinates) through the recorder.
using DemAreaWorker =
    std::function<int(CDEM& dem, const CPgon& area, ProgressSink* progress, const DemEditRecorder& record)>;
// Runs the worker on every editable DEM the area touches, one undo round for the run; the area is
// emptied. Nothing for fewer than three vertices. Returns the number of windows written.
int RunDemAreaEdit(CadDrawing* drawing, CKelvaroDoc* doc, std::vector<Wml::Point3>& area,
                   const DemAreaWorker& worker, bool regenerate);

void CmdDemHole(CadDrawing* drawing);
void CmdDemHoleDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
void CmdDemGridGaps(CadDrawing* drawing);
void CmdDemGridGapsDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
void CmdDemOffset(CadDrawing* drawing);
void CmdDemOffsetDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
void CmdDemErode(CadDrawing* drawing);
void CmdDemErodeDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
void CmdDemPatchIt(CadDrawing* drawing);
void CmdDemPatchItDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
void CmdDemFloodFill(CadDrawing* drawing);
