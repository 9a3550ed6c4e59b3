#include "platform/las/XyzReader.h"

#include <QFile>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr size_t kBufferBytes = 1 << 20;

// Powers of ten that a double holds exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Plain decimals of at most 15 significant digits (nearly every coordinate file) are read
// directly: the digits are an exact integer and the power of ten is exact, so one division
// rounds the true value correctly, exactly as the general conversion would. Everything else
// goes to the general conversion.
bool ParseSimpleDecimal(const char* p, const char* end, double* value) {
    bool negative = false;
    if (p < end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    uint64_t digits = 0;
    int significant = 0;
    int fraction = 0;
    bool point = false;
    bool any = false;
    for (; p < end; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') {
            any = true;
            if (digits != 0 || c != '0') {
                if (++significant > 15) {
                    return false;
                }
            }
            digits = digits * 10 + uint64_t(c - '0');
            fraction += point;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (!any || fraction > 22) {
        return false;
    }
    double v = double(digits);
    if (fraction > 0) {
        v /= kExactPowers[fraction];
    }
    *value = negative ? -v : v;
    return true;
}

}  // namespace

bool ParseXyzNumber(const char* begin, const char* end, double* value) {
    if (begin >= end) {
        return false;
    }
    if (ParseSimpleDecimal(begin, end, value)) {
        return true;
    }
    const char* p = begin;
    if (*p == '+') {
        ++p;
        if (p < end && (*p == '-' || *p == '+')) {
            return false;
        }
    }
    double v = 0.0;
    const std::from_chars_result r = std::from_chars(p, end, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) {
        return false;
    }
    *value = v;
    return true;
}

std::unique_ptr<XYZreader> XYZreader::Open(const QString& path, QString* error) {
    std::unique_ptr<XYZreader> reader(new XYZreader);
    reader->m_file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!reader->m_file || fseeko(reader->m_file, 0, SEEK_END) != 0) {
        if (error) {
            *error = QString("cannot open %1").arg(path);
        }
        return nullptr;
    }
    const off_t size = ftello(reader->m_file);
    reader->m_size = size > 0 ? uint64_t(size) : 0;
    reader->m_buffer.resize(kBufferBytes);
    if (!reader->Rewind()) {
        if (error) {
            *error = QString("cannot read %1").arg(path);
        }
        return nullptr;
    }
    return reader;
}

XYZreader::~XYZreader() {
    Close();
}

void XYZreader::Close() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool XYZreader::Rewind() {
    m_read = 0;
    m_skipped = 0;
    m_pos = m_end = 0;
    m_bufferStart = 0;
    m_eof = false;
    m_skipRest = false;
    return m_file && fseeko(m_file, 0, SEEK_SET) == 0;
}

double XYZreader::Fraction() const {
    if (m_size == 0) {
        return 1.0;
    }
    return std::min(1.0, double(m_bufferStart + m_pos) / double(m_size));
}

bool XYZreader::Refill() {
    if (m_eof || !m_file) {
        return false;
    }
    // Keep the unread part of the buffer and read behind it.
    std::memmove(m_buffer.data(), m_buffer.data() + m_pos, m_end - m_pos);
    m_bufferStart += m_pos;
    m_end -= m_pos;
    m_pos = 0;
    const size_t got = std::fread(m_buffer.data() + m_end, 1, m_buffer.size() - m_end, m_file);
    m_end += got;
    if (got == 0) {
        m_eof = true;
        if (std::ferror(m_file)) {
            m_warning = QStringLiteral("the file could not be read to its end");
        }
        return false;
    }
    return true;
}

bool XYZreader::NextLine(const char** begin, const char** end, bool* complete) {
    for (;;) {
        const char* data = m_buffer.data();
        const void* newline = m_pos < m_end ? std::memchr(data + m_pos, '\n', m_end - m_pos) : nullptr;
        if (newline) {
            const size_t at = size_t(static_cast<const char*>(newline) - data);
            const bool wasRest = m_skipRest;
            *begin = data + m_pos;
            *end = data + at;
            *complete = true;
            m_pos = at + 1;
            m_skipRest = false;
            if (wasRest) {
                continue;
            }
            return true;
        }
        if (m_pos == 0 && m_end == m_buffer.size()) {
            // A line longer than the buffer: its beginning decides, the rest is passed over.
            const bool wasRest = m_skipRest;
            *begin = data;
            *end = data + m_end;
            *complete = false;
            m_pos = m_end;
            m_skipRest = true;
            if (wasRest) {
                continue;
            }
            return true;
        }
        if (!Refill()) {
            if (m_pos < m_end && !m_skipRest) {
                // The last line has no end.
                *begin = data + m_pos;
                *end = data + m_end;
                *complete = true;
                m_pos = m_end;
                return true;
            }
            m_pos = m_end;
            return false;
        }
    }
}

bool XYZreader::ReadPoint() {
    const char* line = nullptr;
    const char* end = nullptr;
    bool complete = true;
    while (NextLine(&line, &end, &complete)) {
        double v[3];
        const char* p = line;
        int found = 0;
        for (; found < 3; ++found) {
            while (p < end && IsBlank(*p)) {
                ++p;
            }
            const char* field = p;
            while (p < end && !IsBlank(*p)) {
                ++p;
            }
            // A field cut off by the end of the buffer is no number.
            if (field == p || (p == end && !complete) || !ParseXyzNumber(field, p, &v[found])) {
                break;
            }
        }
        if (found == 3) {
            x = v[0];
            y = v[1];
            z = v[2];
            ++m_read;
            return true;
        }
        const char* q = line;
        while (q < end && IsBlank(*q)) {
            ++q;
        }
        if (q < end) {
            ++m_skipped;
        }
    }
    return false;
}

size_t XYZreader::ReadCoordinates(double* xyz, size_t capacity) {
    size_t n = 0;
    for (; n < capacity && ReadPoint(); ++n) {
        xyz[3 * n] = x;
        xyz[3 * n + 1] = y;
        xyz[3 * n + 2] = z;
    }
    return n;
}
