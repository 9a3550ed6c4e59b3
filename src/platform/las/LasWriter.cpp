#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/las/LasRecord.h"
#include "platform/tools/SafeFile.h"

using namespace lasrecord;

namespace {

constexpr size_t kFlushBytes = 1 << 20;

bool Usable(double scale) {
    return std::isfinite(scale) && scale != 0.0;
}

// The lowest minor version that can hold the point format.
int MinorVersionFor(int format) {
    return format >= 6 ? 4 : format >= 4 ? 3 : format >= 2 ? 2 : 0;
}

std::vector<uint8_t> RecordHeader(const LASvlr& vlr, bool extended) {
    std::vector<uint8_t> h(extended ? kEvlrHeaderSize : kVlrHeaderSize, 0);
    PutText(h.data() + 2, 16, vlr.userId);
    Put<uint16_t>(h.data() + 18, vlr.recordId);
    if (extended) {
        Put<uint64_t>(h.data() + 20, vlr.data.size());
        PutText(h.data() + 28, 32, vlr.description);
    } else {
        Put<uint16_t>(h.data() + 20, uint16_t(vlr.data.size()));
        PutText(h.data() + 22, 32, vlr.description);
    }
    return h;
}

// Notes the system's reason of a failed file call with the write layer (kv::WriteFailure).
bool NoteFailure() {
    kv::NoteWriteFailure(QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool WriteAll(std::FILE* f, const void* data, size_t size) {
    return size == 0 || std::fwrite(data, 1, size, f) == size || NoteFailure();
}

}  // namespace

std::unique_ptr<LASwriterLAS> LASwriteOpener::Open(const LASheader& header, QString* error) const {
    auto fail = [error](const QString& text) {
        if (error) {
            *error = text;
        }
        return std::unique_ptr<LASwriterLAS>();
    };
    const int format = header.pointDataFormat;
    if (LASheader::PointSize(format) == 0) {
        return fail(QString("point format %1 is not supported").arg(format));
    }
    if (header.versionMajor != 1 || header.versionMinor > 4) {
        return fail(
            QString("LAS version %1.%2 is not supported").arg(header.versionMajor).arg(header.versionMinor));
    }
    if (!Usable(header.xScaleFactor) || !Usable(header.yScaleFactor) || !Usable(header.zScaleFactor)) {
        return fail("the scale factors are invalid");
    }
    std::unique_ptr<LASwriterLAS> writer(new LASwriterLAS);
    LASheader& hd = writer->m_header;
    hd = header;
    hd.versionMinor = uint8_t(std::max<int>(hd.versionMinor, MinorVersionFor(format)));
    if (!hd.evlrs.empty() && hd.versionMinor < 4) {
        return fail("extended records need LAS 1.4");
    }
    hd.pointDataRecordLength =
        std::max<uint16_t>(hd.pointDataRecordLength, uint16_t(LASheader::PointSize(format)));
    hd.headerSize = uint16_t(hd.versionMinor >= 4   ? kHeaderSize14
                             : hd.versionMinor == 3 ? kHeaderSize13
                                                    : kHeaderSize10);
    hd.globalEncoding &= uint16_t(~2u);  // waveform data are not carried over
    uint64_t offset = hd.headerSize;
    for (const LASvlr& vlr : hd.vlrs) {
        if (vlr.data.size() > std::numeric_limits<uint16_t>::max()) {
            return fail("a variable-length record is larger than 65535 bytes");
        }
        offset += kVlrHeaderSize + vlr.data.size();
    }
    if (offset > std::numeric_limits<uint32_t>::max()) {
        return fail("the variable-length records are too large");
    }
    hd.offsetToPointData = uint32_t(offset);

    writer->m_path = m_path;
    writer->m_tempPath = kv::TemporaryPathFor(m_path);
    writer->m_file = std::fopen(QFile::encodeName(writer->m_tempPath).constData(), "wb");
    if (!writer->m_file) {
        NoteFailure();
        return fail(QString("cannot create %1").arg(m_path));
    }
    // The header is written again with the counts and bounds once the points are in.
    if (!writer->UpdateHeader()) {
        return fail(writer->m_error);
    }
    for (const LASvlr& vlr : hd.vlrs) {
        std::vector<uint8_t> h = RecordHeader(vlr, false);
        if (!WriteAll(writer->m_file, h.data(), h.size()) ||
            !WriteAll(writer->m_file, vlr.data.data(), vlr.data.size())) {
            return fail(QString("cannot write %1").arg(m_path));
        }
    }
    return writer;
}

LASwriterLAS::~LASwriterLAS() {
    if (m_file) {
        std::fclose(m_file);
        QFile::remove(m_tempPath);
    }
}

bool LASwriterLAS::Fail(const QString& text) {
    if (!m_failed) {
        m_error = text;
    }
    m_failed = true;
    return false;
}

bool LASwriterLAS::WritePoint(const LASpoint& point) {
    if (!m_file || m_failed) {
        return false;
    }
    const size_t length = m_header.pointDataRecordLength;
    const size_t at = m_buffer.size();
    m_buffer.resize(at + length);
    EncodePoint(point, m_header, m_buffer.data() + at);
    if (m_count == 0) {
        m_bounds = {point.X, point.X, point.Y, point.Y, point.Z, point.Z};
    } else {
        m_bounds[0] = std::min(m_bounds[0], point.X);
        m_bounds[1] = std::max(m_bounds[1], point.X);
        m_bounds[2] = std::min(m_bounds[2], point.Y);
        m_bounds[3] = std::max(m_bounds[3], point.Y);
        m_bounds[4] = std::min(m_bounds[4], point.Z);
        m_bounds[5] = std::max(m_bounds[5], point.Z);
    }
    const int maxReturn = m_header.pointDataFormat >= 6 ? 15 : 7;
    int r = point.returnNumber & maxReturn;
    if (r >= 1 && r <= 15) {
        ++m_byReturn[r - 1];
    }
    ++m_count;
    return m_buffer.size() < kFlushBytes || Flush();
}

bool LASwriterLAS::Flush() {
    if (m_buffer.empty()) {
        return true;
    }
    const uint64_t at =
        m_header.offsetToPointData + (m_count * m_header.pointDataRecordLength - m_buffer.size());
    if (fseeko(m_file, off_t(at), SEEK_SET) != 0 || !WriteAll(m_file, m_buffer.data(), m_buffer.size())) {
        return Fail(QString("cannot write %1").arg(m_path));
    }
    m_buffer.clear();
    return true;
}

bool LASwriterLAS::UpdateHeader() {
    if (!m_file || m_failed || !Flush()) {
        return false;
    }
    const LASheader& hd = m_header;
    const bool v14 = hd.versionMinor >= 4;
    const bool legacyFits = m_count <= std::numeric_limits<uint32_t>::max();
    if (!v14 && !legacyFits) {
        return Fail("more points than LAS before version 1.4 can count");
    }
    uint8_t h[kHeaderSize14] = {};
    std::memcpy(h, "LASF", 4);
    Put<uint16_t>(h + 4, hd.fileSourceId);
    Put<uint16_t>(h + 6, hd.globalEncoding);
    std::memcpy(h + 8, hd.projectId.data(), 16);
    h[24] = hd.versionMajor;
    h[25] = hd.versionMinor;
    PutText(h + 26, 32, hd.systemIdentifier);
    PutText(h + 58, 32, hd.generatingSoftware);
    Put<uint16_t>(h + 90, hd.creationDay);
    Put<uint16_t>(h + 92, hd.creationYear);
    Put<uint16_t>(h + 94, hd.headerSize);
    Put<uint32_t>(h + 96, hd.offsetToPointData);
    Put<uint32_t>(h + 100, uint32_t(hd.vlrs.size()));
    h[104] = hd.pointDataFormat;
    Put<uint16_t>(h + 105, hd.pointDataRecordLength);
    // Formats 6 to 10 keep the legacy counts at zero; so does a count that does not fit them.
    const bool legacy = legacyFits && hd.pointDataFormat < 6;
    Put<uint32_t>(h + 107, legacy ? uint32_t(m_count) : 0u);
    for (int i = 0; i < 5; ++i) {
        Put<uint32_t>(h + 111 + 4 * i, legacy ? uint32_t(m_byReturn[i]) : 0u);
    }
    double bounds[6] = {hd.maxX, hd.minX, hd.maxY, hd.minY, hd.maxZ, hd.minZ};
    if (m_count > 0) {
        bounds[0] = m_bounds[1] * hd.xScaleFactor + hd.xOffset;
        bounds[1] = m_bounds[0] * hd.xScaleFactor + hd.xOffset;
        bounds[2] = m_bounds[3] * hd.yScaleFactor + hd.yOffset;
        bounds[3] = m_bounds[2] * hd.yScaleFactor + hd.yOffset;
        bounds[4] = m_bounds[5] * hd.zScaleFactor + hd.zOffset;
        bounds[5] = m_bounds[4] * hd.zScaleFactor + hd.zOffset;
    }
    const double fixed[6] = {hd.xScaleFactor, hd.yScaleFactor, hd.zScaleFactor,
                             hd.xOffset,      hd.yOffset,      hd.zOffset};
    for (int i = 0; i < 6; ++i) {
        Put<double>(h + 131 + 8 * i, fixed[i]);
        Put<double>(h + 179 + 8 * i, bounds[i]);
    }
    if (v14) {
        const uint64_t pointEnd = hd.offsetToPointData + m_count * hd.pointDataRecordLength;
        Put<uint64_t>(h + 235, hd.evlrs.empty() ? 0 : pointEnd);
        Put<uint32_t>(h + 243, uint32_t(hd.evlrs.size()));
        Put<uint64_t>(h + 247, m_count);
        for (int i = 0; i < 15; ++i) {
            Put<uint64_t>(h + 255 + 8 * i, m_byReturn[i]);
        }
    }
    if (fseeko(m_file, 0, SEEK_SET) != 0 || !WriteAll(m_file, h, hd.headerSize)) {
        return Fail(QString("cannot write %1").arg(m_path));
    }
    return true;
}

bool LASwriterLAS::Close() {
    if (!m_file) {
        return false;
    }
    bool ok = Flush();
    if (ok && !m_header.evlrs.empty()) {
        const uint64_t pointEnd = m_header.offsetToPointData + m_count * m_header.pointDataRecordLength;
        ok = fseeko(m_file, off_t(pointEnd), SEEK_SET) == 0;
        for (const LASvlr& vlr : m_header.evlrs) {
            std::vector<uint8_t> h = RecordHeader(vlr, true);
            ok = ok && WriteAll(m_file, h.data(), h.size()) &&
                 WriteAll(m_file, vlr.data.data(), vlr.data.size());
        }
        if (!ok) {
            Fail(QString("cannot write %1").arg(m_path));
        }
    }
    ok = ok && UpdateHeader();
    ok = (std::fclose(m_file) == 0 || NoteFailure()) && ok;
    m_file = nullptr;
    if (ok && !kv::CommitTemporary(m_tempPath, m_path)) {
        ok = Fail(QString("cannot create %1").arg(m_path));
    }
    if (!ok) {
        QFile::remove(m_tempPath);
        Fail(QString("cannot write %1").arg(m_path));
    }
    return ok;
}
