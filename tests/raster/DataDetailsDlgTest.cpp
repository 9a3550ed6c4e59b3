#include <QTest>

#include <gtest/gtest.h>

#include "platform/tools/ZQT.h"
#include "raster/DataDetailsDlg.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

struct Outcome {
    int result = 0;
    int shownIndex = -2;
    QStringList items;
    MapType type = MapTypeOther;
    QStringList messages;
};

// Opens the dialog, notes what it shows, picks `pick` (-1: nothing) and presses OK, then Cancel
// when OK did not close it.
Outcome RunDialog(int pick) {
    kvtest::ScriptedInteraction ui;
    CDataDetailsDlg dlg;
    Outcome o;
    ui.AnswerModal([&](QDialog&) {
        o.shownIndex = dlg.m_cbType.currentIndex();
        for (int i = 0; i < dlg.m_cbType.count(); ++i) {
            o.items << dlg.m_cbType.itemText(i);
        }
        dlg.m_cbType.setCurrentIndex(pick);
        QTest::mouseClick(&dlg.m_btnOK, Qt::LeftButton);
        if (dlg.isVisible()) {
            QTest::mouseClick(&dlg.m_btnCancel, Qt::LeftButton);
        }
        return -1;
    });
    o.result = dlg.DoModal();
    o.type = dlg.GetMapType();
    o.messages = ui.MessageTexts();
    return o;
}

}  // namespace

TEST(CDataDetailsDlg, ChoosesTheKindAndRemembersTheEntry) {
    ZQT_WriteUserProfileString("Analysis Data", "Type", "");
    Outcome first = RunDialog(3);
    EXPECT_EQ(first.items,
              (QStringList{"Catchment Map", "NDVI Map", "Other Map", "Slope Map", "Wetness Map"}));
    EXPECT_EQ(first.shownIndex, -1);
    EXPECT_EQ(first.result, IDOK);
    EXPECT_EQ(first.type, MapTypeSlope);
    EXPECT_EQ(ZQT_GetUserProfileString(QString("Analysis Data"), QString("Type"), QString()), "3");

    Outcome second = RunDialog(0);
    EXPECT_EQ(second.shownIndex, 3);
    EXPECT_EQ(second.type, MapTypeCatchment);
    // A stored 0 reads as "nothing chosen yet".
    EXPECT_EQ(RunDialog(1).shownIndex, -1);
    const MapType kinds[] = {MapTypeCatchment, MapTypeNDVI, MapTypeOther, MapTypeSlope, MapTypeWetness};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(RunDialog(i).type, kinds[i]);
    }
}

TEST(CDataDetailsDlg, OkWithoutAChoiceWarnsAndStaysOpen) {
    ZQT_WriteUserProfileString("Analysis Data", "Type", "4");
    Outcome o = RunDialog(-1);
    EXPECT_EQ(o.messages, QStringList{"Select data type!"});
    EXPECT_EQ(o.result, IDCANCEL);
    EXPECT_EQ(ZQT_GetUserProfileString(QString("Analysis Data"), QString("Type"), QString()), "4");
}

TEST(CDataDetailsDlg, Screenshot) {
    kvtest::ScriptedInteraction ui;
    CDataDetailsDlg dlg;
    ui.AnswerModal([&](QDialog&) {
        // The window's colour around a drawn choice box and the two buttons with their icons.
        const QImage shot = kvtest::Screenshot(&dlg, "CDataDetailsDlg");
        EXPECT_GT(kvtest::ColourShare(shot, dlg.palette().color(QPalette::Window)), 0.4);
        EXPECT_GT(kvtest::ColourCount(shot, dlg.m_cbType.geometry()), 2);
        EXPECT_GT(kvtest::ColourCount(shot, dlg.m_btnOK.geometry()), 10);
        EXPECT_GT(kvtest::ColourCount(shot, dlg.m_btnCancel.geometry()), 10);
        return IDCANCEL;
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.windowTitle(), "Data Type Selection");
    EXPECT_FALSE(dlg.m_btnOK.NormalIcon().isNull());
}
