// Ids of the CAD user commands: the command table registers them on every project's drawing, the
// ribbon starters run them, the command procedures put them into ActiveCadCommandId and the event
// procedures test it against them. Each number is written here once.
//
// Naming: CMD_ followed by the command's name as it is typed in the command line, so "DEMHOLE" is
// CMD_DEMHOLE and "CREATEDEMFROMLAS" is CMD_CREATEDEMFROMLAS. The two ids that have no registered
// command are named after what they select (the label brush of the seamline editing). Ribbon and
// menu command ids (ID_...) live in CommandIds.h.
#pragma once

enum CadCommandId : int {
    // Not registered: while ActiveCadCommandId holds one of these, the mouse procedures of the
    // project hand presses, releases and the wheel to the label brush of the orthophoto
    // seamlines (the first) or of the DEM seamlines (the second).
    CMD_SEAMLINELABELBRUSH = 11001,
    CMD_DEMSEAMLINELABELBRUSH = 11002,

    // The registered commands, in registration order; 11035 and 11036 are not used.
    CMD_VOLUME = 11004,
    CMD_PROFILE = 11005,
    CMD_SUBTRACTDEM = 11006,
    CMD_GROUNDFILTERING = 11007,
    CMD_OBJECTELEVATION = 11008,
    CMD_DEMHOLE = 11009,
    CMD_DEMGRIDGAPS = 11010,
    CMD_DEMFLOODFILL = 11011,
    CMD_DEMOFFSET = 11012,
    CMD_DEMPATCHIT = 11013,
    CMD_EDITSEAMLINESROUND = 11014,
    CMD_EDITSEAMLINESROUNDUNDO = 11015,
    CMD_EDITSEAMLINESROUNDREDO = 11016,
    CMD_DEMELEVATIONBYENTITIES = 11017,
    CMD_CONTOURS = 11018,
    CMD_CUT = 11019,
    CMD_ROTATE = 11020,
    CMD_ADDQUOTES = 11021,
    CMD_DRAWPOLYLINEONORTHO = 11022,
    CMD_CREATESLOPEMAP = 11023,
    CMD_DRAWARROW = 11024,
    CMD_LANDMARKTRANSFORM = 11025,
    CMD_ROTATEFROMPOLY = 11026,
    CMD_ADDPOINTS = 11027,
    CMD_WRITEOBJ = 11028,
    CMD_LANDMARKTRANSFORMGPS = 11029,
    CMD_DEMSPLIT = 11030,
    CMD_DEMMERGE = 11031,
    CMD_COMPAREDEM = 11032,
    CMD_RESIZEDEM = 11033,
    CMD_DEMFROMTIN = 11034,
    CMD_EDITDEMSEAMLINESROUND = 11037,
    CMD_EDITDEMSEAMLINESROUNDUNDO = 11038,
    CMD_EDITDEMSEAMLINESROUNDREDO = 11039,
    CMD_SETENTELEVATIONFROMDEM = 11040,
    CMD_RASTERIZEENTITIESONDEM = 11041,
    CMD_CREATEDEMFROMLAS = 11042,
    CMD_DEMANALYSIS = 11043,
    CMD_NDVISAVI = 11044,
    CMD_RASTERCALCULATOR = 11045,
    CMD_MAPREPRESENTATION = 11046,
    CMD_RASTERIZEMAP = 11047,
    CMD_COLORCLASSIFICATION = 11048,
    CMD_EXPORTNDVIRESULTS = 11049,
    CMD_EDITDEMFROMTIN = 11050,
    CMD_ADDLONGMEAS = 11051,
    CMD_DEMERODE = 11052,
};
