#include "demtools/DemEditCommands.h"

#include <QObject>
#include <QString>

#include <algorithm>
#include <map>
#include <memory>

#include "controls/GenericSelectionDlg.h"
#include "controls/SingleProgressDlg.h"
#include "demtools/DemEditWorkers.h"
#include "demtools/DemPatch.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"

namespace {

// The area each command is collecting, read by its rubber band.
std::vector<Wml::Point3> g_holeArea, g_gapsArea, g_offsetArea, g_erodeArea, g_patchArea;
// The offset of the last run of the offset command.
double g_offset = 0.0;

// The start every command shares: the project, the active command and the "No DEM loaded"
// refusal. Null when the command must not go on.
CKelvaroDoc* StartCommand(CadDrawing* drawing, int id, std::vector<Wml::Point3>* area) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return nullptr;
    }
    if (area) {
        area->clear();
    }
    ActiveCadCommandId = id;
    RunIdle();
    if (doc->m_DEMs.empty()) {
        ActiveCadCommandId = 0;
        RunIdle();
        SetDocCommandPrompt(drawing, QString());
        CadCmdPrompt(drawing, "No DEM loaded", "");
        return nullptr;
    }
    return doc;
}

const char* const kAreaPrompts[3] = {"Pick first area vertex (right click to terminate)",
                                     "Pick second area vertex",
                                     "Pick next area vertex (right click to confirm)"};

// Asks for one area in the chosen way (100 existing, 101 drawn).
AreaResult CollectArea(CadDrawing* drawing, CKelvaroDoc* doc, int choice, bool offsetPrompts,
                       std::vector<Wml::Point3>& area) {
    if (choice == CGenericSelectionDlg::IDC_LEFT) {
        return PickExistingArea(drawing,
                                offsetPrompts
                                    ? QStringLiteral("Select existing area")
                                    : QStringLiteral("Select existing area (right click to terminate)"),
                                area);
    }
    if (choice == CGenericSelectionDlg::IDC_MIDDLE) {
        doc->m_AreaVertices.clear();
        return DrawNewArea(drawing, offsetPrompts ? kAreaVertexPrompts : kAreaPrompts, area);
    }
    return AreaResult::Empty;
}

// The repeating area commands: one dialog, then areas in the chosen way until the operator stops.
void RunRepeatingAreaCommand(CadDrawing* drawing, int id, const char* title, std::vector<Wml::Point3>& area,
                             const DemAreaWorker& worker, bool regenerate) {
    CKelvaroDoc* doc = StartCommand(drawing, id, &area);
    if (!doc) {
        return;
    }
    CommandEnd end(drawing, &area);
    int choice = 0;
    for (;;) {
        Prompt(drawing, QString());
        area.clear();
        if (choice == 0) {
            choice = AskAreaChoice(doc, QString::fromUtf8(title), QStringLiteral("Exit"), 0);
            if (choice == IDCANCEL) {
                return;
            }
        }
        const AreaResult result = CollectArea(drawing, doc, choice, false, area);
        if (result != AreaResult::Area) {
            end.regenerate = regenerate && result != AreaResult::End;
            return;
        }
        RunDemAreaEdit(drawing, doc, area, worker, regenerate);
    }
}

}  // namespace

const char* const kPickAreaPrompts[3] = {"Pick first area vertex", "Pick next area vertex",
                                         "Pick next area vertex (right click to end)"};
const char* const kAreaVertexPrompts[3] = {"Pick first area vertex", "Pick second area vertex",
                                           "Pick next area vertex (right click to end)"};

AreaResult PickExistingArea(CadDrawing* drawing, const QString& prompt, std::vector<Wml::Point3>& area) {
    CadEntity* entity = PickAreaPolyline(drawing, prompt);
    if (!entity) {
        return AreaResult::End;
    }
    const std::vector<Wml::Point3> vertices = DrawingPolylineVertices(entity);
    area.insert(area.end(), vertices.begin(), vertices.end());
    return area.empty() ? AreaResult::Empty : AreaResult::Area;
}

int AskAreaChoice(CKelvaroDoc* doc, const QString& title, const QString& thirdCaption, int rightButtonFlag) {
    CGenericSelectionDlg dialog(
        doc, rightButtonFlag,
        kv::GetMainWindowService() ? kv::GetMainWindowService()->MainWindow() : nullptr);
    dialog.m_strTitle = title;
    dialog.m_strLeftCaption = QStringLiteral("Select existing area");
    dialog.m_strMiddleCaption = QStringLiteral("Draw new area");
    dialog.m_strRightCaption = thirdCaption;
    return dialog.DoModal();
}

CommandEnd::~CommandEnd() {
    Prompt(m_drawing, QString());
    if (m_area) {
        m_area->clear();
    }
    ActiveCadCommandId = 0;
    RunIdle();
    if (regenerate) {
        CadRegen(m_drawing);
    }
}

void DrawArea(const std::vector<Wml::Point3>& area, double x, double y, double z) {
    if (area.empty()) {
        return;
    }
    for (const Wml::Point3& p : area) {
        CadDrawAddVertex(p.X(), p.Y(), p.Z());
    }
    CadDrawAddVertex(x, y, z);
    if (area.size() >= 2) {
        CadDrawAddVertex(area[0].X(), area[0].Y(), area[0].Z());
    }
    CadDrawPolyline(0);
}

AreaResult DrawNewArea(CadDrawing* drawing, const char* const prompts[3], std::vector<Wml::Point3>& area) {
    for (;;) {
        Prompt(drawing, prompts[std::min<size_t>(area.size(), 2)]);
        switch (CadCmdUserInput(drawing)) {
            case CAD_INPUT_POINT: {
                double x = 0.0, y = 0.0, z = 0.0;
                CadCmdGetInputPoint(drawing, &x, &y, &z);
                area.emplace_back(x, y, z);
                break;
            }
            case CAD_INPUT_FINISH:
                return area.empty() ? AreaResult::Empty : AreaResult::Area;
            case CAD_INPUT_TEXT:
                break;
            default:
                return AreaResult::Cancelled;
        }
    }
}

std::vector<Wml::Point3> DrawingPolylineVertices(CadEntity* polyline) {
    std::vector<Wml::Point3> vertices;
    const int count = CadPlineGetNumVers(polyline);
    vertices.reserve(size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i) {
        double x = 0.0, y = 0.0, z = 0.0;
        if (CadPlineGetVer(polyline, i, &x, &y, &z)) {
            vertices.emplace_back(x, y, z);
        }
    }
    return vertices;
}

CadEntity* PickAreaPolyline(CadDrawing* drawing, const QString& prompt) {
    Prompt(drawing, prompt);
    for (;;) {
        CadEntity* entity = CadCmdUserGetEntity(drawing);
        if (!entity) {
            return nullptr;
        }
        if (!CadEntityGetSelected(entity) && CadEntityGetType(entity) == CAD_ENT_POLYLINE &&
            CadPlineGetClosed(entity) && CadEntityGetVisible(entity)) {
            Prompt(drawing, QString());
            return entity;
        }
    }
}

int ShowPrepareDemGrid(CDEM& dem, KvProgressDialog& progress) {
    if (!dem.m_grid.empty()) {
        return PrepareDemGrid(dem, nullptr);
    }
    progress.SetCaption(QStringLiteral("Preparing DEM to edit..."));
    progress.show();
    const int loaded = PrepareDemGrid(dem, &progress);
    progress.hide();
    return loaded;
}

int KeepUndoRecord(DemUndoRound& round, const CUndoDEM& record) {
    if (round.IsIncomplete()) {
        record.DeleteFile();
        return 0;
    }
    if (round.Add(record)) {
        return 1;
    }
    // The run stops here: its windows are left as they were and the operator is told once.
    round.MarkIncomplete();
    KvMessageBox(QStringLiteral("Unable to create undo data"), MB_OK | MB_ICONERROR);
    return 0;
}

DemEditRecorder UndoRecorder(CKelvaroDoc* doc, KvProgressDialog& progress, DemUndoRound& round) {
    return [doc, &progress, &round](CDEM& dem, const DemEditWindow& edit) {
        if (round.IsIncomplete()) {
            return 0;
        }
        progress.SetCaption(QStringLiteral("Generate UNDO..."));
        progress.show();
        const CUndoDEM record(&dem, doc, edit.window.size(), edit.cells, edit.window.tl(), edit.contour,
                              &progress, edit.fewCells);
        progress.hide();
        // A window whose cells could not be saved is not changed.
        return KeepUndoRecord(round, record);
    };
}

std::vector<CDEM*> EditableDems(CKelvaroDoc& doc) {
    std::vector<CDEM*> dems;
    for (const auto& [name, dem] : doc.m_DEMs) {
        CadEntity* entity = dem ? dem->m_imageEntity : nullptr;
        if (!entity || CadEntityGetDeleted(entity) || !CadEntityGetVisible(entity)) {
            continue;
        }
        CadLayer* layer = CadGetLayerByID(doc.m_pCad, CadEntityGetLayerID(entity));
        if (!layer || !CadLayerGetVisible(layer) || CadLayerGetLock(layer)) {
            continue;
        }
        dems.push_back(dem);
    }
    return dems;
}

int PushEditRound(CKelvaroDoc* doc, DemUndoRound& round) {
    if (!doc) {
        return 0;
    }
    if (round.IsIncomplete()) {
        // The windows written before the one that could not be recorded are taken back, so
        // that the DEMs are as they were before the run.
        round.Revert(nullptr, [doc](uint64_t serial) { return DemBySerial(*doc, serial); });
        return 0;
    }
    if (round.IsEmpty()) {
        return 0;
    }
    doc->PushDemUndoRound(round);
    return 1;
}

int RunDemAreaEdit(CadDrawing* drawing, CKelvaroDoc* doc, std::vector<Wml::Point3>& area,
                   const DemAreaWorker& worker, bool regenerate) {
    std::vector<Wml::Point2> outline;
    for (const Wml::Point3& p : area) {
        outline.emplace_back(p.X(), p.Y());
    }
    area.clear();
    if (outline.size() < 3 || !doc) {
        return 0;
    }
    const std::vector<CDEM*> dems = EditableDems(*doc);
    if (dems.empty()) {
        return 0;
    }
    const CPgon worldArea(outline.data(), int(outline.size()));
    // Undo and Redo wait while a grid is being rewritten: the command stays active and the
    // program busy for the whole run.
    kv::BusyScope busy;
    CSingleProgressDlg progress(kv::GetMainWindowService() ? kv::GetMainWindowService()->MainWindow()
                                                           : nullptr);
    progress.Create();
    DemUndoRound round;
    const DemEditRecorder recorder = UndoRecorder(doc, progress, round);
    int written = 0;
    for (CDEM* dem : dems) {
        if (round.IsIncomplete()) {
            break;
        }
        if (ClipDemArea(*dem, worldArea).empty()) {
            continue;
        }
        if (!ShowPrepareDemGrid(*dem, progress)) {
            continue;
        }
        written += worker(*dem, worldArea, &progress, recorder);
    }
    PushEditRound(doc, round);
    CadWndRedraw(CadGetWindow(drawing));
    if (regenerate) {
        CadRegen(drawing);
    }
    return written;
}

void CmdDemHole(CadDrawing* drawing) {
    RunRepeatingAreaCommand(
        drawing, CMD_DEMHOLE, "Hole area selection", g_holeArea,
        [](CDEM& dem, const CPgon& area, ProgressSink* p, const DemEditRecorder& r) {
            return MakeDemHole(dem, area, p, r);
        },
        true);
}

void CmdDemGridGaps(CadDrawing* drawing) {
    RunRepeatingAreaCommand(
        drawing, CMD_DEMGRIDGAPS, "Close gaps area selection", g_gapsArea,
        [](CDEM& dem, const CPgon& area, ProgressSink* p, const DemEditRecorder& r) {
            return CloseDemGaps(dem, area, p, r);
        },
        false);
}

void CmdDemErode(CadDrawing* drawing) {
    RunRepeatingAreaCommand(
        drawing, CMD_DEMERODE, "Erode area selection", g_erodeArea,
        [](CDEM& dem, const CPgon& area, ProgressSink* p, const DemEditRecorder& r) {
            return ErodeDem(dem, area, p, r);
        },
        true);
}

void CmdDemOffset(CadDrawing* drawing) {
    CKelvaroDoc* doc = StartCommand(drawing, CMD_DEMOFFSET, &g_offsetArea);
    if (!doc) {
        return;
    }
    CommandEnd end(drawing, &g_offsetArea);
    for (;;) {
        Prompt(drawing, QStringLiteral("Insert the elevation offset"));
        const int input = CadCmdUserInput(drawing);
        if (input == CAD_INPUT_CANCEL) {
            return;
        }
        if (input == CAD_INPUT_TEXT) {
            break;
        }
    }
    char text[CAD_INPUT_STR_SIZE] = {};
    CadCmdGetInputStr(drawing, text, sizeof text);
    // Text that is no number is refused like 0: an offset from an earlier run is never reused
    // without the operator seeing it.
    double offset = 0.0;
    if (!ZQT_StringToDouble(QString::fromUtf8(text), &offset) || offset == 0.0) {
        KvMessageBox(QStringLiteral("Offset is not valid"), MB_OK);
        return;
    }
    g_offset = offset;
    const int choice = AskAreaChoice(doc, QStringLiteral("Offset area selection"), QStringLiteral("Exit"), 0);
    if (choice == IDCANCEL) {
        return;
    }
    g_offsetArea.clear();
    if (CollectArea(drawing, doc, choice, true, g_offsetArea) != AreaResult::Area) {
        return;
    }
    const double value = g_offset;
    RunDemAreaEdit(
        drawing, doc, g_offsetArea,
        [value](CDEM& dem, const CPgon& area, ProgressSink* p, const DemEditRecorder& r) {
            return OffsetDemArea(dem, area, value, p, r);
        },
        false);
}

void CmdDemPatchIt(CadDrawing* drawing) {
    CKelvaroDoc* doc = StartCommand(drawing, CMD_DEMPATCHIT, &g_patchArea);
    if (!doc) {
        return;
    }
    CommandEnd end(drawing, &g_patchArea);
    double elevation = kNoData;
    bool constrained = false;
    Wml::Point3 constraint;
    // A constraint elevation, or a left click to go without one. Text that is no number asks again.
    for (bool asking = true; asking;) {
        Prompt(drawing, QStringLiteral("Insert the constraint elevation for patch. Left click to skip"));
        switch (CadCmdUserInput(drawing)) {
            case CAD_INPUT_POINT:
                asking = false;
                break;
            case CAD_INPUT_TEXT: {
                char text[CAD_INPUT_STR_SIZE] = {};
                CadCmdGetInputStr(drawing, text, sizeof text);
                if (ZQT_StringToDouble(QString::fromUtf8(text), &elevation)) {
                    constrained = true;
                    asking = false;
                }
                break;
            }
            default:
                return;
        }
    }
    while (constrained) {
        Prompt(drawing, QStringLiteral("Pick the constraint point"));
        const int input = CadCmdUserInput(drawing);
        if (input == CAD_INPUT_POINT) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadCmdGetInputPoint(drawing, &x, &y, &z);
            constraint = Wml::Point3(x, y, elevation);
            break;
        }
        if (input == CAD_INPUT_FINISH) {
            return;
        }
    }
    if (DrawNewArea(drawing, kPickAreaPrompts, g_patchArea) != AreaResult::Area) {
        return;
    }
    const Wml::Point3* point = constrained ? &constraint : nullptr;
    RunDemAreaEdit(
        drawing, doc, g_patchArea,
        [point](CDEM& dem, const CPgon& area, ProgressSink* p, const DemEditRecorder& r) {
            return PatchDem(dem, area, point, p, r);
        },
        false);
}

void CmdDemHoleDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawArea(g_holeArea, x, y, z);
}
void CmdDemGridGapsDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawArea(g_gapsArea, x, y, z);
}
void CmdDemOffsetDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawArea(g_offsetArea, x, y, z);
}
void CmdDemErodeDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawArea(g_erodeArea, x, y, z);
}
void CmdDemPatchItDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawArea(g_patchArea, x, y, z);
}

namespace {

// The elevation at the point on the first DEM, in the drawing's layer order from the top, that
// has one there; no data when none has.
double ReferenceAt(CKelvaroDoc* doc, double x, double y) {
    for (CadLayer* layer = CadGetFirstLayer(doc->m_pCad); layer;
         layer = CadGetNextLayer(doc->m_pCad, layer)) {
        for (const auto& [name, dem] : doc->m_DEMs) {
            if (!dem || !dem->m_imageEntity ||
                CadEntityGetLayerID(dem->m_imageEntity) != CadLayerGetID(layer)) {
                continue;
            }
            const double value = dem->GetElevation(x, y);
            if (value != kNoData) {
                return value;
            }
        }
    }
    return kNoData;
}

// Fills the component under the click on every editable DEM, one undo round for the click.
void FillAt(CadDrawing* drawing, CKelvaroDoc* doc, double x, double y, float reference) {
    const std::vector<CDEM*> dems = EditableDems(*doc);
    if (dems.empty()) {
        return;
    }
    kv::BusyScope busy;
    CSingleProgressDlg progress(kv::GetMainWindowService() ? kv::GetMainWindowService()->MainWindow()
                                                           : nullptr);
    progress.Create();
    DemUndoRound round;
    const FloodFillRecorder recorder = [&](CDEM& dem, const cv::Mat& mask, const cv::Rect& bounds,
                                           float value) {
        progress.SetCaption(QStringLiteral("Generate UNDO..."));
        progress.show();
        const CUndoDEM record(&dem, doc, mask, bounds, value, &progress);
        progress.hide();
        return KeepUndoRecord(round, record);
    };
    for (CDEM* dem : dems) {
        if (round.IsIncomplete()) {
            break;
        }
        FloodFillDem(*dem, x, y, reference, &progress, recorder);
    }
    PushEditRound(doc, round);
    CadWndRedraw(CadGetWindow(drawing));
}

}  // namespace

void CmdDemFloodFill(CadDrawing* drawing) {
    CKelvaroDoc* doc = StartCommand(drawing, CMD_DEMFLOODFILL, nullptr);
    if (!doc) {
        return;
    }
    CommandEnd end(drawing, nullptr);
    float reference = kNoData;
    for (;;) {
        Prompt(drawing, reference == kNoData
                            ? QStringLiteral("Pick reference elevation (click + SHIFT) or type it")
                            : QString::asprintf("Click inside area to fill with elevation %.2f", reference));
        const int input = CadCmdUserInput(drawing);
        if (input == CAD_INPUT_TEXT) {
            char text[CAD_INPUT_STR_SIZE] = {};
            CadCmdGetInputStr(drawing, text, sizeof text);
            double value = kNoData;
            if (ZQT_StringToDouble(QString::fromUtf8(text), &value) && value != kNoData) {
                reference = float(value);
            }
        } else if (input == CAD_INPUT_POINT) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadCmdGetInputPoint(drawing, &x, &y, &z);
            if (CadGetKeyFlags() & CAD_KEY_SHIFT) {
                const double value = ReferenceAt(doc, x, y);
                if (value != kNoData) {
                    reference = float(value);
                    CadCmdPromptAdd(drawing, QString::asprintf("%f", value).toUtf8().constData());
                }
            } else if (reference != kNoData) {
                FillAt(drawing, doc, x, y, reference);
            }
        } else {
            return;
        }
    }
}
