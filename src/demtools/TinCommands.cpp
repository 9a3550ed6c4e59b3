#include "demtools/TinCommands.h"

#include <QString>

#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <cmath>
#include <vector>

#include "controls/InputValueDlg.h"
#include "controls/SingleProgressDlg.h"
#include "demtools/DemEditCommands.h"
#include "demtools/Tin.h"
#include "demtools/TinRaster.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

// The area each command is collecting, read by its rubber band.
std::vector<Wml::Point3> g_demFromTinArea, g_editDemFromTinArea;

// Asks for one area of three or more vertices; an area finished with one or two starts again.
// False when the command is to end: no entity in the drawing ("No entity found!"), an area
// finished without a vertex, or cancel.
bool AskTinArea(CadDrawing* drawing, std::vector<Wml::Point3>& area) {
    for (;;) {
        area.clear();
        if (!CadGetFirstEntity(drawing)) {
            KvMessageBox(QStringLiteral("No entity found!"), MB_OK | MB_ICONINFORMATION);
            return false;
        }
        if (DrawNewArea(drawing, kPickAreaPrompts, area) != AreaResult::Area) {
            area.clear();
            return false;
        }
        if (area.size() >= 3) {
            return true;
        }
    }
}

// A taken area as a temporary polygon in the drawing, with the entities inside it or crossing it
// selected (the polygon itself not). The polygon is erased once the TIN is built, or when the
// command ends before that.
class AreaSelection {
public:
    AreaSelection(CadDrawing* drawing, std::vector<Wml::Point3>& area) : m_drawing(drawing) {
        CadClearVertices();
        for (const Wml::Point3& p : area) {
            CadAddVertex(p.X(), p.Y(), p.Z());
        }
        area.clear();
        m_polygon = CadAddPolygon(drawing, 7, 0);
        CadSelectClear(drawing);
        if (m_polygon) {
            CadSelectByPolygon(drawing, m_polygon, 1, 1);
            CadSelectEntity(m_polygon, 0);
        }
    }
    ~AreaSelection() { Erase(); }
    AreaSelection(const AreaSelection&) = delete;
    AreaSelection& operator=(const AreaSelection&) = delete;

    void Erase() {
        if (m_polygon) {
            CadEntityErase(m_polygon, 1);
            m_polygon = nullptr;
            CadWndRedraw(CadGetWindow(m_drawing));
        }
    }

private:
    CadDrawing* m_drawing;
    CadEntity* m_polygon = nullptr;
};

// The TIN of the area's selection, with the caption and the bar on the progress window; the
// area's polygon is erased once it is built. Null after "Failed to create TIN".
vtkSmartPointer<vtkPolyData> BuildTin(CadDrawing* drawing, AreaSelection& selection,
                                      KvProgressDialog& progress, const QString& caption, double centre[3]) {
    progress.SetCaption(caption);
    progress.show();
    vtkNew<vtkListener> listener;
    listener->m_progress = &progress;
    vtkSmartPointer<vtkPolyData> tin = CreateTinFromSelection(drawing, centre, listener);
    selection.Erase();
    if (!tin) {
        progress.hide();
        KvMessageBox(QStringLiteral("Failed to create TIN"), MB_OK | MB_ICONERROR);
    }
    return tin;
}

// The cell size the operator types; asked again after "Invalid GSD!" while it is not a number
// above 0. 0 when cancelled.
double AskGsd() {
    for (;;) {
        CInputValueDlg input(QString(), kv::DialogParent());
        input.m_strCaption = QStringLiteral("Insert DEM GSD");
        if (input.DoModal() != IDOK) {
            return 0.0;
        }
        double gsd = -1.0;
        if (ZQT_StringToDouble(input.GetValue(), &gsd) && std::isfinite(gsd) && gsd > 0.0) {
            return gsd;
        }
        KvMessageBox(QStringLiteral("Invalid GSD!"), MB_OK | MB_ICONWARNING);
    }
}

}  // namespace

void CmdDemFromTin(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    ActiveCadCommandId = CMD_DEMFROMTIN;
    RunIdle();
    CommandEnd end(drawing, &g_demFromTinArea);
    CSingleProgressDlg progress(kv::DialogParent());
    progress.Create();
    if (!AskTinArea(drawing, g_demFromTinArea)) {
        return;
    }
    AreaSelection selection(drawing, g_demFromTinArea);
    Prompt(drawing, QString());
    const QString path = ChooseOutputFile(QStringLiteral("GeoTiff (*.gtif)"), QStringLiteral("gtif"));
    if (path.isEmpty()) {
        return;
    }
    const double gsd = AskGsd();
    if (gsd <= 0.0) {
        return;
    }

    double centre[3] = {0.0, 0.0, 0.0};
    vtkSmartPointer<vtkPolyData> tin =
        BuildTin(drawing, selection, progress, QStringLiteral("Generating DEM from TIN (step 1/3)"), centre);
    if (!tin) {
        return;
    }
    progress.SetCaption(QStringLiteral("Generating DEM from TIN (step 2/3)"));
    double bounds[6];
    tin->GetBounds(bounds);
    cv::Mat raster = RasterizeTin(tin, bounds, gsd, &progress);
    tin = nullptr;
    if (raster.empty()) {
        progress.hide();
        KvMessageBox(QStringLiteral("Unable to create DEM"), MB_OK | MB_ICONERROR);
        return;
    }
    progress.SetCaption(QStringLiteral("Generating DEM from TIN (step 3/3)"));
    const double geoTransform[6] = {centre[0] + bounds[0], gsd, 0.0, centre[1] + bounds[3], 0.0, -gsd};
    const bool saved = SaveImageAsGeoTiff(raster, geoTransform, QString(), kNoData, path, &progress);
    raster.release();
    progress.hide();
    if (!saved) {
        KvMessageBox(QStringLiteral("Unable to save DEM"), MB_OK | MB_ICONERROR);
        return;
    }
    doc->AddDEM(path, 1);
}

void CmdEditDemFromTin(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_DEMs.empty()) {
        KvMessageBox(QStringLiteral("No DEM loaded"), MB_OK | MB_ICONWARNING);
        CadCmdPrompt(drawing, "No DEM loaded", "");
        return;
    }
    ActiveCadCommandId = CMD_EDITDEMFROMTIN;
    RunIdle();
    CommandEnd end(drawing, &g_editDemFromTinArea);
    const CDEM* picked = PickDem(drawing, *doc, true);
    if (!picked) {
        return;
    }
    if (picked->m_modified) {
        KvMessageBox(QStringLiteral("DEM has been edited, save project before proceeding"),
                     MB_OK | MB_ICONWARNING);
        return;
    }
    const uint64_t serial = picked->m_serial;
    CSingleProgressDlg progress(kv::DialogParent());
    progress.Create();
    while (AskTinArea(drawing, g_editDemFromTinArea)) {
        AreaSelection selection(drawing, g_editDemFromTinArea);
        // The DEM may have left the project while the area was drawn.
        CDEM* dem = DemBySerial(*doc, serial);
        if (!dem) {
            break;
        }
        double centre[3] = {0.0, 0.0, 0.0};
        vtkSmartPointer<vtkPolyData> tin =
            BuildTin(drawing, selection, progress, QStringLiteral("Analyzing TIN..."), centre);
        if (!tin) {
            break;
        }
        const int loaded = PrepareDemGrid(*dem, &progress);
        progress.SetCaption(QStringLiteral("Editing DEM..."));
        DemUndoRound round;
        const int edited =
            loaded && EditDemFromTin(*dem, tin, centre, &progress, UndoRecorder(doc, progress, round));
        progress.hide();
        if (!edited) {
            KvMessageBox(QStringLiteral("Error editing the DEM"), MB_OK);
            break;
        }
        PushEditRound(doc, round);
        CadWndRedraw(CadGetWindow(drawing));
    }
    CadSelectClear(drawing);
}

void CmdDemFromTinDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawArea(g_demFromTinArea, x, y, z);
}

void CmdEditDemFromTinDraw(CadDrawing*, QPainter*, double x, double y, double z) {
    DrawArea(g_editDemFromTinArea, x, y, z);
}
