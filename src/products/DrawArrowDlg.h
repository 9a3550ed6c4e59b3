// The parameters of the slope-arrow map: the shortest arrow in orthophoto pixels, the multiplier of
// the longest one and the slope (in percent) that gets the longest arrow. The three edits start
// from the per-user profile; the slope is replaced by the steepest sampled slope of a slope map the
// operator may choose as the dialog opens. OK keeps the three texts in the profile.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <opencv2/core.hpp>

#include "platform/ui/KvDialog.h"

class CKelvaroDoc;

// The three bands of a slope map read whole: geotransform, projection and the no-data value of
// band 1 (hasNoData 0 when it has none).
struct SlopeBands {
    cv::Mat grid;  // Float32, three channels
    double geoTransform[6] = {0, 0, 0, 0, 0, 0};
    QString projection;
    double noData = 0.0;
    int hasNoData = 0;
};

// Reads a slope map, opened read-only: a geotransform and exactly three bands, band 1 Float32 (and,
// when asked, a no-data value on band 1). Tells the operator "Unable to open Slope file!" or
// "Invalid Slope file!" (also for cells that cannot be read) and answers false.
bool ReadSlopeBands(const QString& path, bool requireNoData, SlopeBands* bands);

// The steepest slope in percent (band 3 x 100, in single precision) over every 10th row and column
// of the grid where band 1 holds data; the lowest float when there is none.
float SampledMaxSlopePercent(const cv::Mat& slope, double noData);

class CDrawArrowDlg : public KvDialog {
    Q_OBJECT
public:
    enum { IDD = 369, IDC_MIN_LENGTH = 1579, IDC_MAX_MULTIPLIER = 1580, IDC_MAX_SLOPE = 1581 };

    explicit CDrawArrowDlg(CKelvaroDoc* doc, QWidget* parent = nullptr);

    // Shortest arrow in orthophoto pixels, multiplier of the longest arrow, slope in percent that
    // gets the longest arrow (always above 0).
    double m_dMinVectorLength = 18.0;
    double m_dMaxLengthMultiplier = 0.7;
    double m_dMaxSlope = 0.12;

    QLineEdit m_editMinLength;
    QLineEdit m_editMaxMultiplier;
    QLineEdit m_editMaxSlope;
    QPushButton m_btnOK;

protected:
    bool OnInitDialog() override;
    // Refuses, with "Invalid value", a maximum slope that is no number above 0; otherwise keeps the
    // three texts in the profile and takes them.
    void OnOK() override;

private:
    CKelvaroDoc* m_pDoc;
    QLabel m_labelMinLength;
    QLabel m_labelMaxMultiplier;
    QLabel m_labelMaxSlope;
};
