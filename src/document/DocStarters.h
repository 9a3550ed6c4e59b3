// The ribbon commands that start CAD user commands of the project: the command, the document's
// handler, the user command it starts, whether the handler refuses while another command is
// active, and the rule of its update handler:
//   NeedsDem             enabled with at least one DEM; checked while its command runs
//   NeedsDemIdle         enabled with a DEM and no active command; checked while its command runs
//   NeedsTwoDemsIdle     enabled with two DEMs and no active command; checked while it runs
//   CheckOnly            always enabled; checked while its command runs
//   Idle                 enabled with no active command (OnUpdateEnableWhenIdle); never checked
//   TwoDemsIdleUnchecked enabled with two DEMs and no active command; never checked
//   OwnRule              the document's own update handler of the button (OnUpdateMosaicCommand)
//   NoRule               no update handler: enabled whenever a project is active
#pragma once

#include "platform/ui/CadCommandIds.h"

#define KV_DOC_STARTERS(X)                                                                                  \
    X(ID_BUTTON_VOLUME, OnButtonVolume, CMD_VOLUME, true, NeedsDem)                                         \
    X(ID_BUTTON_PROFILE, OnButtonProfile, CMD_PROFILE, true, NeedsDem)                                      \
    X(ID_BUTTON_SUBTRACTDEM, OnButtonSubtractdem, CMD_SUBTRACTDEM, true, NeedsTwoDemsIdle)                  \
    X(ID_BUTTON_GROUNDFILTERING, OnButtonGroundfiltering, CMD_GROUNDFILTERING, true, NeedsDemIdle)          \
    X(ID_BUTTON_DEMHOLE, OnButtonDemhole, CMD_DEMHOLE, true, NeedsDemIdle)                                  \
    X(ID_BUTTON_CLOSEGAP, OnButtonClosegap, CMD_DEMGRIDGAPS, true, NeedsDemIdle)                            \
    X(ID_BUTTON_FLOODFILL, OnButtonFloodfill, CMD_DEMFLOODFILL, true, NeedsDemIdle)                         \
    X(ID_BUTTON_DEMDELTAOFFSET, OnButtonDemdeltaoffset, CMD_DEMOFFSET, true, NeedsDemIdle)                  \
    X(ID_BUTTON_DEMPATCHDEM, OnButtonDempatchdem, CMD_DEMPATCHIT, true, NeedsDemIdle)                       \
    X(ID_MOSAICMERGE_EDITSEAMLINES, OnMosaicmergeEditseamlines, CMD_EDITSEAMLINESROUND, true, OwnRule)      \
    X(ID_MOSAICMERGE_UNDOEDITSEAMLINES, OnMosaicmergeUndoeditseamlines, CMD_EDITSEAMLINESROUNDUNDO, true,   \
      OwnRule)                                                                                              \
    X(ID_MOSAICMERGE_REDOEDITSEAMLINES, OnMosaicmergeRedoeditseamlines, CMD_EDITSEAMLINESROUNDREDO, true,   \
      OwnRule)                                                                                              \
    X(ID_DEMEDITING_ELEVATIONBYENTITIES, OnDemeditingElevationbyentities, CMD_DEMELEVATIONBYENTITIES, true, \
      NeedsDemIdle)                                                                                         \
    X(ID_DRAW_CONTOURLINE, OnDrawContourline, CMD_CONTOURS, true, NeedsDem)                                 \
    X(ID_CUT_CUTSECTION, OnCutCutsection, CMD_CUT, true, CheckOnly)                                         \
    X(ID_CUT_ROT, OnCutRot, CMD_ROTATE, true, NoRule)                                                       \
    X(ID_DRAW_ADDQUOTES, OnDrawAddquotes, CMD_ADDQUOTES, true, NoRule)                                      \
    X(ID_DRAW_DRAWPOLYLINEONORTHO, OnDrawDrawpolylineonortho, CMD_DRAWPOLYLINEONORTHO, true, NoRule)        \
    X(ID_DRAW_CREATESLOPEMAP, OnDrawCreateslopemap, CMD_CREATESLOPEMAP, false, NoRule)                      \
    X(ID_DRAW_DRAWARROW, OnDrawDrawarrow, CMD_DRAWARROW, false, NoRule)                                     \
    X(ID_TOOLS_LANDMARKTRANSFORM, OnToolsLandmarktransform, CMD_LANDMARKTRANSFORM, true, NoRule)            \
    X(ID_TOOLS_OMOGRAPHYWARPING, OnToolsOmographywarping, CMD_ROTATEFROMPOLY, false, NoRule)                \
    X(ID_TOOLS_ADDPOINTS, OnToolsAddpoints, CMD_ADDPOINTS, false, NoRule)                                   \
    X(ID_TOOLS_WRITEOBJ, OnToolsWriteobj, CMD_WRITEOBJ, false, NoRule)                                      \
    X(ID_TOOLS_LANDMARKTRANSFORMGPS, OnToolsLandmarktransformgps, CMD_LANDMARKTRANSFORMGPS, true, NoRule)   \
    X(ID_DEMSPLITMERGE_SPLIT, OnDemsplitmergeSplit, CMD_DEMSPLIT, true, Idle)                               \
    X(ID_DEMSPLITMERGE_MERGE, OnDemsplitmergeMerge, CMD_DEMMERGE, true, TwoDemsIdleUnchecked)               \
    X(ID_TOOLS_COMPAREDSM, OnToolsComparedsm, CMD_COMPAREDEM, false, NoRule)                                \
    X(ID_DEMEDITING_RESIZE, OnDemeditingResize, CMD_RESIZEDEM, true, Idle)                                  \
    X(ID_DEMEDITING_DEMFROMTIM, OnDemeditingDemfromtim, CMD_DEMFROMTIN, true, Idle)                         \
    X(ID_DEMSPLITMERGE_EDITSEAMLINES, OnDemsplitmergeEditseamlines, CMD_EDITDEMSEAMLINESROUND, true,        \
      OwnRule)                                                                                              \
    X(ID_DEMSPLITMERGE_UNDOEDITSEAMLINES, OnDemsplitmergeUndoeditseamlines, CMD_EDITDEMSEAMLINESROUNDUNDO,  \
      true, OwnRule)                                                                                        \
    X(ID_DEMSPLITMERGE_REDOEDITSEAMLINES, OnDemsplitmergeRedoeditseamlines, CMD_EDITDEMSEAMLINESROUNDREDO,  \
      true, OwnRule)                                                                                        \
    X(ID_TOOLS_QUOTEDWGOBJECT, OnToolsQuotedwgobject, CMD_SETENTELEVATIONFROMDEM, true, NoRule)             \
    X(ID_TOOLS_RASTERIZEENTITIESONDEM, OnToolsRasterizeentitiesondem, CMD_RASTERIZEENTITIESONDEM, true,     \
      NoRule)                                                                                               \
    X(ID_TOOLS_CREATEDEMFROMLAS, OnToolsCreatedemfromlas, CMD_CREATEDEMFROMLAS, true, NoRule)               \
    X(ID_TOOLS_DEMANALYSIS, OnToolsDemanalysis, CMD_DEMANALYSIS, true, NoRule)                              \
    X(ID_AGRITOOLS_NDVISAVI, OnAgritoolsNdvisavi, CMD_NDVISAVI, true, NoRule)                               \
    X(ID_AGRITOOLS_RASTERCALCULATOR, OnAgritoolsRastercalculator, CMD_RASTERCALCULATOR, true, NoRule)       \
    X(ID_AGRITOOLS_MAPREPRESENTATION, OnAgritoolsMaprepresentation, CMD_MAPREPRESENTATION, true, NoRule)    \
    X(ID_TOOLS_RASTERIZE, OnToolsRasterize, CMD_RASTERIZEMAP, true, NoRule)                                 \
    X(ID_AGRITOOLS_COLORCLASSIFICATION, OnAgritoolsColorclassification, CMD_COLORCLASSIFICATION, true,      \
      NoRule)                                                                                               \
    X(ID_AGRITOOLS_EXPORTNDVIDA, OnAgritoolsExportndvida, CMD_EXPORTNDVIRESULTS, true, NoRule)              \
    X(ID_DEMEDITING_EDITDEMFROMTIN, OnDemeditingEditdemfromtin, CMD_EDITDEMFROMTIN, true, NoRule)           \
    X(ID_GOLF_LONGMEASUREMENTS, OnGolfLongmeasurements, CMD_ADDLONGMEAS, true, NoRule)                      \
    X(ID_DEMEDITING_ERODE, OnDemeditingErode, CMD_DEMERODE, true, NeedsDemIdle)
