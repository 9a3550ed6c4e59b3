#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "platform/ui/Interaction.h"
#include "platform/ui/KvDialog.h"
#include "support/MouseInput.h"
#include "support/ScriptedInteraction.h"

namespace {

// A dialog that finds nothing to work on and ends itself while it is being set up.
class EndsAtInit : public KvDialog {
protected:
    bool OnInitDialog() override {
        EndDialog(IDCANCEL);
        return true;
    }
};

// Two fields and a check box framed by a group box that is made after them, as the classic layouts
// list a box after the controls it frames.
class FramedFields : public KvDialog {
public:
    FramedFields()
        : first(this),
          second(this),
          box(QStringLiteral("Hide Text"), this),
          frame(QStringLiteral("Elevation"), this) {
        setFixedSize(240, 140);
        first.setGeometry(100, 30, 120, 22);
        second.setGeometry(100, 60, 120, 22);
        box.setGeometry(20, 95, 120, 20);
        frame.setGeometry(10, 10, 220, 120);
    }
    QLineEdit first, second;
    QCheckBox box;
    QGroupBox frame;
};

}  // namespace

TEST(KvDialog, ClicksReachTheFieldsAndBoxesThatAGroupBoxFrames) {
    FramedFields dialog;
    bool clicked = false;
    QTimer::singleShot(0, &dialog, [&] {
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        kvtest::ClickThroughWindow(&dialog.second);
        EXPECT_EQ(dialog.focusWidget(), &dialog.second);
        QTest::keyClick(dialog.windowHandle(), Qt::Key_5);
        kvtest::ClickThroughWindow(&dialog.first);
        EXPECT_EQ(dialog.focusWidget(), &dialog.first);
        kvtest::ClickThroughWindow(&dialog.box);
        EXPECT_TRUE(dialog.box.isChecked());
        clicked = true;
        dialog.reject();
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(dialog.second.text(), QStringLiteral("5"));
    EXPECT_TRUE(dialog.first.text().isEmpty());
}

TEST(KvDialog, EndingDuringSetUpDoesNotHangTheRealModalLoop) {
    EndsAtInit dialog;
    bool stuck = false;
    // A safety net: if the loop never ends, close it after a while and fail.
    QTimer::singleShot(5000, &dialog, [&] {
        stuck = true;
        dialog.done(99);
    });
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_FALSE(stuck);
}

TEST(KvDialog, EndingDuringSetUpUnderTheScriptedService) {
    kvtest::ScriptedInteraction script;
    EndsAtInit dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_EQ(script.Dialogs().size(), 1);
}

TEST(KvDialog, ResultsAreTheClassicIds) {
    kvtest::ScriptedInteraction script;
    KvDialog ok;
    script.AnswerModal([](QDialog& d) {
        d.accept();
        return -1;
    });
    EXPECT_EQ(ok.DoModal(), IDOK);
    KvDialog cancel;
    script.AnswerModal([](QDialog& d) {
        d.reject();
        return -1;
    });
    EXPECT_EQ(cancel.DoModal(), IDCANCEL);
    KvDialog own;
    script.AnswerModal([](QDialog& d) {
        static_cast<KvDialog&>(d).EndDialog(101);
        return -1;
    });
    EXPECT_EQ(own.DoModal(), 101);
}
