// The DEM update of object elevation: which cells a contour sets, and that the update is an edit
// like the others (grid in memory, undo round, modified, redrawn).
#include <QFile>

#include <gdal.h>
#include <gtest/gtest.h>

#include <cstring>

#include "analysis/ContourElevation.h"
#include "document/KelvaroDoc.h"
#include "raster/DEM.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// 100 x 80 cells of 2 m, origin (1000, 5000), value 100 + column + row / 100.
const double kGt[6] = {1000.0, 2.0, 0.0, 5000.0, 0.0, -2.0};

QString WriteDem(const QString& path) {
    kvtest::RasterSpec spec;
    spec.width = 100;
    spec.height = 80;
    std::memcpy(spec.geoTransform.data(), kGt, sizeof kGt);
    return kvtest::WriteRaster(path, spec, [](int c, int r, int) { return 100.0 + c + r / 100.0; });
}

// Every cell of the grid whose top-left corner the polygon holds, asked one by one.
cv::Mat BruteForceMask(const CPgon& polygon, int width, int height) {
    cv::Mat mask(height, width, CV_8UC1);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c)
            mask.at<uchar>(r, c) = polygon.PtInPolygon(kGt[0] + c * kGt[1], kGt[3] + r * kGt[5]) ? 1 : 0;
    return mask;
}

// The cells the polygon sets, with the expected grid after the update.
cv::Mat Expected(const cv::Mat& before, const std::vector<Wml::Point2>& polygon, float value) {
    cv::Mat after = before.clone();
    after.setTo(value, BruteForceMask(CPgon(polygon.data(), int(polygon.size())), before.cols, before.rows));
    return after;
}

bool SameGrid(const cv::Mat& a, const cv::Mat& b) {
    return a.size() == b.size() && a.type() == b.type() && cv::countNonZero(a != b) == 0;
}

}  // namespace

TEST(ContourElevation, AnUpdateSetsTheCornerCellsOnFileAndInMemoryAlikeAndUndoRestoresThem) {
    const QString folder = kvtest::NewTempFolder("contour_update");
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(WriteDem(folder + "/mem.tif"), 0), 1);
    ASSERT_EQ(doc.AddDEM(WriteDem(folder + "/file.tif"), 0), 1);
    CDEM* inMemory = doc.m_DEMs["mem.tif"];
    CDEM* onFile = doc.m_DEMs["file.tif"];
    ASSERT_EQ(inMemory->LoadData(), 1);
    const cv::Mat original = inMemory->m_grid.clone();
    ASSERT_EQ(onFile->m_grid.empty(), true);
    // Pictures of the last paint, which the update must drop.
    inMemory->m_display.picture = cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(9));
    onFile->m_display.picture = cv::Mat(4, 4, CV_8UC3, cv::Scalar::all(9));

    // A concave roof with a vertex on a cell corner and an edge along a row line.
    auto at = [](double c, double r) { return Wml::Point2(kGt[0] + c * kGt[1], kGt[3] + r * kGt[5]); };
    const std::vector<Wml::Point2> roof = {at(20.3, 10.0), at(45.0, 10.0), at(45.7, 30.2), at(33.1, 22.6),
                                           at(21.4, 33.9)};
    int cells = 0;
    for (CDEM* dem : {inMemory, onFile}) {
        ASSERT_EQ(SetContourElevation(&doc, dem, roof, 57.25, nullptr, &cells), ContourEditResult::Done);
        EXPECT_EQ(dem->m_modified, 1);
        EXPECT_TRUE(dem->m_display.picture.empty());
    }
    const cv::Mat expected = Expected(original, roof, 57.25f);
    EXPECT_EQ(cells, cv::countNonZero(expected != original));
    EXPECT_GT(cells, 300);
    EXPECT_TRUE(SameGrid(inMemory->m_grid, expected));
    EXPECT_TRUE(SameGrid(onFile->m_grid, expected));
    EXPECT_EQ(doc.DemUndoHistory().Count(), 2);

    // A contour past the top and right edges sets the cells on the raster only.
    const std::vector<Wml::Point2> past = {at(80.5, -7.0), at(130.0, -7.0), at(130.0, 12.5), at(80.5, 12.5)};
    ASSERT_EQ(SetContourElevation(&doc, inMemory, past, -3.0, nullptr, &cells), ContourEditResult::Done);
    EXPECT_EQ(cells, 19 * 13);
    EXPECT_TRUE(SameGrid(inMemory->m_grid, Expected(expected, past, -3.0f)));
    // Nothing is set, and no round kept, for a contour that holds no cell corner.
    const std::vector<Wml::Point2> between = {at(5.1, 5.1), at(5.9, 5.1), at(5.5, 5.9)};
    EXPECT_EQ(SetContourElevation(&doc, inMemory, between, 1.0, nullptr), ContourEditResult::NoCells);
    EXPECT_EQ(SetContourElevation(&doc, inMemory, {at(1, 1), at(2, 2)}, 1.0, nullptr),
              ContourEditResult::BadInput);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 3);

    // Undo takes each round back.
    doc.OnButtonDemundo();
    EXPECT_TRUE(SameGrid(inMemory->m_grid, expected));
    doc.OnButtonDemundo();
    doc.OnButtonDemundo();
    EXPECT_TRUE(SameGrid(inMemory->m_grid, original));
    EXPECT_TRUE(SameGrid(onFile->m_grid, original));
}

TEST(ContourElevation, AGridThatCannotBeReadIsReportedAndLeftAlone) {
    // A DEM whose file is cut short: it opens, but its cells cannot be read.
    const QString folder = kvtest::NewTempFolder("contour_damaged");
    const QString path = WriteDem(folder + "/cut.tif");
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddDEM(path, 0), 1);
    CDEM* dem = doc.m_DEMs["cut.tif"];
    QByteArray bytes = kvtest::FileBytes(path);
    ASSERT_TRUE(kvtest::WriteFileBytes(path, bytes.left(bytes.size() / 2)));
    GDALClose(dem->m_pDataset);
    dem->m_pDataset = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    ASSERT_NE(dem->m_pDataset, nullptr);
    auto at = [](double c, double r) { return Wml::Point2(kGt[0] + c * kGt[1], kGt[3] + r * kGt[5]); };
    kvtest::ScriptedInteraction ui;
    EXPECT_EQ(SetContourElevation(&doc, dem, {at(2.5, 60.5), at(90.5, 60.5), at(50.5, 78.5)}, 5.0, nullptr),
              ContourEditResult::NotLoaded);
    // The failed read tells the operator what GDAL found.
    ASSERT_EQ(ui.MessageTexts().size(), 1);
    EXPECT_TRUE(ui.MessageTexts()[0].startsWith("Unable to read " + path + ": "));
    EXPECT_EQ(dem->m_modified, 0);
    EXPECT_EQ(doc.DemUndoHistory().Count(), 0);
}
