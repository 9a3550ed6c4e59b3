#include "document/archive/ProjectArchive.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>

#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "raster/ArchiveStream.h"

namespace {

const char* const kReadingError = "File reading error";
const char* const kWritingError = "File writing error";

int Fail(QString* error, const char* text) {
    if (error) {
        *error = QString::fromLatin1(text);
    }
    return 0;
}

// Reads a record count and checks that the rest of the file can hold that many records of at
// least minBytes each.
bool ReadCount(kv::ArchiveReader& in, qint64 minBytes, int32_t* count) {
    *count = in.ReadInt32();
    if (!in.Ok() || *count < 0 || *count > in.Remaining() / minBytes) {
        in.Fail();
        return false;
    }
    return true;
}

// Reads count and records of one kind; read(in, record) reads one record.
template <typename Record, typename ReadOne>
bool ReadRecords(kv::ArchiveReader& in, qint64 minBytes, std::vector<Record>& records, ReadOne read) {
    int32_t count = 0;
    if (!ReadCount(in, minBytes, &count)) {
        return false;
    }
    records.resize(static_cast<size_t>(count));
    for (Record& record : records) {
        if (!read(in, record)) {
            return false;
        }
    }
    return true;
}

bool ReadArchive(kv::ArchiveReader& in, ProjectArchiveData& data) {
    data.version = in.ReadInt32();
    if (!in.Ok() || data.version < 0) {
        return false;
    }
    const int v = data.version;
    if (v >= 1) {
        if (!ReadRecords(in, MinDemRecordBytes(v), data.dems,
                         [v](kv::ArchiveReader& s, DemArchiveRecord& r) { return ReadDemRecord(s, v, r); }) ||
            !ReadRecords(
                in, MinOrthoRecordBytes(v), data.orthos,
                [v](kv::ArchiveReader& s, OrthoArchiveRecord& r) { return ReadOrthoRecord(s, v, r); })) {
            return false;
        }
        data.orthoVisible = in.ReadInt32();
        data.orthoOpacity = in.ReadDouble();
    }
    if (v >= 3) {
        data.seamlineScaleFactor = in.ReadDouble();
        data.balancingScaleFactor = in.ReadDouble();
    }
    if (v >= 5 && !ReadRecords(in, MinMapRecordBytes(), data.maps, ReadMapRecord)) {
        return false;
    }
    return in.Ok();
}

}  // namespace

int ReadProjectArchive(QIODevice* device, ProjectArchiveData& data, QString* error) {
    if (!device || !device->isReadable()) {
        return Fail(error, kReadingError);
    }
    kv::ArchiveReader in(device);
    ProjectArchiveData read;
    if (!ReadArchive(in, read)) {
        return Fail(error, kReadingError);
    }
    data = std::move(read);
    return 1;
}

int ReadProjectArchive(const QByteArray& bytes, ProjectArchiveData& data, QString* error) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return ReadProjectArchive(&buffer, data, error);
}

int ReadProjectArchive(const QString& path, ProjectArchiveData& data, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return Fail(error, kReadingError);
    }
    return ReadProjectArchive(&file, data, error);
}

int WriteProjectArchive(QIODevice* device, const ProjectArchiveData& data) {
    kv::ArchiveWriter out(device);
    out.WriteInt32(kProjectArchiveVersion);
    out.WriteInt32(static_cast<int32_t>(data.dems.size()));
    for (const DemArchiveRecord& record : data.dems) {
        WriteDemRecord(out, record);
    }
    out.WriteInt32(static_cast<int32_t>(data.orthos.size()));
    for (const OrthoArchiveRecord& record : data.orthos) {
        WriteOrthoRecord(out, record);
    }
    out.WriteInt32(data.orthoVisible);
    out.WriteDouble(data.orthoOpacity);
    out.WriteDouble(data.seamlineScaleFactor);
    out.WriteDouble(data.balancingScaleFactor);
    out.WriteInt32(static_cast<int32_t>(data.maps.size()));
    for (const MapArchiveRecord& record : data.maps) {
        WriteMapRecord(out, record);
    }
    return out.Ok() ? 1 : 0;
}

int WriteProjectArchive(const QString& path, const ProjectArchiveData& data, QString* error) {
    kv::SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !WriteProjectArchive(&file, data) || !file.commit()) {
        return Fail(error, kWritingError);
    }
    return 1;
}

MapLayerInfo ArchivedMapLayerInfo(const MapArchiveRecord& record, CadDrawing* drawing) {
    const auto hasLayer = [drawing](const QString& name) {
        CadLayer* layer = drawing ? CadGetLayerByName(drawing, name.toUtf8().constData()) : nullptr;
        return layer && !CadLayerGetDeleted(layer);
    };
    const QFileInfo file(record.path);
    MapLayerInfo info;
    info.kindCode = 1;
    info.title = hasLayer(file.fileName()) && !hasLayer(file.completeBaseName()) ? file.fileName()
                                                                                 : file.completeBaseName();
    info.mapType = MapTypeFromStoredCode(record.storedCode);
    info.kindCode2 = 2;
    info.path = record.path;
    info.paletteIndex = record.paletteIndex;
    info.revert = record.revert;
    info.colorCount = record.colorCount;
    info.visible = 1;
    info.opacity = 100;
    info.rangeMin = record.rangeMin;
    info.rangeMax = record.rangeMax;
    info.ownPalette = 1;
    return info;
}
