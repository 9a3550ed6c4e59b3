// The ground filtering worker on generated surface models: objects go, the terrain and the
// no-data cells stay, an area limits the change, and no run leaves files behind.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/GroundFiltering.h"
#include "demtools/DemFromPoints.h"
#include "platform/las/Las.h"
#include "platform/tools/ProgressSink.h"
#include "raster/DEM.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TerrainTruth.h"
#include "support/TestEnv.h"

namespace {

// A sloping plane, 1 m cells, origin (1000, 2000).
double Plane(double x, double y) {
    return 50.0 + 0.05 * (x - 1000.0) - 0.03 * (y - 2000.0);
}

struct Box {
    int c0, r0, c1, r1;  // cells [c0, c1) x [r0, r1)
    double height;
    bool Contains(int c, int r) const { return c >= c0 && c < c1 && r >= r0 && r < r1; }
};

// A surface model of size x size cells on the plane: buildings (boxes) and single-cell spikes.
kvtest::RasterSpec Spec(int size, GDALDataType type = GDT_Float32, double noData = -9999.0) {
    kvtest::RasterSpec spec;
    spec.width = spec.height = size;
    spec.type = type;
    spec.noData = noData;
    spec.geoTransform = {1000.0, 1.0, 0.0, 2000.0, 0.0, -1.0};
    return spec;
}

double CellX(const double* gt, double c) {
    return gt[0] + (c + 0.5) * gt[1];
}
double CellY(const double* gt, double r) {
    return gt[3] + (r + 0.5) * gt[5];
}

const std::vector<Box> kBoxes = {{20, 20, 32, 30, 9.0}, {60, 50, 70, 64, 12.0}, {30, 70, 38, 78, 6.0}};
const std::vector<cv::Point> kSpikes = {{50, 20}, {80, 80}, {15, 60}};

double Surface(int c, int r, const double* gt) {
    double z = Plane(CellX(gt, c), CellY(gt, r));
    for (const Box& b : kBoxes) {
        if (b.Contains(c, r)) {
            z += b.height;
        }
    }
    for (const cv::Point& p : kSpikes) {
        if (p.x == c && p.y == r) {
            z += 25.0;
        }
    }
    return z;
}

QString WriteSurface(const QString& path, const kvtest::RasterSpec& spec,
                     const std::function<bool(int, int)>& noData = {}) {
    return kvtest::WriteRaster(path, spec, [&](int c, int r, int) {
        if (noData && noData(c, r)) {
            return spec.noData;
        }
        return Surface(c, r, spec.geoTransform.data());
    });
}

// A DEM layer object over the file, as the command hands it to the worker.
std::unique_ptr<CDEM> DemOf(const QString& path) {
    auto dem = std::make_unique<CDEM>(nullptr);
    dem->m_path = path;
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr);
    GDALGetGeoTransform(ds, dem->m_geoTransform);
    GDALClose(ds);
    return dem;
}

// Every file of the folder, hidden temporaries too.
QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

GroundFilterSettings Defaults(double gsd) {
    // What the parameters dialog hands over for Suburban at this GSD.
    GroundFilterSettings s;
    s.gsd = gsd;
    s.factor = 4.0 / gsd;
    s.curvatureThreshold = 0.3;
    return s;
}

struct Result {
    int code = 0;
    kvtest::RasterFacts facts;
    std::vector<double> cells;
    double At(int c, int r) const { return cells[size_t(r) * facts.width + c]; }
};

Result Filter(const QString& input, const QString& output, const GroundFilterSettings& settings,
              const std::vector<Wml::Point3>& area = {}) {
    Result result;
    QString error;
    result.code =
        FilterGroundToFile(*DemOf(input), output, settings, area, nullptr, nullptr, nullptr, &error);
    EXPECT_EQ(result.code, GroundFilterDone) << error.toStdString();
    result.facts = kvtest::Inspect(output);
    result.cells = kvtest::ReadBand(output);
    return result;
}

TEST(GroundFilteringWorker, BoxesAndSpikesGoDownToThePlaneAndNothingIsLeftInTheWorkFolder) {
    const QString folder = kvtest::NewTempFolder("gf_boxes");
    const QString input = WriteSurface(folder + "/dsm.tif", Spec(100));
    const Result out = Filter(input, folder + "/dtm.gtif", Defaults(1.0));
    ASSERT_EQ(out.facts.width, 100);
    EXPECT_EQ(out.facts.type, GDT_Float32);
    EXPECT_EQ(out.facts.noData, -9999.0);
    EXPECT_EQ(out.facts.blockX, 128);
    double worst = 0.0;
    for (int r = 0; r < 100; ++r) {
        for (int c = 0; c < 100; ++c) {
            bool onObject = false;
            for (const Box& b : kBoxes) {
                onObject = onObject || b.Contains(c, r);
            }
            for (const cv::Point& p : kSpikes) {
                onObject = onObject || (p.x == c && p.y == r);
            }
            if (onObject) {
                worst = std::max(worst, std::fabs(out.At(c, r) - Plane(CellX(out.facts.geoTransform, c),
                                                                       CellY(out.facts.geoTransform, r))));
            }
        }
    }
    EXPECT_LT(worst, 0.2);
    EXPECT_EQ(FilesIn(GroundFilteringWorkFolder()), QStringList());
    EXPECT_EQ(FilesIn(folder), QStringList({"dsm.tif", "dtm.gtif"}));
}

// Terrain the filter must keep: terraces with steep banks between them and a steep hillside,
// with buildings on it. Away from the buildings the ground comes out as the prescribed
// smoothing makes of the ground itself, and no ground cell, beside the buildings too, lies more
// than half a metre below that: neither the filter takes the banks' edges or the slope for
// objects, nor the fill bridges them lower.
TEST(GroundFilteringWorker, TerracesAndASteepSlopeKeepTheirGroundWhileTheBoxesGo) {
    const QString folder = kvtest::NewTempFolder("gf_terraces");
    const int size = 150;
    const auto ground = [](int c, int r) {
        // Terraces across the columns: 1.5 m banks 3 m wide every 25 m; rows beyond 100 rise at
        // 45 %.
        double z = 20.0;
        for (int step = 25; step < 150; step += 25) {
            z += 1.5 * std::clamp((c - step) / 3.0, 0.0, 1.0);
        }
        return z + (r > 100 ? 0.45 * (r - 100) : 0.0) + 0.01 * r;
    };
    const std::vector<Box> boxes = {{30, 30, 42, 40, 9.0}, {80, 60, 95, 72, 12.0}, {60, 110, 70, 118, 6.0}};
    const auto onBox = [&](int c, int r) {
        return std::any_of(boxes.begin(), boxes.end(), [&](const Box& b) { return b.Contains(c, r); });
    };
    const QString input = kvtest::WriteRaster(folder + "/dsm.tif", Spec(size), [&](int c, int r, int) {
        double z = ground(c, r);
        for (const Box& b : boxes) {
            z += b.Contains(c, r) ? b.height : 0.0;
        }
        return z;
    });
    const Result out = Filter(input, folder + "/dtm.gtif", Defaults(1.0));
    cv::Mat truth(size, size, CV_32F), smoothed;
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            truth.at<float>(r, c) = float(ground(c, r));
        }
    }
    cv::bilateralFilter(truth, smoothed, 11, 10.0, 20.0, cv::BORDER_REPLICATE);
    double worstOpen = 0.0, worstLowering = 0.0, worstBox = 0.0;
    for (int r = 0; r < size; ++r) {
        for (int c = 0; c < size; ++c) {
            const double v = out.At(c, r);
            if (onBox(c, r)) {
                worstBox = std::max(worstBox, std::fabs(v - ground(c, r)));
                continue;
            }
            // Open ground: further than the smoothing's reach from any box.
            bool near = false;
            for (const Box& b : boxes) {
                near = near || (c >= b.c0 - 6 && c < b.c1 + 6 && r >= b.r0 - 6 && r < b.r1 + 6);
            }
            if (!near) {
                worstOpen = std::max(worstOpen, std::fabs(v - smoothed.at<float>(r, c)));
            }
            worstLowering = std::max(worstLowering, double(smoothed.at<float>(r, c)) - v);
        }
    }
    EXPECT_LT(worstOpen, 0.05);
    EXPECT_LT(worstLowering, 0.5);
    EXPECT_LT(worstBox, 1.0);
}

TEST(GroundFilteringWorker, NoDataCellsStayNoDataWhateverTheNoDataValue) {
    // A disc without data next to a box, and the first two rows: the gap filler would give them
    // values, the output must not.
    const auto hole = [](int c, int r) { return r < 2 || (c - 45) * (c - 45) + (r - 25) * (r - 25) < 36; };
    for (double noData : {-9999.0, -32768.0, std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(noData);
        const QString folder = kvtest::NewTempFolder("gf_nodata");
        const QString input = WriteSurface(folder + "/dsm.tif", Spec(100, GDT_Float32, noData), hole);
        const Result out = Filter(input, folder + "/dtm.gtif", Defaults(1.0));
        const double expected = std::isnan(noData) ? -9999.0 : noData;
        EXPECT_EQ(out.facts.noData, expected);
        int wrong = 0;
        for (int r = 0; r < 100; ++r) {
            for (int c = 0; c < 100; ++c) {
                const double v = out.At(c, r);
                wrong += hole(c, r) ? v != expected : (v == expected || !std::isfinite(v));
            }
        }
        EXPECT_EQ(wrong, 0);
        // The box beside the disc is still taken off.
        EXPECT_NEAR(out.At(25, 25),
                    Plane(CellX(out.facts.geoTransform, 25), CellY(out.facts.geoTransform, 25)), 0.2);
    }
}

TEST(GroundFilteringWorker, OnlyGroundPointsAreGriddedIntoTheCellsTheyStandOn) {
    const QString folder = kvtest::NewTempFolder("gf_grid");
    // Wide enough that the cache holds one block row at a time: the points visit the third strip,
    // go back to the first and never touch the second.
    const int width = 33000, height = 260;
    const double gt[6] = {500.0, 2.0, 0.0, 900.0, 0.0, -2.0};
    LASheader header;
    header.xScaleFactor = header.yScaleFactor = header.zScaleFactor = 0.001;
    header.xOffset = 500.0;
    header.yOffset = 0.0;
    LASwriteOpener opener;
    opener.SetFileName(folder + "/ground.las");
    std::unique_ptr<LASwriterLAS> writer = opener.Open(header);
    ASSERT_TRUE(writer);
    struct P {
        double x, y, z;
        uint8_t cls;
    };
    const std::vector<P> points = {
        {500.0, 900.0, 1.0, 2},              // cell (0, 0)
        {502.9, 899.2, 2.0, 2},              // rounds to cell (1, 0)
        {510.0, 900.0, 3.0, 6},              // a building: not gridded
        {500.0, 900.0 - 2 * 259, 4.0, 2},    // last row, third strip
        {510.0, 900.0, 5.0, 1},              // unclassified
        {500.0, 900.0, 6.0, 2},              // back in the first strip: replaces cell (0, 0)
        {499.0 - 2.0, 900.0, 7.0, 2},        // outside
        {500.0 + 2 * 32999, 900.0, 8.0, 2},  // last column
    };
    for (const P& p : points) {
        LASpoint lp;
        lp.X = int32_t(std::lround((p.x - header.xOffset) / header.xScaleFactor));
        lp.Y = int32_t(std::lround((p.y - header.yOffset) / header.yScaleFactor));
        lp.Z = int32_t(std::lround(p.z / header.zScaleFactor));
        lp.classification = p.cls;
        ASSERT_TRUE(writer->WritePoint(lp));
    }
    ASSERT_TRUE(writer->Close());

    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", nullptr};
    const QString raster = folder + "/grid.tif";
    GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(raster).constData(), width,
                                 height, 1, GDT_Float32, const_cast<char**>(options));
    ASSERT_NE(ds, nullptr);
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    QString error;
    EXPECT_EQ(GridGroundPoints(folder + "/ground.las", band, gt, -9999.0f, nullptr, &error), GroundFilterDone)
        << error.toStdString();
    std::vector<float> cells(size_t(width) * height);
    ASSERT_EQ(
        GDALRasterIO(band, GF_Read, 0, 0, width, height, cells.data(), width, height, GDT_Float32, 0, 0),
        CE_None);
    GDALClose(ds);
    const auto at = [&](int c, int r) { return cells[size_t(r) * width + c]; };
    EXPECT_EQ(at(0, 0), 6.0f);
    EXPECT_EQ(at(1, 0), 2.0f);
    EXPECT_EQ(at(0, 259), 4.0f);
    EXPECT_EQ(at(width - 1, 0), 8.0f);
    EXPECT_EQ(at(5, 0), -9999.0f);
    size_t set = 0;
    for (float v : cells) {
        set += v != -9999.0f;
    }
    EXPECT_EQ(set, 4u);
}

TEST(GroundFilteringWorker, WithAnAreaOnlyItsCellsChangeAndNoDataBecomesMinus9999) {
    const QString folder = kvtest::NewTempFolder("gf_area");
    // An input whose no data is -32768, with a hole outside the area.
    const auto hole = [](int c, int r) { return c >= 90 && r >= 90; };
    const QString input = WriteSurface(folder + "/dsm.tif", Spec(100, GDT_Float32, -32768.0), hole);
    // Around the first box only, in world coordinates.
    const std::vector<Wml::Point3> area = {
        {1015.0, 1985.0, 0.0}, {1037.0, 1985.0, 0.0}, {1037.0, 1965.0, 0.0}, {1015.0, 1965.0, 0.0}};
    const Result out = Filter(input, folder + "/dtm.gtif", Defaults(1.0), area);
    EXPECT_EQ(out.facts.noData, -9999.0);
    const std::vector<double> before = kvtest::ReadBand(input);
    for (int r = 0; r < 100; ++r) {
        for (int c = 0; c < 100; ++c) {
            const bool inside = c >= 15 && c <= 37 && r >= 15 && r <= 35;
            if (hole(c, r)) {
                EXPECT_EQ(out.At(c, r), -9999.0);
            } else if (!inside) {
                ASSERT_EQ(out.At(c, r), before[size_t(r) * 100 + c]) << c << ", " << r;
            } else if (kBoxes[0].Contains(c, r)) {
                EXPECT_NEAR(out.At(c, r),
                            Plane(CellX(out.facts.geoTransform, c), CellY(out.facts.geoTransform, r)), 0.2);
            }
        }
    }
    // The second box lies outside: it stays.
    EXPECT_EQ(out.At(65, 55), before[55 * 100 + 65]);
}

TEST(GroundFilteringWorker, AnAreaOutsideTheDemIsRefusedAndWritesNothing) {
    kvtest::ScriptedInteraction ui;
    const QString folder = kvtest::NewTempFolder("gf_outside");
    const QString input = WriteSurface(folder + "/dsm.tif", Spec(100));
    const std::vector<Wml::Point3> area = {
        {5000.0, 5000.0, 0.0}, {5010.0, 5000.0, 0.0}, {5010.0, 4990.0, 0.0}};
    EXPECT_EQ(FilterGroundToFile(*DemOf(input), folder + "/dtm.gtif", Defaults(1.0), area, nullptr, nullptr,
                                 nullptr),
              GroundFilterAreaOutside);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Selected area is out of selected DEM"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Error);
    EXPECT_EQ(FilesIn(folder), QStringList({"dsm.tif"}));
    EXPECT_EQ(FilesIn(GroundFilteringWorkFolder()), QStringList());
}

TEST(GroundFilteringWorker, AGsdOfThePixelWidthCopiesTheGridAndALargerOneResamplesIt) {
    const QString folder = kvtest::NewTempFolder("gf_gsd");
    const QString input = WriteSurface(folder + "/dsm.tif", Spec(100));
    const Result same = Filter(input, folder + "/same.gtif", Defaults(1.0));
    EXPECT_EQ(same.facts.width, 100);
    EXPECT_EQ(same.facts.height, 100);
    EXPECT_EQ(same.facts.geoTransform[1], 1.0);
    const Result coarse = Filter(input, folder + "/coarse.gtif", Defaults(2.5));
    EXPECT_EQ(coarse.facts.width, 40);
    EXPECT_EQ(coarse.facts.height, 40);
    EXPECT_DOUBLE_EQ(coarse.facts.geoTransform[1], 2.5);
    EXPECT_DOUBLE_EQ(coarse.facts.geoTransform[5], -2.5);
    EXPECT_EQ(coarse.facts.geoTransform[0], 1000.0);
    // Away from the objects and the edges the terrain is kept.
    EXPECT_NEAR(coarse.At(20, 34),
                Plane(CellX(coarse.facts.geoTransform, 20), CellY(coarse.facts.geoTransform, 34)), 0.2);
}

TEST(GroundFilteringWorker, SixteenBitIntegersGiveTheSameResultAsFloats) {
    const QString folder = kvtest::NewTempFolder("gf_types");
    // The same whole numbers stored both ways.
    const kvtest::RasterSpec spec = Spec(100);
    const auto whole = [&](int c, int r, int) { return std::round(Surface(c, r, spec.geoTransform.data())); };
    const QString floats = kvtest::WriteRaster(folder + "/f.tif", spec, whole);
    const QString integers = kvtest::WriteRaster(folder + "/i.tif", Spec(100, GDT_Int16), whole);
    const Result a = Filter(floats, folder + "/f.gtif", Defaults(1.0));
    const Result b = Filter(integers, folder + "/i.gtif", Defaults(1.0));
    EXPECT_EQ(a.cells, b.cells);
}

TEST(GroundFilteringWorker, TilesOfAtMost4096CellsCoverEverySideOnce) {
    EXPECT_EQ(GroundFilterTiles(4096).size(), 1u);
    EXPECT_EQ(GroundFilterTiles(4097).size(), 2u);
    EXPECT_EQ(GroundFilterTiles(7168).size(), 2u);
    EXPECT_EQ(GroundFilterTiles(7169).size(), 3u);
    for (int side : {1, 100, 4096, 4097, 5000, 7168, 7169, 20000}) {
        SCOPED_TRACE(side);
        int covered = 0;
        for (const GroundFilterTile& t : GroundFilterTiles(side)) {
            EXPECT_LE(t.size, 4096);
            EXPECT_EQ(t.start % 3072, 0);
            EXPECT_EQ(t.writeBegin, covered);
            EXPECT_GE(t.writeBegin, t.start);
            EXPECT_LE(t.writeEnd, t.start + t.size);
            covered = t.writeEnd;
        }
        EXPECT_EQ(covered, side);
    }
}

// Raises the abort flag once the overall bar reaches a step, or at the first move of the phase
// bar after that step.
class AbortAt {
public:
    AbortAt(int step, bool insidePhase) : m_step(step), m_inside(insidePhase) {}
    int flag = 0;
    int reached = 0;

    class Overall : public ProgressSink {
    public:
        explicit Overall(AbortAt* owner) : m_owner(owner) {}
        void SetRange(int, int) override {}
        void SetPos(int pos) override {
            m_owner->reached = pos;
            if (pos == m_owner->m_step && !m_owner->m_inside) {
                m_owner->flag = 1;
            }
        }

    private:
        AbortAt* m_owner;
    };
    class Phase : public ProgressSink {
    public:
        explicit Phase(AbortAt* owner) : m_owner(owner) {}
        void SetRange(int, int) override {}
        void SetPos(int pos) override {
            if (pos > 0 && m_owner->m_inside && m_owner->reached == m_owner->m_step) {
                m_owner->flag = 1;
            }
        }

    private:
        AbortAt* m_owner;
    };
    Overall overall{this};
    Phase phase{this};

private:
    int m_step;
    bool m_inside;
};

TEST(GroundFilteringWorker, AnAbortInAnyPhaseLeavesNoWorkFileAndTheOldOutput) {
    const QString folder = kvtest::NewTempFolder("gf_abort");
    // Large enough for overviews, so that the last phase has a bar of its own too.
    const QString input = WriteSurface(folder + "/dsm.tif", Spec(1100));
    const QString output = folder + "/dtm.gtif";
    // Between the phases, after each of the eight; inside every phase with a bar of its own (all
    // but the preparation and the completion of the LAS header).
    std::vector<std::pair<int, bool>> points;
    for (int step = 0; step <= 8; ++step) {
        points.push_back({step, false});
    }
    for (int step : {1, 2, 4, 5, 6, 7}) {
        points.push_back({step, true});
    }
    for (const auto& [step, inside] : points) {
        SCOPED_TRACE(testing::Message() << "step " << step << (inside ? " inside" : ""));
        ASSERT_TRUE(kvtest::WriteFileBytes(output, "an older file"));
        AbortAt abort(step, inside);
        EXPECT_EQ(FilterGroundToFile(*DemOf(input), output, Defaults(1.0), {}, &abort.overall, &abort.phase,
                                     &abort.flag),
                  GroundFilterAborted);
        EXPECT_EQ(FilesIn(GroundFilteringWorkFolder()), QStringList());
        EXPECT_EQ(FilesIn(folder), QStringList({"dsm.tif", "dtm.gtif"}));
        EXPECT_EQ(kvtest::FileBytes(output), QByteArray("an older file"));
    }
}

// Keeps a copy of the point cloud the filter reads: the LAS files of the work folder at the first
// move of the filtering phase's bar.
class CloudCopy {
public:
    explicit CloudCopy(const QString& folder) : m_folder(folder) {}
    QStringList copies;

    class Overall : public ProgressSink {
    public:
        explicit Overall(CloudCopy* owner) : m_owner(owner) {}
        void SetRange(int, int) override {}
        void SetPos(int pos) override { m_owner->m_reached = pos; }

    private:
        CloudCopy* m_owner;
    };
    class Phase : public ProgressSink {
    public:
        explicit Phase(CloudCopy* owner) : m_owner(owner) {}
        void SetRange(int, int) override {}
        void SetPos(int pos) override {
            if (pos > 0 && m_owner->m_reached == 4 && m_owner->copies.isEmpty()) {
                const QDir work(GroundFilteringWorkFolder());
                for (const QString& name : work.entryList({"*.las"}, QDir::Files)) {
                    const QString copy = m_owner->m_folder + "/copy_" + name;
                    QFile::copy(work.filePath(name), copy);
                    m_owner->copies << copy;
                }
            }
        }

    private:
        CloudCopy* m_owner;
    };
    Overall overall{this};
    Phase phase{this};

private:
    QString m_folder;
    int m_reached = 0;
};

TEST(GroundFilteringWorker, ThePointCloudHoldsEveryValidCellCornerAndTheDemsProjection) {
    const QString folder = kvtest::NewTempFolder("gf_cloud");
    // Cells of a quarter unit, and a block of cells without data.
    kvtest::RasterSpec spec = Spec(60);
    spec.geoTransform = {1000.0, 0.25, 0.0, 2000.0, 0.0, -0.25};
    auto hole = [](int c, int r) { return c >= 10 && c < 20 && r >= 5 && r < 9; };
    const QString input = WriteSurface(folder + "/dsm.tif", spec, hole);
    std::unique_ptr<CDEM> dem = DemOf(input);
    dem->m_projection = QStringLiteral("PROJCS[\"WGS 84 / UTM zone 25S\"]");
    CloudCopy cloud(folder);
    ASSERT_EQ(FilterGroundToFile(*dem, folder + "/dtm.gtif", Defaults(0.25), {}, &cloud.overall, &cloud.phase,
                                 nullptr),
              GroundFilterDone);
    ASSERT_EQ(cloud.copies.size(), 1);

    LASreadOpener opener;
    opener.SetFileName(cloud.copies[0]);
    std::unique_ptr<LASreader> reader = opener.Open();
    ASSERT_TRUE(reader);
    const LASheader& h = reader->header;
    EXPECT_EQ(h.systemIdentifier, "Palvex - Drovane Software");
    EXPECT_EQ(h.generatingSoftware, "Palvex - Drovane Software");
    // The bounds of a LAS file are those of its points: the corners of the first and last cells.
    EXPECT_DOUBLE_EQ(h.minX, 1000.0);
    EXPECT_DOUBLE_EQ(h.maxX, 1014.75);
    EXPECT_DOUBLE_EQ(h.minY, 1985.25);
    EXPECT_DOUBLE_EQ(h.maxY, 2000.0);
    EXPECT_LE(h.xScaleFactor, 0.025);
    EXPECT_LE(h.yScaleFactor, 0.025);
    ASSERT_EQ(h.vlrs.size(), 1u);
    EXPECT_EQ(h.vlrs[0].userId, "LASF_Projection");
    EXPECT_EQ(h.vlrs[0].recordId, 2112);
    EXPECT_EQ(std::string(h.vlrs[0].data.begin(), h.vlrs[0].data.end()), dem->m_projection.toStdString());
    EXPECT_EQ(h.numberOfPointRecords, uint64_t(60 * 60 - 10 * 4));
    // Every point stands on the corner of a valid cell with the cell's height.
    size_t points = 0, misplaced = 0;
    double minZ = 1e9, maxZ = -1e9;
    while (reader->ReadPoint()) {
        ++points;
        const double c = (reader->GetX() - 1000.0) / 0.25, r = (2000.0 - reader->GetY()) / 0.25;
        const int ci = int(std::lround(c)), ri = int(std::lround(r));
        const bool onCorner = std::fabs(c - ci) < 1e-6 && std::fabs(r - ri) < 1e-6 && !hole(ci, ri);
        misplaced +=
            !onCorner || std::fabs(reader->GetZ() - Surface(ci, ri, spec.geoTransform.data())) > 0.0011;
        minZ = std::min(minZ, reader->GetZ());
        maxZ = std::max(maxZ, reader->GetZ());
    }
    EXPECT_EQ(points, h.numberOfPointRecords);
    EXPECT_EQ(misplaced, 0u);
    EXPECT_NEAR(h.minZ, minZ, 1e-9);
    EXPECT_NEAR(h.maxZ, maxZ, 1e-9);
}

TEST(GroundFilteringWorker, ADemInDegreesKeepsEveryCellInPlace) {
    // Cells of 30 arc seconds, as the Luxembourg DEM of the test data has them: every point must
    // fall back into its own cell, which coordinates kept to a hundredth of a degree would not.
    const QString folder = kvtest::NewTempFolder("gf_degrees");
    kvtest::RasterSpec spec;
    spec.width = 95;
    spec.height = 90;
    spec.noData = -32768.0;
    spec.geoTransform = {5.741666666666666, 1.0 / 120.0, 0.0, 50.191666666666663, 0.0, -1.0 / 120.0};
    const QString input = kvtest::WriteRaster(folder + "/elev.tif", spec,
                                              [](int c, int r, int) { return 300.0 + 0.2 * c + 0.1 * r; });
    GroundFilterSettings settings;
    settings.gsd = spec.geoTransform[1];
    settings.factor = 4.0;  // a custom factor: the filter's scale is four cells
    const Result out = Filter(input, folder + "/dtm.gtif", settings);
    double worst = 0.0;
    for (int r = 6; r < spec.height - 6; ++r) {
        for (int c = 6; c < spec.width - 6; ++c) {
            worst = std::max(worst, std::fabs(out.At(c, r) - (300.0 + 0.2 * c + 0.1 * r)));
        }
    }
    EXPECT_LT(worst, 0.01);
}

TEST(GroundFilteringWorker, OnRealLidarTheObjectsGoAndTheOpenGroundStays) {
    const QString folder = kvtest::NewTempFolder("gf_autzen");
    const QString las = kvtest::DataPath("autzen_trim.las");
    const QString dsm = folder + "/autzen_dsm.tif";
    QString error;
    ASSERT_EQ(CreateDemFromPointFiles({las}, 5.0, dsm, nullptr, &error), PointCloudGridder::Done)
        << error.toStdString();
    const kvtest::RasterFacts facts = kvtest::Inspect(dsm);
    const cv::Mat ground = kvtest::GridPointsMax(las, facts.geoTransform, facts.width, facts.height, 2);
    ASSERT_FALSE(ground.empty());

    const QString dtm = folder + "/autzen_dtm.gtif";
    const Result out = Filter(dsm, dtm, Defaults(5.0));
    ASSERT_EQ(out.facts.width, facts.width);
    const cv::Mat surface = kvtest::ReadGrid(dsm);
    const cv::Mat filtered = kvtest::ReadGrid(dtm);
    const kvtest::Deviation before = kvtest::DeviationFrom(surface, ground);
    const kvtest::Deviation after = kvtest::DeviationFrom(filtered, ground);
    // The cells of objects: the surface model stands more than a unit above the ground there.
    cv::Mat objects = (surface - ground > 1.0f) & (ground != -9999.0f);
    const kvtest::Deviation objectsBefore = kvtest::DeviationFrom(surface, ground, objects);
    const kvtest::Deviation objectsAfter = kvtest::DeviationFrom(filtered, ground, objects);
    std::printf("all %zu cells: surface median %.3f p95 %.3f, filtered median %.3f p95 %.3f\n", before.cells,
                before.median, before.p95, after.median, after.p95);
    std::printf("%zu object cells: surface median %.3f p95 %.3f, filtered median %.3f p95 %.3f\n",
                objectsBefore.cells, objectsBefore.median, objectsBefore.p95, objectsAfter.median,
                objectsAfter.p95);
    EXPECT_GT(after.cells, before.cells * 99 / 100);
    // Patches of objects with no ground point around them stay without data: the smoothing makes
    // no value out of a no-data cell (the terrain here lies between 400 and 440 feet).
    int stray = 0;
    for (int r = 0; r < filtered.rows; ++r) {
        for (int c = 0; c < filtered.cols; ++c) {
            const float v = filtered.at<float>(r, c);
            stray += v != -9999.0f && !(v > 350.0f && v < 500.0f);
        }
    }
    EXPECT_EQ(stray, 0);
    EXPECT_GT(objectsBefore.cells, 500u);
    // The objects go: far closer to the ground over them, and in the tail over all cells.
    EXPECT_LT(objectsAfter.median, objectsBefore.median / 4);
    EXPECT_LT(objectsAfter.p95, objectsBefore.p95 / 2);
    EXPECT_LT(after.p95, before.p95 / 4);
    // On open ground the surface model is the ground itself; the smoothing costs a tenth of a unit
    // at most there.
    EXPECT_LT(after.median, before.median + 0.1);
}

// The surface model of the same lidar at the cell size the DEM command proposes, filtered with
// the parameters dialog's defaults: the terrain model lies within the heights of the surface, as
// the holes the objects leave are filled from the ground around them (a fill that overshot its
// rim would dig a pit, and one cell would stretch the legend).
TEST(GroundFilteringWorker, OnRealLidarNoFilledCellLiesBeyondTheSurfacesHeights) {
    const QString folder = kvtest::NewTempFolder("gf_autzen_proposed");
    const QString dsm = folder + "/autzen_dsm.tif";
    PointCloudGridder gridder({kvtest::DataPath("autzen_trim.las")});
    ASSERT_EQ(gridder.Scan(nullptr), PointCloudGridder::Done);
    ASSERT_EQ(gridder.EstimateSpacing(nullptr), PointCloudGridder::Done);
    const double gsd = QString::number(gridder.ProposedGsd(), 'f', 4).toDouble();
    EXPECT_EQ(gsd, 1.5905);
    ASSERT_EQ(gridder.Grid(gsd, dsm, nullptr), PointCloudGridder::Done) << gridder.Error().toStdString();

    const Result out = Filter(dsm, folder + "/autzen_dtm.gtif", GroundFilterSettings());
    double lowest = 0, highest = 0;
    cv::minMaxLoc(kvtest::ReadGrid(dsm), &lowest, &highest, nullptr, nullptr,
                  kvtest::ReadGrid(dsm) != -9999.0f);
    int beyond = 0, valid = 0;
    for (double v : out.cells) {
        if (v != -9999.0) {
            ++valid;
            beyond += v < lowest || v > highest;
        }
    }
    EXPECT_GT(valid, 0);
    EXPECT_EQ(beyond, 0) << "heights " << lowest << " to " << highest;
}

}  // namespace
