// "Contour Lines": the levels (lowest level, upper limit and step) and the simplification of the
// contour lines of one DEM, proposed from the DEM's heights and the operator's last choices.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>

#include <limits>
#include <vector>

#include "controls/ButtonST.h"
#include "platform/ui/KvDialog.h"

class CDEM;

class CContourLinesDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 367,
        IDC_MIN_ELEVATION = 1568,
        IDC_MAX_ELEVATION = 1569,
        IDC_STEP = 1570,
        IDC_TOLERANCE = 1571,
        IDC_SIMPLIFICATION = 1573,
        IDC_GENERATE = 1574,
        IDC_HIDE_TEXT = 1575,
        IDC_CANCEL = 1071,
    };

    explicit CContourLinesDlg(CDEM* dem, QWidget* parent = nullptr);

    QLineEdit m_editMinElevation;
    QLineEdit m_editMaxElevation;
    QLineEdit m_editStep;
    CButtonST m_btnGenerate;
    CButtonST m_btnCancel;
    QCheckBox m_chkSimplification;
    QLineEdit m_editTolerance;
    double m_dMinElevation = 0.0;
    double m_dMaxElevation = 0.0;
    double m_dStep = -1.0;
    CDEM* m_pDEM;
    int m_bSimplification = 0;
    int m_bHideText = 0;
    double m_dTolerance = 0.0;
    // The largest tolerance the dialog takes: the DEM's pixel width once known.
    double m_dToleranceBound = std::numeric_limits<double>::max();
    QCheckBox m_chkHideText;

protected:
    bool OnInitDialog() override;

private:
    // Reads and stores the fields; ends with OK when the step and, with simplification on, the
    // tolerance are usable, otherwise says which is not and stays open.
    void OnBnClickedGenerate();
    void OnBnClickedSimplification();

    QGroupBox m_grpElevation;
    QGroupBox m_grpOptions;
    QLabel m_lblMinElevation;
    QLabel m_lblMaxElevation;
    QLabel m_lblStep;
};

// Number of contour levels from minimum by step below maximum: the smallest n >= 1 for which the
// running sum minimum + step + ... (n steps) is not below maximum. -1 for a step that is no
// positive number, that no longer changes the sum or that would give more than kMaxContourLevels.
int CountContourLevels(double minimum, double maximum, double step);
// The levels themselves: minimum and the running sums below maximum. Empty for a refused step.
std::vector<double> ContourLevels(double minimum, double maximum, double step);
inline constexpr int kMaxContourLevels = 100000;
