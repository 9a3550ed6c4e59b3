// "Tiles Setup": a regular grid of tiles over the area the project's rasters cover. Preview lays
// the grid on the layer "TempTiles"; OK replaces the layout on "Tiles" with the last preview; Pick
// ends the dialog so that the operator can pick the origin in the drawing, and the setup loop
// (RunTilesSetup) opens it again with the picked point. The profile section "Tile" keeps the
// fields between openings.
#pragma once

#include <QLabel>
#include <QLineEdit>

#include <vector>

#include "controls/ButtonST.h"
#include "mosaic/TileLayout.h"
#include "platform/geometry/Pgon.h"
#include "platform/ui/KvDialog.h"

class CKelvaroDoc;

class CTilesGenerationDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 345,
        IDC_ORIGIN_X = 1525,
        IDC_ORIGIN_Y = 1526,
        IDC_OVERLAP_X = 1527,
        IDC_OVERLAP_Y = 1033,
        IDC_WIDTH = 1528,
        IDC_HEIGHT = 1529,
        IDC_PREVIEW = 1530,
        IDC_PICK = 1055,
        // The result with which Pick ends the dialog.
        IDC_PICK_RESULT = 1500,
    };

    explicit CTilesGenerationDlg(CKelvaroDoc* doc, QWidget* parent = nullptr);

    void OnBnClickedPreview();
    void OnBnClickedOk();
    void OnBnClickedPick();
    void OnBnClickedCancel();

    CKelvaroDoc* m_pDoc;
    // The union of the rasters' extents and its bounding box, computed at every opening.
    CPgon m_footprint;
    double m_dMinX = 0.0;
    double m_dMaxX = 0.0;
    double m_dMinY = 0.0;
    double m_dMaxY = 0.0;
    // The entities of the last preview, in pairs (outline, label); kept across openings.
    std::vector<CadEntity*> m_previewHandles;

    QLabel m_lblOriginX;
    QLineEdit m_editOriginX;
    QLabel m_lblOriginY;
    QLineEdit m_editOriginY;
    QLabel m_lblOverlapX;
    QLineEdit m_editOverlapX;
    QLabel m_lblOverlapY;
    QLineEdit m_editOverlapY;
    QLabel m_lblWidth;
    QLineEdit m_editWidth;
    QLabel m_lblHeight;
    QLineEdit m_editHeight;
    CButtonST m_btnOK;
    CButtonST m_btnCancel;
    CButtonST m_btnPreview;
    CButtonST m_btnPick;

protected:
    // Every opening: locks "Tiles", shows and locks "TempTiles" on top, computes the footprint
    // (none: the dialog ends with IDCANCEL) and fills the fields from the profile.
    bool OnInitDialog() override;
    void OnOK() override { OnBnClickedOk(); }
    void OnCancel() override { OnBnClickedCancel(); }
    void hideEvent(QHideEvent* event) override;

private:
    // The fields checked in order, each refusal with its own message; with store set, width,
    // height and the overlaps go to the profile as typed once their checks pass.
    bool CheckFields(TileGrid& grid, bool store);
    void ErasePreview();
};
