// A choice among three large labelled icon buttons, asked between picks in the drawing ("Select
// existing area", "Draw new area", "Use total area" or "Exit"). The caller sets the title and the
// captions, runs DoModal and acts on the answer: 100, 101 or 102 for the left, middle and right
// button, 2 for Escape or closing (and at once when there is no document), 1 for Enter.
#pragma once

#include <QString>

#include "controls/ButtonST.h"
#include "platform/ui/KvDialog.h"

class CKelvaroDoc;

class CGenericSelectionDlg : public KvDialog {
    Q_OBJECT
public:
    enum : int { IDC_LEFT = 100, IDC_MIDDLE = 101, IDC_RIGHT = 102 };

    // rightButtonFlag 0: the right button leaves ("Exit"); 1: it is a third way on ("Use total area").
    CGenericSelectionDlg(CKelvaroDoc* doc, int rightButtonFlag, QWidget* parent = nullptr);

    QString m_strLeftCaption;
    QString m_strMiddleCaption;
    QString m_strRightCaption;
    QString m_strTitle;

    CButtonST m_btnLeft;
    CButtonST m_btnMiddle;
    CButtonST m_btnRight;

protected:
    bool OnInitDialog() override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void SetButton(CButtonST& button, int iconId, const QString& caption);

    CKelvaroDoc* m_pDoc;
    int m_nRightButton;
};
