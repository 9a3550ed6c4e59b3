// A thematic map layer: a single-band raster of derived values (vegetation index, slope,
// catchment area, wetness, temperature ...) shown in false colours; the kinds of maps, and the
// record with which a tool asks the document to add one.
#pragma once

#include <gdal.h>
#include <opencv2/core.hpp>

#include <QString>

#include <memory>

#include "raster/AGColors.h"
#include "raster/LayerEntities.h"
#include "raster/LayerRecords.h"
#include "raster/RasterDisplayCache.h"

class CKelvaroDoc;

// The kind of a raster. Values are what callers and records pass; any int may arrive.
enum MapType : int {
    MapTypeElevation = 1,
    MapTypeElevation2 = 2,
    MapTypeDem = 3,  // a DEM in the colour-legend record
    MapTypeOrthophoto = 4,
    MapTypeNDVI = 5,
    MapTypeSAVI = 6,
    MapTypeTemperature = 12,
    MapTypeLSFactor = 13,
    MapTypeCatchment = 14,
    MapTypeSlope = 15,
    MapTypeWetness = 16,
    MapTypeOther = 17,
    MapTypeEnergy = 18,
};

// The code under which a project stores a map's kind: 0 to 4 for the kinds that have one, -1 for
// every other kind.
int MapTypeToStoredCode(int mapType);
// The kind of a stored code; codes outside 0 to 4 read back as "other" (17).
MapType MapTypeFromStoredCode(int code);

// What a tool hands the document to add a map layer.
struct MapLayerInfo {
    int kindCode = 1;
    QString title;  // layer name and CAD layer name
    MapType mapType = MapTypeOther;
    int kindCode2 = 2;
    QString path;                       // raster to load
    double viewRect[4] = {0, 0, 0, 0};  // top, left, bottom, right shown after adding
    int paletteIndex = 0;
    bool revert = false;
    int colorCount = 100;
    int visible = 1;
    int opacity = 100;  // percent
    // Display range, used when ownPalette is 1; -9999 for both: taken from the raster.
    double rangeMin = -9999.0;
    double rangeMax = -9999.0;
    // 1: the loader takes palette index, revert, colour count and range from this record;
    // 0: the map's type chooses them.
    int ownPalette = 0;
    // 1: refreshing the colour legend from this record does not repaint the drawing's window.
    int noRepaint = 0;
};

class CMapData {
public:
    explicit CMapData(CKelvaroDoc* owner);
    virtual ~CMapData();
    CMapData(const CMapData&) = delete;
    CMapData& operator=(const CMapData&) = delete;

    // Takes the kind (5, 6 or 12 to 18) and chooses palette and display range from it and the
    // statistics. 0, and nothing changed, for any other value.
    int SetMapType(int type);
    // Unit or label text of the map's kind.
    QString GetUnitName() const;
    // The value of band 1's cell that contains the world position as the plan view shows it (its
    // stored value x scale + offset, kv::ShownValues; no data reads -9999), or -9999 when the
    // layer is not shown there
    // (no drawing, nothing drawn yet, image place erased or hidden, layer missing or off). The
    // plan view's readout asks it at every move of the cursor: a cell comes with the square of
    // cells around it, which the display cache keeps.
    float GetValueAt(CadDrawing* drawing, double x, double y);
    // Drops the picture of the layer's rendering so that the next paint rebuilds it.
    void ReleaseDisplayCache() { m_display.Release(); }

    // The layer's record in the project archive: its kind as the stored code (the layer keeps its
    // own type), its palette and its display range (-9999 for both ends while it has none).
    MapArchiveRecord ArchiveRecord() const;
    // Takes a record read from an archive: the stored code is kept and turned back into a type,
    // the palette and the display range are taken.
    void ApplyArchiveRecord(const MapArchiveRecord& record);
    // Writes the record; reads one and takes it. 1 on success, 0 when the stream failed (nothing
    // taken then).
    int Serialize(kv::ArchiveWriter& out) const;
    int Serialize(kv::ArchiveReader& in);

    CKelvaroDoc* m_pDoc = nullptr;
    GDALDatasetH m_pDataset = nullptr;
    cv::Mat m_values;  // Float32, -9999 for no data
    double m_geoTransform[6] = {0, 0, 0, 0, 0, 0};
    QString m_projection;
    // What the plan view last drew: values at screen resolution and where they lie.
    RasterDisplayCache m_display;
    RasterDisplayCache m_display2;
    // Statistics of the values and the display range; absent until the loader or the project
    // reader sets them.
    std::unique_ptr<double> m_pMin;
    std::unique_ptr<double> m_pMax;
    std::unique_ptr<double> m_pMean;
    std::unique_ptr<double> m_pStdDev;
    std::unique_ptr<double> m_pRangeMin;
    std::unique_ptr<double> m_pRangeMax;
    double m_opacity = 1.0;
    // 1 while the values are rewritten; the rendering skips a busy map.
    int m_busy = 0;
    CadEntity* m_imageEntity = nullptr;
    int m_kindCode = 0;
    int m_imageDefId = -1;
    CadEntity* m_secondEntity = nullptr;
    QString m_name;
    QString m_path;
    cv::Mat m_workImage;
    int m_sampleWindowSize = 5;
    cv::Mat m_sampleWindow;
    MapType m_mapType = MapTypeOther;
    int m_storedCode = -1;
    CAGColors m_colors;
    // Area polylines: when there are some, the map is drawn only inside them.
    CadEntityList m_linkedEntities;
};
