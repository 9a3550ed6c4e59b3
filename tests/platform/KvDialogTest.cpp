#include <QTimer>

#include <gtest/gtest.h>

#include "platform/ui/Interaction.h"
#include "platform/ui/KvDialog.h"
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

}  // namespace

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
