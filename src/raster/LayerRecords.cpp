#include "raster/LayerRecords.h"

#include <QFileInfo>

#include "platform/cad/Cad.h"
#include "raster/AGColors.h"
#include "raster/ArchiveStream.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

// Bytes of an empty text, a linked-entity count and one linked id.
constexpr qint64 kEmptyText = 1;
constexpr qint64 kCount64 = 8;
constexpr qint64 kId = 4;

void WriteIds(kv::ArchiveWriter& out, const std::vector<uint32_t>& ids) {
    out.WriteUInt64(ids.size());
    for (uint32_t id : ids) {
        out.WriteUInt32(id);
    }
}

bool ReadIds(kv::ArchiveReader& in, std::vector<uint32_t>& ids) {
    uint64_t count = in.ReadUInt64();
    if (!in.Ok() || count > static_cast<uint64_t>(in.Remaining() / kId)) {
        in.Fail();
        return false;
    }
    ids.resize(static_cast<size_t>(count));
    for (uint32_t& id : ids) {
        id = in.ReadUInt32();
    }
    return in.Ok();
}

std::vector<uint32_t> IdsOf(const CadEntityList& entities) {
    std::vector<uint32_t> ids;
    ids.reserve(entities.size());
    for (CadEntity* entity : entities) {
        if (entity) {
            ids.push_back(static_cast<uint32_t>(CadEntityGetID(entity)));
        }
    }
    return ids;
}

CadEntityList EntitiesOf(CadDrawing* drawing, const std::vector<uint32_t>& ids) {
    CadEntityList entities;
    if (!drawing) {
        return entities;
    }
    for (uint32_t id : ids) {
        if (CadEntity* entity = CadGetEntityByID(drawing, static_cast<int>(id))) {
            entities.push_back(entity);
        }
    }
    return entities;
}

// Rebuilds a palette from stored settings; a colour count out of all reason gives 100 colours.
void ApplyPalette(CAGColors& colors, int32_t paletteIndex, bool revert, bool invert, int32_t colorCount) {
    int32_t count = colorCount > 0 && colorCount <= kMaxPaletteColors ? colorCount : 100;
    colors.Set_Palette(paletteIndex, revert, count);
    colors.m_bInvert = invert;
    if (invert) {
        colors.Invert();
    }
    colors.m_colorCount = count;
}

// The mask beside a DEM file: same folder, the base name followed by "_mask", extension "tif".
QString MaskPathOf(const QString& path) {
    if (path.isEmpty()) {
        return QString();
    }
    QFileInfo info(path);
    return info.path() + '/' + info.completeBaseName() + QStringLiteral("_mask.tif");
}

}  // namespace

qint64 MinDemRecordBytes(int version) {
    qint64 bytes = 8 + 8 + kEmptyText + kEmptyText;
    if (version >= 4) {
        bytes += kCount64;
    }
    if (version >= 6) {
        bytes += 8 + 8 + 4 + 4 + 1 + 1;
    }
    return bytes;
}

qint64 MinOrthoRecordBytes(int version) {
    return kEmptyText + kEmptyText + (version >= 2 ? kCount64 : 0);
}

qint64 MinMapRecordBytes() {
    return kEmptyText + kEmptyText + 4 + 4 + 1 + 4 + 8 + 8;
}

void WriteDemRecord(kv::ArchiveWriter& out, const DemArchiveRecord& record) {
    out.WriteDouble(record.minElevation);
    out.WriteDouble(record.maxElevation);
    out.WriteString(record.name);
    out.WriteString(record.path);
    WriteIds(out, record.linkedIds);
    out.WriteDouble(record.colorRangeMax);
    out.WriteDouble(record.colorRangeMin);
    out.WriteInt32(record.paletteIndex);
    out.WriteInt32(record.colorCount);
    out.WriteBool(record.revert);
    out.WriteBool(record.invert);
}

bool ReadDemRecord(kv::ArchiveReader& in, int version, DemArchiveRecord& record) {
    DemArchiveRecord r;
    r.minElevation = in.ReadDouble();
    r.maxElevation = in.ReadDouble();
    r.name = in.ReadString();
    r.path = in.ReadString();
    if (version >= 4 && !ReadIds(in, r.linkedIds)) {
        return false;
    }
    r.hasColors = version >= 6;
    if (r.hasColors) {
        r.colorRangeMax = in.ReadDouble();
        r.colorRangeMin = in.ReadDouble();
        r.paletteIndex = in.ReadInt32();
        r.colorCount = in.ReadInt32();
        r.revert = in.ReadBool();
        r.invert = in.ReadBool();
    }
    if (!in.Ok() || r.colorCount > kMaxPaletteColors) {
        in.Fail();
        return false;
    }
    record = std::move(r);
    return true;
}

void WriteOrthoRecord(kv::ArchiveWriter& out, const OrthoArchiveRecord& record) {
    out.WriteString(record.name);
    out.WriteString(record.path);
    WriteIds(out, record.linkedIds);
}

bool ReadOrthoRecord(kv::ArchiveReader& in, int version, OrthoArchiveRecord& record) {
    OrthoArchiveRecord r;
    r.name = in.ReadString();
    r.path = in.ReadString();
    if (version >= 2 && !ReadIds(in, r.linkedIds)) {
        return false;
    }
    if (!in.Ok()) {
        return false;
    }
    record = std::move(r);
    return true;
}

void WriteMapRecord(kv::ArchiveWriter& out, const MapArchiveRecord& record) {
    out.WriteString(record.name);
    out.WriteString(record.path);
    out.WriteInt32(record.storedCode);
    out.WriteInt32(record.paletteIndex);
    out.WriteBool(record.revert);
    out.WriteInt32(record.colorCount);
    out.WriteDouble(record.rangeMax);
    out.WriteDouble(record.rangeMin);
}

bool ReadMapRecord(kv::ArchiveReader& in, MapArchiveRecord& record) {
    MapArchiveRecord r;
    r.name = in.ReadString();
    r.path = in.ReadString();
    r.storedCode = in.ReadInt32();
    r.paletteIndex = in.ReadInt32();
    r.revert = in.ReadBool();
    r.colorCount = in.ReadInt32();
    r.rangeMax = in.ReadDouble();
    r.rangeMin = in.ReadDouble();
    // A colour count no palette can have is damage, refused before any palette is built.
    if (!in.Ok() || r.colorCount > kMaxPaletteColors) {
        in.Fail();
        return false;
    }
    record = std::move(r);
    return true;
}

// ---- DEM

DemArchiveRecord CDEM::ArchiveRecord() const {
    DemArchiveRecord r;
    r.minElevation = m_minElevation;
    r.maxElevation = m_maxElevation;
    r.name = m_name;
    r.path = m_path;
    r.linkedIds = IdsOf(SeamlinePolylines);
    r.colorRangeMax = m_colorRangeMax;
    r.colorRangeMin = m_colorRangeMin;
    r.paletteIndex = m_colors.m_paletteIndex;
    r.colorCount = m_colors.m_colorCount;
    r.revert = m_colors.m_bRevert;
    r.invert = m_colors.m_bInvert;
    return r;
}

void CDEM::ApplyArchiveRecord(const DemArchiveRecord& record, CadDrawing* drawing) {
    m_minElevation = record.minElevation;
    m_maxElevation = record.maxElevation;
    m_name = record.name;
    m_path = record.path;
    m_maskPath = MaskPathOf(record.path);
    SeamlinePolylines = EntitiesOf(drawing, record.linkedIds);
    m_colorRangeMax = record.colorRangeMax;
    m_colorRangeMin = record.colorRangeMin;
    ApplyPalette(m_colors, record.paletteIndex, record.revert, record.invert, record.colorCount);
    m_colorRangePending = record.hasColors ? 0 : 1;
}

void CDEM::ApplyPendingColorRange() {
    if (m_colorRangePending) {
        m_colorRangeMin = m_minElevation;
        m_colorRangeMax = m_maxElevation;
        m_colorRangePending = 0;
    }
}

int CDEM::Serialize(kv::ArchiveWriter& out) const {
    WriteDemRecord(out, ArchiveRecord());
    return out.Ok() ? 1 : 0;
}

int CDEM::Serialize(kv::ArchiveReader& in, int version, CadDrawing* drawing) {
    DemArchiveRecord record;
    if (!ReadDemRecord(in, version, record)) {
        return 0;
    }
    ApplyArchiveRecord(record, drawing);
    return 1;
}

// ---- Orthophoto

OrthoArchiveRecord COrtho::ArchiveRecord() const {
    return OrthoArchiveRecord{m_name, m_path, IdsOf(SeamlinePolylines)};
}

void COrtho::ApplyArchiveRecord(const OrthoArchiveRecord& record, CadDrawing* drawing) {
    m_name = record.name;
    m_path = record.path;
    SeamlinePolylines = EntitiesOf(drawing, record.linkedIds);
}

int COrtho::Serialize(kv::ArchiveWriter& out) const {
    WriteOrthoRecord(out, ArchiveRecord());
    return out.Ok() ? 1 : 0;
}

int COrtho::Serialize(kv::ArchiveReader& in, int version, CadDrawing* drawing) {
    OrthoArchiveRecord record;
    if (!ReadOrthoRecord(in, version, record)) {
        return 0;
    }
    ApplyArchiveRecord(record, drawing);
    return 1;
}

// ---- Map

MapArchiveRecord CMapData::ArchiveRecord() const {
    MapArchiveRecord r;
    r.name = m_name;
    r.path = m_path;
    r.storedCode = MapTypeToStoredCode(m_mapType);
    r.paletteIndex = m_colors.m_paletteIndex;
    r.revert = m_colors.m_bRevert;
    r.colorCount = m_colors.m_colorCount;
    r.rangeMax = m_pRangeMax ? *m_pRangeMax : -9999.0;
    r.rangeMin = m_pRangeMin ? *m_pRangeMin : -9999.0;
    return r;
}

void CMapData::ApplyArchiveRecord(const MapArchiveRecord& record) {
    m_name = record.name;
    m_path = record.path;
    m_storedCode = record.storedCode;
    m_mapType = MapTypeFromStoredCode(record.storedCode);
    ApplyPalette(m_colors, record.paletteIndex, record.revert, false, record.colorCount);
    m_pRangeMax = std::make_unique<double>(record.rangeMax);
    m_pRangeMin = std::make_unique<double>(record.rangeMin);
}

int CMapData::Serialize(kv::ArchiveWriter& out) const {
    WriteMapRecord(out, ArchiveRecord());
    return out.Ok() ? 1 : 0;
}

int CMapData::Serialize(kv::ArchiveReader& in) {
    MapArchiveRecord record;
    if (!ReadMapRecord(in, record)) {
        return 0;
    }
    ApplyArchiveRecord(record);
    return 1;
}
