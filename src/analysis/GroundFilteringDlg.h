// The two dialogs of the ground filtering: the parameters (ground type, curvature threshold and
// GSD) and the progress window that asks for them, runs the worker with an overall bar, a bar of
// the current phase and an Abort button, and tells the operator when the run gave nothing.
#pragma once

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

#include "controls/ButtonST.h"
#include "controls/KvProgressBar.h"
#include "controls/ProgressTimeToComplete.h"
#include "platform/ui/KvDialog.h"

class CDEM;
class CKelvaroDoc;

class CMCCGroundFilterParametersDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 336,
        IDC_GROUND_TYPE = 1051,
        IDC_CURVATURE_SLIDER = 1052,
        IDC_CURVATURE = 1053,
        IDC_GSD = 1525,
        IDC_FACTOR = 1611,
    };

    explicit CMCCGroundFilterParametersDlg(CDEM* dem, QWidget* parent = nullptr);

    // What the run takes once the dialog closed with OK.
    double m_dFactor = 1.6;
    double m_dCurvatureThreshold = 0.3;
    double m_dGSD = 2.5;
    CDEM* m_pDEM;

    QComboBox m_comboGroundType;
    QLineEdit m_editFactor;
    QSlider m_sliderCurvature;
    QLineEdit m_editCurvature;
    QLineEdit m_editGSD;
    QPushButton m_btnOK;
    QPushButton m_btnCancel;

    void OnNMCustomdrawCurvatureSlider();
    void OnCbnSelchangeGroundType();
    void OnEnChangeGsd();

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    // The ground-type presets; Custom has none.
    enum { kCustom = 4 };
    double PixelWidth() const;

    QLabel m_labelGroundType;
    QLabel m_labelCurvature;
    QGroupBox m_groupGSD;
};

class CGroundFilteringDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 337,
        IDC_PROGRESS_OVERALL = 1004,
        IDC_PROGRESS_PHASE = 1054,
        IDC_ABORT = 1055,
        kTimerId = 100,
    };

    // Clears the abort flag (may be null: no Abort button then); the DEM is the one the command
    // is filtering.
    CGroundFilteringDlg(CKelvaroDoc* doc, int* abortFlag, QWidget* parent = nullptr);

    CKelvaroDoc* m_pDoc;
    CDEM* m_pDEM;
    int* m_pAbort;
    KvProgressBar m_progressOverall;
    TProgressTimeToComplete m_progressPhase;
    CButtonST m_btnAbort;

    // The run: asks for the parameters, filters, ends the dialog with 1 (done, or nothing to do)
    // or 2 (failed or aborted).
    void OnTimer();
    void OnBnClickedAbort();

protected:
    bool OnInitDialog() override;
    // Escape and the close button do nothing: the run ends the window.
    void OnCancel() override {}

private:
    // Starts the run once the window shows (a child, so that whoever looks at the window sees it).
    QTimer* m_timer;
};
