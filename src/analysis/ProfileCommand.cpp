#include "analysis/ProfileCommand.h"

#include <QString>

#include "analysis/AnalysisCommands.h"
#include "analysis/ProfileDlg.h"
#include "controls/GenericSelectionDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"

namespace {

enum class LineResult { Line, End };

// The vertices of the next visible, open, unselected polyline the operator picks; other entities
// are passed over without a word.
LineResult SelectLine(CadDrawing* drawing, std::vector<Wml::Point3>& line) {
    Prompt(drawing, QStringLiteral("Select existing profile (right click to terminate)"));
    for (;;) {
        CadEntity* entity = CadCmdUserGetEntity(drawing);
        if (!entity) {
            return LineResult::End;
        }
        if (CadEntityGetSelected(entity) || CadEntityGetType(entity) != CAD_ENT_POLYLINE ||
            CadPlineGetClosed(entity) || !CadEntityGetVisible(entity)) {
            continue;
        }
        const int count = CadPlineGetNumVers(entity);
        for (int i = 0; i < count; ++i) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadPlineGetVer(entity, i, &x, &y, &z);
            line.emplace_back(x, y, z);
        }
        return LineResult::Line;
    }
}

// Vertices picked one by one until right click or Enter; cancel ends the command.
LineResult DrawLine(CadDrawing* drawing, std::vector<Wml::Point3>& line) {
    for (;;) {
        const size_t n = line.size();
        Prompt(drawing, n == 0   ? QStringLiteral("Pick first vertex (right click to terminate)")
                        : n == 1 ? QStringLiteral("Pick second vertex")
                                 : QStringLiteral("Pick next vertex (right click to end)"));
        switch (CadCmdUserInput(drawing)) {
            case CAD_INPUT_POINT: {
                double x = 0.0, y = 0.0, z = 0.0;
                CadCmdGetInputPoint(drawing, &x, &y, &z);
                line.emplace_back(x, y, z);
                break;
            }
            case CAD_INPUT_FINISH:
                return LineResult::Line;
            case CAD_INPUT_TEXT:
                break;
            default:
                return LineResult::End;
        }
    }
}

int AskProfileChoice(CKelvaroDoc* doc) {
    CGenericSelectionDlg dialog(
        doc, 0, kv::GetMainWindowService() ? kv::GetMainWindowService()->MainWindow() : nullptr);
    dialog.m_strTitle = QStringLiteral("Profile selection");
    dialog.m_strLeftCaption = QStringLiteral("Select existing profile");
    dialog.m_strMiddleCaption = QStringLiteral("Draw new profile");
    dialog.m_strRightCaption = QStringLiteral("Exit");
    return dialog.DoModal();
}

// Clears the command's state on every way out.
struct StateReset {
    ~StateReset() { ProfileState().Clear(); }
};

}  // namespace

ProfileCommandState& ProfileState() {
    static ProfileCommandState state;
    return state;
}

void CmdProfile(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || !DemLoaded(drawing, *doc)) {
        return;
    }
    StateReset reset;
    ProfileCommandState& state = ProfileState();
    state.Clear();
    ActiveCommandScope scope(drawing, CMD_PROFILE);
    state.dem = PickDem(drawing, *doc, true);
    if (!state.dem || !state.dem->m_imageEntity) {
        return;
    }
    const int choice = AskProfileChoice(doc);
    if (choice != CGenericSelectionDlg::IDC_LEFT && choice != CGenericSelectionDlg::IDC_MIDDLE) {
        return;
    }
    for (;;) {
        Prompt(drawing, QString());
        state.line.clear();
        const LineResult result = choice == CGenericSelectionDlg::IDC_LEFT ? SelectLine(drawing, state.line)
                                                                           : DrawLine(drawing, state.line);
        if (result == LineResult::End || state.line.empty()) {
            return;
        }
        Prompt(drawing, QString());
        CProfileDlg dialog;
        dialog.DoModal();
    }
}

void CmdProfileDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    const std::vector<Wml::Point3>& line = ProfileState().line;
    if (line.empty()) {
        return;
    }
    for (const Wml::Point3& p : line) {
        CadDrawAddVertex(p.X(), p.Y(), p.Z());
    }
    CadDrawAddVertex(x, y, z);
    CadDrawPolyline(0);
}
