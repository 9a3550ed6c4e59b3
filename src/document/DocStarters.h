// The ribbon commands that start CAD user commands of the project: the command, the document's
// handler, the user command it starts, whether the handler refuses while another command is
// active, and the rule of its update handler:
//   NeedsDem             enabled with at least one DEM; checked while its command runs
//   NeedsDemIdle         enabled with a DEM and no active command; checked while its command runs
//   NeedsTwoDemsIdle     enabled with two DEMs and no active command; checked while it runs
//   CheckOnly            always enabled; checked while its command runs
//   Idle                 enabled with no active command (OnUpdateEnableWhenIdle); never checked
//   TwoDemsIdleUnchecked enabled with two DEMs and no active command; never checked
//   NoRule               no update handler: enabled whenever a project is active
#pragma once

#define KV_DOC_STARTERS(X)                                                                           \
    X(ID_BUTTON_VOLUME, OnButtonVolume, 11004, true, NeedsDem)                                       \
    X(ID_BUTTON_PROFILE, OnButtonProfile, 11005, true, NeedsDem)                                     \
    X(ID_BUTTON_SUBTRACTDEM, OnButtonSubtractdem, 11006, true, NeedsTwoDemsIdle)                     \
    X(ID_BUTTON_GROUNDFILTERING, OnButtonGroundfiltering, 11007, true, NeedsDemIdle)                 \
    X(ID_BUTTON_DEMHOLE, OnButtonDemhole, 11009, true, NeedsDemIdle)                                 \
    X(ID_BUTTON_CLOSEGAP, OnButtonClosegap, 11010, true, NeedsDemIdle)                               \
    X(ID_BUTTON_FLOODFILL, OnButtonFloodfill, 11011, true, NeedsDemIdle)                             \
    X(ID_BUTTON_DEMDELTAOFFSET, OnButtonDemdeltaoffset, 11012, true, NeedsDemIdle)                   \
    X(ID_BUTTON_DEMPATCHDEM, OnButtonDempatchdem, 11013, true, NeedsDemIdle)                         \
    X(ID_MOSAICMERGE_EDITSEAMLINES, OnMosaicmergeEditseamlines, 11014, true, NoRule)                 \
    X(ID_MOSAICMERGE_UNDOEDITSEAMLINES, OnMosaicmergeUndoeditseamlines, 11015, true, NoRule)         \
    X(ID_MOSAICMERGE_REDOEDITSEAMLINES, OnMosaicmergeRedoeditseamlines, 11016, true, NoRule)         \
    X(ID_DEMEDITING_ELEVATIONBYENTITIES, OnDemeditingElevationbyentities, 11017, true, NeedsDemIdle) \
    X(ID_DRAW_CONTOURLINE, OnDrawContourline, 11018, true, NeedsDem)                                 \
    X(ID_CUT_CUTSECTION, OnCutCutsection, 11019, true, CheckOnly)                                    \
    X(ID_CUT_ROT, OnCutRot, 11020, true, NoRule)                                                     \
    X(ID_DRAW_ADDQUOTES, OnDrawAddquotes, 11021, true, NoRule)                                       \
    X(ID_DRAW_DRAWPOLYLINEONORTHO, OnDrawDrawpolylineonortho, 11022, true, NoRule)                   \
    X(ID_DRAW_CREATESLOPEMAP, OnDrawCreateslopemap, 11023, false, NoRule)                            \
    X(ID_DRAW_DRAWARROW, OnDrawDrawarrow, 11024, false, NoRule)                                      \
    X(ID_TOOLS_LANDMARKTRANSFORM, OnToolsLandmarktransform, 11025, true, NoRule)                     \
    X(ID_TOOLS_OMOGRAPHYWARPING, OnToolsOmographywarping, 11026, false, NoRule)                      \
    X(ID_TOOLS_ADDPOINTS, OnToolsAddpoints, 11027, false, NoRule)                                    \
    X(ID_TOOLS_WRITEOBJ, OnToolsWriteobj, 11028, false, NoRule)                                      \
    X(ID_TOOLS_LANDMARKTRANSFORMGPS, OnToolsLandmarktransformgps, 11029, true, NoRule)               \
    X(ID_DEMSPLITMERGE_SPLIT, OnDemsplitmergeSplit, 11030, true, Idle)                               \
    X(ID_DEMSPLITMERGE_MERGE, OnDemsplitmergeMerge, 11031, true, TwoDemsIdleUnchecked)               \
    X(ID_TOOLS_COMPAREDSM, OnToolsComparedsm, 11032, false, NoRule)                                  \
    X(ID_DEMEDITING_RESIZE, OnDemeditingResize, 11033, true, Idle)                                   \
    X(ID_DEMEDITING_DEMFROMTIM, OnDemeditingDemfromtim, 11034, true, Idle)                           \
    X(ID_DEMSPLITMERGE_EDITSEAMLINES, OnDemsplitmergeEditseamlines, 11037, true, NoRule)             \
    X(ID_DEMSPLITMERGE_UNDOEDITSEAMLINES, OnDemsplitmergeUndoeditseamlines, 11038, true, NoRule)     \
    X(ID_DEMSPLITMERGE_REDOEDITSEAMLINES, OnDemsplitmergeRedoeditseamlines, 11039, true, NoRule)     \
    X(ID_TOOLS_QUOTEDWGOBJECT, OnToolsQuotedwgobject, 11040, true, NoRule)                           \
    X(ID_TOOLS_RASTERIZEENTITIESONDEM, OnToolsRasterizeentitiesondem, 11041, true, NoRule)           \
    X(ID_TOOLS_CREATEDEMFROMLAS, OnToolsCreatedemfromlas, 11042, true, NoRule)                       \
    X(ID_TOOLS_DEMANALYSIS, OnToolsDemanalysis, 11043, true, NoRule)                                 \
    X(ID_AGRITOOLS_NDVISAVI, OnAgritoolsNdvisavi, 11044, true, NoRule)                               \
    X(ID_AGRITOOLS_RASTERCALCULATOR, OnAgritoolsRastercalculator, 11045, true, NoRule)               \
    X(ID_AGRITOOLS_MAPREPRESENTATION, OnAgritoolsMaprepresentation, 11046, true, NoRule)             \
    X(ID_TOOLS_RASTERIZE, OnToolsRasterize, 11047, true, NoRule)                                     \
    X(ID_AGRITOOLS_COLORCLASSIFICATION, OnAgritoolsColorclassification, 11048, true, NoRule)         \
    X(ID_AGRITOOLS_EXPORTNDVIDA, OnAgritoolsExportndvida, 11049, true, NoRule)                       \
    X(ID_DEMEDITING_EDITDEMFROMTIN, OnDemeditingEditdemfromtin, 11050, true, NoRule)                 \
    X(ID_GOLF_LONGMEASUREMENTS, OnGolfLongmeasurements, 11051, true, NoRule)                         \
    X(ID_DEMEDITING_ERODE, OnDemeditingErode, 11052, true, NeedsDemIdle)
