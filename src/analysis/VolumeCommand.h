// VOLUME: the volume of terrain inside an area of interest (AOI) over a DEM. The command procedure
// owns the interaction in the drawing (the DEM, the AOI drawn or picked, the reference elevation
// picked on the DEM); the volume dialog shows and recomputes the volumes and exports them.
#pragma once

#include <vector>

#include "analysis/VolumeWorker.h"
#include "platform/math/Wml.h"

class CDEM;
class QPainter;
struct CadDrawing;

// What the command, its rubber band and its dialog share while the command runs; cleared when it
// ends.
struct VolumeCommandState {
    CDEM* dem = nullptr;               // the DEM measured (not owned)
    std::vector<Wml::Point3> aoi;      // the accepted AOI, implicitly closed (3 or more vertices)
    std::vector<Wml::Point3> drawing;  // the vertices picked so far while the AOI is drawn
    double reference = kUnsetReference;
    int abort = 0;  // set by the dialog's Abort button

    void Clear() { *this = VolumeCommandState(); }
};

// The state of the process's volume command.
VolumeCommandState& VolumeState();

void CmdVolume(CadDrawing* drawing);
// Draws the AOI as a closed polyline, and the vertices being drawn followed by the cursor (and
// back to the first vertex once there are two).
void CmdVolumeDraw(CadDrawing* drawing, QPainter* painter, double x, double y, double z);
