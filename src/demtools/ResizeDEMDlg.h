// "Resize DEM": the DEM to copy at another cell size (picked in the drawing or browsed for) and
// the cell size of the copy.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include "controls/ButtonST.h"
#include "platform/ui/KvDialog.h"

class CKelvaroDoc;
struct CadDrawing;

class CResizeDEMDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 370,
        IDC_SELECT_DEM = 1587,  // also the dialog's result when the operator wants to pick the DEM
        IDC_CURRENT_GSD = 1590,
        IDC_TARGET_GSD = 1591,
        IDC_BROWSE = 1592,
        IDC_DEM_PATH = 1593,
        IDC_BROWSE_EDIT = 1585,
    };

    CResizeDEMDlg(CKelvaroDoc* doc, CadDrawing* drawing, QString demPath, double currentGsd,
                  QWidget* parent = nullptr);

    CKelvaroDoc* m_pDoc;
    CadDrawing* m_pCad;
    // The DEM file and its cell size; after OK, the cell size of the copy too (0 when the text is
    // no number).
    QString m_strDemPath;
    double m_dCurrentGSD;
    double m_dTargetGSD = 0.0;

    QLineEdit m_editPath;
    QPushButton m_btnBrowse;
    QPushButton m_btnSelectDem;
    QLabel m_lblCurrent;
    QLineEdit m_editCurrent;
    QLabel m_lblTarget;
    QLineEdit m_editTarget;
    QLineEdit m_editBrowse;
    CButtonST m_btnOK;
    CButtonST m_btnCancel;

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    // Takes a GeoTIFF DEM chosen in an open chooser; a file that does not open or is no DEM is
    // refused with a message and changes nothing.
    void OnBrowse();
};
