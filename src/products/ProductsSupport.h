// Steps the slope-map and orthophoto annotation commands share: output paths beside an input,
// the refusal of an output that a loaded layer uses, pixel positions of world points, and the
// colours and texts burnt into 8-bit images whose channels are the file's bands 1 to 3.
#pragma once

#include <QString>
#include <QStringList>

#include <initializer_list>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "controls/AbortSingleProgressDlg.h"

struct CadDrawing;
class CKelvaroDoc;

namespace products {

// The path in the input's folder named by the pattern ("%s_SlopeMap") filled with the input's
// base name (without extension), with extension "tif".
QString OutputPathBeside(const QString& input, const char* pattern);

// Nearest int, half to even, saturated to the int range (NaN gives 0).
int RoundHalfEven(double value);
// Truncation toward zero, saturated to the int range (NaN gives 0).
int Truncate(double value);

// Pixel of a world position in an image of geotransform gt, truncated or rounded half to even.
cv::Point PixelTruncated(const double* gt, double x, double y);
cv::Point PixelRounded(const double* gt, double x, double y);

// The drawing value of a colour given as (band 1, band 2, band 3): channel k holds band k + 1, so
// the values go in as they stand.
inline cv::Scalar BandColor(int band1, int band2, int band3) {
    return cv::Scalar(band1, band2, band3);
}

// A text in a Hershey font, anti-aliased, with its baseline's left end at the point.
void PutText(cv::Mat& image, const QString& text, cv::Point at, int font, double scale,
             const cv::Scalar& colour, int thickness);

// The open-file choosers of a terrain model ("GeoTiff DTM"), an orthophoto and a slope map; the
// file must exist. Empty when refused.
QString ChooseDtmFile();
QString ChooseOrthophotoFile();
QString ChooseSlopeMapFile();

// The orthophoto the operator chose, whole in memory (bands 1 to 3 in channels 1 to 3), with its
// geotransform and the paths of the annotated copies written beside it.
struct OrthophotoCopy {
    cv::Mat image;
    double gt[6] = {0, 0, 0, 0, 0, 0};
    std::vector<QString> outputs;
};
// Asks for the orthophoto, names the copies by the patterns ("%s_Bordered"), refuses copies over a
// loaded layer's file, the orthophoto or the command's other inputs (RefuseOutputOverInputs) and
// loads the orthophoto. False, after the loader's or the refusal's message, when the command ends
// there (a refused chooser too).
bool ChooseOrthophotoCopy(std::initializer_list<const char*> patterns, OrthophotoCopy* copy,
                          const QStringList& otherInputs = QStringList());

// The hidden "drawing..." progress window (with an Abort button) over the main window, which the
// drawing commands show while they write.
class DrawingProgress : public CAbortSingleProgressDlg {
public:
    DrawingProgress();
};

// True when the project holds an orthophoto layer.
bool HasOrthophotoLayer(const CKelvaroDoc& doc);

}  // namespace products
