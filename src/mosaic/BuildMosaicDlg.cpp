#include "mosaic/BuildMosaicDlg.h"

#include <QDir>
#include <QFileInfo>

#include <cfloat>
#include <cmath>
#include <memory>

#include "controls/DialogUnits.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "mosaic/MosaicTile.h"
#include "mosaic/RadiometricBalancing.h"
#include "mosaic/SeamlineFiles.h"
#include "mosaic/TileLayout.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/Ortho.h"

namespace {

// A tile over the box, with the mosaic's pixel grid and orthophotos.
std::unique_ptr<CMosaicTile> NewTile(CKelvaroDoc* doc, const MosaicBox& box,
                                     const std::vector<COrtho*>& orthos) {
    auto tile = std::make_unique<CMosaicTile>(doc);
    tile->m_geoTransform[0] = box.minX;
    tile->m_geoTransform[1] = box.pixelWidth;
    tile->m_geoTransform[3] = box.maxY;
    tile->m_geoTransform[5] = box.pixelHeight;
    tile->m_width = PixelSpan(box.maxX - box.minX, box.pixelWidth);
    tile->m_height = PixelSpan(box.maxY - box.minY, box.pixelHeight);
    tile->m_minX = box.minX;
    tile->m_maxX = box.maxX;
    tile->m_minY = box.minY;
    tile->m_maxY = box.maxY;
    tile->m_Orthos = orthos;
    tile->m_nTransitionMode = 4;
    return tile;
}

// The files that the tiles would replace or remove at their paths: a tile written replaces the
// raster and its world file and drops the raster's side files; a tile under which no orthophoto
// lies removes the file at its path. The files of loaded layers are left out: no tile is written
// over one.
void CountFilesAtTiles(const std::vector<std::unique_ptr<CMosaicTile>>& tiles, int* replaced, int* removed) {
    for (const auto& tile : tiles) {
        const QString& path = tile->m_strOutputPath;
        if (IsLoadedLayerFile(path)) {
            continue;
        }
        if (tile->ContributingOrthos().empty()) {
            *removed += FileStandsAt(path) ? 1 : 0;
            continue;
        }
        CountRasterFilesAt(path, replaced, removed);
        *replaced += FileStandsAt(WorldFilePath(path)) ? 1 : 0;
    }
}

}  // namespace

std::vector<COrtho*> AcceptedMosaicOrthos(CKelvaroDoc& doc, MosaicBox* box) {
    std::vector<COrtho*> accepted;
    MosaicBox extent;
    extent.minX = extent.minY = DBL_MAX;
    extent.maxX = extent.maxY = -DBL_MAX;
    int bands = 0;
    GDALDataType type = GDT_Unknown;
    for (const auto& entry : doc.m_Orthos) {
        COrtho* ortho = entry.second;
        if (!ortho || ortho->SeamlinePolylines.empty() || !ortho->m_pDataset ||
            GDALGetRasterCount(ortho->m_pDataset) < 1) {
            continue;
        }
        const double* gt = ortho->m_geoTransform;
        const int count = GDALGetRasterCount(ortho->m_pDataset);
        const GDALDataType first = GDALGetRasterDataType(GDALGetRasterBand(ortho->m_pDataset, 1));
        if (!accepted.empty() &&
            (gt[1] != extent.pixelWidth || gt[5] != extent.pixelHeight || count != bands || first != type)) {
            continue;
        }
        if (accepted.empty()) {
            extent.pixelWidth = gt[1];
            extent.pixelHeight = gt[5];
            bands = count;
            type = first;
        }
        accepted.push_back(ortho);
        extent.minX = std::min(extent.minX, gt[0]);
        extent.maxX = std::max(extent.maxX, gt[0] + ortho->m_width * gt[1]);
        extent.minY = std::min(extent.minY, gt[3] + ortho->m_height * gt[5]);
        extent.maxY = std::max(extent.maxY, gt[3]);
    }
    if (box) {
        *box = extent;
    }
    return accepted;
}

void RunBuildMosaic(CKelvaroDoc& doc) {
    CBuildMosaicDlg dialog(&doc);
    dialog.DoModal();
}

CBuildMosaicDlg::CBuildMosaicDlg(CKelvaroDoc* doc, QWidget* parent)
    : CTimedWorkDlg(parent), m_pDoc(doc), m_ProgressTiles(this), m_ProgressTile(this) {
    setWindowTitle(QStringLiteral("Build Mosaic"));
    setFixedSize(kv::DluSize(this, 309, 46));
    m_ProgressTiles.setGeometry(kv::DluRect(this, 7, 7, 240, 14));
    m_ProgressTile.setGeometry(kv::DluRect(this, 7, 25, 240, 14));
    m_btnAbort.setGeometry(kv::DluRect(this, 252, 15, 50, 16));
    m_ProgressTiles.setObjectName(QStringLiteral("tiles"));
    m_ProgressTile.setObjectName(QStringLiteral("tile"));
}

bool CBuildMosaicDlg::RunWork() {
    if (!BuildMosaic()) {
        return false;
    }
    for (const char* name : {kSeamLinesLayer, kTilesLayer}) {
        if (CadLayer* layer = CadGetLayerByName(m_pDoc->m_pCad, name)) {
            CadLayerPutVisible(layer, 0);
        }
    }
    CadUpdate(m_pDoc->m_pCad);
    return true;
}

int CBuildMosaicDlg::BuildMosaic() {
    if (!m_pDoc) {
        return 0;
    }
    m_bAbort = 0;
    CKelvaroDoc& doc = *m_pDoc;
    MosaicBox box;
    std::vector<COrtho*> orthos = AcceptedMosaicOrthos(doc, &box);
    if (orthos.empty()) {
        KvMessageBox(QStringLiteral("No orthophoto with seamlines to mosaic"), MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    const int width = PixelSpan(box.maxX - box.minX, box.pixelWidth);
    const int height = PixelSpan(box.maxY - box.minY, box.pixelHeight);
    const GDALDataType type = GDALGetRasterDataType(GDALGetRasterBand(orthos.front()->m_pDataset, 1));

    QString folder = QFileInfo(doc.GetPathName()).absolutePath() + QLatin1Char('/');
    CadLayer* tilesLayer = CadGetLayerByName(doc.m_pCad, kTilesLayer);
    if (tilesLayer && CadLayerGetFirstEntity(tilesLayer)) {
        const QString picked = ZQT_PickFolderPath(QStringLiteral("Select output folder"), folder, this);
        if (picked.isEmpty()) {
            return 0;
        }
        folder = ZQT_OptimizePath(picked, 1);
    }

    QStringList refused;
    std::vector<std::unique_ptr<CMosaicTile>> tiles = ReadTileLayout(
        tilesLayer, &doc, box.pixelWidth, box.pixelHeight, folder, QStringLiteral(".tif"), &refused);
    for (const auto& tile : tiles) {
        tile->m_Orthos = orthos;
        tile->m_nTransitionMode = 4;
    }
    for (const QString& name : refused) {
        TellTileNotWritten(doc.m_pCad, name, QString::fromLatin1(kDotsOnlyTileName));
    }
    // A second tile of one file is not written: it would take the first one's file or layer.
    const std::vector<bool> shared = TilesSharingAFile(tiles);
    std::vector<std::unique_ptr<CMosaicTile>> distinct;
    for (size_t i = 0; i < tiles.size(); ++i) {
        if (shared[i]) {
            TellTileNotWritten(doc.m_pCad, tiles[i]->m_strName, QString::fromLatin1(kSharedTileFile));
        } else {
            distinct.push_back(std::move(tiles[i]));
        }
    }
    tiles = std::move(distinct);
    int replaced = 0, removed = 0;
    CountFilesAtTiles(tiles, &replaced, &removed);
    if (!ConfirmTileFiles(folder, replaced, removed)) {
        return 0;
    }

    const int balance =
        KvMessageBox(QStringLiteral("Apply radiometric balancing?"), MB_YESNO | MB_ICONQUESTION) == IDYES;
    if (balance) {
        std::vector<COrtho*> ordered = orthos;
        if (!BuildRadiometricBalancingMap(&doc, ordered, QString(), width, height, type, box,
                                          &m_ProgressTiles, &m_bAbort)) {
            KvMessageBox(QStringLiteral("Unable to evaluate radiometric balancing for output tiles"),
                         MB_OK | MB_ICONEXCLAMATION);
            return 0;
        }
    }

    if (tiles.empty()) {
        const QString path =
            ChooseOutputFile(QStringLiteral("GeoTiff image (*.tif)"), QStringLiteral("tif"), {}, folder);
        if (path.isEmpty()) {
            return 0;
        }
        auto tile = NewTile(&doc, box, orthos);
        tile->m_strOutputPath = path;
        tile->m_strName = QFileInfo(path).completeBaseName();
        const Wml::Point2 corners[4] = {
            {box.minX, box.minY}, {box.maxX, box.minY}, {box.maxX, box.maxY}, {box.minX, box.maxY}};
        tile->m_Outline = CPgon(corners, 4);
        tiles.push_back(std::move(tile));
        // The chooser asked about the raster only: the files that go with it are asked about as
        // the tiles' are.
        int replaced = 0, removed = 0;
        CountFilesAtTiles(tiles, &replaced, &removed);
        if (replaced + removed > (FileStandsAt(path) ? 1 : 0) &&
            !ConfirmTileFiles(QFileInfo(path).absolutePath(), replaced, removed)) {
            return 0;
        }
    }

    double left = DBL_MAX, bottom = DBL_MAX, right = -DBL_MAX, top = -DBL_MAX;
    for (const auto& tile : tiles) {
        left = std::min(left, tile->m_minX);
        bottom = std::min(bottom, tile->m_minY);
        right = std::max(right, tile->m_maxX);
        top = std::max(top, tile->m_maxY);
    }
    if (QWidget* window = CadGetWindow(doc.m_pCad)) {
        CadViewRect(window, left, bottom, right, top);
    }

    m_ProgressTiles.SetRange(0, int(tiles.size()));
    for (size_t j = 0; j < tiles.size(); ++j) {
        m_ProgressTiles.SetPos(int(j));
        ZQT_PumpMessages();
        tiles[j]->WriteTile(balance, &m_ProgressTile, &m_bAbort);
    }
    m_ProgressTiles.SetPos(0);
    ZQT_PumpMessages();
    return 1;
}
