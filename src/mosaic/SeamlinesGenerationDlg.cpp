#include "mosaic/SeamlinesGenerationDlg.h"

#include <algorithm>

#include "controls/DialogUnits.h"
#include "document/KelvaroDoc.h"
#include "mosaic/SeamlineBuilders.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/LayerEntities.h"
#include "raster/Ortho.h"

namespace {

int g_startDelayMs = 1000;

// The images of the mode that are shown in the drawing, in the order of the document's table.
template <class Record>
std::vector<Record*> ShownImages(CadDrawing* drawing, const std::map<QString, Record*>& table) {
    std::vector<Record*> shown;
    for (const auto& entry : table) {
        Record* record = entry.second;
        if (record && IsLayerImageShown(drawing, record->m_imageEntity, record->m_name)) {
            shown.push_back(record);
        }
    }
    return shown;
}

// False (with the message) when a later image's pixel differs from the first one's, in width or in
// height: the working grid has square cells of the first image's width.
template <class Record>
bool SamePixelSize(const std::vector<Record*>& images) {
    for (Record* image : images) {
        if (image->m_geoTransform[1] != images.front()->m_geoTransform[1] ||
            image->m_geoTransform[5] != images.front()->m_geoTransform[5]) {
            KvMessageBox(QStringLiteral("Orthophotos must have the same GSD"), MB_OK | MB_ICONINFORMATION);
            return false;
        }
    }
    return true;
}

// Erases the image's seamline polylines, empties its list and drops its rendering, which is
// clipped to them.
template <class Record>
void EraseSeamlines(Record* record) {
    for (CadEntity* polyline : record->SeamlinePolylines) {
        if (polyline) {
            CadEntityErase(polyline, 1);
        }
    }
    record->SeamlinePolylines.clear();
    record->ReleaseDisplayCache();
}

// Appends the polyline to the list of the image of the mode that is its user pointer and gives
// it that image's place id as user data.
template <class Record>
void LinkToImage(const std::map<QString, Record*>& table, void* record, CadEntity* polyline) {
    for (const auto& entry : table) {
        Record* image = entry.second;
        if (image == record) {
            CadEntityPutUserData(polyline, image->m_imageEntity ? CadEntityGetID(image->m_imageEntity) : 0);
            image->SeamlinePolylines.push_back(polyline);
            return;
        }
    }
}

}  // namespace

void SetSeamlinesGenerationDelay(int milliseconds) {
    g_startDelayMs = std::max(0, milliseconds);
}

CSeamlinesGenerationDlg::CSeamlinesGenerationDlg(CKelvaroDoc* doc, int mode, QWidget* parent)
    : CTimedWorkDlg(parent), m_pDoc(doc), m_nMode(mode), m_ProgressCtrl(this) {
    setWindowTitle(QStringLiteral("Seamlines Generation"));
    setFixedSize(kv::DluSize(this, 309, 28));
    m_ProgressCtrl.setGeometry(kv::DluRect(this, 7, 7, 240, 14));
    m_btnAbort.setGeometry(kv::DluRect(this, 252, 6, 50, 16));
}

int CSeamlinesGenerationDlg::StartDelay() const {
    return g_startDelayMs;
}

bool CSeamlinesGenerationDlg::BuildSeamlines(int mode) {
    if (!m_pDoc) {
        return false;
    }
    CKelvaroDoc& doc = *m_pDoc;
    const bool dems = mode == kDems;
    if (dems ? doc.GetDEMCount() < 2 : doc.GetOrthoCount() < 2) {
        KvMessageBox(dems ? QStringLiteral("At least 2 DEMs are needed")
                          : QStringLiteral("At least 2 images are needed"),
                     MB_OK | MB_ICONINFORMATION);
        return false;
    }
    if (doc.GetPathName().isEmpty()) {
        KvMessageBox(QStringLiteral("Save the project before start seamlines process"),
                     MB_OK | MB_ICONINFORMATION);
        return false;
    }
    const char* layerName = dems ? kSeamLinesDemLayer : kSeamLinesLayer;
    CadLayer* layer = CadGetLayerByName(doc.m_pCad, layerName);
    if (layer && CadLayerGetFirstEntity(layer) &&
        KvMessageBox(QStringLiteral("Some seamlines are already present. Any previous editing will be lost.\n"
                                    "Do you want to proceed?"),
                     MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return true;
    }

    std::vector<CDEM*> demImages;
    std::vector<COrtho*> orthoImages;
    double pixelSize = 0.0;
    if (dems) {
        demImages = ShownImages(doc.m_pCad, doc.m_DEMs);
        if (!demImages.empty() && !SamePixelSize(demImages)) {
            return false;
        }
        pixelSize = demImages.empty() ? 0.0 : demImages.front()->m_geoTransform[1];
    } else {
        orthoImages = ShownImages(doc.m_pCad, doc.m_Orthos);
        if (!orthoImages.empty() && !SamePixelSize(orthoImages)) {
            return false;
        }
        pixelSize = orthoImages.empty() ? 0.0 : orthoImages.front()->m_geoTransform[1];
    }
    // Without an image shown there is nothing to partition.
    if (demImages.empty() && orthoImages.empty()) {
        KvMessageBox(QStringLiteral("Unable to build seamlines"), MB_OK | MB_ICONWARNING);
        return false;
    }

    const CCentralImagineryParams centralImagery(0, 4.0, 128.0, 0);
    m_bAbort = 0;
    CadDrawing* temporary = nullptr;
    const int result = dems ? BuildDemSeamlines(&doc, demImages, &temporary, pixelSize, centralImagery,
                                                &m_ProgressCtrl, &m_bAbort)
                            : BuildOrthoSeamlines(&doc, orthoImages, &temporary, pixelSize, centralImagery,
                                                  &m_ProgressCtrl, &m_bAbort);
    m_btnAbort.setEnabled(false);
    if (result != 0 || m_bAbort || !temporary) {
        if (temporary) {
            CadDelete(temporary);
        }
        KvMessageBox(result == 0 && m_bAbort ? QStringLiteral("Process aborted by user")
                                             : QStringLiteral("Unable to build seamlines"),
                     MB_OK | MB_ICONWARNING);
        return false;
    }
    MoveOntoLayer(temporary, layerName);
    return true;
}

void CSeamlinesGenerationDlg::MoveOntoLayer(CadDrawing* temporary, const char* layerName) {
    CKelvaroDoc& doc = *m_pDoc;
    CadDrawing* drawing = doc.m_pCad;
    const bool dems = m_nMode == kDems;
    if (dems) {
        for (const auto& entry : doc.m_DEMs) {
            EraseSeamlines(entry.second);
        }
        // The edit rounds name the polylines just erased: they let them go, and the purge takes
        // them away.
        doc.ClearDemSeamlineRounds();
    } else {
        for (const auto& entry : doc.m_Orthos) {
            EraseSeamlines(entry.second);
        }
        doc.ClearSeamlineRounds();
    }
    CadPurge(drawing, CAD_PURGE_ALL);
    CadLayer* layer = GetSeamlineLayer(drawing, layerName);
    const int layerId = layer ? CadLayerGetID(layer) : 0;
    if (layer) {
        CadLayerPutLock(layer, 1);
    }

    m_ProgressCtrl.SetRange16(0, std::min(CadCountEntities(temporary), 0xFFFF));
    m_ProgressCtrl.RestartClock();
    m_ProgressCtrl.SetPos(0);
    int index = 0;
    for (CadEntity* source = CadGetFirstEntity(temporary); source;
         source = CadGetNextEntity(temporary, source)) {
        m_ProgressCtrl.SetPos(++index);
        const int count = CadPlineGetNumVers(source);
        if (count <= 2) {
            continue;
        }
        CadClearVertices();
        for (int i = 0; i < count; ++i) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadPlineGetVer(source, i, &x, &y, &z);
            CadAddVertex(x, y, z);
        }
        CadEntity* polyline = CadAddPolyline(drawing, 0, 1);
        if (!polyline) {
            continue;
        }
        CadEntityPutLayerID(polyline, layerId);
        void* record = CadEntityGetUserPtr(source);
        CadEntityPutUserPtr(polyline, record);
        if (dems) {
            LinkToImage(doc.m_DEMs, record, polyline);
        } else {
            LinkToImage(doc.m_Orthos, record, polyline);
        }
    }
    CadDelete(temporary);
    m_ProgressCtrl.SetPos(0);
    CadPutReadOnly(drawing, 0);
    CadRegen(drawing);
}
