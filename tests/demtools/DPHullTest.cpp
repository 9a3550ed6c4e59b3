// Line simplification by path hulls: the kept vertices against a plain recursive Douglas-Peucker
// on random and real contour lines, the squared-distance tolerance at its edge, and the shapefile
// the simplifier rewrites.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>
#include <gdal_alg.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "demtools/DPHull.h"
#include "support/TestEnv.h"

namespace {

using Line = std::vector<double>;  // x, y pairs

// The textbook recursion: split at the first vertex of largest distance while its squared
// distance exceeds the tolerance. Notes whether a split had two candidates at the same distance.
void PlainDouglasPeucker(const Line& xy, int i, int j, double tolerance, std::vector<int>& kept, bool* tie) {
    const double ax = xy[2 * i], ay = xy[2 * i + 1];
    const double dx = xy[2 * j] - ax, dy = xy[2 * j + 1] - ay;
    int split = -1;
    double best = -1.0;
    bool equal = false;
    for (int k = i + 1; k < j; ++k) {
        const double measure = std::fabs(dx * (xy[2 * k + 1] - ay) - dy * (xy[2 * k] - ax));
        if (measure > best) {
            best = measure;
            split = k;
            equal = false;
        } else if (measure == best) {
            equal = true;
        }
    }
    if (split < 0 || !(best * best > tolerance * (dx * dx + dy * dy))) {
        return;
    }
    *tie = *tie || equal;
    PlainDouglasPeucker(xy, i, split, tolerance, kept, tie);
    kept.push_back(split);
    PlainDouglasPeucker(xy, split, j, tolerance, kept, tie);
}

std::vector<int> Plain(const Line& xy, double tolerance, bool* tie) {
    const int n = int(xy.size() / 2);
    std::vector<int> kept{0};
    PlainDouglasPeucker(xy, 0, n - 1, tolerance, kept, tie);
    kept.push_back(n - 1);
    return kept;
}

std::vector<int> Hull(const Line& xy, double tolerance) {
    return SimplifyLine(xy.data(), int(xy.size() / 2), tolerance);
}

TEST(DPHullTest, TheToleranceIsASquaredDistanceFromTheChordsLine) {
    // A straight line keeps its ends, also when it runs back over itself.
    Line straight;
    for (int k = 0; k < 100; ++k) {
        straight.insert(straight.end(), {3.0 * (k % 17), 1.5 * (k % 17)});
    }
    straight.insert(straight.end(), {60.0, 30.0});
    EXPECT_EQ(Hull(straight, 1e-9), (std::vector<int>{0, 100}));

    // 0.5 from the chord's line is dropped at 0.25 (0.5 squared), 0.51 is kept; in short spans
    // (scanned) and in long ones (searched in the hulls).
    for (int length : {3, 21}) {
        Line line;
        for (int k = 0; k < length; ++k) {
            line.insert(line.end(), {double(k), 0.0});
        }
        line[2 * (length / 2) + 1] = 0.5;
        EXPECT_EQ(Hull(line, 0.25), (std::vector<int>{0, length - 1})) << length;
        line[2 * (length / 2) + 1] = -0.51;
        EXPECT_EQ(Hull(line, 0.25), (std::vector<int>{0, length / 2, length - 1})) << length;
    }

    // A span whose ends coincide has no chord: nothing inside it is kept.
    const Line loop = {0, 0, 10, 0, 10, 10, 5, 20, 0, 10, 0, 0};
    EXPECT_EQ(Hull(loop, 1.0), (std::vector<int>{0, 5}));
}

TEST(DPHullTest, KeepsWhatAPlainDouglasPeuckerKeeps) {
    // Simple lines, as contour lines are: random walks that always move on in x (smooth and
    // jagged, up to 3000 vertices), the same on a grid, whose many collinear vertices put the
    // hulls' degenerate cases to work, and star-shaped rings.
    std::mt19937 random(7);
    std::normal_distribution<double> step(0.0, 1.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int compared = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 3 + int(random() % 3000);
        Line xy;
        double x = 1e5, y = 9e6, dy = 0.0;
        for (int k = 0; k < n; ++k) {
            switch (trial % 4) {
                case 0:
                    x += 1.0;
                    y += double(int(random() % 3) - 1);
                    break;
                case 1:
                    dy += 0.2 * step(random);
                    x += 0.1 + unit(random);
                    y += dy;
                    break;
                case 2:
                    x += 0.01 + unit(random);
                    y += 3.0 * step(random);
                    break;
                default: {
                    const double angle = 2.0 * M_PI * k / n;
                    const double radius = 100.0 * (1.0 + 0.3 * unit(random));
                    x = 1e5 + radius * std::cos(angle);
                    y = 9e6 + radius * std::sin(angle);
                }
            }
            xy.insert(xy.end(), {x, y});
        }
        for (double tolerance : {0.01, 1.0, 25.0, 400.0}) {
            bool tie = false;
            const std::vector<int> expected = Plain(xy, tolerance, &tie);
            if (tie) {
                continue;
            }
            const std::vector<int> kept = Hull(xy, tolerance);
            if (kept != expected) {
                size_t k = 0;
                while (k < kept.size() && k < expected.size() && kept[k] == expected[k]) {
                    ++k;
                }
                FAIL() << "trial " << trial << " tolerance " << tolerance << " n " << n << " at " << k << ": "
                       << (k < kept.size() ? kept[k] : -1) << " vs "
                       << (k < expected.size() ? expected[k] : -1);
            }
            ++compared;
        }
    }
    EXPECT_GT(compared, 900);

    // Lines that cross themselves are no contour lines, but they still get the ends and
    // increasing vertices of their own.
    for (int trial = 0; trial < 50; ++trial) {
        const int n = 3 + int(random() % 2000);
        Line xy;
        double x = 0.0, y = 0.0, heading = 0.0;
        for (int k = 0; k < n; ++k) {
            heading += 2.0 * step(random);
            x += std::cos(heading);
            y += std::sin(heading);
            xy.insert(xy.end(), {x, y});
        }
        const std::vector<int> kept = Hull(xy, 0.5);
        ASSERT_GE(kept.size(), 2u);
        EXPECT_EQ(kept.front(), 0);
        EXPECT_EQ(kept.back(), n - 1);
        EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end()) &&
                    std::adjacent_find(kept.begin(), kept.end()) == kept.end());
    }
}

TEST(DPHullTest, OlindaContoursKeepThePlainDouglasPeuckerVertices) {
    GDALDatasetH dem =
        GDALOpen(QFile::encodeName(kvtest::DataPath("olinda_dem_nodata.tif")).constData(), GA_ReadOnly);
    ASSERT_NE(dem, nullptr);
    OGRDataSourceH memory = OGR_Dr_CreateDataSource(OGRGetDriverByName("Memory"), "lines", nullptr);
    OGRLayerH layer = OGR_DS_CreateLayer(memory, "lines", nullptr, wkbLineString25D, nullptr);
    const char* options[] = {"LEVEL_INTERVAL=2", "NODATA=-9999", nullptr};
    ASSERT_EQ(GDALContourGenerateEx(GDALGetRasterBand(dem, 1), layer, const_cast<char**>(options), nullptr,
                                    nullptr),
              CE_None);
    GDALClose(dem);
    int lines = 0, compared = 0, vertices = 0, keptVertices = 0;
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH g = OGR_F_GetGeometryRef(feature);
        Line xy;
        for (int k = 0; k < OGR_G_GetPointCount(g); ++k) {
            xy.insert(xy.end(), {OGR_G_GetX(g, k), OGR_G_GetY(g, k)});
        }
        OGR_F_Destroy(feature);
        ++lines;
        for (double tolerance : {0.089994067, 100.0, 2500.0}) {
            bool tie = false;
            const std::vector<int> expected = Plain(xy, tolerance, &tie);
            if (tie) {
                continue;
            }
            const std::vector<int> kept = Hull(xy, tolerance);
            ASSERT_EQ(kept, expected) << "line " << lines << " tolerance " << tolerance;
            ++compared;
            vertices += int(xy.size() / 2);
            keptVertices += int(kept.size());
        }
    }
    GDALClose(static_cast<GDALDatasetH>(memory));
    EXPECT_GT(lines, 300);
    EXPECT_GT(compared, 2 * lines);
    EXPECT_LT(keptVertices, vertices / 2);
}

// A shapefile of 2.5D lines with the two contour fields.
void WriteLines(const QString& path, const std::vector<Line>& lines) {
    OGRDataSourceH ds = OGR_Dr_CreateDataSource(OGRGetDriverByName("ESRI Shapefile"),
                                                QFile::encodeName(path).constData(), nullptr);
    ASSERT_NE(ds, nullptr);
    OGRLayerH layer = OGR_DS_CreateLayer(ds, "Contours", nullptr, wkbLineString25D, nullptr);
    OGRFieldDefnH id = OGR_Fld_Create("ID", OFTInteger);
    OGR_L_CreateField(layer, id, FALSE);
    OGR_Fld_Destroy(id);
    OGRFieldDefnH elevation = OGR_Fld_Create("Elevation", OFTReal);
    OGR_L_CreateField(layer, elevation, FALSE);
    OGR_Fld_Destroy(elevation);
    for (size_t i = 0; i < lines.size(); ++i) {
        OGRFeatureH feature = OGR_F_Create(OGR_L_GetLayerDefn(layer));
        OGRGeometryH g = OGR_G_CreateGeometry(wkbLineString25D);
        const Line& line = lines[i];
        const bool ring = line[0] == line[line.size() - 2] && line[1] == line.back();
        for (size_t k = 0; k + 1 < line.size(); k += 2) {
            // The Z of an open line varies along it: the copy takes the first vertex's. (A ring
            // with another Z at its end would not be closed.)
            OGR_G_AddPoint(g, line[k], line[k + 1], 100.0 + double(i) + (ring ? 0.0 : double(k)));
        }
        OGR_F_SetGeometryDirectly(feature, g);
        OGR_F_SetFieldInteger(feature, 0, int(i));
        OGR_F_SetFieldDouble(feature, 1, 100.0 + double(i));
        EXPECT_EQ(OGR_L_CreateFeature(layer, feature), OGRERR_NONE);
        OGR_F_Destroy(feature);
    }
    GDALClose(static_cast<GDALDatasetH>(ds));
}

TEST(DPHullTest, ShapefileIsRewrittenWithoutFieldsAndClosedLinesStayClosed) {
    const QString folder = kvtest::NewTempFolder("simplify");
    // Four vertices (copied however small the tolerance), a ring of 4 distinct vertices within the
    // tolerance of its first-to-last line, a ring that drops a vertex near its first side, and a
    // wiggly line.
    const std::vector<Line> lines = {
        {0, 0, 1, 0.001, 2, 0, 3, 0.001},
        {0, 0, 10, 0.1, 20, 0.1, 30, 0, 0, 0},
        {0, 0, 5, 0.1, 10, 0, 10, 10, 0, 10, 0, 0},
        {0, 0, 1, 0.1, 2, 0, 3, 5, 4, 0, 5, 0.1, 6, 0},
    };
    WriteLines(folder + "/temp.shp", lines);
    ASSERT_EQ(SimplifyContourShapefile(folder + "/temp.shp", folder + "/out.shp", 1.0), 1);

    OGRDataSourceH ds = OGROpen(QFile::encodeName(folder + "/out.shp").constData(), FALSE, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRLayerH layer = OGR_DS_GetLayer(ds, 0);
    // No attribute of the source is carried over (the driver keeps a placeholder field of its own
    // in a table without fields).
    EXPECT_EQ(OGR_FD_GetFieldIndex(OGR_L_GetLayerDefn(layer), "ID"), -1);
    EXPECT_EQ(OGR_FD_GetFieldIndex(OGR_L_GetLayerDefn(layer), "Elevation"), -1);
    EXPECT_LE(OGR_FD_GetFieldCount(OGR_L_GetLayerDefn(layer)), 1);
    EXPECT_EQ(OGR_L_GetGeomType(layer), wkbLineString25D);
    const std::vector<Line> expected = {
        {0, 0, 1, 0.001, 2, 0, 3, 0.001},
        {0, 0, 30, 0, 0, 0},
        {0, 0, 10, 0, 10, 10, 0, 10, 0, 0},
        {0, 0, 2, 0, 3, 5, 4, 0, 6, 0},
    };
    size_t i = 0;
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        ASSERT_LT(i, expected.size());
        OGRGeometryH g = OGR_F_GetGeometryRef(feature);
        Line got;
        for (int k = 0; k < OGR_G_GetPointCount(g); ++k) {
            got.insert(got.end(), {OGR_G_GetX(g, k), OGR_G_GetY(g, k)});
            EXPECT_EQ(OGR_G_GetZ(g, k), 100.0 + double(i)) << i;
        }
        EXPECT_EQ(got, expected[i]) << i;
        ++i;
        OGR_F_Destroy(feature);
    }
    EXPECT_EQ(i, expected.size());
    GDALClose(static_cast<GDALDatasetH>(ds));

    // A target whose index file cannot be made leaves no ".shp" behind; a tolerance of 0 and a
    // missing source are refused.
    ASSERT_TRUE(QDir(folder).mkdir("blocked.shx"));
    EXPECT_EQ(SimplifyContourShapefile(folder + "/temp.shp", folder + "/blocked.shp", 1.0), 0);
    EXPECT_FALSE(QFileInfo::exists(folder + "/blocked.shp"));
    EXPECT_FALSE(QFileInfo::exists(folder + "/blocked.dbf"));
    EXPECT_EQ(SimplifyContourShapefile(folder + "/temp.shp", folder + "/zero.shp", 0.0), 0);
    EXPECT_EQ(SimplifyContourShapefile(folder + "/missing.shp", folder + "/none.shp", 1.0), 0);
    EXPECT_FALSE(QFileInfo::exists(folder + "/zero.shp"));
    EXPECT_FALSE(QFileInfo::exists(folder + "/none.shp"));
}

}  // namespace
