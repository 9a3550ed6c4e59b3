// The project's ribbon commands that hand the operator to the CAD engine (drawing, dimensions,
// blocks, measurements, styles, layers, object snaps), the "Data" command that adds a map, the
// sheet layout (run by the procedure the layout tools hand in), and the colour legend that the plan view
// draws for the DEM or map on top.
#include <QFileInfo>
#include <QWidget>

#include <algorithm>
#include <cmath>

#include "document/CadCalls.h"
#include "document/DocView.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/DataDetailsDlg.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

// Size of the colour legend image, and the margin around its colour bar.
constexpr int kLegendWidth = 42;
constexpr int kLegendHeight = 266;
constexpr int kLegendMargin = 5;

}  // namespace

void CKelvaroDoc::RunEngineCommand(int engineCommand, DrawCommandKind kind) {
    if ((kind == Draw || kind == Measure) && ActiveCadCommandId != 0) {
        KvMessageBox(QStringLiteral("Close active command before"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    QWidget* window = CadGetWindow(m_pCad);
    switch (kind) {
        case Measure:
            kv::DocExecute(m_pCad, window, CAD_CMD_UNSELECT_ALL);
            [[fallthrough]];
        case Draw:
        case Finish:
            kv::DocCmdFinish(m_pCad);
            kv::DocExecute(m_pCad, window, engineCommand);
            break;
        case Plain:
            kv::DocExecute(m_pCad, window, engineCommand);
            break;
        case ViewWin:
            kv::DocExecute(m_pCad, GetFirstView() ? window : nullptr, engineCommand);
            break;
        case Order:
            kv::DocExecute(m_pCad, window, engineCommand);
            PlaceLayersOrderWindow();
            break;
    }
}

#define KV_DEFINE_DRAW_COMMAND(ribbonId, handler, engineCommand, kind) \
    void CKelvaroDoc::handler() {                                      \
        RunEngineCommand(engineCommand, kind);                         \
    }
KV_DOC_DRAW_COMMANDS(KV_DEFINE_DRAW_COMMAND)
#undef KV_DEFINE_DRAW_COMMAND

void CKelvaroDoc::ToggleSnap(int bit) {
    CadSnapPutMode(m_pCad, CadSnapGetMode(m_pCad) ^ bit);
    CadSnapPutOn(m_pCad, 1);
}

#define KV_DEFINE_SNAP(ribbonId, handler, updateHandler, bit) \
    void CKelvaroDoc::handler() {                             \
        ToggleSnap(bit);                                      \
    }                                                         \
    void CKelvaroDoc::updateHandler(kv::CommandUI& ui) {      \
        ui.checked = (CadSnapGetMode(m_pCad) & (bit)) != 0;   \
    }
KV_DOC_SNAP_BUTTONS(KV_DEFINE_SNAP)
#undef KV_DEFINE_SNAP

bool CKelvaroDoc::OnDrawingCommand(int id) {
    switch (id) {
#define KV_DRAW_CASE(ribbonId, handler, engineCommand, kind) \
    case ribbonId:                                           \
        handler();                                           \
        return true;
        KV_DOC_DRAW_COMMANDS(KV_DRAW_CASE)
#undef KV_DRAW_CASE
#define KV_SNAP_CASE(ribbonId, handler, updateHandler, bit) \
    case ribbonId:                                          \
        handler();                                          \
        return true;
        KV_DOC_SNAP_BUTTONS(KV_SNAP_CASE)
#undef KV_SNAP_CASE
#define KV_NOTHING_CASE(ribbonId) case ribbonId:
        KV_DOC_NOTHING_COMMANDS(KV_NOTHING_CASE)
#undef KV_NOTHING_CASE
        OnNothing();
        return true;
        case ID_BUTTON_INSERTDEM:
            OnButtonInsertdem();
            return true;
        case ID_BUTTON_INSERTORTHO:
            OnButtonInsertortho();
            return true;
        case ID_BUTTON_ORTHOVISIBLE:
            OnButtonOrthovisible();
            return true;
        case ID_SLIDER_ORTHOOPACITY:
            OnSliderOrthoopacity();
            return true;
        case ID_ADD_ADDDATA:
            OnAddAdddata();
            return true;
        case ID_DRAW_SHEETLAYOUT:
            OnDrawSheetlayout();
            return true;
        default:
            return false;
    }
}

bool CKelvaroDoc::OnUpdateDrawingCommand(kv::CommandUI& ui) {
    switch (ui.id) {
#define KV_SNAP_UPDATE_CASE(ribbonId, handler, updateHandler, bit) \
    case ribbonId:                                                 \
        updateHandler(ui);                                         \
        return true;
        KV_DOC_SNAP_BUTTONS(KV_SNAP_UPDATE_CASE)
#undef KV_SNAP_UPDATE_CASE
        case ID_BUTTON_ORTHOVISIBLE:
            OnUpdateButtonOrthovisible(ui);
            return true;
        case ID_SLIDER_ORTHOOPACITY:
            OnUpdateSliderOrthoopacity(ui);
            return true;
#define KV_DRAW_UPDATE_CASE(ribbonId, handler, engineCommand, kind) case ribbonId:
            KV_DOC_DRAW_COMMANDS(KV_DRAW_UPDATE_CASE)
#undef KV_DRAW_UPDATE_CASE
#define KV_NOTHING_UPDATE_CASE(ribbonId) case ribbonId:
            KV_DOC_NOTHING_COMMANDS(KV_NOTHING_UPDATE_CASE)
#undef KV_NOTHING_UPDATE_CASE
        case ID_BUTTON_INSERTDEM:
        case ID_BUTTON_INSERTORTHO:
        case ID_ADD_ADDDATA:
            return true;
        case ID_DRAW_SHEETLAYOUT:
            ui.enabled = GetDocumentProcedures().Find(ID_DRAW_SHEETLAYOUT) != nullptr;
            return true;
        default:
            return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Data

void CKelvaroDoc::OnAddAdddata() {
    QWidget* window = CadGetWindow(m_pCad);
    kv::DocExecute(m_pCad, window, CAD_CMD_UNSELECT_ALL);
    kv::DocCmdFinish(m_pCad);
    QWidget* owner = GetFirstView() ? GetFirstView()->GetParentFrame() : nullptr;
    CDataDetailsDlg dialog(owner);
    if (dialog.DoModal() != IDOK) {
        return;
    }
    const QString path = kv::GetInteraction().ChooseOpenFile(
        QStringLiteral("Open"), QString(),
        QStringLiteral(
            "Data (*.gtif *.tif *.img);;GeoTiff Data (*.gtif);;GeoTiff Data (*.tif);;IMG Data (*.img)"));
    if (path.isEmpty()) {
        return;
    }
    const QString title = QFileInfo(path).completeBaseName();
    if (m_Maps.count(title)) {
        KvMessageBox(QStringLiteral("A Map with this name is already loaded!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    // A fresh record: what an earlier map left in it (its palette, range or opacity) must not
    // carry over; a new map is shown fully opaque.
    m_MapLayerInfo = MapLayerInfo();
    m_MapLayerInfo.kindCode = 1;
    m_MapLayerInfo.kindCode2 = 2;
    m_MapLayerInfo.title = title;
    m_MapLayerInfo.mapType = dialog.GetMapType();
    m_MapLayerInfo.path = path;
    m_MapLayerInfo.visible = 1;
    m_MapLayerInfo.opacity = 100;
    std::fill(std::begin(m_MapLayerInfo.viewRect), std::end(m_MapLayerInfo.viewRect), 0.0);
    m_MapLayerInfo.rangeMin = -9999.0;
    m_MapLayerInfo.rangeMax = -9999.0;
    m_MapLayerInfo.noRepaint = 0;
    AddMap(m_MapLayerInfo, 1);
    UpdateColorLegend(m_MapLayerInfo);
    if (GetDEMCount() + GetOrthoCount() + GetMapCount() > 1) {
        if (!CadLayersOrderWindow()) {
            kv::DocExecute(m_pCad, window, CAD_CMD_LAYERS_ORDER);
        }
        PlaceLayersOrderWindow();
    }
}

// ---------------------------------------------------------------------------------------------
// Sheet layout

void CKelvaroDoc::OnDrawSheetlayout() {
    RunDocumentProcedure(ID_DRAW_SHEETLAYOUT, false);
}

// ---------------------------------------------------------------------------------------------
// Colour legend

void CKelvaroDoc::UpdateColorLegend(const MapLayerInfo& info) {
    if (info.mapType != MapTypeDem && info.mapType != MapTypeNDVI && info.mapType != MapTypeOther) {
        return;
    }
    m_ColorLegend.release();
    m_dLegendMin = 0.0;
    m_dLegendMax = 0.0;
    const CAGColors* palette = nullptr;
    if (info.mapType == MapTypeDem) {
        auto dem = m_DEMs.find(info.title);
        if (dem != m_DEMs.end()) {
            m_dLegendMin = dem->second->m_colorRangeMin;
            m_dLegendMax = dem->second->m_colorRangeMax;
            palette = &dem->second->m_colors;
        }
    }
    auto map = m_Maps.find(info.title);
    if (map != m_Maps.end()) {
        CMapData* layer = map->second;
        m_dLegendMin = layer->m_pRangeMin ? *layer->m_pRangeMin : 0.0;
        m_dLegendMax = layer->m_pRangeMax ? *layer->m_pRangeMax : 0.0;
        palette = &layer->m_colors;
    }
    if (!palette) {
        return;
    }
    cv::Mat legend(kLegendHeight, kLegendWidth, CV_8UC3, cv::Scalar::all(0));
    const int n = palette->Get_Count();
    for (int r = kLegendMargin; r <= kLegendHeight - 1 - kLegendMargin; ++r) {
        cv::Vec3b pixel(0, 0, 0);
        if (n > 0) {
            int index = n - static_cast<int>((r + 5) / static_cast<double>(kLegendHeight - 1) * (n - 1)) - 1;
            index = std::clamp(index, 0, n - 1);
            const long colour = palette->Get_Color(index);
            pixel = cv::Vec3b(static_cast<uchar>((colour >> 16) & 0xFF),
                              static_cast<uchar>((colour >> 8) & 0xFF), static_cast<uchar>(colour & 0xFF));
        }
        for (int c = kLegendMargin; c <= kLegendWidth - 1 - kLegendMargin; ++c) {
            legend.at<cv::Vec3b>(r, c) = pixel;
        }
    }
    m_ColorLegend = legend;
    if (info.noRepaint == 0) {
        if (QWidget* window = CadGetWindow(m_pCad)) {
            CadWinPaint(window);
        }
    }
}
