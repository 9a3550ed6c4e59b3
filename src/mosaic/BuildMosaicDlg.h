// "Build Mosaic": the modal progress window of the mosaic build. It shows itself, and a one-shot
// timer then runs the build: the orthophotos that fit together, the output folder or file, the
// optional radiometric balancing map, and one tile after the other (the closed, named polylines
// of the "Tiles" layer, or one tile over the whole mosaic), each written by CMosaicTile and
// added to the project. Abort stops the tile being written (its file is removed); tiles
// finished before stay.
#pragma once

#include <vector>

#include "controls/ProgressTimeToComplete.h"
#include "controls/TimedWorkDlg.h"
#include "mosaic/RadiometricBalancing.h"

class CKelvaroDoc;
class COrtho;
class CMosaicTile;

class CBuildMosaicDlg : public CTimedWorkDlg {
    Q_OBJECT
public:
    enum { IDD = 352, IDC_PROGRESS_TILES = 1004, IDC_PROGRESS_TILE = 1054, IDC_ABORT = 1055 };
    // The delay of the timer that starts the build, in milliseconds.
    static constexpr int kStartDelay = 100;

    explicit CBuildMosaicDlg(CKelvaroDoc* doc, QWidget* parent = nullptr);

    // The build; 1 when the tile loop ran, 0 when the build stopped before it (refusals told to
    // the operator).
    int BuildMosaic();
    CKelvaroDoc* m_pDoc;
    // Tiles done (also the balancing map), and the work inside the current tile.
    TProgressTimeToComplete m_ProgressTiles;
    TProgressTimeToComplete m_ProgressTile;

protected:
    // The work of timer 100: after a build whose tile loop ran, "SeamLines" and "Tiles" are
    // hidden and the dialog ends with IDOK, otherwise with IDCANCEL.
    bool RunWork() override;
    bool CanWork() const override { return m_pDoc != nullptr; }
    int StartDelay() const override { return kStartDelay; }
};

// The orthophotos a mosaic can be built from, in the order of the project's table: those with
// seamline polylines and an open dataset whose pixel size, band count and data type equal the
// first one's; box receives their extent.
std::vector<COrtho*> AcceptedMosaicOrthos(CKelvaroDoc& doc, MosaicBox* box);

// "Build Mosaic" (ribbon 32845): the dialog for the project.
void RunBuildMosaic(CKelvaroDoc& doc);
