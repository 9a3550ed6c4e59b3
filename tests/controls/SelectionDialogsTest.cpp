#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>

#include <gtest/gtest.h>

#include "controls/GenericSelectionDlg.h"
#include "controls/InputValueDlg.h"
#include "controls/KvIcons.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

// The dialogs only hold the document for their callers; any non-null address serves.
CKelvaroDoc* SomeDoc() {
    static int anything = 0;
    return reinterpret_cast<CKelvaroDoc*>(&anything);
}

int RunSelection(int flag, const std::function<void(CGenericSelectionDlg&)>& act) {
    kvtest::ScriptedInteraction ui;
    CGenericSelectionDlg dlg(SomeDoc(), flag);
    dlg.m_strTitle = "Area selection";
    dlg.m_strLeftCaption = "Select existing area";
    dlg.m_strMiddleCaption = "Draw new area";
    dlg.m_strRightCaption = flag ? "Use total area" : "Exit";
    ui.AnswerModal([&](QDialog&) {
        act(dlg);
        return -1;
    });
    return dlg.DoModal();
}

}  // namespace

TEST(CGenericSelectionDlg, AnswersByButton) {
    EXPECT_EQ(
        RunSelection(1, [](CGenericSelectionDlg& d) { QTest::mouseClick(&d.m_btnLeft, Qt::LeftButton); }),
        100);
    EXPECT_EQ(
        RunSelection(1, [](CGenericSelectionDlg& d) { QTest::mouseClick(&d.m_btnMiddle, Qt::LeftButton); }),
        101);
    EXPECT_EQ(
        RunSelection(1, [](CGenericSelectionDlg& d) { QTest::mouseClick(&d.m_btnRight, Qt::LeftButton); }),
        102);
    EXPECT_EQ(RunSelection(0, [](CGenericSelectionDlg& d) { QTest::keyClick(&d, Qt::Key_Escape); }), 2);
    EXPECT_EQ(RunSelection(0, [](CGenericSelectionDlg& d) { d.close(); }), 2);
}

TEST(CGenericSelectionDlg, RightButtonIconFollowsTheFlagAndTitleIsShown) {
    kvtest::ScriptedInteraction ui;
    QImage rightButtons[2];
    for (int flag : {0, 1}) {
        CGenericSelectionDlg dlg(SomeDoc(), flag);
        dlg.m_strTitle = flag ? "Area selection" : "";
        dlg.m_strLeftCaption = "Select existing area";
        dlg.m_strMiddleCaption = "Draw new area";
        dlg.m_strRightCaption = flag ? "Use total area" : "Exit";
        ui.AnswerModal([&](QDialog&) {
            const int icon = flag ? IDI_TOTAL_AREA : IDI_CANCEL;
            EXPECT_EQ(dlg.m_btnRight.NormalIcon().toImage(), KvLoadIcon(icon, 32).toImage());
            EXPECT_EQ(dlg.m_btnRight.text(), flag ? "Use total area" : "Exit");
            EXPECT_EQ(dlg.windowTitle(), flag ? "Area selection" : "");
            const QImage shot = kvtest::Screenshot(
                &dlg, flag ? "CGenericSelectionDlg_total_area" : "CGenericSelectionDlg_exit");
            // Each of the three buttons shows its icon and caption.
            for (CButtonST* button : {&dlg.m_btnLeft, &dlg.m_btnMiddle, &dlg.m_btnRight}) {
                EXPECT_GT(kvtest::ColourCount(shot, button->geometry()), 10);
            }
            rightButtons[flag] = shot.copy(dlg.m_btnRight.geometry());
            return -1;
        });
        EXPECT_EQ(dlg.DoModal(), 2);
    }
    EXPECT_NE(rightButtons[0], rightButtons[1]);
}

TEST(CGenericSelectionDlg, WithoutDocumentEndsAtOnceAlsoInARealModalLoop) {
    CGenericSelectionDlg dlg(nullptr, 1);
    // A safety net, so that a dialog left waiting in its modal loop cannot hang the suite.
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &dlg, [&] {
        dlg.show();
        dlg.EndDialog(-7);
    });
    guard.start(5000);
    EXPECT_EQ(dlg.DoModal(), 2);
}

TEST(CInputValueDlg, OkGivesTypedTextCancelGivesInitialText) {
    kvtest::ScriptedInteraction ui;
    {
        CInputValueDlg dlg("1");
        dlg.m_strCaption = "Insert size [m] of pixels";
        ui.AnswerModal([&](QDialog&) {
            EXPECT_EQ(dlg.m_Edit.text(), "1");
            dlg.m_Edit.selectAll();
            QTest::keyClicks(&dlg.m_Edit, "2.5");
            // The typed value stands in the edit field.
            const QImage shot = kvtest::Screenshot(&dlg, "CInputValueDlg");
            const QRect edit = dlg.m_Edit.geometry();
            EXPECT_GT(kvtest::ColourShare(shot, dlg.m_Edit.palette().color(QPalette::Base), edit), 0.5);
            EXPECT_GT(kvtest::ColourShare(shot, dlg.m_Edit.palette().color(QPalette::Text), edit, 96), 0.0);
            EXPECT_GT(kvtest::ColourCount(shot, dlg.m_btnOK.geometry()), 3);
            QTest::mouseClick(&dlg.m_btnOK, Qt::LeftButton);
            return -1;
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(dlg.GetValue(), "2.5");
        EXPECT_EQ(dlg.windowTitle(), "Insert size [m] of pixels");
    }
    {
        CInputValueDlg dlg("1");
        ui.AnswerModal([&](QDialog&) {
            dlg.m_Edit.setText("2.5");
            QTest::mouseClick(&dlg.m_btnCancel, Qt::LeftButton);
            return -1;
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(dlg.GetValue(), "1");
    }
    {
        CInputValueDlg dlg("");
        ui.AnswerModal([&](QDialog&) {
            QTest::keyClicks(&dlg.m_Edit, "12.75");
            QTest::keyClick(&dlg.m_Edit, Qt::Key_Return);
            return -1;
        });
        EXPECT_EQ(dlg.DoModal(), IDOK);
        EXPECT_EQ(dlg.GetValue(), "12.75");
    }
}
