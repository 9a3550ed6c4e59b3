// One orthophoto of a project: an 8- or 16-bit raster of one to four bands whose dataset stays
// open for the whole life of the layer; it is never held at full resolution, only as thumbnails.
#pragma once

#include <gdal.h>
#include <vtkSmartPointer.h>
#include <vtkThinPlateSplineTransform.h>
#include <opencv2/core.hpp>

#include <QString>

#include "raster/LayerEntities.h"
#include "raster/LayerRecords.h"
#include "raster/RasterDisplayCache.h"

class CKelvaroDoc;

class COrtho {
public:
    explicit COrtho(CKelvaroDoc* owner);
    virtual ~COrtho();
    COrtho(const COrtho&) = delete;
    COrtho& operator=(const COrtho&) = delete;

    // The whole orthophoto as an 8-bit three-channel image (blue, green, red) of the given size;
    // empty when the dataset is not open or the read fails, which is told to the operator
    // (kv::ReportUnreadableRaster).
    cv::Mat ExtractThumbnail(cv::Size size);
    // The whole orthophoto at 1 / factor of its size with everything outside its valid area
    // blacked out; empty when the thumbnail cannot be read.
    cv::Mat GetScaledImage(double factor);
    // Drops the picture of the layer's rendering so that the next paint rebuilds it.
    void ReleaseDisplayCache() { m_display.Release(); }

    // The layer's record in the project archive, and taking one read from an archive (linked
    // entities found by their ids in the drawing; ids it does not hold are dropped).
    OrthoArchiveRecord ArchiveRecord() const;
    void ApplyArchiveRecord(const OrthoArchiveRecord& record, CadDrawing* drawing);
    // Writes the record in the current archive version; reads one of an archive of the given
    // version and takes it. 1 on success, 0 when the stream failed (nothing taken then).
    int Serialize(kv::ArchiveWriter& out) const;
    int Serialize(kv::ArchiveReader& in, int version, CadDrawing* drawing);

    // Number of bands that carry a radiometric correction surface.
    static constexpr int kCorrectionBands = 4;

    CKelvaroDoc* m_pDoc = nullptr;
    GDALDatasetH m_pDataset = nullptr;
    double m_geoTransform[6] = {0, 0, 0, 0, 0, 0};
    int m_width = 0;
    int m_height = 0;
    RasterDisplayCache m_display;
    int m_imageDefId = -1;
    CadEntity* m_imageEntity = nullptr;
    QString m_name;
    QString m_path;
    // The closed polylines of the drawing tied to the layer: its seamline regions. The layer is
    // drawn only inside them (unclipped while the list is empty); they are archived by id
    // with the project and each carries the layer as user pointer and its image place's id as user
    // data.
    CadEntityList SeamlinePolylines;
    // Radiometric correction of each band: a thin-plate spline through the balancing's control
    // points, and the surface sampled from it (single-channel Float32, empty until computed).
    vtkSmartPointer<vtkThinPlateSplineTransform> m_correction[kCorrectionBands];
    cv::Mat m_correctionImage[kCorrectionBands];
};
