// Layers for the plan-view tests: small GeoTIFFs written into the test's folder and put into a
// project's tables with an image place on a CAD layer of their name, as the document's loaders
// leave them.
#pragma once

#include <gdal.h>

#include <QString>

#include <opencv2/core.hpp>

#include <vector>

#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace kvtest {

// Writes a GeoTIFF of the image (one band per channel) with pixel size 1 and origin (0, rows):
// raster pixel (c, r) covers model x c .. c + 1, y rows - r - 1 .. rows - r.
QString WriteRaster(const QString& name, const cv::Mat& image, GDALDataType type, double noData,
                    double scale = 1.0, double offset = 0.0);

// Adds a CAD layer of the name with an image place of the id covering the raster's model extent
// (origin and pixel size of the geotransform). Returns the image place.
CadEntity* AddImagePlace(CKelvaroDoc& doc, const QString& name, int imageId, int width, int height,
                         const double* geoTransform);

// A DEM layer of the file (opened for update) with image id 1000 + index.
CDEM* AddDemLayer(CKelvaroDoc& doc, const QString& path, int index = 0);
// A one-band map layer of the file, named `name`, with image id 4000 + index and the display
// range low to high.
CMapData* AddMapLayer(CKelvaroDoc& doc, const QString& path, const QString& name, double low, double high,
                      int index = 0);

// Heights of a slope rising by dx a column and dy a row, with noise of up to `noise` on each.
cv::Mat NoisySlope(int rows, int cols, double noise, float dx, float dy);

// An orthophoto layer of the file with image id 2000 + index.
COrtho* AddOrthoLayer(CKelvaroDoc& doc, const QString& path, int index = 0);

// Records the status-bar text.
class StatusRecorder : public kv::MainWindowService {
public:
    StatusRecorder() { kv::SetMainWindowService(this); }
    ~StatusRecorder() override { kv::SetMainWindowService(nullptr); }
    void SetStatusText(const QString& text) override { texts.push_back(text); }
    int OpacitySliderPos() const override { return -1; }
    void SetOpacitySliderPos(int) override {}
    QWidget* MainWindow() const override { return nullptr; }
    void UpdateCommandUI() override {}
    std::vector<QString> texts;
};

}  // namespace kvtest
