#include "analysis/VolumeCommand.h"

#include <QString>

#include "analysis/AnalysisCommands.h"
#include "analysis/VolumeDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/CadCommandIds.h"
#include "raster/DEM.h"

namespace {

// Asks for a point on the DEM until one with data is picked: its elevation becomes the reference.
// Right click or cancel leave the reference as it was; typed text is ignored.
void PickReferenceElevation(CadDrawing* drawing, VolumeCommandState& state) {
    Prompt(drawing, QStringLiteral("Pick reference elevation on DEM"));
    for (;;) {
        const int input = CadCmdUserInput(drawing);
        if (input == CAD_INPUT_TEXT) {
            continue;
        }
        if (input != CAD_INPUT_POINT) {
            return;
        }
        double x = 0.0, y = 0.0, z = 0.0;
        CadCmdGetInputPoint(drawing, &x, &y, &z);
        const double elevation = state.dem->GetElevation(x, y);
        if (elevation == kNoData) {
            CadCmdPromptAdd(drawing, " No elevation data found!");
            continue;
        }
        state.reference = elevation;
        CadCmdPromptAdd(drawing, QString::asprintf(" %.3lf", elevation).toUtf8().constData());
        return;
    }
}

// Collects a new AOI vertex by vertex. Right click with three or more vertices makes them the AOI
// (and unsets the reference); with fewer, or on cancel, the AOI stays as it was.
void DrawAoi(CadDrawing* drawing, VolumeCommandState& state) {
    const std::vector<Wml::Point3> kept = state.aoi;
    state.aoi.clear();
    state.drawing.clear();
    for (;;) {
        const size_t n = state.drawing.size();
        Prompt(drawing, n == 0   ? QStringLiteral("Pick first area vertex")
                        : n == 1 ? QStringLiteral("Pick next area vertex")
                                 : QStringLiteral("Pick next area vertex (right click to end)"));
        const int input = CadCmdUserInput(drawing);
        if (input == CAD_INPUT_POINT) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadCmdGetInputPoint(drawing, &x, &y, &z);
            state.drawing.emplace_back(x, y, z);
            continue;
        }
        if (input == CAD_INPUT_TEXT) {
            continue;
        }
        if (input == CAD_INPUT_FINISH && state.drawing.size() >= 3) {
            state.aoi = state.drawing;
            state.reference = kUnsetReference;
        } else {
            state.aoi = kept;
        }
        state.drawing.clear();
        return;
    }
}

// Takes the AOI from a closed polyline of three or more vertices, or from the extents of an image
// place. False when the operator picked nothing: the command ends.
bool PickAoi(CadDrawing* drawing, VolumeCommandState& state) {
    Prompt(drawing, QStringLiteral("Select closed polyline"));
    for (;;) {
        CadEntity* entity = CadCmdUserGetEntity(drawing);
        if (!entity) {
            return false;
        }
        const int type = CadEntityGetType(entity);
        const int count = type == CAD_ENT_POLYLINE ? CadPlineGetNumVers(entity) : 0;
        if (type == CAD_ENT_POLYLINE && CadPlineGetClosed(entity) && count > 2) {
            state.aoi.clear();
            for (int i = 0; i < count; ++i) {
                double x = 0.0, y = 0.0, z = 0.0;
                CadPlineGetVer(entity, i, &x, &y, &z);
                state.aoi.emplace_back(x, y, z);
            }
        } else if (type == CAD_ENT_IMAGE) {
            const double left = CadEntityGetLeft(entity), top = CadEntityGetTop(entity);
            const double right = CadEntityGetRight(entity), bottom = CadEntityGetBottom(entity);
            state.aoi = {{left, top, 0.0}, {right, top, 0.0}, {right, bottom, 0.0}, {left, bottom, 0.0}};
        } else {
            CadCmdPromptAdd(drawing, " Invalid entity");
            continue;
        }
        state.reference = kUnsetReference;
        Prompt(drawing, QString());
        return true;
    }
}

// Clears the command's state on every way out.
struct StateReset {
    ~StateReset() { VolumeState().Clear(); }
};

}  // namespace

VolumeCommandState& VolumeState() {
    static VolumeCommandState state;
    return state;
}

void CmdVolume(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    StateReset reset;
    VolumeCommandState& state = VolumeState();
    state.Clear();
    if (!DemLoaded(drawing, *doc)) {
        return;
    }
    ActiveCommandScope scope(drawing, CMD_VOLUME);
    state.dem = PickDem(drawing, *doc, true);
    if (!state.dem) {
        return;
    }
    for (;;) {
        CVolumeDlg dialog(&state.abort);
        const int answer = dialog.DoModal();
        if (answer == CVolumeDlg::IDC_PICK_ELEVATION) {
            PickReferenceElevation(drawing, state);
        } else if (answer == CVolumeDlg::IDC_DRAW_AOI) {
            DrawAoi(drawing, state);
        } else if (answer == CVolumeDlg::IDC_PICK_POLYLINE) {
            if (!PickAoi(drawing, state)) {
                return;
            }
        } else {
            return;
        }
    }
}

void CmdVolumeDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    const VolumeCommandState& state = VolumeState();
    if (state.aoi.size() >= 3) {
        for (const Wml::Point3& p : state.aoi) {
            CadDrawAddVertex(p.X(), p.Y(), p.Z());
        }
        CadDrawAddVertex(state.aoi[0].X(), state.aoi[0].Y(), state.aoi[0].Z());
        CadDrawPolyline(0);
    }
    if (!state.drawing.empty()) {
        for (const Wml::Point3& p : state.drawing) {
            CadDrawAddVertex(p.X(), p.Y(), p.Z());
        }
        CadDrawAddVertex(x, y, z);
        if (state.drawing.size() >= 2) {
            CadDrawAddVertex(state.drawing[0].X(), state.drawing[0].Y(), state.drawing[0].Z());
        }
        CadDrawPolyline(0);
    }
}
