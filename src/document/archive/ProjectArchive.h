// The project archive (".kvp"): the references and settings of a project, without any raster
// data. This codec knows the bytes of every version; the document turns the records into layers
// and back.
//
// Layout, little-endian, texts as a length prefix and UTF-8 bytes (v = the file's version):
//   int32 version
//   v >= 1: int32 DEM count, DEM records; int32 orthophoto count, orthophoto records;
//           int32 ortho visible; double ortho opacity
//   v >= 3: double seamline cell size; double balancing cell size
//   v >= 5: int32 map count, map records
// The records are those of raster/LayerRecords.h. A version above the current one is read with
// the current layout.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

#include "raster/LayerRecords.h"
#include "raster/MapData.h"

class QIODevice;
struct CadDrawing;

struct ProjectArchiveData {
    // The file's version after reading; the writer always writes kProjectArchiveVersion.
    int32_t version = kProjectArchiveVersion;
    std::vector<DemArchiveRecord> dems;
    std::vector<OrthoArchiveRecord> orthos;
    int32_t orthoVisible = 1;
    double orthoOpacity = 1.0;
    // Cell sizes of the seamline grid and of the radiometric balancing map.
    double seamlineScaleFactor = 0.0;
    double balancingScaleFactor = 0.0;
    std::vector<MapArchiveRecord> maps;

    bool operator==(const ProjectArchiveData&) const = default;
};

// Reads a whole archive. On success returns 1 and replaces data; otherwise returns 0, leaves data
// as it was and sets error to "File reading error" (a file that cannot be opened, a negative
// version, a count larger than the rest of the file can hold, a truncated file).
int ReadProjectArchive(QIODevice* device, ProjectArchiveData& data, QString* error = nullptr);
int ReadProjectArchive(const QByteArray& bytes, ProjectArchiveData& data, QString* error = nullptr);
int ReadProjectArchive(const QString& path, ProjectArchiveData& data, QString* error = nullptr);

// Writes the archive in the current version with every block. The file is written under a
// temporary name and renamed into place once complete, so a failed write leaves the earlier
// archive intact. 1 on success; 0 with error "File writing error" otherwise.
int WriteProjectArchive(QIODevice* device, const ProjectArchiveData& data);
int WriteProjectArchive(const QString& path, const ProjectArchiveData& data, QString* error = nullptr);

// The record with which the document adds a map read from an archive: the title is the name the
// map had when the project was saved, which names its CAD layer in the companion drawing: the file
// name of the path with its extension (as DEM analysis names its maps) when the drawing holds a
// layer of that name and none of the file name without extension, else the file name of the path
// without folder and extension. The palette and range are the record's own, shown at full
// opacity.
MapLayerInfo ArchivedMapLayerInfo(const MapArchiveRecord& record, CadDrawing* drawing = nullptr);
