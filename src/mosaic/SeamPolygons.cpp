#include "mosaic/SeamPolygons.h"

#include <gdal.h>
#include <vtkIdList.h>
#include <vtkIntArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <limits>

#include "platform/cad/Cad.h"
#include "platform/geometry/Voronoi.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"
#include "raster/DEM.h"
#include "raster/Ortho.h"

namespace {

// What the partition needs of an image record, orthophoto or DEM alike.
struct ImageExtent {
    int width = 0;
    int height = 0;
    const double* geoTransform = nullptr;
    CadEntity* entity = nullptr;
};

// The raster size of a record; false when it has no raster (an orthophoto without dataset, a DEM
// without dataset or grid: an edited DEM holds its grid in memory and its dataset closed).
bool RasterSizeOf(const COrtho* image, int& width, int& height) {
    if (!image->m_pDataset) {
        return false;
    }
    width = GDALGetRasterXSize(image->m_pDataset);
    height = GDALGetRasterYSize(image->m_pDataset);
    return true;
}

bool RasterSizeOf(const CDEM* image, int& width, int& height) {
    if (!image->m_pDataset && image->m_grid.empty()) {
        return false;
    }
    width = image->Width();
    height = image->Height();
    return true;
}

template <class Record>
bool BuildSeamPolygons(const std::vector<Record*>& images, std::vector<CPgon>& polygons,
                       int64_t& largestPixelCount, int64_t& medianPixelCount, ProgressSink* progress) {
    polygons.clear();
    if (images.empty()) {
        return false;
    }
    std::vector<ImageExtent> extents;
    for (Record* image : images) {
        ImageExtent extent{0, 0, nullptr, nullptr};
        if (!image || !RasterSizeOf(image, extent.width, extent.height)) {
            return false;
        }
        extent.geoTransform = image->m_geoTransform;
        extent.entity = image->m_imageEntity;
        extents.push_back(extent);
    }

    std::vector<int64_t> counts;
    std::vector<Wml::Point2> sites;
    VoronoiBox box = {std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
                      std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
    largestPixelCount = 0;
    for (const ImageExtent& e : extents) {
        const int w = e.width, h = e.height;
        const int64_t pixels = int64_t(w) * h;
        largestPixelCount = std::max(largestPixelCount, pixels);
        counts.push_back(pixels);
        const double* gt = e.geoTransform;
        sites.emplace_back(gt[0] + w * 0.5 * gt[1], gt[3] + h * 0.5 * gt[5]);
        for (double x : {gt[0], gt[0] + w * gt[1]}) {
            box[0] = std::min(box[0], x);
            box[1] = std::max(box[1], x);
        }
        for (double y : {gt[3] + h * gt[5], gt[3]}) {
            box[2] = std::min(box[2], y);
            box[3] = std::max(box[3], y);
        }
    }
    std::sort(counts.begin(), counts.end());
    medianPixelCount = counts[counts.size() / 2];

    if (progress) {
        progress->SetPos(0);
    }
    std::vector<std::vector<Wml::Point2>> cells;
    if (!BuildVoronoiDiagram_2(sites, box, cells) || cells.size() != sites.size()) {
        return false;
    }

    CPgon covered;
    for (const ImageExtent& e : extents) {
        if (!e.entity) {
            continue;
        }
        const double left = CadEntityGetLeft(e.entity), right = CadEntityGetRight(e.entity);
        const double bottom = CadEntityGetBottom(e.entity), top = CadEntityGetTop(e.entity);
        const Wml::Point2 corners[4] = {{left, bottom}, {right, bottom}, {right, top}, {left, top}};
        covered = covered | CPgon(corners, 4);
    }
    polygons.reserve(cells.size());
    for (const std::vector<Wml::Point2>& cell : cells) {
        polygons.push_back(covered & CPgon(cell.data(), int(cell.size())));
    }
    return true;
}

// The int point array of that name with one value per point, or null.
vtkIntArray* IndexArray(vtkPolyData* data, const char* name) {
    vtkIntArray* array =
        data->GetPointData() ? vtkIntArray::SafeDownCast(data->GetPointData()->GetArray(name)) : nullptr;
    if (!array || array->GetNumberOfComponents() != 1 ||
        array->GetNumberOfTuples() != data->GetNumberOfPoints()) {
        return nullptr;
    }
    return array;
}

}  // namespace

bool BuildVoronoiSeamPolygons(const std::vector<COrtho*>& images, std::vector<CPgon>& polygons,
                              int64_t& largestPixelCount, int64_t& medianPixelCount, ProgressSink* progress) {
    return BuildSeamPolygons(images, polygons, largestPixelCount, medianPixelCount, progress);
}

bool BuildVoronoiDemSeamPolygons(const std::vector<CDEM*>& images, std::vector<CPgon>& polygons,
                                 int64_t& largestPixelCount, int64_t& medianPixelCount,
                                 ProgressSink* progress) {
    return BuildSeamPolygons(images, polygons, largestPixelCount, medianPixelCount, progress);
}

vtkSmartPointer<vtkPointLocator> BuildSeamVertexIndex(const std::vector<CPgon>& polygons) {
    // Map coordinates in double: in single precision a northing of some millions is kept to about
    // a metre, far coarser than the matching radius of a hundredth of a pixel.
    auto points = vtkSmartPointer<vtkPoints>::New();
    points->SetDataTypeToDouble();
    auto imageIndex = vtkSmartPointer<vtkIntArray>::New();
    imageIndex->SetName("ImageIndex");
    auto pointIndex = vtkSmartPointer<vtkIntArray>::New();
    pointIndex->SetName("ImagePointIndex");
    for (size_t i = 0; i < polygons.size(); ++i) {
        if (polygons[i].GetNumContours() != 1) {
            continue;
        }
        const std::vector<Wml::Point2>& contour = polygons[i].GetContour(0);
        for (size_t k = 0; k < contour.size(); ++k) {
            points->InsertNextPoint(contour[k].X(), contour[k].Y(), 0.0);
            imageIndex->InsertNextValue(int(i));
            pointIndex->InsertNextValue(int(k));
        }
    }
    auto data = vtkSmartPointer<vtkPolyData>::New();
    data->SetPoints(points);
    data->GetPointData()->AddArray(imageIndex);
    data->GetPointData()->AddArray(pointIndex);
    auto locator = vtkSmartPointer<vtkPointLocator>::New();
    locator->SetDataSet(data);
    if (data->GetNumberOfPoints() > 0) {
        locator->BuildLocator();
    }
    return locator;
}

int CollectVertexImages(const std::vector<CPgon>& polygons, vtkPointLocator* locator, double meanPixelSize,
                        SeamSegmentLists* segments, SeamVertexImageLists* vertexImages,
                        ProgressSink* progress) {
    if (!locator || !segments || !vertexImages) {
        return 0;
    }
    vtkPolyData* data = vtkPolyData::SafeDownCast(locator->GetDataSet());
    vtkIntArray* imageIndex = data ? IndexArray(data, "ImageIndex") : nullptr;
    vtkIntArray* pointIndex = data ? IndexArray(data, "ImagePointIndex") : nullptr;
    if (!imageIndex || !pointIndex) {
        return 0;
    }
    const vtkIdType indexed = data->GetNumberOfPoints();
    for (vtkIdType id = 0; id < indexed; ++id) {
        const int image = imageIndex->GetValue(id);
        if (image < 0 || size_t(image) >= polygons.size()) {
            return 0;
        }
    }

    segments->assign(polygons.size(), {});
    vertexImages->assign(polygons.size(), {});
    if (progress) {
        progress->SetRange(0, int(polygons.size()));
        progress->SetPos(0);
        progress->SetStartTime();
    }
    ZQT_PumpMessages();

    const double radius = meanPixelSize / 100.0;
    auto hits = vtkSmartPointer<vtkIdList>::New();
    // The indexed vertices within the radius of a point, in the locator's order.
    auto find = [&](const Wml::Point2& p) {
        hits->Reset();
        if (indexed > 0) {
            const double x[3] = {p.X(), p.Y(), 0.0};
            locator->FindPointsWithinRadius(radius, x, hits);
        }
    };
    for (size_t i = 0; i < polygons.size(); ++i) {
        if (progress) {
            progress->SetPos(int(i));
        }
        ZQT_PumpMessages();
        std::vector<SeamSegment>& list = (*segments)[i];
        std::vector<std::vector<SeamVertexImage>>& vertices = (*vertexImages)[i];
        for (int c = 0; c < polygons[i].GetNumContours(); ++c) {
            const std::vector<Wml::Point2>& contour = polygons[i].GetContour(c);
            const size_t n = contour.size();
            for (size_t k = 0; k < n; ++k) {
                // The images met at this vertex only: an edge belongs to an image found at both
                // of its ends.
                std::vector<int> atStart;
                std::vector<SeamVertexImage>& here = vertices.emplace_back();
                find(contour[k]);
                for (vtkIdType h = 0; h < hits->GetNumberOfIds(); ++h) {
                    const vtkIdType id = hits->GetId(h);
                    const int image = imageIndex->GetValue(id);
                    if (image == int(i)) {
                        continue;
                    }
                    here.push_back({image, pointIndex->GetValue(id)});
                    atStart.push_back(image);
                }
                SeamSegment segment;
                segment.start = contour[k];
                segment.end = contour[(k + 1) % n];
                find(segment.end);
                for (vtkIdType h = 0; h < hits->GetNumberOfIds(); ++h) {
                    const int image = imageIndex->GetValue(hits->GetId(h));
                    if (image != int(i) &&
                        std::find(atStart.begin(), atStart.end(), image) != atStart.end()) {
                        segment.neighbour = image;
                        break;
                    }
                }
                list.push_back(segment);
            }
        }
    }
    if (progress) {
        progress->SetPos(0);
    }
    return 1;
}
