// Seam polygons and their segments: the Landsat pair split along the bisector of the two centres,
// the pixel counts, a region cut in two by the covered area, and shared edges seen alike from both
// sides wherever several regions meet.
#include <gtest/gtest.h>

#include <algorithm>

#include <vtkDataSet.h>

#include "MosaicFixtures.h"
#include "document/KelvaroDoc.h"
#include "mosaic/SeamPolygons.h"
#include "raster/RecordingProgress.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

struct Segments {
    SeamSegmentLists lists;
    SeamVertexImageLists vertices;
};

Segments Split(const std::vector<CPgon>& polygons, double pixelSize) {
    Segments s;
    auto index = BuildSeamVertexIndex(polygons);
    EXPECT_EQ(CollectVertexImages(polygons, index, pixelSize, &s.lists, &s.vertices, nullptr), 1);
    return s;
}

int CountNeighbour(const std::vector<SeamSegment>& list, int neighbour) {
    return int(std::count_if(list.begin(), list.end(),
                             [&](const SeamSegment& s) { return s.neighbour == neighbour; }));
}

// Every segment that names a neighbour has a twin in the neighbour's list that names it back,
// with the same end points in the opposite order.
void ExpectSharedEdgesSeenFromBothSides(const Segments& s) {
    for (size_t i = 0; i < s.lists.size(); ++i) {
        for (const SeamSegment& seg : s.lists[i]) {
            if (seg.neighbour < 0) {
                continue;
            }
            const auto& other = s.lists[size_t(seg.neighbour)];
            const bool twin = std::any_of(other.begin(), other.end(), [&](const SeamSegment& t) {
                return t.neighbour == int(i) && (t.start - seg.end).Length() < 1e-6 &&
                       (t.end - seg.start).Length() < 1e-6;
            });
            EXPECT_TRUE(twin) << "image " << i << " segment (" << seg.start.X() << ", " << seg.start.Y()
                              << ") - (" << seg.end.X() << ", " << seg.end.Y() << ") names " << seg.neighbour;
        }
    }
}

}  // namespace

TEST(SeamPolygons, LandsatPairIsSplitAlongTheBisectorOfItsCentres) {
    mtest::LandsatPair pair(kvtest::NewTempFolder("voronoi_pair"));
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddOrtho(pair.paths[0], 0, 0), 1);
    ASSERT_EQ(doc.AddOrtho(pair.paths[1], 0, 0), 1);
    const std::vector<COrtho*> images = {doc.m_Orthos.at("scene_a.tif"), doc.m_Orthos.at("scene_b.tif")};

    std::vector<CPgon> polygons;
    int64_t largest = 0, median = 0;
    rtest::RecordingProgress progress;
    ASSERT_TRUE(BuildVoronoiSeamPolygons(images, polygons, largest, median, &progress));
    ASSERT_EQ(polygons.size(), 2u);
    EXPECT_EQ(largest, 220 * 352);
    EXPECT_EQ(median, 220 * 352);  // the upper of the two middle values

    const double* g0 = pair.geoTransforms[0];
    const double* g1 = pair.geoTransforms[1];
    const Wml::Point2 c0(g0[0] + 110 * g0[1], g0[3] + 176 * g0[5]);
    const Wml::Point2 c1(g1[0] + 109.5 * g1[1], g1[3] + 176 * g1[5]);
    const Wml::Point2 middle = (c0 + c1) * 0.5;
    const Wml::Point2 axis = c1 - c0;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(polygons[size_t(i)].GetNumContours(), 1);
        for (const Wml::Point2& v : polygons[size_t(i)].GetContour(0)) {
            const double side = (v - middle).Dot(axis);
            EXPECT_TRUE(i == 0 ? side <= 1e-6 : side >= -1e-6) << "image " << i;
        }
    }
    // Together they cover the union of the two extents, without overlapping.
    EXPECT_EQ((polygons[0] & polygons[1]).GetArea(), 0.0);
    EXPECT_NEAR((polygons[0] | polygons[1]).GetArea(), 349 * 352 * 28.5 * 28.5,
                1e-6 * 349 * 352 * 28.5 * 28.5);

    Segments s = Split(polygons, mtest::LandsatPair::kPixel);
    EXPECT_EQ(CountNeighbour(s.lists[0], 1), 1);
    EXPECT_EQ(CountNeighbour(s.lists[1], 0), 1);
    ExpectSharedEdgesSeenFromBothSides(s);
    ASSERT_EQ(s.vertices[0].size(), polygons[0].GetContour(0).size());
}

TEST(SeamPolygons, MedianOfThePixelCountsIsTheUpperMiddleValue) {
    mtest::SyntheticImages images;
    images.Add(2000, 2000, 0, 10000);
    images.Add(3000, 3000, 2000, 10000);
    images.Add(1000, 1000, 5000, 10000);
    images.Add(4000, 4000, 6000, 10000);
    std::vector<CPgon> polygons;
    int64_t largest = 0, median = 0;
    ASSERT_TRUE(BuildVoronoiSeamPolygons(images.Records(), polygons, largest, median, nullptr));
    EXPECT_EQ(median, 9000000);
    EXPECT_EQ(largest, 16000000);

    // No images, or an image without its raster, build nothing.
    EXPECT_FALSE(BuildVoronoiSeamPolygons({}, polygons, largest, median, nullptr));
    COrtho closed(nullptr);
    std::vector<COrtho*> withClosed = images.Records();
    withClosed.push_back(&closed);
    EXPECT_FALSE(BuildVoronoiSeamPolygons(withClosed, polygons, largest, median, nullptr));
}

// Three images in a row with gaps between their extents: the middle one's cell reaches into the
// third image's extent, so its region falls in two pieces and is not indexed: the edges of its
// neighbours along it become outer edges.
TEST(SeamPolygons, RegionCutInTwoIsNotIndexedAndItsNeighboursSeeOuterEdges) {
    mtest::SyntheticImages images;
    images.Add(100, 100, 0, 100);
    images.Add(80, 100, 110, 100);
    images.Add(200, 100, 200, 100);
    std::vector<CPgon> polygons;
    int64_t largest = 0, median = 0;
    ASSERT_TRUE(BuildVoronoiSeamPolygons(images.Records(), polygons, largest, median, nullptr));
    EXPECT_EQ(polygons[0].GetNumContours(), 1);
    EXPECT_EQ(polygons[1].GetNumContours(), 2);
    EXPECT_EQ(polygons[2].GetNumContours(), 1);
    EXPECT_NEAR(polygons[1].GetArea(), 80 * 100 + 25 * 100, 1e-9);

    auto index = BuildSeamVertexIndex(polygons);
    vtkDataSet* indexed = index->GetDataSet();
    EXPECT_EQ(indexed->GetNumberOfPoints(),
              vtkIdType(polygons[0].GetContour(0).size() + polygons[2].GetContour(0).size()));

    // The cut region still finds the indexed vertices of others along its own edges.
    Segments s = Split(polygons, 1.0);
    EXPECT_EQ(CountNeighbour(s.lists[0], -1), int(s.lists[0].size()));
    EXPECT_EQ(CountNeighbour(s.lists[2], -1), int(s.lists[2].size()));
    EXPECT_EQ(CountNeighbour(s.lists[1], 2), 1);
    // Image 2's edge at x = 225 runs along the second piece of image 1.
    EXPECT_TRUE(std::any_of(s.lists[2].begin(), s.lists[2].end(), [](const SeamSegment& seg) {
        return seg.start.X() == 225 && seg.end.X() == 225;
    }));
}

// Nine overlapping images of different sizes: many junctions of three regions, at any vertex of
// the contours (the first one included), and every shared edge is named from both sides.
TEST(SeamPolygons, SharedEdgesAreNamedAlikeFromBothSidesAtJunctions) {
    mtest::SyntheticImages images;
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            images.Add(100 + 7 * col + 3 * row, 100 + 5 * row + 2 * col, col * 80 + 4 * row,
                       300 - row * 85 - 3 * col);
        }
    }
    std::vector<CPgon> polygons;
    int64_t largest = 0, median = 0;
    ASSERT_TRUE(BuildVoronoiSeamPolygons(images.Records(), polygons, largest, median, nullptr));
    Segments s = Split(polygons, 1.0);
    int shared = 0;
    for (const auto& list : s.lists) {
        shared += int(list.size()) - CountNeighbour(list, -1);
    }
    EXPECT_GE(shared, 2 * 12);  // at least the twelve edges between horizontal and vertical neighbours
    ExpectSharedEdgesSeenFromBothSides(s);

    // The vertex lists name the images met at each vertex: the centre region meets at least the
    // four beside it, and every image its segments name.
    std::vector<int> met;
    for (const auto& at : s.vertices[4]) {
        for (const SeamVertexImage& v : at) {
            met.push_back(v.image);
        }
    }
    for (int n : {1, 3, 5, 7}) {
        EXPECT_NE(std::find(met.begin(), met.end(), n), met.end()) << n;
    }
    for (const SeamSegment& seg : s.lists[4]) {
        EXPECT_TRUE(seg.neighbour < 0 || std::find(met.begin(), met.end(), seg.neighbour) != met.end());
    }
}
