// The ribbon commands with which the project hands the operator to the CAD engine's own
// commands: drawing, dimensions, blocks, measurements, the style and layer dialogs, and the
// object-snap buttons. Each row names the command, the document's handler and the engine command
// it runs; the kind says how it is run:
//   Draw     refused while a CAD user command is active; else the engine's current command is
//            finished and the engine command runs
//   Measure  as Draw, with the selection cleared (engine command 911) first
//   Finish   the engine's current command is finished, then the engine command runs
//   Plain    the engine command runs
//   ViewWin  the engine command runs with the window of the document's first view
//   Order    the engine command toggles the "Layers Order" window, which is then put in its place
#pragma once

enum DrawCommandKind { Draw, Measure, Finish, Plain, ViewWin, Order };

#define KV_DOC_DRAW_COMMANDS(X)                               \
    X(ID_BUTTON_DRAWPOINT, OnButtonDrawpoint, 201, Draw)      \
    X(ID_DRAW_LINE, OnDrawLine, 205, Draw)                    \
    X(ID_BUTTON_POLYLINE, OnButtonPolyline, 209, Draw)        \
    X(ID_DRAW_POLYGON, OnDrawPolygon, 210, Draw)              \
    X(ID_DRAW_ELLIPSE, OnDrawEllipse, 211, Draw)              \
    X(ID_BUTTON_RECT, OnButtonRect, 212, Draw)                \
    X(ID_CIRCLE_CR, OnCircleCr, 221, Draw)                    \
    X(ID_CIRCLE_CD, OnCircleCd, 222, Draw)                    \
    X(ID_CIRCLE_2, OnCircle2, 223, Draw)                      \
    X(ID_CIRCLE_3, OnCircle3, 224, Draw)                      \
    X(ID_ARC_3, OnArc3, 229, Draw)                            \
    X(ID_ARC_SCE, OnArcSce, 230, Draw)                        \
    X(ID_ARC_SCA, OnArcSca, 231, Draw)                        \
    X(ID_ARC_SEA, OnArcSea, 233, Draw)                        \
    X(ID_ARC_SED, OnArcSed, 234, Draw)                        \
    X(ID_ARC_SER, OnArcSer, 235, Draw)                        \
    X(ID_ARC_SCL, OnArcScl, 238, Draw)                        \
    X(ID_DRAW_SPLINE, OnDrawSpline, 242, Draw)                \
    X(ID_BUTTON_TEXT, OnButtonText, 245, Draw)                \
    X(ID_DRAW_HATCH, OnDrawHatch, 246, Draw)                  \
    X(ID_BLOCK_INSERT, OnBlockInsert, 252, Draw)              \
    X(ID_BLOCK_NEW, OnBlockNew, 257, Draw)                    \
    X(ID_DIMENSION_LINEAR, OnDimensionLinear, 290, Draw)      \
    X(ID_DIMENSION_ALIGNED, OnDimensionAligned, 291, Draw)    \
    X(ID_DIMENSION_ORDINATE, OnDimensionOrdinate, 292, Draw)  \
    X(ID_DIMENSION_RADIUS, OnDimensionRadius, 293, Draw)      \
    X(ID_DIMENSION_DIAMETER, OnDimensionDiameter, 294, Draw)  \
    X(ID_DIMENSION_ANGULAR, OnDimensionAngular, 295, Draw)    \
    X(ID_DIMENSION_STYLE, OnDimensionStyle, 807, Draw)        \
    X(ID_BUTTON_DISTANCE, OnButtonDistance, 952, Measure)     \
    X(ID_BUTTON_AREA, OnButtonArea, 953, Measure)             \
    X(ID_BUTTON_POINTSTYLE, OnButtonPointstyle, 808, Finish)  \
    X(ID_BUTTON_LINEWEIGHT, OnButtonLineweight, 805, Finish)  \
    X(ID_BUTTON_OSNAPPANE, OnButtonOsnappane, 411, Finish)    \
    X(ID_BUTTON_NONE, OnButtonNone, 410, Plain)               \
    X(ID_BUTTON_LAYERS, OnButtonLayers, 801, Plain)           \
    X(ID_BUTTON_LAYERSORDER, OnButtonLayersorder, 802, Order) \
    X(ID_FORMAT_LINETYPE, OnFormatLinetype, 804, ViewWin)     \
    X(ID_FORMAT_DIMENSIONSTYLE, OnFormatDimensionstyle, 807, ViewWin)

// The snap buttons: the command, its handler and update handler, and its snap bit.
#define KV_DOC_SNAP_BUTTONS(X)                                         \
    X(ID_BUTTON_NODE, OnButtonNode, OnUpdateButtonNode, 1)             \
    X(ID_BUTTON_ENDPOINT, OnButtonEndpoint, OnUpdateButtonEndpoint, 2) \
    X(ID_BUTTON_MIDPOINT, OnButtonMidpoint, OnUpdateButtonMidpoint, 4) \
    X(ID_BUTTON_CEN, OnButtonCen, OnUpdateButtonCen, 8)                \
    X(ID_BUTTON_NEAR, OnButtonNear, OnUpdateButtonNear, 16)            \
    X(ID_BUTTON_INTER, OnButtonInter, OnUpdateButtonInter, 32)         \
    X(ID_BUTTON_PERP, OnButtonPerp, OnUpdateButtonPerp, 64)            \
    X(ID_OSNAP_DEM, OnOsnapDem, OnUpdateOsnapDem, 512)

// The heads of the split buttons and one command of the document menu, which do nothing.
#define KV_DOC_NOTHING_COMMANDS(X) \
    X(ID_CIRCLE_CIRCLE)            \
    X(ID_ARC_ARC)                  \
    X(ID_DIMENSION_DIMENSION)      \
    X(ID_BLOCK_BLOCK)              \
    X(32822)
