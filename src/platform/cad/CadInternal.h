// The engine's own objects behind the opaque handles of Cad.h, shared by its source files.
#pragma once

#include <QPointer>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/cad/Cad.h"
#include "platform/cad/CadDimension.h"

class CadView;

namespace cad {

// A model point. Its default constructor leaves it unset, so that large vertex arrays can be
// sized without a pass that zeroes them; give it a value where one is needed.
struct Vec3 {
    double x, y, z;
    Vec3() {}
    Vec3(double ax, double ay, double az) : x(ax), y(ay), z(az) {}
};

// Axis-aligned box in model units; empty while l > r.
struct Box {
    double l = 1, b = 1, r = -1, t = -1;
    bool Empty() const { return l > r || b > t; }
    void Add(double x, double y) {
        if (Empty()) {
            l = r = x;
            b = t = y;
            return;
        }
        if (x < l)
            l = x;
        if (x > r)
            r = x;
        if (y < b)
            b = y;
        if (y > t)
            t = y;
    }
    void Add(const Box& o) {
        if (o.Empty())
            return;
        Add(o.l, o.b);
        Add(o.r, o.t);
    }
    bool Intersects(const Box& o) const {
        return !Empty() && !o.Empty() && l <= o.r && o.l <= r && b <= o.t && o.b <= t;
    }
    bool Contains(const Box& o) const {
        return !Empty() && !o.Empty() && l <= o.l && o.r <= r && b <= o.b && o.t <= t;
    }
    Box Inflated(double d) const { return Empty() ? *this : Box{l - d, b - d, r + d, t + d}; }
};

// Points a side of the smooth curve through a fitted polyline's or a spline's vertices.
constexpr int kCurveSteps = 8;

// One side of the Catmull-Rom curve, from p1 to p2 with p0 before and p3 after, set up once for
// the points read along it: the cubics' coefficients, and the x and y of its points.
struct CurveSide {
    size_t side = SIZE_MAX;  // which side of an outline it holds (SIZE_MAX: none yet)
    double c[3][4];          // per coordinate, the cubic's coefficients
    bool all = false;        // x and y hold the side's points (else each is evaluated when read)
    double x[kCurveSteps], y[kCurveSteps];
    // all: the points' x and y are evaluated at once, for a side that is read along.
    void Set(const Vec3& p0, const Vec3& p1, const Vec3& p2, const Vec3& p3, bool all = true) {
        const double a[3] = {p0.x, p0.y, p0.z}, b[3] = {p1.x, p1.y, p1.z}, d[3] = {p2.x, p2.y, p2.z},
                     e[3] = {p3.x, p3.y, p3.z};
        for (int i = 0; i < 3; ++i) {
            c[i][0] = 2 * b[i];
            c[i][1] = -a[i] + d[i];
            c[i][2] = 2 * a[i] - 5 * b[i] + 4 * d[i] - e[i];
            c[i][3] = -a[i] + 3 * b[i] - 3 * d[i] + e[i];
        }
        this->all = all;
        for (int k = 0; all && k < kCurveSteps; ++k) {
            x[k] = Coordinate(0, k);
            y[k] = Coordinate(1, k);
        }
    }
    // Point k of kCurveSteps along the side.
    Vec3 At(int k) const {
        const auto [px, py] = AtXY(k);
        return {px, py, Coordinate(2, k)};
    }
    // Its x and y alone.
    std::pair<double, double> AtXY(int k) const {
        return all ? std::pair<double, double>(x[k], y[k])
                   : std::pair<double, double>(Coordinate(0, k), Coordinate(1, k));
    }

private:
    double Coordinate(int i, int k) const {
        const double t = double(k) / kCurveSteps, t2 = t * t, t3 = t2 * t;
        const double* q = c[i];
        return 0.5 * (q[0] + q[1] * t + q[2] * t2 + q[3] * t3);
    }
};

// The four defining points of side s of the curve through p (at least three points; a closed
// curve's sides wrap around, an open curve's first and last repeat their end point).
inline void CurveSidePoints(const std::vector<Vec3>& p, bool closed, size_t s, const Vec3* q[4]) {
    const size_t n = p.size();
    if (closed) {
        q[0] = &p[(s + n - 1) % n];
        q[1] = &p[s];
        q[2] = &p[(s + 1) % n];
        q[3] = &p[(s + 2) % n];
    } else {
        q[0] = &p[s == 0 ? 0 : s - 1];
        q[1] = &p[s];
        q[2] = &p[s + 1];
        q[3] = &p[std::min(s + 2, n - 1)];
    }
}

// The drawn path of an entity, read like a vector of points. The shapes drawn other than through
// their defining points (arcs, ellipses, rectangles, texts, images, block references) keep points
// of their own; lines, polygons and straight polylines read their defining points; fitted
// polylines and splines read the smooth curve through them, each point evaluated where it is
// read. Long lines and curves thus cost no copy of their vertices.
class Outline {
public:
    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = Vec3;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = Vec3;
        Iterator(const Outline* o, size_t i) : o_(o), i_(i) {}
        Vec3 operator*() const { return o_->At(i_, side_); }
        Iterator& operator++() {
            ++i_;
            return *this;
        }
        bool operator==(const Iterator& other) const { return i_ == other.i_; }
        bool operator!=(const Iterator& other) const { return i_ != other.i_; }

    private:
        const Outline* o_;
        size_t i_;
        mutable CurveSide side_;
    };

    // Refers to its entity's points: never copied with it.
    Outline() = default;
    Outline(const Outline&) = delete;
    Outline& operator=(const Outline&) = delete;

    size_t size() const {
        switch (kind_) {
            case Kind::Defining:
                return pts_->size();
            case Kind::Curve:
                return size_t(pts_->size() - (closed_ ? 0 : 1)) * kCurveSteps + 1;
            default:
                return own_.size();
        }
    }
    bool empty() const { return size() == 0; }
    // Point i, evaluated alone (reading along an outline, OutlineReader is the faster).
    Vec3 operator[](size_t i) const {
        CurveSide side;
        return At(i, side, false);
    }
    // Point i, the curve's side kept in side between calls: reading in order sets up each side once.
    Vec3 At(size_t i, CurveSide& side, bool along = true) const {
        switch (kind_) {
            case Kind::Defining:
                return (*pts_)[i];
            case Kind::Curve: {
                const CurveSide* at = SideOf(i, side, along);
                return at ? at->At(int(i % kCurveSteps)) : LastOfCurve();
            }
            default:
                return own_[i];
        }
    }
    // Its x and y alone.
    std::pair<double, double> AtXY(size_t i, CurveSide& side) const {
        if (kind_ == Kind::Curve) {
            const CurveSide* at = SideOf(i, side);
            if (at)
                return at->AtXY(int(i % kCurveSteps));
        }
        const Vec3 v = At(i, side);
        return {v.x, v.y};
    }
    Vec3 front() const { return (*this)[0]; }
    Vec3 back() const { return (*this)[size() - 1]; }
    Iterator begin() const { return Iterator(this, 0); }
    Iterator end() const { return Iterator(this, size()); }
    operator std::vector<Vec3>() const {
        std::vector<Vec3> v;
        v.reserve(size());
        for (const Vec3& p : *this)
            v.push_back(p);
        return v;
    }
    // Whether the points are those of a smooth curve through the defining points.
    bool IsCurve() const { return kind_ == Kind::Curve; }

    // The points of its own, emptied, for the shape to fill.
    std::vector<Vec3>& Own() {
        kind_ = Kind::Own;
        pts_ = nullptr;
        own_.clear();
        return own_;
    }
    // The entity's defining points themselves (which must outlive the reading).
    void UseDefining(const std::vector<Vec3>* pts) {
        std::vector<Vec3>().swap(own_);
        kind_ = Kind::Defining;
        pts_ = pts;
    }
    // The smooth curve through at least three defining points; a closed curve returns to the first.
    void UseCurve(const std::vector<Vec3>* pts, bool closed) {
        std::vector<Vec3>().swap(own_);
        kind_ = Kind::Curve;
        pts_ = pts;
        closed_ = closed;
    }
    // No points, and no memory held.
    void Release() {
        std::vector<Vec3>().swap(own_);
        kind_ = Kind::Own;
        pts_ = nullptr;
    }

private:
    enum class Kind { Own, Defining, Curve };
    // The side of the curve that point i lies on, set up in at; null for the curve's last point.
    const CurveSide* SideOf(size_t i, CurveSide& at, bool along = true) const {
        const std::vector<Vec3>& p = *pts_;
        const size_t n = p.size();
        const size_t side = i / kCurveSteps;
        if (side >= (closed_ ? n : n - 1))
            return nullptr;
        if (at.side != side) {
            const Vec3* q[4];
            CurveSidePoints(p, closed_, side, q);
            at.Set(*q[0], *q[1], *q[2], *q[3], along);
            at.side = side;
        }
        return &at;
    }
    Vec3 LastOfCurve() const { return closed_ ? pts_->front() : pts_->back(); }
    Kind kind_ = Kind::Own;
    bool closed_ = false;
    const std::vector<Vec3>* pts_ = nullptr;
    std::vector<Vec3> own_;
};

// An outline read mostly in order (a pass along it, with a look back now and then): each side of
// a curve is set up once.
class OutlineReader {
public:
    explicit OutlineReader(const Outline& o) : o_(o) {}
    size_t size() const { return o_.size(); }
    bool empty() const { return o_.empty(); }
    Vec3 operator[](size_t i) const { return o_.At(i, side_); }
    Vec3 front() const { return (*this)[0]; }
    Vec3 back() const { return (*this)[size() - 1]; }
    std::pair<double, double> XY(size_t i) const { return o_.AtXY(i, side_); }

private:
    const Outline& o_;
    mutable CurveSide side_;
};

}  // namespace cad

struct CadLayer {
    CadDrawing* drawing = nullptr;
    int id = 0;
    std::string name;
    int colour = CAD_COLOR_FOREGROUND;
    uint32_t lineType = CAD_LTYPE_CONTINUOUS;
    int lineWeight = CAD_LWEIGHT_DEFAULT;
    bool visible = true;
    bool locked = false;
    bool deleted = false;
    int level = 0;
    bool linked = true;  // false once purged or replaced by a file open
};

struct CadEntity {
    CadDrawing* drawing = nullptr;
    CadBlock* block = nullptr;  // the block definition that holds it, if any
    int id = 0;
    int type = 0;
    int seq = -1;  // position in the drawing's entity order; -1 when not an entity of the drawing
    bool erased = false;
    int holds = 0;              // CadEntityHold: kept by a purge while erased
    bool linked = true;         // false once purged or replaced by a file open
    bool indexChanged = false;  // changed since the spatial index was built

    int layerId = 0;
    int colour = CAD_COLOR_BYLAYER;
    uint32_t lineType = CAD_LTYPE_BYLAYER;
    int lineWeight = CAD_LWEIGHT_BYLAYER;
    bool visible = true;
    bool filled = false;
    bool selected = false;
    void* userPtr = nullptr;
    int userData = 0;
    std::vector<uint8_t> exData;

    // Geometry. pts: vertices of outlines; the defining point(s) of the other kinds.
    std::vector<cad::Vec3> pts;
    int fit = 0;
    bool closed = false;
    double p[6] = {0, 0, 0, 0, 0, 0};  // kind-specific numbers (see CadModel.cpp)
    int ival = 0;                      // text alignment, image id, block id, dimension kind, hatch pattern
    std::string text;                  // text, image file name

    // Derived, rebuilt when geometry changes.
    bool cacheValid = false;
    cad::Box box;          // extents
    cad::Outline outline;  // the drawn path (curves flattened)
    // The outline simplified for zoomed-out views, per tolerance level (2^level model units), as
    // the positions of the points kept; an empty list means the full outline serves that level.
    std::vector<std::pair<int, std::vector<uint32_t>>> detail;
    void Invalidate();
};

struct CadBlock {
    CadDrawing* drawing = nullptr;
    int id = 0;
    std::string name;
    cad::Vec3 base{0, 0, 0};
    std::vector<CadEntity*> entities;
    bool linked = true;
};

namespace cad {

// One item of the spatial index: an entity, or a run of up to kChunk segments of a long outline.
struct IndexItem {
    CadEntity* entity;
    int first;  // first vertex of the run (0 for whole entities)
    int count;  // number of vertices of the run (0 for the whole entity)
    Box box;
};

// Uniform grid over the extents of the drawing's items; answers the items near a box without
// looking at every vertex.
class SpatialIndex {
public:
    static constexpr int kChunk = 8;
    void Build(const std::vector<CadEntity*>& entities);
    void Clear();
    // Calls fn for every item whose box meets the query (an item may come once per query).
    void Query(const Box& q, const std::function<void(const IndexItem&)>& fn) const;
    bool Empty() const { return items_.empty(); }
    // Notes an entity whose geometry changed since the build: its old items are passed over and
    // the entity itself is offered whole. False when so many changed that a build is due.
    bool AddChanged(CadEntity* e);

private:
    void QueryChanged(const Box& q, const std::function<void(const IndexItem&)>& fn) const;
    void CellRange(const Box& b, int& x0, int& y0, int& x1, int& y1) const;
    std::vector<IndexItem> items_;
    std::vector<CadEntity*> changed_;
    std::vector<std::vector<int>> cells_;
    mutable std::vector<uint32_t> stamp_;
    mutable uint32_t stampValue_ = 0;
    Box world_;
    int nx_ = 0, ny_ = 0;
    double cw_ = 1, ch_ = 1;
};

struct UserCommand {
    int id;
    std::string name;
    std::string alias;
    CadCommandProc procedure;
    CadRubberBandProc rubberBand;
};

// Close and Undo come from the engine's own "Enter Closed" and "Undo" (context menu, CadExecute).
enum class ScriptKind { Point, Finish, Text, Cancel, Entity, Call, Close, Undo };

// Answers of an input wait besides CAD_INPUT_...: only engine commands get these.
constexpr int kInputClose = 5;
constexpr int kInputUndo = 6;

// The rubber band of an engine command: draws the figure with the cursor at the given point.
using RubberBand = std::function<void(const Vec3&)>;

struct ScriptItem {
    ScriptKind kind;
    Vec3 point{0, 0, 0};
    int keyFlags = 0;
    std::string text;
    CadEntity* entity = nullptr;
    std::function<void()> call;
};

// What an input call waits for.
enum class WaitKind { Input, Entity, Select, Point };

// One input call waiting in its nested event loop.
struct WaitFrame {
    WaitKind kind;
    bool done = false;
    bool cancelled = false;
    int answer = 0;
    CadRubberBandProc rubberBand = nullptr;
    RubberBand band;       // an engine command's rubber band
    int engine = 0;        // the engine command that waits (0: a user command or the program)
    bool rawText = false;  // typed text stays text even where it reads as a point
    class QEventLoop* loop = nullptr;
    bool haveCorner = false;  // window selection: the first corner is given
    Vec3 corner{0, 0, 0};
    // An entity pick's rule for a clicked point (unset: the nearest entity).
    std::function<CadEntity*(double x, double y)> pickAt;
};

// The registered event procedures.
struct EventProcs {
    CadEventDrawImage drawImage = nullptr;
    CadEventMouseMove mouseMove = nullptr;
    CadEventPreMouseDown preMouseDown = nullptr;
    CadEventMouseDown mouseDown = nullptr;
    CadEventMouseUp mouseUp = nullptr;
    CadEventMouseWheel mouseWheel = nullptr;
    CadEventPolyFill polyFill = nullptr;
    CadEventEntErase entErase = nullptr;
    CadEventDrawCursor drawCursor = nullptr;
    CadEventSnapToImagePlace snapToImagePlace = nullptr;
    CadEventPaint paint = nullptr;
    CadEventKeyDown keyDown = nullptr;
};
EventProcs& Events();

// Runs one event procedure call: CadSetReturnInt inside it overrides the procedure's return
// value, and CadGetKeyFlags answers keyFlags meanwhile.
class EventCall {
public:
    explicit EventCall(int keyFlags);
    ~EventCall();
    int Answer(int returned) const;

private:
    EventCall* outer_;
    int flags_;
    int savedFlags_;
    bool savedValid_;

public:
    bool set = false;
    int value = 0;
};
template <typename F>
int CallEvent(int keyFlags, F&& call) {
    EventCall c(keyFlags);
    int r = call();
    return c.Answer(r);
}
void SetKeyFlags(int flags);  // the flags of the input just taken

// How the engine's drawing commands make entities: the operator's current colour, line type and
// line weight (the program's own calls always make entities "by layer").
struct DrawStyle {
    int colour = CAD_COLOR_BYLAYER;
    uint32_t lineType = CAD_LTYPE_BYLAYER;
    int lineWeight = CAD_LWEIGHT_BYLAYER;
};

// How dimensions look.
struct DimStyle {
    double textHeight = 0;  // model units; 0 draws the label at the window's font size
    double arrowSize = 0;   // model units; 0 draws the arrowheads at the window's size
    int decimals = 2;
};

// How points look: the mark and its size in pixels.
enum PointMark { kPointCross = 0, kPointDot = 1, kPointX = 2, kPointCircle = 3, kPointSquare = 4 };
struct PointStyle {
    int mark = kPointCross;
    int size = 5;
};

// One operator operation that undo takes back: the entities it made and those it erased.
struct UndoStep {
    std::vector<CadEntity*> added;
    std::vector<CadEntity*> erased;
};

// Answers the drawing commands remember from one run to the next.
struct CommandMemory {
    double radius = 0;
    double textHeight = 2.5;
    double textAngle = 0;
    int sides = 4;
    bool circumscribed = false;
    std::string block;
    double insertScale = 1;
    double insertAngle = 0;
    int hatchPattern = 0;
};

}  // namespace cad

struct CadDrawing {
    std::vector<std::unique_ptr<CadEntity>> allEntities;  // owns every entity ever made (handles stay valid)
    std::vector<CadEntity*> order;                        // the drawing's entities, erased ones until a purge
    std::unordered_map<int, CadEntity*> byId;
    std::vector<std::unique_ptr<CadLayer>> allLayers;
    std::vector<CadLayer*> layers;  // drawing order
    std::vector<std::unique_ptr<CadBlock>> allBlocks;
    std::vector<CadBlock*> blocks;
    int currentLayerId = 0;
    int nextEntityId = 1;
    int nextLayerId = 1;
    int nextBlockId = 1;
    bool dirty = false;
    bool readOnly = false;
    bool lwDisplay = false;
    int snapMode = 0;
    bool snapOn = false;
    std::vector<CadEntity*> selection;

    std::vector<cad::UserCommand> commands;
    std::deque<cad::ScriptItem> script;
    std::vector<cad::WaitFrame*> waits;  // innermost last
    std::vector<int> runningCommands;    // user commands in progress, innermost last
    uint64_t commandRuns = 0;            // user commands started so far
    // The last image pick: where it was, what it took and in which command run.
    cad::Vec3 imagePickAt{0, 0, 0};
    CadEntity* imagePicked = nullptr;
    uint64_t imagePickRun = 0;
    std::string prompt;
    bool promptLogged = false;  // the prompt has its line in the history (it was answered)
    std::vector<std::string> history;
    // The last input.
    cad::Vec3 inputPoint{0, 0, 0};
    std::string inputText;
    int inputKeyFlags = 0;
    CadEntity* inputEntity = nullptr;

    QPointer<CadView> window;
    int busy = 0;                  // user command procedures of this drawing on the stack
    bool deletePending = false;    // CadDelete came while busy: freed when the last procedure returns
    int lastCommand = 0;           // for "repeat"
    cad::Vec3 lastPoint{0, 0, 0};  // the last point given: relative input ("@dx,dy") starts here
    cad::Vec3 inputRaw{0, 0, 0};   // the last picked point before the object snaps
    cad::Vec3 cursor{0, 0, 0};     // the cursor's model point (snapped) while input waits
    bool haveCursor = false;

    cad::DrawStyle drawStyle;
    cad::DimStyle dimStyle;
    cad::PointStyle pointStyle;
    cad::CommandMemory memory;
    std::vector<cad::UndoStep> undo;  // the operator's operations, latest last

    // Entities grouped by layer id for drawing, rebuilt when the version changes.
    std::unordered_map<int, std::vector<CadEntity*>> byLayer;
    uint64_t byLayerVersion = 0;

    // Derived data, rebuilt on demand.
    uint64_t version = 1;  // bumps on every change that affects drawing or picking
    uint64_t indexVersion = 0;
    cad::SpatialIndex index;
};

namespace cad {

// Model helpers shared by the engine's files.
void Touch(CadDrawing* d);                   // content changed: dirty, caches stale, windows repaint
bool Alive(const CadEntity* e);              // linked and not erased
CadLayer* LayerOf(const CadEntity* e);       // the entity's layer (null when unknown)
bool EntityShown(const CadEntity* e);        // alive, visible and on a visible layer
void EnsureGeometry(CadEntity* e);           // fills box and outline
const SpatialIndex& IndexOf(CadDrawing* d);  // the spatial index, rebuilt when stale
uint32_t ResolveColour(const CadEntity* e);  // 0x00BBGGRR of the entity as drawn
int ResolveLineWeight(const CadEntity* e);
uint32_t ResolveLineType(const CadEntity* e);
CadEntity* NewEntity(CadDrawing* d, int type);   // on the current layer, appended to the order
void AppendEntity(CadDrawing* d, CadEntity* e);  // links an existing entity into the order
CadEntity* CloneEntity(CadDrawing* target, const CadEntity* src);  // a copy (not linked)
double DistanceToEntity(CadEntity* e, double x, double y, int first, int count);
void ReplaceContent(CadDrawing* d, CadDrawing* from);  // moves from's content into d (file open)
void NotifyRepaint(CadDrawing* d);                     // windows repaint (defined with the window)
void RemoveFromSelection(CadDrawing* d, CadEntity* e);
QString ToQ(const char* s);
int CopyOut(const std::string& s, char* buffer, int size);

// Input, in CadEngine.cpp.
// Waits for input of that kind (an engine command passes its number, rubber band and text mode);
// answers like the input calls, with kInputClose and kInputUndo for engine commands.
// An entity pick may bring its own rule for a clicked point.
int WaitInput(CadDrawing* d, WaitKind kind, int engine = 0, RubberBand band = {}, bool rawText = false,
              std::function<CadEntity*(double x, double y)> pickAt = {});
// Offers operator or scripted input to the innermost waiting call of the drawing; true when it
// took it (a point that picks nothing for an entity pick is not taken).
bool DeliverInput(CadDrawing* d, const ScriptItem& item);
// A typed command line: input for a waiting call, else a command name.
void SubmitTyped(CadDrawing* d, const std::string& text);
// Model point of the best object snap near (x, y) within the aperture, or the point itself.
Vec3 SnapPoint(CadDrawing* d, double x, double y, double aperture, int* kind = nullptr);
// Window selection between two corners: left to right takes the entities that lie wholly
// inside, right to left also those the window crosses.
void SelectWindow(CadDrawing* d, const Vec3& a, const Vec3& b);
// The text typed for the drawing (the command line's edit when there is one).
enum class TypedEdit { Append, Backspace, Clear, Take };
std::string CommandLineTyped(CadDrawing* d, const std::string& text, TypedEdit op);
void LayersOrderChanged(CadDrawing* d);  // the layers window shows the drawing's layers again
// The entity nearest to (x, y) within the aperture (top-most first on ties), or null.
CadEntity* PickEntity(CadDrawing* d, double x, double y, double aperture);
// The shown image places that contain (x, y) and that accept takes (all when unset), top-most first.
std::vector<CadEntity*> ImagePlacesAt(CadDrawing* d, double x, double y, const CadImagePlaceFilter& accept);
double ApertureOf(CadDrawing* d);   // pick aperture in model units
double PixelSizeOf(CadDrawing* d);  // model units of one pixel of the drawing's window, 0 without
CadDrawing* RegisterDrawing(CadDrawing* d);
CadDrawing* ActiveDrawing();  // the drawing the command line serves
void SetActiveDrawing(CadDrawing* d);
void PromptChanged(CadDrawing* d);  // the command line shows the new prompt
void AddHistory(CadDrawing* d, const std::string& line);
void AppendToHistory(CadDrawing* d, const std::string& text);  // to the newest line
bool AcceleratorsOn();
const std::vector<std::pair<std::string, int>>& MenuItems(int menu);
void DestroyWindowOf(CadDrawing* d);    // CadView.cpp
void ToggleLayersOrder(CadDrawing* d);  // CadView.cpp
void CloseLayersOrderOf(CadDrawing* d);
void ZoomCommand(CadDrawing* d, QWidget* window, int command);  // CadView.cpp
// Shows the model rectangle in the drawing's window (zoom window), remembering the view.
void ZoomToRect(CadDrawing* d, QWidget* window, const Vec3& a, const Vec3& b);

// Engine commands, in CadDraw.cpp. kCmdZoom is the typed ZOOM with its options.
constexpr int kCmdZoom = 100;
// Whether the command interacts through picks and prompts (it then runs on top of a waiting input).
bool IsInteractiveCommand(int command);
// Whether the command changes the drawing (a read-only drawing refuses it).
bool IsEditingCommand(int command);
// Runs an interactive command to its end; false when there is no such command.
bool RunInteractiveCommand(CadDrawing* d, QWidget* window, int command);
// The engine command a typed name or alias starts, 0 when none.
int EngineCommandByName(const std::string& typed);
// Takes back the operator's last operation; false when there was none.
bool UndoLastOperation(CadDrawing* d);
void PushUndo(CadDrawing* d, UndoStep step);

// Dialogs, in CadDialogs.cpp: runs a dialog command modally; false when there is no such command.
bool RunDialogCommand(CadDrawing* d, QWidget* window, int command);

// Geometry shared by the model, the renderer and the commands (CadModel.cpp).
// Points of the elliptic arc of centre c, radii rx, ry, turned by rot, counter-clockwise from a0 to a1.
void ArcPoints(std::vector<Vec3>& out, const Vec3& c, double rx, double ry, double rot, double a0, double a1);
// A smooth curve through the points (closed: back to the first).
void AppendCatmullRom(std::vector<Vec3>& out, const std::vector<Vec3>& p, bool closed);
// A block's point p placed with the block's base point at `at`, scaled and turned (radians).
Vec3 PlaceBlockPoint(const Vec3& at, double scale, double angle, const Vec3& base, const Vec3& p);
// A block entity's point placed by a block reference.
Vec3 PlaceInBlockRef(const CadEntity* insert, const CadBlock* block, const Vec3& p);
// Whether a block entity shows in a reference: its own layer decides, except on layer "0", whose
// entities go with the reference.
bool BlockEntityShown(const CadEntity* e);
// Whether the entity's outline is a closed ring.
bool IsClosedOutline(const CadEntity* e);

// Dimensions (shape in CadDimension.h): the measured value as the drawing window writes it, and
// the shape of a dimension entity.
std::string DimLabel(int kind, double value, int decimals);
bool DimShapeOf(const CadEntity* e, DimShape& out);
std::vector<Vec3> ToModel(const std::vector<DimPoint>& path);
// Renders the drawing's vectors (and through the draw-image event its images) into a painter
// whose device is size pixels showing model centre (cx, cy) at scale pixels per model unit.
struct ViewXform {
    double cx = 0, cy = 0, scale = 1;
    int width = 1, height = 1;
    double X(double x) const { return (x - cx) * scale + width * 0.5; }
    double Y(double y) const { return height * 0.5 - (y - cy) * scale; }
    double MX(double px) const { return (px - width * 0.5) / scale + cx; }
    double MY(double py) const { return (height * 0.5 - py) / scale + cy; }
};
void RenderDrawing(CadDrawing* d, QPainter& p, const ViewXform& xf, bool images, bool background);

// File format, in CadFile.cpp.
// The entities of the drawing whose ids are left out are not written (those of blocks are).
bool WriteVec(CadDrawing* d, const QString& path, const std::unordered_set<int>& leftOut = {});
bool ReadVec(CadDrawing* target, const QString& path);
// Makes a drawing file's header and checksum fit its payload again (for tests that hand the
// reader damaged payloads rather than damaged checksums). False when the bytes are too few.
bool SealVec(QByteArray& file);

}  // namespace cad
