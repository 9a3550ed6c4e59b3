#include "products/RasterCalculator.h"

#include <QFile>

#include <muParser.h>
#include <ogr_srs_api.h>

#include <algorithm>
#include <cmath>
#include <limits>
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
    enum { NoNoData, FiniteNoData, NaNNoData, InfiniteNoData } noDataKind = NoNoData;
    double noData = 0.0;
};

// Whole rows of one band, from row first on, as doubles.
struct Strip {
    int first = 0;
    int count = 0;
    std::vector<double> values;
};

std::vector<TableBand> g_table;
// The table's indices as doubles: the parser's index variables point at them.
std::vector<double> g_indices;
std::vector<Strip> g_strips;
bool g_readFailed = false;

void EmptyStrips() {
    for (Strip& s : g_strips) {
        s = Strip();
    }
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
    b.readable = !GDALDataTypeIsComplex(GDALGetRasterDataType(b.band));
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
    try {
        strip.values.resize(size_t(count) * size_t(b.columns));
    } catch (const std::bad_alloc&) {
        strip = Strip();
        return false;
    }
    if (GDALRasterIO(b.band, GF_Read, 0, row, b.columns, count, strip.values.data(), b.columns, count,
                     GDT_Float64, 0, 0) != CE_None) {
        strip = Strip();
        return false;
    }
    strip.first = row;
    strip.count = count;
    return true;
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

// The output under its temporary name, removed unless it was put in place.
class CalcOutput {
public:
    explicit CalcOutput(const QString& path) : m_path(path), m_temporary(kv::TemporaryPathFor(path)) {}
    ~CalcOutput() {
        if (m_dataset) {
            GDALClose(m_dataset);
        }
        if (!m_placed) {
            kv::RemoveRasterFile(m_temporary);
        }
    }
    CalcOutput(const CalcOutput&) = delete;
    CalcOutput& operator=(const CalcOutput&) = delete;

    bool Create(int columns, int rows, const double* gt, const QByteArray& projection) {
        GDALDriverH driver = GDALGetDriverByName("GTiff");
        const char* options[] = {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "BIGTIFF=IF_SAFER",
                                 nullptr};
        m_dataset = driver ? GDALCreate(driver, QFile::encodeName(m_temporary).constData(), columns, rows, 1,
                                        GDT_Float32, const_cast<char**>(options))
                           : nullptr;
        return m_dataset && GDALSetGeoTransform(m_dataset, const_cast<double*>(gt)) == CE_None &&
               GDALSetRasterNoDataValue(GDALGetRasterBand(m_dataset, 1), kNoData) == CE_None &&
               (projection.isEmpty() || GDALSetProjection(m_dataset, projection.constData()) == CE_None);
    }
    bool Write(int firstRow, int rows, int columns, const float* values) {
        return GDALRasterIO(GDALGetRasterBand(m_dataset, 1), GF_Write, 0, firstRow, columns, rows,
                            const_cast<float*>(values), columns, rows, GDT_Float32, 0, 0) == CE_None;
    }
    GDALDatasetH Dataset() const { return m_dataset; }
    bool Place() {
        const bool closed = kv::CloseDataset(m_dataset);
        m_dataset = nullptr;
        m_placed = closed && kv::MoveIntoPlace(m_temporary, m_path);
        return m_placed;
    }

private:
    QString m_path;
    QString m_temporary;
    GDALDatasetH m_dataset = nullptr;
    bool m_placed = false;
};

// Empties the strips when an evaluation ends, however it ends.
struct StripScope {
    StripScope() {
        EmptyStrips();
        g_readFailed = false;
    }
    ~StripScope() { EmptyStrips(); }
    StripScope(const StripScope&) = delete;
    StripScope& operator=(const StripScope&) = delete;
};

}  // namespace

double RasterCalculatorGetVal(double bandIndex, double x, double y) {
    if (!(bandIndex >= 0.0 && bandIndex < double(g_table.size()))) {
        return kNaN;
    }
    const size_t k = size_t(bandIndex);
    const TableBand& b = g_table[k];
    if (!b.readable) {
        return kNaN;
    }
    const double column = std::rint((x - b.originX) / b.pixelWidth);
    const double row = std::rint((y - b.originY) / b.rowStep);
    if (!(column >= 0.0 && column < b.columns && row >= 0.0 && row < b.rows)) {
        return kNaN;
    }
    Strip& strip = g_strips[k];
    const int r = int(row);
    if ((r < strip.first || r >= strip.first + strip.count) && !ReadStrip(b, r, strip)) {
        g_readFailed = true;
        return kNaN;
    }
    const double v = strip.values[size_t(r - strip.first) * size_t(b.columns) + size_t(column)];
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
    g_strips.assign(g_table.size(), Strip());
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
    StripScope strips;
    double x = grid.left, y = grid.top;
    mu::Parser parser;
    try {
        parser.DefineVar("x", &x);
        parser.DefineVar("y", &y);
        for (const auto& [name, index] : formula.variables) {
            if (index >= 0 && size_t(index) < g_indices.size()) {
                parser.DefineVar(name, &g_indices[size_t(index)]);
            }
        }
        parser.DefineFun("GetVal", RasterCalculatorGetVal, false);
        parser.SetExpr(formula.expression);
        // Errors the parser finds only when it compiles the expression show before any file.
        parser.Eval();
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
    CalcOutput output(path);
    const double gt[6] = {grid.left, grid.pixel, 0.0, grid.top, 0.0, -grid.pixel};
    if (!output.Create(n, m, gt, SharedProjection(formula.datasets))) {
        return Result::CreateFailed;
    }
    std::vector<float> buffer;
    try {
        buffer.resize(size_t(kStripRows) * size_t(n));
    } catch (const std::bad_alloc&) {
        return Result::CreateFailed;
    }
    if (progress) {
        progress->SetRange(0, 100);
        progress->SetPos(0);
        progress->SetStartTime();
    }
    ZQT_PumpMessages();
    int shown = 0;
    try {
        for (int r = 0; r < m; ++r) {
            if (progress && progress->IsAborted()) {
                progress->SetPos(0);
                return Result::Aborted;
            }
            const int percent = int(std::lround((r + 1) * 100.0 / m));
            if (percent != shown) {
                shown = percent;
                if (progress) {
                    progress->SetPos(percent);
                }
                ZQT_PumpMessages();
            }
            y = grid.top - r * grid.pixel;
            float* line = buffer.data() + size_t(r % kStripRows) * size_t(n);
            for (int c = 0; c < n; ++c) {
                x = grid.left + c * grid.pixel;
                const float v = static_cast<float>(parser.Eval());
                line[c] = std::isfinite(v) ? v : kNoData;
            }
            if (g_readFailed) {
                return Result::ReadFailed;
            }
            if ((r % kStripRows == kStripRows - 1 || r == m - 1) &&
                !output.Write(r - r % kStripRows, r % kStripRows + 1, n, buffer.data())) {
                return Result::CreateFailed;
            }
        }
    } catch (const mu::Parser::exception_type& e) {
        *message = QString::fromStdString(e.GetMsg());
        return Result::ParserError;
    }
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
            if (progress && progress->IsAborted()) {
                return Result::Aborted;
            }
            return Result::CreateFailed;
        }
    }
    return output.Place() ? Result::Done : Result::CreateFailed;
}

}  // namespace calc
