#include "mosaic/TileLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <ogr_api.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>

#include "document/CadCalls.h"
#include "document/KelvaroDoc.h"
#include "mosaic/MosaicTile.h"
#include "mosaic/ShapeFileFieldsDlg.h"
#include "mosaic/TilesGenerationDlg.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void AddRasterRectangle(CPgon& footprint, const double* gt, int columns, int rows) {
    if (columns <= 0 || rows <= 0) {
        return;
    }
    const double x1 = gt[0] + columns * gt[1];
    const double y1 = gt[3] + rows * gt[5];
    const Wml::Point2 corners[4] = {{gt[0], gt[3]}, {x1, gt[3]}, {x1, y1}, {gt[0], y1}};
    footprint = footprint | CPgon(corners, 4);
}

// The first polyline of the layer that can be a tile: closed, more than 2 vertices, a bounding
// box of some width and height.
CadEntity* FirstTileOutline(CadLayer* layer) {
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
        if (CadEntityGetType(e) != CAD_ENT_POLYLINE || !CadPlineGetClosed(e) || CadPlineGetNumVers(e) <= 2) {
            continue;
        }
        if (CadEntityGetRight(e) - CadEntityGetLeft(e) != 0.0 &&
            CadEntityGetTop(e) - CadEntityGetBottom(e) != 0.0) {
            return e;
        }
    }
    return nullptr;
}

bool HasExtent(const std::vector<Wml::Point3>& points) {
    double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
    for (const Wml::Point3& p : points) {
        minX = std::min(minX, p.X());
        maxX = std::max(maxX, p.X());
        minY = std::min(minY, p.Y());
        maxY = std::max(maxY, p.Y());
    }
    return points.size() > 2 && maxX - minX != 0.0 && maxY - minY != 0.0;
}

// "Tiles", found (and undeleted, the drawing regenerated then) or added.
CadLayer* LayoutLayer(CadDrawing* drawing) {
    CadLayer* layer = GetTileLayer(drawing, kTilesLayer);
    if (layer && CadLayerGetDeleted(layer)) {
        CadLayerPutDeleted(layer, 0);
        CadRegen(drawing);
    }
    return layer;
}

// The names of one import: a source text becomes a tile name by the one rule; a name that a
// tile of the layout had before the import is not taken again.
class ImportNames {
public:
    explicit ImportNames(CadLayer* layout) : m_existing(ExistingTileNames(layout)) {}
    // The tile name for the source text and the index of its layer or feature, empty when it is
    // not to be imported.
    std::string Take(const std::string& source, int index, TileNameText text) const {
        const std::string name = ImportedTileName(source, index, text);
        return m_existing.count(name) ? std::string() : name;
    }

private:
    std::set<std::string> m_existing;
};

struct OgrDataSource {
    GDALDatasetH handle = nullptr;
    ~OgrDataSource() {
        if (handle) {
            GDALClose(handle);
        }
    }
};

}  // namespace

CadLayer* GetTileLayer(CadDrawing* drawing, const char* name) {
    if (!drawing) {
        return nullptr;
    }
    if (CadLayer* layer = CadGetLayerByName(drawing, name)) {
        return layer;
    }
    return CadAddLayer(drawing, name, kTileColour, CAD_LTYPE_CONTINUOUS, -3);
}

TileHandleStruct AddTile(CadDrawing* drawing, CadLayer* layer, const std::string& name,
                         const std::vector<Wml::Point3>& outline, int colour) {
    TileHandleStruct tile;
    if (!drawing || !layer || outline.empty()) {
        return tile;
    }
    double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL;
    CadClearVertices();
    for (const Wml::Point3& p : outline) {
        CadAddVertex(p.X(), p.Y(), p.Z());
        minX = std::min(minX, p.X());
        maxX = std::max(maxX, p.X());
        minY = std::min(minY, p.Y());
        maxY = std::max(maxY, p.Y());
    }
    tile.outline = CadAddPolyline(drawing, 0, 1);
    CadClearVertices();
    // The name as the extended data hold it, cut between characters.
    const std::string kept = CutBetweenCharacters(name, kTileNameSize - 1);
    tile.label = CadAddText(drawing, kept.c_str(), (minX + maxX) / 2.0, (minY + maxY) / 2.0, 0.0);
    char data[kTileNameSize] = {0};
    std::memcpy(data, kept.data(), kept.size());
    const int layerId = CadLayerGetID(layer);
    for (CadEntity* e : {tile.outline, tile.label}) {
        CadEntityPutLayerID(e, layerId);
        CadEntityPutColor(e, colour);
        CadEntityPutExData(e, data, kTileNameSize);
    }
    // The label sits at the centre of its tile.
    CadTextPutHeight(tile.label, kTileLabelHeight);
    CadTextPutAlign(tile.label, CAD_TA_CENTER_MIDDLE);
    CadEntityPutUserData(tile.outline, CadEntityGetID(tile.label));
    CadEntityPutUserData(tile.label, CadEntityGetID(tile.outline));
    return tile;
}

std::string TileNameOf(CadEntity* entity) {
    const int size = CadEntityGetExData(entity, nullptr, 0);
    if (size <= 0) {
        return std::string();
    }
    std::vector<char> data(static_cast<size_t>(size) + 1, '\0');
    CadEntityGetExData(entity, data.data(), size);
    return std::string(data.data());
}

std::set<std::string> ExistingTileNames(CadLayer* layer) {
    std::set<std::string> names;
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
        if (CadEntityGetExData(e, nullptr, 0) > 0) {
            names.insert(Lower(CleanTileName(QString::fromStdString(TileNameOf(e))).toStdString()));
        }
    }
    return names;
}

CPgon TileFootprint(const CKelvaroDoc& doc) {
    CPgon footprint;
    for (const auto& [name, ortho] : doc.m_Orthos) {
        if (ortho && ortho->m_pDataset) {
            AddRasterRectangle(footprint, ortho->m_geoTransform, GDALGetRasterXSize(ortho->m_pDataset),
                               GDALGetRasterYSize(ortho->m_pDataset));
        }
    }
    for (const auto& [name, dem] : doc.m_DEMs) {
        if (!dem) {
            continue;
        }
        if (dem->m_pDataset) {
            AddRasterRectangle(footprint, dem->m_geoTransform, GDALGetRasterXSize(dem->m_pDataset),
                               GDALGetRasterYSize(dem->m_pDataset));
        } else if (!dem->m_grid.empty()) {
            AddRasterRectangle(footprint, dem->m_geoTransform, dem->m_grid.cols, dem->m_grid.rows);
        }
    }
    return footprint;
}

std::vector<GridTile> LayTileGrid(const CPgon& footprint, const TileGrid& grid, void (*pump)()) {
    std::vector<GridTile> tiles;
    Wml::Point2 low, high;
    const double stepX = grid.width - grid.overlapX;
    const double stepY = grid.height - grid.overlapY;
    if (!footprint.GetBoundingBox(low, high) || !(stepX > 0.0) || !(stepY > 0.0)) {
        return tiles;
    }
    const double xEnd = std::trunc(high.X()) + 1.0;
    const double yEnd = std::trunc(high.Y()) + 1.0;
    int row = 0;
    for (double y = grid.originY; y < yEnd; y += stepY, ++row) {
        int column = 0;
        for (double x = grid.originX; x < xEnd; x += stepX, ++column) {
            if (pump) {
                pump();
            }
            const Wml::Point2 corners[4] = {
                {x, y}, {x + grid.width, y}, {x + grid.width, y + grid.height}, {x, y + grid.height}};
            if ((CPgon(corners, 4) & footprint).GetArea() > 0.0) {
                char name[32];
                std::snprintf(name, sizeof(name), "T-%02d-%02d", row, column);
                tiles.push_back({name, x, y});
            }
        }
    }
    return tiles;
}

std::string CutBetweenCharacters(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return text;
    }
    // Back from the first byte left out over the continuation bytes (10xxxxxx) of its character.
    size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

std::string ImportedTileName(const std::string& source, int index, TileNameText text) {
    std::string name = CutBetweenCharacters(source, kTileNameSize - 1);
    // Windows paths as well as ours: the drive and every folder go.
    const size_t folder = name.find_last_of("/\\:");
    if (folder != std::string::npos) {
        name.erase(0, folder + 1);
    }
    // Leading dots would hide the file (or name the folder itself); in a file path, what follows
    // the last dot left is the extension.
    name.erase(0, std::min(name.find_first_not_of('.'), name.size()));
    const size_t dot = name.rfind('.');
    if (text == TileNameText::FilePath && dot != std::string::npos) {
        name.erase(dot);
    }
    std::string clean;
    for (size_t i = 0; i < name.size(); ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        const bool c1Control = c == 0xC2 && i + 1 < name.size() &&
                               static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                               static_cast<unsigned char>(name[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1Control) {
            clean += '_';
            i += c1Control ? 1 : 0;
        } else {
            clean += static_cast<char>(c);
        }
    }
    if (clean.empty()) {
        char fallback[32];
        std::snprintf(fallback, sizeof(fallback), "tile_%03d", index);
        return fallback;
    }
    return Lower(clean);
}

int ImportTilesFromDrawing(CKelvaroDoc& doc, const QString& path) {
    if (path.isEmpty()) {
        return 0;
    }
    CadDrawing* source = CadCreate();
    if (!source || !ImportDrawingFile(source, path)) {
        CadDelete(source);
        KvMessageBox(QStringLiteral("Unable to import this file.\nAutocad 2000 dwg/dxf supported"),
                     MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    CadDrawing* drawing = doc.m_pCad;
    CadLayer* tiles = LayoutLayer(drawing);
    const ImportNames names(tiles);
    int index = 0;
    for (CadLayer* layer = CadGetFirstLayer(source); layer; layer = CadGetNextLayer(source, layer), ++index) {
        CadEntity* outline = FirstTileOutline(layer);
        if (!outline) {
            continue;
        }
        std::string layerName(static_cast<size_t>(std::max(CadLayerGetName(layer, nullptr, 0), 0)), '\0');
        CadLayerGetName(layer, layerName.data(), int(layerName.size()) + 1);
        const std::string name = names.Take(layerName, index, TileNameText::LayerName);
        if (name.empty()) {
            continue;
        }
        std::vector<Wml::Point3> points(static_cast<size_t>(CadPlineGetNumVers(outline)));
        for (size_t i = 0; i < points.size(); ++i) {
            double x = 0.0, y = 0.0, z = 0.0;
            CadPlineGetVer(outline, static_cast<int>(i), &x, &y, &z);
            points[i] = Wml::Point3(x, y, z);
        }
        AddTile(drawing, tiles, name, points, kPreviewTileColour);
    }
    CadDelete(source);
    CadUpdate(drawing);
    return 1;
}

int ImportTilesFromShapefile(CKelvaroDoc& doc, const QString& path) {
    if (path.isEmpty()) {
        return 0;
    }
    const char* const drivers[] = {"ESRI Shapefile", nullptr};
    OgrDataSource source;
    source.handle = GDALOpenEx(QFile::encodeName(path).constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY,
                               drivers, nullptr, nullptr);
    if (!source.handle) {
        KvMessageBox(QStringLiteral("Unable to open selected file!"), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    CadDrawing* drawing = doc.m_pCad;
    CadLayer* tiles = LayoutLayer(drawing);
    const ImportNames names(tiles);
    for (int l = 0; l < GDALDatasetGetLayerCount(source.handle); ++l) {
        OGRLayerH layer = GDALDatasetGetLayer(source.handle, l);
        OGRFeatureDefnH definition = layer ? OGR_L_GetLayerDefn(layer) : nullptr;
        // A shapefile of polygons with heights reports its type with the 2.5D flag.
        if (!definition || wkbFlatten(OGR_FD_GetGeomType(definition)) != wkbPolygon) {
            continue;
        }
        std::vector<QString> fields;
        for (int f = 0; f < OGR_FD_GetFieldCount(definition); ++f) {
            fields.push_back(QString::fromUtf8(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(definition, f))));
        }
        CShapeFileFieldsDlg dialog(&fields);
        if (dialog.DoModal() != IDOK) {
            return 0;
        }
        const QByteArray field = dialog.GetFieldName().toUtf8();
        const int fieldIndex = OGR_FD_GetFieldIndex(definition, field.constData());
        const GIntBig count = OGR_L_GetFeatureCount(layer, TRUE);
        for (GIntBig j = 0; j < count; ++j) {
            std::unique_ptr<void, void (*)(OGRFeatureH)> feature(OGR_L_GetFeature(layer, j), OGR_F_Destroy);
            if (!feature) {
                continue;
            }
            const std::string value = fieldIndex >= 0
                                          ? std::string(OGR_F_GetFieldAsString(feature.get(), fieldIndex))
                                          : std::string();
            OGRGeometryH geometry = OGR_F_GetGeometryRef(feature.get());
            if (!geometry || wkbFlatten(OGR_G_GetGeometryType(geometry)) != wkbPolygon) {
                continue;
            }
            OGRGeometryH ring = OGR_G_GetGeometryRef(geometry, 0);
            const int pointCount = ring ? OGR_G_GetPointCount(ring) : 0;
            std::vector<Wml::Point3> points(static_cast<size_t>(std::max(pointCount, 0)));
            for (int i = 0; i < pointCount; ++i) {
                double x = 0.0, y = 0.0, z = 0.0;
                OGR_G_GetPoint(ring, i, &x, &y, &z);
                points[static_cast<size_t>(i)] = Wml::Point3(x, y, z);
            }
            if (!HasExtent(points)) {
                continue;
            }
            const std::string name = names.Take(value, static_cast<int>(j), TileNameText::FilePath);
            if (!name.empty()) {
                AddTile(drawing, tiles, name, points, kPreviewTileColour);
            }
        }
        break;
    }
    CadUpdate(drawing);
    return 1;
}

void RunTilesSetup(CKelvaroDoc& doc) {
    CTilesGenerationDlg dialog(&doc);
    for (;;) {
        const int result = dialog.DoModal();
        if (result != CTilesGenerationDlg::IDC_PICK_RESULT) {
            return;
        }
        double x = 0.0, y = 0.0, z = 0.0;
        if (CadToolGetPickedPoint(doc.m_pCad, &x, &y, &z)) {
            ZQT_WriteUserProfileString("Tile", "MinX", QString::asprintf("%.1f", x).toUtf8().constData());
            ZQT_WriteUserProfileString("Tile", "MinY", QString::asprintf("%.1f", y).toUtf8().constData());
        }
    }
}

void RunTilesImport(CKelvaroDoc& doc) {
    const QString path = kv::GetInteraction().ChooseOpenFile(
        QStringLiteral("Open"), QString(),
        QStringLiteral("CAD File (*.dwg *.dxf *.shp);;DWG File (*.dwg);;DXF File (*.dxf);;SHP File (*.shp)"));
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("dwg") || extension == QLatin1String("dxf")) {
        ImportTilesFromDrawing(doc, path);
    } else if (extension == QLatin1String("shp")) {
        ImportTilesFromShapefile(doc, path);
    }
}

void RunRemoveAllTiles(CKelvaroDoc& doc) {
    CadLayer* layer = CadGetLayerByName(doc.m_pCad, kTilesLayer);
    if (!layer) {
        return;
    }
    std::vector<CadEntity*> named;
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
        if (CadEntityGetExData(e, nullptr, 0) > 0) {
            named.push_back(e);
        }
    }
    for (CadEntity* e : named) {
        CadEntityErase(e, 1);
    }
    if (!named.empty()) {
        CadPurge(doc.m_pCad, CAD_PURGE_ALL);
        CadUpdate(doc.m_pCad);
    }
}

const char kDotsOnlyTileName[] = "a name of only dots names no file";

QString CleanTileName(const QString& name) {
    QString clean = name;
    for (QChar& c : clean) {
        if (c.category() == QChar::Other_Control || c == QLatin1Char('/') || c == QLatin1Char('\\') ||
            c == QLatin1Char(':')) {
            c = QLatin1Char('_');
        }
    }
    return clean;
}

bool IsDotsOnlyTileName(const QString& name) {
    return !name.isEmpty() &&
           std::all_of(name.begin(), name.end(), [](QChar c) { return c == QLatin1Char('.'); });
}

void TellTileNotWritten(CadDrawing* drawing, const QString& name, const QString& cause) {
    const QByteArray line = QStringLiteral("Tile %1 not written: %2").arg(name, cause).toUtf8();
    CadCmdPrompt(drawing, line.constData(), nullptr);
}

bool FileStandsAt(const QString& path) {
    const QFileInfo info(path);
    return info.isSymLink() || (info.exists() && !info.isDir());
}

void CountRasterFilesAt(const QString& path, int* replaced, int* removed) {
    if (FileStandsAt(path)) {
        ++*replaced;
    }
    for (const QString& side : kv::RasterSideFiles(path)) {
        if (FileStandsAt(side)) {
            ++*removed;
        }
    }
}

const char kSharedTileFile[] = "another tile is written to the same file";

std::vector<bool> TilesSharingAFile(const std::vector<std::unique_ptr<CMosaicTile>>& tiles) {
    std::vector<bool> shared;
    std::set<QString> files;
    for (const auto& tile : tiles) {
        const QFileInfo info(tile->m_strOutputPath);
        shared.push_back(
            !files.insert(info.absolutePath() + QLatin1Char('/') + info.fileName().toLower()).second);
    }
    return shared;
}

bool ConfirmTileFiles(const QString& folder, int replaced, int removed) {
    if (replaced <= 0 && removed <= 0) {
        return true;
    }
    const auto files = [](int count) {
        return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
    };
    const QString where = QDir::toNativeSeparators(QDir::cleanPath(folder));
    QString text;
    if (replaced > 0 && removed > 0) {
        text = QStringLiteral("%1 in %2 would be replaced and %3 removed.")
                   .arg(files(replaced), where)
                   .arg(removed);
    } else if (replaced > 0) {
        text = QStringLiteral("%1 in %2 would be replaced.").arg(files(replaced), where);
    } else {
        text = QStringLiteral("%1 in %2 would be removed.").arg(files(removed), where);
    }
    return KvMessageBox(text + QStringLiteral(" Continue?"), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::vector<std::unique_ptr<CMosaicTile>> ReadTileLayout(CadLayer* tilesLayer, CKelvaroDoc* doc,
                                                         double pixelWidth, double pixelHeight,
                                                         const QString& folder, const QString& suffix,
                                                         QStringList* refused) {
    std::vector<std::unique_ptr<CMosaicTile>> tiles;
    for (CadEntity* e = tilesLayer ? CadLayerGetFirstEntity(tilesLayer) : nullptr; e;
         e = CadLayerGetNextEntity(tilesLayer, e)) {
        if (CadEntityGetDeleted(e) || !CadEntityGetVisible(e) || CadEntityGetType(e) != CAD_ENT_POLYLINE ||
            CadPlineGetNumVers(e) <= 2 || !CadPlineGetClosed(e)) {
            continue;
        }
        const QString name = QString::fromStdString(TileNameOf(e));
        if (name.isEmpty()) {
            continue;
        }
        const QString fileName = CleanTileName(name);
        if (IsDotsOnlyTileName(fileName)) {
            if (refused) {
                refused->append(name);
            }
            continue;
        }
        auto tile = std::make_unique<CMosaicTile>(doc);
        std::vector<Wml::Point2> points;
        for (int i = 0; i < CadPlineGetNumVers(e); ++i) {
            double x = 0, y = 0, z = 0;
            CadPlineGetVer(e, i, &x, &y, &z);
            points.emplace_back(x, y);
            tile->m_minX = std::min(tile->m_minX, x);
            tile->m_maxX = std::max(tile->m_maxX, x);
            tile->m_minY = std::min(tile->m_minY, y);
            tile->m_maxY = std::max(tile->m_maxY, y);
        }
        tile->m_Outline = CPgon(points.data(), int(points.size()));
        tile->m_strName = name;
        tile->m_strOutputPath = folder + fileName + suffix;
        const double gt[6] = {tile->m_minX, pixelWidth, 0.0, tile->m_maxY, 0.0, pixelHeight};
        std::copy(gt, gt + 6, tile->m_geoTransform);
        tile->m_width = PixelSpan(tile->m_maxX - tile->m_minX, pixelWidth);
        tile->m_height = PixelSpan(tile->m_maxY - tile->m_minY, pixelHeight);
        tiles.push_back(std::move(tile));
    }
    return tiles;
}
