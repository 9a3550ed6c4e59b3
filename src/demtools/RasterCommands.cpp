// The commands CUT and ROTATE: the layer, the outline or the three points picked in the drawing,
// the output chosen, the work shown in a progress window with Abort.
#include <QFile>
#include <QPainter>

#include <cmath>
#include <functional>
#include <memory>

#include "controls/AbortSingleProgressDlg.h"
#include "demtools/DemEditCommands.h"
#include "demtools/DemHeights.h"
#include "demtools/RasterCutRotate.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

// The outline of CUT and the points of ROTATE, read by the rubber bands.
std::vector<Wml::Point3> g_cutVertices;
std::vector<Wml::Point3> g_rotatePoints;

// The picked vertices, the cursor and back to the first vertex.
void DrawPicked(const std::vector<Wml::Point3>& picked, double x, double y, double z) {
    if (picked.empty()) {
        return;
    }
    for (const Wml::Point3& p : picked) {
        CadDrawAddVertex(p.X(), p.Y(), p.Z());
    }
    CadDrawAddVertex(x, y, z);
    CadDrawAddVertex(picked[0].X(), picked[0].Y(), picked[0].Z());
    CadDrawPolyline(0);
}

// The raster of the layer a command works on, as it reads it. A DEM whose grid is in memory is
// read from the grid; the DEM itself is left as it is.
class LayerRaster {
public:
    LayerRaster() = default;
    explicit LayerRaster(CDEM* dem) : m_dem(dem) {}
    explicit LayerRaster(COrtho* ortho) : m_ortho(ortho) {}
    explicit LayerRaster(CMapData* map) : m_map(map) {}

    bool Chosen() const { return m_dem || m_ortho || m_map; }
    QString Name() const {
        return m_dem ? m_dem->m_name : m_ortho ? m_ortho->m_name : m_map ? m_map->m_name : QString();
    }

    RasterSource Source() {
        RasterSource source;
        if (m_dem && !m_dem->m_grid.empty()) {
            m_heights = std::make_unique<DemHeights>(*m_dem);
            source.dataset = m_heights->Dataset();
            source.heights = true;
            source.encoding = DemFileEncoding(*m_dem);
        } else if (m_dem) {
            source.dataset = m_dem->m_pDataset;
        } else if (m_ortho) {
            source.dataset = m_ortho->m_pDataset;
        } else if (m_map) {
            source.dataset = m_map->m_pDataset;
        }
        return source;
    }

private:
    CDEM* m_dem = nullptr;
    COrtho* m_ortho = nullptr;
    CMapData* m_map = nullptr;
    std::unique_ptr<DemHeights> m_heights;
};

// The layer a command works on: the only DEM (with no orthophoto) or the only orthophoto (with
// no DEM) at once, otherwise the DEM, orthophoto or (with maps) map whose image the operator picks.
// Nothing chosen when the operator ends the pick.
LayerRaster ChooseLayer(CadDrawing* drawing, CKelvaroDoc& doc, bool maps) {
    if (doc.m_DEMs.size() == 1 && doc.m_Orthos.empty()) {
        return LayerRaster(doc.m_DEMs.begin()->second);
    }
    if (doc.m_DEMs.empty() && doc.m_Orthos.size() == 1) {
        return LayerRaster(doc.m_Orthos.begin()->second);
    }
    for (;;) {
        Prompt(drawing, QStringLiteral("Select DEM or OrthoPhoto"));
        CadEntity* entity = CadCmdUserGetImagePlace(drawing, [&doc, maps](CadEntity* image) {
            return doc.m_DEMHandleNames.count(image) || doc.m_OrthoHandleNames.count(image) ||
                   (maps && doc.m_MapHandleNames.count(image));
        });
        if (!entity) {
            SetDocCommandPrompt(drawing, QString());
            return LayerRaster();
        }
        LayerRaster layer;
        if (CDEM* dem = DemOfEntity(doc, entity)) {
            layer = LayerRaster(dem);
        } else if (auto name = doc.m_OrthoHandleNames.find(entity); name != doc.m_OrthoHandleNames.end()) {
            if (auto ortho = doc.m_Orthos.find(name->second); ortho != doc.m_Orthos.end()) {
                layer = LayerRaster(ortho->second);
            }
        } else if (auto mapName = doc.m_MapHandleNames.find(entity);
                   maps && mapName != doc.m_MapHandleNames.end()) {
            if (auto map = doc.m_Maps.find(mapName->second); map != doc.m_Maps.end()) {
                layer = LayerRaster(map->second);
            }
        }
        if (layer.Chosen()) {
            CadCmdPromptAdd(drawing, (QStringLiteral(" ") + layer.Name()).toUtf8().constData());
            return layer;
        }
        CadCmdPromptAdd(drawing, " Invalid entity");
    }
}

// Shows a prompt in the command line and another text beside the cursor.
void Prompt2(CadDrawing* drawing, const char* line, const char* cursor) {
    CadCmdPrompt(drawing, line, "");
    SetDocCommandPrompt(drawing, QString::fromUtf8(cursor));
}

// Clears the picked list on every way out of a command.
class ClearOnExit {
public:
    explicit ClearOnExit(std::vector<Wml::Point3>& picked) : m_picked(picked) { m_picked.clear(); }
    ~ClearOnExit() { m_picked.clear(); }
    ClearOnExit(const ClearOnExit&) = delete;
    ClearOnExit& operator=(const ClearOnExit&) = delete;

private:
    std::vector<Wml::Point3>& m_picked;
};

// Runs a job in the abortable progress window and tells how it ended.
void RunRasterJob(CadDrawing* drawing, const QString& caption, const QString& path, QString* output,
                  const std::function<RasterJob(ProgressSink*)>& job) {
    CAbortSingleProgressDlg progress(kv::DialogParent());
    progress.Create();
    progress.SetCaption(caption);
    progress.show();
    ZQT_PumpMessages();
    const RasterJob result = job(&progress);
    progress.hide();
    if (result == RasterJob::CannotCreate || result == RasterJob::Failed) {
        KvMessageBox(QStringLiteral("Unable to save new file!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (result == RasterJob::Done) {
        if (output) {
            *output = path;
        }
        if (QWidget* window = CadGetWindow(drawing)) {
            CadWndRedraw(window);
        }
    }
}

const QString kOutputFilter = QStringLiteral("GeoTiff file (*.tif)");

}  // namespace

// ---- Cut

void CmdCutDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawPicked(g_cutVertices, x, y, z);
}

void CutRaster(CadDrawing* drawing, const RasterSource& source, std::vector<Wml::Point3> vertices,
               QString* output) {
    if (!GDALGetDriverByName("GTiff") || !source.dataset || vertices.size() <= 2) {
        return;
    }
    const CPgon area = CutArea(source.dataset, vertices);
    if (area.GetNumContours() == 0) {
        return;
    }
    const QString path = ChooseOutputFile(kOutputFilter, QStringLiteral("tif"));
    if (path.isEmpty()) {
        return;
    }
    RunRasterJob(drawing, QStringLiteral("cutting..."), path, output,
                 [&](ProgressSink* progress) { return CutRasterToFile(source, area, path, progress); });
}

void CmdCut(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_DEMs.empty() && doc->m_Orthos.empty() && doc->m_Maps.empty()) {
        Prompt(drawing, QStringLiteral("No DEM and OrthoPhoto loaded"));
        return;
    }
    LayerRaster layer = ChooseLayer(drawing, *doc, true);
    if (!layer.Chosen()) {
        return;
    }
    ClearOnExit clear(g_cutVertices);
    ActiveCommandScope scope(drawing, CMD_CUT);
    for (bool picking = true; picking;) {
        Prompt(drawing, QStringLiteral("Select profile polyline (right click to define new one)"));
        CadEntity* entity = CadCmdUserGetEntity(drawing);
        if (!entity) {
            break;
        }
        const int count = CadEntityGetType(entity) == CAD_ENT_POLYLINE ? CadPlineGetNumVers(entity) : 0;
        if (count < 2) {
            CadCmdPromptAdd(drawing, " Invalid entity");
            continue;
        }
        for (int k = 0; k < count; ++k) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadPlineGetVer(entity, k, &x, &y, &z);
            g_cutVertices.emplace_back(x, y, z);
        }
        picking = false;
    }
    if (g_cutVertices.empty()) {
        for (;;) {
            if (g_cutVertices.empty()) {
                Prompt2(drawing, "Pick first polyline vertex",
                        "Pick first polyline vertex (right click to close command)");
            } else if (g_cutVertices.size() == 1) {
                Prompt2(drawing, "Pick second polyline vertex",
                        "Pick second polyline vertex  (right click to close command)");
            } else {
                Prompt2(drawing, "Pick next polyline vertex (right click to end)",
                        "Pick next polyline vertex (right click to end)");
            }
            const int input = CadCmdUserInput(drawing);
            if (input == CAD_INPUT_POINT) {
                double x = 0.0, y = 0.0, z = 0.0;
                CadCmdGetInputPoint(drawing, &x, &y, &z);
                g_cutVertices.emplace_back(x, y, z);
            } else if (input == CAD_INPUT_FINISH) {
                break;
            } else if (input == CAD_INPUT_CANCEL) {
                return;
            }
        }
    }
    if (g_cutVertices.size() > 1) {
        SetDocCommandPrompt(drawing, QString());
        QString output;
        CutRaster(drawing, layer.Source(), g_cutVertices, &output);
    }
}

// ---- Rotate

void CmdRotateDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawPicked(g_rotatePoints, x, y, z);
}

void RotateRaster(CadDrawing* drawing, const RasterSource& source, double angle, const Wml::Point2& base,
                  QString* output) {
    double gt[6];
    if (!source.dataset || GDALGetGeoTransform(source.dataset, gt) != CE_None) {
        return;
    }
    const QString path = ChooseOutputFile(kOutputFilter, QStringLiteral("tif"));
    if (path.isEmpty()) {
        return;
    }
    RunRasterJob(drawing, QStringLiteral("rotating..."), path, output, [&](ProgressSink* progress) {
        return RotateRasterToFile(source, angle, base, path, progress);
    });
}

void CmdRotate(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_DEMs.empty() && doc->m_Orthos.empty()) {
        Prompt(drawing, QStringLiteral("No DEM and OrthoPhoto loaded"));
        return;
    }
    LayerRaster layer = ChooseLayer(drawing, *doc, false);
    if (!layer.Chosen()) {
        return;
    }
    ClearOnExit clear(g_rotatePoints);
    ActiveCommandScope scope(drawing, CMD_ROTATE);
    static const char* const prompts[] = {"Pick base point", "Pick first rotation point",
                                          "Pick second rotation point"};
    while (g_rotatePoints.size() < 3) {
        Prompt(drawing, QString::fromLatin1(prompts[g_rotatePoints.size()]));
        const int input = CadCmdUserInput(drawing);
        if (input == CAD_INPUT_POINT) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadCmdGetInputPoint(drawing, &x, &y, &z);
            g_rotatePoints.emplace_back(x, y, z);
        } else if (input == CAD_INPUT_FINISH || input == CAD_INPUT_CANCEL) {
            return;
        }
    }
    const Wml::Point3& p0 = g_rotatePoints[0];
    const Wml::Point3& p1 = g_rotatePoints[1];
    const Wml::Point3& p2 = g_rotatePoints[2];
    const double angle =
        std::atan2(p2.Y() - p0.Y(), p2.X() - p0.X()) - std::atan2(p1.Y() - p0.Y(), p1.X() - p0.X());
    SetDocCommandPrompt(drawing, QString());
    QString output;
    RotateRaster(drawing, layer.Source(), angle, Wml::Point2(p0.X(), p0.Y()), &output);
}
