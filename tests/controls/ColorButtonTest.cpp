// The colour button: its face, the chooser answered through the interaction service, and the
// change signal; and the sheet layout's icons and previews.
#include <QColorDialog>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "controls/KvColorButton.h"
#include "controls/KvIcons.h"
#include "support/ScriptedInteraction.h"

namespace {

QColor FaceCentre(KvColorButton& button) {
    return button.grab().toImage().pixelColor(button.rect().center());
}

TEST(KvColorButton, ShowsItsColourAndTakesTheChoiceOfTheChooser) {
    kvtest::ScriptedInteraction ui;
    KvColorButton button;
    button.resize(60, 26);
    button.SetColor(0xFF0000FFu);  // the high byte is no part of a colour
    EXPECT_EQ(button.GetColor(), kv::Rgb(255, 0, 0));
    EXPECT_EQ(FaceCentre(button), QColor(255, 0, 0));
    QSignalSpy changed(&button, &KvColorButton::ColorChanged);

    // The chooser opens on the colour shown; OK takes its colour and tells about the change.
    QColor offered;
    ui.AnswerModal([&offered](QDialog& dialog) {
        auto& chooser = dynamic_cast<QColorDialog&>(dialog);
        offered = chooser.currentColor();
        chooser.setCurrentColor(QColor(10, 200, 30));
        return IDOK;
    });
    button.click();
    EXPECT_EQ(offered, QColor(255, 0, 0));
    EXPECT_EQ(button.GetColor(), kv::Rgb(10, 200, 30));
    EXPECT_EQ(FaceCentre(button), QColor(10, 200, 30));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).value<COLORREF>(), kv::Rgb(10, 200, 30));

    // Cancel keeps the colour; choosing the same colour again, or setting one, is no change.
    ui.AnswerModal([](QDialog& dialog) {
        dynamic_cast<QColorDialog&>(dialog).setCurrentColor(Qt::blue);
        return IDCANCEL;
    });
    EXPECT_FALSE(button.ChooseColor());
    ui.AnswerModal(IDOK);
    EXPECT_TRUE(button.ChooseColor());
    button.SetColor(kv::Rgb(0, 0, 0));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(FaceCentre(button), QColor(0, 0, 0));
    EXPECT_EQ(ui.Dialogs(), QStringList({"QColorDialog", "QColorDialog", "QColorDialog"}));
}

TEST(KvIcons, SheetLayoutIconsAndStylePreviews) {
    // Each pick and layer button has a normal and a different disabled icon.
    for (int id : {IDI_LAYER_PROPERTIES, IDI_PICK_LOWER_LEFT, IDI_PICK_UPPER_RIGHT}) {
        const QImage normal = KvLoadIcon(id).toImage();
        const QImage disabled = KvLoadIcon(id + 1).toImage();
        EXPECT_FALSE(normal.isNull()) << id;
        EXPECT_FALSE(disabled.isNull()) << id;
        EXPECT_NE(normal, disabled) << id;
    }
    EXPECT_NE(KvLoadIcon(IDI_PICK_LOWER_LEFT).toImage(), KvLoadIcon(IDI_PICK_UPPER_RIGHT).toImage());
    // The three previews differ inside the frame: crosses, lines, nothing.
    const QImage cross = KvLoadBitmap(IDB_SHEET_STYLE_CROSS).toImage();
    const QImage line = KvLoadBitmap(IDB_SHEET_STYLE_LINE).toImage();
    const QImage simple = KvLoadBitmap(IDB_SHEET_STYLE_SIMPLE).toImage();
    ASSERT_FALSE(cross.isNull() || line.isNull() || simple.isNull());
    EXPECT_EQ(simple.pixelColor(48, 39), QColor(Qt::white));
    EXPECT_NE(cross.pixelColor(48, 39), QColor(Qt::white));
    EXPECT_EQ(cross.pixelColor(40, 39), QColor(Qt::white));
    EXPECT_NE(line.pixelColor(40, 39), QColor(Qt::white));
}

}  // namespace
