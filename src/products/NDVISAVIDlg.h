// "NDVI/SAVI": the red and near-infrared bands among the bands of the project's orthophotos and
// maps, NDVI or SAVI with its soil brightness, the output file, and the computation with its
// progress and Abort. A computed map joins the project as a map layer named after its file.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include <gdal.h>

#include "controls/ButtonST.h"
#include "controls/ProgressTimeToComplete.h"
#include "platform/ui/KvDialog.h"

class CKelvaroDoc;
struct CadEntity;

class CNDVISAVIDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 383,
        IDC_RED = 1626,
        IDC_NIR = 1628,
        IDC_SAVI = 1584,
        IDC_SOIL_BRIGHTNESS = 1629,
        IDC_PROGRESS = 1024,
        IDC_ABORT = 1055,
    };

    // The area is the closed polyline the index is limited to; none gives the bands' common
    // extent.
    CNDVISAVIDlg(CKelvaroDoc* doc, CadEntity* area, QWidget* parent = nullptr);

    // Enables or disables together the band lists, the SAVI box and factor, OK and Cancel.
    void LockControls(bool locked);

    CKelvaroDoc* m_pDoc;
    CadEntity* m_pArea;
    // 0 while a computation runs; 1 once the operator pressed Abort.
    int m_nAbort = 0;

    QGroupBox m_grpRed;
    QComboBox m_cmbRed;
    QGroupBox m_grpNir;
    QComboBox m_cmbNir;
    QCheckBox m_chkSavi;
    QLabel m_lblSoilBrightness;
    QLineEdit m_editSoilBrightness;
    TProgressTimeToComplete m_progress;
    CButtonST m_btnOK;
    CButtonST m_btnCancel;
    CButtonST m_btnAbort;

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void OnBnClickedSavi();
    void OnBnClickedAbort();
    // Fills both lists: one item per band of every orthophoto, then of every map, with an open
    // dataset and not named "Background".
    void FillChannels();
    GDALRasterBandH ChosenBand(const QComboBox& list) const;
};
