// The records of the three layer kinds in the project archive, and their bytes. These functions
// are the one definition of a layer's record: the layers' own Serialize methods and the reader and
// writer of the whole archive both go through them.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

namespace kv {
class ArchiveReader;
class ArchiveWriter;
}  // namespace kv

// Version of the project archive that this program writes. The blocks of a record are present
// from the version given beside them.
inline constexpr int kProjectArchiveVersion = 6;

// A DEM layer: its file, its elevation range, its linked drawing entities (by id) and its colour
// settings.
struct DemArchiveRecord {
    double minElevation = 0.0;  // from 1
    double maxElevation = 5000.0;
    QString name;
    QString path;
    std::vector<uint32_t> linkedIds;  // from 4
    // The colour settings, from 6. A record of an older archive has none (hasColors false) and
    // carries the defaults below: palette 0 with 100 colours and the unset range.
    bool hasColors = true;
    double colorRangeMax = 9999.0;
    double colorRangeMin = -9999.0;
    int32_t paletteIndex = 0;
    int32_t colorCount = 100;
    bool revert = false;
    bool invert = false;

    bool operator==(const DemArchiveRecord&) const = default;
};

// An orthophoto layer: its file and its linked drawing entities (by id, from 2).
struct OrthoArchiveRecord {
    QString name;
    QString path;
    std::vector<uint32_t> linkedIds;

    bool operator==(const OrthoArchiveRecord&) const = default;
};

// A map layer (archives from version 5): its file, the stored code of its kind and its palette
// and display range.
struct MapArchiveRecord {
    QString name;
    QString path;
    int32_t storedCode = -1;
    int32_t paletteIndex = 0;
    bool revert = false;
    int32_t colorCount = 100;
    double rangeMax = -9999.0;
    double rangeMin = -9999.0;

    bool operator==(const MapArchiveRecord&) const = default;
};

// Each writer writes every block of the current version. Each reader reads the blocks of the
// given archive version and answers false (the reader marked failed) when the bytes run out or a
// count is more than the rest of the file can hold.
void WriteDemRecord(kv::ArchiveWriter& out, const DemArchiveRecord& record);
bool ReadDemRecord(kv::ArchiveReader& in, int version, DemArchiveRecord& record);
void WriteOrthoRecord(kv::ArchiveWriter& out, const OrthoArchiveRecord& record);
bool ReadOrthoRecord(kv::ArchiveReader& in, int version, OrthoArchiveRecord& record);
void WriteMapRecord(kv::ArchiveWriter& out, const MapArchiveRecord& record);
bool ReadMapRecord(kv::ArchiveReader& in, MapArchiveRecord& record);

// The fewest bytes that one record of the version can take: a count of records larger than the
// rest of the file divided by this is damage, not data.
qint64 MinDemRecordBytes(int version);
qint64 MinOrthoRecordBytes(int version);
qint64 MinMapRecordBytes();
