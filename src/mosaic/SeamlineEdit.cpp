#include "mosaic/SeamlineEdit.h"

#include <QString>

#include <algorithm>
#include <map>
#include <unordered_set>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "mosaic/SeamlineFiles.h"
#include "platform/geometry/Pgon.h"
#include "platform/ui/CadCommandIds.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"

namespace {

// What differs between the orthophoto and the DEM edit.
template <typename Image>
struct EditKind;

template <>
struct EditKind<COrtho> {
    static constexpr int kCommand = CMD_EDITSEAMLINESROUND;
    static constexpr const char* kLayer = kSeamLinesLayer;
    static const std::map<QString, COrtho*>& Images(const CKelvaroDoc& doc) { return doc.m_Orthos; }
    static void Push(CKelvaroDoc& doc, const std::vector<COrtho*>& images,
                     const std::vector<std::vector<CadEntity*>>& before,
                     const std::vector<std::vector<CadEntity*>>& after) {
        doc.PushSeamlineRound(doc.m_pCad, images, before, after);
    }
    static int Undo(CKelvaroDoc& doc) { return doc.UndoSeamlineRound(); }
    static int Redo(CKelvaroDoc& doc) { return doc.RedoSeamlineRound(); }
};

template <>
struct EditKind<CDEM> {
    static constexpr int kCommand = CMD_EDITDEMSEAMLINESROUND;
    static constexpr const char* kLayer = kSeamLinesDemLayer;
    static const std::map<QString, CDEM*>& Images(const CKelvaroDoc& doc) { return doc.m_DEMs; }
    static void Push(CKelvaroDoc& doc, const std::vector<CDEM*>& images,
                     const std::vector<std::vector<CadEntity*>>& before,
                     const std::vector<std::vector<CadEntity*>>& after) {
        doc.PushDemSeamlineRound(doc.m_pCad, images, before, after);
    }
    static int Undo(CKelvaroDoc& doc) { return doc.UndoDemSeamlineRound(); }
    static int Redo(CKelvaroDoc& doc) { return doc.RedoDemSeamlineRound(); }
};

// What a running edit shares with its rubber band: the area's points and the image that grows.
template <typename Image>
struct EditState {
    std::vector<Wml::Point2> points;
    Image* edited = nullptr;
};

template <typename Image>
EditState<Image>& State() {
    static EditState<Image> state;
    return state;
}

// The image of the kind that a user pointer names, when it is one of the project's layers.
template <typename Image>
Image* KnownImage(const CKelvaroDoc& doc, const void* pointer) {
    if (!pointer) {
        return nullptr;
    }
    for (const auto& [name, image] : EditKind<Image>::Images(doc)) {
        if (image == pointer) {
            return image;
        }
    }
    return nullptr;
}

template <typename Image>
Image* FindImage(CKelvaroDoc& doc, double x, double y) {
    for (const auto& [name, image] : EditKind<Image>::Images(doc)) {
        for (CadEntity* polyline : image->SeamlinePolylines) {
            if (polyline && !CadEntityGetDeleted(polyline) && CadPlineContainPoint(polyline, x, y)) {
                return image;
            }
        }
    }
    return nullptr;
}

CadEntity* AddClosedPolyline(CadDrawing* drawing, const std::vector<Wml::Point2>& points) {
    CadClearVertices();
    for (const Wml::Point2& p : points) {
        CadAddVertex(p.X(), p.Y(), 0.0);
    }
    CadEntity* polyline = CadAddPolyline(drawing, 0, 1);
    CadClearVertices();
    return polyline;
}

// The style of an image's new polylines: that of its first old one.
struct PolylineStyle {
    int colour = 7;
    int lineWeight = -3;
    int layerId = 0;
    uint32_t lineType = 0;
};

template <typename Image>
int ApplyArea(CKelvaroDoc& doc, Image* edited, const std::vector<Wml::Point2>& area) {
    CadDrawing* drawing = doc.m_pCad;
    if (area.size() <= 2 || !KnownImage<Image>(doc, edited)) {
        CadClearVertices();
        return 0;
    }
    const CPgon areaPgon(area.data(), static_cast<int>(area.size()));

    // The engine selects what the area crosses or encloses on shown, unlocked layers only. The
    // seamline layer is opened for the selection when it is locked or hidden (the mosaic build
    // hides it) and keeps its state afterwards: the edit works whether the seams are shown or not.
    CadLayer* layer = CadGetLayerByName(drawing, EditKind<Image>::kLayer);
    const bool locked = layer && CadLayerGetLock(layer);
    const bool hidden = layer && !CadLayerGetVisible(layer);
    if (locked) {
        CadLayerPutLock(layer, 0);
        CadUpdate(drawing);
    }
    if (hidden) {
        CadLayerPutVisible(layer, 1);
    }
    CadSelectClear(drawing);
    CadEntity* selector = AddClosedPolyline(drawing, area);
    CadSelectByPolygon(drawing, selector, 1, 1);
    CadEntityErase(selector, 1);
    if (hidden) {
        CadLayerPutVisible(layer, 0);
    }
    if (locked) {
        CadLayerPutLock(layer, 1);
    }

    // The images whose own seamline polylines the area reaches, each with its key (the id of its
    // image place, as its polylines carry it). A polyline of another layer, or one whose pointer
    // is no image of this kind in the project, takes no part.
    std::vector<Image*> touched;
    std::vector<int> keys;
    const int layerId = layer ? CadLayerGetID(layer) : -1;
    std::unordered_set<const void*> known;
    for (const auto& [name, image] : EditKind<Image>::Images(doc)) {
        known.insert(image);
    }
    for (CadEntity* e = CadSelGetFirst(drawing); e; e = CadSelGetNext(drawing, e)) {
        if (CadEntityGetType(e) != CAD_ENT_POLYLINE || !CadPlineGetClosed(e) ||
            CadEntityGetLayerID(e) != layerId) {
            continue;
        }
        void* pointer = CadEntityGetUserPtr(e);
        Image* image = known.count(pointer) ? static_cast<Image*>(pointer) : nullptr;
        if (image && std::find(touched.begin(), touched.end(), image) == touched.end()) {
            touched.push_back(image);
            keys.push_back(CadEntityGetUserData(e));
        }
    }
    CadSelectClear(drawing);
    CadUpdate(drawing);
    if (touched.empty()) {
        return 0;
    }

    std::vector<std::vector<CadEntity*>> before(touched.size());
    std::vector<std::vector<CadEntity*>> after(touched.size());
    for (size_t i = 0; i < touched.size(); ++i) {
        Image* image = touched[i];
        before[i] = image->SeamlinePolylines;
        CPgon region;
        PolylineStyle style;
        style.layerId = layerId;
        bool first = true;
        for (CadEntity* polyline : before[i]) {
            if (!polyline) {
                continue;
            }
            const std::vector<Wml::Point2> contour = PolylinePoints(polyline);
            region.AddContour(contour.data(), static_cast<int>(contour.size()));
            if (first) {
                style = {CadEntityGetColor(polyline), CadEntityGetLineWeight(polyline),
                         CadEntityGetLayerID(polyline), CadEntityGetLineType(polyline)};
                first = false;
            }
            CadEntityErase(polyline, 1);
        }
        const CPgon result = image == edited ? region | areaPgon : region - areaPgon;
        image->SeamlinePolylines.clear();
        for (int c = 0; c < result.GetNumContours(); ++c) {
            CadEntity* polyline = AddClosedPolyline(drawing, result.GetContour(c));
            if (!polyline) {
                continue;
            }
            CadEntityPutUserPtr(polyline, image);
            CadEntityPutUserData(polyline, keys[i]);
            CadEntityPutColor(polyline, style.colour);
            CadEntityPutLineWeight(polyline, style.lineWeight);
            CadEntityPutLayerID(polyline, style.layerId);
            CadEntityPutLineType(polyline, style.lineType);
            after[i].push_back(polyline);
            image->SeamlinePolylines.push_back(polyline);
        }
    }
    doc.SetModifiedFlag(1);
    EditKind<Image>::Push(doc, touched, before, after);
    for (Image* image : touched) {
        image->ReleaseDisplayCache();
    }
    // The entity calls have told the drawing what changed (no regeneration of every outline).
    CadUpdate(drawing);
    return 1;
}

template <typename Image>
void RunEdit(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    EditState<Image>& state = State<Image>();
    // The area and the image are the command's only while it runs.
    struct Reset {
        EditState<Image>& state;
        ~Reset() {
            state.points.clear();
            state.edited = nullptr;
            CadClearVertices();
        }
    } reset{state};
    ActiveCommandScope active(drawing, EditKind<Image>::kCommand);
    state.points.clear();
    state.edited = nullptr;
    if (CadSelCount(drawing) > 0) {
        CadSelectClear(drawing);
        CadUpdate(drawing);
        RunIdle();
    }
    Prompt(drawing, QStringLiteral("Click inside the seamline to edit"));
    CadClearVertices();
    bool drawingArea = false;
    for (;;) {
        const int input = CadCmdUserInput(drawing);
        if (input == CAD_INPUT_POINT) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadCmdGetInputPoint(drawing, &x, &y, &z);
            if (!drawingArea) {
                Image* found = FindImage<Image>(*doc, x, y);
                const QString named = found ? QStringLiteral("(%1) - ").arg(found->m_name) : QString();
                Prompt(drawing,
                       named + QStringLiteral(
                                   "Click to draw an area. Press right mouse button to apply changes"));
                if (!found) {
                    continue;
                }
                state.edited = found;
                drawingArea = true;
            }
            state.points.emplace_back(x, y);
            CadAddVertex(x, y, 0.0);
        } else if (input == CAD_INPUT_FINISH) {
            if (!drawingArea) {
                return;
            }
            const std::vector<Wml::Point2> area = std::move(state.points);
            Image* edited = state.edited;
            state.points.clear();
            state.edited = nullptr;
            drawingArea = false;
            if (ApplyArea(*doc, edited, area)) {
                Prompt(drawing, QStringLiteral("Click to draw an area"));
            }
            CadClearVertices();
        } else if (input != CAD_INPUT_TEXT) {
            return;
        }
    }
}

template <typename Image>
void DrawEdit(double x, double y) {
    const std::vector<Wml::Point2>& points = State<Image>().points;
    if (points.empty()) {
        return;
    }
    for (const Wml::Point2& p : points) {
        CadDrawAddVertex(p.X(), p.Y(), 0.0);
    }
    CadDrawAddVertex(x, y, 0.0);
    if (points.size() >= 2) {
        CadDrawAddVertex(points.front().X(), points.front().Y(), 0.0);
    }
    CadDrawPolyline(0);
}

template <typename Image>
void RunUndoRedo(CadDrawing* drawing, bool undo) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    const int done = undo ? EditKind<Image>::Undo(*doc) : EditKind<Image>::Redo(*doc);
    if (!done) {
        CadCmdPrompt(drawing, undo ? "Undo buffer empty" : "Redo buffer empty", "");
    }
}

}  // namespace

void CmdEditSeamlinesRound(CadDrawing* drawing) {
    RunEdit<COrtho>(drawing);
}

void CmdEditSeamlinesRoundDraw(CadDrawing* /*drawing*/, QPainter* /*painter*/, double x, double y,
                               double /*z*/) {
    DrawEdit<COrtho>(x, y);
}

void CmdEditDemSeamlinesRound(CadDrawing* drawing) {
    RunEdit<CDEM>(drawing);
}

void CmdEditDemSeamlinesRoundDraw(CadDrawing* /*drawing*/, QPainter* /*painter*/, double x, double y,
                                  double /*z*/) {
    DrawEdit<CDEM>(x, y);
}

void CmdEditSeamlinesRoundUndo(CadDrawing* drawing) {
    RunUndoRedo<COrtho>(drawing, true);
}

void CmdEditSeamlinesRoundRedo(CadDrawing* drawing) {
    RunUndoRedo<COrtho>(drawing, false);
}

void CmdEditDemSeamlinesRoundUndo(CadDrawing* drawing) {
    RunUndoRedo<CDEM>(drawing, true);
}

void CmdEditDemSeamlinesRoundRedo(CadDrawing* drawing) {
    RunUndoRedo<CDEM>(drawing, false);
}

COrtho* FindSeamlineOrtho(CKelvaroDoc& doc, double x, double y) {
    return FindImage<COrtho>(doc, x, y);
}

CDEM* FindSeamlineDem(CKelvaroDoc& doc, double x, double y) {
    return FindImage<CDEM>(doc, x, y);
}

int ApplySeamlineArea(CKelvaroDoc& doc, COrtho* edited, const std::vector<Wml::Point2>& area) {
    return ApplyArea(doc, edited, area);
}

int ApplyDemSeamlineArea(CKelvaroDoc& doc, CDEM* edited, const std::vector<Wml::Point2>& area) {
    return ApplyArea(doc, edited, area);
}
