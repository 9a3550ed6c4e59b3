// Little-endian binary streams in the form of the program's archives (project files, colour
// classification files): fixed-width numbers, bytes for booleans and length-prefixed texts.
#pragma once

#include <QString>

#include <cstdint>

class QIODevice;

namespace kv {

// Writes to an open device. Every write failure is remembered; Ok() tells whether all succeeded.
class ArchiveWriter {
public:
    explicit ArchiveWriter(QIODevice* device) : m_device(device) {}

    void WriteInt32(int32_t value);
    void WriteUInt32(uint32_t value);
    void WriteUInt64(uint64_t value);
    void WriteByte(uint8_t value);
    void WriteBool(bool value) { WriteByte(value ? 1 : 0); }
    void WriteFloat(float value);
    void WriteDouble(double value);
    // The text as UTF-8 behind a byte-length prefix: one byte below 255, else 0xFF and a 16-bit
    // length below 0xFFFE, else 0xFF, 0xFFFF and a 32-bit length.
    void WriteString(const QString& text);

    bool Ok() const { return m_ok; }

private:
    void WriteRaw(const void* data, qint64 size);

    QIODevice* m_device;
    bool m_ok = true;
};

// Reads from an open device. A read past the end (or any device error) clears Ok() and yields
// zeros, so a caller checks once after a group of reads.
class ArchiveReader {
public:
    explicit ArchiveReader(QIODevice* device) : m_device(device) {}

    int32_t ReadInt32();
    uint32_t ReadUInt32();
    uint64_t ReadUInt64();
    uint8_t ReadByte();
    // Any non-zero byte is true.
    bool ReadBool() { return ReadByte() != 0; }
    float ReadFloat();
    double ReadDouble();
    // Texts written as UTF-8 read back as they were; bytes that are not valid UTF-8 are taken as
    // Windows-1252, the single-byte code page in which older files were written.
    QString ReadString();

    // Bytes left between the read position and the end of the device.
    qint64 Remaining() const;
    bool Ok() const { return m_ok; }
    // Marks the stream as damaged: a reader found a value that the file cannot hold.
    void Fail() { m_ok = false; }

private:
    bool ReadRaw(void* data, qint64 size);

    QIODevice* m_device;
    bool m_ok = true;
};

// Bytes in Windows-1252 (the program's former single-byte code page) as text.
QString DecodeWindows1252(const QByteArray& bytes);

}  // namespace kv
