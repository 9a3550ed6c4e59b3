// The procedures of the measurement and surface analysis tools that the project's command table
// runs, and the steps those commands share.
#pragma once

class CKelvaroDoc;
class CommandRegistry;
struct CadDrawing;

// Hands the command table the procedures of the measurement and surface analysis tools (called once at
// start-up).
void RegisterAnalysisCommands(CommandRegistry& registry);

// True when the project holds a DEM; otherwise the command line says "No DEM loaded" (the
// project's prompt is emptied) and the command ends.
bool DemLoaded(CadDrawing* drawing, CKelvaroDoc& doc);
