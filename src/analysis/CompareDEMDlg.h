// "Compare surfaces": the reference DEM, the compared surface (a DEM, or LAS or ASCII x y z point
// files), the comparison step, the two thresholds of the difference classes and their colours.
// The buttons that pick a DEM in the drawing end the dialog with their own id; the command picks
// and opens a new dialog.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>

#include "controls/ButtonST.h"
#include "controls/ColorRef.h"
#include "controls/KvColorButton.h"
#include "platform/ui/KvDialog.h"

class CKelvaroDoc;
struct CadDrawing;

class CCompareDEMDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 374,
        IDC_PICK_REFERENCE = 1597,  // also the dialog's result
        IDC_PICK_COMPARED = 1609,   // also the dialog's result
        IDC_BROWSE_REFERENCE = 1600,
        IDC_BROWSE_COMPARED = 1599,
        IDC_REFERENCE_PATH = 1601,
        IDC_COMPARED_PATH = 1598,
        IDC_REFERENCE_GSD = 1605,
        IDC_COMPARED_GSD = 1606,
        IDC_STEP = 1570,
        IDC_VALUE1 = 1603,
        IDC_VALUE2 = 1033,
        IDC_COLOUR_BETWEEN = 1677,
        IDC_COLOUR_ABOVE = 1678,
        IDC_COLOUR_BELOW = 1679,
    };

    CCompareDEMDlg(CKelvaroDoc* doc, CadDrawing* drawing, QString referencePath, QString comparedPath,
                   double step, double value1, double value2, double referenceGsd, double comparedGsd,
                   QWidget* parent = nullptr);

    QString GetReferencePath() const { return m_strReferencePath; }
    QString GetComparedPath() const { return m_strComparedPath; }
    QStringList GetAsciiFiles() const { return m_asciiFiles; }
    QStringList GetLasFiles() const { return m_lasFiles; }

    CKelvaroDoc* m_pDoc;
    CadDrawing* m_pCad;
    QString m_strReferencePath;
    QString m_strComparedPath;
    QStringList m_asciiFiles;
    QStringList m_lasFiles;
    // Read from the fields at OK.
    double m_dStep;
    double m_dReferenceGSD;
    double m_dComparedGSD;
    double m_dValue1;
    double m_dValue2;
    COLORREF m_crBelow = 0x00FF00;
    COLORREF m_crBetween = 0x00FFFF;
    COLORREF m_crAbove = 0x0000FF;

    QGroupBox m_grpReference;
    QGroupBox m_grpCompared;
    QLineEdit m_editReference;
    QPushButton m_btnBrowseReference;
    QPushButton m_btnPickReference;
    QLabel m_lblReferenceGsd;
    QLineEdit m_editReferenceGsd;
    QLineEdit m_editCompared;
    QPushButton m_btnBrowseCompared;
    QPushButton m_btnPickCompared;
    QLabel m_lblComparedGsd;
    QLineEdit m_editComparedGsd;
    QLabel m_lblStep;
    QLineEdit m_editStep;
    QLabel m_lblNote;
    QLabel m_lblValue1;
    QLineEdit m_editValue1;
    QLabel m_lblValue2;
    QLineEdit m_editValue2;
    QLabel m_lblBelow;
    KvColorButton m_btnBelow;
    QLabel m_lblBetween;
    KvColorButton m_btnBetween;
    QLabel m_lblAbove;
    KvColorButton m_btnAbove;
    CButtonST m_btnOK;
    CButtonST m_btnCancel;

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    void OnBnClickedBrowseReference();
    void OnBnClickedBrowseCompared();
    // Step, thresholds and the reference GSD can be set once both surfaces are chosen.
    void EnableValueFields();
};

// What the step field proposes for a cell size: "%.2lf", with more decimals where that would show
// a cell size finer than a centimetre as 0.
QString ComparisonStepText(double gsd);
