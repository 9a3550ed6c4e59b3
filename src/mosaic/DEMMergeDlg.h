// "Kelvaro - DEM Merge": the progress window of the merge of DEMs along their seamlines, and the
// merge itself. The window shows itself, and a one-shot timer then runs the merge: the DEMs are
// checked, then merged pairwise, the two that overlap most first, each pair's overlap blended
// with a Laplacian pyramid so that no step shows along the seam, until one DEM is left. Every
// pass but the last writes a temporary DEM; the last writes the operator's file, which joins the
// project. Enter and Escape do not close the window; it ends by itself.
#pragma once

#include <QLabel>

#include <vector>

#include "controls/KvProgressBar.h"
#include "controls/TimedWorkDlg.h"

class CDEM;
class CKelvaroDoc;

class CDEMMergeDlg : public CTimedWorkDlg {
    Q_OBJECT
public:
    enum {
        IDD = 382,
        IDC_OVERALL_PROGRESS = 1004,
        IDC_ABORT = 1055,
        IDC_OVERALL_MESSAGE = 1620,
        IDC_STEP_MESSAGE = 1621,
        IDC_OVERALL_PERCENT = 1622,
        IDC_STEP_PERCENT = 1623,
        IDC_STEP_PROGRESS = 1624,
    };
    // The DEMs in the order the operator selected them, and the file of the result.
    CDEMMergeDlg(CKelvaroDoc* doc, const std::vector<CDEM*>& dems, const QString& outputPath,
                 QWidget* parent = nullptr);

    // Merges the DEMs into a Float32 GeoTIFF at outputPath and loads it into the project. Every
    // label and bar may be null (that display is skipped); a non-zero *abort (may be null) stops
    // the merge at its next check. The file is written under a temporary name and put in place
    // only when complete; temporary DEMs of the passes are removed with their layers and files on
    // every way out. 1 when the merged DEM was written and loaded, 0 otherwise (each failure told
    // to the operator).
    static int MergeDEMs(CKelvaroDoc* doc, const std::vector<CDEM*>& dems, const QString& outputPath,
                         QLabel* overallMessage, QLabel* overallPercent, KvProgressBar* overallProgress,
                         QLabel* stepMessage, QLabel* stepPercent, KvProgressBar* stepProgress, int* abort);

    CKelvaroDoc* m_pDoc;
    std::vector<CDEM*> m_DEMs;
    QString m_strOutputPath;
    QLabel m_lblOverallMessage;
    QLabel m_lblStepMessage;
    QLabel m_lblOverallPercent;
    QLabel m_lblStepPercent;
    KvProgressBar m_progressOverall;
    KvProgressBar m_progressStep;

protected:
    // Empties the labels and sets both bars to 0 of 100 before the timer starts.
    bool OnInitDialog() override;
    // The merge; "Process completed" when it succeeded.
    bool RunWork() override;
    bool CanWork() const override { return true; }
    int StartDelay() const override;
    // Enter and Escape do nothing, also before the merge starts.
    void OnOK() override {}
    void OnCancel() override {}
};

// The pause between the window's showing and the start of the merge in milliseconds (1000; tests
// shorten it).
void SetDemMergeDelay(int milliseconds);
