#include "demtools/Tin.h"

#include <CGAL/Constrained_Delaunay_triangulation_2.h>
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Projection_traits_xy_3.h>
#include <CGAL/Spatial_sort_traits_adapter_2.h>
#include <CGAL/Triangulation_vertex_base_with_info_2.h>
#include <CGAL/property_map.h>
#include <CGAL/spatial_sort.h>

#include <vtkCellArray.h>
#include <vtkIdTypeArray.h>
#include <vtkObjectFactory.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <numeric>

#include "platform/cad/Cad.h"
#include "platform/tools/ProgressSink.h"
#include "platform/tools/ZQT.h"

namespace {

// What the triangulation keeps per vertex: the first point of the list that fell on it (-1 for a
// crossing of break lines) and its index in the result.
struct VertexInfo {
    int first = -1;
    vtkIdType out = -1;
};

using Kernel = CGAL::Exact_predicates_inexact_constructions_kernel;
using Traits = CGAL::Projection_traits_xy_3<Kernel>;
using VertexBase = CGAL::Triangulation_vertex_base_with_info_2<VertexInfo, Traits>;
using FaceBase = CGAL::Constrained_triangulation_face_base_2<Traits>;
using Tds = CGAL::Triangulation_data_structure_2<VertexBase, FaceBase>;
// Crossing break lines are split at their crossing instead of being refused.
using Cdt = CGAL::Constrained_Delaunay_triangulation_2<Traits, Tds, CGAL::Exact_predicates_tag>;
using TinPoint = Traits::Point_2;

// Tells the observer the done share, once per whole percent.
class ProgressReport {
public:
    ProgressReport(vtkCommand* observer, size_t total)
        : m_observer(observer), m_total(std::max<size_t>(total, 1)) {}
    void Step(size_t done) {
        if (!m_observer) {
            return;
        }
        const int percent = int(done * 100 / m_total);
        if (percent == m_percent) {
            return;
        }
        m_percent = percent;
        double share = double(done) / double(m_total);
        m_observer->Execute(nullptr, vtkCommand::ProgressEvent, &share);
    }

private:
    vtkCommand* m_observer;
    size_t m_total;
    int m_percent = -1;
};

bool IsFinite(const Wml::Point3& p) {
    return std::isfinite(p.X()) && std::isfinite(p.Y()) && std::isfinite(p.Z());
}

vtkSmartPointer<vtkPolyData> Triangulate(const std::vector<Wml::Point3>& points,
                                         const std::vector<TinSegment>& segments, vtkCommand* observer) {
    const int count = int(points.size());
    std::vector<TinPoint> places;
    std::vector<std::size_t> order;
    places.reserve(points.size());
    order.reserve(points.size());
    for (int i = 0; i < count; ++i) {
        places.emplace_back(points[i].X(), points[i].Y(), points[i].Z());
        if (IsFinite(points[i])) {
            order.push_back(i);
        }
    }
    ProgressReport progress(observer, order.size() + segments.size());
    progress.Step(0);

    // Inserted along a space-filling curve, each from the last vertex: the walk to every new
    // point stays short.
    {
        std::vector<Kernel::Point_2> plan;
        plan.reserve(points.size());
        for (const Wml::Point3& p : points) {
            plan.emplace_back(p.X(), p.Y());
        }
        using SortTraits =
            CGAL::Spatial_sort_traits_adapter_2<Kernel, CGAL::Pointer_property_map<Kernel::Point_2>::type>;
        CGAL::spatial_sort(order.begin(), order.end(), SortTraits(CGAL::make_property_map(plan)));
    }
    Cdt cdt;
    std::vector<Cdt::Vertex_handle> vertexOf(points.size());
    Cdt::Face_handle hint;
    size_t done = 0;
    for (const std::size_t i : order) {
        const Cdt::Vertex_handle v = cdt.insert(places[i], hint);
        vertexOf[i] = v;
        hint = v->face();
        progress.Step(++done);
    }
    // Each vertex takes the first point of the list that fell on it, height included, before the
    // break lines are laid: their crossings take their heights from these.
    for (int i = 0; i < count; ++i) {
        const Cdt::Vertex_handle v = vertexOf[i];
        if (v != Cdt::Vertex_handle() && (v->info().first < 0 || i < v->info().first)) {
            v->info().first = i;
        }
    }
    for (Cdt::Finite_vertices_iterator v = cdt.finite_vertices_begin(); v != cdt.finite_vertices_end(); ++v) {
        if (v->info().first >= 0) {
            v->set_point(places[v->info().first]);
        }
    }
    for (const TinSegment& s : segments) {
        if (s.a >= 0 && s.a < count && s.b >= 0 && s.b < count) {
            const Cdt::Vertex_handle a = vertexOf[s.a], b = vertexOf[s.b];
            if (a != Cdt::Vertex_handle() && b != Cdt::Vertex_handle() && a != b) {
                cdt.insert_constraint(a, b);
            }
        }
        progress.Step(++done);
    }

    // The points: those of the list in the order they first came, then the crossings.
    auto xyz = vtkSmartPointer<vtkPoints>::New();
    xyz->SetDataTypeToDouble();
    xyz->Allocate(vtkIdType(cdt.number_of_vertices()));
    vtkIdType next = 0;
    for (int i = 0; i < count; ++i) {
        const Cdt::Vertex_handle v = vertexOf[i];
        if (v != Cdt::Vertex_handle() && v->info().first == i) {
            v->info().out = next++;
            xyz->InsertNextPoint(places[i].x(), places[i].y(), places[i].z());
        }
    }
    for (Cdt::Finite_vertices_iterator v = cdt.finite_vertices_begin(); v != cdt.finite_vertices_end(); ++v) {
        if (v->info().out < 0) {
            v->info().out = next++;
            xyz->InsertNextPoint(v->point().x(), v->point().y(), v->point().z());
        }
    }

    const vtkIdType triangles = cdt.dimension() == 2 ? vtkIdType(cdt.number_of_faces()) : 0;
    auto offsets = vtkSmartPointer<vtkIdTypeArray>::New();
    auto connectivity = vtkSmartPointer<vtkIdTypeArray>::New();
    offsets->SetNumberOfValues(triangles + 1);
    connectivity->SetNumberOfValues(3 * triangles);
    vtkIdType t = 0;
    offsets->SetValue(0, 0);
    if (triangles > 0) {
        for (Cdt::Finite_faces_iterator f = cdt.finite_faces_begin(); f != cdt.finite_faces_end(); ++f, ++t) {
            for (int k = 0; k < 3; ++k) {
                connectivity->SetValue(3 * t + k, f->vertex(k)->info().out);
            }
            offsets->SetValue(t + 1, 3 * (t + 1));
        }
    }
    auto polys = vtkSmartPointer<vtkCellArray>::New();
    polys->SetData(offsets, connectivity);

    auto tin = vtkSmartPointer<vtkPolyData>::New();
    tin->SetPoints(xyz);
    tin->SetPolys(polys);
    return tin;
}

}  // namespace

vtkSmartPointer<vtkPolyData> TriangulateTin(const std::vector<Wml::Point3>& points,
                                            const std::vector<TinSegment>& segments, vtkCommand* observer) {
    try {
        return Triangulate(points, segments, observer);
    } catch (const std::exception&) {
        return nullptr;
    }
}

vtkSmartPointer<vtkPolyData> CreateTinFromSelection(CadDrawing* drawing, double centre[3],
                                                    vtkCommand* observer) {
    std::vector<Wml::Point3> points;
    std::vector<TinSegment> segments;
    // The vertices from first to last, each joined to the one before.
    auto addPath = [&](int first, int count) {
        for (int k = 1; k < count; ++k) {
            segments.push_back({first + k - 1, first + k});
        }
    };
    for (CadEntity* e = CadSelGetFirst(drawing); e; e = CadSelGetNext(drawing, e)) {
        double x = 0.0, y = 0.0, z = 0.0, x2 = 0.0, y2 = 0.0, z2 = 0.0;
        const int first = int(points.size());
        switch (CadEntityGetType(e)) {
            case CAD_ENT_POINT:
                if (CadPointGet(e, &x, &y, &z)) {
                    points.emplace_back(x, y, z);
                }
                break;
            case CAD_ENT_LINE:
                if (CadLineGet(e, &x, &y, &z, &x2, &y2, &z2)) {
                    points.emplace_back(x, y, z);
                    points.emplace_back(x2, y2, z2);
                    addPath(first, 2);
                }
                break;
            case CAD_ENT_POLYLINE: {
                const int count = CadPlineGetNumVers(e);
                for (int i = 0; i < count; ++i) {
                    if (CadPlineGetVer(e, i, &x, &y, &z)) {
                        points.emplace_back(x, y, z);
                    }
                }
                addPath(first, int(points.size()) - first);
                break;
            }
            default:
                break;
        }
    }
    if (points.empty()) {
        return nullptr;
    }
    double xmin = 1e10, xmax = -1e10, ymin = 1e10, ymax = -1e10;
    for (const Wml::Point3& p : points) {
        if (IsFinite(p)) {
            xmin = std::min(xmin, p.X());
            xmax = std::max(xmax, p.X());
            ymin = std::min(ymin, p.Y());
            ymax = std::max(ymax, p.Y());
        }
    }
    centre[0] = (xmin + xmax) / 2.0;
    centre[1] = (ymin + ymax) / 2.0;
    centre[2] = 0.0;
    for (Wml::Point3& p : points) {
        p = Wml::Point3(p.X() - centre[0], p.Y() - centre[1], p.Z());
    }
    return TriangulateTin(points, segments, observer);
}

vtkStandardNewMacro(vtkListener);

void vtkListener::Execute(vtkObject*, unsigned long eventId, void* callData) {
    if (eventId != vtkCommand::ProgressEvent || !callData) {
        return;
    }
    const double share = *static_cast<double*>(callData);
    if (!std::isfinite(share)) {
        return;
    }
    const int position = int(std::clamp(share, 0.0, 1.0) * 100.0);
    if (m_progress) {
        m_progress->SetPos(position);
    }
    if (m_pumpMessages) {
        ZQT_PumpMessages();
    }
}
