// The About and User Data dialogs, and the desktop entry's command line.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/AboutDlg.h"
#include "app/FileTypeRegistration.h"
#include "app/UserDataDlg.h"
#include "platform/tools/ZQT.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

TEST(UserDataDlg, RefusesOkWithoutNameSurnameAndEmailAndWritesNothing) {
    ZQT_WriteUserProfileString("UserData", "UserData_EMail", "");
    kvtest::ScriptedInteraction ui;
    int result = 0;
    ui.AnswerModal([&](QDialog& dialog) {
        auto& dlg = dynamic_cast<CUserDataDlg&>(dialog);
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("User Data"));
        dlg.m_editName->setText("Ada");
        dlg.m_editSurname->setText("Rossi");
        dlg.m_editCompany->setText("Survey Ltd");
        dlg.m_btnOK->click();
        result = dlg.result();
        return -1;
    });
    CUserDataDlg dlg;
    dlg.DoModal();
    EXPECT_NE(result, IDOK);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Name, Surname and EMail address are required!"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Warning);
    EXPECT_EQ(ZQT_GetUserProfileString("UserData", "UserData_Company", "unset"), QStringLiteral("unset"));
}

TEST(UserDataDlg, OkWithTheRequiredDataStoresAllFive) {
    ZQT_WriteUserProfileString("UserData", "UserData_Company", "Old Company");
    kvtest::ScriptedInteraction ui;
    ui.AnswerModal([](QDialog& dialog) {
        auto& dlg = dynamic_cast<CUserDataDlg&>(dialog);
        EXPECT_EQ(dlg.m_editCompany->text(), QStringLiteral("Old Company"));
        dlg.m_editName->setText("Ada");
        dlg.m_editSurname->setText("Rossi");
        dlg.m_editEmail->setText("ada@example.org");
        dlg.m_editCompany->clear();
        // The typed values stand in their fields; the cleared one is empty.
        const QImage shot = kvtest::Screenshot(&dlg, "user_data_dialog");
        const QColor ink = dlg.m_editName->palette().color(QPalette::Text);
        auto inside = [&](QWidget* edit) { return kvtest::PlaceIn(edit, &dlg).adjusted(4, 4, -4, -4); };
        for (QLineEdit* filled : {dlg.m_editName, dlg.m_editSurname, dlg.m_editEmail}) {
            EXPECT_GT(kvtest::ColourShare(shot, ink, inside(filled), 96), 0.0);
        }
        EXPECT_EQ(kvtest::ColourShare(shot, ink, inside(dlg.m_editCompany), 96), 0.0);
        EXPECT_GT(kvtest::ColourShare(shot, dlg.m_editCompany->palette().color(QPalette::Base),
                                      inside(dlg.m_editCompany)),
                  0.9);
        dlg.m_btnOK->click();
        return -1;
    });
    CUserDataDlg dlg;
    dlg.SetValues(ReadUserDataProfile());
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(ui.Messages().empty());
    UserDataValues stored = ReadUserDataProfile();
    EXPECT_EQ(stored.name, QStringLiteral("Ada"));
    EXPECT_EQ(stored.surname, QStringLiteral("Rossi"));
    EXPECT_EQ(stored.email, QStringLiteral("ada@example.org"));
    EXPECT_EQ(stored.company, QString());
    EXPECT_EQ(stored.telephone, QString());
    EXPECT_TRUE(stored.IsComplete());
}

TEST(UserDataDlg, ProfileValuesAreReadAsTheirBuffersHoldThem) {
    QByteArray longName(100, 'n');
    ZQT_WriteUserProfileString("UserData", "UserData_Name", longName.constData());
    EXPECT_EQ(ReadUserDataProfile().name.size(), 63);
}

TEST(AboutDlg, ShowsTheCutVersionAndTheMakersLinks) {
    QCoreApplication::setApplicationVersion(QStringLiteral("4.2.1.0"));
    kvtest::ScriptedInteraction ui;
    ui.AnswerModal([](QDialog& dialog) {
        auto& dlg = dynamic_cast<CAboutDlg&>(dialog);
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("About Kelvaro - www.drovane.example"));
        EXPECT_EQ(dlg.m_stVersion->text(), QStringLiteral("Ver. 4.2.1"));
        EXPECT_EQ(dlg.m_grpVersion->title(), QStringLiteral("Version"));
        EXPECT_EQ(dlg.m_linkEmail->GetURL(), QStringLiteral("mailto:info@drovane.example"));
        EXPECT_EQ(dlg.m_linkWeb->GetURL(), QStringLiteral("https://www.drovane.example"));
        // The links are written in blue, the version in the window's text colour.
        const QImage shot = kvtest::Screenshot(&dlg, "about_dialog");
        for (CHyperLink* link : {dlg.m_linkEmail, dlg.m_linkWeb}) {
            EXPECT_GT(kvtest::ColourShare(shot, Qt::blue, kvtest::PlaceIn(link, &dlg), 40), 0.0);
        }
        EXPECT_GT(kvtest::ColourShare(shot, dlg.palette().color(QPalette::WindowText),
                                      kvtest::PlaceIn(dlg.m_stVersion, &dlg), 96),
                  0.0);
        return IDOK;
    });
    CAboutDlg dlg;
    EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST(FileTypeRegistration, TheProgramPathIsQuotedForTheDesktopEntry) {
    EXPECT_EQ(DesktopExecValue("/opt/kelvaro/bin/kelvaro"), QStringLiteral("\"/opt/kelvaro/bin/kelvaro\""));
    // '"', '`', '$' and '\' take a backslash, which the entry's string escaping doubles; '%' doubles.
    EXPECT_EQ(DesktopExecValue("/my apps/$HOME/\"k\"/100%/kelvaro"),
              QStringLiteral("\"/my apps/\\\\$HOME/\\\\\"k\\\\\"/100%%/kelvaro\""));
}

}  // namespace
