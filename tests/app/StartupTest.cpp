// Start-up and shut-down of the application object, driven in this process.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>

#include "AppTestSupport.h"
#include "app/CommandLineInfo.h"
#include "app/FileTypeRegistration.h"
#include "app/FrameworkSettings.h"
#include "app/KelvaroDocTemplate.h"
#include "app/MainFrm.h"
#include "app/Ribbon.h"
#include "app/UserDataDlg.h"
#include "document/MapToolWindows.h"
#include "document/UserCommands.h"
#include "platform/changelog/ChangeLog.h"
#include "platform/crash/CrashReporter.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CommandIds.h"
#include "platform/ui/ElevationColorRamp.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::AppUnderTest;
using kvtest::RecordingTemplate;
using kvtest::StoreCompleteUserData;

QStringList PanelNames(CRibbonCategory* category) {
    QStringList names;
    for (int i = 0; i < category->GetPanelCount(); ++i) {
        names << category->GetPanel(i)->GetName();
    }
    return names;
}

TEST(Startup, WithoutArgumentsShowsTheMainWindowWithItsRibbonAndNoProject) {
    StoreCompleteUserData();
    kvtest::ScriptedInteraction ui;
    AppUnderTest t;
    QCoreApplication::setApplicationVersion(QStringLiteral("4.2.1.0"));
    ASSERT_NE(t.App().InitInstance(), 0);
    CMainFrame* frame = t.App().GetMainFrame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->GetMDIArea()->subWindowList().isEmpty());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Kelvaro 4.2.1 - Drovane Software - www.drovane.example"));
    EXPECT_EQ(frame->GetStatusPane(0)->text(),
              QStringLiteral("Kelvaro - Zirozadarazivad - No value             ."));
    EXPECT_EQ(frame->GetStatusPane(1)->text(), QStringLiteral("Drovane Software                "));
    EXPECT_TRUE(ui.Messages().empty());

    CRibbonBar* ribbon = frame->GetRibbonBar();
    QStringList categories;
    for (int i = 0; i < ribbon->GetCategoryCount(); ++i) {
        categories << ribbon->GetCategory(i)->GetName();
    }
    EXPECT_EQ(categories,
              QStringList({"Main", "CAD", "Mosaic Merge", "DEM Split / Merge", "AgriTools", "Help"}));
    EXPECT_EQ(PanelNames(frame->GetRibbonCategory("Main")),
              QStringList({"Add", "Orthophoto", "Measurements", "DEM Tools", "DEM Analysis", "Utility",
                           "Layers", "View"}));
    EXPECT_EQ(PanelNames(frame->GetRibbonCategory("CAD")),
              QStringList({"Drawing I/O", "Draw", "Format", "OSnap"}));
    EXPECT_EQ(PanelNames(frame->GetRibbonCategory("Mosaic Merge")),
              QStringList({"SeamLines", "Mosaicing", "View"}));
    EXPECT_EQ(PanelNames(frame->GetRibbonCategory("DEM Split / Merge")),
              QStringList({"Split DEM", "Merge DEMs"}));
    EXPECT_EQ(PanelNames(frame->GetRibbonCategory("AgriTools")), QStringList({"Tools"}));
    EXPECT_EQ(PanelNames(frame->GetRibbonCategory("Help")), QStringList({"Help"}));
    EXPECT_EQ(frame->GetRibbonCategory("main"), nullptr);

    // The debugging panel's commands and the two DEM buttons are gone; the other DEM buttons
    // keep their order.
    for (int id : {ID_CUT_CUTSECTION, ID_CUT_ROT, ID_DRAW_DRAWARROW, ID_TOOLS_WRITEOBJ, ID_DRAW_ADDQUOTES}) {
        EXPECT_EQ(frame->FindRibbonElement(id), nullptr) << id;
    }
    CRibbonPanel* demTools = frame->GetRibbonCategory("Main")->GetPanel(3);
    QList<int> ids;
    for (int i = 0; i < demTools->GetCount(); ++i) {
        ids << demTools->GetElement(i)->GetID();
    }
    EXPECT_EQ(ids, QList<int>({ID_BUTTON_DEMUNDO, ID_BUTTON_DEMREDO, ID_BUTTON_DEMHOLE, ID_BUTTON_CLOSEGAP,
                               ID_BUTTON_FLOODFILL, ID_BUTTON_DEMDELTAOFFSET, ID_BUTTON_DEMPATCHDEM,
                               ID_DEMEDITING_ERODE, ID_DEMEDITING_ELEVATIONBYENTITIES,
                               ID_TOOLS_RASTERIZEENTITIESONDEM, ID_TOOLS_QUOTEDWGOBJECT,
                               ID_DEMEDITING_EDITDEMFROMTIN, ID_DEMEDITING_DEMFROMTIM,
                               ID_TOOLS_CREATEDEMFROMLAS, ID_DRAW_CONTOURLINE, ID_DEMEDITING_RESIZE}));
    EXPECT_EQ(frame->GetOpacitySlider(), dynamic_cast<CRibbonSlider*>(frame->FindRibbonElement()));
    ASSERT_NE(frame->GetOpacitySlider(), nullptr);
    EXPECT_EQ(frame->GetOpacitySlider()->GetRangeMax(), 100);

    // The program-wide colour ramp exists once the application object does.
    EXPECT_EQ(ElevationColorRampSize, kElevationColorRampEntries);
}

TEST(Startup, RegistersTheProjectFileTypeInTheUsersDataFolder) {
    kvtest::ScriptedInteraction ui;
    AppUnderTest t;
    ASSERT_NE(t.App().InitInstance(), 0);
    QDir data(ZQT_GetSpecialFolder(CSIDL_LOCAL_APPDATA, 0, 0));
    QFile desktop(data.filePath("applications/DrovaneSoftware.Kelvaro.desktop"));
    ASSERT_TRUE(desktop.open(QIODevice::ReadOnly));
    QString entry = QString::fromUtf8(desktop.readAll());
    EXPECT_TRUE(entry.contains("MimeType=application/x-kelvaro-document;"));
    EXPECT_TRUE(entry.contains("Exec=\"" + QCoreApplication::applicationFilePath() + "\" %f"))
        << entry.toStdString();
    QFile mime(data.filePath("mime/packages/DrovaneSoftware.Kelvaro.xml"));
    ASSERT_TRUE(mime.open(QIODevice::ReadOnly));
    EXPECT_TRUE(mime.readAll().contains("<glob pattern=\"*.kvp\"/>"));
    EXPECT_TRUE(QFile::exists(data.filePath("icons/hicolor/48x48/apps/DrovaneSoftware.Kelvaro.png")));

    // A later start leaves an icon that shows the right picture as it is and puts back a spoilt
    // one, byte for byte.
    const QString small = data.filePath("icons/hicolor/48x48/apps/DrovaneSoftware.Kelvaro.png");
    const QString large = data.filePath("icons/hicolor/256x256/apps/DrovaneSoftware.Kelvaro.png");
    QFile smallFile(small), largeFile(large);
    ASSERT_TRUE(smallFile.open(QIODevice::ReadOnly) && largeFile.open(QIODevice::ReadOnly));
    const QByteArray smallBytes = smallFile.readAll(), largeBytes = largeFile.readAll();
    smallFile.close();
    largeFile.close();
    // Spoilt: another picture of the same size.
    QImage other(256, 256, QImage::Format_ARGB32);
    other.fill(Qt::red);
    ASSERT_TRUE(other.save(large, "PNG"));
    struct stat before {};
    ASSERT_EQ(::stat(QFile::encodeName(small).constData(), &before), 0);
    ASSERT_EQ(RegisterShellFileTypes(data.path(), QCoreApplication::applicationFilePath()), 1);
    struct stat after {};
    ASSERT_EQ(::stat(QFile::encodeName(small).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    ASSERT_TRUE(largeFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(largeFile.readAll(), largeBytes);
    ASSERT_TRUE(smallFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(smallFile.readAll(), smallBytes);
}

TEST(Startup, AProjectThatCannotBeOpenedIsReportedAndEndsStartUp) {
    kvtest::ScriptedInteraction ui;
    QString bogus = kvtest::TempDir() + "/missing/nothing.kvp";
    {
        AppUnderTest t({bogus});
        EXPECT_EQ(t.App().InitInstance(), 0);
        ASSERT_EQ(ui.Messages().size(), 1u);
        EXPECT_TRUE(ui.Messages()[0].text.contains(bogus)) << ui.Messages()[0].text.toStdString();
        EXPECT_FALSE(t.App().GetMainFrame()->isVisible());
    }
    // The whole run ends with a failure status, without entering the event loop.
    AppUnderTest t({bogus});
    EXPECT_NE(t.App().Run(), 0);
}

// An operator who reads a message for a while: the message box keeps the program's events
// running, as a real one does, and notes every dialog that opens meanwhile.
class SlowReader : public kvtest::ScriptedInteraction {
public:
    int ShowMessage(const QString& text, unsigned type, const QString& caption) override {
        const int answer = ScriptedInteraction::ShowMessage(text, type, caption);
        reading = true;
        QTest::qWait(1200);
        reading = false;
        return answer;
    }
    int RunModal(QDialog& dialog) override {
        if (reading)
            openedWhileReading << QString::fromLatin1(dialog.metaObject()->className());
        return ScriptedInteraction::RunModal(dialog);
    }
    bool reading = false;
    QStringList openedWhileReading;
};

TEST(Startup, OnAFirstRunAProjectThatCannotBeOpenedIsReportedAloneAndNothingFollows) {
    // A first run: no user data yet, so going on would ask for them.
    for (const char* key : {"UserData_Name", "UserData_Surname", "UserData_EMail"}) {
        ZQT_WriteUserProfileString("UserData", key, "");
    }
    SlowReader ui;
    AppUnderTest t({kvtest::TempDir() + "/missing/first.kvp"});
    EXPECT_EQ(t.App().InitInstance(), 0);
    EXPECT_EQ(ui.Messages().size(), 1u);
    EXPECT_TRUE(ui.openedWhileReading.isEmpty()) << ui.openedWhileReading.join(", ").toStdString();
    // Start-up has ended: nothing opens afterwards either.
    QTest::qWait(800);
    EXPECT_TRUE(ui.Dialogs().isEmpty()) << ui.Dialogs().join(", ").toStdString();
    EXPECT_EQ(t.App().m_bCrashReporterInstalled, 0);
}

TEST(Startup, AProjectTheTemplateRefusesEndsStartUp) {
    kvtest::ScriptedInteraction ui;
    RecordingTemplate::Log log;
    log.failOpen = true;
    QString project = kvtest::WriteFile(kvtest::TempDir() + "/damaged.kvp");
    AppUnderTest t({project});
    t.App().SetProjectTemplate(std::make_unique<RecordingTemplate>(&log));
    EXPECT_EQ(t.App().InitInstance(), 0);
    EXPECT_EQ(log.opened, QStringList({project}));
    EXPECT_FALSE(t.App().GetRecentFileList().Files().contains(project));
}

TEST(Startup, AProjectOnTheCommandLineOpensAndJoinsTheRecentFiles) {
    kvtest::ScriptedInteraction ui;
    RecordingTemplate::Log log;
    QString project = kvtest::WriteFile(kvtest::TempDir() + "/site.kvp");
    AppUnderTest t({project});
    t.App().SetProjectTemplate(std::make_unique<RecordingTemplate>(&log));
    ASSERT_NE(t.App().InitInstance(), 0);
    EXPECT_EQ(log.opened, QStringList({project}));
    EXPECT_EQ(log.newDocuments, 0);
    EXPECT_EQ(KvGetProfileString("Recent File List", "File1", QString()), project);
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(Startup, PrintAndDdeSwitchesStartWithoutRunningTheirCommand) {
    kvtest::ScriptedInteraction ui;
    RecordingTemplate::Log log;
    QString project = kvtest::WriteFile(kvtest::TempDir() + "/print.kvp");
    for (const QStringList& args :
         {QStringList{"-p", project}, QStringList{"-dde"}, QStringList{"-pt", project}}) {
        AppUnderTest t(args);
        t.App().SetProjectTemplate(std::make_unique<RecordingTemplate>(&log));
        EXPECT_NE(t.App().InitInstance(), 0);
    }
    EXPECT_TRUE(log.opened.isEmpty());
    EXPECT_EQ(log.newDocuments, 0);

    CCommandLineInfo open;
    open.ParseCommandLine({project});
    EXPECT_EQ(open.m_nShellCommand, CCommandLineInfo::FileOpen);
    EXPECT_EQ(open.m_strFileName, project);
    CCommandLineInfo none;
    none.ParseCommandLine({});
    EXPECT_EQ(none.m_nShellCommand, CCommandLineInfo::FileNew);
}

TEST(Startup, UserDataDialogOpensAfterStartUpWhenTheDataAreMissing) {
    kvtest::ScriptedInteraction ui;
    ZQT_WriteUserProfileString("UserData", "UserData_Name", "Ada");
    ZQT_WriteUserProfileString("UserData", "UserData_Surname", "");
    ZQT_WriteUserProfileString("UserData", "UserData_EMail", "");
    bool refusedWhileIncomplete = false;
    ui.AnswerModal([&](QDialog& dialog) {
        auto& dlg = dynamic_cast<CUserDataDlg&>(dialog);
        EXPECT_EQ(dlg.m_editName->text(), QStringLiteral("Ada"));
        dlg.m_editSurname->setText("Rossi");
        dlg.m_btnOK->click();
        refusedWhileIncomplete = dlg.isVisible() && dlg.result() != IDOK;
        dlg.m_editEmail->setText("ada@example.org");
        dlg.m_btnOK->click();
        return -1;
    });
    AppUnderTest t;
    ASSERT_NE(t.App().InitInstance(), 0);
    // Start-up itself asks nothing; the dialog comes with the one-shot step after it.
    EXPECT_TRUE(ui.Dialogs().isEmpty());
    ASSERT_TRUE(kvtest::WaitFor([&] { return t.App().m_bCrashReporterInstalled != 0; }));
    EXPECT_EQ(ui.Dialogs(), QStringList({"CUserDataDlg"}));
    EXPECT_TRUE(refusedWhileIncomplete);
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Name, Surname and EMail address are required!"}));
    EXPECT_EQ(ZQT_GetUserProfileString("UserData", "UserData_EMail", ""), QStringLiteral("ada@example.org"));
    EXPECT_EQ(IsCrashReporterInstalled(), 1);
    t.App().ExitInstance();
    EXPECT_EQ(IsCrashReporterInstalled(), 0);
}

TEST(Startup, UserDataDialogStaysAwayWhenTheDataAreComplete) {
    StoreCompleteUserData();
    kvtest::ScriptedInteraction ui;
    AppUnderTest t;
    ASSERT_NE(t.App().InitInstance(), 0);
    ASSERT_TRUE(kvtest::WaitFor([&] { return t.App().m_bCrashReporterInstalled != 0; }));
    EXPECT_TRUE(ui.Dialogs().isEmpty());
    // The change-log feed was asked for without a word to the operator, whatever the network.
    EXPECT_TRUE(kvtest::WaitFor([] { return RSSCL_IsFetching() == 0; }));
    EXPECT_TRUE(ui.Messages().empty());
}

TEST(Startup, ShutDownRemovesLeftoverUndoFiles) {
    kvtest::ScriptedInteraction ui;
    QString working = ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1);
    AppUnderTest t;
    ASSERT_NE(t.App().InitInstance(), 0);
    kvtest::WriteFile(working + "/late.demundo");
    t.App().ExitInstance();
    EXPECT_FALSE(QFile::exists(working + "/late.demundo"));
}

}  // namespace

// Every command of the drawing's table and every ribbon command of the project reaches its tool:
// none of them answers "not available yet" or stays disabled for want of a procedure once the
// program has connected its parts, and a new project gets the map tools' windows.
TEST(Startup, EveryCommandHasItsToolOnceThePartsAreConnected) {
    ConnectProjectParts();
    QStringList missing;
    for (const CadUserCommand& command : GetCommandRegistry().Commands()) {
        if (command.procedure == nullptr || command.procedure == CmdNotAvailableYet) {
            missing << QString::fromLatin1(command.name);
        }
    }
    EXPECT_TRUE(missing.isEmpty()) << missing.join(QLatin1Char(' ')).toStdString();
    for (int id : {ID_BUTTON_BUILDSEAMLINES, ID_DEMSPLITMERGE_BUILDSEAMLINES, ID_MOSAICMERGE_BUILDMOSAIC,
                   ID_MOSAICMERGE_SETUPTILES, ID_MOSAICMERGE_IMPORTTILES, ID_MOSAICMERGE_REMOVEALLTILES,
                   ID_DRAW_SHEETLAYOUT}) {
        EXPECT_NE(GetDocumentProcedures().Find(id), nullptr) << id;
    }
    EXPECT_NE(GetMapToolWindowMaker(), nullptr);
}
