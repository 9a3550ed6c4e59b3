// The style of the entities burnt into an orthophoto: line type, step of the dashed polylines,
// line weight, colour and fill, with the presets of golf-course mapping (field, green, bunker,
// tee, water, measurement lines and the tee colours). OK keeps the style in the per-user profile;
// "Cancel" ends the drawing without writing (24), "Draw All" writes what was drawn (25).
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <vector>

#include "controls/ColorRef.h"
#include "controls/KvColorButton.h"
#include "platform/ui/KvDialog.h"

class CDrawPolyOnOrthoDlg : public KvDialog {
    Q_OBJECT
public:
    enum {
        IDD = 368,
        // The dialog's own results.
        IDC_CANCEL_DRAWING = 24,
        IDC_DRAW_ALL = 25,
    };

    explicit CDrawPolyOnOrthoDlg(QWidget* parent = nullptr);

    // The style taken by the last OK (the fill also by a click on its box).
    int m_nStep = 10;
    int m_nWeight = 8;
    COLORREF m_Color = kv::Rgb(255, 255, 255);
    int m_bArc = 0;
    int m_bDashedPoly = 0;
    int m_bDashedSegment = 0;
    int m_bContinua = 0;
    int m_bContinuaLunga = 0;
    int m_bFilled = 0;
    int m_bCircle = 0;

    QLineEdit m_editStep;               // 1577
    QLineEdit m_editWeight;             // 1578
    QLineEdit m_edit1582;               // present, not used
    QLineEdit m_edit1583;               // present, not used
    KvColorButton m_btnColor;           // 1680
    QRadioButton m_radioArc;            // 1683
    QRadioButton m_radioDashedPoly;     // 1584
    QRadioButton m_radioDashedSegment;  // 1682
    QRadioButton m_radioContinua;       // 1681
    QRadioButton m_radioContinuaLunga;  // 1685
    QRadioButton m_radioCircle;         // 1686
    QCheckBox m_checkFilled;            // 1576
    QPushButton m_btnCancel;            // 1071
    QPushButton m_btnDrawAll;           // 1684
    QPushButton m_btnOK;

    // The preset buttons, in the order of the layout; tests find them by caption.
    std::vector<QPushButton*> Presets() const { return m_presets; }

protected:
    // Every time the dialog opens: step "10" and weight "8", then the stored line type.
    bool OnInitDialog() override;
    void OnOK() override;
    void showEvent(QShowEvent* event) override;

private:
    // Checks the one line-type button (none for null) and clears the other five.
    void CheckLineType(QRadioButton* checked);
    // A line-type button chosen by the operator: its step, weight and colour, fill off.
    void ChooseLineType(QRadioButton* button, const QString& step, const QString& weight, COLORREF colour);
    QPushButton* AddPreset(const QString& caption, COLORREF colour, const QString& weight);
    std::vector<QRadioButton*> LineTypes();

    bool m_opened = false;
    std::vector<QPushButton*> m_presets;
};
