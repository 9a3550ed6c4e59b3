#include "products/RasterCalculator.h"

#include <QFile>

#include <muParser.h>
#include <ogr_srs_api.h>
#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <new>

#ifdef _OPENMP
#include <omp.h>
#endif

#include "platform/raster/RasterSpace.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/Threads.h"
#include "platform/tools/ZQT.h"
#include "products/RasterCalculatorRuns.h"
#include "raster/GDALListener.h"
#include "raster/RasterIO.h"

namespace {

// Rows of a band in one strip of the sampler, and output rows evaluated and written at once (the
// output's tile height).
constexpr int kStripRows = 256;
// An output strip holds at most this many cells: a very wide output takes fewer rows at once, so
// that memory stays bounded and Abort is seen often whatever the width.
constexpr int64_t kStripCells = int64_t(1) << 22;
// Cells per parser call at most: the length of each evaluator's buffers.
constexpr int kRunCells = 1 << 16;
// Cells per run of an expression evaluated by our own loops: no call to amortise, and the run's
// samples stay in the cache between their copy and their use.
constexpr int kProgramRunCells = 1 << 12;
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

// What the sampler reads through: a strip per band of the table.
struct SampleContext {
    std::vector<Strip> strips;
    std::vector<LastCell> last;
    bool readFailed = false;
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

// Reads the window of the band (columns first to first + width - 1, rows likewise) in the type
// its strips hold; false, and the bytes released, when it cannot be held or read.
bool ReadWindow(const TableBand& b, int firstColumn, int firstRow, int width, int height,
                std::vector<uint8_t>& bytes) {
    const int size = GDALGetDataTypeSizeBytes(b.readType);
    try {
        bytes.resize(size_t(width) * size_t(height) * size_t(size));
    } catch (const std::bad_alloc&) {
        bytes = std::vector<uint8_t>();
        return false;
    }
    std::lock_guard<std::mutex> lock(g_readLock);
    if (GDALRasterIO(b.band, GF_Read, firstColumn, firstRow, width, height, bytes.data(), width, height,
                     b.readType, 0, 0) != CE_None) {
        bytes = std::vector<uint8_t>();
        return false;
    }
    return true;
}

bool ReadStrip(const TableBand& b, int row, Strip& strip) {
    const int count = std::min(kStripRows, b.rows - row);
    if (!ReadWindow(b, 0, row, b.columns, count, strip.bytes)) {
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

// Whether a sample is the band's no-data (any infinite sample when that value is infinite). A
// band whose no-data is NaN keeps its NaN samples, which the expression sees as NaN anyway.
inline bool IsNoData(const TableBand& b, double v) {
    switch (b.noDataKind) {
        case TableBand::FiniteNoData:
            return v == b.noData;
        case TableBand::InfiniteNoData:
            return std::isinf(v);
        default:
            return false;
    }
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
    return IsNoData(b, v) ? kNaN : v;
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

// The rows of a band that one strip of the grid samples (the columns any grid column takes), in
// the type its strips hold.
struct BandWindow {
    int firstRow = 0;
    int rowCount = 0;
    std::vector<uint8_t> bytes;
};

// A band the expression names, as the evaluation reads it: the band cell under each column and
// row of the grid (-1 off the band; columns counted from the first one any grid column takes).
// It has two windows: the strip being evaluated reads one while the next strip is read into the
// other.
struct BandPlan {
    size_t table = 0;
    std::vector<int> columns;
    std::vector<int> rows;
    int firstColumn = 0;
    int columnCount = 0;
    BandWindow windows[2];
    // When the grid columns runFrom to runTo - 1 take consecutive band columns and no other grid
    // column takes any (grids of the same pixel size): the window column of grid column c is
    // c + runOffset there.
    bool consecutive = false;
    int runFrom = 0;
    int runTo = 0;
    int runOffset = 0;

    // The cells of the grid's columns and rows, with x and y computed as the evaluators compute
    // them and the rint rule of the sampler.
    void Map(const calc::Grid& grid, int n, int m) {
        const TableBand& b = g_table[table];
        columns.assign(size_t(n), -1);
        rows.assign(size_t(m), -1);
        if (!b.readable) {
            return;
        }
        int lowest = std::numeric_limits<int>::max(), highest = -1;
        for (int c = 0; c < n; ++c) {
            const double x = grid.left + c * grid.pixel;
            const double cell = std::rint((x - b.originX) / b.pixelWidth);
            if (cell >= 0.0 && cell < b.columns) {
                columns[size_t(c)] = int(cell);
                lowest = std::min(lowest, int(cell));
                highest = std::max(highest, int(cell));
            }
        }
        if (highest < 0) {
            return;
        }
        firstColumn = lowest;
        columnCount = highest - lowest + 1;
        runFrom = n;
        runTo = 0;
        for (int c = 0; c < n; ++c) {
            int& cell = columns[size_t(c)];
            cell = cell >= 0 ? cell - firstColumn : -1;
            if (cell >= 0) {
                runFrom = std::min(runFrom, c);
                runTo = c + 1;
            }
        }
        runOffset = columns[size_t(runFrom)] - runFrom;
        consecutive = true;
        for (int c = runFrom; c < runTo && consecutive; ++c) {
            consecutive = columns[size_t(c)] == c + runOffset;
        }
        for (int r = 0; r < m; ++r) {
            const double y = grid.top - r * grid.pixel;
            const double cell = std::rint((y - b.originY) / b.rowStep);
            if (cell >= 0.0 && cell < b.rows) {
                rows[size_t(r)] = int(cell);
            }
        }
    }

    // Reads the rows that grid rows first to end - 1 sample into the window; false when they
    // cannot be read.
    bool ReadRows(int first, int end, BandWindow& window) const {
        int lowest = std::numeric_limits<int>::max(), highest = -1;
        for (int r = first; columnCount > 0 && r < end; ++r) {
            const int row = rows[size_t(r)];
            if (row >= 0) {
                lowest = std::min(lowest, row);
                highest = std::max(highest, row);
            }
        }
        if (highest < 0) {
            window.rowCount = 0;
            return true;
        }
        window.firstRow = lowest;
        window.rowCount = highest - lowest + 1;
        return ReadWindow(g_table[table], firstColumn, window.firstRow, columnCount, window.rowCount,
                          window.bytes);
    }

    // The samples of grid row r at grid columns c0 to c0 + count - 1, NaN off the band and on its
    // no-data. The type is switched once per run, not per cell.
    void Samples(const BandWindow& window, int r, int c0, int count, double* out) const {
        const int row = rows[size_t(r)];
        if (row < 0 || window.rowCount == 0) {
            std::fill(out, out + count, kNaN);
            return;
        }
        const TableBand& b = g_table[table];
        const size_t size = size_t(GDALGetDataTypeSizeBytes(b.readType));
        const uint8_t* bytes =
            window.bytes.data() + size_t(row - window.firstRow) * size_t(columnCount) * size;
        switch (b.readType) {
            case GDT_Byte:
                Take(bytes, c0, count, out);
                break;
            case GDT_UInt16:
                Take(reinterpret_cast<const uint16_t*>(bytes), c0, count, out);
                break;
            case GDT_Int16:
                Take(reinterpret_cast<const int16_t*>(bytes), c0, count, out);
                break;
            case GDT_UInt32:
                Take(reinterpret_cast<const uint32_t*>(bytes), c0, count, out);
                break;
            case GDT_Int32:
                Take(reinterpret_cast<const int32_t*>(bytes), c0, count, out);
                break;
            case GDT_Float32:
                Take(reinterpret_cast<const float*>(bytes), c0, count, out);
                break;
            default:
                Take(reinterpret_cast<const double*>(bytes), c0, count, out);
                break;
        }
        if (b.noDataKind == TableBand::FiniteNoData || b.noDataKind == TableBand::InfiniteNoData) {
            for (int i = 0; i < count; ++i) {
                if (IsNoData(b, out[i])) {
                    out[i] = kNaN;
                }
            }
        }
    }

    // The window row's values under grid columns c0 to c0 + count - 1, NaN off the band.
    template <class T>
    void Take(const T* row, int c0, int count, double* out) const {
        if (!consecutive) {
            const int* cells = columns.data() + c0;
            for (int i = 0; i < count; ++i) {
                out[i] = cells[i] >= 0 ? double(row[cells[i]]) : kNaN;
            }
            return;
        }
        const int from = std::clamp(runFrom - c0, 0, count);
        const int to = std::clamp(runTo - c0, from, count);
        std::fill(out, out + from, kNaN);
        const int shift = c0 + runOffset;
        for (int i = from; i < to; ++i) {
            out[i] = double(row[shift + i]);
        }
        std::fill(out + to, out + count, kNaN);
    }
};

// Keeps the parser's bulk evaluation on the calling thread while it lives, and gives the thread
// back the thread count it had (the user-interface thread runs evaluators too).
class OneParserThread {
public:
    OneParserThread() {
#ifdef _OPENMP
        m_previous = omp_get_max_threads();
        omp_set_num_threads(1);
#endif
    }
    ~OneParserThread() {
#ifdef _OPENMP
        omp_set_num_threads(m_previous);
#endif
    }
    OneParserThread(const OneParserThread&) = delete;
    OneParserThread& operator=(const OneParserThread&) = delete;

private:
    [[maybe_unused]] int m_previous = 0;
};

// One evaluator: a parser of its own over buffers of its own. The parser evaluates a run of cells
// per call (its bulk mode): every variable is an array with one entry per cell of the run. The
// evaluators of one evaluation share the expression and read the same band windows.
struct Evaluator {
    mu::Parser parser;
    std::vector<double> x;
    std::vector<double> y;
    std::vector<double> results;
    // The index variables (vb_i), each an array holding i.
    std::vector<std::vector<double>> indices;
    // The samples of each planned band under the run: the rewritten references
    // ("GetVal(vb_i,x,y)") always sample at the evaluated position, so the evaluation reads them
    // from the band windows through a variable per band instead of calling the sampler. GetVal
    // calls typed by the operator still go through it.
    std::vector<std::vector<double>> samples;
    SampleContext context;
    QString error;
    std::string evaluated;
    // The expression over whole runs, when it is in the program's reach; the parser otherwise.
    calc::RunProgram program;
    // Whether the expression reads the positions (x and y are filled only then).
    bool usesPosition = true;

    void Define(const calc::Rewritten& formula, const std::vector<BandPlan>& plans, int bulk) {
        x.assign(size_t(bulk), 0.0);
        y.assign(size_t(bulk), 0.0);
        results.assign(size_t(bulk), 0.0);
        parser.DefineVar("x", x.data());
        parser.DefineVar("y", y.data());
        indices.resize(formula.variables.size());
        samples.resize(plans.size());
        evaluated = formula.expression;
        for (size_t v = 0; v < formula.variables.size(); ++v) {
            const std::string& name = formula.variables[v].first;
            const int index = formula.variables[v].second;
            if (index < 0 || size_t(index) >= g_indices.size()) {
                continue;
            }
            indices[v].assign(size_t(bulk), g_indices[size_t(index)]);
            parser.DefineVar(name, indices[v].data());
            const auto plan = std::find_if(plans.begin(), plans.end(),
                                           [&](const BandPlan& p) { return p.table == size_t(index); });
            if (plan == plans.end()) {
                continue;
            }
            std::vector<double>& run = samples[size_t(plan - plans.begin())];
            run.assign(size_t(bulk), kNaN);
            const std::string sample = "gv_" + std::to_string(index);
            parser.DefineVar(sample, run.data());
            const std::string call = "GetVal(" + name + ",x,y)";
            for (size_t at = evaluated.find(call); at != std::string::npos;
                 at = evaluated.find(call, at + sample.size())) {
                evaluated.replace(at, call.size(), sample);
            }
        }
        parser.DefineFunUserData("GetVal", SampleOfContext, &context, false);
        // The expression as rewritten, so that the parser's messages name what it was given.
        parser.SetExpr(formula.expression);
        EmptyStrips(context);
    }
    // Switches to the band samples; the parser compiles the expression once for the program.
    void UseBandSamples() {
        parser.SetExpr(evaluated);
        const mu::varmap_type& used = parser.GetUsedVar();
        usesPosition = used.count("x") != 0 || used.count("y") != 0;
        parser.Eval();
        EmptyStrips(context);
        program.Compile(parser);
    }

    // Cells first to end - 1 of the grid in row order into the buffer, which holds the strip
    // from grid row base on, through the plans' windows of the slot: a run of at most the
    // buffers' length per parser call, a run taking the pieces of the rows it spans.
    void Cells(const calc::Grid& grid, int n, int64_t first, int64_t end, int base,
               const std::vector<BandPlan>& plans, int slot, float* buffer) {
        // The parser would spread each run over threads of its own; the runs are spread already.
        const OneParserThread one;
        const int64_t bulk =
            program.Ready() ? std::min<int64_t>(kProgramRunCells, int64_t(x.size())) : int64_t(x.size());
        try {
            for (int64_t cell = first; cell < end && !context.readFailed;) {
                const int count = int(std::min(bulk, end - cell));
                for (int done = 0; done < count;) {
                    const int r = int((cell + done) / n);
                    const int c0 = int((cell + done) % n);
                    const int piece = std::min(n - c0, count - done);
                    if (usesPosition) {
                        const double row = grid.top - r * grid.pixel;
                        double* xs = x.data() + done;
                        double* ys = y.data() + done;
                        for (int i = 0; i < piece; ++i) {
                            xs[i] = grid.left + (c0 + i) * grid.pixel;
                            ys[i] = row;
                        }
                    }
                    for (size_t k = 0; k < plans.size(); ++k) {
                        plans[k].Samples(plans[k].windows[slot], r, c0, piece, samples[k].data() + done);
                    }
                    done += piece;
                }
                if (program.Ready()) {
                    program.Run(count, results.data());
                } else {
                    parser.Eval(results.data(), count);
                }
                float* out = buffer + size_t(cell - int64_t(base) * n);
                for (int i = 0; i < count; ++i) {
                    const float v = static_cast<float>(results[size_t(i)]);
                    out[i] = std::isfinite(v) ? v : kNoData;
                }
                cell += count;
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

namespace {

// Digits only, at least one.
bool IsWholeNumber(const QString& text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}

// The reference that the "<" at position at closes, when it reads as one ("name<3>") though no
// row is named so: the name back to the previous operator, bracket, comma or space. Empty when it
// does not read as a reference.
QString UnknownReferenceAt(const QString& formula, int at) {
    const int close = int(formula.indexOf(QLatin1Char('>'), at + 1));
    if (close < 0 || !IsWholeNumber(formula.mid(at + 1, close - at - 1).trimmed())) {
        return QString();
    }
    const QString delimiters = QStringLiteral(" +-*/^(),;<>=!&|?:");
    int start = at;
    while (start > 0 && !delimiters.contains(formula[start - 1])) {
        --start;
    }
    return start < at ? formula.mid(start, close - start + 1) : QString();
}

}  // namespace

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
            const QString inside = formula.mid(nameEnd + 1, close - nameEnd - 1).trimmed();
            bool isNumber = false;
            const int number = inside.toInt(&isNumber);
            // A band number too large for any band is a band the layer lacks.
            if (!isNumber && !IsWholeNumber(inside)) {
                continue;
            }
            if (!isNumber || number < 1 || number > GDALGetRasterCount(row.dataset)) {
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
            if (out.unknownReference.isEmpty() && formula[j] == QLatin1Char('<')) {
                out.unknownReference = UnknownReferenceAt(formula, j);
            }
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
    // A failure's cause for the operator: what GDAL said of a failed read (in whichever thread
    // read the strip), else what the write layer or GDAL said last.
    const kv::FailureCauseScope causes;
    std::mutex causeLock;
    QString readCause;
    const auto failed = [&](Result result) {
        std::lock_guard<std::mutex> lock(causeLock);
        if (message) {
            *message = readCause.isEmpty() ? kv::FailureCause() : readCause;
        }
        return result;
    };
    const double maxSide = double(std::numeric_limits<int>::max());
    const bool sized = grid.pixel > 0.0 && grid.columns >= 1.0 && grid.rows >= 1.0 &&
                       grid.columns <= maxSide && grid.rows <= maxSide;
    const int n = sized ? int(grid.columns) : 1, m = sized ? int(grid.rows) : 1;
    // The bands the expression names, each read once per strip for all evaluators.
    std::vector<BandPlan> plans;
    for (const auto& variable : formula.variables) {
        if (variable.second >= 0 && size_t(variable.second) < g_table.size()) {
            plans.emplace_back();
            plans.back().table = size_t(variable.second);
        }
    }
    // The evaluators share the cells of each strip; what each holds is a run of cells, so memory
    // does not grow with their number.
    const int workers = std::clamp(cv::getNumThreads(), 1, 16);
    const int stripRows = int(std::clamp<int64_t>(kStripCells / n, 1, kStripRows));
    const int64_t stripCells = int64_t(std::min(stripRows, m)) * n;
    const int run = int(std::min<int64_t>(kRunCells, (stripCells + workers - 1) / workers));
    std::vector<std::unique_ptr<Evaluator>> evaluators;
    try {
        for (int i = 0; i < workers; ++i) {
            evaluators.push_back(std::make_unique<Evaluator>());
            evaluators.back()->Define(formula, plans, run);
        }
        // Errors the parser finds only when it compiles the expression show before any file.
        evaluators[0]->x[0] = grid.left;
        evaluators[0]->y[0] = grid.top;
        evaluators[0]->parser.Eval();
        EmptyStrips(evaluators[0]->context);
        for (const auto& e : evaluators) {
            e->UseBandSamples();
        }
    } catch (const mu::Parser::exception_type& e) {
        *message = QString::fromStdString(e.GetMsg());
        return Result::ParserError;
    } catch (const std::bad_alloc&) {
        return failed(Result::CreateFailed);
    }
    if (!sized) {
        return failed(Result::CreateFailed);
    }
    if (!kv::RasterFitsOnDisk(path, n, m, 1, GDT_Float32, message)) {
        return Result::NoSpace;
    }
    kv::NewFloatRaster output(path);
    const double gt[6] = {grid.left, grid.pixel, 0.0, grid.top, 0.0, -grid.pixel};
    const char* const options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=IF_SAFER",
                                   nullptr};
    if (!output.Create(n, m, options, gt, kNoData, SharedProjection(formula.datasets))) {
        return failed(Result::CreateFailed);
    }
    std::vector<float> buffer;
    try {
        for (BandPlan& plan : plans) {
            plan.Map(grid, n, m);
        }
        buffer.resize(size_t(stripCells));
    } catch (const std::bad_alloc&) {
        return failed(Result::CreateFailed);
    }
    if (progress) {
        progress->SetRange(0, 100);
        progress->SetPos(0);
        progress->SetStartTime();
    }
    ZQT_PumpMessages();
    // The windows of the strip from grid row first on, into the plans' window slot.
    auto readStrip = [&plans, m, stripRows, &causeLock, &readCause](int first, int slot) {
        const int end = std::min(m, first + stripRows);
        for (BandPlan& plan : plans) {
            if (!plan.ReadRows(first, end, plan.windows[slot])) {
                std::lock_guard<std::mutex> lock(causeLock);
                readCause = QString::fromUtf8(CPLGetLastErrorMsg()).trimmed();
                return false;
            }
        }
        return true;
    };
    if (!readStrip(0, 0)) {
        return failed(Result::ReadFailed);
    }
    const bool readAhead = kv::ProgramThreads() > 1;
    for (int first = 0, slot = 0; first < m; first += stripRows, slot = 1 - slot) {
        if (progress && progress->IsAborted()) {
            progress->SetPos(0);
            return Result::Aborted;
        }
        const int end = std::min(m, first + stripRows);
        // With more than one thread, the next strip is read while this one is evaluated and
        // written; the reading ends before messages are pumped, so that nothing else uses the
        // layers' datasets meanwhile. With one, it is read after the write.
        std::future<bool> next;
        if (end < m && readAhead) {
            next = std::async(std::launch::async, readStrip, end, 1 - slot);
        }
        // The strip's cells in row order, an equal share for each evaluator.
        const int64_t cells = int64_t(end - first) * n;
        cv::parallel_for_(
            cv::Range(0, workers),
            [&](const cv::Range& range) {
                for (int i = range.start; i < range.end; ++i) {
                    evaluators[size_t(i)]->Cells(grid, n, int64_t(first) * n + cells * i / workers,
                                                 int64_t(first) * n + cells * (i + 1) / workers, first, plans,
                                                 slot, buffer.data());
                }
            },
            workers);
        const bool written = GDALRasterIO(output.Band(), GF_Write, 0, first, n, end - first, buffer.data(), n,
                                          end - first, GDT_Float32, 0, 0) == CE_None;
        const bool read = next.valid() ? next.get() : end >= m || !written || readStrip(end, 1 - slot);
        for (const auto& e : evaluators) {
            if (!e->error.isEmpty()) {
                *message = e->error;
                return Result::ParserError;
            }
            if (e->context.readFailed) {
                return failed(Result::ReadFailed);
            }
        }
        if (!written) {
            return failed(Result::CreateFailed);
        }
        if (!read) {
            return failed(Result::ReadFailed);
        }
        if (progress) {
            progress->SetPos(int(std::lround(end * 100.0 / m)));
        }
        ZQT_PumpMessages();
    }
    evaluators.clear();
    plans.clear();
    buffer = std::vector<float>();
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
            return progress && progress->IsAborted() ? Result::Aborted : failed(Result::CreateFailed);
        }
    }
    return output.Place() ? Result::Done : failed(Result::CreateFailed);
}

}  // namespace calc
