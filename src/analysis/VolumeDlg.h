// "Volume": the volumes of the AOI of the running VOLUME command over and under the reference
// elevation and the plane fitted through the AOI's vertices, recomputed when the dialog opens and
// when the reference changes, and exported to a CSV file. Buttons that need a pick in the drawing
// end the dialog with their own id; the command performs the pick and opens a new dialog.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "controls/ButtonST.h"
#include "controls/ProgressTimeToComplete.h"
#include "platform/ui/KvDialog.h"

class CVolumeDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 313,
        IDC_CLOSE = 1005,
        IDC_PICK_ELEVATION = 1013,
        IDC_DRAW_AOI = 1014,
        IDC_PICK_POLYLINE = 1015,
        IDC_REFERENCE = 1018,
        IDC_OVER_REFERENCE = 1020,
        IDC_UNDER_REFERENCE = 1021,
        IDC_OVER_PLANE = 1022,
        IDC_UNDER_PLANE = 1023,
        IDC_PROGRESS = 1024,
        IDC_EXPORT = 1027,
        IDC_USE_VERTICES_MIN = 1055,
        IDC_USE_AOI_MIN = 1057,
        IDC_USE_THIS_ELEVATION = 1058,
        IDC_ABORT = 1610,
        kComputeTimer = 100,
    };

    // The abort flag is the command's (cleared here when given); without one there is no Abort
    // button.
    explicit CVolumeDlg(int* abortFlag, QWidget* parent = nullptr);

    // The one-shot timer that starts the first computation once the dialog shows.
    void OnTimer(int id);
    // Measures the command's AOI on its DEM and shows the volumes. Nothing while a run samples.
    void ComputeVolumes();
    bool IsComputing() const { return m_bComputing; }

    void OnBnClickedPickElevation();
    void OnBnClickedDrawAoi();
    void OnBnClickedPickPolyline();
    void OnEnChangeReferenceElevation();
    void OnBnClickedUseVerticesMin();
    void OnBnClickedUseAoiMin();
    void OnBnClickedUseThisElevation();
    void OnBnClickedExport();
    void OnBnClickedAbort();

    int* m_pAbort;
    // Lowest DEM elevation among the AOI vertices and lowest sampled elevation of the last run;
    // the largest double when there is none.
    double m_dVerticesMin;
    double m_dAoiMin;
    // 1 after the operator typed in the reference field; 0 after every run and reference button.
    int m_bReferenceEdited = 0;

    QGroupBox m_grpArea;
    CButtonST m_btnDrawAoi;
    CButtonST m_btnPickPolyline;
    QGroupBox m_grpElevation;
    CButtonST m_btnPickElevation;
    QLineEdit m_editReference;
    CButtonST m_btnUseVerticesMin;
    CButtonST m_btnUseAoiMin;
    CButtonST m_btnUseThisElevation;
    QLabel m_lblOverReference;
    QLineEdit m_editOverReference;
    QLabel m_lblUnderReference;
    QLineEdit m_editUnderReference;
    QGroupBox m_grpPlane;
    QLabel m_lblOverPlane;
    QLineEdit m_editOverPlane;
    QLabel m_lblUnderPlane;
    QLineEdit m_editUnderPlane;
    TProgressTimeToComplete m_progress;
    CButtonST m_btnExport;
    CButtonST m_btnAbort;
    CButtonST m_btnClose;

protected:
    bool OnInitDialog() override;
    // Close: ends the dialog with 1, not while a run samples.
    void OnOK() override;
    // Escape and the close box end the dialog with 2; while a run samples they stop it, and the
    // stopped run ends the dialog.
    void OnCancel() override;

private:
    // The labels of the two minimum buttons with the minima, or plain, and their enabling.
    void ShowMinima();
    void SetSamplingState(bool sampling);
    // Measures against that reference and shows it.
    void UseReference(double reference);

    // The dialog's own, so that whoever waits for the dialog sees its first computation coming.
    QTimer m_timer;
    bool m_bComputing = false;
};
