// Annotations burnt into copies of an orthophoto for course and site sheets: elevation quotes
// above a base point (ADDQUOTES), a width and a length (ADDPOINTS), and distances from the tee
// positions and a second reference (ADDLONGMEAS), each in metres and yards. The commands leave the
// project's layers as they are; the pixels come from the orthophoto file the operator chooses.
#pragma once

#include <QString>

#include <optional>

#include "demtools/DemEditCommands.h"
#include "products/ProductsSupport.h"

struct CadDrawing;
class CKelvaroDoc;

// The start the annotation commands share. Without an orthophoto layer: the prompt "No OrthoPhoto
// loaded" and false. Otherwise the command becomes active (held by `active` from here on) and the
// operator picks an orthophoto layer ("Select OrthoPhoto"; its name is appended to the prompt; any
// other entity is an "Invalid entity" and the pick repeats). With takeOnlyLayer the single
// orthophoto layer of a project is taken without asking. False, with the prompt cleared and the
// command no longer active, when the operator picks none.
bool PickOrthophotoLayer(CadDrawing* drawing, CKelvaroDoc& doc, int commandId,
                         std::optional<ActiveCommandScope>& active, bool takeOnlyLayer = false,
                         QString* layerName = nullptr);

// The distance of n pixels of the given width as "metres yards": "%.1f %.1f".
QString FormatYardage(double pixels, double pixelWidth);

void CmdAddQuotes(CadDrawing* drawing);
void CmdAddPoints(CadDrawing* drawing);
void CmdAddLongMeas(CadDrawing* drawing);
