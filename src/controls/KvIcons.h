// The program's own icons and bitmaps, drawn in code and looked up by their resource numbers, so
// that a dialog names the same numbers its layout gives:
//
//     m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);          // CButtonST looks the numbers up
//     QPixmap exit = KvLoadIcon(IDI_CANCEL, 32);           // any size, drawn sharp
//
// Icons are drawn on a transparent background; each has a natural size used when none is asked.
// Bitmaps keep pure black where the picture is empty (black is their mask colour). An unknown
// number gives a null pixmap, which CButtonST::SetIcon refuses with its failure result.
#pragma once

#include <QPixmap>

enum : int {
    IDI_CANCEL = 319,           // Cancel, Abort and Exit
    IDI_CANCEL_DISABLED = 320,  // the same, for the disabled state
    IDI_OK = 322,
    IDI_OK_DISABLED = 323,
    IDI_PICK = 346,  // pick a point in the drawing
    IDI_PICK_DISABLED = 347,
    IDI_PREVIEW = 348,  // show what the dialog would make
    IDI_PREVIEW_DISABLED = 349,
    IDI_UPDATE = 350,  // rebuild what the dialog shows
    IDI_UPDATE_DISABLED = 351,
    IDI_EXPORT = 352,  // save what the dialog shows to a file
    IDI_EXPORT_DISABLED = 353,
    IDI_LAYER_PROPERTIES = 354,  // "Layer Properties" of the sheet layout
    IDI_LAYER_PROPERTIES_DISABLED = 355,
    IDI_PICK_LOWER_LEFT = 356,  // pick the lower-left corner in the drawing
    IDI_PICK_LOWER_LEFT_DISABLED = 357,
    IDI_PICK_UPPER_RIGHT = 358,  // pick the upper-right corner in the drawing
    IDI_PICK_UPPER_RIGHT_DISABLED = 359,
    IDB_SHEET_STYLE_CROSS = 363,   // sheet layout previews: grid crosses inside the frame
    IDB_SHEET_STYLE_LINE = 364,    // grid lines across the frame
    IDB_SHEET_STYLE_SIMPLE = 365,  // ticks and labels only
    IDI_DRAW_AREA = 375,           // "Draw new area" / "Draw new profile"
    IDI_SELECT_AREA = 376,         // "Select existing area" / "Select existing profile"
    IDI_TOTAL_AREA = 377,          // "Use total area"
    IDB_REPORT_IMAGES = 388,       // the report list's images, 16 pixels wide each
};

// The icon of that number at size x size pixels (size 0: its natural size).
QPixmap KvLoadIcon(int id, int size = 0);
// The bitmap of that number.
QPixmap KvLoadBitmap(int id);
