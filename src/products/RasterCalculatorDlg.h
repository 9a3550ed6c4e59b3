// "Raster Calculator": the project's layers with their bands, the formula with its operator
// buttons, and the evaluation with its progress and Abort. A completed evaluation adds the new
// map to the project and closes the dialog; a refused or aborted one leaves it open.
#pragma once

#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <vector>

#include "controls/ButtonST.h"
#include "controls/ProgressTimeToComplete.h"
#include "controls/ReportCtrl.h"
#include "platform/ui/KvDialog.h"
#include "products/RasterCalculator.h"

class CKelvaroDoc;

class CRasterCalculatorDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 384,
        IDC_LIST = 1631,
        IDC_FORMULA = 1632,
        IDC_PLUS = 1625,
        IDC_MINUS = 1626,
        IDC_DIVIDE = 1627,
        IDC_MULTIPLY = 1628,
        IDC_OPEN_BRACKET = 1629,
        IDC_CLOSE_BRACKET = 1630,
        IDC_CLEAR = 1639,
        IDC_EVALUATE = 1637,
        IDC_CANCEL = 1638,
        IDC_PROGRESS = 1635,
        IDC_ABORT = 1055,
        IDC_LOAD = 1633,
        IDC_SAVE = 1027,
    };
    // Text colours of the rows by layer kind.
    static constexpr COLORREF kDemColor = 0x001BA7DB;    // RGB(219, 167, 27)
    static constexpr COLORREF kOrthoColor = 0x00DEB32F;  // RGB(47, 179, 222)
    static constexpr COLORREF kMapColor = 0x001EBA25;    // RGB(37, 186, 30)

    explicit CRasterCalculatorDlg(CKelvaroDoc* doc, QWidget* parent = nullptr);

    // Disables (or enables again) Evaluate, Cancel, the formula and its buttons.
    void LockControls(bool locked);
    // A double click on a band cell appends "name<band> " to the formula.
    void OnNMDblclkList(int row, int column);
    void OnBnClickedEvaluate();

    CKelvaroDoc* m_pDoc;
    int m_nAbort = 0;

    QGroupBox m_grpInput;
    CReportCtrl m_list;
    QGroupBox m_grpFormula;
    QLineEdit m_editFormula;
    QPushButton m_btnPlus;
    QPushButton m_btnMinus;
    QPushButton m_btnDivide;
    QPushButton m_btnMultiply;
    QPushButton m_btnOpenBracket;
    QPushButton m_btnCloseBracket;
    QPushButton m_btnClear;
    QPushButton m_btnLoad;
    QPushButton m_btnSave;
    TProgressTimeToComplete m_progress;
    CButtonST m_btnEvaluate;
    CButtonST m_btnCancel;
    CButtonST m_btnAbort;

protected:
    bool OnInitDialog() override;

private:
    // Appends an operator: after a space when the formula is not empty and does not end with one.
    void AppendOperator(const QString& token);
    void OnBnClickedCloseBracket();
    std::vector<calc::LayerRow> Rows() const;
};
