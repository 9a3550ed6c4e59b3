// The four orthophotos the mosaic benchmarks share: bands 3, 2, 1 of the Landsat scene of the test
// data warped bilinearly from 28.5 m to 2.85 m cells (3490 x 3520), cut into four 2000 x 2000
// crops at (0, 0), (1490, 0), (0, 1520) and (1490, 1520), each with overview levels 2 and 4 as a
// loaded orthophoto has them.
#pragma once

#include <memory>

#include <opencv2/core/types.hpp>

#include <QApplication>
#include <QString>
#include <QStringList>

class CKelvaroDoc;

namespace bench {

constexpr double kPixel = 2.85;
constexpr int kCrop = 2000;
inline const cv::Point kCorners[4] = {{0, 0}, {1490, 0}, {0, 1520}, {1490, 1520}};

// GDAL's drivers registered and its messages silenced, OpenCV on one thread without OpenCL: the
// set-up both benchmark programs run with.
void PrepareProcess();
// The offscreen application of a benchmark program, with the process set up as above.
std::unique_ptr<QApplication> StartProgram(int& argc, char** argv);

// Where a program writes its files: the folder given with --keep=<folder>, where they stay for the
// peer commands, or else the temporary folder. Created when missing.
QString OutputFolder(int argc, char** argv, const QString& temporary);

// Writes the crops into the folder and adds them to the project as orthophotos; their paths go to
// paths. False when any step fails.
bool MakeFourCrops(const char* scene, const QString& folder, CKelvaroDoc* doc, QStringList* paths);

}  // namespace bench
