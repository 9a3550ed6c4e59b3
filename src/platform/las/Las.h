// LAS point files: a reader and a writer of uncompressed LAS 1.0 to 1.4 with the point formats 0
// to 10. Compressed point data (LAZ) is refused with a clear error. The reader never trusts the
// header: records, counts and offsets are checked against the file's size, so a damaged file
// reads what it really holds and says what is missing.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// A variable-length record (or, in LAS 1.4, an extended one after the points).
struct LASvlr {
    std::string userId;  // at most 16 characters
    uint16_t recordId = 0;
    std::string description;  // at most 32 characters
    std::vector<uint8_t> data;
};

struct LASheader {
    uint8_t versionMajor = 1;
    uint8_t versionMinor = 2;
    uint16_t fileSourceId = 0;
    uint16_t globalEncoding = 0;
    std::array<uint8_t, 16> projectId{};
    std::string systemIdentifier;    // at most 32 characters
    std::string generatingSoftware;  // at most 32 characters
    uint16_t creationDay = 0;
    uint16_t creationYear = 0;
    uint16_t headerSize = 0;         // as read; the writer sets it from the version
    uint32_t offsetToPointData = 0;  // as read; the writer sets it from the records
    uint8_t pointDataFormat = 0;
    uint16_t pointDataRecordLength = 0;  // at least the format's size; the rest is extra bytes
    // The number of points the header announces: the 64-bit count of LAS 1.4 when it is set,
    // otherwise the legacy 32-bit count.
    uint64_t numberOfPointRecords = 0;
    std::array<uint64_t, 15> numberOfPointsByReturn{};
    double xScaleFactor = 0.01, yScaleFactor = 0.01, zScaleFactor = 0.01;
    double xOffset = 0, yOffset = 0, zOffset = 0;
    double maxX = 0, minX = 0, maxY = 0, minY = 0, maxZ = 0, minZ = 0;
    std::vector<LASvlr> vlrs;
    std::vector<LASvlr> evlrs;  // LAS 1.4 only

    // Bytes of a point record of the format without extra bytes; 0 for an unknown format.
    static int PointSize(int format);
    int ExtraBytes() const;
    void AddVlr(const std::string& userId, uint16_t recordId, const std::vector<uint8_t>& data,
                const std::string& description = std::string());
};

struct LASpoint {
    int32_t X = 0, Y = 0, Z = 0;
    uint16_t intensity = 0;
    uint8_t returnNumber = 1;     // 3 bits in formats 0-5, 4 bits in formats 6-10
    uint8_t numberOfReturns = 1;  // likewise
    uint8_t scanDirectionFlag = 0;
    uint8_t edgeOfFlightLine = 0;
    uint8_t classification = 0;  // 0-31 in formats 0-5, 0-255 in formats 6-10
    // Bit 0 synthetic, bit 1 key-point, bit 2 withheld, bit 3 overlap (formats 6-10 only).
    uint8_t classificationFlags = 0;
    uint8_t scannerChannel = 0;  // formats 6-10
    uint8_t userData = 0;
    // As stored: whole degrees in formats 0-5, steps of 0.006 degrees in formats 6-10.
    int16_t scanAngle = 0;
    uint16_t pointSourceId = 0;
    double gpsTime = 0;
    std::array<uint16_t, 4> rgb{};         // red, green, blue, near infrared
    std::array<uint8_t, 29> wavePacket{};  // formats 4, 5, 9, 10: the packet fields as stored
    std::vector<uint8_t> extraBytes;       // what the record holds past the format's fields
};

// Reads the points of one file, one after the other. Made by LASreadOpener.
class LASreader {
public:
    ~LASreader();
    LASreader(const LASreader&) = delete;
    LASreader& operator=(const LASreader&) = delete;

    LASheader header;
    LASpoint point;  // the point the last ReadPoint gave

    // Moves to the next point; false when there is none left (or the file cannot be read further).
    bool ReadPoint();
    // Reads the coordinates of up to capacity next points into xyz (x, y, z of each point in
    // turn, as GetX, GetY and GetZ give them) without decoding their other fields; answers how
    // many were read, 0 at the end. The current point is left as it was.
    size_t ReadCoordinates(double* xyz, size_t capacity);
    // Coordinates of the current point: the integer value times the scale factor plus the offset.
    double GetX() const { return point.X * header.xScaleFactor + header.xOffset; }
    double GetY() const { return point.Y * header.yScaleFactor + header.yOffset; }
    double GetZ() const { return point.Z * header.zScaleFactor + header.zOffset; }

    // Points the file really holds (at most what the header announces).
    uint64_t PointCount() const { return m_available; }
    uint64_t PointsRead() const { return m_read; }
    // Points the header announces but the file does not hold.
    uint64_t Shortfall() const { return header.numberOfPointRecords - m_available; }
    // What was found wrong with the file but read around (empty when nothing).
    const QString& Warning() const { return m_warning; }
    // Starts again at the first point.
    bool Rewind();
    void Close();

private:
    friend class LASreadOpener;
    LASreader() = default;
    // The next point record in the read buffer, or null at the end.
    const uint8_t* NextRecord();

    std::FILE* m_file = nullptr;
    uint64_t m_available = 0;
    uint64_t m_read = 0;
    std::vector<uint8_t> m_buffer;
    size_t m_bufferPos = 0;
    size_t m_bufferEnd = 0;
    QString m_warning;
};

class LASreadOpener {
public:
    void SetFileName(const QString& path) { m_path = path; }
    // The reader of the file, or null with the reason in error.
    std::unique_ptr<LASreader> Open(QString* error = nullptr) const;

private:
    QString m_path;
};

// Writes a LAS file: the header at opening, the points one by one, the counts and bounds when
// closed. The file is written under a temporary name and takes its own name only once closed
// successfully, so an interrupted run never leaves a half-written file under that name.
class LASwriterLAS {
public:
    ~LASwriterLAS();
    LASwriterLAS(const LASwriterLAS&) = delete;
    LASwriterLAS& operator=(const LASwriterLAS&) = delete;

    bool WritePoint(const LASpoint& point);
    uint64_t PointsWritten() const { return m_count; }
    // Writes the point count, the counts by return and the bounds of the points written.
    bool UpdateHeader();
    // Updates the header, closes the file and gives it its name. False when anything failed.
    bool Close();
    const QString& Error() const { return m_error; }

private:
    friend class LASwriteOpener;
    LASwriterLAS() = default;
    bool Flush();
    bool Fail(const QString& text);

    LASheader m_header;
    QString m_path;
    QString m_tempPath;
    std::FILE* m_file = nullptr;
    uint64_t m_count = 0;
    std::array<uint64_t, 15> m_byReturn{};
    std::array<int32_t, 6> m_bounds{};  // min X, max X, min Y, max Y, min Z, max Z (integers)
    std::vector<uint8_t> m_buffer;
    QString m_error;
    bool m_failed = false;
};

// The coordinate system the header's projection records hold, as WKT: the OGC WKT record or the
// GeoTIFF keys (read as GDAL reads a GeoTIFF's), the one the header's WKT bit names first. Empty
// when the file holds none that can be read.
QString LasCoordinateSystem(const LASheader& header);

class LASwriteOpener {
public:
    void SetFileName(const QString& path) { m_path = path; }
    // A writer of the header's version, point format, scales, offsets and records, or null with
    // the reason in error.
    std::unique_ptr<LASwriterLAS> Open(const LASheader& header, QString* error = nullptr) const;

private:
    QString m_path;
};
