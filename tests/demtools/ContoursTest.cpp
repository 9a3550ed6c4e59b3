// Contour lines as the operator builds them: the dialog's proposals and refusals, the shapefile
// beside the project compared with GDAL's own contour tracing of the same heights, the locked CAD
// layer with its labels, and what a DEM with unsaved edits, a band with another no-data value and a
// run that cannot write get.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMdiArea>
#include <QTest>
#include <QTimer>

#include <gdal.h>
#include <gdal_alg.h>
#include <gtest/gtest.h>
#include <ogr_api.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DemToolsTestSupport.h"
#include "controls/AbortSingleProgressDlg.h"
#include "demtools/ContourLinesDlg.h"
#include "demtools/DemContours.h"
#include "demtools/DemToolsCommands.h"
#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "raster/DEM.h"
#include "support/Limits.h"
#include "support/MouseInput.h"
#include "support/Pictures.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/KelvaroFrame.h"
#include "view/KelvaroView.h"

namespace {

// Lines of one level: how many and their total length in the plane.
struct LevelLines {
    int count = 0;
    double length = 0.0;
};
using Lines = std::map<double, LevelLines>;

// The lines of a layer by their level (the Z of their first vertex, or the elevation field).
Lines LinesOf(OGRLayerH layer, int elevationField = -1) {
    Lines lines;
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH line = OGR_F_GetGeometryRef(feature);
        const double level =
            elevationField >= 0 ? OGR_F_GetFieldAsDouble(feature, elevationField) : OGR_G_GetZ(line, 0);
        LevelLines& entry = lines[level];
        ++entry.count;
        for (int k = 1; k < OGR_G_GetPointCount(line); ++k) {
            entry.length += std::hypot(OGR_G_GetX(line, k) - OGR_G_GetX(line, k - 1),
                                       OGR_G_GetY(line, k) - OGR_G_GetY(line, k - 1));
        }
        OGR_F_Destroy(feature);
    }
    return lines;
}

// What GDAL's contour tracing (the gdal_contour program's library call) makes of a band at the
// fixed levels with that no-data value.
Lines GdalLines(const QString& raster, const std::string& levels, double noData) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(raster).constData(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr);
    OGRDataSourceH memory = OGR_Dr_CreateDataSource(OGRGetDriverByName("Memory"), "reference", nullptr);
    OGRLayerH layer = OGR_DS_CreateLayer(memory, "contour", nullptr, wkbLineString25D, nullptr);
    OGRFieldDefnH id = OGR_Fld_Create("ID", OFTInteger);
    OGR_L_CreateField(layer, id, FALSE);
    OGR_Fld_Destroy(id);
    OGRFieldDefnH elevation = OGR_Fld_Create("ELEV", OFTReal);
    OGR_L_CreateField(layer, elevation, FALSE);
    OGR_Fld_Destroy(elevation);
    const std::string fixed = "FIXED_LEVELS=" + levels;
    const std::string nodata = "NODATA=" + std::to_string(noData);
    const char* options[] = {fixed.c_str(), nodata.c_str(), "ID_FIELD=0", "ELEV_FIELD=1", nullptr};
    EXPECT_EQ(
        GDALContourGenerateEx(GDALGetRasterBand(ds, 1), layer, const_cast<char**>(options), nullptr, nullptr),
        CE_None);
    Lines lines = LinesOf(layer, 1);
    GDALClose(static_cast<GDALDatasetH>(memory));
    GDALClose(ds);
    return lines;
}

// The same lines per level, their lengths within 1e-6 relative.
void ExpectSameLines(const Lines& ours, const Lines& reference) {
    ASSERT_EQ(ours.size(), reference.size());
    for (const auto& [level, lines] : reference) {
        ASSERT_EQ(ours.count(level), 1u) << level;
        EXPECT_EQ(ours.at(level).count, lines.count) << level;
        EXPECT_NEAR(ours.at(level).length, lines.length, 1e-6 * lines.length) << level;
    }
}

Lines ShapefileLines(const QString& shp) {
    OGRDataSourceH ds = OGROpen(QFile::encodeName(shp).constData(), FALSE, nullptr);
    EXPECT_NE(ds, nullptr);
    if (!ds) {
        return {};
    }
    Lines lines = LinesOf(OGR_DS_GetLayer(ds, 0));
    GDALClose(static_cast<GDALDatasetH>(ds));
    return lines;
}

// One line as written: its running number, its level and its vertices.
struct Feature {
    int id = 0;
    double elevation = 0.0;
    std::vector<std::array<double, 3>> points;
    bool operator==(const Feature&) const = default;
};

std::vector<Feature> FeaturesOf(OGRLayerH layer) {
    std::vector<Feature> features;
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        Feature f{OGR_F_GetFieldAsInteger(feature, 0), OGR_F_GetFieldAsDouble(feature, 1), {}};
        OGRGeometryH line = OGR_F_GetGeometryRef(feature);
        for (int k = 0; k < OGR_G_GetPointCount(line); ++k) {
            f.points.push_back({OGR_G_GetX(line, k), OGR_G_GetY(line, k), OGR_G_GetZ(line, k)});
        }
        features.push_back(std::move(f));
        OGR_F_Destroy(feature);
    }
    return features;
}

// What GDAL's tracing of the raster's band 1 at the list of levels minimum, minimum + step, ...
// below maximum writes, field for field, the levels with the shapefile field's three decimals.
std::vector<Feature> GdalListFeatures(const QString& raster, double minimum, double maximum, double step) {
    std::vector<double> levels = ContourLevels(minimum, maximum, step);
    GDALDatasetH ds = GDALOpen(QFile::encodeName(raster).constData(), GA_ReadOnly);
    EXPECT_NE(ds, nullptr);
    if (!ds) {
        return {};
    }
    OGRDataSourceH memory = OGR_Dr_CreateDataSource(OGRGetDriverByName("Memory"), "reference", nullptr);
    OGRLayerH reference = OGR_DS_CreateLayer(memory, "contour", nullptr, wkbLineString25D, nullptr);
    for (const auto& [field, type] : {std::pair("ID", OFTInteger), std::pair("ELEV", OFTReal)}) {
        OGRFieldDefnH definition = OGR_Fld_Create(field, type);
        OGR_L_CreateField(reference, definition, FALSE);
        OGR_Fld_Destroy(definition);
    }
    EXPECT_EQ(GDALContourGenerate(GDALGetRasterBand(ds, 1), step, minimum, int(levels.size()), levels.data(),
                                  TRUE, -9999.0, reference, 0, 1, nullptr, nullptr),
              CE_None);
    std::vector<Feature> features = FeaturesOf(reference);
    GDALClose(static_cast<GDALDatasetH>(memory));
    GDALClose(ds);
    for (Feature& f : features) {
        f.elevation = std::round(f.elevation * 1000.0) / 1000.0;
    }
    return features;
}

std::vector<Feature> ShapefileFeatures(const QString& shp) {
    OGRDataSourceH ds = OGROpen(QFile::encodeName(shp).constData(), FALSE, nullptr);
    EXPECT_NE(ds, nullptr);
    if (!ds) {
        return {};
    }
    std::vector<Feature> features = FeaturesOf(OGR_DS_GetLayer(ds, 0));
    GDALClose(static_cast<GDALDatasetH>(ds));
    return features;
}

int VertexCount(const QString& shp) {
    OGRDataSourceH ds = OGROpen(QFile::encodeName(shp).constData(), FALSE, nullptr);
    EXPECT_NE(ds, nullptr);
    int count = 0;
    while (OGRFeatureH feature = OGR_L_GetNextFeature(OGR_DS_GetLayer(ds, 0))) {
        count += OGR_G_GetPointCount(OGR_F_GetGeometryRef(feature));
        OGR_F_Destroy(feature);
    }
    GDALClose(static_cast<GDALDatasetH>(ds));
    return count;
}

struct LayerContent {
    int polylines = 0;
    int texts = 0;
    int visibleTexts = 0;
};

LayerContent ContentOf(CadLayer* layer) {
    LayerContent content;
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
        if (CadEntityGetType(e) == CAD_ENT_POLYLINE) {
            ++content.polylines;
        } else if (CadEntityGetType(e) == CAD_ENT_TEXT) {
            ++content.texts;
            content.visibleTexts += CadEntityGetVisible(e);
        }
    }
    return content;
}

// What the dialog showed when it opened.
struct Proposal {
    QString minimum, maximum, step, tolerance;
};

// Answers the contour dialog: the step (and the simplification and hidden labels) set, Generate.
void Generate(kvtest::ScriptedInteraction& ui, const QString& step, bool hideText = false,
              const QString& tolerance = QString(), Proposal* shown = nullptr) {
    ui.AnswerModal([=](QDialog& dialog) {
        auto& d = static_cast<CContourLinesDlg&>(dialog);
        EXPECT_EQ(d.windowTitle(), "Contour Lines");
        if (shown) {
            *shown = {d.m_editMinElevation.text(), d.m_editMaxElevation.text(), d.m_editStep.text(),
                      d.m_editTolerance.text()};
        }
        d.m_editStep.setText(step);
        d.m_chkHideText.setChecked(hideText);
        if (d.m_chkSimplification.isChecked() != !tolerance.isEmpty()) {
            d.m_chkSimplification.click();
        }
        if (!tolerance.isEmpty()) {
            d.m_editTolerance.setText(tolerance);
        }
        d.m_btnGenerate.click();
        return -1;
    });
}

class ContoursTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        CadScriptSetStrict(1);
        m_folder = kvtest::NewTempFolder("contours");
    }
    void TearDown() override { CadScriptSetStrict(0); }

    // A copy of a test DEM in the folder, loaded into a project saved there.
    CDEM* AddSaved(CKelvaroDoc& doc, const QString& data, const QString& name) {
        const QString dem = m_folder + "/" + name;
        EXPECT_TRUE(QFile::copy(kvtest::DataPath(data), dem));
        EXPECT_EQ(doc.AddDEM(dem, 0), 1);
        EXPECT_EQ(doc.DoSave(m_folder + "/project.kvp"), 1);
        return doc.m_DEMs.begin()->second;
    }

    QString m_folder;
};

TEST_F(ContoursTest, OlindaContoursMatchGdalsTracingAndReplaceTheirLayer) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* dem = AddSaved(doc, "olinda_dem_nodata.tif", "olinda_dem.tif");
    Proposal shown;
    Generate(ui, "10", false, QString(), &shown);
    CmdContours(doc.m_pCad);

    EXPECT_EQ(shown.minimum, "0.000");
    EXPECT_EQ(shown.maximum, "90.000");
    EXPECT_EQ(shown.step, "10.0");
    EXPECT_EQ(shown.tolerance, "0.089994067");
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();
    EXPECT_EQ(ActiveCadCommandId, 0);
    const QString shp = m_folder + "/olinda_dem.tif_Contours.shp";
    EXPECT_EQ(ContourShapefilePath(*dem), shp);
    for (const char* extension : {"shx", "dbf"}) {
        EXPECT_TRUE(QFileInfo::exists(m_folder + "/olinda_dem.tif_Contours." + extension)) << extension;
    }
    EXPECT_FALSE(QFileInfo::exists(m_folder + "/olinda_dem.tif_Contours.prj"));
    EXPECT_EQ(QDir(m_folder).entryList({"*.kvsave*", "temp.*"}, QDir::Files | QDir::Hidden), QStringList());

    // The two fields, and every vertex at its level.
    OGRDataSourceH ds = OGROpen(QFile::encodeName(shp).constData(), FALSE, nullptr);
    ASSERT_NE(ds, nullptr);
    OGRFeatureDefnH definition = OGR_L_GetLayerDefn(OGR_DS_GetLayer(ds, 0));
    ASSERT_EQ(OGR_FD_GetFieldCount(definition), 2);
    EXPECT_STREQ(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(definition, 0)), "ID");
    EXPECT_EQ(OGR_Fld_GetWidth(OGR_FD_GetFieldDefn(definition, 0)), 8);
    EXPECT_STREQ(OGR_Fld_GetNameRef(OGR_FD_GetFieldDefn(definition, 1)), "Elevation");
    EXPECT_EQ(OGR_Fld_GetPrecision(OGR_FD_GetFieldDefn(definition, 1)), 3);
    EXPECT_EQ(wkbFlatten(OGR_FD_GetGeomType(definition)), wkbLineString);
    EXPECT_TRUE(OGR_GT_HasZ(OGR_FD_GetGeomType(definition)));
    OGRLayerH layer = OGR_DS_GetLayer(ds, 0);
    int features = 0;
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
        OGRGeometryH line = OGR_F_GetGeometryRef(feature);
        for (int k = 0; k < OGR_G_GetPointCount(line); ++k) {
            ASSERT_EQ(OGR_G_GetZ(line, k), OGR_F_GetFieldAsDouble(feature, 1));
        }
        ++features;
        OGR_F_Destroy(feature);
    }
    GDALClose(static_cast<GDALDatasetH>(ds));

    const Lines ours = ShapefileLines(shp);
    EXPECT_EQ(ours.begin()->first, 0.0);
    EXPECT_EQ(ours.rbegin()->first, 80.0);
    ExpectSameLines(ours, GdalLines(dem->m_path, "0,10,20,30,40,50,60,70,80", -9999.0));

    // One polyline and one label per line, on the locked layer named after the DEM.
    CadLayer* contours = CadGetLayerByName(doc.m_pCad, "olinda_dem.tif_Contours");
    ASSERT_NE(contours, nullptr);
    EXPECT_EQ(CadLayerGetLock(contours), 1);
    EXPECT_EQ(CadLayerGetColor(contours), 7);
    LayerContent content = ContentOf(contours);
    EXPECT_EQ(content.polylines, features);
    EXPECT_EQ(content.texts, features);
    EXPECT_EQ(content.visibleTexts, features);
    // Each label follows its line: "%.1lf" of the level, 3 high; a closed line's stands on its
    // lowest vertex, an open line's is centred halfway along it.
    int closed = 0, open = 0;
    for (CadEntity* line = CadLayerGetFirstEntity(contours); line;) {
        CadEntity* label = CadLayerGetNextEntity(contours, line);
        ASSERT_EQ(CadEntityGetType(line), CAD_ENT_POLYLINE);
        ASSERT_EQ(CadEntityGetType(label), CAD_ENT_TEXT);
        char text[32];
        CadTextGetText(label, text, sizeof text);
        double x, y, z, lx, ly, lz;
        CadTextGetPoint(label, &lx, &ly, &lz);
        CadPlineGetVer(line, 0, &x, &y, &z);
        EXPECT_EQ(QString(text), QString::asprintf("%.1lf", z));
        EXPECT_EQ(lz, z);
        EXPECT_EQ(CadTextGetHeight(label), 3.0);
        if (CadPlineGetClosed(line)) {
            ++closed;
            double lowest = y, lowestX = x;
            for (int k = 1; k < CadPlineGetNumVers(line); ++k) {
                CadPlineGetVer(line, k, &x, &y, &z);
                if (y < lowest) {
                    lowest = y;
                    lowestX = x;
                }
            }
            EXPECT_EQ(CadTextGetAlign(label), CAD_TA_CENTER_BOTTOM);
            EXPECT_EQ(lx, lowestX);
            EXPECT_EQ(ly, lowest);
        } else {
            ++open;
            // Halfway along the line through its vertices.
            std::vector<cv::Point2d> path;
            for (int k = 0; k < CadPlineGetNumVers(line); ++k) {
                CadPlineGetVer(line, k, &x, &y, &z);
                path.emplace_back(x, y);
            }
            double length = 0.0;
            for (size_t k = 1; k < path.size(); ++k) {
                length += cv::norm(path[k] - path[k - 1]);
            }
            double before = 0.0, after = 0.0;
            for (size_t k = 1; k < path.size(); ++k) {
                const double side = cv::norm(path[k] - path[k - 1]);
                const double across =
                    std::abs((path[k] - path[k - 1]).cross(cv::Point2d(lx, ly) - path[k - 1]));
                if (across <= 1e-6 * side * length &&
                    (cv::Point2d(lx, ly) - path[k - 1]).dot(path[k] - path[k - 1]) >= 0.0 &&
                    cv::norm(cv::Point2d(lx, ly) - path[k - 1]) <= side) {
                    after = before + cv::norm(cv::Point2d(lx, ly) - path[k - 1]);
                    break;
                }
                before += side;
            }
            EXPECT_NEAR(after, 0.5 * length, 1e-6 * length);
            EXPECT_EQ(CadTextGetAlign(label), CAD_TA_CENTER_MIDDLE);
        }
        line = CadLayerGetNextEntity(contours, label);
    }
    EXPECT_GT(closed, 0);
    EXPECT_GT(open, 0);

    // Again, with hidden labels: the file is replaced and the layer holds one set of lines.
    ui.Clear();
    Generate(ui, "10", true);
    CmdContours(doc.m_pCad);
    content = ContentOf(contours);
    EXPECT_EQ(content.polylines, features);
    EXPECT_EQ(content.texts, features);
    EXPECT_EQ(content.visibleTexts, 0);
    ExpectSameLines(ShapefileLines(shp), ours);

    // With simplification, beside an operator's own shapefile "temp": the lines keep their levels
    // with fewer vertices, the operator's files stay as they were and no scratch file is left.
    const int traced = VertexCount(shp);
    std::map<QString, QByteArray> owned;
    for (const char* extension : {"shp", "shx", "dbf", "prj"}) {
        const QString file = m_folder + "/temp." + extension;
        ASSERT_TRUE(QFile::copy(kvtest::DataPath(QString("olinda1.") + extension), file));
        owned[file] = kvtest::FileBytes(file);
    }
    const QStringList before = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);
    ui.Clear();
    Generate(ui, "10", false, "25");
    CmdContours(doc.m_pCad);
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();
    for (const auto& [file, bytes] : owned) {
        EXPECT_TRUE(kvtest::FileBytes(file) == bytes) << file.toStdString();
    }
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), before);
    const Lines simplified = ShapefileLines(shp);
    ASSERT_EQ(simplified.size(), ours.size());
    for (const auto& [level, lines] : ours) {
        EXPECT_EQ(simplified.at(level).count, lines.count);
        EXPECT_LE(simplified.at(level).length, lines.length);
        EXPECT_GT(simplified.at(level).length, 0.9 * lines.length);
    }
    EXPECT_LT(VertexCount(shp), traced);
    EXPECT_EQ(ContentOf(contours).polylines, features);
}

TEST_F(ContoursTest, FileAndDrawingHoldGdalsTracingOfTheListVertexForVertex) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* dem = AddSaved(doc, "olinda_dem_nodata.tif", "olinda_dem.tif");  // heights -1 to 88
    const struct {
        double minimum, maximum, step;
        bool series;  // traced as the generator's series of levels
    } runs[] = {
        {-10, 100, 1, true},      // many levels round all the heights
        {-10, 100, 0.5, true},    // halves
        {-1.75, 95, 0.75, true},  // three quarters from a fraction
        {0, 90, 1, true},         // the dialog's proposal: heights a little below the levels
        {10, 50, 2, false},       // heights far beyond the levels on both sides
        {-10, 100, 0.1, false},   // levels summed with the rounding of 0.1
    };
    for (const auto& run : runs) {
        const std::string name = std::to_string(run.minimum) + " to " + std::to_string(run.maximum) + " by " +
                                 std::to_string(run.step);
        EXPECT_EQ(ContoursTracedAsSeries(*dem, ContourLevels(run.minimum, run.maximum, run.step), run.step),
                  run.series)
            << name;
        ASSERT_EQ(dem->BuildContours(run.minimum, run.maximum, run.step, nullptr, 0.0, 1), 1) << name;

        // What GDAL's tracing of the DEM's file at this list of levels writes, field for field.
        const std::vector<Feature> expected =
            GdalListFeatures(dem->m_path, run.minimum, run.maximum, run.step);
        ASSERT_GT(expected.size(), 10u) << name;
        const std::vector<Feature> written = ShapefileFeatures(ContourShapefilePath(*dem));
        EXPECT_TRUE(written == expected)
            << name << ": " << written.size() << " lines, " << expected.size() << " expected";

        // One smooth polyline through each line's vertices, at its level, in the file's order.
        CadLayer* layer = CadGetLayerByName(doc.m_pCad, "olinda_dem.tif_Contours");
        size_t index = 0;
        for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e)) {
            if (CadEntityGetType(e) != CAD_ENT_POLYLINE) {
                continue;
            }
            ASSERT_LT(index, expected.size()) << name;
            const Feature& line = expected[index++];
            EXPECT_EQ(CadPlineGetFit(e), 5);
            EXPECT_EQ(CadPlineGetClosed(e), line.points.front() == line.points.back() ? 1 : 0);
            std::vector<std::array<double, 3>> vertices(size_t(CadPlineGetNumVers(e)));
            for (size_t k = 0; k < vertices.size(); ++k) {
                CadPlineGetVer(e, int(k), &vertices[k][0], &vertices[k][1], &vertices[k][2]);
            }
            EXPECT_TRUE(vertices == line.points) << name << ", line " << line.id;
        }
        EXPECT_EQ(index, expected.size()) << name;
    }
}

// Levels every metre over heights of 12 to 98 m, on a DEM with a few cells of -32768 (voids
// stored as heights) that its preview of 512 x 512 cells does not take in: the series would trace
// some 32,000 levels round each of them, so the levels are traced as their list; the same DEM
// without them takes the series. Either way, from its file or from its grid, the file holds GDAL's
// tracing of the list.
TEST_F(ContoursTest, FarCellsThatThePreviewMissesKeepTheLevelsAList) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    kvtest::RasterSpec spec;
    spec.width = spec.height = 800;
    const auto terrain = [](int c, int r) { return 55.0 + 43.0 * std::sin(c * 0.013) * std::cos(r * 0.011); };
    const std::array<std::pair<int, int>, 5> far = {{{101, 634}, {518, 331}, {798, 4}, {4, 640}, {401, 795}}};
    kvtest::WriteRaster(m_folder + "/smooth.tif", spec, [&](int c, int r, int) { return terrain(c, r); });
    kvtest::WriteRaster(m_folder + "/voids.tif", spec, [&](int c, int r, int) {
        return std::count(far.begin(), far.end(), std::pair(c, r)) ? -32768.0 : terrain(c, r);
    });
    ASSERT_EQ(doc.AddDEM(m_folder + "/smooth.tif", 0), 1);
    ASSERT_EQ(doc.AddDEM(m_folder + "/voids.tif", 0), 1);
    CDEM* smooth = doc.m_DEMs.at("smooth.tif");
    CDEM* voids = doc.m_DEMs.at("voids.tif");
    ASSERT_GT(voids->m_minElevation, 0.0);  // the preview missed the voids
    const std::vector<double> levels = ContourLevels(10, 101, 1);
    ASSERT_EQ(levels.size(), 91u);
    for (const bool inMemory : {false, true}) {
        for (CDEM* dem : {smooth, voids}) {
            if (inMemory) {
                ASSERT_EQ(dem->LoadData(), 1);
            }
            const std::string name = dem->m_name.toStdString() + (inMemory ? " in memory" : " on file");
            EXPECT_EQ(ContoursTracedAsSeries(*dem, levels, 1.0), dem == smooth) << name;
            const QString shp = m_folder + "/" + dem->m_name + "_Contours.shp";
            ASSERT_EQ(TraceContours(*dem, levels, 1.0, 0.0, shp, nullptr), 1) << name;
            const std::vector<Feature> expected = GdalListFeatures(dem->m_path, 10, 101, 1);
            ASSERT_GT(expected.size(), 100u) << name;
            EXPECT_TRUE(ShapefileFeatures(shp) == expected) << name;
        }
    }
}

// FNV-1a over bytes, to hold a drawing's entities and pictures to figures recorded once.
uint64_t Digest(const void* bytes, size_t size, uint64_t digest = 14695981039346656037ull) {
    for (size_t i = 0; i < size; ++i) {
        digest = (digest ^ static_cast<const unsigned char*>(bytes)[i]) * 1099511628211ull;
    }
    return digest;
}
template <typename T>
uint64_t Digest(const T& value, uint64_t digest) {
    return Digest(&value, sizeof value, digest);
}

// The lines and labels of the Olinda DEM every metre, and their pictures zoomed out (lines drawn
// simplified, labels too small to show), in between (labels as frames) and close up, are those
// that the drawing gave when it kept every curve flattened and traced the levels as a list: the
// figures were recorded then.
TEST_F(ContoursTest, OlindaContoursEveryMetreAreTheRecordedEntitiesAndPictures) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* dem = AddSaved(doc, "olinda_dem_nodata.tif", "olinda_dem.tif");
    ASSERT_EQ(dem->BuildContours(-10, 100, 1, nullptr, 0.0, 1), 1);
    CadLayer* layer = CadGetLayerByName(doc.m_pCad, "olinda_dem.tif_Contours");
    ASSERT_NE(layer, nullptr);

    uint64_t entities = 14695981039346656037ull;
    int count = 0;
    std::vector<CadEntity*> labels;
    for (CadEntity* e = CadLayerGetFirstEntity(layer); e; e = CadLayerGetNextEntity(layer, e), ++count) {
        const int type = CadEntityGetType(e);
        entities = Digest(type, Digest(CadEntityGetVisible(e), entities));
        if (type == CAD_ENT_POLYLINE) {
            entities = Digest(CadPlineGetFit(e), Digest(CadPlineGetClosed(e), entities));
            for (int k = 0; k < CadPlineGetNumVers(e); ++k) {
                double v[3];
                CadPlineGetVer(e, k, &v[0], &v[1], &v[2]);
                entities = Digest(v, entities);
            }
        } else if (type == CAD_ENT_TEXT) {
            char text[32] = {};
            CadTextGetText(e, text, sizeof text);
            double v[6] = {0, 0, 0, CadTextGetHeight(e), CadTextGetAngle(e), double(CadTextGetAlign(e))};
            CadTextGetPoint(e, &v[0], &v[1], &v[2]);
            entities = Digest(v, Digest(text, entities));
            labels.push_back(e);
        }
    }
    EXPECT_EQ(count, 8284);
    EXPECT_EQ(entities, 13150592169404771958ull);

    const double left = 288776.25, top = 9120760.75, side = 111 * 89.994067349451157;
    const struct {
        double left, top, side, scale;
        uint64_t digest;
    } views[] = {
        {left, top, side, 0.1, 13735798128161103869ull},
        {left + 0.4 * side, top - 0.4 * side, 0.2 * side, 0.5, 5151029351073250253ull},
        {left + 0.5 * side, top - 0.5 * side, 200, 5, 7063056116926215185ull},
    };
    for (const auto& view : views) {
        if (view.scale > 2) {
            for (CadEntity* label : labels) {
                CadEntityPutVisible(label, 0);  // the letters are the fonts' own
            }
        }
        const QString path = m_folder + "/view.png";
        ASSERT_NE(CadRasterize(doc.m_pCad, QFile::encodeName(path).constData(), view.left,
                               view.top - view.side, view.left + view.side, view.top, view.scale),
                  0);
        const QImage picture = QImage(path).convertToFormat(QImage::Format_ARGB32);
        uint64_t digest = 14695981039346656037ull;
        int drawn = 0;
        for (int y = 0; y < picture.height(); ++y) {
            digest = Digest(picture.constScanLine(y), size_t(picture.width()) * 4, digest);
            for (int x = 0; x < picture.width(); ++x) {
                drawn += qAlpha(picture.pixel(x, y)) > 0;
            }
        }
        EXPECT_GT(drawn, picture.width() * 10) << view.scale;
        EXPECT_EQ(digest, view.digest) << "at " << view.scale << " pixels a metre";
    }
}

TEST_F(ContoursTest, RefusedProjectsStepsAndTolerancesAndEmptyRanges) {
    kvtest::ScriptedInteraction ui;
    {
        // Without a path there is no folder for the files: nothing is asked.
        CKelvaroDoc unsaved;
        ASSERT_EQ(unsaved.AddDEM(kvtest::DataPath("olinda_dem_nodata.tif"), 0), 1);
        CmdContours(unsaved.m_pCad);
        EXPECT_EQ(ui.MessageTexts(), QStringList{"Project must be saved before proceed"});
        EXPECT_EQ(ui.Messages().back().icon(), kv::MessageIcon::Information);
        EXPECT_TRUE(ui.Dialogs().isEmpty());
    }
    ui.Clear();
    CKelvaroDoc doc;
    CDEM* dem = AddSaved(doc, "olinda_dem_nodata.tif", "olinda_dem.tif");
    ui.AnswerModal([](QDialog& dialog) {
        auto& d = static_cast<CContourLinesDlg&>(dialog);
        // Steps that would trace no end of levels, and tolerances outside (0, pixel width).
        for (const char* step : {"0", "-5", "abc", "0.0001"}) {
            d.m_editStep.setText(step);
            d.m_btnGenerate.click();
            EXPECT_TRUE(d.isVisible()) << step;
        }
        d.m_editStep.setText("10");
        if (!d.m_chkSimplification.isChecked()) {
            d.m_chkSimplification.click();
        }
        EXPECT_TRUE(d.m_editTolerance.isEnabled());
        for (const char* tolerance : {"0", "90", "-1"}) {
            d.m_editTolerance.setText(tolerance);
            d.m_btnGenerate.click();
            EXPECT_TRUE(d.isVisible()) << tolerance;
        }
        d.m_chkSimplification.click();
        EXPECT_FALSE(d.m_editTolerance.isEnabled());
        // A minimum not below the maximum is taken, and makes nothing.
        d.m_editMinElevation.setText("50");
        d.m_editMaxElevation.setText("50");
        d.m_btnGenerate.click();
        EXPECT_FALSE(d.isVisible());
        return -1;
    });
    CmdContours(doc.m_pCad);
    EXPECT_EQ(ui.MessageTexts(),
              (QStringList{"Invalid contours step", "Invalid contours step", "Invalid contours step",
                           "Invalid contours step", "Invalid simplification factor",
                           "Invalid simplification factor", "Invalid simplification factor"}));
    EXPECT_FALSE(QFileInfo::exists(ContourShapefilePath(*dem)));
    EXPECT_EQ(CadGetLayerByName(doc.m_pCad, "olinda_dem.tif_Contours"), nullptr);
    EXPECT_EQ(ActiveCadCommandId, 0);
    // The fields were kept for the next time.
    EXPECT_EQ(ZQT_GetUserProfileString("ContourLines", "ContourLines_Step", ""), "10");
    EXPECT_EQ(ZQT_GetUserProfileString("ContourLines", "IsSimplification", ""), "0");

    // Levels: the maximum itself is never one; a step of the range or more gives the lowest only.
    EXPECT_EQ(ContourLevels(0, 100, 10), (std::vector<double>{0, 10, 20, 30, 40, 50, 60, 70, 80, 90}));
    EXPECT_EQ(ContourLevels(0, 100, 100), std::vector<double>{0});
    EXPECT_EQ(CountContourLevels(0, 100, 250), 1);
    EXPECT_EQ(CountContourLevels(1e20, 2e20, 1.0), -1);
    EXPECT_EQ(CountContourLevels(0, 1e9, 1.0), -1);
}

TEST_F(ContoursTest, ProposalsComeFromTheHeightsTheGeneratorSees) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    // Every cell without data: nothing to range over.
    kvtest::RasterSpec spec;
    spec.width = spec.height = 40;
    kvtest::WriteRaster(m_folder + "/empty.tif", spec, [](int, int, int) { return -9999.0; });
    // Int16 heights with scale and offset and no data -32768 in a block of holes.
    kvtest::RasterSpec scaled = spec;
    scaled.type = GDT_Int16;
    scaled.noData = -32768;
    scaled.hasScaleOffset = true;
    scaled.scale = 0.1;
    scaled.offset = 100.0;
    kvtest::WriteRaster(m_folder + "/scaled.tif", scaled, [](int c, int r, int) {
        return c > 12 && c < 17 && r > 12 && r < 17 ? -32768.0 : 10.0 * c + 5;
    });
    ASSERT_EQ(doc.AddDEM(m_folder + "/empty.tif", 0), 1);
    ASSERT_EQ(doc.AddDEM(m_folder + "/scaled.tif", 0), 1);
    ASSERT_EQ(doc.DoSave(m_folder + "/project.kvp"), 1);

    Proposal empty;
    ui.AnswerModal([&empty](QDialog& dialog) {
        auto& d = static_cast<CContourLinesDlg&>(dialog);
        empty = {d.m_editMinElevation.text(), d.m_editMaxElevation.text(), d.m_editStep.text(),
                 d.m_editTolerance.text()};
        return IDCANCEL;
    });
    CadScriptPushEntity(doc.m_pCad, doc.m_DEMs["empty.tif"]->m_imageEntity);
    CmdContours(doc.m_pCad);
    EXPECT_EQ(empty.minimum, "0.000");
    EXPECT_EQ(empty.maximum, "110.000");
    EXPECT_EQ(empty.tolerance, "0.002000000");

    // Heights 100.5 to 139.5 (cells 5 to 395 scaled): the proposal and the lines are in heights, and
    // no line runs round the holes.
    Proposal heights;
    Generate(ui, "10", false, QString(), &heights);
    CadScriptPushEntity(doc.m_pCad, doc.m_DEMs["scaled.tif"]->m_imageEntity);
    CmdContours(doc.m_pCad);
    EXPECT_EQ(heights.minimum, "100.000");
    EXPECT_EQ(heights.maximum, "140.000");
    const Lines lines = ShapefileLines(m_folder + "/scaled.tif_Contours.shp");
    ASSERT_EQ(lines.size(), 3u);  // 110, 120 and 130, one straight line each
    for (const auto& [level, found] : lines) {
        EXPECT_EQ(found.count, 1) << level;
    }
    EXPECT_EQ(lines.begin()->first, 110.0);
}

TEST_F(ContoursTest, AnInfiniteCellIsNoDataForTheProposalAndTheLines) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    // The Olinda DEM with the cell of column 10, row 10 at +infinity.
    const QString infinite = dtest::CopyInfiniteDem(m_folder + "/infinite.tif");
    ASSERT_EQ(doc.AddDEM(infinite, 0), 1);
    ASSERT_EQ(doc.DoSave(m_folder + "/project.kvp"), 1);
    Proposal shown;
    Generate(ui, "10", false, QString(), &shown);
    CmdContours(doc.m_pCad);
    EXPECT_EQ(shown.maximum, "90.000");
    EXPECT_TRUE(ui.MessageTexts().isEmpty()) << ui.MessageTexts().join("|").toStdString();

    // The lines are those of the same DEM with no data in that cell.
    const float noData = -9999.0f;
    const QString hole = dtest::CopyInfiniteDem(m_folder + "/hole.tif", &noData);
    ExpectSameLines(ShapefileLines(m_folder + "/infinite.tif_Contours.shp"),
                    GdalLines(hole, "0,10,20,30,40,50,60,70,80", -9999.0));
}

TEST_F(ContoursTest, EditedDemIsContouredFromItsGridAndLeftAsItIs) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* dem = AddSaved(doc, "olinda_dem_nodata.tif", "olinda_dem.tif");
    const QByteArray before = kvtest::FileBytes(dem->m_path);
    ASSERT_EQ(dem->LoadData(), 1);
    // A mound of 200 m that the file does not have.
    dem->m_grid(cv::Rect(40, 40, 20, 20)).setTo(200.0f);
    dem->m_modified = 1;
    const cv::Mat edited = dem->m_grid.clone();

    ASSERT_EQ(dem->BuildContours(150, 160, 10, nullptr, 0.0, 1), 1);
    const Lines lines = ShapefileLines(ContourShapefilePath(*dem));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.begin()->first, 150.0);
    EXPECT_EQ(lines.begin()->second.count, 1);
    // Round the mound: about 4 x 20 cells of 90 m.
    EXPECT_NEAR(lines.begin()->second.length, 4 * 20 * 89.994, 4 * 89.994);

    EXPECT_EQ(kvtest::FileBytes(dem->m_path), before);
    EXPECT_EQ(dem->m_pDataset, nullptr);
    EXPECT_EQ(dem->m_modified, 1);
    EXPECT_EQ(cv::countNonZero(dem->m_grid != edited), 0);
}

TEST_F(ContoursTest, RunThatCannotWriteOrIsAbortedKeepsThePreviousContours) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* dem = AddSaved(doc, "olinda_dem_nodata.tif", "olinda_dem.tif");
    Generate(ui, "20");
    CmdContours(doc.m_pCad);
    const QString shp = ContourShapefilePath(*dem);
    const QByteArray oldShp = kvtest::FileBytes(shp);
    const QByteArray oldDbf = kvtest::FileBytes(m_folder + "/olinda_dem.tif_Contours.dbf");
    CadLayer* layer = CadGetLayerByName(doc.m_pCad, "olinda_dem.tif_Contours");
    const LayerContent old = ContentOf(layer);
    ASSERT_GT(old.polylines, 0);
    const QStringList files = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);

    // A disk that takes no file longer than 4 KiB: the new lines do not fit; a disk without a byte
    // free, where the shapefile writer fails without saying why; a disk full when the finished
    // files are put in place, or read-only then. Each time the command line says why.
    const struct {
        std::function<void()> run;
        QString cause;
    } faults[] = {
        {[&] {
             kvtest::FileSizeLimit disk(4096);
             CmdContours(doc.m_pCad);
         },
         "File too large"},
        {[&] {
             kvtest::FileSizeLimit disk(0);
             kvtest::FileFault full(kv::FileStep::Write, ENOSPC);
             CmdContours(doc.m_pCad);
         },
         "No space left on device"},
        {[&] {
             kvtest::FileFault full(kv::FileStep::Sync, ENOSPC);
             CmdContours(doc.m_pCad);
         },
         "No space left on device"},
        {[&] {
             kvtest::FileFault readOnly(kv::FileStep::Rename, EROFS);
             CmdContours(doc.m_pCad);
         },
         "Read-only file system"},
    };
    for (const auto& fault : faults) {
        ui.Clear();
        Generate(ui, "5");
        fault.run();
        EXPECT_EQ(ui.MessageTexts(), QStringList{"Unable to generate contours"});
        const QString said = dtest::CommandLineHistory(doc.m_pCad, 1);
        EXPECT_TRUE(said.startsWith("Unable to generate contours: ") && said.contains(fault.cause))
            << said.toStdString();
        EXPECT_EQ(kvtest::FileBytes(shp), oldShp);
        EXPECT_EQ(kvtest::FileBytes(m_folder + "/olinda_dem.tif_Contours.dbf"), oldDbf);
        EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), files);
        const LayerContent kept = ContentOf(layer);
        EXPECT_EQ(kept.polylines, old.polylines);
        EXPECT_EQ(kept.texts, old.texts);
        EXPECT_EQ(ActiveCadCommandId, 0);
    }

    // The progress window's Abort, pressed while the lines are traced: the run stops without a
    // word and leaves neither new files nor scratch files.
    ui.Clear();
    Generate(ui, "1", false, "1.0");
    int pressed = 0;
    QTimer abort;
    QObject::connect(&abort, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<CAbortSingleProgressDlg*>(w);
            if (window && window->isVisible() && !window->IsAborted()) {
                window->m_btnAbort.click();
                ++pressed;
            }
        }
    });
    abort.start(0);
    CmdContours(doc.m_pCad);
    abort.stop();
    EXPECT_EQ(pressed, 1);
    EXPECT_TRUE(ui.Messages().empty());
    EXPECT_EQ(kvtest::FileBytes(shp), oldShp);
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), files);
    EXPECT_EQ(ContentOf(layer).polylines, old.polylines);
    EXPECT_EQ(ActiveCadCommandId, 0);
}

// A rebuild killed while it puts its files in place, stopped before each step of the write layer
// in turn: what stands under the final names opens as the old contours, the new ones, or not at
// all (no .shp), never as an index or records of one run beside the lines of another.
TEST_F(ContoursTest, ARebuildStoppedAnywhereLeavesTheOldFilesTheNewOnesOrNoShapefile) {
    CKelvaroDoc doc;
    CDEM* dem = AddSaved(doc, "olinda_dem_nodata.tif", "olinda_dem.tif");
    const QString shp = ContourShapefilePath(*dem);
    const QString base = shp.left(shp.size() - 4);
    const double low = std::floor(dem->m_minElevation), high = std::ceil(dem->m_maxElevation);
    // The lines at a path, read as a reader reads them.
    auto read = [](const QString& path) -> std::vector<Feature> {
        OGRDataSourceH ds = OGROpen(QFile::encodeName(path).constData(), FALSE, nullptr);
        if (!ds) {
            return {};
        }
        std::vector<Feature> features = FeaturesOf(OGR_DS_GetLayer(ds, 0));
        GDALClose(static_cast<GDALDatasetH>(ds));
        return features;
    };
    const QString reference = m_folder + "/reference.shp";
    ASSERT_EQ(TraceContours(*dem, ContourLevels(low, high, 2.0), 2.0, 0.0, reference, nullptr), 1);
    const std::vector<Feature> fresh = read(reference);
    ASSERT_EQ(TraceContours(*dem, ContourLevels(low, high, 20.0), 20.0, 0.0, shp, nullptr), 1);
    const std::vector<Feature> old = read(shp);
    ASSERT_GT(old.size(), 2u);
    ASSERT_GT(fresh.size(), old.size());
    std::map<QString, QByteArray> oldFiles;
    for (const char* extension : {".shp", ".shx", ".dbf"}) {
        oldFiles[base + extension] = kvtest::FileBytes(base + extension);
    }

    std::map<std::string, int> seen;
    bool finished = false;
    for (size_t step = 0; !finished && step < 64; ++step) {
        for (const auto& [path, bytes] : oldFiles) {
            ASSERT_TRUE(kvtest::WriteFileBytes(path, bytes));
        }
        finished = kvtest::RunStoppedBeforeStep(
            step, [&] { TraceContours(*dem, ContourLevels(low, high, 2.0), 2.0, 0.0, shp, nullptr); });
        const std::vector<Feature> standing = read(shp);
        const std::string what = !QFileInfo::exists(shp) ? "none"
                                 : standing == old       ? "old"
                                 : standing == fresh     ? "new"
                                                         : "a mix";
        EXPECT_NE(what, "a mix") << "stopped before step " << step;
        ++seen[what];
        if (finished) {
            EXPECT_EQ(what, "new");
        }
    }
    EXPECT_TRUE(finished);
    EXPECT_GT(seen["old"], 0);
    EXPECT_GT(seen["none"], 0);
    // What the stopped runs left under temporary names goes with the next run.
    ASSERT_EQ(TraceContours(*dem, ContourLevels(low, high, 20.0), 20.0, 0.0, shp, nullptr), 1);
    EXPECT_EQ(QDir(m_folder).entryList({"*.kvsave*"}, QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(ContoursTest, DialogScreenshot) {
    auto dem = std::make_unique<CDEM>(nullptr);
    dem->m_grid = cv::Mat(50, 50, CV_32FC1, cv::Scalar(12.5f));
    dem->m_grid.at<float>(10, 10) = 87.0f;
    dem->m_geoTransform[1] = 2.0;
    CContourLinesDlg dialog(dem.get());
    dialog.show();
    dialog.m_editStep.setText("10.0");
    dialog.m_chkSimplification.setChecked(true);
    dialog.m_editTolerance.setEnabled(true);
    const QImage shot = kvtest::Screenshot(&dialog, "ContourLinesDlg");
    EXPECT_EQ(dialog.m_editMinElevation.text(), "10.000");
    EXPECT_EQ(dialog.m_editMaxElevation.text(), "90.000");
    EXPECT_EQ(dialog.m_editTolerance.text(), "0.002000000");
    for (const QWidget* field :
         {static_cast<QWidget*>(&dialog.m_editMinElevation),
          static_cast<QWidget*>(&dialog.m_editMaxElevation), static_cast<QWidget*>(&dialog.m_editStep),
          static_cast<QWidget*>(&dialog.m_editTolerance)}) {
        const QRect place = kvtest::PlaceIn(field, &dialog);
        EXPECT_GT(kvtest::ColourShare(shot, Qt::white, place, 8), 0.5);
        EXPECT_GT(kvtest::ColourShare(shot, Qt::black, place, 96), 0.01);
    }
    EXPECT_GT(
        kvtest::ColourShare(shot, QColor(0, 160, 0), kvtest::PlaceIn(&dialog.m_btnGenerate, &dialog), 90),
        0.005);
    EXPECT_GT(kvtest::ColourShare(shot, QColor(200, 0, 0), kvtest::PlaceIn(&dialog.m_btnCancel, &dialog), 90),
              0.005);
    EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(&dialog.m_chkHideText, &dialog)), 2);
    EXPECT_EQ(dialog.findChild<QWidget*>("1573"), &dialog.m_chkSimplification);
}

}  // namespace

TEST_F(ContoursTest, DemWithoutHeightsIsToldAndGetsNoFiles) {
    kvtest::ScriptedInteraction ui;
    {
        // Every cell no data: nothing is written and the operator is told.
        CKelvaroDoc doc;
        const QString path = m_folder + "/empty.tif";
        GDALDatasetH ds = GDALCreate(GDALGetDriverByName("GTiff"), QFile::encodeName(path).constData(), 40,
                                     30, 1, GDT_Float32, nullptr);
        ASSERT_NE(ds, nullptr);
        double gt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};
        GDALSetGeoTransform(ds, gt);
        GDALSetRasterNoDataValue(GDALGetRasterBand(ds, 1), -9999.0);
        GDALFillRaster(GDALGetRasterBand(ds, 1), -9999.0, 0.0);
        GDALClose(ds);
        ASSERT_EQ(doc.AddDEM(path, 0), 1);
        ASSERT_EQ(doc.DoSave(m_folder + "/empty.kvp"), 1);
        const QStringList files = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);
        Generate(ui, "10");
        CmdContours(doc.m_pCad);
        EXPECT_EQ(ui.MessageTexts(),
                  QStringList{"The DEM holds no elevation: no contour lines were generated"});
        EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), files);
        // Nor is a contour layer left in the drawing.
        CadLayer* layer = CadGetLayerByName(doc.m_pCad, "empty.tif_Contours");
        EXPECT_TRUE(!layer || CadLayerGetDeleted(layer));
        EXPECT_EQ(ActiveCadCommandId, 0);
    }
}

TEST_F(ContoursTest, ADemWhoseFileWasCutShortAfterItWasAddedIsToldAndGetsNoFiles) {
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    CDEM* dem = AddSaved(doc, "olinda_dem_nodata.tif", "cut.tif");
    ASSERT_TRUE(QFile::resize(dem->m_path, QFileInfo(dem->m_path).size() * 2 / 5));
    GDALFlushCache(dem->m_pDataset);  // drops the blocks read for the preview
    const QStringList files = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);
    CmdContours(doc.m_pCad);
    ASSERT_EQ(ui.MessageTexts().size(), 1);
    EXPECT_TRUE(ui.MessageTexts()[0].startsWith("Unable to read " + dem->m_path + ": "))
        << ui.MessageTexts()[0].toStdString();
    EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), files);
    EXPECT_EQ(ActiveCadCommandId, 0);
}

TEST_F(ContoursTest, TheDialogOpenedAfterAPickInThePlanViewTakesClicksInItsFieldsAndBoxes) {
    // Two DEMs, so that the command asks for one; the operator answers with the mouse.
    RegisterDemToolsCommands(GetCommandRegistry());
    CadScriptSetStrict(0);
    auto* doc = new CKelvaroDoc();
    for (const char* name : {"lower.tif", "olinda.tif"}) {
        const QString path = m_folder + "/" + name;
        ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), path));
        ASSERT_EQ(doc->AddDEM(path, 0), 1);
    }
    ASSERT_EQ(doc->DoSave(m_folder + "/project.kvp"), 1);
    QMdiArea area;
    area.resize(900, 700);
    area.show();
    CKelvaroFrame* frame = CreateProjectWindow(doc, &area);
    frame->showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&area));
    QWidget* view = frame->GetView()->GetCadWindow();
    CadDrawing* drawing = doc->m_pCad;
    CadExecute(drawing, view, CAD_CMD_ZOOM_EXTENTS);
    const CDEM* dem = doc->m_DEMs.at("olinda.tif");
    int x = 0, y = 0;
    ASSERT_TRUE(CadCoordModelToWin(view, dem->m_geoTransform[0] + 55.5 * dem->m_geoTransform[1],
                                   dem->m_geoTransform[3] + 55.5 * dem->m_geoTransform[5], &x, &y));

    // The pick once the command waits for it, then the dialog's fields and boxes, each clicked
    // where it is shown.
    int step = 0;
    int ticks = 0;
    QTimer operatorHand;
    operatorHand.setInterval(10);
    QObject::connect(&operatorHand, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (++ticks > 2000) {
            // Something never came: end whatever waits, so that the test fails instead of hanging.
            operatorHand.stop();
            if (modal) {
                static_cast<QDialog*>(modal)->reject();
            }
            CadCmdFinish(drawing);
            return;
        }
        if (step == 0 && CadCmdGetWaiting(drawing) == CAD_WAIT_ENTITY) {
            step = 1;
            kvtest::MoveThroughWindow(view, QPoint(x, y));
            kvtest::ClickThroughWindow(view, QPoint(x, y));
            return;
        }
        auto* dialog = qobject_cast<CContourLinesDlg*>(modal);
        if (step != 1 || !dialog || !dialog->isVisible()) {
            return;
        }
        step = 2;
        operatorHand.stop();
        QWindow* window = dialog->windowHandle();
        kvtest::ClickThroughWindow(&dialog->m_editStep);
        EXPECT_EQ(dialog->focusWidget(), &dialog->m_editStep);
        QTest::keyClick(window, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(window, Qt::Key_5);
        QTest::keyClick(window, Qt::Key_0);
        kvtest::ClickThroughWindow(&dialog->m_editMaxElevation);
        EXPECT_EQ(dialog->focusWidget(), &dialog->m_editMaxElevation);
        kvtest::ClickThroughWindow(&dialog->m_chkSimplification);
        EXPECT_TRUE(dialog->m_editTolerance.isEnabled());
        kvtest::ClickThroughWindow(&dialog->m_editTolerance);
        EXPECT_EQ(dialog->focusWidget(), &dialog->m_editTolerance);
        kvtest::ClickThroughWindow(&dialog->m_chkSimplification);
        EXPECT_FALSE(dialog->m_chkSimplification.isChecked());
        kvtest::ClickThroughWindow(&dialog->m_editMinElevation);
        EXPECT_EQ(dialog->focusWidget(), &dialog->m_editMinElevation);
        kvtest::ClickThroughWindow(&dialog->m_chkHideText);
        EXPECT_TRUE(dialog->m_chkHideText.isChecked());
        EXPECT_EQ(dialog->m_editStep.text(), "50");
        EXPECT_EQ(dialog->m_editMinElevation.text(), "0.000");
        kvtest::ClickThroughWindow(&dialog->m_btnGenerate);
    });
    operatorHand.start();
    CadExecute(drawing, view, CMD_CONTOURS);
    EXPECT_EQ(step, 2);

    // Traced every 50 m from 0 with hidden labels, on the DEM picked.
    const Lines lines = ShapefileLines(m_folder + "/olinda.tif_Contours.shp");
    ASSERT_FALSE(lines.empty());
    for (const auto& [level, found] : lines) {
        EXPECT_EQ(std::fmod(level, 50.0), 0.0) << level;
    }
    const LayerContent content = ContentOf(CadGetLayerByName(drawing, "olinda.tif_Contours"));
    EXPECT_GT(content.texts, 0);
    EXPECT_EQ(content.visibleTexts, 0);
    EXPECT_EQ(ActiveCadCommandId, 0);
    doc->OnCloseDocument();
}
