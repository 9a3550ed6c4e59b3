// How a thematic map or a DEM is coloured: which palette of the program's list, with how many
// colours, reversed or inverted, and over which display range. A modeless window; every change
// is applied at once to the bound layer's palette, its rendering is dropped, the colour legend is
// rebuilt and the drawing redrawn. Binding a layer drops its classification, so the layer is drawn
// with the continuous palette; Cancel gives back the palette it had when it was bound.
//
// Every project holds one (made by the product tools' window maker, owned by the project through
// MapToolWindow); the MAPREPRESENTATION command makes its window at first use (Create) and binds a
// layer (SetMap or SetDem).
#pragma once

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "controls/ButtonST.h"
#include "document/MapToolWindows.h"
#include "platform/ui/KvDialog.h"
#include "raster/AGColors.h"
#include "raster/MapData.h"

class CDEM;
class CKelvaroDoc;

class CMapRepresentationDlg : public KvDialog, public MapToolWindow {
    Q_OBJECT
public:
    // The largest colour count a palette is given here.
    static constexpr int kMaxColors = 255;

    explicit CMapRepresentationDlg(QWidget* parent = nullptr);

    // Makes the window (hidden); nothing when it exists.
    void Create();
    bool IsCreated() const { return m_bCreated; }

    // Binds the layer and shows the window: the values it has now are saved for Restore and
    // Cancel, its classification is dropped and its palette rebuilt from its settings. The record
    // names the layer for the colour legend. 0 without the document's drawing or a layer.
    int SetMap(CKelvaroDoc* doc, CMapData* map, const MapLayerInfo& record);
    int SetDem(CKelvaroDoc* doc, CDEM* dem, const MapLayerInfo& record);
    // A layer leaves the project: when it is the bound one, the dialog lets go of it and hides.
    void ForgetLayer(const void* layer) override;
    bool IsShown() const override { return isVisible(); }

    // The colour count of edit 1642: its integer value, 1 below 2, 255 from 255 on; written back.
    int ColorCountFromEdit();

    void OnBnClickedApplyCount();
    void OnCbnSelchangePalette();
    void OnBnClickedRevert();
    void OnBnClickedInvert();
    // Takes the display range of edits 1033 and 1646; a text that is no number, or a minimum not
    // below the maximum, is refused with "min range value must be lower than max".
    void OnBnClickedApplyRange();
    void OnBnClickedRestore();
    // Gives the layer back the palette it had when bound (not its range) and hides.
    void OnBnClickedCancel();

    CMapData* Map() const { return m_pMap; }
    CDEM* Dem() const { return m_pDem; }

    QComboBox m_cmbPalette;     // 1641
    QLineEdit m_editCount;      // 1642
    CButtonST m_btnApplyCount;  // 1055
    QPushButton m_btnRevert;    // 1640
    QPushButton m_btnInvert;    // 1625
    QLineEdit m_editMin;        // 1644
    QLineEdit m_editMax;        // 1645
    QLineEdit m_editRangeMin;   // 1033
    QLineEdit m_editRangeMax;   // 1646
    CButtonST m_btnApplyRange;  // 1647
    CButtonST m_btnRestore;     // 1648
    CButtonST m_btnClose;       // 1005
    CButtonST m_btnCancel;      // 1638

protected:
    bool OnInitDialog() override;
    // "Close", Enter and Escape: hides; every change stays.
    void OnOK() override { OnCancel(); }
    void OnCancel() override { hide(); }

private:
    // The bound layer's palette and display range; null without a layer.
    CAGColors* Palette() const;
    double* RangeMin() const;
    double* RangeMax() const;
    // Binds either kind of layer; the values shown are the layer's.
    int Bind(CKelvaroDoc* doc, CMapData* map, CDEM* dem, const MapLayerInfo& record, double minimum,
             double maximum);
    // Selects the combo item of the palette index (the first item when none has it).
    void SelectPalette(int index);
    // After a change: the layer's rendering dropped, the legend rebuilt, the drawing redrawn (or
    // updated, for Cancel).
    void Changed(bool update = false);

    CKelvaroDoc* m_pDoc = nullptr;
    CMapData* m_pMap = nullptr;
    CDEM* m_pDem = nullptr;
    MapLayerInfo m_record;
    bool m_bCreated = false;
    // What the layer had when it was bound.
    CAGColors m_savedPalette;
    int m_nSavedCount = 0;
    int m_nSavedIndex = 0;
    bool m_bSavedRevert = false;
    bool m_bSavedInvert = false;
    double m_dSavedMin = 0.0;
    double m_dSavedMax = 0.0;
};
