// The main frame: command routing, the close guard, the visual styles, the output pane, the
// help commands, the opacity slider service, dropped projects and recent projects.
#include <gtest/gtest.h>
#include <QLabel>
#include <QMdiArea>
#include <QMimeData>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QUrl>

#include <vector>

#include "AppTestSupport.h"
#include "app/FrameworkSettings.h"
#include "app/MainFrm.h"
#include "app/OutputWnd.h"
#include "app/Ribbon.h"
#include "app/VisualLook.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/MainWindowService.h"
#include "support/Pictures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

using kvtest::AppUnderTest;
using kvtest::RecordingTemplate;

// A project that handles the commands it is given and records what reaches it.
struct FakeProject : kv::CommandTarget {
    QList<int> handled;
    bool all = false;
    QList<int> received;
    int checkedId = 0;
    bool OnCommand(int id) override {
        if (!all && !handled.contains(id)) {
            return false;
        }
        received << id;
        return true;
    }
    bool OnUpdateCommand(kv::CommandUI& ui) override {
        if (!all && !handled.contains(ui.id)) {
            return false;
        }
        ui.checked = ui.id == checkedId;
        return true;
    }
};

struct TargetGuard {
    explicit TargetGuard(kv::CommandTarget* t) { kv::SetCommandTarget(t); }
    ~TargetGuard() { kv::SetCommandTarget(nullptr); }
};

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        // With the user data complete, the start-up step asks nothing in the middle of a test.
        kvtest::StoreCompleteUserData();
        m_app.App().SetProjectTemplate(std::make_unique<RecordingTemplate>(&m_log));
        ASSERT_NE(m_app.App().InitInstance(), 0);
        m_frame = m_app.App().GetMainFrame();
        m_ui.Clear();
    }

    kvtest::ScriptedInteraction m_ui;
    RecordingTemplate::Log m_log;
    AppUnderTest m_app;
    CMainFrame* m_frame = nullptr;
};

TEST_F(MainFrameTest, CommandsReachTheProjectFirstAndUnhandledOnesAreDisabled) {
    CRibbonBaseElement* volume = m_frame->FindRibbonElement(ID_BUTTON_VOLUME);
    ASSERT_NE(volume, nullptr);
    m_frame->UpdateCommandUI();
    EXPECT_FALSE(volume->GetWidget()->isEnabled());
    EXPECT_TRUE(m_frame->FindRibbonElement(ID_BUTTON_ABOUT)->GetWidget()->isEnabled());

    FakeProject project;
    project.handled = {ID_BUTTON_VOLUME, ID_BUTTON_COMMANDLINE};
    project.checkedId = ID_BUTTON_VOLUME;
    TargetGuard guard(&project);
    m_frame->UpdateCommandUI();
    auto* button = dynamic_cast<CRibbonButton*>(volume);
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_TRUE(button->isChecked());

    button->click();
    // The project answers the Output command before the frame does.
    EXPECT_TRUE(m_frame->OnCmdMsg(ID_BUTTON_COMMANDLINE));
    EXPECT_EQ(project.received, QList<int>({ID_BUTTON_VOLUME, ID_BUTTON_COMMANDLINE}));
    EXPECT_TRUE(m_frame->GetOutputWnd()->isVisible());
    EXPECT_FALSE(m_frame->OnCmdMsg(ID_BUTTON_SUBTRACTDEM));
}

TEST_F(MainFrameTest, SplitButtonItemsSendTheirOwnCommands) {
    FakeProject project;
    project.handled = {ID_CIRCLE_CIRCLE, ID_CIRCLE_CD};
    TargetGuard guard(&project);
    m_frame->UpdateCommandUI();
    auto* circle = dynamic_cast<CRibbonButton*>(m_frame->FindRibbonElement(ID_CIRCLE_CIRCLE));
    ASSERT_NE(circle, nullptr);
    ASSERT_NE(circle->FindSubItem(ID_CIRCLE_CD), nullptr);
    EXPECT_TRUE(circle->FindSubItem(ID_CIRCLE_CD)->isEnabled());
    EXPECT_FALSE(circle->FindSubItem(ID_CIRCLE_CR)->isEnabled());
    circle->FindSubItem(ID_CIRCLE_CD)->trigger();
    EXPECT_EQ(project.received, QList<int>({ID_CIRCLE_CD}));
}

TEST_F(MainFrameTest, ClosingWhileACommandRunsIsRefused) {
    ActiveCadCommandId = CMD_DEMHOLE;
    EXPECT_FALSE(m_frame->close());
    EXPECT_TRUE(m_frame->isVisible());
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Close active command before exit"}));
    EXPECT_EQ(m_ui.Messages()[0].icon(), kv::MessageIcon::Warning);
    EXPECT_EQ(m_log.saveAllModified, 0);

    ActiveCadCommandId = 0;
    m_log.refuseClose = true;
    EXPECT_FALSE(m_frame->close());
    EXPECT_EQ(m_log.saveAllModified, 1);
    EXPECT_EQ(m_log.closeAll, 0);

    m_log.refuseClose = false;
    EXPECT_TRUE(m_frame->close());
    EXPECT_EQ(m_log.closeAll, 1);
}

TEST_F(MainFrameTest, TheChosenLookIsAppliedStoredAndShownAsSelected) {
    EXPECT_EQ(m_frame->GetApplicationLook(), ID_VIEW_APPLOOK_VS_2008);
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_VIEW_APPLOOK_OFF_2007_BLACK));
    EXPECT_EQ(m_app.App().m_nAppLook, ID_VIEW_APPLOOK_OFF_2007_BLACK);
    EXPECT_EQ(KvGetProfileInt("Settings", "ApplicationLook", 0), ID_VIEW_APPLOOK_OFF_2007_BLACK);
    kv::CommandUI black{ID_VIEW_APPLOOK_OFF_2007_BLACK};
    kv::CommandUI blue{ID_VIEW_APPLOOK_OFF_2007_BLUE};
    m_frame->QueryCommandUI(black);
    m_frame->QueryCommandUI(blue);
    EXPECT_TRUE(black.checked);
    EXPECT_FALSE(blue.checked);
    // An id without a look of its own keeps the Office 2007 colour last used.
    EXPECT_EQ(KvVisualLook(212).id, ID_VIEW_APPLOOK_OFF_2007_BLACK);
    EXPECT_EQ(KvVisualLook(ID_VIEW_APPLOOK_WINDOWS_7).flat, true);
}

TEST(MainFrameLook, AStoredLookOutsideTheRangeGivesOffice2007) {
    KvVisualLook(ID_VIEW_APPLOOK_OFF_2007_BLUE);  // the Office 2007 colour last used
    KvWriteProfileInt("Settings", "ApplicationLook", 4711);
    kvtest::ScriptedInteraction ui;
    AppUnderTest t;
    ASSERT_NE(t.App().InitInstance(), 0);
    EXPECT_EQ(t.App().GetMainFrame()->GetApplicationLook(), 4711);
    EXPECT_EQ(KvVisualLook(4711).id, ID_VIEW_APPLOOK_OFF_2007_BLUE);
}

TEST_F(MainFrameTest, OutputButtonHidesAndShowsThePane) {
    COutputWnd* output = m_frame->GetOutputWnd();
    ASSERT_TRUE(output->isVisible());
    m_frame->OnCmdMsg(ID_BUTTON_COMMANDLINE);
    EXPECT_FALSE(output->isVisible());
    m_frame->OnCmdMsg(ID_BUTTON_COMMANDLINE);
    EXPECT_TRUE(output->isVisible());
    EXPECT_EQ(output->Tabs()->tabText(0), QStringLiteral("Command Line"));
}

TEST_F(MainFrameTest, TheCommandLineWindowFillsItsHostAsThePaneResizes) {
    auto* commandLine = new QLabel(QStringLiteral("Command:"));
    m_frame->GetOutputWnd()->SetCommandLineWindow(commandLine);
    EXPECT_EQ(commandLine->parentWidget(), m_frame->GetOutputWnd()->CommandLineHost());
    for (int height : {160, 260}) {
        m_frame->resizeDocks({m_frame->GetOutputWnd()}, {height}, Qt::Vertical);
        QTest::qWait(20);
        EXPECT_EQ(commandLine->size(), m_frame->GetOutputWnd()->CommandLineHost()->size());
    }
}

TEST_F(MainFrameTest, MissingTutorialIsReported) {
    m_frame->OnCmdMsg(ID_BUTTON_TUTORIAL);
    EXPECT_EQ(
        m_ui.MessageTexts(),
        QStringList(
            {"Unable to find the tutorial. Please contact Drovane Software (support@drovane.example)"}));
}

TEST_F(MainFrameTest, HelpButtonsOpenTheirDialogs) {
    m_frame->OnCmdMsg(ID_BUTTON_ABOUT);
    m_frame->OnCmdMsg(ID_APP_ABOUT);
    m_frame->OnCmdMsg(ID_BUTTON_USERDATA);
    m_frame->OnCmdMsg(ID_HELP_CHANGELOG);
    EXPECT_EQ(m_ui.Dialogs().mid(0, 3), QStringList({"CAboutDlg", "CAboutDlg", "CUserDataDlg"}));
    EXPECT_EQ(m_ui.Dialogs().size(), 4);
}

TEST_F(MainFrameTest, StatusTextAndOpacitySliderAreReachedThroughTheService) {
    kv::MainWindowService* service = kv::GetMainWindowService();
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->MainWindow(), m_frame);
    service->SetStatusText(QStringLiteral("X 12.5 Y 4.0 Z 301.2"));
    EXPECT_EQ(m_frame->GetStatusPane(0)->text(), QStringLiteral("X 12.5 Y 4.0 Z 301.2"));

    FakeProject project;
    project.handled = {ID_SLIDER_ORTHOOPACITY};
    TargetGuard guard(&project);
    QSignalSpy moved(service, &kv::MainWindowService::OpacitySliderChanged);
    service->SetOpacitySliderPos(40);
    EXPECT_EQ(service->OpacitySliderPos(), 40);
    EXPECT_EQ(moved.count(), 0);
    EXPECT_TRUE(project.received.isEmpty());

    // The operator moves it: the service tells, and the slider's command goes to the project.
    m_frame->GetOpacitySlider()->findChild<QSlider*>()->setValue(70);
    ASSERT_EQ(moved.count(), 1);
    EXPECT_EQ(moved[0][0].toInt(), 70);
    EXPECT_EQ(project.received, QList<int>({ID_SLIDER_ORTHOOPACITY}));
}

TEST_F(MainFrameTest, DroppedProjectsOpenAndRecentProjectsReopen) {
    QString project = kvtest::WriteFile(kvtest::TempDir() + "/dropped.kvp");
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(project)});
    QDragEnterEvent enter(QPoint(200, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_frame, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(200, 200), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_frame, &drop);
    EXPECT_EQ(m_log.opened, QStringList({project}));
    EXPECT_EQ(m_app.App().GetRecentFileList().Files().value(0), project);

    m_frame->OnCmdMsg(ID_FILE_MRU_FILE1);
    EXPECT_EQ(m_log.opened.size(), 2);

    // A recent project that no longer opens leaves the list.
    QFile::remove(project);
    m_frame->OnCmdMsg(ID_FILE_MRU_FILE1);
    EXPECT_FALSE(m_app.App().GetRecentFileList().Files().contains(project));
    EXPECT_EQ(m_ui.Messages().size(), 1u);
}

TEST_F(MainFrameTest, RecentFilesKeepTheNewestFour) {
    QStringList paths;
    for (int i = 0; i < 6; ++i) {
        paths << kvtest::WriteFile(kvtest::TempDir() + QStringLiteral("/p%1.kvp").arg(i));
        ASSERT_NE(m_app.App().OpenDocumentFile(paths.last()), 0);
    }
    ASSERT_NE(m_app.App().OpenDocumentFile(paths[3]), 0);
    EXPECT_EQ(m_app.App().GetRecentFileList().Files(), QStringList({paths[3], paths[5], paths[4], paths[2]}));
    EXPECT_EQ(KvGetProfileString("Recent File List", "File4", QString()), paths[2]);
}

TEST_F(MainFrameTest, Screenshots) {
    m_frame->showNormal();
    m_frame->resize(1400, 860);
    QTest::qWait(50);
    // The ribbon drawn with its icons over an empty window area of one colour.
    const QImage window = kvtest::Screenshot(m_frame, "main_window");
    EXPECT_GT(kvtest::ColourCount(window, kvtest::PlaceIn(m_frame->GetRibbonBar(), m_frame)), 50);
    const QRect area = kvtest::PlaceIn(m_frame->GetMDIArea(), m_frame);
    EXPECT_EQ(kvtest::ColourShare(window, window.pixelColor(area.center()), area), 1.0);
    EXPECT_NE(window.pixelColor(area.center()), QColor(Qt::black));
    // The same window as it looks with a project that handles every command.
    FakeProject project;
    project.all = true;
    project.checkedId = ID_BUTTON_NODE;
    TargetGuard guard(&project);
    m_frame->resize(1920, 1000);
    QTest::qWait(50);
    CRibbonBar* ribbon = m_frame->GetRibbonBar();
    std::vector<QImage> categories;
    for (int i = 0; i < ribbon->GetCategoryCount(); ++i) {
        ribbon->SetActiveCategory(ribbon->GetCategory(i));
        m_frame->UpdateCommandUI();
        QTest::qWait(20);
        categories.push_back(kvtest::Screenshot(ribbon, QStringLiteral("ribbon_%1").arg(i)));
        // Each category shows its own buttons with their icons.
        EXPECT_GT(kvtest::ColourCount(categories.back()), 50) << i;
        for (size_t j = 0; j + 1 < categories.size(); ++j) {
            EXPECT_NE(categories[j], categories.back()) << j << " " << i;
        }
    }
}

}  // namespace
