// "Seamlines Generation": the modal progress window of a seamline build. It shows itself, and a
// one-shot timer then runs the work: the checks, the images that are shown in the drawing, the
// builder of the mode (orthophotos or DEMs) with the window's progress bar and Abort button, and
// the move of the new seamline polylines onto the project's seamline layer, where they replace
// the old ones. The old seamlines are replaced only after a successful build: a failed or aborted
// one leaves the layer, the images' polylines and the seamline edit rounds as they were.
#pragma once

#include <vector>

#include "controls/ProgressTimeToComplete.h"
#include "controls/TimedWorkDlg.h"

class CKelvaroDoc;
struct CadDrawing;

class CSeamlinesGenerationDlg : public CTimedWorkDlg {
    Q_OBJECT
public:
    enum { IDD = 351, IDC_PROGRESS = 1024, IDC_ABORT = 1055 };
    // Modes: the seamlines of the orthophotos (layer "SeamLines") or of the DEMs ("SeamLines_DEM").
    static constexpr int kOrthophotos = 0;
    static constexpr int kDems = 1;

    CSeamlinesGenerationDlg(CKelvaroDoc* doc, int mode, QWidget* parent = nullptr);

    // The work of the dialog; true when the seamlines were replaced or the operator chose to keep
    // the old ones, false when a check failed or the build failed or was aborted (each case told
    // to the operator).
    bool BuildSeamlines(int mode);
    CKelvaroDoc* m_pDoc;
    int m_nMode;
    TProgressTimeToComplete m_ProgressCtrl;

protected:
    // The work of timer 100: the dialog ends with IDOK (true) or IDCANCEL (false).
    bool RunWork() override { return BuildSeamlines(m_nMode); }
    bool CanWork() const override { return m_pDoc != nullptr; }
    int StartDelay() const override;

private:
    // Replaces the seamline polylines of every image of the mode by those of the temporary
    // drawing, which it deletes.
    void MoveOntoLayer(CadDrawing* temporary, const char* layerName);
};

// The pause between the dialog's showing and the start of the work in milliseconds (1000; tests
// shorten it).
void SetSeamlinesGenerationDelay(int milliseconds);
