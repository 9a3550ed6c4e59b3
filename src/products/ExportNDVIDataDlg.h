// "Export Data": the four thresholds and five colours of the classes of a vegetation-index
// report, the report's name, whether to open it, and the stored defaults.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "controls/ButtonST.h"
#include "controls/ColorRef.h"
#include "controls/KvColorButton.h"
#include "platform/ui/KvDialog.h"

class CExportNDVIDataDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 404,
        IDC_NAME = 1342,
        IDC_T1 = 1664,
        IDC_T2 = 1665,
        IDC_T3 = 1033,
        IDC_T4 = 1666,
        IDC_MAXIMUM = 1667,
        IDC_OVER = 1673,
        IDC_COLOR_MIN = 1669,
        IDC_COLOR_1 = 1670,
        IDC_COLOR_2 = 1671,
        IDC_COLOR_3 = 1672,
        IDC_COLOR_OVER = 1674,
        IDC_USE_DEFAULTS = 1584,
        IDC_SAVE_DEFAULTS = 1625,
        IDC_CLEAR_DEFAULTS = 1668,
        IDC_OPEN_REPORT = 1675,
    };
    static constexpr int kClasses = 5;
    // The classes' colours when nothing else is stored: Min, 1, 2, 3, Over3.
    static const COLORREF kDefaultColors[kClasses];

    // The highest and lowest index value in the area and the map's file path.
    CExportNDVIDataDlg(double maximum, double minimum, const QString& mapPath, QWidget* parent = nullptr);

    // The report's name (the base name of its files).
    QString GetReportPath() const { return m_strReportName; }
    // The report's file and its picture: the name with extension "pdf" and "jpg" in the map's
    // folder. OK refuses a name whose picture would replace a loaded layer's file.
    QString ReportFile() const;
    QString PictureFile() const;

    double m_dMaximum;
    double m_dMinimum;
    QString m_strMapPath;
    double m_dT1 = 0.0, m_dT2 = 0.0, m_dT3 = 0.0, m_dT4 = 0.0;
    double m_dShownMaximum = 0.0;
    COLORREF m_colors[kClasses] = {};
    QString m_strReportName;
    int m_nOpenReport = 1;
    int m_nUseDefaults = 0;
    int m_nCancelled = 0;

    QGroupBox m_grpFilter;
    QLabel m_lblHint;
    QLabel m_lblName;
    QLineEdit m_editName;
    QLabel m_lblClass[kClasses];
    QLineEdit m_editThreshold[4];
    QLineEdit m_editOver;
    KvColorButton m_btnColor[kClasses];
    QLabel m_lblMaximum;
    QLineEdit m_editMaximum;
    QCheckBox m_chkUseDefaults;
    CButtonST m_btnSaveDefaults;
    CButtonST m_btnClearDefaults;
    QCheckBox m_chkOpenReport;
    CButtonST m_btnOK;
    CButtonST m_btnCancel;

    void OnBnClickedSaveDefault();
    void OnBnClickedClearDefault();
    void OnBnClickedCheckDefault();
    void OnEnChangeThreshold();
    void OnBnClickedCheckOpenReport();

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    // The thresholds from the map's range and the default colours.
    void ShowComputedValues();
    // The stored defaults, when at least one stored threshold is not 0; false otherwise.
    bool ShowStoredDefaults();
    void ShowThresholds(double t1, double t2, double t3, double t4);
    void ReadControls();
};
