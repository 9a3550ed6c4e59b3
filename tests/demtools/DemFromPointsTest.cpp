// DEMs from point files: the real Autzen LiDAR file through the command as the operator runs it,
// the same points split into overlapping LAS files and as ASCII, refusals, damaged files and
// Abort.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cpl_conv.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <limits>

#include "DemToolsTestSupport.h"
#include "controls/AbortSingleProgressDlg.h"
#include "controls/InputValueDlg.h"
#include "demtools/DemFromPoints.h"
#include "demtools/DemOutputCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/las/Las.h"
#include "platform/tools/SafeFile.h"
#include "platform/ui/ActiveCommand.h"
#include "raster/DEM.h"
#include "support/Limits.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

struct Point {
    double x, y, z;
};

std::vector<Point> ReadLas(const QString& path, std::vector<LASpoint>* raw = nullptr,
                           LASheader* header = nullptr) {
    LASreadOpener opener;
    opener.SetFileName(path);
    auto reader = opener.Open();
    EXPECT_TRUE(reader);
    std::vector<Point> points;
    while (reader && reader->ReadPoint()) {
        points.push_back({reader->GetX(), reader->GetY(), reader->GetZ()});
        if (raw) {
            raw->push_back(reader->point);
        }
    }
    if (header && reader) {
        *header = reader->header;
    }
    return points;
}

// The spacing proposal as the rule reads: the points at 0, s, 2s, ... (s = n / 5) each with the
// distance to its nearest other point, zero distances skipped; their mean.
double BruteForceProposal(const std::vector<Point>& points) {
    const size_t step = std::max<size_t>(1, points.size() / 5);
    double sum = 0.0;
    int samples = 0;
    for (size_t i = 0; i < points.size(); i += step) {
        double best = std::numeric_limits<double>::max();
        for (const Point& q : points) {
            const double d = std::sqrt((q.x - points[i].x) * (q.x - points[i].x) +
                                       (q.y - points[i].y) * (q.y - points[i].y));
            if (d != 0.0) {
                best = std::min(best, d);
            }
        }
        sum += best;
        ++samples;
    }
    return sum / samples;
}

// The highest point of each cell by the rule: column floor((x - xmin) / g), row
// floor((ymax - y) / g); -9999 where no point falls.
std::vector<float> ExpectedCells(const std::vector<Point>& points, double g, int* width, int* height) {
    double xmin = HUGE_VAL, xmax = -HUGE_VAL, ymin = HUGE_VAL, ymax = -HUGE_VAL;
    for (const Point& p : points) {
        xmin = std::min(xmin, p.x);
        xmax = std::max(xmax, p.x);
        ymin = std::min(ymin, p.y);
        ymax = std::max(ymax, p.y);
    }
    *width = int(std::floor((xmax - xmin) / g)) + 1;
    *height = int(std::floor((ymax - ymin) / g)) + 1;
    std::vector<float> cells(size_t(*width) * size_t(*height), -9999.0f);
    for (const Point& p : points) {
        const size_t c = size_t(std::floor((p.x - xmin) / g));
        const size_t r = size_t(std::floor((ymax - p.y) / g));
        float& cell = cells[r * size_t(*width) + c];
        cell = std::max(cell, float(p.z));
    }
    return cells;
}

class DemFromPointsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder("points");
        m_autzen = m_folder + "/Autzen_Trim.las";
        ASSERT_TRUE(QFile::copy(kvtest::DataPath("autzen_trim.las"), m_autzen));
    }
    void TearDown() override { CadScriptSetStrict(0); }

    // Runs the command with the files chosen, the output and the GSD text.
    void Run(CKelvaroDoc& doc, kvtest::ScriptedInteraction& ui, const QStringList& files,
             const QString& output, const QString& gsd, QString* proposal = nullptr) {
        ui.AnswerFile(files.join('\n'));
        ui.AnswerFile(output);
        dtest::AnswerGsd(ui, gsd, proposal);
        CmdCreateDemFromLas(doc.m_pCad);
        EXPECT_EQ(ActiveCadCommandId, 0);
        char prompt[256];
        CadCmdGetPrompt(doc.m_pCad, prompt, sizeof prompt);
        EXPECT_STREQ(prompt, "");
    }

    QString m_folder;
    QString m_autzen;
};

TEST_F(DemFromPointsTest, AutzenGivesTheHighestPointOfEveryCellAtTheProposedSpacing) {
    const std::vector<Point> points = ReadLas(m_autzen);
    ASSERT_EQ(points.size(), 110000u);
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    const QString output = m_folder + "/Autzen DEM.gtif";
    QString proposal;
    // The output's suffix comes from the chooser's default when the operator types none.
    Run(doc, ui, {m_autzen}, m_folder + "/Autzen DEM", "5", &proposal);
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join('|').toStdString();
    EXPECT_EQ(proposal, QString::asprintf("%.4lf", BruteForceProposal(points)));

    ASSERT_EQ(doc.m_DEMs.count("autzen dem.gtif"), 1u);
    CDEM* dem = doc.m_DEMs["autzen dem.gtif"];
    EXPECT_EQ(dem->m_path, output);
    const dtest::Raster raster = dtest::ReadRaster(output);
    EXPECT_EQ(raster.width, 236);
    EXPECT_EQ(raster.height, 113);
    EXPECT_EQ(raster.bands, 1);
    EXPECT_EQ(raster.type, GDT_Float32);
    EXPECT_EQ(raster.blockX, 128);
    EXPECT_EQ(raster.blockY, 128);
    EXPECT_TRUE(raster.hasNoData);
    EXPECT_EQ(raster.noData, -9999.0);
    EXPECT_NEAR(raster.gt[0], 636001.76, 1e-9);
    EXPECT_EQ(raster.gt[1], 5.0);
    EXPECT_EQ(raster.gt[2], 0.0);
    EXPECT_NEAR(raster.gt[3], 849497.9, 1e-9);
    EXPECT_EQ(raster.gt[4], 0.0);
    EXPECT_EQ(raster.gt[5], -5.0);

    int width = 0, height = 0;
    const std::vector<float> expected = ExpectedCells(points, 5.0, &width, &height);
    ASSERT_EQ(width, 236);
    ASSERT_EQ(height, 113);
    EXPECT_EQ(raster.cells, expected);
    // The layer reads back each cell's highest point at the cell's centre.
    int withPoints = 0;
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const float want = expected[size_t(r) * size_t(width) + size_t(c)];
            withPoints += want != -9999.0f;
            const double value =
                dem->GetElevation(raster.gt[0] + 5.0 * (c + 0.5), raster.gt[3] - 5.0 * (r + 0.5));
            ASSERT_EQ(value, double(want)) << c << ", " << r;
        }
    }
    EXPECT_GT(withPoints, 15000);
    EXPECT_LT(withPoints, width * height);
    // Nothing but the LAS file and the DEM is left in the folder.
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files).size(), 2);
}

TEST_F(DemFromPointsTest, OverlappingLasFilesAndOneAsciiFileOfTheSamePointsGiveTheSameDem) {
    std::vector<LASpoint> raw;
    LASheader header;
    const std::vector<Point> points = ReadLas(m_autzen, &raw, &header);
    header.vlrs.clear();
    // Every point in one of two files: the east half, and the west half with every third point
    // of the east, so that the second file's box lies inside the first one's.
    const double middle = 636600.0;
    LASwriteOpener east, west;
    east.SetFileName(m_folder + "/east.las");
    west.SetFileName(m_folder + "/west.las");
    auto eastWriter = east.Open(header);
    auto westWriter = west.Open(header);
    ASSERT_TRUE(eastWriter && westWriter);
    QByteArray ascii;
    for (size_t i = 0; i < points.size(); ++i) {
        const bool toWest = points[i].x < middle || i % 3 == 0;
        ASSERT_TRUE((toWest ? westWriter : eastWriter)->WritePoint(raw[i]));
        ascii += QString::asprintf("%.17g %.17g %.17g\n", points[i].x, points[i].y, points[i].z).toLatin1();
    }
    ASSERT_TRUE(eastWriter->Close() && westWriter->Close());
    ASSERT_TRUE(kvtest::WriteFileBytes(m_folder + "/all.XYZ", ascii));

    QString error;
    ASSERT_EQ(CreateDemFromPointFiles({m_folder + "/west.las", m_folder + "/east.las"}, 5.0,
                                      m_folder + "/two.tif", nullptr, &error),
              PointCloudGridder::Done)
        << error.toStdString();
    // The ASCII file read again in every pass (nothing kept in memory) gives the same spacing as
    // the LAS file held in memory, and the same cells.
    PointCloudGridder kept({m_autzen});
    PointCloudGridder reread({m_folder + "/all.XYZ"}, 0);
    for (PointCloudGridder* gridder : {&kept, &reread}) {
        ASSERT_EQ(gridder->Scan(nullptr), PointCloudGridder::Done);
        ASSERT_EQ(gridder->EstimateSpacing(nullptr), PointCloudGridder::Done);
    }
    EXPECT_EQ(kept.ProposedGsd(), reread.ProposedGsd());
    EXPECT_EQ(kept.ProposedGsd(), BruteForceProposal(points));
    ASSERT_EQ(kept.Grid(5.0, m_folder + "/one.tif", nullptr), PointCloudGridder::Done);
    ASSERT_EQ(reread.Grid(5.0, m_folder + "/ascii.tif", nullptr), PointCloudGridder::Done);

    const dtest::Raster one = dtest::ReadRaster(m_folder + "/one.tif");
    for (const char* name : {"/two.tif", "/ascii.tif"}) {
        SCOPED_TRACE(name);
        const dtest::Raster other = dtest::ReadRaster(m_folder + name);
        EXPECT_EQ(other.gt, one.gt);
        EXPECT_EQ(other.width, one.width);
        EXPECT_EQ(other.height, one.height);
        EXPECT_EQ(other.cells, one.cells);
    }

    // A single point makes a DEM of one cell; a cell size whose raster sides are no ints is
    // refused.
    PointCloudGridder single({m_folder + "/single.xyz"});
    ASSERT_TRUE(kvtest::WriteFileBytes(m_folder + "/single.xyz", "10 20 30\n"));
    ASSERT_EQ(single.Scan(nullptr), PointCloudGridder::Done);
    ASSERT_EQ(single.EstimateSpacing(nullptr), PointCloudGridder::Done);
    EXPECT_EQ(single.ProposedGsd(), 0.0);
    EXPECT_FALSE(single.IsValidGsd(0.0));
    EXPECT_FALSE(single.IsValidGsd(std::nan("")));
    ASSERT_EQ(single.Grid(1.0, m_folder + "/single.tif", nullptr), PointCloudGridder::Done);
    const dtest::Raster cell = dtest::ReadRaster(m_folder + "/single.tif");
    EXPECT_EQ(cell.width * cell.height, 1);
    EXPECT_EQ(cell.cells, std::vector<float>{30.0f});
    EXPECT_FALSE(kept.IsValidGsd(1e-7));
    EXPECT_EQ(kept.Grid(1e-7, m_folder + "/tiny.tif", nullptr), PointCloudGridder::Failed);
    EXPECT_EQ(kept.Error(), "invalid GSD value");
    EXPECT_FALSE(QFile::exists(m_folder + "/tiny.tif"));
}

// Two systems are the same when they place coordinates (here a point of Autzen) at the same
// place: a WKT record and GeoTIFF keys may name the same datum differently.
bool SameSystem(const QString& wkt, const QByteArray& other) {
    OGRSpatialReferenceH a = OSRNewSpatialReference(wkt.toUtf8().constData());
    OGRSpatialReferenceH b = OSRNewSpatialReference(other.constData());
    bool same = a && b && OSRIsSame(a, b);
    if (a && b && !same) {
        OSRSetAxisMappingStrategy(a, OAMS_TRADITIONAL_GIS_ORDER);
        OSRSetAxisMappingStrategy(b, OAMS_TRADITIONAL_GIS_ORDER);
        OGRCoordinateTransformationH transform = OCTNewCoordinateTransformation(a, b);
        double x = 636500.0, y = 849200.0;
        same = transform && OCTTransform(transform, 1, &x, &y, nullptr) && std::fabs(x - 636500.0) < 1e-6 &&
               std::fabs(y - 849200.0) < 1e-6 &&
               OSRGetLinearUnits(a, nullptr) == OSRGetLinearUnits(b, nullptr);
        OCTDestroyCoordinateTransformation(transform);
    }
    OSRDestroySpatialReference(a);
    OSRDestroySpatialReference(b);
    return same;
}

QByteArray Epsg(int code) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
    char* wkt = nullptr;
    OSRImportFromEPSG(srs, code);
    OSRExportToWkt(srs, &wkt);
    const QByteArray text(wkt);
    CPLFree(wkt);
    OSRDestroySpatialReference(srs);
    return text;
}

// The DEM carries the coordinate system of the first point file that holds one (Autzen holds an
// OGC WKT record and GeoTIFF keys, the others GeoTIFF keys alone); the layer the command adds has
// it too. ASCII files and LAS files without one give a DEM without.
TEST_F(DemFromPointsTest, TheDemTakesTheCoordinateSystemOfTheFirstPointFileThatHoldsOne) {
    LASheader header;
    ReadLas(m_autzen, nullptr, &header);
    QByteArray autzen;
    for (const LASvlr& vlr : header.vlrs) {
        if (vlr.userId == "LASF_Projection" && vlr.recordId == 2112) {
            autzen = QByteArray(reinterpret_cast<const char*>(vlr.data.data()), int(vlr.data.size()));
        }
    }
    ASSERT_FALSE(autzen.isEmpty());
    const QString simple = kvtest::DataPath("simple.las"), keysOnly = kvtest::DataPath("bad_vlr_count.las"),
                  utm15 = kvtest::DataPath("permutations_1.2_3.las");
    ASSERT_TRUE(kvtest::WriteFileBytes(m_folder + "/points.xyz", "636100 849000 400\n636200 849100 410\n"));
    const struct {
        QStringList files;
        double gsd;
        QByteArray system;  // empty: none
    } cases[] = {
        {{m_autzen}, 5.0, autzen},
        {{simple, m_autzen}, 5.0, autzen},
        {{keysOnly, utm15}, 1000.0, Epsg(32617)},
        {{utm15, keysOnly}, 1000.0, Epsg(26915)},
        {{simple}, 5.0, {}},
        {{m_folder + "/points.xyz"}, 5.0, {}},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.files.join(", ").toStdString());
        const QString output = m_folder + QString("/system%1.tif").arg(n++);
        QString error;
        ASSERT_EQ(CreateDemFromPointFiles(c.files, c.gsd, output, nullptr, &error), PointCloudGridder::Done)
            << error.toStdString();
        const QString wkt = QString::fromStdString(kvtest::Inspect(output).projection);
        if (c.system.isEmpty()) {
            EXPECT_TRUE(wkt.isEmpty()) << wkt.toStdString();
        } else {
            EXPECT_TRUE(SameSystem(wkt, c.system)) << wkt.toStdString();
        }
    }

    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    Run(doc, ui, {m_autzen}, m_folder + "/layer.gtif", "5");
    ASSERT_EQ(doc.m_DEMs.count("layer.gtif"), 1u);
    EXPECT_TRUE(SameSystem(doc.m_DEMs["layer.gtif"]->m_projection, autzen));
}

TEST_F(DemFromPointsTest, RefusalsEndTheCommandWithTheirMessageAndWriteNothing) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CadDrawing* d = doc.m_pCad;
    ASSERT_TRUE(kvtest::WriteFileBytes(m_folder + "/points.xyz", "1 1 1\n2 2 2\n"));
    const QString output = m_folder + "/out.gtif";

    // Mixed kinds: refused before the output is asked for.
    ui.AnswerFile(m_autzen + '\n' + m_folder + "/points.xyz");
    CmdCreateDemFromLas(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"The extension of selected files does not match"});
    EXPECT_EQ(ui.Choosers().size(), 1);
    EXPECT_EQ(ActiveCadCommandId, 0);

    // Cell sizes that are not positive.
    for (const char* gsd : {"-1", "0"}) {
        ui.Clear();
        Run(doc, ui, {m_autzen}, output, gsd);
        EXPECT_EQ(ui.MessageTexts(), QStringList{"invalid GSD value"});
        EXPECT_FALSE(QFile::exists(output));
    }

    // An output that cannot be written: said, with the reason in the command line.
    ui.Clear();
    Run(doc, ui, {m_autzen}, m_folder + "/gone/out.gtif", "5");
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to save DEM"});
    EXPECT_TRUE(dtest::CommandLineHistory(d, 1).contains("cannot create"))
        << dtest::CommandLineHistory(d, 1).toStdString();

    // A folder that takes no file, a read-only disk: named as such, whatever space it has left.
    ui.Clear();
    {
        kvtest::FileFault readOnly(kv::FileStep::Write, EROFS, "/read-only.gtif");
        Run(doc, ui, {m_autzen}, m_folder + "/read-only.gtif", "5");
    }
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to save DEM"});
    EXPECT_EQ(dtest::CommandLineHistory(d, 1), "The folder " + QDir::toNativeSeparators(m_folder) +
                                                   " cannot be written: Read-only file system\n");
    EXPECT_FALSE(QFile::exists(m_folder + "/read-only.gtif"));

    // A file the LAS reader refuses: its reason goes to the command line.
    QFile::copy(m_folder + "/points.xyz", m_folder + "/text.las");
    ui.Clear();
    ui.AnswerFile(m_autzen + '\n' + m_folder + "/text.las");
    CmdCreateDemFromLas(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"Cannot open LAS file"});
    EXPECT_TRUE(dtest::CommandLineHistory(d, 2).contains("not a LAS file"))
        << dtest::CommandLineHistory(d, 2).toStdString();

    // One of the point files, not loaded, as the output: refused, and the chooser opens again.
    ui.Clear();
    ui.AnswerFile(m_folder + "/points.xyz");
    ui.AnswerFile(m_folder + "/points.xyz");
    ui.AnswerFile("");
    CmdCreateDemFromLas(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"The file is used by a loaded layer"});
    EXPECT_EQ(kvtest::FileBytes(m_folder + "/points.xyz"), "1 1 1\n2 2 2\n");

    // A single LAS point has no spacing: nothing is proposed, and a cell size typed in is taken.
    std::vector<LASpoint> raw;
    LASheader header;
    ReadLas(m_autzen, &raw, &header);
    header.vlrs.clear();
    LASwriteOpener single;
    single.SetFileName(m_folder + "/single.las");
    auto writer = single.Open(header);
    ASSERT_TRUE(writer && writer->WritePoint(raw[0]) && writer->Close());
    ui.Clear();
    QString proposal;
    Run(doc, ui, {m_folder + "/single.las"}, m_folder + "/single.gtif", "2", &proposal);
    EXPECT_EQ(proposal, "");
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join('|').toStdString();
    EXPECT_EQ(dtest::ReadRaster(m_folder + "/single.gtif").cells.size(), 1u);

    // Files without a single point.
    QFile::copy(kvtest::DataPath("no-points.las"), m_folder + "/no-points.las");
    ui.Clear();
    ui.AnswerFile(m_folder + "/no-points.las");
    ui.AnswerFile(output);
    CmdCreateDemFromLas(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"No point found in the selected files"});

    // Text that is no number takes the proposal; lines without three numbers are counted in the
    // command line.
    ASSERT_TRUE(kvtest::WriteFileBytes(m_folder + "/mixed.xyz",
                                       "easting northing height\n0 0 1\n4 0 2\n0 4 3\n4 4 4\nbroken line\n"));
    ui.Clear();
    Run(doc, ui, {m_folder + "/mixed.xyz"}, output, "four", &proposal);
    EXPECT_EQ(proposal, "4.0000");
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join('|').toStdString();
    EXPECT_TRUE(
        dtest::CommandLineHistory(d, 3).contains("mixed.xyz: 2 lines without three numbers were skipped"))
        << dtest::CommandLineHistory(d, 3).toStdString();
    const dtest::Raster grid = dtest::ReadRaster(output);
    EXPECT_EQ(grid.cells, (std::vector<float>{3, 4, 1, 2}));
    EXPECT_EQ(doc.GetDEMCount(), 2);

    // The new DEM's file as the next output: refused, and the chooser opens again.
    ui.Clear();
    ui.AnswerFile(m_autzen);
    ui.AnswerFile(m_folder + "/./out.gtif");
    ui.AnswerFile("");
    CmdCreateDemFromLas(d);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"The file is used by a loaded layer"});
    EXPECT_EQ(ui.Choosers().size(), 3);
    EXPECT_EQ(dtest::ReadRaster(output).cells, grid.cells);
}

TEST_F(DemFromPointsTest, DamagedLasFilesAreRefusedOrGriddedWithWhatTheyHold) {
    // The damaged files of the test data, a truncated copy of Autzen and one of random bytes.
    QStringList files;
    for (const char* name : {"bad_vlr_count.las", "garbage_nVariableLength.las", "1.2-with-color-clipped.las",
                             "gps-time-nan.las", "no-points.las"}) {
        files << m_folder + '/' + name;
        ASSERT_TRUE(QFile::copy(kvtest::DataPath(name), files.back()));
    }
    const QByteArray bytes = kvtest::FileBytes(m_autzen);
    for (const auto& [name, content] :
         {std::pair<const char*, QByteArray>{"truncated.las", bytes.left(bytes.size() / 2 + 17)},
          {"random.las", QByteArray(5000, '\x5a')}}) {
        files << m_folder + '/' + name;
        ASSERT_TRUE(kvtest::WriteFileBytes(files.back(), content));
    }
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        ui.Clear();
        const QString output = file + ".gtif";
        ui.AnswerFile(file);
        ui.AnswerFile(output);
        dtest::AnswerGsd(ui, "1");
        const int before = doc.GetDEMCount();
        CmdCreateDemFromLas(doc.m_pCad);
        EXPECT_EQ(ActiveCadCommandId, 0);
        QStringList messages = ui.MessageTexts();
        messages.removeAll("Pyramidal levels not found, generate now?");
        if (file.endsWith("clipped.las")) {
            EXPECT_TRUE(dtest::CommandLineHistory(doc.m_pCad, 2).contains("1064 of the 1065"));
        }
        if (messages.isEmpty()) {
            EXPECT_EQ(doc.GetDEMCount(), before + 1);
            EXPECT_TRUE(QFile::exists(output));
        } else {
            EXPECT_TRUE(messages == QStringList{"Cannot open LAS file"} ||
                        messages == QStringList{"No point found in the selected files"})
                << messages.join('|').toStdString();
            EXPECT_FALSE(QFile::exists(output));
        }
    }
    // The clipped file is gridded with what it holds; the random bytes are no LAS file.
    EXPECT_TRUE(doc.m_DEMs.count("1.2-with-color-clipped.las.gtif"));
    EXPECT_TRUE(doc.m_DEMs.count("truncated.las.gtif"));
    EXPECT_FALSE(doc.m_DEMs.count("random.las.gtif"));
}

TEST_F(DemFromPointsTest, AbortWhileGriddingLeavesTheFileThatWasThereAndNoOther) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    const QString output = m_folder + "/dem.gtif";
    ASSERT_TRUE(kvtest::WriteFileBytes(output, "the operator's file"));

    // The operator presses Abort as soon as the gridding shows its window.
    int pressed = 0;
    QTimer abortButton;
    QObject::connect(&abortButton, &QTimer::timeout, [&pressed] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* progress = qobject_cast<CAbortSingleProgressDlg*>(w);
            if (progress && progress->isVisible() && progress->windowTitle() == "Generating DEM...") {
                progress->m_btnAbort.click();
                ++pressed;
            }
        }
    });
    abortButton.start(0);
    Run(doc, ui, {m_autzen}, output, "1");
    abortButton.stop();

    EXPECT_GE(pressed, 1);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"dem.gtif already exists.\nDo you want to replace it?"});
    EXPECT_EQ(doc.GetDEMCount(), 0);
    EXPECT_EQ(kvtest::FileBytes(output), "the operator's file");
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files).size(), 2);
}

}  // namespace
