#include <QFile>
#include <algorithm>
#include <cmath>

#include "platform/las/LasRecord.h"

using namespace lasrecord;

namespace {

constexpr size_t kReadBytes = 1 << 20;

bool ReadAt(std::FILE* f, uint64_t pos, void* buffer, size_t size) {
    return fseeko(f, off_t(pos), SEEK_SET) == 0 && std::fread(buffer, 1, size, f) == size;
}

bool Usable(double scale) {
    return std::isfinite(scale) && scale != 0.0;
}

// Walks the records from pos while they fit before end; the count is the header's claim, never
// trusted further than the bytes that are there.
QString ReadRecords(std::FILE* f, uint64_t pos, uint64_t end, uint64_t count, bool extended,
                    std::vector<LASvlr>* out) {
    const int headerSize = extended ? kEvlrHeaderSize : kVlrHeaderSize;
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t h[kEvlrHeaderSize];
        if (pos + headerSize > end || !ReadAt(f, pos, h, size_t(headerSize))) {
            return QString("the header announces %1 %2 but only %3 are in the file")
                .arg(count)
                .arg(extended ? "extended records" : "variable-length records")
                .arg(i);
        }
        uint64_t length = extended ? Get<uint64_t>(h + 20) : Get<uint16_t>(h + 20);
        const uint8_t* descr = h + (extended ? 28 : 22);
        if (length > end - pos - uint64_t(headerSize)) {
            return QString("record %1 (\"%2\") runs past its space in the file")
                .arg(i)
                .arg(QString::fromStdString(GetText(h + 2, 16)));
        }
        LASvlr vlr{GetText(h + 2, 16), Get<uint16_t>(h + 18), GetText(descr, 32), {}};
        vlr.data.resize(size_t(length));
        if (length > 0 && !ReadAt(f, pos + headerSize, vlr.data.data(), size_t(length))) {
            return QString("record %1 cannot be read").arg(i);
        }
        out->push_back(std::move(vlr));
        pos += headerSize + length;
    }
    return QString();
}

}  // namespace

std::unique_ptr<LASreader> LASreadOpener::Open(QString* error) const {
    auto fail = [error](const QString& text) {
        if (error) {
            *error = text;
        }
        return std::unique_ptr<LASreader>();
    };
    std::unique_ptr<LASreader> reader(new LASreader);
    reader->m_file = std::fopen(QFile::encodeName(m_path).constData(), "rb");
    std::FILE* f = reader->m_file;
    if (!f) {
        return fail(QString("cannot open %1").arg(m_path));
    }
    if (fseeko(f, 0, SEEK_END) != 0) {
        return fail("cannot read the file");
    }
    const uint64_t fileSize = uint64_t(ftello(f));
    uint8_t h[kHeaderSize14] = {};
    const size_t got = size_t(std::min<uint64_t>(fileSize, kHeaderSize14));
    if (got < size_t(kHeaderSize10) || !ReadAt(f, 0, h, got) || std::memcmp(h, "LASF", 4) != 0) {
        return fail("not a LAS file");
    }
    LASheader& hd = reader->header;
    hd.fileSourceId = Get<uint16_t>(h + 4);
    hd.globalEncoding = Get<uint16_t>(h + 6);
    std::memcpy(hd.projectId.data(), h + 8, 16);
    hd.versionMajor = h[24];
    hd.versionMinor = h[25];
    if (hd.versionMajor != 1 || hd.versionMinor > 4) {
        return fail(QString("LAS version %1.%2 is not supported").arg(hd.versionMajor).arg(hd.versionMinor));
    }
    hd.systemIdentifier = GetText(h + 26, 32);
    hd.generatingSoftware = GetText(h + 58, 32);
    hd.creationDay = Get<uint16_t>(h + 90);
    hd.creationYear = Get<uint16_t>(h + 92);
    hd.headerSize = Get<uint16_t>(h + 94);
    hd.offsetToPointData = Get<uint32_t>(h + 96);
    const uint32_t vlrCount = Get<uint32_t>(h + 100);
    const uint8_t formatByte = h[104];
    hd.pointDataRecordLength = Get<uint16_t>(h + 105);
    const uint32_t legacyCount = Get<uint32_t>(h + 107);
    double* doubles[12] = {&hd.xScaleFactor, &hd.yScaleFactor, &hd.zScaleFactor, &hd.xOffset,
                           &hd.yOffset,      &hd.zOffset,      &hd.maxX,         &hd.minX,
                           &hd.maxY,         &hd.minY,         &hd.maxZ,         &hd.minZ};
    for (int i = 0; i < 12; ++i) {
        *doubles[i] = Get<double>(h + 131 + 8 * i);
    }
    if (formatByte & 0xC0) {
        return fail("the file holds compressed (LAZ) points, which cannot be read");
    }
    hd.pointDataFormat = formatByte;
    if (LASheader::PointSize(formatByte) == 0) {
        return fail(QString("point format %1 is not supported").arg(formatByte));
    }
    if (hd.pointDataRecordLength < LASheader::PointSize(formatByte)) {
        return fail(QString("a point record of %1 bytes is too short for point format %2")
                        .arg(hd.pointDataRecordLength)
                        .arg(formatByte));
    }
    if (hd.headerSize < kHeaderSize10 || hd.headerSize > fileSize || hd.offsetToPointData < hd.headerSize) {
        return fail("the header's size or the start of the points is invalid");
    }
    if (!Usable(hd.xScaleFactor) || !Usable(hd.yScaleFactor) || !Usable(hd.zScaleFactor) ||
        !std::isfinite(hd.xOffset) || !std::isfinite(hd.yOffset) || !std::isfinite(hd.zOffset)) {
        return fail("the header's scale factors or offsets are invalid");
    }

    // Point counts: the 64-bit fields of LAS 1.4 win over the legacy ones when they are set.
    hd.numberOfPointRecords = legacyCount;
    for (int i = 0; i < 5; ++i) {
        hd.numberOfPointsByReturn[i] = Get<uint32_t>(h + 111 + 4 * i);
    }
    uint64_t pointEnd = fileSize;
    const bool has13 = hd.versionMinor >= 3 && hd.headerSize >= kHeaderSize13;
    const bool has14 = hd.versionMinor >= 4 && hd.headerSize >= kHeaderSize14;
    if (has13 && (hd.globalEncoding & 2)) {
        uint64_t waveStart = Get<uint64_t>(h + 227);
        if (waveStart >= hd.offsetToPointData && waveStart < pointEnd) {
            pointEnd = waveStart;
        }
    }
    uint64_t evlrStart = 0;
    uint32_t evlrCount = 0;
    if (has14) {
        evlrStart = Get<uint64_t>(h + 235);
        evlrCount = Get<uint32_t>(h + 243);
        uint64_t count = Get<uint64_t>(h + 247);
        if (count != 0) {
            hd.numberOfPointRecords = count;
            for (int i = 0; i < 15; ++i) {
                hd.numberOfPointsByReturn[i] = Get<uint64_t>(h + 255 + 8 * i);
            }
        }
        if (evlrCount > 0 && evlrStart >= hd.offsetToPointData && evlrStart < pointEnd) {
            pointEnd = evlrStart;
        }
    }

    QStringList warnings;
    QString w = ReadRecords(f, hd.headerSize, std::min<uint64_t>(hd.offsetToPointData, fileSize), vlrCount,
                            false, &hd.vlrs);
    if (!w.isEmpty()) {
        warnings << w;
    }
    if (evlrCount > 0) {
        w = ReadRecords(f, evlrStart, fileSize, evlrCount, true, &hd.evlrs);
        if (!w.isEmpty()) {
            warnings << w;
        }
    }
    for (const std::vector<LASvlr>* list : {&hd.vlrs, &hd.evlrs}) {
        for (const LASvlr& vlr : *list) {
            if (vlr.userId == "laszip encoded") {
                return fail("the file holds compressed (LAZ) points, which cannot be read");
            }
        }
    }

    uint64_t available = 0;
    if (hd.offsetToPointData <= pointEnd) {
        available = (pointEnd - hd.offsetToPointData) / hd.pointDataRecordLength;
    }
    reader->m_available = std::min(available, hd.numberOfPointRecords);
    if (reader->m_available < hd.numberOfPointRecords) {
        warnings << QString("the file holds %1 of the %2 points its header announces")
                        .arg(reader->m_available)
                        .arg(hd.numberOfPointRecords);
    }
    reader->m_warning = warnings.join("; ");
    if (!reader->Rewind()) {
        return fail("cannot read the file");
    }
    return reader;
}

LASreader::~LASreader() {
    Close();
}

void LASreader::Close() {
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
}

bool LASreader::Rewind() {
    m_read = 0;
    m_bufferPos = m_bufferEnd = 0;
    return m_file && fseeko(m_file, off_t(header.offsetToPointData), SEEK_SET) == 0;
}

const uint8_t* LASreader::NextRecord() {
    if (!m_file || m_read >= m_available) {
        return nullptr;
    }
    const size_t length = header.pointDataRecordLength;
    if (m_bufferPos >= m_bufferEnd) {
        size_t records =
            size_t(std::min<uint64_t>(std::max<size_t>(1, kReadBytes / length), m_available - m_read));
        m_buffer.resize(records * length);
        size_t got = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
        if (got < length) {
            // The file shrank under us: what was announced as there is not.
            m_available = m_read;
            m_warning += QString(m_warning.isEmpty() ? "" : "; ") + "the file ended early";
            return nullptr;
        }
        m_bufferPos = 0;
        m_bufferEnd = got - got % length;
    }
    const uint8_t* record = m_buffer.data() + m_bufferPos;
    m_bufferPos += length;
    ++m_read;
    return record;
}

bool LASreader::ReadPoint() {
    const uint8_t* record = NextRecord();
    if (!record) {
        return false;
    }
    DecodePoint(record, header, &point);
    return true;
}

size_t LASreader::ReadCoordinates(double* xyz, size_t capacity) {
    size_t n = 0;
    for (; n < capacity; ++n) {
        const uint8_t* record = NextRecord();
        if (!record) {
            break;
        }
        xyz[3 * n] = Get<int32_t>(record) * header.xScaleFactor + header.xOffset;
        xyz[3 * n + 1] = Get<int32_t>(record + 4) * header.yScaleFactor + header.yOffset;
        xyz[3 * n + 2] = Get<int32_t>(record + 8) * header.zScaleFactor + header.zOffset;
    }
    return n;
}
