// The raster calculator: an expression over the bands of the project's layers, evaluated pixel by
// pixel into a new Float32 GeoTIFF. A band is named by its layer's name and its band number in
// angle brackets ("Field<3>"); the reference becomes a call GetVal(vb_i, x, y) of the expression
// parser (muParser), where vb_i holds the band's index in the band table and (x, y) are the map
// coordinates of the output pixel's upper-left corner.
#pragma once

#include <QString>

#include <gdal.h>

#include <string>
#include <vector>

class ProgressSink;
struct CadDrawing;

// RASTERCALCULATOR: the calculator dialog over the project's layers.
void CmdRasterCalculator(CadDrawing* drawing);

// The sample of band table entry (int)bandIndex at the map position: the cell whose centre
// rounding (rint) picks, NaN off the band, on its no-data value (any infinite sample when that
// value is infinite), for an index outside the table or when the band cannot be read. Each band
// keeps a strip of up to 256 whole rows, read again when a position falls outside it.
double RasterCalculatorGetVal(double bandIndex, double x, double y);

namespace calc {

// A row of the layer list: the layer's name and its dataset.
struct LayerRow {
    QString name;
    GDALDatasetH dataset = nullptr;
};

// Makes every band of every row, rows in order and bands in order, an entry of the band table
// that GetVal samples, and empties the strips.
void BuildBandTable(const std::vector<LayerRow>& rows);

// A formula with its band references turned into GetVal calls.
struct Rewritten {
    std::string expression;
    // Names of the index variables (vb_i) and the table entries they hold.
    std::vector<std::pair<std::string, int>> variables;
    // The datasets referenced, in the order of their first reference.
    std::vector<GDALDatasetH> datasets;
    // A reference to a band its layer lacks ("Field<7>", also a number too large for any band);
    // the formula is refused then.
    QString invalidReference;
    // The first text that reads as a reference though no row has its name ("nosuch.tif<1>").
    QString unknownReference;
};
// Rewrites the formula against the rows (and the band table BuildBandTable made of them): at each
// position the first row whose name stands there followed directly by "<", a whole number and
// ">" is a reference; spaces outside references are dropped, every other character is kept.
Rewritten RewriteFormula(const QString& formula, const std::vector<LayerRow>& rows);

// The output grid of the referenced datasets: their union at the finest pixel size among them,
// with rint(width / p) + 1 columns and rint(height / p) + 1 rows.
struct Grid {
    double left = 0.0;
    double top = 0.0;
    double pixel = 0.0;
    double columns = 0.0;
    double rows = 0.0;
};
Grid OutputGrid(const std::vector<GDALDatasetH>& datasets);

enum class Result { Done, Aborted, ParserError, CreateFailed, ReadFailed, NoSpace };

// Evaluates the rewritten formula over the grid into a tiled Float32 GeoTIFF at path (no data
// -9999, also for NaN and infinite results; the projection the referenced datasets share, when
// they share one; overviews), written under a temporary name and put in place only when complete.
// The grid is evaluated in strips of at most 256 rows (fewer for very wide grids), each strip's
// cells shared among the evaluators and a run of a row per parser call; the progress sink is
// polled for an abort before every strip. On a parser error *message holds the parser's text, on
// NoSpace (an output larger than the free space of its folder) the operator's message, on
// CreateFailed and ReadFailed the cause of the failure when one is known (what GDAL said of the
// read or the write, the system's words for a write that failed), else nothing. Anything but Done
// leaves the file at path as it was.
Result EvaluateFormula(const Rewritten& formula, const Grid& grid, const QString& path,
                       ProgressSink* progress, QString* message);

}  // namespace calc
