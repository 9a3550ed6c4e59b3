#include "demtools/EntityElevationCommands.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <vector>

#include "controls/SingleProgressDlg.h"
#include "demtools/DemEditCommands.h"
#include "demtools/EntityElevation.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/tools/BusyScope.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

// Keeps the selected closed polylines, in selection order, and unselects everything else.
std::vector<CadEntity*> TakeClosedPolylines(CadDrawing* drawing) {
    std::vector<CadEntity*> kept, others;
    for (CadEntity* e = CadSelGetFirst(drawing); e; e = CadSelGetNext(drawing, e)) {
        if (CadEntityGetType(e) == CAD_ENT_POLYLINE && CadPlineGetClosed(e)) {
            kept.push_back(e);
        } else {
            others.push_back(e);
        }
    }
    for (CadEntity* e : others) {
        CadSelectEntity(e, 0);
    }
    if (!others.empty()) {
        CadUpdate(drawing);
    }
    return kept;
}

// Asks for points, lines and polylines of two vertices or more until the finishing input; each
// is highlighted as it is taken, once. Anything else adds "Invalid entity" to the prompt.
std::vector<CadEntity*> PickEntities(CadDrawing* drawing) {
    std::vector<CadEntity*> picked;
    for (;;) {
        Prompt(drawing, QStringLiteral("Select entities, right click to confirm"));
        CadEntity* entity = CadCmdUserGetEntity(drawing);
        if (!entity) {
            return picked;
        }
        const int type = CadEntityGetType(entity);
        if (type != CAD_ENT_POINT && type != CAD_ENT_LINE &&
            !(type == CAD_ENT_POLYLINE && CadPlineGetNumVers(entity) >= 2)) {
            CadCmdPromptAdd(drawing, " Invalid entity");
            continue;
        }
        // An entity picked twice is taken once: it would otherwise be replaced twice.
        if (std::find(picked.begin(), picked.end(), entity) == picked.end()) {
            picked.push_back(entity);
            CadSelectEntity(entity, 1);
            CadUpdate(drawing);
        }
    }
}

// The refusal of the commands that need a DEM: "No DEM loaded" as a message and as the prompt.
bool RefuseWithoutDem(CadDrawing* drawing, const CKelvaroDoc& doc) {
    if (!doc.m_DEMs.empty()) {
        return false;
    }
    KvMessageBox(QStringLiteral("No DEM loaded"), MB_OK | MB_ICONWARNING);
    SetDocCommandPrompt(drawing, QString());
    CadCmdPrompt(drawing, "No DEM loaded", "");
    return true;
}

}  // namespace

void CmdDemElevationByEntities(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_DEMs.empty()) {
        ActiveCadCommandId = 0;
        RunIdle();
        SetDocCommandPrompt(drawing, QString());
        CadCmdPrompt(drawing, "No DEM loaded", "");
        return;
    }
    ActiveCadCommandId = CMD_DEMELEVATIONBYENTITIES;
    RunIdle();
    CommandEnd end(drawing, nullptr);
    for (;;) {
        CSingleProgressDlg progress(kv::DialogParent());
        progress.Create();
        CadSelectClear(drawing);
        Prompt(drawing, QStringLiteral("Select entities (right click - stop)"));
        if (CadCmdUserSelect(drawing) < 1) {
            return;
        }
        const std::vector<CadEntity*> polylines = TakeClosedPolylines(drawing);
        // Every DEM of the project, whether shown or not: the round writes them all.
        std::vector<CDEM*> dems;
        for (const auto& [name, dem] : doc->m_DEMs) {
            if (dem) {
                dems.push_back(dem);
            }
        }
        kv::BusyScope busy;
        DemUndoRound round;
        const DemEditRecorder recorder = UndoRecorder(doc, progress, round);
        for (CadEntity* polyline : polylines) {
            if (round.IsIncomplete()) {
                break;
            }
            // Triangulated once for all DEMs.
            const EntityPatch patch = MakeEntityPatch(DrawingPolylineVertices(polyline));
            if (!patch.tin) {
                continue;
            }
            for (CDEM* dem : dems) {
                const DemCellWrite cells = SamplePatchOnDem(*dem, patch);
                if (cells.Empty()) {
                    continue;
                }
                if (ShowPrepareDemGrid(*dem, progress)) {
                    WriteDemCells(*dem, cells, &progress, recorder);
                }
            }
        }
        PushEditRound(doc, round);
        CadWndRedraw(CadGetWindow(drawing));
    }
}

void CmdRasterizeEntitiesOnDem(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || RefuseWithoutDem(drawing, *doc)) {
        return;
    }
    ActiveCadCommandId = CMD_RASTERIZEENTITIESONDEM;
    RunIdle();
    CommandEnd end(drawing, nullptr);
    const CDEM* picked = PickDem(drawing, *doc, true);
    if (!picked) {
        return;
    }
    const uint64_t serial = picked->m_serial;
    const std::vector<CadEntity*> entities = PickEntities(drawing);
    // The DEM may have left the project while the entities were picked.
    CDEM* dem = DemBySerial(*doc, serial);
    if (entities.empty() || !dem) {
        return;
    }
    std::vector<BurnShape> shapes;
    for (CadEntity* entity : entities) {
        BurnShape shape;
        double x = 0.0, y = 0.0, z = 0.0, x2 = 0.0, y2 = 0.0, z2 = 0.0;
        switch (CadEntityGetType(entity)) {
            case CAD_ENT_POINT:
                CadPointGet(entity, &x, &y, &z);
                shape.vertices = {Wml::Point3(x, y, z)};
                break;
            case CAD_ENT_LINE:
                CadLineGet(entity, &x, &y, &z, &x2, &y2, &z2);
                shape.vertices = {Wml::Point3(x, y, z), Wml::Point3(x2, y2, z2)};
                break;
            default:
                shape.vertices = DrawingPolylineVertices(entity);
                shape.closed = CadPlineGetClosed(entity) != 0;
                break;
        }
        shapes.push_back(std::move(shape));
    }

    kv::BusyScope busy;
    CSingleProgressDlg progress(kv::DialogParent());
    progress.Create();
    progress.SetCaption(QStringLiteral("Loading..."));
    progress.show();
    const int loaded = dem->LoadData(&progress) && dem->m_grid.type() == CV_32FC1;
    progress.hide();
    if (!loaded) {
        // Nothing is written into a DEM whose cells could not all be read.
        KvMessageBox(QStringLiteral("unable to read DEM"), MB_OK | MB_ICONERROR);
        return;
    }
    const DemCellWrite cells = BurnShapes(*dem, shapes);
    DemUndoRound round;
    WriteDemCells(*dem, cells, &progress, UndoRecorder(doc, progress, round));
    PushEditRound(doc, round);
    end.regenerate = true;
}

namespace {

// The DEM's height under a point; no data outside it or where it holds none.
double HeightAt(CDEM& dem, double x, double y) {
    const double height = dem.GetElevation(x, y);
    return std::isnan(height) ? kNoData : height;
}

// The engine could not add a polyline: the remaining entities are left alone.
bool PolylineFailed() {
    CadClearVertices();
    KvMessageBox(QStringLiteral("error creating pLine"), MB_OK | MB_ICONERROR);
    return false;
}

// Whether a polyline of that many vertices can be held, by us and by the engine.
bool CanHoldVertices(double count) {
    return std::isfinite(count) && FitsInMemory(count * 16.0);
}

// Replaces the entity with a new polyline through the vertices, which takes over the entity's
// colour, line weight, layer and line type. False after "error creating pLine".
bool ReplaceWithPolyline(CadDrawing* drawing, CadEntity* entity, const std::vector<Wml::Point3>& vertices,
                         bool closed) {
    CadClearVertices();
    for (const Wml::Point3& p : vertices) {
        CadAddVertex(p.X(), p.Y(), p.Z());
    }
    CadEntity* polyline = CadAddPolyline(drawing, 0, closed ? 1 : 0);
    if (!polyline) {
        return PolylineFailed();
    }
    CadEntityPutColor(polyline, CadEntityGetColor(entity));
    CadEntityPutLineWeight(polyline, CadEntityGetLineWeight(entity));
    CadEntityPutLayerID(polyline, CadEntityGetLayerID(entity));
    CadEntityPutLineType(polyline, CadEntityGetLineType(entity));
    CadSelectEntity(entity, 0);
    CadEntityErase(entity, 1);
    CadUpdate(drawing);
    return true;
}

// A line draped on the DEM. False when the remaining entities must be left alone.
bool DrapeLine(CadDrawing* drawing, CDEM& dem, CadEntity* line, double step) {
    double x1 = 0.0, y1 = 0.0, z1 = 0.0, x2 = 0.0, y2 = 0.0, z2 = 0.0;
    CadLineGet(line, &x1, &y1, &z1, &x2, &y2, &z2);
    const double h1 = HeightAt(dem, x1, y1);
    if (h1 == kNoData) {
        return true;
    }
    z1 = h1;
    CadLinePut(line, x1, y1, z1, x2, y2, z2);
    const double h2 = HeightAt(dem, x2, y2);
    if (h2 == kNoData) {
        CadUpdate(drawing);
        return true;
    }
    z2 = h2;
    CadLinePut(line, x1, y1, z1, x2, y2, z2);
    CadUpdate(drawing);
    const double length = std::hypot(x2 - x1, y2 - y1);
    if (step <= 0.0 || !std::isfinite(length) || length < step) {
        return true;
    }
    const double n = std::trunc(length / step);
    if (!CanHoldVertices(n)) {
        return PolylineFailed();
    }
    const double ux = (x2 - x1) / length, uy = (y2 - y1) / length;
    std::vector<Wml::Point3> vertices{Wml::Point3(x1, y1, z1)};
    for (double i = 1.0; i <= n; i += 1.0) {
        const double x = x1 + i * step * ux, y = y1 + i * step * uy;
        const double h = HeightAt(dem, x, y);
        if (h != kNoData) {
            vertices.emplace_back(x, y, h);
        }
    }
    vertices.emplace_back(x2, y2, z2);
    return ReplaceWithPolyline(drawing, line, vertices, false);
}

// A polyline draped on the DEM: every vertex keeps its place, once and in order, with the DEM's
// height where the DEM has one and its own elsewhere. With a step, each side of at least one step
// gains the points a whole number of steps from its start (short of its end) where the DEM has a
// height, and the polyline is replaced. False when the remaining entities must be left alone.
bool DrapePolyline(CadDrawing* drawing, CDEM& dem, CadEntity* polyline, double step) {
    std::vector<Wml::Point3> vertices = DrawingPolylineVertices(polyline);
    for (size_t i = 0; i < vertices.size(); ++i) {
        Wml::Point3& p = vertices[i];
        const double h = HeightAt(dem, p.X(), p.Y());
        if (h != kNoData) {
            p = Wml::Point3(p.X(), p.Y(), h);
            CadPlinePutVer(polyline, int(i), p.X(), p.Y(), h);
        }
    }
    CadUpdate(drawing);
    if (step <= 0.0 || vertices.empty()) {
        return true;
    }
    std::vector<Wml::Point3> resampled;
    for (size_t i = 0; i + 1 < vertices.size(); ++i) {
        const Wml::Point3& a = vertices[i];
        const Wml::Point3& b = vertices[i + 1];
        resampled.push_back(a);
        const double length = std::hypot(b.X() - a.X(), b.Y() - a.Y());
        if (!std::isfinite(length) || !(length >= step)) {
            continue;
        }
        const double n = std::trunc(length / step);
        if (!CanHoldVertices(double(resampled.size()) + n)) {
            return PolylineFailed();
        }
        const double ux = (b.X() - a.X()) / length, uy = (b.Y() - a.Y()) / length;
        for (double j = 1.0; j <= n && j * step < length; j += 1.0) {
            const double x = a.X() + j * step * ux, y = a.Y() + j * step * uy;
            const double h = HeightAt(dem, x, y);
            if (h != kNoData) {
                resampled.emplace_back(x, y, h);
            }
        }
    }
    resampled.push_back(vertices.back());
    return ReplaceWithPolyline(drawing, polyline, resampled, CadPlineGetClosed(polyline) != 0);
}

// Asks for the resample step until a number of 0 or more is typed; -1 when cancelled.
double AskStep(CadDrawing* drawing) {
    for (;;) {
        Prompt(drawing, QStringLiteral("Resample <0.0>:"));
        const int input = CadCmdUserInput(drawing);
        if (input == CAD_INPUT_CANCEL) {
            return -1.0;
        }
        if (input != CAD_INPUT_TEXT) {
            continue;
        }
        char text[CAD_INPUT_STR_SIZE] = {};
        CadCmdGetInputStr(drawing, text, sizeof text);
        double step = -1.0;
        if (ZQT_StringToDouble(QString::fromUtf8(text), &step) && std::isfinite(step) && step >= 0.0) {
            return step;
        }
    }
}

}  // namespace

void CmdSetEntElevationFromDem(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || RefuseWithoutDem(drawing, *doc)) {
        return;
    }
    ActiveCadCommandId = CMD_SETENTELEVATIONFROMDEM;
    RunIdle();
    CommandEnd end(drawing, nullptr);
    const std::vector<CadEntity*> entities = PickEntities(drawing);
    if (entities.empty()) {
        return;
    }
    const CDEM* picked = PickDem(drawing, *doc, true);
    if (!picked) {
        return;
    }
    const uint64_t serial = picked->m_serial;
    const double step = AskStep(drawing);
    if (step < 0.0) {
        KvMessageBox(QStringLiteral("Invalid resample value"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    // The DEM may have left the project while the step was asked.
    CDEM* dem = DemBySerial(*doc, serial);
    if (!dem) {
        return;
    }
    for (CadEntity* entity : entities) {
        // An entity the operator erased meanwhile stays as it is.
        if (CadEntityGetDeleted(entity)) {
            continue;
        }
        const int type = CadEntityGetType(entity);
        if (type == CAD_ENT_POINT) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadPointGet(entity, &x, &y, &z);
            const double h = HeightAt(*dem, x, y);
            if (h != kNoData) {
                CadPointPut(entity, x, y, h);
                CadSelectEntity(entity, 0);
                CadUpdate(drawing);
            }
        } else if (type == CAD_ENT_LINE) {
            if (!DrapeLine(drawing, *dem, entity, step)) {
                return;
            }
        } else if (!DrapePolyline(drawing, *dem, entity, step)) {
            return;
        }
    }
}
