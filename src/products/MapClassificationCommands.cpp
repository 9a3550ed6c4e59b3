#include "products/MapClassificationCommands.h"

#include <vector>

#include "controls/GenericSelectionDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/math/Wml.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/MainWindowService.h"
#include "products/ColorClassificationDlg.h"
#include "products/MapRepresentationDlg.h"
#include "raster/DEM.h"
#include "raster/MapData.h"

namespace {

// The area being drawn for the classification, read by its rubber band.
std::vector<Wml::Point3> g_area;

const char* const kAreaPrompts[3] = {"Pick first area vertex", "Pick second area vertex",
                                     "Pick next area vertex (right click to end)"};

QWidget* MainWindow() {
    return kv::GetMainWindowService() ? kv::GetMainWindowService()->MainWindow() : nullptr;
}

// The map whose image place the entity is; null for any other entity.
CMapData* MapOfEntity(const CKelvaroDoc& doc, CadEntity* entity) {
    auto name = doc.m_MapHandleNames.find(entity);
    if (name == doc.m_MapHandleNames.end()) {
        return nullptr;
    }
    auto map = doc.m_Maps.find(name->second);
    return map != doc.m_Maps.end() ? map->second : nullptr;
}

// Appends the text to the prompt in the command line.
void PromptAdd(CadDrawing* drawing, const QString& text) {
    CadCmdPromptAdd(drawing, (QStringLiteral(" ") + text).toUtf8().constData());
}

// The closed polyline of an area drawn point by point now; null when the operator cancelled or
// gave fewer than three vertices.
CadEntity* DrawAreaPolyline(CadDrawing* drawing) {
    if (DrawNewArea(drawing, kAreaPrompts, g_area) != AreaResult::Area || g_area.size() < 3) {
        return nullptr;
    }
    CadClearVertices();
    for (const Wml::Point3& p : g_area) {
        CadAddVertex(p.X(), p.Y(), p.Z());
    }
    CadEntity* polyline = CadAddPolyline(drawing, 0, 1);
    CadUpdate(drawing);
    return polyline;
}

}  // namespace

MapToolWindow* MakeMapToolWindow(MapToolWindowKind kind) {
    if (kind == MapToolWindowKind::MapRepresentation) {
        return new CMapRepresentationDlg();
    }
    return new CColorClassificationDlg();
}

CColorClassificationDlg* ColorClassificationWindow(const CKelvaroDoc& doc) {
    return dynamic_cast<CColorClassificationDlg*>(doc.m_pColorClassificationDlg);
}

CMapRepresentationDlg* MapRepresentationWindow(const CKelvaroDoc& doc) {
    return dynamic_cast<CMapRepresentationDlg*>(doc.m_pMapRepresentationDlg);
}

void CmdColorClassification(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    CColorClassificationDlg* dialog = doc ? ColorClassificationWindow(*doc) : nullptr;
    if (!dialog) {
        return;
    }
    if (doc->m_Maps.empty()) {
        CadCmdPrompt(drawing, "No Data Map loaded", "");
        return;
    }
    g_area.clear();
    ActiveCadCommandId = CMD_COLORCLASSIFICATION;
    RunIdle();
    CommandEnd end(drawing, &g_area);

    CMapData* map = nullptr;
    if (doc->m_Maps.size() == 1) {
        map = doc->m_Maps.begin()->second;
    } else {
        for (;;) {
            Prompt(drawing, QStringLiteral("Select Map"));
            CadEntity* entity = CadCmdUserGetImagePlace(
                drawing, [doc](CadEntity* image) { return MapOfEntity(*doc, image) != nullptr; });
            if (!entity) {
                CadUpdate(drawing);
                end.regenerate = true;
                return;
            }
            map = MapOfEntity(*doc, entity);
            if (map) {
                PromptAdd(drawing, map->m_name);
                break;
            }
            PromptAdd(drawing, QStringLiteral("Invalid Map"));
        }
    }
    Prompt(drawing, QString());
    if (!map->m_imageEntity) {
        CadUpdate(drawing);
        end.regenerate = true;
        return;
    }

    CGenericSelectionDlg choice(doc, 1, MainWindow());
    choice.m_strTitle = QStringLiteral("Color classification area selection");
    choice.m_strLeftCaption = QStringLiteral("Select existing area");
    choice.m_strMiddleCaption = QStringLiteral("Draw new area");
    choice.m_strRightCaption = QStringLiteral("Use total area");
    CadEntity* area = nullptr;
    switch (choice.DoModal()) {
        case CGenericSelectionDlg::IDC_LEFT:
            area = PickAreaPolyline(drawing, QStringLiteral("Select existing area"));
            if (!area) {
                return;
            }
            break;
        case CGenericSelectionDlg::IDC_MIDDLE:
            area = DrawAreaPolyline(drawing);
            if (!area) {
                return;
            }
            break;
        case CGenericSelectionDlg::IDC_RIGHT:
            break;
        default:
            return;
    }

    map->m_linkedEntities.clear();
    if (area) {
        map->m_linkedEntities.push_back(area);
    }
    dialog->Create();
    dialog->SetMap(doc, map);
    doc->m_MapLayerInfo.title = map->m_name;
    doc->m_MapLayerInfo.mapType = map->m_mapType;
    doc->UpdateColorLegend(doc->m_MapLayerInfo);
}

void CmdColorClassificationDraw(CadDrawing* /*drawing*/, QPainter* /*painter*/, double x, double y,
                                double z) {
    DrawArea(g_area, x, y, z);
}

void CmdMapRepresentation(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    CMapRepresentationDlg* dialog = doc ? MapRepresentationWindow(*doc) : nullptr;
    if (!dialog) {
        return;
    }
    if (doc->m_Maps.empty() && doc->m_DEMs.empty()) {
        CadCmdPrompt(drawing, "No map loaded!", "");
        KvMessageBox(QStringLiteral("No map loaded!"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    ActiveCadCommandId = CMD_MAPREPRESENTATION;
    RunIdle();
    CommandEnd end(drawing, nullptr);

    CMapData* map = nullptr;
    CDEM* dem = nullptr;
    if (doc->m_Maps.size() + doc->m_DEMs.size() == 1) {
        map = doc->m_Maps.empty() ? nullptr : doc->m_Maps.begin()->second;
        dem = doc->m_DEMs.empty() ? nullptr : doc->m_DEMs.begin()->second;
    } else {
        for (;;) {
            Prompt(drawing, QStringLiteral("Select Map"));
            CadEntity* entity = CadCmdUserGetImagePlace(drawing, [doc](CadEntity* image) {
                return MapOfEntity(*doc, image) || DemOfEntity(*doc, image);
            });
            if (!entity) {
                break;
            }
            map = MapOfEntity(*doc, entity);
            dem = map ? nullptr : DemOfEntity(*doc, entity);
            if (map || dem) {
                PromptAdd(drawing, map ? map->m_name : dem->m_name);
                break;
            }
            PromptAdd(drawing, QStringLiteral("Invalid entity"));
        }
    }
    if (!map && !dem) {
        return;
    }
    dialog->Create();
    if (map) {
        doc->m_MapLayerInfo.title = map->m_name;
        doc->m_MapLayerInfo.mapType = map->m_mapType;
        dialog->SetMap(doc, map, doc->m_MapLayerInfo);
    } else {
        doc->m_MapLayerInfo.title = dem->m_name;
        doc->m_MapLayerInfo.mapType = MapTypeDem;
        dialog->SetDem(doc, dem, doc->m_MapLayerInfo);
    }
}
