// The CAD engine: drawings of layers and entities, their native ".vec" file, the drawing window
// with its command line, interactive user commands and the event procedures through which the
// program draws its rasters under the drawing.
//
// Everything here runs on the user-interface thread. Handles are opaque pointers. An entity,
// layer or block handle stays a valid object until its drawing is deleted: erasing only flags an
// entity and CadPurge only unlinks it, so a stale handle never crashes a call (calls on a purged
// entity answer 0 or do nothing). Functions that succeed or fail return non-zero for success and
// 0 for failure. Texts are UTF-8.
//
// Coordinates: model units with y pointing up; window coordinates are client pixels with y
// pointing down and (0, 0) in the top-left corner. Colours are colour indices (1 to 255, 7 the
// foreground colour, CAD_COLOR_BYLAYER 256 the layer's colour); CadColorSeek maps a 0x00BBGGRR
// colour to the nearest index.
//
// Commands and input.
// A user command runs its procedure inside the CadExecute call that starts it (or inside the key
// handler of the command line when its name is typed). Its input calls (CadCmdUserInput,
// CadCmdUserGetEntity, CadCmdUserSelect, CadToolGetPickedPoint) wait in a nested event loop while
// the window stays live: it repaints, pans, zooms, draws the rubber band and delivers clicks and
// typed text to the innermost waiting call only.
//  - CadCmdFinish(drawing) makes every input call of that drawing that is waiting at that moment
//    answer cancel (4, null entity, no point); it leaves later input calls alone.
//  - Typed text while an input call waits is that call's input (code 3), even when it names a
//    command; a command name typed with no input waiting starts that command. Typed coordinates
//    are a point (code 1): "x,y[,z]", "@dx,dy[,dz]" from the last point given, polar "d<angle"
//    (degrees, counter-clockwise from the x axis) from the origin or "@d<angle" from the last point.
//  - A typed name or alias reaches the user commands first; only a name that no user command
//    has starts one of the engine's commands (LINE, PLINE, CIRCLE, ARC, DIMLINEAR, LAYER, ...).
//  - A command started while another one waits (CadExecute from a starter that does not check
//    the active command): the waiting input call of the first command is cancelled and the new
//    command runs on top of it, inside the same call stack. The first command's input call
//    answers 4 once the new command's procedure has returned; the new command gets all input
//    meanwhile. Nothing of either command's state is shared, so both end cleanly.
//  - Engine commands started by code (zoom, unselect all, the layers window) run at once and do
//    not disturb a waiting input call.
//
// Engine commands. The drawing, dimension, block, hatch, text, erase and measurement commands
// (CAD_CMD_DRAW_..., _DIM_..., _INSERT_BLOCK, _NEW_BLOCK, _ERASE, _DIST, _AREA) run inside the
// CadExecute call that starts them, as user commands do, and read input the same way: picks go
// through the object snaps, the rubber band shows the figure, and the command line takes points,
// numbers where a size or an angle is asked (a number at a next-point prompt is a distance toward
// the cursor) and the option letters of the prompt. One started while input waits cancels that
// input; zoom window instead nests in it. Inside an engine command Enter (261), Enter Closed
// (262), Undo (265) and Cancel (264) answer its prompt, and the right button shows the command
// menu; Undo with no input waiting takes back the operator's last drawing or erase. What the
// operator draws takes the colour, line type and line weight of the style and properties
// dialogs; the program's own calls always make entities "by layer". The operator can neither
// select nor erase entities of a locked layer (the program still adds to it; snaps still reach
// it). Dialog commands (layers, styles, snaps, properties) run modally on top of waiting input.
//
// Scripted input: CadScriptPush... queue operator input per drawing. A waiting input call takes
// the next queued item before it waits for the operator, and treats it exactly like the real
// thing (a pushed point goes through the object snaps of the drawing's window, a pushed point
// answers CadCmdUserGetEntity with the entity under it). A pushed call runs inside the wait, as
// if the operator had pressed a button meanwhile. An item pushed while a call waits reaches that
// call at once, as a click would. With CadScriptSetStrict(1) an input call that finds its queue
// empty answers cancel at once instead of waiting (tests never hang).
#pragma once

#include <cstdint>
#include <functional>

class QPainter;
class QPoint;
class QWidget;

// Opaque handles.
struct CadDrawing;
struct CadLayer;
struct CadEntity;
struct CadBlock;

// ---------------------------------------------------------------------------------------------
// Constants

// Entity types (CadEntityGetType).
enum : int {
    CAD_ENT_POINT = 1,
    CAD_ENT_LINE = 2,
    CAD_ENT_POLYLINE = 3,
    CAD_ENT_ARC = 4,  // arcs and circles
    CAD_ENT_TEXT = 5,
    CAD_ENT_ELLIPSE = 6,
    CAD_ENT_SPLINE = 7,
    CAD_ENT_HATCH = 8,
    CAD_ENT_DIMENSION = 9,
    CAD_ENT_INSERT = 10,  // a block reference
    CAD_ENT_RECT = 11,
    CAD_ENT_POLYGON = 12,  // a filled polygon
    CAD_ENT_IMAGE = 18,    // an image place: an entity with extents whose pixels the program draws
};

// Colours.
enum : int {
    CAD_COLOR_BYBLOCK = 0,
    CAD_COLOR_RED = 1,
    CAD_COLOR_YELLOW = 2,
    CAD_COLOR_GREEN = 3,
    CAD_COLOR_CYAN = 4,
    CAD_COLOR_BLUE = 5,
    CAD_COLOR_MAGENTA = 6,
    CAD_COLOR_FOREGROUND = 7,
    CAD_COLOR_BYLAYER = 256,
};

// Line types. Continuous is the standard line type of every layer the program creates.
constexpr uint32_t CAD_LTYPE_CONTINUOUS = 0xEE6BA7FDu;
constexpr uint32_t CAD_LTYPE_DASHED = 0xEE6BA7FEu;
constexpr uint32_t CAD_LTYPE_DOTTED = 0xEE6BA7FFu;
constexpr uint32_t CAD_LTYPE_DASHDOT = 0xEE6BA800u;
constexpr uint32_t CAD_LTYPE_BYLAYER = 0u;

// Line weights in hundredths of a millimetre, or one of these.
enum : int {
    CAD_LWEIGHT_BYLAYER = -1,
    CAD_LWEIGHT_BYBLOCK = -2,
    CAD_LWEIGHT_DEFAULT = -3,
};

// Text alignment (CadTextPutAlign): where the insertion point lies on the text's box.
enum : int {
    CAD_TA_LEFT_BASE = 0,  // default
    CAD_TA_CENTER_BASE = 1,
    CAD_TA_RIGHT_BASE = 2,
    CAD_TA_LEFT_BOTTOM = 3,
    CAD_TA_LEFT_MIDDLE = 4,
    CAD_TA_LEFT_TOP = 5,
    CAD_TA_CENTER_MIDDLE = 6,  // the point is the middle of the text
    CAD_TA_CENTER_BOTTOM = 7,  // the text stands centred above the point
    CAD_TA_CENTER_TOP = 8,
    CAD_TA_RIGHT_BOTTOM = 9,
    CAD_TA_RIGHT_MIDDLE = 10,
    CAD_TA_RIGHT_TOP = 11,
};

// Dimension kinds (CadAddDimension).
enum : int {
    CAD_DIM_LINEAR = 0,
    CAD_DIM_ALIGNED = 1,
    CAD_DIM_ORDINATE = 2,
    CAD_DIM_RADIUS = 3,
    CAD_DIM_DIAMETER = 4,
    CAD_DIM_ANGULAR = 5,
};

// Answers of the input calls.
enum : int {
    CAD_INPUT_POINT = 1,
    CAD_INPUT_FINISH = 2,  // right click or Enter
    CAD_INPUT_TEXT = 3,
    CAD_INPUT_CANCEL = 4,
};

// What an input call waits for (CadCmdGetWaiting).
enum : int {
    CAD_WAIT_INPUT = 1,
    CAD_WAIT_ENTITY = 2,
    CAD_WAIT_SELECT = 3,
    CAD_WAIT_POINT = 4,
};

// Key flags of mouse and key events (CadGetKeyFlags, event procedures).
enum : int {
    CAD_KEY_LBUTTON = 1,
    CAD_KEY_RBUTTON = 2,
    CAD_KEY_SHIFT = 4,
    CAD_KEY_CONTROL = 8,
    CAD_KEY_MBUTTON = 16,
    CAD_KEY_ALT = 32,
};

// Mouse buttons of the mouse-down and mouse-up events.
enum : int {
    CAD_BUTTON_LEFT = 1,
    CAD_BUTTON_RIGHT = 2,
    CAD_BUTTON_MIDDLE = 3,
};

// Virtual key codes of the key-down event (the conventional PC key numbers).
enum : int {
    CAD_VK_BACK = 0x08,
    CAD_VK_TAB = 0x09,
    CAD_VK_RETURN = 0x0D,
    CAD_VK_ESCAPE = 0x1B,
    CAD_VK_SPACE = 0x20,
    CAD_VK_PRIOR = 0x21,  // Page Up
    CAD_VK_NEXT = 0x22,   // Page Down
    CAD_VK_END = 0x23,
    CAD_VK_HOME = 0x24,
    CAD_VK_LEFT = 0x25,
    CAD_VK_UP = 0x26,
    CAD_VK_RIGHT = 0x27,
    CAD_VK_DOWN = 0x28,
    CAD_VK_INSERT = 0x2D,
    CAD_VK_DELETE = 0x2E,
    CAD_VK_NUMPAD0 = 0x60,  // keypad digits 0x60 to 0x69
    CAD_VK_MULTIPLY = 0x6A,
    CAD_VK_ADD = 0x6B,
    CAD_VK_SUBTRACT = 0x6D,
    CAD_VK_DECIMAL = 0x6E,
    CAD_VK_DIVIDE = 0x6F,
    CAD_VK_F1 = 0x70,
};

// Object snap bits (CadSnapPutMode).
enum : int {
    CAD_SNAP_NODE = 1,
    CAD_SNAP_END = 2,
    CAD_SNAP_MID = 4,
    CAD_SNAP_CENTER = 8,
    CAD_SNAP_NEAREST = 16,
    CAD_SNAP_INTERSECTION = 32,
    CAD_SNAP_PERPENDICULAR = 64,
    CAD_SNAP_IMAGEPLACE = 512,  // asks the snap-to-image-place event for the point on the raster
};

// Engine commands (CadExecute, context menus).
enum : int {
    CAD_CMD_ZOOM_EXTENTS = 102,
    CAD_CMD_ZOOM_IN = 103,
    CAD_CMD_ZOOM_OUT = 104,
    CAD_CMD_ZOOM_PREVIOUS = 105,
    CAD_CMD_ZOOM_WINDOW = 106,
    CAD_CMD_DRAW_POINT = 201,
    CAD_CMD_DRAW_LINE = 205,
    CAD_CMD_DRAW_POLYLINE = 209,
    CAD_CMD_DRAW_POLYGON = 210,
    CAD_CMD_DRAW_ELLIPSE = 211,
    CAD_CMD_DRAW_RECT = 212,
    CAD_CMD_DRAW_CIRCLE_CR = 221,
    CAD_CMD_DRAW_CIRCLE_CD = 222,
    CAD_CMD_DRAW_CIRCLE_2P = 223,
    CAD_CMD_DRAW_CIRCLE_3P = 224,
    CAD_CMD_DRAW_ARC_3P = 229,
    CAD_CMD_DRAW_ARC_SCE = 230,
    CAD_CMD_DRAW_ARC_SCA = 231,
    CAD_CMD_DRAW_ARC_SEA = 233,
    CAD_CMD_DRAW_ARC_SED = 234,
    CAD_CMD_DRAW_ARC_SER = 235,
    CAD_CMD_DRAW_ARC_SCL = 238,
    CAD_CMD_DRAW_SPLINE = 242,
    CAD_CMD_DRAW_TEXT = 245,
    CAD_CMD_DRAW_HATCH = 246,
    CAD_CMD_INSERT_BLOCK = 252,
    CAD_CMD_NEW_BLOCK = 257,
    CAD_CMD_ENTER = 261,
    CAD_CMD_ENTER_CLOSED = 262,
    CAD_CMD_CANCEL = 264,
    CAD_CMD_UNDO_VERTEX = 265,  // inside an engine command its last step, else the operator's last operation
    CAD_CMD_DIM_LINEAR = 290,
    CAD_CMD_DIM_ALIGNED = 291,
    CAD_CMD_DIM_ORDINATE = 292,
    CAD_CMD_DIM_RADIUS = 293,
    CAD_CMD_DIM_DIAMETER = 294,
    CAD_CMD_DIM_ANGULAR = 295,
    CAD_CMD_UNDO = 301,
    CAD_CMD_REDO = 302,
    CAD_CMD_PROPERTIES = 306,
    CAD_CMD_ERASE = 311,
    CAD_CMD_SNAP_NONE = 410,
    CAD_CMD_SNAP_PANE = 411,
    CAD_CMD_LAYERS = 801,
    CAD_CMD_LAYERS_ORDER = 802,  // toggles the top-level "Layers Order" window
    CAD_CMD_LINETYPES = 804,
    CAD_CMD_LINEWEIGHTS = 805,
    CAD_CMD_DIMSTYLES = 807,
    CAD_CMD_POINTSTYLE = 808,
    CAD_CMD_UNSELECT_ALL = 911,
    CAD_CMD_REPEAT = 913,
    CAD_CMD_OPTIONS = 951,
    CAD_CMD_DIST = 952,
    CAD_CMD_AREA = 953,
    CAD_CMD_DRAFTING_AIDS = 956,
};

// Context menus (CadMenuAdd): which situation shows which menu.
enum : int {
    CAD_MENU_SELECTION = 2,  // right click with entities selected
    CAD_MENU_DEFAULT = 3,    // right click with nothing selected and no command running
    CAD_MENU_COMMAND = 4,    // right click while an engine drawing command runs
};

// Purge modes (CadPurge). Every mode unlinks the erased entities that nothing holds
// (CadEntityHold); mode 3 also unlinks deleted
// layers and blocks that nothing uses any more.
enum : int {
    CAD_PURGE_ENTITIES = 0,
    CAD_PURGE_ALL = 3,
};

// Title of the engine's top-level layer-order window.
constexpr const char* CAD_LAYERS_ORDER_TITLE = "Layers Order";

// Longest text CadCmdGetInputStr hands back, terminator included.
constexpr int CAD_INPUT_STR_SIZE = 256;

// ---------------------------------------------------------------------------------------------
// Procedures the program registers

// User command procedure: runs the command's whole interaction before it returns.
typedef void (*CadCommandProc)(CadDrawing* drawing);
// Rubber band: called while the command waits for input, with the painter the rubber band goes
// into and the cursor's model position. Draws through CadDrawAddVertex and CadDrawPolyline.
typedef void (*CadRubberBandProc)(CadDrawing* drawing, QPainter* painter, double x, double y, double z);

// Event procedures. Each answers the engine through its return value or, when it calls
// CadSetReturnInt during the call, through that value (the last one set wins).
struct CadWinRect {
    int left, top, right, bottom;  // right and bottom exclusive
};
// Draw image: update rectangle (the full client rectangle) and the image place's rectangle in
// the window (left x, bottom y, width, height in pixels). Answer 1 drawn, 0 not drawn.
typedef int (*CadEventDrawImage)(CadDrawing* drawing, QPainter* dc, const CadWinRect* update, int imageId,
                                 int placeLeft, int placeBottom, int placeWidth, int placeHeight);
// Mouse move with the key flags and the cursor's model point (snapped when snaps are on).
typedef int (*CadEventMouseMove)(CadDrawing* drawing, int keyFlags, double x, double y);
// Before the engine handles a press: answer 1 to let the engine handle it, 0 when consumed
// (default 1).
typedef int (*CadEventPreMouseDown)(CadDrawing* drawing, int button, double x, double y);
// After the engine handled a press the program did not consume.
typedef int (*CadEventMouseDown)(CadDrawing* drawing, int button, double x, double y);
// Release: answer 1 consumed (the engine then does nothing with it), 0 not (default 0).
typedef int (*CadEventMouseUp)(CadDrawing* drawing, int button);
// Wheel: answer 1 consumed (no zoom), 0 not (default 0). Delta in eighths of a degree.
typedef int (*CadEventMouseWheel)(CadDrawing* drawing, int keyFlags, int delta);
// Filled polyline or polygon: window points of all rings in one array, the point count of each
// ring, the ring count and the fill colour 0x00BBGGRR. Answer 1 when the program filled it;
// otherwise the engine fills it itself.
typedef int (*CadEventPolyFill)(CadDrawing* drawing, CadEntity* entity, QPainter* dc, const QPoint* points,
                                const int* ringCounts, int ringCount, uint32_t colour);
// An entity was erased (by the operator or by CadEntityErase with 1).
typedef int (*CadEventEntErase)(CadDrawing* drawing, CadEntity* entity);
// After the cursor cross was drawn at window point x, y.
typedef int (*CadEventDrawCursor)(CadDrawing* drawing, QPainter* dc, int x, int y);
// Snap bit 512: the point on the image place under model point x, y. Answer 1 and fill the
// outputs that are given (any may be null) when snapped, 0 otherwise (default 0).
typedef int (*CadEventSnapToImagePlace)(CadDrawing* drawing, CadEntity* imagePlace, double x, double y,
                                        double* outX, double* outY, double* outZ);
// After the drawing was painted, before the rubber band and the cursor.
typedef int (*CadEventPaint)(CadDrawing* drawing, QPainter* dc, int windowWidth);
// A key pressed in the drawing window (virtual key code CAD_VK_..., key flags).
typedef int (*CadEventKeyDown)(CadDrawing* drawing, int virtualKey, int keyFlags);

// Registration: process-wide, one procedure per event; null clears it.
void CadOnEventDrawImage(CadEventDrawImage proc);
void CadOnEventMouseMove(CadEventMouseMove proc);
void CadOnEventPreMouseDown(CadEventPreMouseDown proc);
void CadOnEventMouseDown(CadEventMouseDown proc);
void CadOnEventMouseUp(CadEventMouseUp proc);
void CadOnEventMouseWheel(CadEventMouseWheel proc);
void CadOnEventPolyFill(CadEventPolyFill proc, int reserved = 0);
void CadOnEventEntErase(CadEventEntErase proc);
void CadOnEventDrawCursor(CadEventDrawCursor proc);
void CadOnEventSnapToImagePlace(CadEventSnapToImagePlace proc);
void CadOnEventPaint(CadEventPaint proc);
void CadOnEventKeyDown(CadEventKeyDown proc);
// The answer of the event procedure in progress.
void CadSetReturnInt(int value);
// The key flags (CAD_KEY_...) that came with the event or input being handled now: inside an
// event procedure, that event's; after an input call, that input's (a scripted point carries the
// flags it was pushed with). Outside both, the keyboard's current modifiers.
int CadGetKeyFlags();

// ---------------------------------------------------------------------------------------------
// Set-up

void CadAccelSetDefault();
// Registers an image reader for a file extension; kind is "image".
int CadPluginImageRead(const char* extension, const char* kind, const char* readerName, int enable);
int CadSetParam(int param, int value);
int CadGetParam(int param);

// ---------------------------------------------------------------------------------------------
// Drawings

CadDrawing* CadCreate();
void CadDelete(CadDrawing* drawing);
// Replaces the drawing's content with the ".vec" file (flags 0). A file that is not a drawing
// of ours, or is damaged, is refused (0) and leaves the drawing as it was.
int CadFileOpen(CadDrawing* drawing, int flags, const char* path);
// Writes the drawing (without erased entities) as a ".vec" file through a temporary file that
// is renamed into place (flags 0). Non-zero when written.
int CadFileSaveAs(CadDrawing* drawing, int flags, const char* path);
// The same, leaving out the drawing's entities of those count ids (the entities of blocks are
// written); the drawing keeps them. Non-zero when written.
int CadFileSaveWithout(CadDrawing* drawing, const char* path, const int* ids, int count);
// Unlinks erased entities (and with CAD_PURGE_ALL deleted unused layers and blocks).
int CadPurge(CadDrawing* drawing, int mode);
int CadGetDirty(CadDrawing* drawing);
void CadPutDirty(CadDrawing* drawing, int dirty);
// A read-only drawing refuses the operator's edits (engine drawing and erase commands); the
// program's own calls still change it.
int CadGetReadOnly(CadDrawing* drawing);
void CadPutReadOnly(CadDrawing* drawing, int readOnly);
void CadPutLwDisplay(CadDrawing* drawing, int show);
int CadGetLwDisplay(CadDrawing* drawing);
// Number of entities that are not erased.
int CadCountEntities(CadDrawing* drawing);
// Walk of the drawing's entities that are not erased, in creation order; null at the end. The
// next entity may be fetched from an entity that was erased meanwhile.
CadEntity* CadGetFirstEntity(CadDrawing* drawing);
CadEntity* CadGetNextEntity(CadDrawing* drawing, CadEntity* entity);
// The entity of that id; null when it is erased, purged or never was.
CadEntity* CadGetEntityByID(CadDrawing* drawing, int id);
// Extents of the visible entities; 0 when there is none.
int CadGetExtents(CadDrawing* drawing, double* left, double* bottom, double* right, double* top);
// Regenerates all cached geometry and repaints the windows.
void CadRegen(CadDrawing* drawing);
// Repaints the windows after visibility or selection changes.
void CadUpdate(CadDrawing* drawing);
// Renders the drawing's content inside the model rectangle at scale pixels per model unit into
// a picture file (the format follows the extension; png, tif, jpg, bmp). Non-zero when written;
// 0 for a picture of more than CAD_RASTERIZE_MAX_SIDE pixels a side.
constexpr int CAD_RASTERIZE_MAX_SIDE = 32768;
int CadRasterize(CadDrawing* drawing, const char* path, double left, double bottom, double right, double top,
                 double scale);

// Clipboard of the engine (process-wide): copies the selected entities of the drawing with their
// layers; the paste adds them to another drawing displaced by (x, y, z), taking over layers that
// the target does not have. The paste answers the number of entities pasted.
int CadCbCopy(CadDrawing* drawing, QWidget* window);
int CadCbPaste(CadDrawing* drawing, double x, double y, double z);

// Colour index nearest to a colour 0x00BBGGRR, and the colour of an index.
int CadColorSeek(uint32_t colour);
uint32_t CadColorGetRGB(int index);

// ---------------------------------------------------------------------------------------------
// Layers

// Adds a layer (colour index, line type, line weight); null when the name is empty or taken.
CadLayer* CadAddLayer(CadDrawing* drawing, const char* name, int colour, uint32_t lineType, int lineWeight);
// The layer of that name (deleted layers included, until a purge); null when none.
CadLayer* CadGetLayerByName(CadDrawing* drawing, const char* name);
CadLayer* CadGetLayerByID(CadDrawing* drawing, int id);
CadLayer* CadGetCurLayer(CadDrawing* drawing);
int CadSetCurLayer(CadDrawing* drawing, CadLayer* layer);
int CadSetCurLayerByName(CadDrawing* drawing, const char* name);
int CadCountLayers(CadDrawing* drawing);
// Walk of the layer list, first to last (the order the window draws them in); null at the end.
CadLayer* CadGetFirstLayer(CadDrawing* drawing);
CadLayer* CadGetNextLayer(CadDrawing* drawing, CadLayer* layer);
// Orders the layers by descending level; the window draws the list first to last, so the layer
// of the lowest level lies on top.
void CadSortLayers(CadDrawing* drawing);
// Flags the layer deleted and erases its entities (layer "0" cannot be deleted).
int CadDeleteLayer(CadDrawing* drawing, CadLayer* layer);

int CadLayerGetID(CadLayer* layer);
int CadLayerGetName(CadLayer* layer, char* buffer, int size);
int CadLayerPutName(CadLayer* layer, const char* name);
int CadLayerGetColor(CadLayer* layer);
void CadLayerPutColor(CadLayer* layer, int colour);
uint32_t CadLayerGetLineType(CadLayer* layer);
void CadLayerPutLineType(CadLayer* layer, uint32_t lineType);
int CadLayerGetLineWeight(CadLayer* layer);
void CadLayerPutLineWeight(CadLayer* layer, int lineWeight);
int CadLayerGetVisible(CadLayer* layer);
void CadLayerPutVisible(CadLayer* layer, int visible);
int CadLayerGetLock(CadLayer* layer);
void CadLayerPutLock(CadLayer* layer, int locked);
int CadLayerGetDeleted(CadLayer* layer);
void CadLayerPutDeleted(CadLayer* layer, int deleted);
int CadLayerGetLevel(CadLayer* layer);
void CadLayerPutLevel(CadLayer* layer, int level);
// Walk of the layer's entities that are not erased; null at the end.
CadEntity* CadLayerGetFirstEntity(CadLayer* layer);
CadEntity* CadLayerGetNextEntity(CadLayer* layer, CadEntity* entity);

// ---------------------------------------------------------------------------------------------
// Entities

// The pending vertex list (process-wide) that the next CadAddPolyline, CadAddPolygon,
// CadAddSpline or CadAddHatch takes (and empties).
void CadClearVertices();
void CadAddVertex(double x, double y, double z);

// New entities go on the current layer with colour and line weight "by layer"; null on failure
// (a polyline needs two vertices, a polygon three).
CadEntity* CadAddPoint(CadDrawing* drawing, double x, double y, double z);
CadEntity* CadAddLine(CadDrawing* drawing, double x1, double y1, double z1, double x2, double y2, double z2);
// fit 0 straight segments; any other value draws a smooth curve through the vertices.
CadEntity* CadAddPolyline(CadDrawing* drawing, int fit, int closed);
// A filled closed polygon of that colour index.
CadEntity* CadAddPolygon(CadDrawing* drawing, int colour, int reserved);
// A rectangle of that size centred at (x, y, z), turned by angle (radians).
CadEntity* CadAddRect(CadDrawing* drawing, double x, double y, double z, double width, double height,
                      double angle);
CadEntity* CadAddCircle(CadDrawing* drawing, double x, double y, double z, double radius);
// Counter-clockwise from the start to the end angle (radians).
CadEntity* CadAddArc(CadDrawing* drawing, double x, double y, double z, double radius, double startAngle,
                     double endAngle);
// Ellipse of the two radii whose first axis is turned by angle; from the start to the end
// parameter (radians; 0 and 2 pi for a whole ellipse).
CadEntity* CadAddEllipse(CadDrawing* drawing, double x, double y, double z, double radiusX, double radiusY,
                         double angle, double startParam, double endParam);
// A smooth curve through the pending vertices.
CadEntity* CadAddSpline(CadDrawing* drawing, int closed);
// A hatch filling the pending vertices as its boundary: pattern 0 solid, 1 lines, 2 cross lines.
CadEntity* CadAddHatch(CadDrawing* drawing, int pattern, double patternScale, double patternAngle);
// A dimension from its three defining points: the two measured points (for radius and diameter
// the centre and a point on the circle; for angular the vertex and a point on the first leg) and
// the point the dimension line passes through (for angular, a point on the second leg, the arc
// passing at the first leg's length).
CadEntity* CadAddDimension(CadDrawing* drawing, int kind, double x1, double y1, double x2, double y2,
                           double x3, double y3);
CadEntity* CadAddText(CadDrawing* drawing, const char* text, double x, double y, double z);
// An image place: the image-definition id, its size in pixels, its lower-left corner (x, y, z)
// and its scale in pixels per model unit. The engine draws no pixels: the draw-image event does.
CadEntity* CadAddImagePlace(CadDrawing* drawing, int imageId, int width, int height, double x, double y,
                            double z, double scale);

int CadEntityGetID(CadEntity* entity);
int CadEntityGetType(CadEntity* entity);
CadDrawing* CadEntityGetDrawing(CadEntity* entity);
// Extents in model units.
double CadEntityGetLeft(CadEntity* entity);
double CadEntityGetTop(CadEntity* entity);
double CadEntityGetRight(CadEntity* entity);
double CadEntityGetBottom(CadEntity* entity);
int CadEntityGetLayerID(CadEntity* entity);
int CadEntityPutLayerID(CadEntity* entity, int layerId);
CadLayer* CadEntityGetLayer(CadEntity* entity);
int CadEntityGetColor(CadEntity* entity);
void CadEntityPutColor(CadEntity* entity, int colour);
int CadEntityGetLineWeight(CadEntity* entity);
void CadEntityPutLineWeight(CadEntity* entity, int lineWeight);
uint32_t CadEntityGetLineType(CadEntity* entity);
void CadEntityPutLineType(CadEntity* entity, uint32_t lineType);
int CadEntityGetVisible(CadEntity* entity);
void CadEntityPutVisible(CadEntity* entity, int visible);
int CadEntityGetFilled(CadEntity* entity);
void CadEntityPutFilled(CadEntity* entity, int filled);
int CadEntityGetDeleted(CadEntity* entity);
// 1 erases (the entity-erase event runs), 0 restores; erasing an erased entity does nothing.
int CadEntityErase(CadEntity* entity, int erase);
// Holds the entity (hold 1) or lets one hold go (hold 0). CadPurge keeps an erased entity while
// anything holds it, so that a handle kept to restore it later (an undo history) stays in the
// drawing. Answers the number of holds left; 0 for a null or purged entity.
int CadEntityHold(CadEntity* entity, int hold);
int CadEntityGetHolds(CadEntity* entity);
int CadEntityGetSelected(CadEntity* entity);
// Selects (1) or unselects (0) one entity; erased entities are never selected.
int CadSelectEntity(CadEntity* entity, int select);
void CadEntityPutUserPtr(CadEntity* entity, void* pointer);
void* CadEntityGetUserPtr(CadEntity* entity);
void CadEntityPutUserData(CadEntity* entity, int value);
int CadEntityGetUserData(CadEntity* entity);
// A byte block saved with the entity (size 0 removes it).
int CadEntityPutExData(CadEntity* entity, const void* data, int size);
// Copies at most size bytes of it; answers its full size (0 when none).
int CadEntityGetExData(CadEntity* entity, void* buffer, int size);

// Vertices: polylines, polygons, splines, hatches (their boundary) and rectangles (corners).
int CadPlineGetNumVers(CadEntity* entity);
int CadPlineGetVer(CadEntity* entity, int index, double* x, double* y, double* z);
int CadPlinePutVer(CadEntity* entity, int index, double x, double y, double z);
int CadPlineGetClosed(CadEntity* entity);
void CadPlinePutClosed(CadEntity* entity, int closed);
int CadPlineGetFit(CadEntity* entity);
// Non-zero when (x, y) lies inside the closed outline.
int CadPlineContainPoint(CadEntity* entity, double x, double y);
// The crossing of the outline with segment (x1, y1)-(x2, y2) nearest to (x1, y1); 0 when none.
int CadPlineGetInterPoint(CadEntity* entity, double x1, double y1, double x2, double y2, double* x,
                          double* y);
double CadPlineGetLength(CadEntity* entity);
// The point at that distance along the outline.
int CadPlineGetDistPoint(CadEntity* entity, double distance, double* x, double* y, double* z);

// Geometry of the other kinds (0 for an entity of another type).
int CadPointGet(CadEntity* entity, double* x, double* y, double* z);
int CadLineGet(CadEntity* entity, double* x1, double* y1, double* z1, double* x2, double* y2, double* z2);
// Moves a point, or both end points of a line, and marks the drawing changed (0 for an entity of
// another type or a purged one).
int CadPointPut(CadEntity* entity, double x, double y, double z);
int CadLinePut(CadEntity* entity, double x1, double y1, double z1, double x2, double y2, double z2);
// Circles answer the angles 0 and 2 pi.
int CadArcGet(CadEntity* entity, double* x, double* y, double* z, double* radius, double* startAngle,
              double* endAngle);
int CadArcIsCircle(CadEntity* entity);
int CadEllipseGet(CadEntity* entity, double* x, double* y, double* z, double* radiusX, double* radiusY,
                  double* angle, double* startParam, double* endParam);
int CadRectGet(CadEntity* entity, double* x, double* y, double* z, double* width, double* height,
               double* angle);
int CadHatchGet(CadEntity* entity, int* pattern, double* patternScale, double* patternAngle);
int CadDimensionGet(CadEntity* entity, int* kind, double* x1, double* y1, double* x2, double* y2, double* x3,
                    double* y3);
// The value a dimension shows: a length in model units, an ordinate, or an angle in degrees.
double CadDimensionGetValue(CadEntity* entity);
// The dimension's own text: empty shows the measured value; otherwise the text is shown, every
// "<>" in it standing for the measured value.
int CadDimensionGetText(CadEntity* entity, char* buffer, int size);
int CadDimensionPutText(CadEntity* entity, const char* text);
// The dimension's own style, in model units: text height, arrowhead size, and tick size (ticks
// drawn in place of arrowheads when above 0). A text height or arrow size of 0 takes the
// drawing's dimension style.
int CadDimensionGetStyle(CadEntity* entity, double* textHeight, double* arrowSize, double* tickSize);
int CadDimensionPutStyle(CadEntity* entity, double textHeight, double arrowSize, double tickSize);

int CadTextGetText(CadEntity* entity, char* buffer, int size);
int CadTextPutText(CadEntity* entity, const char* text);
double CadTextGetHeight(CadEntity* entity);
void CadTextPutHeight(CadEntity* entity, double height);
double CadTextGetAngle(CadEntity* entity);
void CadTextPutAngle(CadEntity* entity, double angle);
int CadTextGetAlign(CadEntity* entity);
void CadTextPutAlign(CadEntity* entity, int align);
int CadTextGetPoint(CadEntity* entity, double* x, double* y, double* z);

int CadImageGetDefID(CadEntity* entity);
int CadImagePutFile(CadEntity* entity, const char* name);
int CadImageGetFile(CadEntity* entity, char* buffer, int size);
// Size in pixels, lower-left corner and scale (pixels per model unit).
int CadImageGetPlace(CadEntity* entity, int* width, int* height, double* x, double* y, double* z,
                     double* scale);

// ---------------------------------------------------------------------------------------------
// Blocks

// A new block definition with that base point; null when the name is empty or taken.
CadBlock* CadAddBlock(CadDrawing* drawing, const char* name, double x, double y, double z);
int CadBlockGetID(CadBlock* block);
CadBlock* CadGetBlockByID(CadDrawing* drawing, int id);
CadBlock* CadGetBlockByName(CadDrawing* drawing, const char* name);
int CadBlockGetName(CadBlock* block, char* buffer, int size);
int CadBlockGetBase(CadBlock* block, double* x, double* y, double* z);
// Moves a drawing entity into the block definition (it is no longer an entity of the drawing).
int CadBlockAddEntity(CadBlock* block, CadEntity* entity);
CadEntity* CadBlockGetFirstEntity(CadBlock* block);
CadEntity* CadBlockGetNextEntity(CadBlock* block, CadEntity* entity);
CadBlock* CadGetFirstBlock(CadDrawing* drawing);
CadBlock* CadGetNextBlock(CadDrawing* drawing, CadBlock* block);
// A reference to the block: its base point lands at (x, y, z), scaled and turned (radians).
CadEntity* CadAddInsBlock(CadDrawing* drawing, int blockId, double x, double y, double z, double scale,
                          double angle);
int CadInsertGet(CadEntity* entity, int* blockId, double* x, double* y, double* z, double* scale,
                 double* angle);

// ---------------------------------------------------------------------------------------------
// Selection

// Selects (select 1) or unselects (0) the entities on visible, unlocked layers that the closed
// polyline crosses or encloses (crossing 1) or that lie wholly inside it (crossing 0). Answers
// the number of entities it changed.
int CadSelectByPolygon(CadDrawing* drawing, CadEntity* polygon, int crossing, int select);
void CadSelectClear(CadDrawing* drawing);
// The selection, in the order the entities were selected.
int CadSelCount(CadDrawing* drawing);
CadEntity* CadSelGetFirst(CadDrawing* drawing);
CadEntity* CadSelGetNext(CadDrawing* drawing, CadEntity* entity);
void CadSelectAll(CadDrawing* drawing);

// ---------------------------------------------------------------------------------------------
// Windows

// The drawing window over a parent widget; a drawing has one window (a second call replaces it).
QWidget* CadWndCreate(CadDrawing* drawing, QWidget* parent, int x, int y, int width, int height);
void CadWndDestroy(QWidget* window);
int CadWndResize(QWidget* window, int x, int y, int width, int height);
QWidget* CadGetWindow(CadDrawing* drawing);
CadDrawing* CadWndGetDrawing(QWidget* window);
void CadWinSetFocus(QWidget* window);
// Repaints one window.
void CadWndRedraw(QWidget* window);
// Repaints now, running the paint event again.
void CadWinPaint(QWidget* window);
// Shows the model rectangle (corners in any order) in the window.
int CadViewRect(QWidget* window, double left, double bottom, double right, double top);
// The model rectangle the window shows.
int CadGetViewRect(QWidget* window, double* left, double* bottom, double* right, double* top);
int CadCoordWinToModel(QWidget* window, int x, int y, double* mx, double* my);
int CadCoordModelToWin(QWidget* window, double mx, double my, int* x, int* y);
double CadDistWinToModel(QWidget* window, double pixels);
// The top-level "Layers Order" window when it is open, else null.
QWidget* CadLayersOrderWindow();

// The command-line window (one for the program): prompt, history and the typed line, serving
// the drawing whose window was active last.
QWidget* CadCWCreate(QWidget* parent, int x, int y, int width, int height);
int CadCWResize(QWidget* window, int x, int y, int width, int height);
// Empties the command-line window: its lines and its prompt (the drawings keep their history).
int CadCWClear(QWidget* window);

// Context menus (process-wide). A separator is the text "-" with command 0.
void CadMenuClear(int menu);
int CadMenuAdd(int menu, const char* text, int command);

// Object snaps of a drawing.
int CadSnapGetMode(CadDrawing* drawing);
void CadSnapPutMode(CadDrawing* drawing, int mode);
int CadSnapGetOn(CadDrawing* drawing);
void CadSnapPutOn(CadDrawing* drawing, int on);

// ---------------------------------------------------------------------------------------------
// Commands and input

// Registers a user command (aliases may repeat: a typed alias starts the first command that has
// it). Non-zero when registered; an id that is taken is refused.
int CadAddCommand(CadDrawing* drawing, int id, const char* name, const char* alias, int reserved,
                  CadCommandProc procedure, CadRubberBandProc rubberBand);
// Runs a user command by id (its procedure runs inside this call) or an engine command by code.
// Non-zero when the command exists.
int CadExecute(CadDrawing* drawing, QWidget* window, int command);
// Ends the command in progress: the waiting input calls of the drawing answer cancel.
void CadCmdFinish(CadDrawing* drawing);
// The id of the innermost user command running in the drawing, 0 when none.
int CadCmdGetActive(CadDrawing* drawing);

void CadCmdPrompt(CadDrawing* drawing, const char* text, const char* defaultText);
void CadCmdPromptAdd(CadDrawing* drawing, const char* text);
int CadCmdGetPrompt(CadDrawing* drawing, char* buffer, int size);
// A line of the command line's history (index 0 the newest); 0 when there is no such line.
int CadCmdGetHistory(CadDrawing* drawing, int index, char* buffer, int size);
// Writes a line into the command line's history, below the lines before it; the prompt stays.
void CadCmdPrint(CadDrawing* drawing, const char* text);

// Waits for operator input: CAD_INPUT_POINT, _FINISH, _TEXT or _CANCEL.
int CadCmdUserInput(CadDrawing* drawing);
// What the innermost input call of the drawing is waiting for now: 0 when none waits, otherwise
// CAD_WAIT_INPUT (CadCmdUserInput and the prompts of the engine's commands), CAD_WAIT_ENTITY,
// CAD_WAIT_SELECT or CAD_WAIT_POINT.
int CadCmdGetWaiting(CadDrawing* drawing);
int CadCmdGetInputPoint(CadDrawing* drawing, double* x, double* y, double* z);
int CadCmdGetInputStr(CadDrawing* drawing, char* buffer, int size = CAD_INPUT_STR_SIZE);
// Waits for the operator to pick one entity; null on right click, Enter or cancel.
CadEntity* CadCmdUserGetEntity(CadDrawing* drawing);
// Which image places an image pick takes (every one when not given).
using CadImagePlaceFilter = std::function<bool(CadEntity* imagePlace)>;
// Waits for the operator to pick the image of a raster layer: a click inside image places that
// the filter takes answers one of them, whatever entities lie over it: the top-most first, and
// within one command, a click at the place of the previous image pick the one below the image
// taken then (the top-most again after the lowest). A click outside them picks the nearest
// entity, as CadCmdUserGetEntity does; so do typed and scripted entity picks. Null on right
// click, Enter or cancel.
CadEntity* CadCmdUserGetImagePlace(CadDrawing* drawing, CadImagePlaceFilter accept = {});
// Interactive selection: picks and windows add to the selection until right click or Enter;
// answers the number of selected entities (cancel answers 0 and keeps what was selected).
int CadCmdUserSelect(CadDrawing* drawing);
// Waits for one point; non-zero when one was picked.
int CadToolGetPickedPoint(CadDrawing* drawing, double* x, double* y, double* z);

// Inside a rubber-band procedure: collect vertices, then draw them as one polyline.
void CadDrawAddVertex(double x, double y, double z);
void CadDrawPolyline(int closed);

// ---------------------------------------------------------------------------------------------
// Scripted operator input (tests and automation)

void CadScriptPushPoint(CadDrawing* drawing, double x, double y, double z, int keyFlags = 0);
void CadScriptPushFinish(CadDrawing* drawing);  // right click or Enter
void CadScriptPushText(CadDrawing* drawing, const char* text);
void CadScriptPushCancel(CadDrawing* drawing);
void CadScriptPushEntity(CadDrawing* drawing, CadEntity* entity);
void CadScriptPushCall(CadDrawing* drawing, std::function<void()> call);
void CadScriptClear(CadDrawing* drawing);
int CadScriptPending(CadDrawing* drawing);
void CadScriptSetStrict(int strict);
