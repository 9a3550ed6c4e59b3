// The command procedures of the area-restricted DEM edits and the flood fill: how the operator
// gives an area (an existing closed polyline or one drawn point by point), the rubber bands that
// show it, and the frame that runs a worker over every editable DEM the area touches and keeps
// the run as one undo round.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

#include "demtools/DemEditArea.h"
#include "document/LayerFiles.h"
#include "platform/math/Wml.h"

class CDEM;
class CKelvaroDoc;
class CUndoDEM;
class DemUndoRound;
class DemUndoStack;
class KvProgressDialog;
struct CadDrawing;
class QPainter;
struct CadEntity;

// ---- Steps every DEM command shares; the TIN, entity-elevation, contour and analysis tools use
// them as well.

// Shows the text as the command line's prompt and as the project's prompt beside the cursor; an
// empty text clears both.
void Prompt(CadDrawing* drawing, const QString& text);
// Leaves in the command line why a step failed, after the operator was told that it did: "WHAT:
// CAUSE" (the system's words, what GDAL said, "The file is used by a loaded layer"), or WHAT alone
// when the cause is not known. The next prompt, or its clearing when the command ends, moves the
// line into the command line's history, where it stays.
void PromptFailure(CadDrawing* drawing, const QString& what, const QString& cause);
// Brings the ribbon's enabled and checked buttons up to date with the active command.
void RunIdle();

// Holds a command active for as long as it lives: ActiveCadCommandId takes the command's id, and
// on every way out the prompt is cleared and ActiveCadCommandId goes back to 0.
class ActiveCommandScope {
public:
    ActiveCommandScope(CadDrawing* drawing, int commandId);
    ~ActiveCommandScope();
    ActiveCommandScope(const ActiveCommandScope&) = delete;
    ActiveCommandScope& operator=(const ActiveCommandScope&) = delete;

private:
    CadDrawing* m_drawing;
};

// Ends a started command on every way out: the prompt cleared, the area (may be null) emptied,
// ActiveCadCommandId back to 0 and the ribbon brought up to date; with regenerate set, the
// drawing regenerated.
class CommandEnd {
public:
    CommandEnd(CadDrawing* drawing, std::vector<Wml::Point3>* area) : m_drawing(drawing), m_area(area) {}
    ~CommandEnd();
    CommandEnd(const CommandEnd&) = delete;
    CommandEnd& operator=(const CommandEnd&) = delete;
    bool regenerate = false;

private:
    CadDrawing* m_drawing;
    std::vector<Wml::Point3>* m_area;
};

// The rubber band of an area drawn point by point: the vertices picked so far, the cursor, and
// the first vertex again once the area can close. Nothing before the first vertex.
void DrawArea(const std::vector<Wml::Point3>& area, double x, double y, double z);

// How the operator ended an area: Area with vertices, Empty (finished with none), End (no entity
// picked) or Cancelled.
enum class AreaResult { Area, Empty, End, Cancelled };
// Collects an area point by point into `area`, prompting with prompts[0] before the first vertex,
// prompts[1] before the second and prompts[2] from then on. The finishing input (right click,
// Enter) ends it; typed text is ignored.
AreaResult DrawNewArea(CadDrawing* drawing, const char* const prompts[3], std::vector<Wml::Point3>& area);
// The prompts of an area drawn point by point that the right click ends.
extern const char* const kPickAreaPrompts[3];
// The same, with "Pick second area vertex" before the second vertex.
extern const char* const kAreaVertexPrompts[3];
// Takes the vertices of the next visible, closed polyline the operator picks that is not selected
// (other entities are passed over), prompting with `prompt`: Area, Empty for a polyline without
// vertices, or End when no entity is picked (right click, Enter, cancel).
AreaResult PickExistingArea(CadDrawing* drawing, const QString& prompt, std::vector<Wml::Point3>& area);
// Asks how the area is given, in the three-button dialog titled `title`: "Select existing area"
// (100), "Draw new area" (101) and the third button, captioned thirdCaption (102): "Exit" with
// rightButtonFlag 0, or a third way on such as "Use total area" with 1. 2 when cancelled.
int AskAreaChoice(CKelvaroDoc* doc, const QString& title, const QString& thirdCaption, int rightButtonFlag);

// The vertices of a polyline of the drawing, in order (any the engine cannot give are left out).
std::vector<Wml::Point3> DrawingPolylineVertices(CadEntity* polyline);

// The DEM of the project whose image place the entity is; null for any other entity or none.
CDEM* DemOfEntity(const CKelvaroDoc& doc, CadEntity* entity);
// The filter of an image pick that takes the image places of the project's DEMs.
std::function<bool(CadEntity*)> DemImages(const CKelvaroDoc& doc);

// The next visible, closed polyline the operator picks that is not selected (other entities are
// passed over), prompting with `prompt`; null when no entity is picked. The prompt is cleared
// once a polyline is taken.
CadEntity* PickAreaPolyline(CadDrawing* drawing, const QString& prompt);

// The DEM of the project with that serial number; null once it has left the project (a command
// that waits for the operator after picking a DEM finds it again this way).
CDEM* DemBySerial(const CKelvaroDoc& doc, uint64_t serial);

// Asks the operator to pick a DEM in the drawing: the prompt, then an image pick (a click inside
// DEMs takes one of them, whatever lies over it; clicks at the same place go down through stacked
// DEMs). A DEM's image appends the DEM's name to the prompt and answers that DEM; any other
// entity appends "Invalid entity" and asks again; right click, Enter or cancel answer null. With
// takeOnlyDem, a project that holds exactly one DEM answers it without asking.
CDEM* PickDem(CadDrawing* drawing, CKelvaroDoc& doc, bool takeOnlyDem = false,
              const QString& prompt = QStringLiteral("Select DEM"));

// ---- The area edits.

// The DEMs of the document an edit may change: image place present, not deleted and visible, on a
// CAD layer that is visible and not locked; in the order of the document's DEM table.
std::vector<CDEM*> EditableDems(CKelvaroDoc& doc);

// The recorder of a command's edits: one undo record per window (the caption "Generate UNDO..."
// on the progress window while it is written), gathered into the round.
DemEditRecorder UndoRecorder(CKelvaroDoc* doc, KvProgressDialog& progress, DemUndoRound& round);

// Brings the DEM's grid into memory for an edit, with the progress window shown under the title
// "Preparing DEM to edit..." while it is read; 0 when it cannot be.
int ShowPrepareDemGrid(CDEM& dem, KvProgressDialog& progress);

// Adds the record to the round. A record without its file stops the run: the operator is told
// "Unable to create undo data" once, the round is marked incomplete and every later record of it
// is refused. 1 when kept.
int KeepUndoRecord(DemUndoRound& round, const CUndoDEM& record);

// Hands one run's round to the document's DEM undo history. 0 for an empty round. An incomplete
// round is not pushed: the windows it recorded are written back as they were before the run.
int PushEditRound(CKelvaroDoc* doc, DemUndoRound& round);

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
