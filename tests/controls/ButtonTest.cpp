#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "controls/ButtonST.h"
#include "controls/KvIcons.h"
#include "support/Pictures.h"
#include "support/TestEnv.h"

TEST(CButtonST, IconsByNumberAndTheDisabledStateIcon) {
    CButtonST button("OK");
    EXPECT_EQ(button.SetIcon(IDI_OK, IDI_OK_DISABLED), 0);
    EXPECT_EQ(button.CurrentIcon().toImage(), KvLoadIcon(IDI_OK).toImage());
    button.setEnabled(false);
    EXPECT_EQ(button.CurrentIcon().toImage(), KvLoadIcon(IDI_OK_DISABLED).toImage());

    // Without a second icon the normal one shows in every state.
    EXPECT_EQ(button.SetIcon(IDI_CANCEL), 0);
    EXPECT_EQ(button.CurrentIcon().toImage(), KvLoadIcon(IDI_CANCEL).toImage());

    // A missing icon drops both and reports the failure.
    EXPECT_EQ(button.SetIcon(12345, IDI_OK_DISABLED), 1);
    EXPECT_TRUE(button.CurrentIcon().isNull());
    EXPECT_EQ(button.SetIcon(IDI_OK, 12345), 1);
    EXPECT_TRUE(button.NormalIcon().isNull());
}

TEST(CButtonST, DoubleClickActsAsTwoClicks) {
    QWidget window;
    window.resize(200, 60);
    CButtonST button("Generate", &window);
    button.setGeometry(10, 10, 100, 30);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QSignalSpy clicks(&button, &QPushButton::clicked);
    // Through the window, as the windowing system delivers it: press, release, press, double click.
    QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {}, QPoint(60, 25));
    EXPECT_EQ(clicks.count(), 2);

    // In check-box mode each click toggles.
    button.setCheckable(true);
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_TRUE(button.isChecked());
    QTest::mouseClick(&button, Qt::LeftButton);
    EXPECT_FALSE(button.isChecked());
}

TEST(CButtonST, DisablingMovesTheFocusToTheNextControl) {
    QDialog dialog;
    QLineEdit first(&dialog);
    CButtonST button("Apply", &dialog);
    QLineEdit next(&dialog);
    first.move(0, 0);
    button.move(0, 30);
    next.move(0, 60);
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    first.setFocus();
    // The focus moves on also when it was on another control.
    button.setEnabled(false);
    EXPECT_EQ(dialog.focusWidget(), &next);
}

TEST(CButtonST, Screenshot) {
    QWidget panel;
    panel.resize(330, 50);
    CButtonST ok("OK", &panel);
    CButtonST cancel("Cancel", &panel);
    CButtonST disabled("OK", &panel);
    CButtonST iconOnly(&panel);
    ok.SetIcon(IDI_OK, IDI_OK_DISABLED);
    cancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    cancel.SetTooltipText("Close without saving");
    disabled.SetIcon(IDI_OK, IDI_OK_DISABLED);
    disabled.setEnabled(false);
    iconOnly.SetIcon(IDI_OK);
    ok.setGeometry(10, 10, 80, 28);
    cancel.setGeometry(95, 10, 80, 28);
    disabled.setGeometry(180, 10, 80, 28);
    iconOnly.setGeometry(265, 10, 40, 28);
    panel.show();
    const QImage shot = kvtest::Screenshot(&panel, "CButtonST");
    // Every button shows its icon (and caption); the disabled one its grey icon.
    for (CButtonST* button : {&ok, &cancel, &disabled, &iconOnly}) {
        EXPECT_GT(kvtest::ColourCount(shot, button->geometry()), 10) << button->text().toStdString();
    }
    EXPECT_NE(shot.copy(ok.geometry()), shot.copy(disabled.geometry()));
    EXPECT_NE(shot.copy(ok.geometry()), shot.copy(cancel.geometry()));
    // Around them the panel shows its own colour.
    EXPECT_EQ(kvtest::ColourShare(shot, panel.palette().color(QPalette::Window), QRect(0, 40, 330, 10)), 1.0);
    EXPECT_EQ(cancel.toolTip(), "Close without saving");
    cancel.SetTooltipText(QString());  // a null text is ignored
    EXPECT_EQ(cancel.toolTip(), "Close without saving");
}
