// The four orthophotos the mosaic benchmarks share: bands 3, 2, 1 of the Landsat scene of the test
// data warped bilinearly from 28.5 m to 2.85 m cells (3490 x 3520), cut into four 2000 x 2000
// crops at (0, 0), (1490, 0), (0, 1520) and (1490, 1520), each with overview levels 2 and 4 as a
// loaded orthophoto has them. Made once in the data folder "crops".
#pragma once

#include <QString>
#include <QStringList>

#include <opencv2/core/types.hpp>

#include <string>
#include <vector>

#include "document/KelvaroDoc.h"

class COrtho;
struct CadDrawing;

namespace bench {

constexpr double kPixel = 2.85;
constexpr int kCrop = 2000;
inline const cv::Point kCorners[4] = {{0, 0}, {1490, 0}, {0, 1520}, {1490, 1520}};

// The paths of the crops, made when missing; empty when they cannot be made.
QStringList FourCrops();
// A project of the crops: its path in the crops' folder, where the seamline build keeps its files.
struct CropsProject {
    CKelvaroDoc doc;
    std::vector<COrtho*> images;
    CadDrawing* seamlines = nullptr;

    ~CropsProject();
    // Adds the crops to the document as orthophotos, in their order.
    bool Open();
    // The seamline build of the crops, each region polyline linked to its orthophoto as the
    // transfer onto the layer links them.
    bool BuildSeamlines();
};

}  // namespace bench
