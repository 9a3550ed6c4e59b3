// Douglas-Peucker simplification of polylines, sped up by path hulls: the convex hulls of the two
// halves of the span being split, kept as double-ended queues whose history lets a hull be rolled
// back to an earlier state, so that each split costs logarithmic time in the span instead of a scan.
// SimplifyContourShapefile rewrites a shapefile of lines with every line simplified. The hulls are
// exact for lines that do not cross themselves, as contour lines never do; a line that does still
// keeps its ends and a subset of its vertices in order.
#pragma once

#include <QString>

#include <vector>

// The convex hull of a path that grows one vertex at a time from a tag vertex outward. The queue
// is filled from the middle index in both directions; its bottom and top entries are always the
// last vertex added, and bottom to top runs clockwise round the hull. Vertices are indices into the
// caller's vertex array.
class CPathHull {
public:
    virtual ~CPathHull() = default;

    // Makes room for hulls of up to n - 1 added vertices (the arrays are reused between hulls).
    void Init(int n);
    // Starts the hull with the tag and the vertex next to it.
    void Start(const double* xy, int tag, int second);
    // Adds the next vertex of the path.
    void Add(const double* xy, int p);
    // Undoes the history back to the moment vertex p was pushed.
    void RollBackTo(int p);
    // The hull vertex farthest from the line through a and b (largest |cross|), and that distance
    // times the chord length; -1 when the hull is empty.
    int Farthest(const double* xy, int a, int b, double* distance) const;

    int m_n = 0;
    int m_top = 0;
    int m_bot = 0;
    int m_hp = 0;
    // Per history entry: 0 pushed on both ends, 1 popped from the top, 2 popped from the bottom.
    std::vector<int> m_op;
    std::vector<int> m_elt;
    std::vector<int> m_helt;

private:
    void Push(int p);
    void PopTop();
    void PopBot();
};

// Douglas-Peucker over one vertex array with path hulls. The tolerance is a squared distance: a
// vertex is kept when the square of its distance from the chord's line exceeds it.
class CDPHull {
public:
    // xy holds count vertices as x, y pairs and stays the caller's.
    CDPHull(const double* xy, int count, double tolerance);
    virtual ~CDPHull() = default;

    // Builds the two path hulls of the span from vertex i to vertex j around its middle vertex.
    void BuildHull(int i, int j);
    // Appends to the kept list the interior vertices of the span from i to j that are kept, in
    // order, and answers j. The caller puts i into the kept list before and j after.
    int Simplify(int i, int j);

    int m_count;
    const double* m_xy;
    std::vector<int> m_kept;
    CPathHull m_right;  // the vertices from the tag on
    CPathHull m_left;   // the vertices up to the tag
    int m_tag = 0;
    double m_tolerance;

private:
    // The vertex of the span's interior farthest from its chord (its measure in *distance); -1 when
    // it has none.
    int FindSplit(int i, int j, bool* leftHull, double* distance) const;
    bool FarEnough(int i, int j, double distance) const;
};

// The vertices of one line (x, y pairs) that survive simplification with the squared-distance
// tolerance, as indices: the first, the kept interior vertices in order and the last.
std::vector<int> SimplifyLine(const double* xy, int count, double tolerance);

// Rewrites the lines of the source shapefile into the target shapefile with every line simplified
// (lines of up to 4 vertices copied): same layer name, spatial reference and geometry type, no
// attribute fields, every vertex with the Z of the line's first vertex, closed lines closed again.
// The new files are written under a temporary name beside the target and replace its files as one
// set once complete (PlaceShapefile). 1 on success; 0 leaves the target's files as they were (no
// ".shp" when there was none).
int SimplifyContourShapefile(const QString& source, const QString& target, double tolerance);
