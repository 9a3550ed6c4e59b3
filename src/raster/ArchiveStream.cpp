#include "raster/ArchiveStream.h"

#include <QByteArray>
#include <QIODevice>
#include <QStringDecoder>

#include <cstring>

namespace kv {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80 .. 0x9F; the five unassigned bytes map to the
// C1 control with the same value, as the code page's best-fit table does.
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

template <typename T>
T FromLittleEndian(const unsigned char* p) {
    std::make_unsigned_t<std::conditional_t<sizeof(T) == 8, int64_t, int32_t>> u = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        u |= static_cast<decltype(u)>(p[i]) << (8 * i);
    }
    T value;
    std::memcpy(&value, &u, sizeof(T));
    return value;
}

template <typename T>
void ToLittleEndian(T value, unsigned char* p) {
    std::make_unsigned_t<std::conditional_t<sizeof(T) == 8, int64_t, int32_t>> u = 0;
    std::memcpy(&u, &value, sizeof(T));
    for (size_t i = 0; i < sizeof(T); ++i) {
        p[i] = static_cast<unsigned char>(u >> (8 * i));
    }
}

}  // namespace

QString DecodeWindows1252(const QByteArray& bytes) {
    QString text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        auto b = static_cast<unsigned char>(c);
        text.append(b >= 0x80 && b < 0xA0 ? QChar(kCp1252High[b - 0x80]) : QChar(b));
    }
    return text;
}

void ArchiveWriter::WriteRaw(const void* data, qint64 size) {
    if (!m_ok) {
        return;
    }
    if (!m_device || m_device->write(static_cast<const char*>(data), size) != size) {
        m_ok = false;
    }
}

void ArchiveWriter::WriteInt32(int32_t value) {
    unsigned char b[4];
    ToLittleEndian(value, b);
    WriteRaw(b, 4);
}

void ArchiveWriter::WriteUInt32(uint32_t value) {
    WriteInt32(static_cast<int32_t>(value));
}

void ArchiveWriter::WriteUInt64(uint64_t value) {
    unsigned char b[8];
    ToLittleEndian(value, b);
    WriteRaw(b, 8);
}

void ArchiveWriter::WriteByte(uint8_t value) {
    WriteRaw(&value, 1);
}

void ArchiveWriter::WriteFloat(float value) {
    unsigned char b[4];
    ToLittleEndian(value, b);
    WriteRaw(b, 4);
}

void ArchiveWriter::WriteDouble(double value) {
    unsigned char b[8];
    ToLittleEndian(value, b);
    WriteRaw(b, 8);
}

void ArchiveWriter::WriteString(const QString& text) {
    QByteArray bytes = text.toUtf8();
    auto length = static_cast<uint32_t>(bytes.size());
    if (length < 0xFF) {
        WriteByte(static_cast<uint8_t>(length));
    } else if (length < 0xFFFE) {
        unsigned char b[3] = {0xFF, static_cast<unsigned char>(length & 0xFF),
                              static_cast<unsigned char>(length >> 8)};
        WriteRaw(b, 3);
    } else {
        unsigned char b[3] = {0xFF, 0xFF, 0xFF};
        WriteRaw(b, 3);
        WriteUInt32(length);
    }
    WriteRaw(bytes.constData(), bytes.size());
}

bool ArchiveReader::ReadRaw(void* data, qint64 size) {
    if (m_ok && m_device && m_device->read(static_cast<char*>(data), size) == size) {
        return true;
    }
    m_ok = false;
    std::memset(data, 0, static_cast<size_t>(size));
    return false;
}

qint64 ArchiveReader::Remaining() const {
    if (!m_device) {
        return 0;
    }
    return m_device->isSequential() ? m_device->bytesAvailable() : m_device->size() - m_device->pos();
}

int32_t ArchiveReader::ReadInt32() {
    unsigned char b[4];
    ReadRaw(b, 4);
    return FromLittleEndian<int32_t>(b);
}

uint32_t ArchiveReader::ReadUInt32() {
    return static_cast<uint32_t>(ReadInt32());
}

uint64_t ArchiveReader::ReadUInt64() {
    unsigned char b[8];
    ReadRaw(b, 8);
    return FromLittleEndian<uint64_t>(b);
}

uint8_t ArchiveReader::ReadByte() {
    uint8_t b = 0;
    ReadRaw(&b, 1);
    return b;
}

float ArchiveReader::ReadFloat() {
    unsigned char b[4];
    ReadRaw(b, 4);
    return FromLittleEndian<float>(b);
}

double ArchiveReader::ReadDouble() {
    unsigned char b[8];
    ReadRaw(b, 8);
    return FromLittleEndian<double>(b);
}

QString ArchiveReader::ReadString() {
    uint32_t length = ReadByte();
    if (length == 0xFF) {
        unsigned char b[2];
        ReadRaw(b, 2);
        length = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8);
        if (length == 0xFFFF) {
            length = ReadUInt32();
        } else if (length == 0xFFFE) {
            // The marker of a UTF-16 text, which this program never writes.
            m_ok = false;
        }
    }
    if (!m_ok || static_cast<qint64>(length) > Remaining()) {
        m_ok = false;
        return QString();
    }
    QByteArray bytes(static_cast<qsizetype>(length), Qt::Uninitialized);
    if (length > 0 && !ReadRaw(bytes.data(), length)) {
        return QString();
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        return DecodeWindows1252(bytes);
    }
    return text;
}

}  // namespace kv
