// What the mosaic tests share: the two orthophotos cut from the Landsat scene, and synthetic image
// records whose extents are given by hand.
#pragma once

#include <QString>

#include <memory>
#include <vector>

#include "platform/cad/Cad.h"
#include "raster/Ortho.h"

namespace mtest {

// Bands 3, 2, 1 of tests/data/L7_ETMs.tif (349 x 352 cells of 28.5 m) cut to the pixel window as a
// GeoTIFF at the target path; its geotransform goes to gt when given. Empty on failure.
QString CutLandsat(const QString& target, int column, int row, int width, int height, double* gt = nullptr);

// Bands 3, 2, 1 of tests/data/L7_ETMs.tif (28.5 m cells, 352 rows) as two GeoTIFFs in a new
// folder: columns 0-219 and 130-348, so that the two overlap in 90 columns.
struct LandsatPair {
    explicit LandsatPair(const QString& folder);
    QString paths[2];
    double geoTransforms[2][6];
    static constexpr double kPixel = 28.5;
};

// Orthophoto records without a project: each owns a dataset of the given size (no bands) and the
// rectangle of its extent as a closed polyline in one drawing, which outlives them.
class SyntheticImages {
public:
    SyntheticImages();
    ~SyntheticImages();
    // An image of width × height pixels of size 1 whose top-left corner is (x, y).
    COrtho* Add(int width, int height, double x, double y);
    std::vector<COrtho*> Records() const;

private:
    CadDrawing* m_drawing;
    std::vector<std::unique_ptr<COrtho>> m_images;
};

}  // namespace mtest
