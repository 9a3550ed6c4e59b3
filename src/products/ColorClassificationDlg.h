// The colour classification of a thematic map: a modeless window whose centre is the
// colour-range list (CHeaderColorListCtrl). While it is shown, the bound map is drawn with the
// classification, inside its area polygon when the command chose one; hiding it gives the map its
// earlier palette back and shows it whole again. From here the operator loads and saves ".ccl"
// classification files, opens the frequency histogram and exports the class areas with a report.
//
// Every project holds one (made by the product tools' window maker, owned by the project through
// MapToolWindow); the COLORCLASSIFICATION command makes its window at first use (Create) and binds
// a map (SetMap). The window is then only shown and hidden.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QRect>

#include "controls/ButtonST.h"
#include "document/MapToolWindows.h"
#include "platform/ui/KvDialog.h"
#include "products/HeaderColorListCtrl.h"
#include "raster/AGColors.h"

class CKelvaroDoc;
class CMapData;

class CColorClassificationDlg : public KvDialog, public MapToolWindow {
    Q_OBJECT
public:
    // The window's height, and its least width.
    static constexpr int kHeight = 110;
    static constexpr int kMinWidth = 550;

    explicit CColorClassificationDlg(QWidget* parent = nullptr);
    ~CColorClassificationDlg() override;

    // Makes the window (hidden) with its controls laid out; nothing when it exists.
    void Create();
    bool IsCreated() const { return m_bInitialised; }

    // Binds the map: a map bound before gets its earlier palette back first (and, when it is
    // another map, an empty area list); the map's palette is saved, the list spans the band's
    // exact minimum to maximum with two equal ranges, the classification opened last is loaded
    // when its file exists, and the window is shown. 0 without a document, its drawing or a map.
    int SetMap(CKelvaroDoc* doc, CMapData* map);
    // Reads a ".ccl" file (the open chooser asks when path is empty) made for the map's type into
    // the map's palette and rebuilds the list; remembers the file. 0 when nothing was loaded.
    int LoadClassification(const QString& path = QString());
    // Writes the map's palette as a ".ccl" file (the save chooser asks when path is empty) with the
    // map's type, minimum and maximum. 0 when nothing was written.
    int SaveClassification(const QString& path = QString());
    // The frequency histogram of the bound map, modal.
    void OnBnClickedHistogram();
    // The class areas and the report of the bound map beside its file.
    void OnBnClickedExportData();
    // What the list calls after every change of the classification: the map is drawn anew.
    void OnColorClassificationRefresh();
    // A layer leaves the project: when it is the bound map, the dialog lets go of it and hides.
    void ForgetLayer(const void* layer) override;
    bool IsShown() const override { return isVisible(); }

    CKelvaroDoc* Document() const { return m_pDoc; }
    CMapData* Map() const { return m_pMap; }
    // The band's exact value range the list spans.
    double MapMinimum() const { return m_dMin; }
    double MapMaximum() const { return m_dMax; }

    CHeaderColorListCtrl m_List;  // 1649
    QLabel m_staticHelp;          // 1659
    QLineEdit m_editMin;          // 1033
    QLineEdit m_editMax;          // 1646
    CButtonST m_btnLoad;          // 1651
    CButtonST m_btnSave;          // 1027
    CButtonST m_btnHistogram;     // 1625
    CButtonST m_btnExport;        // 1656
    CButtonST m_btnCancel;        // 1638
    CButtonST m_btnOK;            // 1
    CButtonST m_btnClose;         // 1658, present but never shown

protected:
    bool OnInitDialog() override;
    // OK, Cancel and "close": the map gets its earlier palette back and shows whole again, then
    // the window hides.
    void OnOK() override { OnCancel(); }
    void OnCancel() override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // Repositions the controls for the client size; once initialised the list's columns follow.
    void OnSize(int width, int height);
    // Gives the held map its saved palette back and redraws it; the area list is emptied when
    // asked. Nothing when no palette is held.
    void GiveBackPalette(bool emptyArea);

    CKelvaroDoc* m_pDoc = nullptr;
    CMapData* m_pMap = nullptr;
    CAGColors m_SavedPalette;
    // True from SetMap until the saved palette is given back.
    bool m_bHolding = false;
    bool m_bInitialised = false;
    double m_dMin = 0.0;
    double m_dMax = 0.0;
    // Layout measured at creation: the static's left and right margin, the list's right margin,
    // and the offsets of the save and load buttons and the maximum's edit from the list's right edge.
    int m_nStaticLeft = 0;
    int m_nStaticRightMargin = 0;
    int m_nListRightMargin = 0;
    int m_nSaveOffset = 0;
    int m_nLoadOffset = 0;
    int m_nMaxOffset = 0;
};
