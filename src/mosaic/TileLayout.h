// The tile layout of a project: the named output areas that the mosaic build and the DEM split cut
// their results into. One tile is a closed outline and a text label on the drawing layer "Tiles",
// both carrying the tile's name as extended data of exactly kTileNameSize bytes and the other's
// entity id as user data. An entity of "Tiles" belongs to the layout when it carries extended
// data.
//
// The layout is made by the "Tiles Setup" grid (CTilesGenerationDlg), by importing a drawing (one
// tile per layer) or a polygon shapefile (one tile per feature), and cleared by Remove All Tiles.
#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "document/DocRecords.h"
#include "platform/cad/Cad.h"
#include "platform/geometry/Pgon.h"
#include "platform/math/Wml.h"

class CKelvaroDoc;
class CMosaicTile;

inline constexpr char kTilesLayer[] = "Tiles";
inline constexpr char kTempTilesLayer[] = "TempTiles";
// Size of the extended data that holds a tile's zero-terminated name.
constexpr int kTileNameSize = 256;
// Colours of confirmed grid tiles, and of previews and imported tiles.
constexpr int kTileColour = 6;
constexpr int kPreviewTileColour = 4;
constexpr double kTileLabelHeight = 3.0;

// The drawing's layer of that name, added (colour 6, continuous, lineweight -3) when missing.
CadLayer* GetTileLayer(CadDrawing* drawing, const char* name);

// Adds one tile on the layer: the closed outline through the points and the label at the centre
// of their bounding box, in the colour, linked to each other and named.
TileHandleStruct AddTile(CadDrawing* drawing, CadLayer* layer, const std::string& name,
                         const std::vector<Wml::Point3>& outline, int colour);

// The name an entity carries as tile; empty when it carries none.
std::string TileNameOf(CadEntity* entity);
// The names that the entities of the layer carry, by the rule of CleanTileName and lower-cased.
std::set<std::string> ExistingTileNames(CadLayer* layer);

// The union of the extent rectangles of the project's orthophotos and DEMs (a DEM without a
// dataset counts with its grid in memory, one with neither not at all).
CPgon TileFootprint(const CKelvaroDoc& doc);

// A grid of tiles over a footprint: origin, tile size and overlaps.
struct TileGrid {
    double originX = 0.0;
    double originY = 0.0;
    double width = 1000.0;
    double height = 1000.0;
    double overlapX = 0.0;
    double overlapY = 0.0;
};
// One position of the grid that the footprint reaches: its name "T-rr-cc" and its lower-left
// corner.
struct GridTile {
    std::string name;
    double x = 0.0;
    double y = 0.0;
};
// The positions of the grid whose rectangle overlaps the footprint in an area above 0, rows from
// the origin upwards while y < trunc(max y) + 1, columns to the right while x < trunc(max x) + 1.
// A position without a tile still uses up its row and column number. The grid must advance
// (width > overlap X, height > overlap Y). pump runs once per position when given.
std::vector<GridTile> LayTileGrid(const CPgon& footprint, const TileGrid& grid, void (*pump)() = nullptr);

// Both imports name a tile by ImportedTileName and take only names that no tile has yet.
//
// Imports tiles from a DWG or DXF drawing, one per layer named by its name: the layer's first
// closed polyline of more than 2 vertices with a bounding box of some width and height. 1 when the
// import ran (also when it added nothing); 0 for an empty path or a drawing that cannot be read
// ("Unable to import this file.\nAutocad 2000 dwg/dxf supported").
int ImportTilesFromDrawing(CKelvaroDoc& doc, const QString& path);
// Imports tiles from the first polygon layer of a shapefile, one per feature, named by the value
// of the field the operator chooses (CShapeFileFieldsDlg). 1 when the import ran; 0 for an empty
// path, a file that cannot be opened ("Unable to open selected file!") or a cancelled field
// choice.
int ImportTilesFromShapefile(CKelvaroDoc& doc, const QString& path);
// What names an imported tile in its file: a drawing's layer name, or a shapefile's attribute
// value, which holds the path of the tile's raster.
enum class TileNameText { LayerName, FilePath };
// The name an imported tile takes from the text that names it in the file, so that it names one
// visible file in the chosen folder and keeps what it can of the text: the text cut to 255 bytes
// between characters; its file-name part, after the last "/", "\" or ":"; without leading dots;
// a file path without its extension as well (a layer name keeps its dots); control characters as
// "_"; lower-cased. "tile_%03d" with the index of the layer or feature when nothing is left ("",
// ".", "..", "C:\out\").
std::string ImportedTileName(const std::string& source, int index,
                             TileNameText text = TileNameText::FilePath);
// The UTF-8 text cut to at most maxBytes bytes between two characters.
std::string CutBetweenCharacters(const std::string& text, size_t maxBytes);

// The file name of a tile of any layout, whatever made it (the layout of a project's drawing may
// hold any text as a tile's name): every control character, folder separator ("/", "\") and drive
// colon is replaced by "_", so that a name is one file name inside the folder the operator chose
// ("../x" gives ".._x") and holds no line break.
QString CleanTileName(const QString& name);
// A name made only of dots (".", "..") names no file of its own: such a tile is refused.
bool IsDotsOnlyTileName(const QString& name);
// Why such a tile is refused, as the operator is told.
extern const char kDotsOnlyTileName[];

// The tiles of the layer as their readers (the mosaic build, the DEM split) take them: every
// visible, not erased, closed polyline of more than 2 vertices that carries a non-empty name, in
// the layer's order, as records of the document with the name, the outline and its bounding box,
// the output path folder + CleanTileName(name) + suffix, and the pixel grid (pixel width, pixel
// height) from the box's top-left corner. A tile whose name is only dots is left out and its name
// added to refused (when given).
std::vector<std::unique_ptr<CMosaicTile>> ReadTileLayout(CadLayer* tilesLayer, CKelvaroDoc* doc,
                                                         double pixelWidth, double pixelHeight,
                                                         const QString& folder, const QString& suffix,
                                                         QStringList* refused = nullptr);

// Tells in the command line that a tile was not written, and why: "Tile NAME not written: CAUSE".
void TellTileNotWritten(CadDrawing* drawing, const QString& name, const QString& cause);

// Whether a file (or a link) stands at the path that a tile would take; a folder does not count.
bool FileStandsAt(const QString& path);
// Counts, of the files that writing a raster at path replaces or removes (the raster and
// kv::RasterSideFiles), those that stand there: the raster as replaced, the side files that go with it as
// removed.
void CountRasterFilesAt(const QString& path, int* replaced, int* removed);
// For each tile, whether an earlier tile of the list writes the same file. File names count as
// the same whatever their case: the project names a layer by its lower-cased file name, and many
// disks keep one file for both spellings.
std::vector<bool> TilesSharingAFile(const std::vector<std::unique_ptr<CMosaicTile>>& tiles);
// Why such a tile is not written, as the operator is told.
extern const char kSharedTileFile[];
// Asked once before the first tile file is written when files already stand at the tiles' paths:
// "N files in FOLDER would be replaced and M removed. Continue?" (Yes/No). True when nothing
// stands there or the operator answers Yes.
bool ConfirmTileFiles(const QString& folder, int replaced, int removed);

// "Setup Tiles": the setup dialog, reopened after each pick of the origin.
void RunTilesSetup(CKelvaroDoc& doc);
// "Import Tiles": a chooser of DWG, DXF and SHP files, then the importer of the extension.
void RunTilesImport(CKelvaroDoc& doc);
// "Remove All Tiles": erases every entity of "Tiles" that carries extended data and purges the
// drawing when one was erased.
void RunRemoveAllTiles(CKelvaroDoc& doc);
