// What the landmark transforms, the control-point file and the textured mesh export share: the
// mesh files of a terrain kept in a local frame (the VTK PolyData file and the offset file that
// brings it back to map coordinates) and the pick of a polyline whose vertices are landmarks.
#pragma once

#include <QString>

#include <functional>
#include <vector>

#include "platform/math/Wml.h"

class vtkPolyData;
struct CadDrawing;
struct CadEntity;

namespace products {

// Writes the mesh as a VTK XML PolyData file in binary data mode at vtp, and at vtw the offset
// that brings its local coordinates back to map coordinates: the line "[PolyData Offset]", then
// "X=", "Y=" and "Z=" with six decimals, each line ended by "\n". Both are written under temporary
// names and put in place as one set once complete (kv::PlaceFileSet): whatever stops that leaves
// the old pair, the new pair, or no mesh file. False, with the files as they were (or no mesh file
// when putting them in place failed), when they cannot be written.
bool WriteMeshFiles(vtkPolyData* mesh, const double offset[3], const QString& vtp, const QString& vtw);

// Asks for a polyline with the prompt until the operator picks one of two or more vertices whose
// count `accept` takes (any count when empty); any other entity prompts "Invalid entity" and asks
// again. Null when the operator picks none (right click, Enter, cancel).
CadEntity* PickPolyline(CadDrawing* drawing, const QString& prompt,
                        const std::function<bool(int vertices)>& accept = {});

// The source polyline ("Select source polyline"), then the target polyline ("Select target
// polyline") whose vertex count `accept` takes given the source's. False when the operator
// picks none at either prompt.
bool PickSourceAndTarget(CadDrawing* drawing, const std::function<bool(int source, int target)>& accept,
                         CadEntity** source, CadEntity** target);

}  // namespace products
