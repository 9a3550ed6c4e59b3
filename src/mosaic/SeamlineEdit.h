// Editing the seamline regions by hand: the operator clicks inside the region of the image that
// should grow, draws an area from that click and applies it with a right click; the area joins
// that image's region and leaves every other region it reaches. Each applied area is one round of
// the project's orthophoto or DEM seamline stack, which the undo and redo commands walk.
#pragma once

#include <vector>

#include "platform/cad/Cad.h"
#include "platform/math/Wml.h"

class CKelvaroDoc;
class CDEM;
class COrtho;

// The edit commands: EDITSEAMLINESROUND (orthophotos, layer "SeamLines") and
// EDITDEMSEAMLINESROUND (DEMs, layer "SeamLines_DEM"), with their rubber bands, which show the area
// as a closed outline through the cursor.
void CmdEditSeamlinesRound(CadDrawing* drawing);
void CmdEditSeamlinesRoundDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
void CmdEditDemSeamlinesRound(CadDrawing* drawing);
void CmdEditDemSeamlinesRoundDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);

// Undo and redo of one round; an empty stack says "Undo buffer empty" or "Redo buffer empty" in
// the command line.
void CmdEditSeamlinesRoundUndo(CadDrawing* drawing);
void CmdEditSeamlinesRoundRedo(CadDrawing* drawing);
void CmdEditDemSeamlinesRoundUndo(CadDrawing* drawing);
void CmdEditDemSeamlinesRoundRedo(CadDrawing* drawing);

// The image of the project whose seamline region holds the point (the first in the project's
// order), or null.
COrtho* FindSeamlineOrtho(CKelvaroDoc& doc, double x, double y);
CDEM* FindSeamlineDem(CKelvaroDoc& doc, double x, double y);

// Applies an area to the seamline regions: the area (3 or more points) joins the edited image's
// region and leaves every other region whose polylines it crosses or encloses. Only closed
// polylines of the kind's own layer that point at an image of that kind in the project take part.
// The old polylines are erased (kept for undo), the new ones carry the same links, and one round
// is pushed. 1 when a round was pushed, 0 when nothing changed.
int ApplySeamlineArea(CKelvaroDoc& doc, COrtho* edited, const std::vector<Wml::Point2>& area);
int ApplyDemSeamlineArea(CKelvaroDoc& doc, CDEM* edited, const std::vector<Wml::Point2>& area);
