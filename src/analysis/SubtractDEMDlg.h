// "Subtract DEM": the difference A - B of two DEMs over their common area, recomputed for a
// tolerance under which a difference counts as none, shown in a CAD window of the dialog's own
// with the difference under the cursor written beside it, with its lowest and highest value, and
// exported as a GeoTIFF. The result lives in a temporary file of the working folder and never
// enters the project.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>

#include <map>
#include <memory>
#include <optional>

#include "analysis/HostedCadView.h"
#include "controls/ButtonST.h"
#include "controls/ProgressTimeToComplete.h"
#include "platform/ui/KvDialog.h"

class CDEM;
class CKelvaroDoc;

class CSubtractDEMDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 315,
        IDC_PROGRESS = 1024,
        IDC_PREVIEW = 1025,
        IDC_EXPORT = 1027,
        IDC_TOLERANCE = 1037,
        IDC_UPDATE = 1038,
        IDC_CLOSE = 1005,
        IDC_MIN = 1049,
        IDC_MAX = 1050,
    };

    // A and B are the DEMs the command picked.
    CSubtractDEMDlg(CKelvaroDoc* doc, CDEM* demA, CDEM* demB, QWidget* parent = nullptr);
    ~CSubtractDEMDlg() override;

    // Computes A - B with the tolerance into a new temporary file and shows it. Non-zero on
    // success; a failure is told to the operator.
    int ComputeDifference(double tolerance, bool zoomToExtents);

    // The result shown, null when none.
    CDEM* Result() const;
    // The tolerance of the result shown (the largest double before the first computation).
    double Tolerance() const { return m_dTolerance; }
    // Every result file made so far; all are deleted with the dialog.
    const QStringList& TemporaryFiles() const { return m_tempFiles; }
    // The preview and the readout label (null when none is shown).
    HostedCadView& Preview() { return m_view; }
    CadEntity* ReadoutLabel() const { return m_label; }

    // The preview's event procedures: the result drawn on its image place, and the readout of the
    // difference under the cursor (status text and label).
    int OnCadDrawImage(QPainter* dc, const CadWinRect* update, int imageId, int placeLeft, int placeBottom,
                       int placeWidth, int placeHeight);
    void OnCadMouseMove(int keyFlags, double x, double y);

    CKelvaroDoc* m_pDoc;
    CDEM* m_pDemA;
    CDEM* m_pDemB;

    QLabel m_lblTolerance;
    QLineEdit m_editTolerance;
    QFrame m_preview;
    CButtonST m_btnUpdate;
    CButtonST m_btnClose;
    CButtonST m_btnExport;
    TProgressTimeToComplete m_progress;
    QLabel m_lblMin;
    QLineEdit m_editMin;
    QLabel m_lblMax;
    QLineEdit m_editMax;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;

private:
    void OnTimer();
    void OnBnClickedUpdate();
    void OnBnClickedExport();
    void OnBnClickedClose();
    // Drops the result shown: its dataset closed, its file deleted.
    void ReleaseResult();
    void SetBusy(bool busy);
    void EraseLabel();
    // Ends the preview: its events go back to the project, its window and label are gone.
    void OnDestroy();

    HostedCadView m_view;
    std::optional<HostedViewEvents> m_events;
    CadEntity* m_label = nullptr;
    // The result by its image id (one at most); its CAD entity lies in the preview's drawing.
    std::map<int, std::unique_ptr<CDEM>> m_results;
    QStringList m_tempFiles;
    double m_dTolerance;
    bool m_busy = false;
};

// The difference shown as "%.3lf", or "---" when no cell had data in both DEMs.
QString DifferenceText(bool hasValues, double value);
