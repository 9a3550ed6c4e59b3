// ASCII point files: one point a line, its x, y and z the first three numbers of the line,
// separated by spaces or tabs; further columns are ignored. Numbers are read in the C locale
// whatever locale the process runs in. A line that does not begin with three finite numbers is
// skipped and counted; blank lines are passed over. Lines of any length are read: a line longer
// than the read buffer is judged by its beginning.
#pragma once

#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

class XYZreader {
public:
    ~XYZreader();
    XYZreader(const XYZreader&) = delete;
    XYZreader& operator=(const XYZreader&) = delete;

    // The reader of the file, or null with the reason in error.
    static std::unique_ptr<XYZreader> Open(const QString& path, QString* error = nullptr);

    // Moves to the next point; false at the end of the file (or when it cannot be read further).
    bool ReadPoint();
    // Reads up to capacity next points into xyz (x, y, z of each point in turn); answers how many
    // were read, 0 at the end.
    size_t ReadCoordinates(double* xyz, size_t capacity);
    // The point the last ReadPoint gave.
    double x = 0.0, y = 0.0, z = 0.0;

    uint64_t PointsRead() const { return m_read; }
    // Lines since the start that held something other than three numbers at their beginning.
    uint64_t SkippedLines() const { return m_skipped; }
    // The share of the file's bytes read so far, 0 to 1.
    double Fraction() const;
    // What went wrong reading the file (empty when nothing).
    const QString& Warning() const { return m_warning; }
    // Starts again at the first line.
    bool Rewind();
    void Close();

private:
    XYZreader() = default;
    // The next line without its end, or false at the end of the file. complete is false for the
    // beginning of a line longer than the buffer.
    bool NextLine(const char** begin, const char** end, bool* complete);
    bool Refill();

    std::FILE* m_file = nullptr;
    uint64_t m_size = 0;
    uint64_t m_bufferStart = 0;  // file offset of m_buffer[0]
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_eof = false;
    bool m_skipRest = false;  // the rest of an overlong line is still to be passed over
    uint64_t m_read = 0;
    uint64_t m_skipped = 0;
    QString m_warning;
};

// Reads a whole text field as a number in the C locale: an optional sign, digits with an
// optional decimal point, an optional exponent. False for anything else, and for values that
// are not finite.
bool ParseXyzNumber(const char* begin, const char* end, double* value);
