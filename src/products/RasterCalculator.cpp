#include "products/RasterCalculator.h"

#include <QFile>

#include <muParser.h>
#include <ogr_srs_api.h>
#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ProgressSink.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

constexpr int kStripRows = 256;
constexpr float kNoData = -9999.0f;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A band of the table with what sampling it needs.
struct TableBand {
    GDALRasterBandH band = nullptr;
    double originX = 0.0, pixelWidth = 1.0, originY = 0.0, rowStep = -1.0;
    int columns = 0;
    int rows = 0;
    bool readable = false;  // a real (not complex) band of a dataset with a geotransform
    // The type its strips hold: its own, or Float64 for the types sampled through doubles.
    GDALDataType readType = GDT_Float64;
    enum { NoNoData, FiniteNoData, NaNNoData, InfiniteNoData } noDataKind = NoNoData;
    double noData = 0.0;
};

// Whole rows of one band, from row first on, in the type they are read in.
struct Strip {
    int first = 0;
    int count = 0;
    std::vector<uint8_t> bytes;
};

// The cell of the last position a band was sampled at: an expression that names a band twice
// samples it twice at the same place.
struct LastCell {
    double x = kNaN;
    double column = 0.0;
    double y = kNaN;
    double row = 0.0;
};

// The band cells of the output grid's columns and rows, per band of the table (empty for the
// bands the expression does not name): what the rint rule gives for the grid's own x and y.
struct GridCells {
    std::vector<std::vector<double>> columns;
    std::vector<std::vector<double>> rows;
};

// What one evaluator samples through: a strip per band of the table, and the grid position it
// evaluates.
struct SampleContext {
    std::vector<Strip> strips;
    std::vector<LastCell> last;
    bool readFailed = false;
    const GridCells* cells = nullptr;
    double gridX = kNaN;
    double gridY = kNaN;
    int column = 0;
    int row = 0;
    // The samples of the grid row being evaluated, per band (filled at the band's first sample in
    // the row), and the grid row they hold (-1: none).
    std::vector<std::vector<double>> rowSamples;
    std::vector<int> rowFilled;
};

std::vector<TableBand> g_table;
// The table's indices as doubles: the parser's index variables point at them.
std::vector<double> g_indices;
// The strips of RasterCalculatorGetVal.
SampleContext g_context;
// Reads of the table's bands, one at a time: evaluators sample in parallel.
std::mutex g_readLock;

void EmptyStrips(SampleContext& context) {
    context.strips.assign(g_table.size(), Strip());
    context.last.assign(g_table.size(), LastCell());
    context.rowSamples.assign(g_table.size(), std::vector<double>());
    context.rowFilled.assign(g_table.size(), -1);
    context.readFailed = false;
}

TableBand DescribeBand(GDALDatasetH dataset, int number) {
    TableBand b;
    b.band = GDALGetRasterBand(dataset, number);
    double gt[6];
    if (!b.band || GDALGetGeoTransform(dataset, gt) != CE_None || gt[1] == 0.0 || gt[5] == 0.0) {
        return b;
    }
    b.originX = gt[0];
    b.pixelWidth = gt[1];
    b.originY = gt[3];
    b.rowStep = gt[5];
    b.columns = GDALGetRasterBandXSize(b.band);
    b.rows = GDALGetRasterBandYSize(b.band);
    const GDALDataType type = GDALGetRasterDataType(b.band);
    b.readable = !GDALDataTypeIsComplex(type);
    switch (type) {
        case GDT_Byte:
        case GDT_UInt16:
        case GDT_Int16:
        case GDT_UInt32:
        case GDT_Int32:
        case GDT_Float32:
            b.readType = type;
            break;
        default:
            b.readType = GDT_Float64;
            break;
    }
    int has = 0;
    const double noData = GDALGetRasterNoDataValue(b.band, &has);
    if (has) {
        // A Float32 band holds its no-data value as a float.
        b.noData = GDALGetRasterDataType(b.band) == GDT_Float32 ? double(float(noData)) : noData;
        b.noDataKind = std::isnan(noData)   ? TableBand::NaNNoData
                       : std::isinf(noData) ? TableBand::InfiniteNoData
                                            : TableBand::FiniteNoData;
    }
    return b;
}

bool ReadStrip(const TableBand& b, int row, Strip& strip) {
    const int count = std::min(kStripRows, b.rows - row);
    const int size = GDALGetDataTypeSizeBytes(b.readType);
    try {
        strip.bytes.resize(size_t(count) * size_t(b.columns) * size_t(size));
    } catch (const std::bad_alloc&) {
        strip = Strip();
        return false;
    }
    std::lock_guard<std::mutex> lock(g_readLock);
    if (GDALRasterIO(b.band, GF_Read, 0, row, b.columns, count, strip.bytes.data(), b.columns, count,
                     b.readType, 0, 0) != CE_None) {
        strip = Strip();
        return false;
    }
    strip.first = row;
    strip.count = count;
    return true;
}

template <class T>
double Cell(const Strip& strip, size_t index) {
    T v;
    std::memcpy(&v, strip.bytes.data() + index * sizeof(T), sizeof(T));
    return double(v);
}

// The value of a cell of a strip, NaN for the band's no-data.
double CellValue(const TableBand& b, const Strip& strip, size_t index) {
    double v;
    switch (b.readType) {
        case GDT_Byte:
            v = strip.bytes[index];
            break;
        case GDT_UInt16:
            v = Cell<uint16_t>(strip, index);
            break;
        case GDT_Int16:
            v = Cell<int16_t>(strip, index);
            break;
        case GDT_UInt32:
            v = Cell<uint32_t>(strip, index);
            break;
        case GDT_Int32:
            v = Cell<int32_t>(strip, index);
            break;
        case GDT_Float32:
            v = Cell<float>(strip, index);
            break;
        default:
            v = Cell<double>(strip, index);
            break;
    }
    switch (b.noDataKind) {
        case TableBand::NoNoData:
        case TableBand::NaNNoData:
            return v;
        case TableBand::FiniteNoData:
            return v == b.noData ? kNaN : v;
        case TableBand::InfiniteNoData:
            return std::isinf(v) ? kNaN : v;
    }
    return v;
}

// Makes sure the band's strip holds the row; false (and the context marked) when it cannot be read.
bool StripHolds(SampleContext& context, size_t k, int row) {
    Strip& strip = context.strips[k];
    if (row >= strip.first && row < strip.first + strip.count) {
        return true;
    }
    if (ReadStrip(g_table[k], row, strip)) {
        return true;
    }
    context.readFailed = true;
    return false;
}

// The samples of band k at every column of the context's grid row.
void FillRow(SampleContext& context, size_t k) {
    const TableBand& b = g_table[k];
    std::vector<double>& samples = context.rowSamples[k];
    const std::vector<double>& columns = context.cells->columns[k];
    samples.assign(columns.size(), kNaN);
    context.rowFilled[k] = context.row;
    const double row = context.cells->rows[k][size_t(context.row)];
    if (!(row >= 0.0 && row < b.rows) || !StripHolds(context, k, int(row))) {
        return;
    }
    const Strip& strip = context.strips[k];
    const size_t first = size_t(int(row) - strip.first) * size_t(b.columns);
    for (size_t c = 0; c < columns.size(); ++c) {
        if (columns[c] >= 0.0 && columns[c] < b.columns) {
            samples[c] = CellValue(b, strip, first + size_t(columns[c]));
        }
    }
}

// The sample of table entry bandIndex at the map position, through the context's strips.
double Sample(SampleContext& context, double bandIndex, double x, double y) {
    if (!(bandIndex >= 0.0 && bandIndex < double(g_table.size()))) {
        return kNaN;
    }
    const size_t k = size_t(bandIndex);
    const TableBand& b = g_table[k];
    if (!b.readable) {
        return kNaN;
    }
    // At the grid position being evaluated, the band's samples of the whole row are at hand.
    if (x == context.gridX && y == context.gridY && context.cells && !context.cells->columns[k].empty()) {
        if (context.rowFilled[k] != context.row) {
            FillRow(context, k);
        }
        return context.rowSamples[k][size_t(context.column)];
    }
    LastCell& last = context.last[k];
    if (x != last.x) {
        last.x = x;
        last.column = std::rint((x - b.originX) / b.pixelWidth);
    }
    if (y != last.y) {
        last.y = y;
        last.row = std::rint((y - b.originY) / b.rowStep);
    }
    const double column = last.column, row = last.row;
    if (!(column >= 0.0 && column < b.columns && row >= 0.0 && row < b.rows) ||
        !StripHolds(context, k, int(row))) {
        return kNaN;
    }
    const Strip& strip = context.strips[k];
    return CellValue(b, strip, size_t(int(row) - strip.first) * size_t(b.columns) + size_t(column));
}

double SampleOfContext(void* context, double bandIndex, double x, double y) {
    return Sample(*static_cast<SampleContext*>(context), bandIndex, x, y);
}

// Whether the datasets share one projection: every one has a projection and it is the same as the
// first's.
QByteArray SharedProjection(const std::vector<GDALDatasetH>& datasets) {
    QByteArray first;
    OGRSpatialReferenceH reference = nullptr;
    bool shared = !datasets.empty();
    for (GDALDatasetH ds : datasets) {
        const char* wkt = GDALGetProjectionRef(ds);
        if (!wkt || !*wkt) {
            shared = false;
            break;
        }
        if (!reference) {
            first = wkt;
            reference = OSRNewSpatialReference(wkt);
            shared = reference != nullptr;
            if (!shared) {
                break;
            }
            continue;
        }
        OGRSpatialReferenceH other = OSRNewSpatialReference(wkt);
        shared = other && OSRIsSame(reference, other);
        if (other) {
            OSRDestroySpatialReference(other);
        }
        if (!shared) {
            break;
        }
    }
    if (reference) {
        OSRDestroySpatialReference(reference);
    }
    return shared ? first : QByteArray();
}

// The cells of the grid's columns and rows for the bands the expression names, with x and y
// computed as the evaluators compute them.
GridCells CellsOf(const calc::Rewritten& formula, const calc::Grid& grid, int n, int m) {
    GridCells cells;
    cells.columns.resize(g_table.size());
    cells.rows.resize(g_table.size());
    for (const auto& variable : formula.variables) {
        const size_t k = size_t(variable.second);
        if (k >= g_table.size() || !cells.columns[k].empty()) {
            continue;
        }
        const TableBand& b = g_table[k];
        cells.columns[k].resize(size_t(n));
        for (int c = 0; c < n; ++c) {
            const double x = grid.left + c * grid.pixel;
            cells.columns[k][size_t(c)] = std::rint((x - b.originX) / b.pixelWidth);
        }
        cells.rows[k].resize(size_t(m));
        for (int r = 0; r < m; ++r) {
            const double y = grid.top - r * grid.pixel;
            cells.rows[k][size_t(r)] = std::rint((y - b.originY) / b.rowStep);
        }
    }
    return cells;
}

// One evaluator: a parser of its own over its own (x, y) and strips. The evaluators of one
// evaluation share the expression and the index variables.
struct Evaluator {
    mu::Parser parser;
    double x = 0.0;
    double y = 0.0;
    SampleContext context;
    QString error;
    // The rewritten references ("GetVal(vb_i,x,y)") always sample at the evaluated position: the
    // evaluation reads them from the row's samples through a variable per band instead of calling
    // the sampler; GetVal calls typed by the operator still go through it.
    std::vector<double> gridSamples;
    std::vector<size_t> referenced;
    std::string evaluated;

    void Define(const calc::Rewritten& formula) {
        parser.DefineVar("x", &x);
        parser.DefineVar("y", &y);
        gridSamples.assign(g_table.size(), kNaN);
        evaluated = formula.expression;
        for (const auto& [name, index] : formula.variables) {
            if (index >= 0 && size_t(index) < g_indices.size()) {
                parser.DefineVar(name, &g_indices[size_t(index)]);
                const std::string sample = "gv_" + std::to_string(index);
                parser.DefineVar(sample, &gridSamples[size_t(index)]);
                referenced.push_back(size_t(index));
                const std::string call = "GetVal(" + name + ",x,y)";
                for (size_t at = evaluated.find(call); at != std::string::npos;
                     at = evaluated.find(call, at + sample.size())) {
                    evaluated.replace(at, call.size(), sample);
                }
            }
        }
        parser.DefineFunUserData("GetVal", SampleOfContext, &context, false);
        // The expression as rewritten, so that the parser's messages name what it was given.
        parser.SetExpr(formula.expression);
        EmptyStrips(context);
    }
    void UseRowSamples() { parser.SetExpr(evaluated); }

    // Rows first to end (exclusive) of the grid into the buffer, whose row 0 is grid row base.
    void Rows(const calc::Grid& grid, int n, int first, int end, int base, float* buffer) {
        try {
            for (int r = first; r < end && !context.readFailed; ++r) {
                y = grid.top - r * grid.pixel;
                context.gridY = y;
                context.row = r;
                float* line = buffer + size_t(r - base) * size_t(n);
                for (size_t k : referenced) {
                    if (g_table[k].readable && context.rowFilled[k] != r) {
                        FillRow(context, k);
                    }
                }
                for (int c = 0; c < n; ++c) {
                    x = grid.left + c * grid.pixel;
                    context.gridX = x;
                    context.column = c;
                    for (size_t k : referenced) {
                        gridSamples[k] = g_table[k].readable ? context.rowSamples[k][size_t(c)] : kNaN;
                    }
                    const float v = static_cast<float>(parser.Eval());
                    line[c] = std::isfinite(v) ? v : kNoData;
                }
            }
        } catch (const mu::Parser::exception_type& e) {
            error = QString::fromStdString(e.GetMsg());
        }
    }
};

}  // namespace

double RasterCalculatorGetVal(double bandIndex, double x, double y) {
    if (g_context.strips.size() != g_table.size()) {
        EmptyStrips(g_context);
    }
    return Sample(g_context, bandIndex, x, y);
}

namespace calc {

void BuildBandTable(const std::vector<LayerRow>& rows) {
    g_table.clear();
    for (const LayerRow& row : rows) {
        if (!row.dataset) {
            continue;
        }
        for (int b = 1; b <= GDALGetRasterCount(row.dataset); ++b) {
            g_table.push_back(DescribeBand(row.dataset, b));
        }
    }
    g_indices.resize(g_table.size());
    for (size_t i = 0; i < g_indices.size(); ++i) {
        g_indices[i] = double(i);
    }
    EmptyStrips(g_context);
}

Rewritten RewriteFormula(const QString& formula, const std::vector<LayerRow>& rows) {
    Rewritten out;
    const int length = int(formula.size());
    int j = 0;
    while (j < length) {
        bool matched = false;
        for (const LayerRow& row : rows) {
            const int nameEnd = j + int(row.name.size());
            if (row.name.isEmpty() || !row.dataset || nameEnd >= length ||
                formula[nameEnd] != QLatin1Char('<') || formula.mid(j, row.name.size()) != row.name) {
                continue;
            }
            const int close = int(formula.indexOf(QLatin1Char('>'), nameEnd + 1));
            if (close < 0) {
                continue;
            }
            bool isNumber = false;
            const int number = formula.mid(nameEnd + 1, close - nameEnd - 1).trimmed().toInt(&isNumber);
            if (!isNumber) {
                continue;
            }
            if (number < 1 || number > GDALGetRasterCount(row.dataset)) {
                out.invalidReference = formula.mid(j, close - j + 1);
                return out;
            }
            const GDALRasterBandH band = GDALGetRasterBand(row.dataset, number);
            int index = 0;
            for (size_t i = 0; i < g_table.size(); ++i) {
                if (g_table[i].band == band) {
                    index = int(i);
                    break;
                }
            }
            const std::string variable = "vb_" + std::to_string(index);
            if (std::none_of(out.variables.begin(), out.variables.end(),
                             [&](const auto& v) { return v.first == variable; })) {
                out.variables.emplace_back(variable, index);
            }
            if (std::find(out.datasets.begin(), out.datasets.end(), row.dataset) == out.datasets.end()) {
                out.datasets.push_back(row.dataset);
            }
            out.expression += "GetVal(" + variable + ",x,y)";
            j = close + 1;
            matched = true;
            break;
        }
        if (!matched) {
            if (formula[j] != QLatin1Char(' ')) {
                out.expression += QString(formula[j]).toStdString();
            }
            ++j;
        }
    }
    return out;
}

Grid OutputGrid(const std::vector<GDALDatasetH>& datasets) {
    double left = std::numeric_limits<double>::max(), right = std::numeric_limits<double>::lowest();
    double top = std::numeric_limits<double>::lowest(), bottom = std::numeric_limits<double>::max();
    double p = std::numeric_limits<double>::max();
    for (GDALDatasetH ds : datasets) {
        double gt[6];
        if (GDALGetGeoTransform(ds, gt) != CE_None) {
            continue;
        }
        left = std::min(left, gt[0]);
        right = std::max(right, gt[0] + GDALGetRasterXSize(ds) * gt[1]);
        top = std::max(top, gt[3]);
        bottom = std::min(bottom, gt[3] + GDALGetRasterYSize(ds) * gt[5]);
        p = std::min({p, std::abs(gt[1]), std::abs(gt[5])});
    }
    Grid grid;
    if (!(p > 0.0 && p < std::numeric_limits<double>::max())) {
        return grid;
    }
    grid.left = left;
    grid.top = top;
    grid.pixel = p;
    grid.columns = std::rint((right - left) / p) + 1.0;
    grid.rows = std::rint((top - bottom) / p) + 1.0;
    return grid;
}

Result EvaluateFormula(const Rewritten& formula, const Grid& grid, const QString& path,
                       ProgressSink* progress, QString* message) {
    // Evaluators work on bands of 256 rows each, side by side; each keeps its own strips, so a
    // top-to-bottom scan still reads each input row about once.
    const int workers = std::clamp(cv::getNumThreads(), 1, 16);
    std::vector<std::unique_ptr<Evaluator>> evaluators;
    try {
        for (int i = 0; i < workers; ++i) {
            evaluators.push_back(std::make_unique<Evaluator>());
            evaluators.back()->Define(formula);
        }
        // Errors the parser finds only when it compiles the expression show before any file.
        evaluators[0]->x = grid.left;
        evaluators[0]->y = grid.top;
        evaluators[0]->parser.Eval();
        EmptyStrips(evaluators[0]->context);
    } catch (const mu::Parser::exception_type& e) {
        *message = QString::fromStdString(e.GetMsg());
        return Result::ParserError;
    }
    const double maxSide = double(std::numeric_limits<int>::max());
    if (!(grid.pixel > 0.0 && grid.columns >= 1.0 && grid.rows >= 1.0 && grid.columns <= maxSide &&
          grid.rows <= maxSide)) {
        return Result::CreateFailed;
    }
    const int n = int(grid.columns), m = int(grid.rows);
    kv::NewFloatRaster output(path);
    const double gt[6] = {grid.left, grid.pixel, 0.0, grid.top, 0.0, -grid.pixel};
    const char* const options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=IF_SAFER",
                                   nullptr};
    if (!output.Create(n, m, options, gt, kNoData, SharedProjection(formula.datasets))) {
        return Result::CreateFailed;
    }
    GridCells cells;
    try {
        cells = CellsOf(formula, grid, n, m);
    } catch (const std::bad_alloc&) {
        return Result::CreateFailed;
    }
    try {
        for (const auto& e : evaluators) {
            e->context.cells = &cells;
            e->UseRowSamples();
        }
    } catch (const mu::Parser::exception_type& e) {
        *message = QString::fromStdString(e.GetMsg());
        return Result::ParserError;
    }
    const int chunk = kStripRows * workers;
    std::vector<float> buffer;
    try {
        buffer.resize(size_t(std::min(chunk, m)) * size_t(n));
    } catch (const std::bad_alloc&) {
        return Result::CreateFailed;
    }
    if (progress) {
        progress->SetRange(0, 100);
        progress->SetPos(0);
        progress->SetStartTime();
    }
    ZQT_PumpMessages();
    for (int first = 0; first < m; first += chunk) {
        if (progress && progress->IsAborted()) {
            progress->SetPos(0);
            return Result::Aborted;
        }
        const int end = std::min(m, first + chunk);
        cv::parallel_for_(
            cv::Range(0, workers),
            [&](const cv::Range& range) {
                for (int i = range.start; i < range.end; ++i) {
                    const int from = first + i * kStripRows;
                    evaluators[size_t(i)]->Rows(grid, n, from, std::min(end, from + kStripRows), first,
                                                buffer.data());
                }
            },
            workers);
        for (const auto& e : evaluators) {
            if (!e->error.isEmpty()) {
                *message = e->error;
                return Result::ParserError;
            }
            if (e->context.readFailed) {
                return Result::ReadFailed;
            }
        }
        for (int strip = first; strip < end; strip += kStripRows) {
            const int count = std::min(kStripRows, end - strip);
            if (GDALRasterIO(output.Band(), GF_Write, 0, strip, n, count,
                             buffer.data() + size_t(strip - first) * size_t(n), n, count, GDT_Float32, 0,
                             0) != CE_None) {
                return Result::CreateFailed;
            }
        }
        if (progress) {
            progress->SetPos(int(std::lround(end * 100.0 / m)));
        }
        ZQT_PumpMessages();
    }
    evaluators.clear();
    if (progress) {
        progress->SetPos(0);
    }
    if (kv::OverviewLevelCount(n, m) >= 1) {
        if (progress) {
            progress->SetRange(0, 100);
            progress->SetPos(0);
            progress->SetStartTime();
            progress->SetBarText(QStringLiteral("Building overviews..."));
        }
        CGDALListener listener(progress);
        const bool built = kv::BuildOverviews(output.Dataset(), &listener) != 0;
        if (progress) {
            progress->SetPos(0);
            progress->SetBarText(QStringLiteral(""));
        }
        if (!built) {
            return progress && progress->IsAborted() ? Result::Aborted : Result::CreateFailed;
        }
    }
    return output.Place() ? Result::Done : Result::CreateFailed;
}

}  // namespace calc
