// Command ids of the program: the ribbon, the application menu and the document menus send them,
// the frame, the application and the project document handle them. The ribbon definition names
// its elements by these names, so each number is written here once.
#pragma once

#include <QString>

#define KV_COMMAND_IDS(X)                           \
    /* framework commands */                        \
    X(ID_WINDOW_MANAGER, 131)                       \
    X(ID_STATUSBAR_PANE1, 120)                      \
    X(ID_STATUSBAR_PANE2, 121)                      \
    X(ID_VIEW_APPLOOK_WIN_2000, 205)                \
    X(ID_VIEW_APPLOOK_OFF_XP, 206)                  \
    X(ID_VIEW_APPLOOK_WIN_XP, 207)                  \
    X(ID_VIEW_APPLOOK_OFF_2003, 208)                \
    X(ID_VIEW_APPLOOK_VS_2005, 209)                 \
    X(ID_VIEW_APPLOOK_VS_2008, 210)                 \
    X(ID_VIEW_APPLOOK_OFF_2007_BLUE, 215)           \
    X(ID_VIEW_APPLOOK_OFF_2007_BLACK, 216)          \
    X(ID_VIEW_APPLOOK_OFF_2007_SILVER, 217)         \
    X(ID_VIEW_APPLOOK_OFF_2007_AQUA, 218)           \
    X(ID_VIEW_APPLOOK_WINDOWS_7, 219)               \
    X(ID_FILE_NEW, 57600)                           \
    X(ID_FILE_OPEN, 57601)                          \
    X(ID_FILE_CLOSE, 57602)                         \
    X(ID_FILE_SAVE, 57603)                          \
    X(ID_FILE_SAVE_AS, 57604)                       \
    X(ID_FILE_PRINT_SETUP, 57606)                   \
    X(ID_FILE_PRINT, 57607)                         \
    X(ID_FILE_PRINT_DIRECT, 57608)                  \
    X(ID_FILE_PRINT_PREVIEW, 57609)                 \
    X(ID_FILE_MRU_FILE1, 57616)                     \
    X(ID_FILE_MRU_FILE2, 57617)                     \
    X(ID_FILE_MRU_FILE3, 57618)                     \
    X(ID_FILE_MRU_FILE4, 57619)                     \
    X(ID_APP_ABOUT, 57664)                          \
    X(ID_APP_EXIT, 57665)                           \
    /* Main: Add, Orthophoto */                     \
    X(ID_BUTTON_INSERTDEM, 32771)                   \
    X(ID_BUTTON_GROUNDFILTERING, 32772)             \
    X(ID_BUTTON_INSERTORTHO, 32773)                 \
    X(ID_ADD_ADDDATA, 32774)                        \
    X(ID_BUTTON_ORTHOVISIBLE, 32777)                \
    X(ID_SLIDER_ORTHOOPACITY, 32778)                \
    /* Main: Measurements */                        \
    X(ID_BUTTON_DISTANCE, 32779)                    \
    X(ID_BUTTON_AREA, 32780)                        \
    X(ID_BUTTON_VOLUME, 32781)                      \
    X(ID_BUTTON_PROFILE, 32782)                     \
    /* Main: DEM Tools */                           \
    X(ID_BUTTON_DEMHOLE, 32783)                     \
    X(ID_BUTTON_CLOSEGAP, 32784)                    \
    X(ID_BUTTON_FLOODFILL, 32785)                   \
    X(ID_BUTTON_DEMDELTAOFFSET, 32786)              \
    X(ID_BUTTON_DEMPATCHDEM, 32787)                 \
    X(ID_DEMEDITING_ERODE, 32788)                   \
    X(ID_DEMEDITING_ELEVATIONBYENTITIES, 32789)     \
    X(ID_DEMEDITING_EDITDEMFROMTIN, 32790)          \
    X(ID_BUTTON_DEMUNDO, 32791)                     \
    X(ID_BUTTON_DEMREDO, 32792)                     \
    X(ID_DRAW_CONTOURLINE, 32793)                   \
    X(ID_TOOLS_QUOTEDWGOBJECT, 32794)               \
    X(ID_TOOLS_RASTERIZEENTITIESONDEM, 32795)       \
    X(ID_TOOLS_CREATEDEMFROMLAS, 32796)             \
    X(ID_CUT_CUTSECTION, 32921)                     \
    X(ID_CUT_ROT, 32923)                            \
    X(ID_DEMEDITING_RESIZE, 32938)                  \
    X(ID_DEMEDITING_DEMFROMTIM, 32939)              \
    /* Main: DEM Analysis, Utility, Layers, View */ \
    X(ID_BUTTON_SUBTRACTDEM, 32799)                 \
    X(ID_TOOLS_COMPAREDSM, 32937)                   \
    X(ID_TOOLS_DEMANALYSIS, 32952)                  \
    X(ID_TOOLS_RASTERIZE, 32958)                    \
    X(ID_BUTTON_LAYERS, 32800)                      \
    X(ID_BUTTON_LAYERSORDER, 32801)                 \
    X(ID_BUTTON_COMMANDLINE, 32820)                 \
    /* Main: Utility_debug */                       \
    X(ID_DRAW_ADDQUOTES, 32803)                     \
    X(ID_DRAW_DRAWPOLYLINEONORTHO, 32804)           \
    X(ID_DRAW_DRAWARROW, 32805)                     \
    X(ID_TOOLS_LANDMARKTRANSFORM, 32806)            \
    X(ID_TOOLS_OMOGRAPHYWARPING, 32807)             \
    X(ID_TOOLS_ADDPOINTS, 32808)                    \
    X(ID_TOOLS_WRITEOBJ, 32809)                     \
    X(ID_TOOLS_LANDMARKTRANSFORMGPS, 32810)         \
    X(ID_GOLF_LONGMEASUREMENTS, 32811)              \
    /* CAD: Drawing I/O, Draw */                    \
    X(ID_BUTTON_IMPORTDRAWING, 32812)               \
    X(ID_BUTTON_EXPORTDRAWING, 32813)               \
    X(ID_BUTTON_DRAWPOINT, 32814)                   \
    X(ID_DRAW_LINE, 32815)                          \
    X(ID_BUTTON_POLYLINE, 32816)                    \
    X(ID_DRAW_ELLIPSE, 32817)                       \
    X(ID_BUTTON_RECT, 32818)                        \
    X(ID_DRAW_SPLINE, 32819)                        \
    X(ID_BUTTON_TEXT, 32821)                        \
    X(ID_CIRCLE_CIRCLE, 32823)                      \
    X(ID_CIRCLE_CR, 32824)                          \
    X(ID_CIRCLE_CD, 32825)                          \
    X(ID_CIRCLE_2, 32826)                           \
    X(ID_CIRCLE_3, 32827)                           \
    X(ID_ARC_ARC, 32828)                            \
    X(ID_ARC_3, 32830)                              \
    X(ID_ARC_SCE, 32831)                            \
    X(ID_ARC_SCA, 32832)                            \
    X(ID_ARC_SEA, 32833)                            \
    X(ID_ARC_SED, 32834)                            \
    X(ID_ARC_SER, 32835)                            \
    X(ID_DIMENSION_DIMENSION, 32837)                \
    X(ID_DIMENSION_LINEAR, 32838)                   \
    X(ID_DIMENSION_ALIGNED, 32840)                  \
    X(ID_DIMENSION_ORDINATE, 32843)                 \
    X(ID_DIMENSION_RADIUS, 32844)                   \
    X(ID_DIMENSION_DIAMETER, 32846)                 \
    X(ID_DIMENSION_ANGULAR, 32848)                  \
    X(ID_DIMENSION_STYLE, 32851)                    \
    X(ID_BLOCK_BLOCK, 32852)                        \
    X(ID_BLOCK_INSERT, 32855)                       \
    X(ID_BLOCK_NEW, 32856)                          \
    X(ID_DRAW_SHEETLAYOUT, 32857)                   \
    /* CAD: Format, OSnap */                        \
    X(ID_BUTTON_POINTSTYLE, 32859)                  \
    X(ID_BUTTON_LINEWEIGHT, 32860)                  \
    X(ID_FORMAT_LINETYPE, 32861)                    \
    X(ID_FORMAT_DIMENSIONSTYLE, 32862)              \
    X(ID_BUTTON_OSNAPPANE, 32863)                   \
    X(ID_BUTTON_NONE, 32864)                        \
    X(ID_BUTTON_NODE, 32865)                        \
    X(ID_BUTTON_ENDPOINT, 32866)                    \
    X(ID_BUTTON_MIDPOINT, 32867)                    \
    X(ID_BUTTON_CEN, 32868)                         \
    X(ID_BUTTON_NEAR, 32869)                        \
    X(ID_BUTTON_INTER, 32870)                       \
    X(ID_BUTTON_PERP, 32871)                        \
    X(ID_OSNAP_DEM, 32872)                          \
    /* commands of the document menu only */        \
    X(ID_ARC_SCL, 32878)                            \
    X(ID_DRAW_POLYGON, 32889)                       \
    X(ID_DRAW_HATCH, 32892)                         \
    X(ID_DRAW_CREATESLOPEMAP, 32926)                \
    /* Mosaic Merge */                              \
    X(ID_BUTTON_BUILDSEAMLINES, 32836)              \
    X(ID_MOSAICMERGE_EDITSEAMLINES, 32839)          \
    X(ID_MOSAICMERGE_UNDOEDITSEAMLINES, 32841)      \
    X(ID_MOSAICMERGE_REDOEDITSEAMLINES, 32842)      \
    X(ID_MOSAICMERGE_BUILDMOSAIC, 32845)            \
    X(ID_MOSAICMERGE_SETUPTILES, 32847)             \
    X(ID_MOSAICMERGE_IMPORTTILES, 32849)            \
    X(ID_MOSAICMERGE_REMOVEALLTILES, 32850)         \
    X(ID_BUTTON_VIEWSEAMLINES, 32853)               \
    X(ID_BUTTON_VIEWTILES, 32854)                   \
    /* DEM Split / Merge */                         \
    X(ID_DEMSPLITMERGE_SPLIT, 32935)                \
    X(ID_DEMSPLITMERGE_MERGE, 32936)                \
    X(ID_DEMSPLITMERGE_BUILDSEAMLINES, 32942)       \
    X(ID_DEMSPLITMERGE_EDITSEAMLINES, 32943)        \
    X(ID_DEMSPLITMERGE_UNDOEDITSEAMLINES, 32944)    \
    X(ID_DEMSPLITMERGE_REDOEDITSEAMLINES, 32945)    \
    X(ID_DEMSPLITMERGE_VIEWSEAMLINES, 32946)        \
    /* AgriTools */                                 \
    X(ID_AGRITOOLS_NDVISAVI, 32955)                 \
    X(ID_AGRITOOLS_RASTERCALCULATOR, 32956)         \
    X(ID_AGRITOOLS_MAPREPRESENTATION, 32957)        \
    X(ID_AGRITOOLS_COLORCLASSIFICATION, 32959)      \
    X(ID_AGRITOOLS_EXPORTNDVIDA, 32960)             \
    /* Help */                                      \
    X(ID_BUTTON_USERDATA, 32797)                    \
    X(ID_BUTTON_ABOUT, 32798)                       \
    X(ID_BUTTON_TUTORIAL, 32802)                    \
    X(ID_BUTTON_FEEDBACK, 32829)                    \
    X(ID_HELP_CHANGELOG, 32858)

#define KV_DECLARE_COMMAND_ID(name, value) name = value,
enum : int { KV_COMMAND_IDS(KV_DECLARE_COMMAND_ID) };
#undef KV_DECLARE_COMMAND_ID

namespace kv {

// The id of a command name ("ID_BUTTON_VOLUME"), or a decimal number given as text; 0 when unknown.
int CommandIdFromName(const QString& name);
// The name of a command id, empty when the id has none.
QString CommandNameFromId(int id);

}  // namespace kv
