// Triangulated irregular networks (TINs): the Delaunay triangulation of points in the plane with
// break lines kept as triangle edges, handed back as VTK poly data (VTK is the mesh type of every
// caller), and the TIN of the entities selected in the drawing.
#pragma once

#include <vtkCallbackCommand.h>
#include <vtkSmartPointer.h>

#include <vector>

#include "platform/math/Wml.h"

class ProgressSink;
class vtkCommand;
class vtkPolyData;
struct CadDrawing;

// A break line between two points, given by their indices in the point list.
struct TinSegment {
    int a = 0;
    int b = 0;
};

// The constrained Delaunay triangulation of the points in x and y (heights kept) with every
// segment as a triangle edge. Of points with equal x and y the first one's height stays; points
// with a coordinate that is not finite are left out, and so are the segments that reach them or
// whose two ends fall on one point. Where two segments cross, the crossing becomes a vertex whose
// height is the mean of both segments' heights there.
//
// The result holds the distinct points first, in the order of their first appearance in the
// list, then the crossings; its polygons are the triangles, counter-clockwise seen from above.
// Fewer than three points that are not on one line give points without triangles. The observer
// (may be null) receives the progress event with the done share (a double in 0..1) at most once
// per whole percent. Null only when the triangulation failed (out of memory).
vtkSmartPointer<vtkPolyData> TriangulateTin(const std::vector<Wml::Point3>& points,
                                            const std::vector<TinSegment>& segments,
                                            vtkCommand* observer = nullptr);

// The TIN of the selected points, lines and polylines of the drawing (other kinds are left out):
// their vertices are the points, the segments of lines and polylines the break lines (a closed
// polyline's closing side is not one). The coordinates are shifted so that the middle of the
// points' x and y ranges lies at the origin: centre receives that shift (cx, cy, 0), which the
// caller adds back; heights are not shifted. Null when the selection holds no point or the
// triangulation failed.
vtkSmartPointer<vtkPolyData> CreateTinFromSelection(CadDrawing* drawing, double centre[3],
                                                    vtkCommand* observer);

// The progress observer of the TIN tools: on a progress event it moves the bar of its progress
// sink to the share times 100 (truncated) and, with the pump flag set, lets pending events through.
class vtkListener : public vtkCallbackCommand {
public:
    static vtkListener* New();
    vtkTypeMacro(vtkListener, vtkCallbackCommand);

    void Execute(vtkObject* caller, unsigned long eventId, void* callData) override;

    // Non-zero: pump the message queue on every progress event.
    int m_pumpMessages = 0;
    // Where the bar position goes; null for none.
    ProgressSink* m_progress = nullptr;

protected:
    vtkListener() = default;
    ~vtkListener() override = default;

private:
    vtkListener(const vtkListener&) = delete;
    void operator=(const vtkListener&) = delete;
};
