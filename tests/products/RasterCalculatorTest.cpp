// RASTERCALCULATOR on the Landsat scene and the Olinda DEM: the layer list, the formula built by
// double clicks and buttons, the sum over the union of the two rasters against an independent
// sampling, and what is refused (constants only, a parser error, a band the layer lacks, an
// output larger than the disk) or ends with nothing written (abort, a read that fails); the
// sampler's no-data rules; the evaluation in runs against the sampler cell by cell, whatever the
// number of threads.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <gtest/gtest.h>
#include <muParser.h>
#include <opencv2/core/utility.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

#include "ProductsFixtures.h"
#include "document/KelvaroDoc.h"
#include "platform/ui/ActiveCommand.h"
#include "products/RasterCalculator.h"
#include "products/RasterCalculatorDlg.h"
#include "products/RasterCalculatorRuns.h"
#include "raster/RecordingProgress.h"
#include "support/Limits.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A raster's band 1 with what the calculator's rint rule needs.
struct Source {
    std::vector<double> values;
    double gt[6];
    int width = 0, height = 0;
    bool hasNoData = false;
    double noData = 0.0;

    explicit Source(const QString& path) {
        const kvtest::RasterFacts facts = kvtest::Inspect(path);
        values = kvtest::ReadBand(path, 1);
        std::copy(facts.geoTransform, facts.geoTransform + 6, gt);
        width = facts.width;
        height = facts.height;
        hasNoData = facts.hasNoData;
        noData = facts.noData;
    }
    double At(double x, double y) const {
        const double c = std::rint((x - gt[0]) / gt[1]), r = std::rint((y - gt[3]) / gt[5]);
        if (c < 0 || r < 0 || c >= width || r >= height) {
            return kNaN;
        }
        const double v = values[size_t(r) * size_t(width) + size_t(c)];
        return hasNoData && v == noData ? kNaN : v;
    }
};

MapLayerInfo SceneMap(const QString& path) {
    MapLayerInfo info;
    info.title = QFileInfo(path).completeBaseName();
    info.mapType = MapTypeOther;
    info.path = path;
    return info;
}

class RasterCalculatorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        folder = kvtest::NewTempFolder("calculator");
        dem = ptest::OlindaDtm(folder);
        scene = folder + "/L7_ETMs.tif";
        ASSERT_TRUE(QFile::copy(kvtest::DataPath("L7_ETMs.tif"), scene));
        ASSERT_EQ(doc.AddDEM(dem, 1), 1);
        ASSERT_TRUE(doc.AddMap(SceneMap(scene), 1));
    }
    static CRasterCalculatorDlg& Dialog(QDialog& d) { return static_cast<CRasterCalculatorDlg&>(d); }

    ptest::FreshProfile profile;
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    QString folder, dem, scene;
};

}  // namespace

TEST_F(RasterCalculatorTest, SumOfTheSceneAndTheDemCoversTheirUnionAtTheFinerPixel) {
    const QString output = folder + "/sum.gtif";
    ui.AnswerFile(folder + "/syntax.gtif");
    ui.AnswerFile(output);
    ui.AnswerModal([&](QDialog& d) {
        CRasterCalculatorDlg& dialog = Dialog(d);
        const QImage shot = kvtest::Screenshot(&dialog, QStringLiteral("CRasterCalculatorDlg"));
        EXPECT_GT(kvtest::ColourCount(shot, dialog.m_list.geometry()), 3);
        // The DEM first, then the map, each in its kind's colour; a column per band of the
        // scene.
        EXPECT_EQ(dialog.m_list.GetItemCount(), 2);
        EXPECT_EQ(dialog.m_list.GetItemText(0, 0), "olinda_dem.tif");
        EXPECT_EQ(dialog.m_list.GetItemText(1, 0), "L7_ETMs");
        EXPECT_EQ(dialog.m_list.GetItemTextColor(0, 0), CRasterCalculatorDlg::kDemColor);
        EXPECT_EQ(dialog.m_list.GetItemTextColor(1, 0), CRasterCalculatorDlg::kMapColor);
        EXPECT_EQ(dialog.m_list.GetColumnCount(), 7);
        EXPECT_EQ(dialog.m_list.headerItem()->text(6), "Chn 6");
        EXPECT_EQ(dialog.m_list.GetItemImage(0, 1), 0);
        EXPECT_EQ(dialog.m_list.GetItemImage(0, 2), -1);

        // Constants only, or a name that is no layer: told, nothing is asked or written.
        dialog.m_editFormula.setText("1 + 2");
        dialog.m_btnEvaluate.click();
        EXPECT_TRUE(ui.Choosers().isEmpty());
        // A band the layer lacks is named and refused before any file is asked for.
        dialog.m_editFormula.setText("L7_ETMs<7>");
        dialog.m_btnEvaluate.click();
        EXPECT_TRUE(ui.Choosers().isEmpty());
        // The parser's own message for a syntax error; nothing is written.
        dialog.m_editFormula.setText("L7_ETMs<1> + * 2");
        dialog.m_btnEvaluate.click();
        EXPECT_FALSE(QFileInfo::exists(folder + "/syntax.gtif"));
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.m_btnEvaluate.isEnabled());

        // The formula as double clicks and the buttons build it.
        dialog.m_btnClear.click();
        dialog.OnNMDblclkList(0, 2);  // the DEM has one band: nothing
        dialog.OnNMDblclkList(0, 1);
        dialog.m_btnPlus.click();
        dialog.OnNMDblclkList(1, 1);
        EXPECT_EQ(dialog.m_editFormula.text(), "olinda_dem.tif<1> + L7_ETMs<1> ");
        dialog.m_btnOpenBracket.click();
        dialog.m_btnCloseBracket.click();
        EXPECT_EQ(dialog.m_editFormula.text(), "olinda_dem.tif<1> + L7_ETMs<1> () ");
        dialog.m_editFormula.setText("olinda_dem.tif<1> + L7_ETMs<1>");
        dialog.m_btnEvaluate.click();
        return -1;
    });
    CmdRasterCalculator(doc.m_pCad);
    ASSERT_EQ(ui.MessageTexts().size(), 3);
    EXPECT_EQ(ui.MessageTexts()[0],
              "The formula uses no band of a loaded layer: name one as olinda_dem.tif<1>");
    EXPECT_EQ(ui.MessageTexts()[1], "Invalid band: L7_ETMs<7>");
    EXPECT_TRUE(ui.MessageTexts()[2].contains("Unexpected operator"));
    EXPECT_EQ(ui.Choosers().size(), 2);
    EXPECT_EQ(ActiveCadCommandId, 0);

    ASSERT_EQ(doc.m_Maps.count("sum"), 1u);
    EXPECT_EQ(doc.m_Maps["sum"]->m_mapType, MapTypeOther);
    const Source a(dem), b(scene);
    const double left = std::min(a.gt[0], b.gt[0]), top = std::max(a.gt[3], b.gt[3]);
    const double right = std::max(a.gt[0] + a.width * a.gt[1], b.gt[0] + b.width * b.gt[1]);
    const double bottom = std::min(a.gt[3] + a.height * a.gt[5], b.gt[3] + b.height * b.gt[5]);
    const double p = b.gt[1];
    const kvtest::RasterFacts facts = kvtest::Inspect(output);
    ASSERT_EQ(facts.width, int(std::rint((right - left) / p)) + 1);
    ASSERT_EQ(facts.height, int(std::rint((top - bottom) / p)) + 1);
    EXPECT_EQ(facts.type, GDT_Float32);
    EXPECT_EQ(facts.noData, -9999.0);
    EXPECT_EQ(facts.blockX, 256);
    EXPECT_EQ(facts.geoTransform[0], left);
    EXPECT_EQ(facts.geoTransform[3], top);
    EXPECT_EQ(facts.geoTransform[1], p);
    EXPECT_TRUE(facts.projection.empty());  // the two rasters have different systems
    const std::vector<double> sum = kvtest::ReadBand(output);
    int both = 0;
    for (int r = 0; r < facts.height; ++r) {
        for (int c = 0; c < facts.width; ++c) {
            const double x = left + c * p, y = top - r * p;
            const float expected = float(a.At(x, y) + b.At(x, y));
            const double got = sum[size_t(r) * size_t(facts.width) + size_t(c)];
            ASSERT_EQ(got, std::isfinite(expected) ? double(expected) : -9999.0) << c << "," << r;
            both += std::isfinite(expected);
        }
    }
    EXPECT_GT(both, 1000);
    EXPECT_GT(facts.width * facts.height - both, 1000);
}

TEST_F(RasterCalculatorTest, IndexOutsideTheTableGivesNoDataAndAnAbortOrFailedReadWritesNothing) {
    const QString output = folder + "/nan.gtif";
    ui.AnswerFile(output);
    ui.AnswerModal([&](QDialog& d) {
        Dialog(d).m_editFormula.setText("L7_ETMs<1> + GetVal(99,x,y)");
        Dialog(d).m_btnEvaluate.click();
        return -1;
    });
    CmdRasterCalculator(doc.m_pCad);
    ASSERT_TRUE(QFileInfo::exists(output));
    for (double v : kvtest::ReadBand(output)) {
        ASSERT_EQ(v, -9999.0);
    }
    // Only the scene was read: its coordinate system is kept.
    EXPECT_EQ(kvtest::Inspect(output).projection, kvtest::Inspect(scene).projection);

    // A long raster is evaluated in several bands of rows; Abort is taken between them.
    kvtest::RasterSpec spec;
    spec.width = 4;
    spec.height = 20000;
    spec.type = GDT_Byte;
    GDALDatasetH tall =
        GDALOpen(QFile::encodeName(kvtest::WriteRaster(folder + "/tall.tif", spec,
                                                       [](int c, int r, int) { return (c + r) % 200; }))
                     .constData(),
                 GA_ReadOnly);
    ASSERT_TRUE(tall);
    std::vector<calc::LayerRow> rows = {{"tall", tall}};
    calc::BuildBandTable(rows);
    const calc::Rewritten formula = calc::RewriteFormula("tall<1> * 2", rows);
    rtest::RecordingProgress progress;
    progress.abortWhen = [](int pos) { return pos >= 5; };
    QString message;
    EXPECT_EQ(calc::EvaluateFormula(formula, calc::OutputGrid(formula.datasets), folder + "/aborted.gtif",
                                    &progress, &message),
              calc::Result::Aborted);
    EXPECT_LT(progress.positions.size(), 10u);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter("aborted").size(), 0);
    GDALClose(tall);

    // A scene cut short opens, and fails where its rows are read.
    const QByteArray bytes = kvtest::FileBytes(scene);
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/cut.tif", bytes.left(bytes.size() / 2)));
    GDALDatasetH cut = GDALOpen(QFile::encodeName(folder + "/cut.tif").constData(), GA_ReadOnly);
    ASSERT_TRUE(cut);
    rows = {{"cut", cut}};
    calc::BuildBandTable(rows);
    const calc::Rewritten cutFormula = calc::RewriteFormula("cut<1>", rows);
    EXPECT_EQ(calc::EvaluateFormula(cutFormula, calc::OutputGrid(cutFormula.datasets), folder + "/cut.gtif",
                                    nullptr, &message),
              calc::Result::ReadFailed);
    EXPECT_TRUE(message.contains("cut.tif")) << message.toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter("cut.gtif").size(), 0);
    GDALClose(cut);

    // Through the dialog, a disk that is full when the map is put in place: "Process error", the
    // dialog stays, and the command line says why.
    ui.Clear();
    ui.AnswerFile(folder + "/full.gtif");
    ui.AnswerModal([&](QDialog& d) {
        Dialog(d).m_editFormula.setText("L7_ETMs<1> * 2");
        {
            kvtest::FileFault full(kv::FileStep::Sync, ENOSPC);
            Dialog(d).m_btnEvaluate.click();
        }
        EXPECT_TRUE(d.isVisible());
        Dialog(d).m_btnCancel.click();
        return -1;
    });
    CmdRasterCalculator(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Process error"});
    EXPECT_TRUE(ptest::InHistory(doc.m_pCad, "Process error: No space left on device"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter("full").size(), 0);
}

TEST(RasterCalculatorFormula, ReferencesNoDataAndSampleTypes) {
    const QString folder = kvtest::NewTempFolder("calculator_formula");
    kvtest::RasterSpec spec;
    spec.width = 4;
    spec.height = 3;
    spec.noData = -1.0;
    const QString plain = kvtest::WriteRaster(folder + "/a.tif", spec,
                                              [](int c, int r, int) { return c == 1 ? -1.0 : c + 10 * r; });
    spec.noData = -std::numeric_limits<double>::infinity();
    const QString infinite = kvtest::WriteRaster(folder + "/b.tif", spec, [](int c, int, int) {
        return c == 0   ? std::numeric_limits<double>::infinity()
               : c == 1 ? -std::numeric_limits<double>::infinity()
                        : 5.0;
    });
    spec.type = GDT_UInt32;
    spec.hasNoData = false;
    spec.bands = 2;
    const QString wide =
        kvtest::WriteRaster(folder + "/c.tif", spec, [](int, int, int) { return 4000000000.0; });
    GDALDatasetH a = GDALOpen(QFile::encodeName(plain).constData(), GA_ReadOnly);
    GDALDatasetH b = GDALOpen(QFile::encodeName(infinite).constData(), GA_ReadOnly);
    GDALDatasetH c = GDALOpen(QFile::encodeName(wide).constData(), GA_ReadOnly);
    // Names that begin alike, and a name with a space.
    const std::vector<calc::LayerRow> rows = {{"L7", a}, {"L7_b", b}, {"my map", c}};
    calc::BuildBandTable(rows);
    const calc::Rewritten f = calc::RewriteFormula("L7_b<1> + L7<1> * my map<2> - L7< 1 >+L7<x>", rows);
    EXPECT_EQ(f.expression, "GetVal(vb_1,x,y)+GetVal(vb_0,x,y)*GetVal(vb_3,x,y)-GetVal(vb_0,x,y)+L7<x>");
    EXPECT_EQ(f.datasets, (std::vector<GDALDatasetH>{b, a, c}));
    EXPECT_EQ(calc::RewriteFormula("2 * my map<3>", rows).invalidReference, "my map<3>");
    EXPECT_EQ(calc::RewriteFormula("L7<0>", rows).invalidReference, "L7<0>");
    // A band number past any int is a band the layer lacks, not text for the parser.
    EXPECT_EQ(calc::RewriteFormula("L7<2147483648>", rows).invalidReference, "L7<2147483648>");
    // What reads as a reference to a layer that is not listed.
    const calc::Rewritten unknown = calc::RewriteFormula("sqrt(nosuch.tif<1>)+L7<x>", rows);
    EXPECT_TRUE(unknown.datasets.empty());
    EXPECT_EQ(unknown.unknownReference, "nosuch.tif<1>");
    EXPECT_TRUE(calc::RewriteFormula("1/0", rows).unknownReference.isEmpty());

    // Samples at cell centres of the default geotransform (500000, 2, 0, 9000000, 0, -2).
    auto at = [](double band, int column, int row) {
        return RasterCalculatorGetVal(band, 500000.0 + 2.0 * column, 9000000.0 - 2.0 * row);
    };
    EXPECT_EQ(at(0, 2, 1), 12.0);
    EXPECT_TRUE(std::isnan(at(0, 1, 1)));  // the declared no-data value
    EXPECT_TRUE(std::isnan(at(0, 4, 0)));  // off the band
    EXPECT_TRUE(std::isnan(at(1, 0, 0)));  // any infinite sample of an infinite no-data band
    EXPECT_TRUE(std::isnan(at(1, 1, 0)));
    EXPECT_EQ(at(1, 2, 2), 5.0);
    EXPECT_EQ(at(3, 3, 2), 4000000000.0);  // a UInt32 sample is its value
    EXPECT_TRUE(std::isnan(at(4, 0, 0)));  // outside the table
    EXPECT_TRUE(std::isnan(at(-1, 0, 0)));

    // One more column and row than the extent holds pixels.
    const calc::Grid grid = calc::OutputGrid({a});
    EXPECT_EQ(grid.columns, 5.0);
    EXPECT_EQ(grid.rows, 4.0);
    GDALClose(a);
    GDALClose(b);
    GDALClose(c);
}

namespace {

// A progress sink that counts the polls for an abort.
class AbortAfter : public rtest::RecordingProgress {
public:
    bool IsAborted() const override {
        ++polls;
        return rtest::RecordingProgress::IsAborted();
    }
    mutable int polls = 0;
};

}  // namespace

TEST(RasterCalculatorEvaluation, RunsOfCellsGiveWhatTheSamplerGivesCellByCellWithAnyThreadCount) {
    const QString folder = kvtest::NewTempFolder("calculator_runs");
    const double inf = std::numeric_limits<double>::infinity();
    struct Layer {
        const char* name;
        kvtest::RasterSpec spec;
        std::function<double(int, int, int)> value;
    };
    auto spec = [](int w, int h, GDALDataType type, double p, double x0, double y0, bool nd, double noData,
                   int bands = 1) {
        kvtest::RasterSpec s;
        s.width = w;
        s.height = h;
        s.type = type;
        s.bands = bands;
        s.hasNoData = nd;
        s.noData = noData;
        s.geoTransform = {x0, p, 0.0, y0, 0.0, -p};
        return s;
    };
    // Every sample type, coarser and shifted grids (cells repeated or skipped under the output's
    // columns), finite and infinite no-data, and NaN and infinite cells. The output grid is 2 m
    // over about 600 rows: several strips, runs across rows.
    const std::vector<Layer> layers = {
        {"a", spec(40, 600, GDT_Byte, 2, 500000, 9000000, true, 7),
         [](int c, int r, int) { return (c * 13 + r * 7) % 256; }},
        {"b", spec(27, 410, GDT_Int16, 3, 500001, 9000003, true, -5),
         [](int c, int r, int) { return c * r % 97 - 40; }},
        {"c", spec(42, 598, GDT_Float32, 2, 499996, 8999998, true, -inf),
         [inf](int c, int r, int) {
             return (c + r) % 23 == 0   ? inf
                    : (c + r) % 29 == 0 ? -inf
                    : (c + r) % 31 == 0 ? std::nan("")
                                        : c * 0.25 - r * 0.125;
         }},
        {"d", spec(39, 601, GDT_Float64, 2, 500002, 9000002, false, 0, 2),
         [](int c, int r, int b) { return b * 1000.0 + c - r * 0.001; }},
        {"e", spec(40, 600, GDT_UInt16, 2, 500000, 9000000, true, 65535),
         [](int c, int r, int) { return (c * r) % 7 == 0 ? 65535 : c * 1000 + r; }},
        {"f", spec(13, 300, GDT_Int32, 4, 499990, 9000010, true, -1),
         [](int c, int r, int) { return (c + r) % 5 == 0 ? -1 : c * 100000 - r; }},
        {"g", spec(40, 600, GDT_UInt32, 2, 500000, 9000000, false, 0),
         [](int c, int r, int) { return 4000000000.0 + c * 7 + r; }},
    };
    std::vector<calc::LayerRow> rows;
    for (const Layer& layer : layers) {
        const QString path = kvtest::WriteRaster(folder + '/' + layer.name + ".tif", layer.spec, layer.value);
        ASSERT_FALSE(path.isEmpty());
        rows.push_back({layer.name, GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly)});
        ASSERT_TRUE(rows.back().dataset);
    }
    calc::BuildBandTable(rows);
    // Operators, functions, the conditional, x and y, a band named twice and a GetVal call of the
    // operator's own at another position.
    const calc::Rewritten formula = calc::RewriteFormula(
        "a<1> + b<1> * 0.5 - c<1> / (d<2> + 1) + sqrt(abs(e<1>)) + (a<1> > 100 ? f<1> : -f<1>) + g<1> * 1e-9 "
        "+ "
        "x * 1e-6 - y * 1e-7 + GetVal(0, x + 2, y - 2) + d<1>",
        rows);
    ASSERT_EQ(formula.datasets.size(), layers.size());
    const calc::Grid grid = calc::OutputGrid(formula.datasets);
    ASSERT_GT(grid.rows, 600);

    // The sampler cell by cell, as one evaluation per cell.
    mu::Parser parser;
    double x = 0.0, y = 0.0;
    std::vector<double> indices(formula.variables.size());
    parser.DefineVar("x", &x);
    parser.DefineVar("y", &y);
    for (size_t v = 0; v < formula.variables.size(); ++v) {
        indices[v] = formula.variables[v].second;
        parser.DefineVar(formula.variables[v].first, &indices[v]);
    }
    parser.DefineFun("GetVal", RasterCalculatorGetVal, false);
    parser.SetExpr(formula.expression);
    const int n = int(grid.columns), m = int(grid.rows);
    std::vector<float> expected(size_t(n) * size_t(m));
    int finite = 0;
    for (int r = 0; r < m; ++r) {
        for (int c = 0; c < n; ++c) {
            x = grid.left + c * grid.pixel;
            y = grid.top - r * grid.pixel;
            const float v = float(parser.Eval());
            expected[size_t(r) * size_t(n) + size_t(c)] = std::isfinite(v) ? v : -9999.0f;
            finite += std::isfinite(v);
        }
    }
    EXPECT_GT(finite, 5000);
    EXPECT_LT(finite, n * m);

    // On one processor the program's one thread reads each next strip after the last is written.
    const int threads = cv::getNumThreads();
    for (int t : {1, 7}) {
        std::optional<kvtest::ProcessorsScope> processors;
        if (t == 1) {
            processors.emplace(1);
        } else {
            cv::setNumThreads(t);
        }
        const QString output = folder + QStringLiteral("/out%1.gtif").arg(t);
        QString message;
        ASSERT_EQ(calc::EvaluateFormula(formula, grid, output, nullptr, &message), calc::Result::Done)
            << message.toStdString();
        const std::vector<double> got = kvtest::ReadBand(output);
        ASSERT_EQ(got.size(), expected.size());
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(float(got[i]), expected[i])
                << t << " threads, cell " << i % size_t(n) << "," << i / size_t(n);
        }
    }
    cv::setNumThreads(threads);
    for (const calc::LayerRow& row : rows) {
        GDALClose(row.dataset);
    }
}

TEST(RasterCalculatorEvaluation,
     AbortIsSeenEveryStripWhateverTheThreadsAndAnOutputTooLargeForTheDiskIsRefused) {
    const QString folder = kvtest::NewTempFolder("calculator_strips");
    kvtest::RasterSpec spec;
    spec.width = 3;
    spec.height = 5000;
    spec.type = GDT_Byte;
    const QString tall =
        kvtest::WriteRaster(folder + "/tall.tif", spec, [](int c, int r, int) { return (c + r) % 200; });
    GDALDatasetH ds = GDALOpen(QFile::encodeName(tall).constData(), GA_ReadOnly);
    ASSERT_TRUE(ds);
    const std::vector<calc::LayerRow> rows = {{"tall", ds}};
    calc::BuildBandTable(rows);
    const calc::Rewritten formula = calc::RewriteFormula("tall<1> * 2", rows);
    const calc::Grid grid = calc::OutputGrid(formula.datasets);
    // The first strip is at most 256 rows (5 % of the rows) however many threads share it: the
    // operator's Abort is seen that soon, and what the strip holds does not grow with the cores.
    const int threads = cv::getNumThreads();
    for (int t : {1, 8}) {
        cv::setNumThreads(t);
        AbortAfter progress;
        progress.abortWhen = [](int pos) { return pos > 0; };
        QString message;
        EXPECT_EQ(calc::EvaluateFormula(formula, grid, folder + "/aborted.gtif", &progress, &message),
                  calc::Result::Aborted);
        ASSERT_GE(progress.positions.size(), 2u);
        EXPECT_EQ(progress.positions[1], 5) << t << " threads";
        EXPECT_EQ(progress.polls, 2);
    }
    cv::setNumThreads(threads);
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter("aborted").isEmpty());

    // Four billion billion cells at a thousandth of a metre: refused before anything is written.
    calc::Grid huge = grid;
    huge.pixel = 0.001;
    huge.columns = 2e9;
    huge.rows = 2e9;
    QString message;
    EXPECT_EQ(calc::EvaluateFormula(formula, huge, folder + "/huge.gtif", nullptr, &message),
              calc::Result::NoSpace);
    EXPECT_TRUE(message.startsWith("A raster of 2000000000 x 2000000000 cells needs "))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QDir::toNativeSeparators(folder))) << message.toStdString();
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).filter("huge").isEmpty());
    GDALClose(ds);
}

// The expression over whole runs by the calculator's own loops against the parser's bulk mode over
// the same arrays: the six bands of the Landsat scene and the Olinda DEM with empty, zero and
// infinite cells, through every operator, the powers and functions the parser compiles specially
// and a function of two arguments. Every cell must come out with the same bits (any NaN for a
// NaN); what the loops do not evaluate is left to the parser.
TEST(RasterCalculatorEvaluation, CompiledRunsGiveTheParsersBitsOnTheSceneAndTheDem) {
    std::vector<std::vector<double>> bands;
    for (int b = 1; b <= 6; ++b) {
        bands.push_back(kvtest::ReadBand(kvtest::DataPath("L7_ETMs.tif"), b));
    }
    const std::vector<double> olinda = kvtest::ReadBand(kvtest::DataPath("olinda_dem_nodata.tif"));
    const size_t cells = bands[0].size();
    ASSERT_GT(cells, 100000u);
    ASSERT_GT(olinda.size(), 10000u);
    std::vector<double> dem(cells), x(cells);
    for (size_t i = 0; i < cells; ++i) {
        dem[i] = i % 97 == 0    ? kNaN
                 : i % 101 == 0 ? 0.0
                 : i % 103 == 0 ? -std::numeric_limits<double>::infinity()
                                : olinda[i % olinda.size()];
        x[i] = 500000.0 + 28.5 * double(i % 349);
    }
    const char* const names[] = {"a", "b", "c", "d", "e", "f"};
    auto define = [&](mu::Parser& parser) {
        for (size_t b = 0; b < bands.size(); ++b) {
            parser.DefineVar(names[b], bands[b].data());
        }
        parser.DefineVar("dem", dem.data());
        parser.DefineVar("x", x.data());
        parser.DefineFun(
            "hyp", +[](double p, double q) { return std::sqrt(p * p + q * q); });
    };
    auto same = [](double p, double q) {
        return (std::isnan(p) && std::isnan(q)) || std::memcmp(&p, &q, sizeof p) == 0;
    };
    const std::vector<std::string> inReach = {
        "(b-a)/(b+a)",
        "(1 + dem) * 0.1",
        "(dem - 3) / 7 * 1.3",
        "a*2*3 - b/4*c + 1.5 - 3/a",
        "a - a + 2*a + a*3 - (4 - b) + (c + 1) + (1 + c) * 0.1 + dem - dem*2",
        "-a + +b * -c - -dem",
        "a^2 + b^3 - c^4 + dem^0.5 + (a+b)^1.5 + 2^(a/8) + e^f",
        "(a < b) + (c <= d) + (e > f) + (a >= dem) + (a == b) + (a != c) + (a && dem) + (b || 0) + "
        "(dem && 0) + (dem || dem)",
        "sin(a) + cos(b) + tan(dem) + asin(a/255) + acos(b/255) + atan(c) + sinh(a/100) + cosh(b/100) + "
        "tanh(c) + asinh(dem) + acosh(dem) + atanh(a/256)",
        "log2(a) + log10(b) + log(c) + ln(dem) + exp(a/50) + sqrt(dem) + sign(dem-30) + rint(dem/3) + "
        "abs(b - 100)",
        "_pi * a + _e * dem / (b - c) + x * 1e-6 + hyp(a, dem) - hyp(2, 3)",
    };
    std::vector<double> expected(cells), got(cells);
    for (const std::string& formula : inReach) {
        mu::Parser parser;
        define(parser);
        parser.SetExpr(formula);
        parser.Eval(expected.data(), int(cells));
        calc::RunProgram program;
        ASSERT_TRUE(program.Compile(parser)) << formula;
        std::fill(got.begin(), got.end(), -1.0);
        program.Run(int(cells), got.data());
        int finite = 0;
        for (size_t i = 0; i < cells; ++i) {
            ASSERT_TRUE(same(got[i], expected[i]))
                << formula << ", cell " << i << ": " << got[i] << " against " << expected[i];
            finite += std::isfinite(expected[i]);
        }
        EXPECT_GT(finite, int(cells / 2)) << formula;
    }
    for (const char* formula : {"a > b ? a : b", "min(a, b, c) + 1", "a, b"}) {
        mu::Parser parser;
        define(parser);
        parser.SetExpr(formula);
        parser.Eval();
        calc::RunProgram program;
        EXPECT_FALSE(program.Compile(parser)) << formula;
        EXPECT_FALSE(program.Ready()) << formula;
    }
}
