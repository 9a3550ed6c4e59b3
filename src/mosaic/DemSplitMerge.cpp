#include "mosaic/DemSplitMerge.h"

#include <QFile>
#include <QFileInfo>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "mosaic/MosaicTile.h"
#include "mosaic/TileLayout.h"
#include "platform/cad/Cad.h"
#include "platform/geometry/Pgon.h"
#include "platform/raster/RasterSpace.h"
#include "platform/tools/GdalFailures.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

namespace {

// The DEM split walks each tile in blocks of this many cells a side, reading this many cells more
// on every side for the bilinear sampling.
constexpr int kSplitBlock = 1024;
constexpr int kSplitMargin = 10;

void NoDataToNaN(cv::Mat& image) {
    image.setTo(std::numeric_limits<float>::quiet_NaN(), image == kNoData);
}

// Writes one tile under a temporary name and puts it in place when complete. False, with nothing
// left behind and *cause telling why (what GDAL or the system said of the failure, else the step
// that failed), when it could not be created, read or written.
bool WriteDemTile(CDEM& dem, const CMosaicTile& tile, const QString& projection, QString* cause) {
    kv::GdalFailureWatch gdal;
    const QString temporary = kv::TemporaryPathFor(tile.m_strOutputPath);
    QString space;
    GDALDatasetH out =
        CreateDemGeoTiff(temporary, tile.m_width, tile.m_height, tile.m_geoTransform, projection, &space);
    if (!out) {
        *cause = !space.isEmpty() ? space
                 : gdal.Failed()  ? gdal.FirstFailure()
                                  : QStringLiteral("the file could not be created");
        return false;
    }
    const double* gt = dem.m_geoTransform;
    const double* tt = tile.m_geoTransform;
    const char* failed = nullptr;
    cv::Mat source;
    cv::Mat block;
    for (int by = 0; !failed && by < tile.m_height; by += kSplitBlock) {
        for (int bx = 0; !failed && bx < tile.m_width; bx += kSplitBlock) {
            const int bw = std::min(kSplitBlock, tile.m_width - bx);
            const int bh = std::min(kSplitBlock, tile.m_height - by);
            // The block's corner on the DEM's grid. A corner within a millionth of a cell of a
            // whole cell is on the grid: its cells are copied, not resampled.
            const double ex = (bx * tt[1] + tt[0] - gt[0]) / gt[1];
            const double ey = (by * tt[5] + tt[3] - gt[3]) / gt[5];
            const bool onGrid =
                std::fabs(ex - std::round(ex)) <= 1e-6 && std::fabs(ey - std::round(ey)) <= 1e-6;
            const double ix = onGrid ? std::round(ex) : std::trunc(ex);
            const double iy = onGrid ? std::round(ey) : std::trunc(ey);
            const cv::Rect window(int(ix) - kSplitMargin, int(iy) - kSplitMargin, bw + 2 * kSplitMargin,
                                  bh + 2 * kSplitMargin);
            source.create(window.size(), CV_32FC1);
            if (!ReadDemWindow(dem, window, source)) {
                failed = "the DEM could not be read";
                break;
            }
            NoDataToNaN(source);
            if (onGrid) {
                source(cv::Rect(kSplitMargin, kSplitMargin, bw, bh)).copyTo(block);
            } else {
                // Block cell (c, r) samples the DEM at (ex + c, ey + r).
                const cv::Point2f centre(float(ex - ix + (bw + 2 * kSplitMargin) / 2.0 - 0.5),
                                         float(ey - iy + (bh + 2 * kSplitMargin) / 2.0 - 0.5));
                cv::getRectSubPix(source, cv::Size(bw, bh), centre, block, CV_32F);
            }
            cv::patchNaNs(block, kNoData);
            if (GDALRasterIO(GDALGetRasterBand(out, 1), GF_Write, bx, by, bw, bh, block.data, bw, bh,
                             GDT_Float32, 0, int(block.step)) != CE_None) {
                failed = "the file could not be written";
            }
        }
    }
    if (!failed && !kv::BuildOverviews(out, nullptr)) {
        failed = "the overviews could not be built";
    }
    if (!kv::CloseDataset(out) && !failed) {
        failed = "the file could not be written";
    }
    if (failed) {
        kv::RemoveRasterFile(temporary);
        *cause = gdal.Failed() ? gdal.FirstFailure() : QString::fromLatin1(failed);
        return false;
    }
    errno = 0;
    if (!kv::MoveIntoPlace(temporary, tile.m_strOutputPath)) {
        *cause = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno))
                            : QStringLiteral("the file could not be put in place");
        return false;
    }
    return true;
}

}  // namespace

bool ReopenDemFromFile(CDEM& dem) {
    if (!dem.m_grid.empty()) {
        dem.m_grid.release();
        dem.ReleaseDisplayCache();
        if (!dem.m_pDataset) {
            dem.m_pDataset = GDALOpen(QFile::encodeName(dem.m_path).constData(), GA_ReadOnly);
        }
    }
    return dem.m_pDataset != nullptr;
}

bool ReadDemWindow(CDEM& dem, const cv::Rect& window, cv::Mat& image) {
    image.setTo(kNoData);
    if ((window & cv::Rect(0, 0, dem.Width(), dem.Height())).empty()) {
        return true;
    }
    return dem.GetRegion(&window, image) != 0;
}

GDALDatasetH CreateDemGeoTiff(const QString& path, int width, int height, const double* geoTransform,
                              const QString& projection, QString* space) {
    GDALDriverH driver = GDALGetDriverByName("GTiff");
    if (!driver || width <= 0 || height <= 0 ||
        !kv::RasterFitsOnDisk(path, width, height, 1, GDT_Float32, space)) {
        return nullptr;
    }
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_SAFER", nullptr};
    GDALDatasetH ds = GDALCreate(driver, QFile::encodeName(path).constData(), width, height, 1, GDT_Float32,
                                 const_cast<char**>(options));
    if (!ds) {
        return nullptr;
    }
    double gt[6];
    std::copy(geoTransform, geoTransform + 6, gt);
    if (GDALSetGeoTransform(ds, gt) != CE_None ||
        GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), kNoData) != CE_None ||
        (!projection.isEmpty() && GDALSetProjection(ds, projection.toUtf8().constData()) != CE_None)) {
        GDALClose(ds);
        kv::RemoveRasterFile(path);
        return nullptr;
    }
    return ds;
}

int SplitDem(CKelvaroDoc* doc, CDEM* dem) {
    if (!GDALGetDriverByName("GTiff") || !doc) {
        return 0;
    }
    if (!dem) {
        KvMessageBox(QStringLiteral("Please selected a valid DEM!"), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    if (dem->m_modified) {
        KvMessageBox(QStringLiteral("Selected DEM is modified.\nPlease save the project before"),
                     MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    if (!ReopenDemFromFile(*dem)) {
        KvMessageBox(QStringLiteral("Please selected a valid DEM!"), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    const double* gt = dem->m_geoTransform;
    const double x1 = gt[0] + dem->Width() * gt[1];
    const double y1 = gt[3] + dem->Height() * gt[5];
    const Wml::Point2 corners[4] = {{gt[0], gt[3]}, {x1, gt[3]}, {x1, y1}, {gt[0], y1}};
    const CPgon footprint(corners, 4);

    CadLayer* tilesLayer = CadGetLayerByName(doc->m_pCad, kTilesLayer);
    if (!tilesLayer || !CadLayerGetFirstEntity(tilesLayer)) {
        KvMessageBox(QStringLiteral("No tiles defined!"), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    const QString picked =
        ZQT_PickFolderPath(QStringLiteral("Select output folder"),
                           QFileInfo(doc->GetPathName()).absolutePath(), CadGetWindow(doc->m_pCad));
    if (picked.isEmpty()) {
        return 0;
    }
    const QString folder = ZQT_OptimizePath(picked, 1);
    QStringList refused;
    auto tiles = ReadTileLayout(tilesLayer, nullptr, gt[1], gt[5], folder, QStringLiteral(".gtif"), &refused);
    for (const QString& name : refused) {
        TellTileNotWritten(doc->m_pCad, name, QString::fromLatin1(kDotsOnlyTileName));
    }
    // Only tiles that share an area with the DEM are written.
    tiles.erase(std::remove_if(tiles.begin(), tiles.end(),
                               [&footprint](const auto& tile) {
                                   return (tile->m_Outline & footprint).GetArea() <= 0.0;
                               }),
                tiles.end());
    if (tiles.empty()) {
        KvMessageBox(QStringLiteral("No valid tiles defined!"), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }

    // What keeps a tile from being written, before anything is: a second tile of one file would
    // write it twice, and a layer's file is never written over. The files that the others would
    // replace or remove, side files included, are asked about once.
    std::vector<QString> causes(tiles.size());
    const std::vector<bool> shared = TilesSharingAFile(tiles);
    int replaced = 0, removed = 0;
    for (size_t i = 0; i < tiles.size(); ++i) {
        const QString& path = tiles[i]->m_strOutputPath;
        if (shared[i]) {
            causes[i] = QString::fromLatin1(kSharedTileFile);
        } else if (IsLoadedLayerFile(path)) {
            causes[i] = QString::fromLatin1(kLayerFileInUse);
        } else {
            CountRasterFilesAt(path, &replaced, &removed);
        }
    }
    if (!ConfirmTileFiles(folder, replaced, removed)) {
        return 0;
    }
    int written = 0;
    for (size_t i = 0; i < tiles.size(); ++i) {
        QString& cause = causes[i];
        if (cause.isEmpty() && WriteDemTile(*dem, *tiles[i], dem->m_projection, &cause)) {
            ++written;
        } else {
            TellTileNotWritten(doc->m_pCad, tiles[i]->m_strName, cause);
        }
    }
    if (QWidget* window = CadGetWindow(doc->m_pCad)) {
        CadWndRedraw(window);
    }
    // A split that wrote no tile at all (a folder that cannot be written, say) is no success.
    if (written == 0) {
        KvMessageBox(QStringLiteral("No tile written!"), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    return 1;
}
