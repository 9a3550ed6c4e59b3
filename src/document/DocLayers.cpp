// The raster layers of a project: how a DEM, an orthophoto or a map enters the project (checked,
// offered overview levels, placed in the drawing on a CAD layer of its own, registered in the
// three tables of its kind) and how it leaves it again; the ribbon commands that add layers and
// act on the orthophotos.
#include <QFile>
#include <QFileInfo>
#include <QRect>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <limits>

#include <gdal.h>

#include "controls/SingleProgressDlg.h"
#include "document/CadCalls.h"
#include "document/DocView.h"
#include "document/KelvaroDoc.h"
#include "document/MapToolWindows.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"

namespace {

// Image-definition ids: each kind counts up from the start of its range.
constexpr int kDemIdBase = 1000;
constexpr int kOrthoIdBase = 2000;
constexpr int kMapIdBase = 4000;

// The largest number of characters the file chooser hands back for one selection.
constexpr int kFileSelectionLimit = 64000;

const char* const kLayerWindowSection = "LayerWindow";

int NextImageId(const std::map<int, QString>& ids, int base) {
    int largest = base - 1;
    if (!ids.empty()) {
        largest = std::max(largest, ids.rbegin()->first);
    }
    return largest + 1;
}

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
}

void Warn(int showMessages, const QString& text) {
    if (showMessages) {
        KvMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    }
}

void Warn(int showMessages, const char* text) {
    Warn(showMessages, QString::fromLatin1(text));
}

// The layer name of a DEM or orthophoto file: its file name, lower-cased, so that files whose
// names differ only in case are one layer.
QString LayerNameOf(const QString& path) {
    return QFileInfo(path).fileName().toLower();
}

bool IsLoadableMapType(int type) {
    return type == MapTypeNDVI || type == MapTypeSAVI ||
           (type >= MapTypeTemperature && type <= MapTypeEnergy);
}

// The size of a preview of the whole raster of at most 512 x 512 cells' worth.
cv::Size PreviewSize(int width, int height) {
    double cells = static_cast<double>(width) * height;
    double scale = std::sqrt(std::min(cells, 262144.0) / cells);
    return cv::Size(std::max(1, static_cast<int>(std::rint(width * scale))),
                    std::max(1, static_cast<int>(std::rint(height * scale))));
}

// Adds the image place of a raster at its lower-left corner, on the layer.
CadEntity* AddImagePlace(CadDrawing* drawing, CadLayer* layer, int id, int width, int height,
                         const double* gt) {
    CadEntity* image =
        CadAddImagePlace(drawing, id, width, height, gt[0], gt[3] + height * gt[5], 0.0, 1.0 / gt[1]);
    if (image && layer) {
        CadEntityPutLayerID(image, CadLayerGetID(layer));
    }
    return image;
}

// Ties the linked polylines to their layer and its image place; empty entries leave the list.
template <typename Layer>
void TieLinkedEntities(Layer* layer) {
    CadEntityList& list = layer->SeamlinePolylines;
    const int imageId = layer->m_imageEntity ? CadEntityGetID(layer->m_imageEntity) : 0;
    for (int i = static_cast<int>(list.size()) - 1; i >= 0; --i) {
        if (!list[i]) {
            list.erase(list.begin() + i);
            continue;
        }
        CadEntityPutUserPtr(list[i], layer);
        CadEntityPutUserData(list[i], imageId);
    }
}

// Polylines that stay in the drawing after their layer left it must not point at it any more.
void UntieEntities(const CadEntityList& list, const void* layer) {
    for (CadEntity* entity : list) {
        if (entity && CadEntityGetUserPtr(entity) == layer) {
            CadEntityPutUserPtr(entity, nullptr);
        }
    }
}

DemRemovalListener g_demRemovalListener = nullptr;

// Whether a round of the DEM seamline stack touched the DEM.
bool NamedByRound(const std::vector<UndoRoundData*>& rounds, const CDEM* dem) {
    return std::any_of(rounds.begin(), rounds.end(), [dem](const UndoRoundData* round) {
        return std::find(round->dems.begin(), round->dems.end(), dem) != round->dems.end();
    });
}

void UntieLayer(CDEM* dem) {
    UntieEntities(dem->SeamlinePolylines, dem);
    if (g_demRemovalListener) {
        g_demRemovalListener(dem);
    }
}

void UntieLayer(COrtho* ortho) {
    UntieEntities(ortho->SeamlinePolylines, ortho);
}

void UntieLayer(CMapData* map) {
    UntieEntities(map->m_linkedEntities, map);
}

// Takes the layer of that name out of its three tables and deletes it: the tables no longer
// name it when its image places are erased, so the erase event finds nothing more to remove.
// The name is taken by value: callers pass the key of the very table entry that is erased here.
template <typename Layer>
void RemoveLayer(const QString name, std::map<QString, Layer*>& layers, std::map<int, QString>& ids,
                 std::map<CadEntity*, QString>& handles) {
    auto found = layers.find(name);
    if (found == layers.end()) {
        return;
    }
    Layer* layer = found->second;
    layers.erase(found);
    for (auto it = ids.begin(); it != ids.end();) {
        it = it->second == name ? ids.erase(it) : std::next(it);
    }
    for (auto it = handles.begin(); it != handles.end();) {
        it = it->second == name ? handles.erase(it) : std::next(it);
    }
    UntieLayer(layer);
    delete layer;
}

template <typename Layer>
void RemoveAllLayers(std::map<QString, Layer*>& layers, std::map<int, QString>& ids,
                     std::map<CadEntity*, QString>& handles) {
    while (!layers.empty()) {
        // A copy: the table's own key goes with the entry that RemoveLayer erases.
        const QString name = layers.begin()->first;
        RemoveLayer(name, layers, ids, handles);
    }
    ids.clear();
    handles.clear();
}

// The modeless map dialogs let go of a layer that leaves the project, before it is deleted.
void ForgetInDialogs(const CKelvaroDoc& doc, const void* layer) {
    if (doc.m_pColorClassificationDlg) {
        doc.m_pColorClassificationDlg->ForgetLayer(layer);
    }
    if (doc.m_pMapRepresentationDlg) {
        doc.m_pMapRepresentationDlg->ForgetLayer(layer);
    }
}

template <typename Layer>
void ForgetAllInDialogs(const CKelvaroDoc& doc, const std::map<QString, Layer*>& layers) {
    for (const auto& entry : layers) {
        ForgetInDialogs(doc, entry.second);
    }
}

// Whether the window's place kept in the profile is complete; a missing value reads as -1.
bool StoredLayersOrderRect(QRect* rect) {
    int values[4];
    const char* keys[4] = {"top", "left", "bottom", "right"};
    for (int i = 0; i < 4; ++i) {
        char buffer[256] = {0};
        ZQT_GetUserProfileString(kLayerWindowSection, keys[i], "", buffer, sizeof(buffer));
        values[i] = buffer[0] ? std::atoi(buffer) : -1;
        if (values[i] < 0) {
            return false;
        }
    }
    rect->setCoords(values[1], values[0], values[3], values[2]);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Shared steps

void SetDemRemovalListener(DemRemovalListener listener) {
    g_demRemovalListener = listener;
}

void SetCadLayerOrder(CadDrawing* drawing, CadLayer* layer) {
    if (!drawing || !layer) {
        return;
    }
    int level = CadCountLayers(drawing) * 10;
    for (CadLayer* l = CadGetFirstLayer(drawing); l; l = CadGetNextLayer(drawing, l)) {
        CadLayerPutLevel(l, level);
        level -= 10;
    }
    CadLayerPutLevel(layer, 1);
    CadSortLayers(drawing);
}

bool CKelvaroDoc::CheckAndOfferOverviews(GDALDatasetH& dataset, const QString& path, const QString& caption,
                                         bool intoFile, QString* cause) {
    if (!kv::CheckRasterReadable(dataset, cause)) {
        return false;
    }
    const int width = GDALGetRasterXSize(dataset);
    const int height = GDALGetRasterYSize(dataset);
    GDALRasterBandH band = GDALGetRasterBand(dataset, 1);
    if (kv::OverviewLevelCount(width, height) <= 0 || !band || GDALGetOverviewCount(band) > 0) {
        return true;
    }
    if (KvMessageBox(QStringLiteral("Pyramidal levels not found, generate now?"),
                     MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return true;
    }
    kv::BusyScope busy;
    CSingleProgressDlg progress;
    progress.Create();
    progress.SetCaption(caption);
    progress.SetRange(0, 100);
    progress.SetPos(0);
    progress.show();
    ZQT_PumpMessages();

    // Nothing is written into or beside a file whose blocks cannot all be read. The build reads
    // every block anyway; reading them first leaves the file as it was when one fails, and hands
    // the build blocks the system has just read.
    CGDALListener listener(&progress);
    if (!kv::ReadEveryBlock(dataset, &listener, cause)) {
        progress.hide();
        return false;
    }

    // Overviews of a very large raster go to a side file: writing them into a file open for
    // update would rewrite it. Layers are viewed through read-only datasets; the file is opened
    // for update only for the build.
    const double bits = GDALGetDataTypeSizeBits(GDALGetRasterDataType(band));
    const bool big = width / 1024.0 * (height / 1024.0) * bits * 0.125 * 1.5 >= 4096.0;
    const QByteArray native = NativePath(path);
    if (intoFile && !big) {
        if (GDALDatasetH writable = GDALOpen(native.constData(), GA_Update)) {
            GDALClose(dataset);
            dataset = writable;
        }
    }
    kv::BuildOverviews(dataset, &listener);
    progress.hide();
    GDALClose(dataset);
    dataset = GDALOpen(native.constData(), GA_ReadOnly);
    return true;
}

CadLayer* CKelvaroDoc::RasterCadLayer(const QString& name) {
    const QByteArray utf8 = name.toUtf8();
    CadLayer* layer = CadGetLayerByName(m_pCad, utf8.constData());
    if (!layer) {
        layer = CadAddLayer(m_pCad, utf8.constData(), CAD_COLOR_FOREGROUND, CAD_LTYPE_CONTINUOUS,
                            CAD_LWEIGHT_DEFAULT);
        SetCadLayerOrder(m_pCad, CadGetLayerByName(m_pCad, "0"));
    }
    if (layer) {
        CadLayerPutDeleted(layer, 0);
    }
    return layer;
}

void CKelvaroDoc::UpdateDEMRange() {
    if (m_DEMs.empty()) {
        return;
    }
    double low = std::numeric_limits<double>::max();
    double high = std::numeric_limits<double>::lowest();
    for (const auto& entry : m_DEMs) {
        low = std::min(low, entry.second->m_colorRangeMin);
        high = std::max(high, entry.second->m_colorRangeMax);
    }
    m_dDEMRangeMin = m_dDEMRangeMinWork = low;
    m_dDEMRangeMax = m_dDEMRangeMaxWork = high;
}

// ---------------------------------------------------------------------------------------------
// DEMs

int CKelvaroDoc::AddDEM(const QString& path, int showMessages) {
    auto* dem = new CDEM(this);
    dem->m_path = path;
    if (!LoadDEM(dem, showMessages, 1, 1, 1)) {
        delete dem;
        return 0;
    }
    return 1;
}

int CKelvaroDoc::LoadDEM(CDEM* dem, int showMessages, int computeRange, int regenerate, int zoomExtents) {
    if (!dem) {
        return 0;
    }
    const QString name = LayerNameOf(dem->m_path);
    if (m_DEMs.count(name)) {
        Warn(showMessages, "A DEM with this name is already loaded!");
        return 0;
    }
    if (!dem->m_pDataset) {
        GDALDatasetH ds = GDALOpen(NativePath(dem->m_path).constData(), GA_ReadOnly);
        if (!ds) {
            Warn(showMessages, "Unable to open selected file!");
            return 0;
        }
        if (!CDEM::IsValidDemDataset(ds)) {
            GDALClose(ds);
            Warn(showMessages, "Invalid DEM file!");
            return 0;
        }
        GDALGetGeoTransform(ds, dem->m_geoTransform);
        const char* wkt = GDALGetProjectionRef(ds);
        dem->m_projection = wkt ? QString::fromUtf8(wkt) : QString();
        dem->m_pDataset = ds;
    }
    QString cause;
    if (!CheckAndOfferOverviews(dem->m_pDataset, dem->m_path, QStringLiteral("Generating pyramidal levels"),
                                true, &cause)) {
        Warn(showMessages, kv::UnreadableRasterText(dem->m_path, cause));
        return 0;
    }
    if (!dem->m_pDataset) {
        Warn(showMessages, "Unable to open selected file!");
        return 0;
    }
    const int width = dem->Width();
    const int height = dem->Height();
    // The preview is read before the layer enters the drawing: a DEM whose cells cannot be read
    // leaves nothing behind.
    cv::Mat preview;
    if (computeRange) {
        preview = kv::ReadQuietly([&] { return dem->CreateRegionImage(nullptr, PreviewSize(width, height)); },
                                  &cause);
        if (preview.empty()) {
            Warn(showMessages, kv::UnreadableRasterText(dem->m_path, cause));
            return 0;
        }
    }

    const int id = NextImageId(m_DEMIdNames, kDemIdBase);
    CadLayer* layer = RasterCadLayer(name);
    CadEntity* image = AddImagePlace(m_pCad, layer, id, width, height, dem->m_geoTransform);
    if (!image) {
        return 0;
    }
    dem->m_name = name;
    dem->m_imageDefId = id;
    dem->m_imageEntity = image;
    CadImagePutFile(image, name.toUtf8().constData());

    if (computeRange) {
        dem->m_minElevation = std::numeric_limits<double>::max();
        dem->m_maxElevation = std::numeric_limits<double>::lowest();
        for (int r = 0; r < preview.rows; ++r) {
            const float* p = preview.ptr<float>(r);
            for (int c = 0; c < preview.cols; ++c) {
                if (!IsNoData(p[c])) {
                    dem->m_minElevation = std::min<double>(dem->m_minElevation, p[c]);
                    dem->m_maxElevation = std::max<double>(dem->m_maxElevation, p[c]);
                }
            }
        }
        if (dem->m_colorRangeMin == -9999.0 || dem->m_colorRangeMax == 9999.0) {
            dem->m_colorRangeMin = dem->m_minElevation;
            dem->m_colorRangeMax = dem->m_maxElevation;
            dem->m_colors.m_bInvert = false;
            dem->m_colors.Set_Palette(0, false, 100);
        }
    }

    m_DEMs[name] = dem;
    m_DEMIdNames[id] = name;
    m_DEMHandleNames[image] = name;
    TieLinkedEntities(dem);
    UpdateDEMRange();
    if (regenerate) {
        CadRegen(m_pCad);
        if (zoomExtents) {
            kv::DocExecute(m_pCad, CadGetWindow(m_pCad), CAD_CMD_ZOOM_EXTENTS);
        }
    }
    return 1;
}

void CKelvaroDoc::RemoveDEM(const QString& name) {
    // The object-elevation inputs must not keep naming a DEM that is gone.
    auto found = m_DEMs.find(name);
    if (found != m_DEMs.end()) {
        if (m_ObjectElevationSetup.elevationDEM == found->second) {
            m_ObjectElevationSetup.elevationDEM = nullptr;
        }
        if (m_ObjectElevationSetup.targetDEM == found->second) {
            m_ObjectElevationSetup.targetDEM = nullptr;
        }
        ForgetInDialogs(*this, found->second);
        // Rounds that name it could not be undone; a DEM no round touched (a temporary of the
        // merge) leaves the operator's seamline history alone.
        if (NamedByRound(m_DemSeamlineRounds, found->second)) {
            ClearDemSeamlineRounds();
        }
    }
    RemoveLayer(name, m_DEMs, m_DEMIdNames, m_DEMHandleNames);
}

void CKelvaroDoc::RemoveAllDEMs() {
    m_ObjectElevationSetup.elevationDEM = nullptr;
    m_ObjectElevationSetup.targetDEM = nullptr;
    ForgetAllInDialogs(*this, m_DEMs);
    ClearDemSeamlineRounds();
    RemoveAllLayers(m_DEMs, m_DEMIdNames, m_DEMHandleNames);
}

// ---------------------------------------------------------------------------------------------
// Orthophotos

int CKelvaroDoc::AddOrtho(const QString& path, int showMessages, int zoomExtents) {
    auto* ortho = new COrtho(this);
    ortho->m_path = path;
    if (!LoadOrtho(ortho, showMessages, 1, zoomExtents)) {
        delete ortho;
        return 0;
    }
    return 1;
}

int CKelvaroDoc::LoadOrtho(COrtho* ortho, int showMessages, int regenerate, int zoomExtents) {
    if (!ortho) {
        return 0;
    }
    const QString name = LayerNameOf(ortho->m_path);
    if (m_Orthos.count(name)) {
        Warn(showMessages, "An Ortho with this name is already loaded!");
        return 0;
    }
    if (!ortho->m_pDataset) {
        GDALDatasetH ds = GDALOpen(NativePath(ortho->m_path).constData(), GA_ReadOnly);
        if (!ds) {
            Warn(showMessages, "Unable to open selected file!");
            return 0;
        }
        const int bands = GDALGetRasterCount(ds);
        GDALDataType type = bands >= 1 ? GDALGetRasterDataType(GDALGetRasterBand(ds, 1)) : GDT_Unknown;
        double gt[6];
        if (bands < 1 || bands > 4 || GDALGetGeoTransform(ds, gt) != CE_None ||
            (type != GDT_Byte && type != GDT_UInt16 && type != GDT_Int16)) {
            GDALClose(ds);
            Warn(showMessages, "Invalid Ortho file!");
            return 0;
        }
        std::copy(gt, gt + 6, ortho->m_geoTransform);
        ortho->m_pDataset = ds;
    }
    QString cause;
    if (!CheckAndOfferOverviews(ortho->m_pDataset, ortho->m_path,
                                QStringLiteral("Generating pyramidal levels..."), false, &cause)) {
        Warn(showMessages, kv::UnreadableRasterText(ortho->m_path, cause));
        return 0;
    }
    if (!ortho->m_pDataset) {
        Warn(showMessages, "Unable to open selected file!");
        return 0;
    }
    ortho->m_width = GDALGetRasterXSize(ortho->m_pDataset);
    ortho->m_height = GDALGetRasterYSize(ortho->m_pDataset);

    const int id = NextImageId(m_OrthoIdNames, kOrthoIdBase);
    CadLayer* layer = RasterCadLayer(name);
    CadEntity* image =
        AddImagePlace(m_pCad, layer, id, ortho->m_width, ortho->m_height, ortho->m_geoTransform);
    if (!image) {
        return 0;
    }
    ortho->m_name = name;
    ortho->m_imageDefId = id;
    ortho->m_imageEntity = image;
    CadImagePutFile(image, name.toUtf8().constData());
    CadEntityPutVisible(image, m_bOrthoVisible);

    m_Orthos[name] = ortho;
    m_OrthoIdNames[id] = name;
    m_OrthoHandleNames[image] = name;
    TieLinkedEntities(ortho);
    if (regenerate) {
        CadRegen(m_pCad);
        if (zoomExtents) {
            kv::DocExecute(m_pCad, CadGetWindow(m_pCad), CAD_CMD_ZOOM_EXTENTS);
        }
    }
    return 1;
}

void CKelvaroDoc::RemoveOrtho(const QString& name) {
    // Its seamline rounds may name it.
    if (m_Orthos.count(name)) {
        ClearSeamlineRounds();
    }
    RemoveLayer(name, m_Orthos, m_OrthoIdNames, m_OrthoHandleNames);
}

void CKelvaroDoc::RemoveAllOrthos() {
    ClearSeamlineRounds();
    RemoveAllLayers(m_Orthos, m_OrthoIdNames, m_OrthoHandleNames);
}

// ---------------------------------------------------------------------------------------------
// Maps

bool CKelvaroDoc::AddMap(MapLayerInfo info, int showMessages) {
    switch (static_cast<int>(info.mapType)) {
        case MapTypeElevation:
        case MapTypeElevation2:
            KvMessageBox(QStringLiteral("Use the Add DEM tool to import this file"),
                         MB_OK | MB_ICONINFORMATION);
            return false;
        case MapTypeOrthophoto:
            KvMessageBox(QStringLiteral("Use the Add Ortho tool to import this file"),
                         MB_OK | MB_ICONINFORMATION);
            return false;
        case 7:
        case 8:
            return false;
        default:
            break;
    }
    if (IsLoadableMapType(info.mapType) && !LoadMap(info, showMessages)) {
        return false;
    }
    CadRegen(m_pCad);
    // Producers pass an empty extent when the map's own extent is to stay in view.
    const double top = info.viewRect[0];
    const double left = info.viewRect[1];
    const double bottom = info.viewRect[2];
    const double right = info.viewRect[3];
    QWidget* window = CadGetWindow(m_pCad);
    if (window && top != bottom && left != right) {
        CadViewRect(window, left, bottom, right, top);
    }
    const QByteArray name = info.title.toUtf8();
    for (CadLayer* layer : {CadGetLayerByName(m_pCad, name.constData()), CadGetLayerByName(m_pCad, "0")}) {
        if (layer) {
            SetCadLayerOrder(m_pCad, layer);
            CadLayerPutVisible(layer, info.visible);
        }
    }
    return true;
}

CMapData* CKelvaroDoc::LoadMap(MapLayerInfo info, int showMessages) {
    if (!IsLoadableMapType(info.mapType)) {
        return nullptr;
    }
    const QString name = info.title;
    auto map = std::make_unique<CMapData>(this);
    map->m_kindCode = info.kindCode;
    map->m_path = info.path;
    map->m_name = name;
    if (m_Maps.count(name)) {
        Warn(showMessages, "A Map with this name is already loaded!");
        return nullptr;
    }
    GDALDatasetH ds = GDALOpen(NativePath(info.path).constData(), GA_ReadOnly);
    if (!ds) {
        Warn(showMessages, "Unable to open selected file!");
        return nullptr;
    }
    map->m_pDataset = ds;
    GDALRasterBandH band = GDALGetRasterCount(ds) >= 1 ? GDALGetRasterBand(ds, 1) : nullptr;
    GDALDataType type = band ? GDALGetRasterDataType(band) : GDT_Unknown;
    if (GDALGetGeoTransform(ds, map->m_geoTransform) != CE_None || type < GDT_Byte || type > GDT_Float64) {
        Warn(showMessages, "Invalid Map file!");
        return nullptr;
    }
    QString cause;
    if (!CheckAndOfferOverviews(map->m_pDataset, info.path, QStringLiteral("Generating pyramidal levels..."),
                                true, &cause)) {
        Warn(showMessages, kv::UnreadableRasterText(info.path, cause));
        return nullptr;
    }
    if (!map->m_pDataset) {
        Warn(showMessages, "Unable to open selected file!");
        return nullptr;
    }
    ds = map->m_pDataset;
    band = GDALGetRasterBand(ds, 1);
    int hasNoData = 0;
    double noData = GDALGetRasterNoDataValue(band, &hasNoData);
    if (!hasNoData) {
        noData = -9999.0;
    }
    const char* wkt = GDALGetProjectionRef(ds);
    map->m_projection = wkt ? QString::fromUtf8(wkt) : QString();

    const int width = GDALGetRasterXSize(ds);
    const int height = GDALGetRasterYSize(ds);
    double minimum = 0, maximum = 0, mean = 0, sd = 0;
    // Statistics kept with the file that are no finite numbers were taken over cells without data.
    bool known = GDALGetRasterStatistics(band, 1, 0, &minimum, &maximum, &mean, &sd) == CE_None &&
                 std::isfinite(minimum) && std::isfinite(maximum) && std::isfinite(mean) && std::isfinite(sd);
    if (!known) {
        minimum = maximum = mean = sd = std::numeric_limits<double>::max();
        const cv::Size size = PreviewSize(width, height);
        const cv::Mat preview = kv::ReadQuietly(
            [&] {
                cv::Mat cells(size, CV_64FC1);
                return GDALRasterIO(band, GF_Read, 0, 0, width, height, cells.data, size.width, size.height,
                                    GDT_Float64, 0, static_cast<int>(cells.step)) == CE_None
                           ? cells
                           : cv::Mat();
            },
            &cause);
        if (preview.empty()) {
            Warn(showMessages, kv::UnreadableRasterText(info.path, cause));
            return nullptr;
        }
        // Values that are no finite number have no data, as the no-data value has none.
        cv::Mat mask = (preview != noData) & (cv::abs(preview) <= std::numeric_limits<double>::max());
        if (cv::countNonZero(mask) > 0) {
            cv::minMaxLoc(preview, &minimum, &maximum, nullptr, nullptr, mask);
            cv::Scalar m, s;
            cv::meanStdDev(preview, m, s, mask);
            mean = std::isfinite(m[0]) ? m[0] : 0.0;
            sd = s[0];
            known = true;
        }
    }
    if (!std::isfinite(mean)) {
        mean = 0.0;
    }
    map->m_pMin = std::make_unique<double>(minimum);
    map->m_pMax = std::make_unique<double>(maximum);
    map->m_pMean = std::make_unique<double>(mean);
    map->m_pStdDev = std::make_unique<double>(sd);
    map->m_pRangeMin = std::make_unique<double>(minimum);
    map->m_pRangeMax = std::make_unique<double>(maximum);
    if (known) {
        if (info.ownPalette) {
            map->m_colors.m_bInvert = false;
            map->m_colors.Set_Palette(info.paletteIndex, info.revert, info.colorCount);
            *map->m_pRangeMin = info.rangeMin;
            *map->m_pRangeMax = info.rangeMax;
            map->m_mapType = info.mapType;
        } else {
            map->SetMapType(info.mapType);
        }
    }

    const int id = NextImageId(m_MapIdNames, kMapIdBase);
    const QByteArray utf8 = name.toUtf8();
    CadLayer* layer = CadGetLayerByName(m_pCad, utf8.constData());
    if (!layer) {
        layer = CadAddLayer(m_pCad, utf8.constData(), CAD_COLOR_FOREGROUND, CAD_LTYPE_CONTINUOUS,
                            CAD_LWEIGHT_DEFAULT);
        CadLayer* zero = CadGetLayerByName(m_pCad, "0");
        SetCadLayerOrder(m_pCad, zero);
        CadSetCurLayer(m_pCad, zero);
    }
    if (layer) {
        CadLayerPutVisible(layer, info.visible != 0);
        CadLayerPutDeleted(layer, 0);
    }
    CadEntity* image = AddImagePlace(m_pCad, layer, id, width, height, map->m_geoTransform);
    if (!image) {
        return nullptr;
    }
    map->m_imageEntity = image;
    map->m_imageDefId = id;
    map->m_opacity = std::clamp(info.opacity / 100.0, 0.0, 1.0);
    CadImagePutFile(image, NativePath(info.path).constData());

    CMapData* added = map.release();
    m_Maps[name] = added;
    m_MapIdNames[id] = name;
    m_MapHandleNames[image] = name;
    CadEntityPutVisible(image, 1);
    CadRegen(m_pCad);
    kv::DocExecute(m_pCad, CadGetWindow(m_pCad), CAD_CMD_ZOOM_EXTENTS);
    return added;
}

void CKelvaroDoc::RemoveMap(const QString& name) {
    auto found = m_Maps.find(name);
    if (found != m_Maps.end()) {
        ForgetInDialogs(*this, found->second);
    }
    RemoveLayer(name, m_Maps, m_MapIdNames, m_MapHandleNames);
}

void CKelvaroDoc::RemoveAllMaps() {
    ForgetAllInDialogs(*this, m_Maps);
    RemoveAllLayers(m_Maps, m_MapIdNames, m_MapHandleNames);
}

int CKelvaroDoc::OnImagePlaceErased(CadEntity* entity) {
    if (!entity) {
        return 0;
    }
    int removed = 0;
    auto take = [&](std::map<CadEntity*, QString>& handles, void (CKelvaroDoc::*remove)(const QString&)) {
        auto found = handles.find(entity);
        if (found != handles.end()) {
            const QString name = found->second;
            (this->*remove)(name);
            removed = 1;
        }
    };
    take(m_DEMHandleNames, &CKelvaroDoc::RemoveDEM);
    take(m_OrthoHandleNames, &CKelvaroDoc::RemoveOrtho);
    take(m_MapHandleNames, &CKelvaroDoc::RemoveMap);
    return removed;
}

// ---------------------------------------------------------------------------------------------
// Ribbon commands of the layers

void CKelvaroDoc::PlaceLayersOrderWindow() {
    QWidget* window = CadLayersOrderWindow();
    QRect rect;
    if (!window || !StoredLayersOrderRect(&rect)) {
        return;
    }
    // The stored rectangle is the window's frame; the size set is that of its inside.
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    window->move(rect.left(), rect.top());
    window->resize(rect.right() - rect.left() - frame.width(), rect.bottom() - rect.top() - frame.height());
    window->update();
}

void CKelvaroDoc::StoreAndCloseLayersOrderWindow() {
    QWidget* window = CadLayersOrderWindow();
    if (!window) {
        return;
    }
    // The frame's screen rectangle with its right and bottom edges just outside it, the form the
    // placement reads back: left, top, width right - left, height bottom - top.
    const QRect r = window->frameGeometry();
    const QString section = QString::fromLatin1(kLayerWindowSection);
    ZQT_WriteUserProfileString(section, QStringLiteral("top"), QString::number(r.top()));
    ZQT_WriteUserProfileString(section, QStringLiteral("left"), QString::number(r.left()));
    ZQT_WriteUserProfileString(section, QStringLiteral("bottom"), QString::number(r.top() + r.height()));
    ZQT_WriteUserProfileString(section, QStringLiteral("right"), QString::number(r.left() + r.width()));
    kv::DocExecute(m_pCad, CadGetWindow(m_pCad), CAD_CMD_LAYERS_ORDER);
}

namespace {

// The files the operator chose, or nothing when the choice was cancelled or too long.
QStringList ChooseRasterFiles(const QString& filter) {
    QStringList paths = kv::GetInteraction().ChooseOpenFiles(QStringLiteral("Open"), QString(), filter);
    int characters = 1;
    for (const QString& path : paths) {
        characters += static_cast<int>(path.size()) + 1;
    }
    if (characters > kFileSelectionLimit) {
        KvMessageBox(QStringLiteral("Too much files selected!"), MB_OK | MB_ICONINFORMATION);
        return QStringList();
    }
    return paths;
}

}  // namespace

template <typename Add>
static void InsertRasterFiles(CKelvaroDoc& doc, const QString& filter, Add add) {
    QWidget* window = CadGetWindow(doc.m_pCad);
    kv::DocExecute(doc.m_pCad, window, CAD_CMD_UNSELECT_ALL);
    kv::DocCmdFinish(doc.m_pCad);
    const QStringList paths = ChooseRasterFiles(filter);
    if (paths.isEmpty()) {
        return;
    }
    for (const QString& path : paths) {
        if (doc.GetDEMCount() + doc.GetOrthoCount() > 1 && CadLayersOrderWindow()) {
            // The window is shut while layers are added and opened again afterwards.
            doc.StoreAndCloseLayersOrderWindow();
        }
        add(path);
    }
    if (doc.GetDEMCount() + doc.GetOrthoCount() + doc.GetMapCount() > 1) {
        if (!CadLayersOrderWindow()) {
            kv::DocExecute(doc.m_pCad, window, CAD_CMD_LAYERS_ORDER);
        }
        doc.PlaceLayersOrderWindow();
    }
}

void CKelvaroDoc::OnButtonInsertdem() {
    InsertRasterFiles(*this,
                      QStringLiteral("DEM (*.gtif *.tif *.img);;GeoTiff DEM (*.gtif);;GeoTiff DEM (*.tif);;"
                                     "IMG DEM (*.img)"),
                      [this](const QString& path) { AddDEM(path, 1); });
}

void CKelvaroDoc::OnButtonInsertortho() {
    InsertRasterFiles(*this,
                      QStringLiteral("Orthophoto (*.tif *.img);;GeoTiff Ortho (*.tif);;IMG Ortho (*.img)"),
                      [this](const QString& path) { AddOrtho(path, 1, 1); });
}

void CKelvaroDoc::OnButtonOrthovisible() {
    m_bOrthoVisible = m_bOrthoVisible ? 0 : 1;
    for (const auto& entry : m_Orthos) {
        if (entry.second->m_imageEntity) {
            CadEntityPutVisible(entry.second->m_imageEntity, m_bOrthoVisible);
        }
    }
    CadUpdate(m_pCad);
}

void CKelvaroDoc::OnUpdateButtonOrthovisible(kv::CommandUI& ui) {
    ui.enabled = !m_Orthos.empty();
    ui.checked = m_bOrthoVisible != 0;
}

void CKelvaroDoc::OnSliderOrthoopacity() {
    kv::MainWindowService* main = kv::GetMainWindowService();
    if (!main || main->OpacitySliderPos() < 0) {
        return;
    }
    m_dOrthoOpacity = main->OpacitySliderPos() / 100.0;
    if (m_dOrthoOpacity <= 0.01) {
        m_dOrthoOpacity = 0.01;
    }
    if (!m_Orthos.empty() && GetFirstView()) {
        if (QWidget* window = CadGetWindow(m_pCad)) {
            CadWndRedraw(window);
        }
    }
}

void CKelvaroDoc::OnUpdateSliderOrthoopacity(kv::CommandUI& ui) {
    ui.enabled = !m_Orthos.empty();
}
