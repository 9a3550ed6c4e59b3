// The TIN of drawing entities and its sampling on grids: merged points, break lines kept as edges,
// crossings, degenerate input, the triangles against VTK's own Delaunay filter, and the rasters.
#include <gtest/gtest.h>

#include <vtkCellArray.h>
#include <vtkCellArrayIterator.h>
#include <vtkDelaunay2D.h>
#include <vtkNew.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <array>
#include <cmath>
#include <random>
#include <set>

#include "demtools/Tin.h"
#include "demtools/TinRaster.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ProgressSink.h"
#include "raster/DEM.h"

namespace {

// The triangles of a TIN as the sorted ids of their corners.
using Triangles = std::set<std::array<vtkIdType, 3>>;
Triangles TrianglesOf(vtkPolyData* tin) {
    Triangles triangles;
    auto it = vtk::TakeSmartPointer(tin->GetPolys()->NewIterator());
    for (it->GoToFirstCell(); !it->IsDoneWithTraversal(); it->GoToNextCell()) {
        vtkIdType n = 0;
        const vtkIdType* ids = nullptr;
        it->GetCurrentCell(n, ids);
        EXPECT_EQ(n, 3);
        std::array<vtkIdType, 3> t = {ids[0], ids[1], ids[2]};
        std::sort(t.begin(), t.end());
        triangles.insert(t);
    }
    return triangles;
}

// Whether some triangle has both points as corners.
bool HasEdge(const Triangles& triangles, vtkIdType a, vtkIdType b) {
    return std::any_of(triangles.begin(), triangles.end(), [&](const std::array<vtkIdType, 3>& t) {
        return std::count(t.begin(), t.end(), a) + std::count(t.begin(), t.end(), b) == 2;
    });
}

Wml::Point3 PointOf(vtkPolyData* tin, vtkIdType id) {
    double p[3];
    tin->GetPoint(id, p);
    return Wml::Point3(p[0], p[1], p[2]);
}

class RecordedProgress : public ProgressSink {
public:
    void SetRange(int, int) override {}
    void SetPos(int pos) override { positions.push_back(pos); }
    std::vector<int> positions;
};

struct Drawing {
    CadDrawing* d = CadCreate();
    ~Drawing() { CadDelete(d); }
    void Select(CadEntity* e) { ASSERT_TRUE(CadSelectEntity(e, 1)); }
};

}  // namespace

TEST(Tin, SelectedEntitiesShareVerticesAndKeepTheirSegmentsAsEdges) {
    Drawing drawing;
    CadDrawing* d = drawing.d;
    // A long flat rhombus: without break lines its short diagonal (0,10)-(0,-10) is an edge.
    drawing.Select(CadAddPoint(d, 0.0, 10.0, 7.0));
    drawing.Select(CadAddPoint(d, 0.0, -10.0, 8.0));
    drawing.Select(CadAddLine(d, -100.0, 0.0, 1.0, 100.0, 0.0, 2.0));
    // A polyline that starts on the line's end: one point there, with the line's height.
    CadClearVertices();
    CadAddVertex(100.0, 0.0, 99.0);
    CadAddVertex(120.0, 30.0, 3.0);
    CadAddVertex(140.0, 0.0, 4.0);
    drawing.Select(CadAddPolyline(d, 0, 0));
    CadAddPoint(d, 500.0, 500.0, 0.0);  // not selected
    CadAddCircle(d, 0.0, 0.0, 0.0, 5.0);

    double centre[3] = {1.0, 1.0, 1.0};
    vtkSmartPointer<vtkPolyData> tin = CreateTinFromSelection(d, centre, nullptr);
    ASSERT_NE(tin, nullptr);
    EXPECT_EQ(centre[0], 20.0);
    EXPECT_EQ(centre[1], 10.0);
    EXPECT_EQ(centre[2], 0.0);
    EXPECT_EQ(tin->GetNumberOfPoints(), 6);
    // Shifted by the centre; heights kept, the line's at the shared end.
    EXPECT_EQ(PointOf(tin, 2), Wml::Point3(-120.0, -10.0, 1.0));
    EXPECT_EQ(PointOf(tin, 3), Wml::Point3(80.0, -10.0, 2.0));
    const Triangles triangles = TrianglesOf(tin);
    EXPECT_TRUE(HasEdge(triangles, 2, 3));
    EXPECT_FALSE(HasEdge(triangles, 0, 1));
    EXPECT_TRUE(HasEdge(triangles, 3, 4));
    EXPECT_EQ(triangles.size(), 6u);

    CadSelectClear(d);
    EXPECT_EQ(CreateTinFromSelection(d, centre, nullptr), nullptr);
}

TEST(Tin, CrossingAndDegenerateBreakLinesAreTriangulatedWithoutFailing) {
    // Two crossing break lines at heights 5 and 100, a zero-length one, a repeated point
    // whose second height is ignored, a point that is no number and a segment to a point that is
    // not there.
    const std::vector<Wml::Point3> points = {{-10, 0, 5},  {10, 0, 5},   {0, -10, 100}, {0, 10, 100},
                                             {-10, 10, 0}, {10, -10, 0}, {3, 3, 1},     {3, 3, 50},
                                             {-10, 10, 9}, {NAN, 1, 1}};
    const std::vector<TinSegment> segments = {{0, 1}, {2, 3}, {6, 7}, {4, 8}, {0, 42}, {9, 5}};
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, segments);
    ASSERT_NE(tin, nullptr);
    // Seven distinct points, then the crossing.
    ASSERT_EQ(tin->GetNumberOfPoints(), 8);
    EXPECT_EQ(PointOf(tin, 6), Wml::Point3(3, 3, 1));
    EXPECT_EQ(PointOf(tin, 4), Wml::Point3(-10, 10, 0));
    EXPECT_EQ(PointOf(tin, 7), Wml::Point3(0, 0, 52.5));
    const Triangles triangles = TrianglesOf(tin);
    EXPECT_TRUE(HasEdge(triangles, 0, 7));
    EXPECT_TRUE(HasEdge(triangles, 7, 3));

    // Fewer than three points off one line: points, no triangle; nothing to sample.
    for (const std::vector<Wml::Point3>& few : {std::vector<Wml::Point3>{{0, 0, 1}, {5, 5, 2}, {0, 0, 3}},
                                                std::vector<Wml::Point3>{{0, 0, 1}, {1, 1, 2}, {2, 2, 3}}}) {
        vtkSmartPointer<vtkPolyData> flat = TriangulateTin(few, {{0, 1}});
        ASSERT_NE(flat, nullptr);
        EXPECT_EQ(flat->GetNumberOfPolys(), 0);
        const double bounds[4] = {0, 10, 0, 10};
        EXPECT_TRUE(RasterizeTin(flat, bounds, 1.0, nullptr).empty());
        EXPECT_EQ(cv::countNonZero(RasterizeTinToGrid(flat, 1.0, 1.0, bounds) != kNoData), 0);
        auto dem = std::make_unique<CDEM>(nullptr);
        dem->m_grid = cv::Mat(10, 10, CV_32FC1, cv::Scalar(1.0f));
        const double gt[6] = {0, 1, 0, 10, 0, -1};
        std::copy(gt, gt + 6, dem->m_geoTransform);
        const double centre[3] = {0, 0, 0};
        EXPECT_EQ(EditDemFromTin(*dem, flat, centre, nullptr, {}), 0);
        EXPECT_EQ(dem->m_modified, 0);
    }
}

TEST(Tin, GivesTheTrianglesOfVtksDelaunayFilterAndReportsProgress) {
    std::mt19937 random(17);
    std::uniform_real_distribution<double> place(0.0, 1000.0);
    std::vector<Wml::Point3> points;
    vtkNew<vtkPoints> vtkPts;
    vtkPts->SetDataTypeToDouble();
    for (int i = 0; i < 400; ++i) {
        points.emplace_back(place(random), place(random), place(random) / 10.0);
        vtkPts->InsertNextPoint(points.back().X(), points.back().Y(), points.back().Z());
    }
    vtkNew<vtkPolyData> input;
    input->SetPoints(vtkPts);
    vtkNew<vtkDelaunay2D> delaunay;
    delaunay->SetInputData(input);
    delaunay->SetTolerance(0.0);
    // The filter's bounding points far off: near them it drops slivers of the hull otherwise.
    delaunay->SetOffset(1000.0);
    delaunay->Update();

    vtkNew<vtkListener> listener;
    RecordedProgress progress;
    listener->m_progress = &progress;
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, {}, listener);
    ASSERT_NE(tin, nullptr);
    EXPECT_EQ(TrianglesOf(tin), TrianglesOf(delaunay->GetOutput()));
    // Once per whole percent, from 0 to 100.
    ASSERT_EQ(progress.positions.size(), 101u);
    EXPECT_EQ(progress.positions.front(), 0);
    EXPECT_EQ(progress.positions.back(), 100);

    progress.positions.clear();
    double share = 0.25;
    listener->Execute(nullptr, vtkCommand::ProgressEvent, &share);
    listener->Execute(nullptr, vtkCommand::EndEvent, &share);
    EXPECT_EQ(progress.positions, std::vector<int>{25});
}

TEST(TinRaster, CellsTakeTheTrianglesAtTheirCentresOnGridsOfAnyCellShape) {
    // Corners on the cell lines of a 1 x 0.5 grid: the diagonals run through cell centres, where
    // both triangles meet. Plane z = 2x + 4y.
    std::vector<Wml::Point3> points;
    for (int j = 0; j <= 4; ++j) {
        for (int i = 0; i <= 4; ++i) {
            points.emplace_back(i * 2.0, j * 1.0, 4.0 * i + 4.0 * j);
        }
    }
    vtkSmartPointer<vtkPolyData> tin = TriangulateTin(points, {});
    ASSERT_NE(tin, nullptr);
    const double bounds[4] = {0.0, 8.0, 0.0, 4.0};
    const cv::Mat raster = RasterizeTinToGrid(tin, 0.5, 0.25, bounds);
    ASSERT_EQ(raster.size(), cv::Size(16, 16));
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            const float value = raster.at<float>(r, c);
            if (r == 0 || c == 0 || r == 15 || c == 15) {
                EXPECT_EQ(value, kNoData) << c << "," << r;
            } else {
                const double x = (c + 0.5) * 0.5, y = 4.0 - (r + 0.5) * 0.25;
                EXPECT_NEAR(value, 2.0 * x + 4.0 * y, 1e-5) << c << "," << r;
            }
        }
    }

    // The remesh fills every cell of the same grid whose centre lies on a diagonal, too.
    auto dem = std::make_unique<CDEM>(nullptr);
    dem->m_grid = cv::Mat(16, 16, CV_32FC1, cv::Scalar(-1.0f));
    const double gt[6] = {0.0, 0.5, 0.0, 4.0, 0.0, -0.25};
    std::copy(gt, gt + 6, dem->m_geoTransform);
    const double origin[3] = {0.0, 0.0, 0.0};
    ASSERT_EQ(EditDemFromTin(*dem, tin, origin, nullptr, {}), 1);
    cv::Mat expected = raster.clone();
    for (int r = 0; r < 16; ++r) {
        for (int c = 0; c < 16; ++c) {
            expected.at<float>(r, c) = float(2.0 * (c + 0.5) * 0.5 + 4.0 * (4.0 - (r + 0.5) * 0.25));
        }
    }
    EXPECT_LT(cv::norm(dem->m_grid, expected, cv::NORM_INF), 1e-5);
    EXPECT_EQ(dem->m_modified, 1);

    // A triangle that stands vertical in plan writes nothing; its neighbour does.
    vtkNew<vtkPoints> corners;
    for (const auto& p : {std::array<double, 3>{0, 0, 0}, {4, 0, 0}, {4, 0, 9}, {0, 4, 0}}) {
        corners->InsertNextPoint(p.data());
    }
    vtkNew<vtkCellArray> faces;
    const vtkIdType wall[3] = {0, 1, 2}, floor[3] = {0, 1, 3};
    faces->InsertNextCell(3, wall);
    faces->InsertNextCell(3, floor);
    vtkNew<vtkPolyData> mesh;
    mesh->SetPoints(corners);
    mesh->SetPolys(faces);
    const double box[4] = {0.0, 4.0, 0.0, 4.0};
    const cv::Mat walls = RasterizeTin(mesh, box, 1.0, nullptr);
    ASSERT_EQ(walls.size(), cv::Size(4, 4));
    EXPECT_EQ(cv::countNonZero(walls == 0.0f), 3);
    EXPECT_EQ(cv::countNonZero(walls == kNoData), 13);
}
