// The sheet layout, a drawing tool of its own: "Sheet Layout" opens CSheetLayoutDlg, reopened after
// each corner pick, which builds a map frame with its coordinate grid and title block into one CAD
// block of the drawing (SheetLayoutDlg.h over the plain geometry of SheetLayout.h, the layer
// names and colours in SheetLayoutLayersPropertiesDlg.h). The ribbon button runs it as a document
// procedure: not a CAD user command, it runs whatever command is active and leaves
// ActiveCadCommandId alone. The project is busy while it runs (the document's handler), so it
// cannot close while the dialog waits for a corner in its drawing.
#pragma once

class CKelvaroDoc;
class DocumentProcedureTable;

// Hands the project the procedure of "Sheet Layout" (called once at start-up).
void RegisterLayoutCommands(DocumentProcedureTable& procedures);

// "Sheet Layout" on the project: the dialog until it is confirmed or cancelled; a corner picked in
// the drawing is stored in the profile as "%.3lf" and shown when the dialog opens again.
void RunSheetLayout(CKelvaroDoc& doc);
