// A point file of either kind, a LAS file or an ASCII x y z file, read as plain x, y, z
// coordinates, batch by batch and as often as needed. Points whose coordinates are not finite
// are passed over and counted.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

class LASreader;
class XYZreader;

class PointFileReader {
public:
    enum class Kind { Las, Ascii };

    ~PointFileReader();
    PointFileReader(const PointFileReader&) = delete;
    PointFileReader& operator=(const PointFileReader&) = delete;

    // The kind the path's extension names, ".las" or ".xyz" in any case; false for another.
    static bool KindOf(const QString& path, Kind* kind);
    // The reader of the file, or null with the reader's reason in error.
    static std::unique_ptr<PointFileReader> Open(const QString& path, Kind kind, QString* error = nullptr);

    Kind GetKind() const { return m_kind; }
    // Reads up to capacity next points into xyz (x, y, z of each point in turn); answers how many
    // were read, 0 at the end.
    size_t Read(double* xyz, size_t capacity);
    // Starts again at the first point.
    bool Rewind();
    // The share of the file read so far, 0 to 1.
    double Fraction() const;
    // The coordinate system a LAS file holds, as WKT; empty for an ASCII file and a LAS file
    // without one.
    QString CoordinateSystem() const;
    // What was found wrong with the file but read around, in words (empty when nothing): the
    // LAS reader's findings, lines that held no point, points that were not finite.
    QString Warning() const;

private:
    PointFileReader() = default;

    Kind m_kind = Kind::Las;
    std::unique_ptr<LASreader> m_las;
    std::unique_ptr<XYZreader> m_xyz;
    uint64_t m_notFinite = 0;
};
