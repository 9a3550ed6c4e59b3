// Progress of long GDAL operations (overviews, warping) shown in a progress window, with the
// window's abort request carried back to GDAL; the resampling of a raster file to a new pixel size
// and the automatic level stretch of 8-bit colour images.
#pragma once

#include <opencv2/core.hpp>

#include <QPointer>
#include <QString>

class QLabel;
class ProgressSink;

class CGDALListener {
public:
    explicit CGDALListener(ProgressSink* progress = nullptr, QLabel* percentage = nullptr);
    virtual ~CGDALListener();

    // Receives the percentage as its position.
    ProgressSink* m_pProgress = nullptr;
    // Shows the last message text.
    QPointer<QLabel> m_pMessage;
    // Shows the percentage as text.
    QPointer<QLabel> m_pPercentage;
    // Set non-zero by the owner (its Abort button) to stop the operation.
    int m_abort = 0;
    int m_lastPercentage = 0;
    QString m_lastMessage;
};

// GDAL progress function of a listener (given as the progress argument): 0 stops the operation.
int GDALListenerProgress(double fraction, const char* message, void* listener);

// Writes a GeoTIFF copy of the source resampled by factor (old pixel size / new pixel size) with
// bilinear interpolation, with the source's band count, data type, no-data value and projection,
// and overviews. Returns false, leaving no file at the target, when anything fails or the
// listener stops it; *cause (when given) then holds why where it is known: "Unable to read
// <source>: ..." when a block of the source cannot be read, else what the system or GDAL said
// first.
bool ResampleRasterGDAL(const QString& source, const QString& target, double factor, char** creationOptions,
                        CGDALListener* listener, QString* cause = nullptr);

// Stretches each channel of an 8-bit three-channel image between the empty levels around its
// used levels, into target; pure black pixels are neither counted nor written.
void AutoLevelsRGB(const cv::Mat& source, cv::Mat& target);
