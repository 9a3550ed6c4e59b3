// Seam polygons and their segments: the Landsat pair split along the bisector of its centres, the
// pixel counts, a region cut in two by the covered area, and shared edges named alike from both
// sides wherever several regions meet.
#include <gtest/gtest.h>

#include <vtkDataSet.h>

#include <algorithm>

#include "MosaicFixtures.h"
#include "document/KelvaroDoc.h"
#include "mosaic/SeamPolygons.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

std::vector<CPgon> Polygons(const std::vector<COrtho*>& images, int64_t* largest = nullptr,
                            int64_t* median = nullptr) {
    std::vector<CPgon> polygons;
    int64_t l = 0, m = 0;
    EXPECT_TRUE(BuildVoronoiSeamPolygons(images, polygons, l, m, nullptr));
    if (largest) {
        *largest = l;
        *median = m;
    }
    return polygons;
}

SeamSegmentLists Split(const std::vector<CPgon>& polygons, double pixelSize,
                       SeamVertexImageLists* vertices = nullptr) {
    SeamSegmentLists lists;
    SeamVertexImageLists own;
    EXPECT_EQ(CollectVertexImages(polygons, BuildSeamVertexIndex(polygons), pixelSize, &lists,
                                  vertices ? vertices : &own, nullptr),
              1);
    return lists;
}

int Naming(const std::vector<SeamSegment>& list, int neighbour) {
    return int(std::count_if(list.begin(), list.end(),
                             [&](const SeamSegment& s) { return s.neighbour == neighbour; }));
}

// Every segment that names a neighbour has a twin in the neighbour's list that names it back, with
// the same ends in the opposite order.
void ExpectSharedEdgesNamedFromBothSides(const SeamSegmentLists& lists) {
    for (size_t i = 0; i < lists.size(); ++i) {
        for (const SeamSegment& seg : lists[i]) {
            if (seg.neighbour >= 0) {
                const auto& other = lists[size_t(seg.neighbour)];
                EXPECT_TRUE(std::any_of(other.begin(), other.end(),
                                        [&](const SeamSegment& t) {
                                            return t.neighbour == int(i) &&
                                                   (t.start - seg.end).Length() < 1e-6 &&
                                                   (t.end - seg.start).Length() < 1e-6;
                                        }))
                    << "image " << i << " names " << seg.neighbour << " at (" << seg.start.X() << ", "
                    << seg.start.Y() << ")";
            }
        }
    }
}

}  // namespace

TEST(SeamPolygons, LandsatPairIsSplitAlongTheBisectorOfItsCentres) {
    mtest::LandsatPair pair(kvtest::NewTempFolder("voronoi_pair"));
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    ASSERT_EQ(doc.AddOrtho(pair.paths[0], 0, 0) + doc.AddOrtho(pair.paths[1], 0, 0), 2);
    int64_t largest = 0, median = 0;
    const std::vector<CPgon> polygons =
        Polygons({doc.m_Orthos.at("scene_a.tif"), doc.m_Orthos.at("scene_b.tif")}, &largest, &median);
    ASSERT_EQ(polygons.size(), 2u);
    EXPECT_EQ(largest, 220 * 352);
    EXPECT_EQ(median, 220 * 352);  // the upper of the two middle values

    const double *g0 = pair.geoTransforms[0], *g1 = pair.geoTransforms[1];
    const Wml::Point2 c0(g0[0] + 110 * g0[1], g0[3] + 176 * g0[5]),
        c1(g1[0] + 109.5 * g1[1], g1[3] + 176 * g1[5]);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(polygons[size_t(i)].GetNumContours(), 1);
        for (const Wml::Point2& v : polygons[size_t(i)].GetContour(0)) {
            const double side = (v - (c0 + c1) * 0.5).Dot(c1 - c0);
            EXPECT_TRUE(i == 0 ? side <= 1e-6 : side >= -1e-6) << "image " << i;
        }
    }
    const double area = 349 * 352 * 28.5 * 28.5;  // together the union of the extents, no overlap
    EXPECT_EQ((polygons[0] & polygons[1]).GetArea(), 0.0);
    EXPECT_NEAR((polygons[0] | polygons[1]).GetArea(), area, 1e-9 * area);

    const SeamSegmentLists lists = Split(polygons, mtest::LandsatPair::kPixel);
    EXPECT_EQ(Naming(lists[0], 1), 1);
    EXPECT_EQ(Naming(lists[1], 0), 1);
    ExpectSharedEdgesNamedFromBothSides(lists);
}

TEST(SeamPolygons, PixelCountsAndImagesWithoutRaster) {
    mtest::SyntheticImages images;
    for (int side : {2000, 3000, 1000, 4000}) {
        images.Add(side, side, 4000.0 * images.Records().size(), 10000);
    }
    int64_t largest = 0, median = 0;
    Polygons(images.Records(), &largest, &median);
    EXPECT_EQ(median, 9000000);
    EXPECT_EQ(largest, 16000000);

    std::vector<CPgon> polygons;
    EXPECT_FALSE(BuildVoronoiSeamPolygons({}, polygons, largest, median, nullptr));
    COrtho closed(nullptr);
    std::vector<COrtho*> withClosed = images.Records();
    withClosed.push_back(&closed);
    EXPECT_FALSE(BuildVoronoiSeamPolygons(withClosed, polygons, largest, median, nullptr));
}

// Three images in a row with gaps between their extents: the middle one's cell reaches into the
// third extent, so its region falls in two pieces and is not indexed; its neighbours see outer
// edges along it, while its own edges still find theirs.
TEST(SeamPolygons, RegionCutInTwoIsNotIndexedAndItsNeighboursSeeOuterEdges) {
    mtest::SyntheticImages images;
    images.Add(100, 100, 0, 100);
    images.Add(80, 100, 110, 100);
    images.Add(200, 100, 200, 100);
    const std::vector<CPgon> polygons = Polygons(images.Records());
    EXPECT_EQ(polygons[1].GetNumContours(), 2);
    EXPECT_NEAR(polygons[1].GetArea(), 80 * 100 + 25 * 100, 1e-9);
    EXPECT_EQ(BuildSeamVertexIndex(polygons)->GetDataSet()->GetNumberOfPoints(),
              vtkIdType(polygons[0].GetContour(0).size() + polygons[2].GetContour(0).size()));
    const SeamSegmentLists lists = Split(polygons, 1.0);
    EXPECT_EQ(Naming(lists[0], -1), int(lists[0].size()));
    EXPECT_EQ(Naming(lists[2], -1), int(lists[2].size()));
    EXPECT_EQ(Naming(lists[1], 2), 1);
}

// Nine overlapping images of different sizes meet in many junctions of three regions, at any
// vertex of a contour (the first one too): every shared edge is named from both sides, near the
// origin as at the map coordinates of a projected system (a northing of millions, where single
// precision would keep a vertex only to the metre, far beyond the radius of 1 / 100 pixel).
TEST(SeamPolygons, SharedEdgesAreNamedAlikeFromBothSidesAtJunctions) {
    for (const Wml::Point2 origin : {Wml::Point2(0, 0), Wml::Point2(288776.25, 9120760.75)}) {
        mtest::SyntheticImages images;
        for (int k = 0; k < 9; ++k) {
            const int row = k / 3, col = k % 3;
            images.Add(100 + 7 * col + 3 * row, 100 + 5 * row + 2 * col, origin.X() + col * 80 + 4 * row,
                       origin.Y() + 300 - row * 85 - 3 * col);
        }
        const std::vector<CPgon> polygons = Polygons(images.Records());
        SeamVertexImageLists vertices;
        const SeamSegmentLists lists = Split(polygons, 1.0, &vertices);
        int shared = 0;
        for (const auto& list : lists) {
            shared += int(list.size()) - Naming(list, -1);
        }
        // At least the edges between images beside and above each other.
        EXPECT_GE(shared, 2 * 12) << origin.Y();
        ExpectSharedEdgesNamedFromBothSides(lists);

        // The vertex lists hold the images met at each vertex: the centre meets the four beside it.
        std::vector<int> met;
        for (const auto& at : vertices[4]) {
            for (const SeamVertexImage& v : at) {
                met.push_back(v.image);
            }
        }
        for (int n : {1, 3, 5, 7}) {
            EXPECT_NE(std::find(met.begin(), met.end(), n), met.end()) << n;
        }
    }
}
