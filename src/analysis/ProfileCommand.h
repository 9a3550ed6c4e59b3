// PROFILE: the terrain section of a DEM along a line of the drawing (an existing open polyline or
// vertices picked in the plan view), shown in the profile dialog with a plan view of the DEM.
#pragma once

#include <vector>

#include "platform/math/Wml.h"

class CDEM;
class CProfileDlg;
class QPainter;
struct CadDrawing;

// What the command, its rubber band and its dialog share while the command runs.
struct ProfileCommandState {
    CDEM* dem = nullptr;             // the DEM sampled (not owned)
    std::vector<Wml::Point3> line;   // the line in plan; x and y are used
    CProfileDlg* current = nullptr;  // the open dialog, whose event procedures act only while it is set

    void Clear() { *this = ProfileCommandState(); }
};

// The state of the process's profile command.
ProfileCommandState& ProfileState();

void CmdProfile(CadDrawing* drawing);
// Draws the vertices picked so far as a polyline ending at the cursor.
void CmdProfileDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
