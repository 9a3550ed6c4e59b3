// The procedures of the mosaicking, seamline and DEM merge tools that the project runs: CAD user
// commands through the command table, and ribbon commands without one through the table of
// document procedures.
#pragma once

class CommandRegistry;
class DocumentProcedureTable;
class CKelvaroDoc;
struct CadDrawing;

// Hands both tables the procedures of the mosaicking, seamline and DEM merge tools (called once at
// start-up).
void RegisterMosaicCommands(CommandRegistry& registry, DocumentProcedureTable& procedures);

// "Build" and "Build Seamlines": the seamline generation dialog for the project's orthophotos or
// DEMs.
void RunOrthoSeamlinesGeneration(CKelvaroDoc& doc);
void RunDemSeamlinesGeneration(CKelvaroDoc& doc);

// DEMMERGE: the DEMs selected in the drawing and the output file, then the merge window.
void CmdDemMerge(CadDrawing* drawing);
// DEMSPLIT: the DEM (the only one, or the one picked), then the split by the tiles.
void CmdDemSplit(CadDrawing* drawing);
