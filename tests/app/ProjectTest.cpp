// Projects in the running program: File New makes a project window with its drawing, the
// command line of the Output pane starts the project's commands, the ribbon follows the project's
// state, and closing the window or the program after a DEM edit asks to save it.
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/MainFrm.h"
#include "app/OutputWnd.h"
#include "app/Ribbon.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"
#include "view/KelvaroFrame.h"
#include "view/KelvaroView.h"

namespace {

using kvtest::AppUnderTest;

class ProjectTest : public ::testing::Test {
protected:
    void SetUp() override {
        kvtest::StoreCompleteUserData();
        ActiveCadCommandId = 0;
        ASSERT_NE(m_app.App().InitInstance(), 0);
        m_frame = m_app.App().GetMainFrame();
        ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_NEW));
        m_ui.Clear();
    }
    void TearDown() override {
        ActiveCadCommandId = 0;
        m_app.App().GetProjectTemplate()->CloseAllDocuments();
    }

    CKelvaroFrame* ProjectWindow() const {
        QList<QMdiSubWindow*> windows = m_frame->GetMDIArea()->subWindowList();
        return windows.size() == 1 ? qobject_cast<CKelvaroFrame*>(windows[0]) : nullptr;
    }
    CKelvaroDoc* Project() const {
        return CKelvaroDoc::GetOpenDocuments().size() == 1 ? CKelvaroDoc::GetOpenDocuments()[0] : nullptr;
    }
    // A DEM layer whose grid was edited and not saved.
    void AddEditedDem() {
        auto* dem = new CDEM(Project());
        dem->m_name = QStringLiteral("site.tif");
        dem->m_grid = cv::Mat(8, 8, CV_32FC1, cv::Scalar(100.0f));
        Project()->m_DEMs[dem->m_name] = dem;
        dem->m_grid.at<float>(2, 5) = 97.5f;
        dem->m_modified = 1;
    }

    kvtest::ScriptedInteraction m_ui;
    AppUnderTest m_app;
    CMainFrame* m_frame = nullptr;
};

TEST_F(ProjectTest, FileNewOpensAProjectWindowWithItsDrawing) {
    EXPECT_EQ(CadGetParam(2), 5);
    EXPECT_EQ(CadGetParam(3), 1);
    CKelvaroFrame* window = ProjectWindow();
    ASSERT_NE(window, nullptr);
    CKelvaroDoc* doc = Project();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(window->FindDocument(), doc);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Kelvaro1[*]"));
    QWidget* cad = window->GetView()->GetCadWindow();
    ASSERT_NE(cad, nullptr);
    EXPECT_EQ(CadWndGetDrawing(cad), doc->m_pCad);
    EXPECT_EQ(kv::GetCommandTarget(), doc);
    EXPECT_EQ(m_frame->GetOpacitySlider()->GetPos(), 100);
    EXPECT_TRUE(m_ui.Messages().empty());

    // The ribbon shows the project's rules: no DEM, no Volume; the idle-only buttons are on.
    m_frame->UpdateCommandUI();
    EXPECT_FALSE(m_frame->FindRibbonElement(ID_BUTTON_VOLUME)->GetWidget()->isEnabled());
    EXPECT_TRUE(m_frame->FindRibbonElement(ID_DEMEDITING_RESIZE)->GetWidget()->isEnabled());

    m_frame->resize(1280, 800);
    QTest::qWait(50);
    QString shot = kvtest::SaveScreenshot(m_frame, QStringLiteral("main-window-new-project"));
    EXPECT_TRUE(QFileInfo::exists(shot));

    // A second File New gives a second project with a title of its own.
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_NEW));
    ASSERT_EQ(CKelvaroDoc::GetOpenDocuments().size(), 2);
    EXPECT_EQ(CKelvaroDoc::GetOpenDocuments()[1]->GetTitle(), QStringLiteral("Kelvaro2"));
    EXPECT_EQ(kv::GetCommandTarget(), CKelvaroDoc::GetOpenDocuments()[1]);
}

TEST_F(ProjectTest, TypingAnAliasInTheOutputPaneStartsItsCommand) {
    QWidget* commandLine = m_frame->GetOutputWnd()->CommandLineHost()->GetCommandLineWindow();
    ASSERT_NE(commandLine, nullptr);
    auto* edit = commandLine->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, QStringLiteral("OE"));
    QTest::keyClick(edit, Qt::Key_Return);
    char prompt[256] = {};
    CadCmdGetPrompt(Project()->m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "OBJECTELEVATION: not available yet");
    bool shown = false;
    for (QLabel* label : commandLine->findChildren<QLabel*>()) {
        shown = shown || label->text() == QStringLiteral("OBJECTELEVATION: not available yet");
    }
    EXPECT_TRUE(shown);
    EXPECT_EQ(ActiveCadCommandId, 0);

    // The ribbon's Volume button reaches the project's starter the same way.
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_BUTTON_VOLUME));
    CadCmdGetPrompt(Project()->m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "VOLUME: not available yet");
}

TEST_F(ProjectTest, TheRibbonShowsTheProjectsRulesWhileACommandRuns) {
    AddEditedDem();
    ActiveCadCommandId = CMD_DEMHOLE;
    m_frame->UpdateCommandUI();
    auto* hole = dynamic_cast<CRibbonButton*>(m_frame->FindRibbonElement(ID_BUTTON_DEMHOLE));
    auto* volume = dynamic_cast<CRibbonButton*>(m_frame->FindRibbonElement(ID_BUTTON_VOLUME));
    ASSERT_TRUE(hole && volume);
    EXPECT_FALSE(hole->isEnabled());
    EXPECT_TRUE(hole->isChecked());
    EXPECT_TRUE(volume->isEnabled());
    EXPECT_FALSE(volume->isChecked());
    // Volume answers that a command is running, and nothing else happens.
    volume->click();
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Close active command before"}));
    ActiveCadCommandId = 0;
    m_frame->UpdateCommandUI();
    EXPECT_TRUE(hole->isEnabled());
    EXPECT_FALSE(hole->isChecked());
}

TEST_F(ProjectTest, ClosingTheProjectWindowAfterADemEditAsksToSave) {
    AddEditedDem();
    m_ui.AnswerMessage(IDNO);
    EXPECT_TRUE(ProjectWindow()->close());
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?"}));
    EXPECT_TRUE(CKelvaroDoc::GetOpenDocuments().isEmpty());
    EXPECT_TRUE(kvtest::WaitFor([this] { return m_frame->GetMDIArea()->subWindowList().isEmpty(); }));
    EXPECT_EQ(kv::GetCommandTarget(), nullptr);
}

TEST_F(ProjectTest, FileCloseAfterADemEditAsksToSaveAndIsRefusedWhileACommandRuns) {
    AddEditedDem();
    ActiveCadCommandId = CMD_DEMHOLE;
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_CLOSE));
    ActiveCadCommandId = 0;
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Close active command before exit"}));
    ASSERT_NE(Project(), nullptr);

    m_ui.Clear();
    m_ui.AnswerMessage(IDNO);
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_CLOSE));
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?"}));
    EXPECT_TRUE(CKelvaroDoc::GetOpenDocuments().isEmpty());
}

TEST_F(ProjectTest, TheProgramDoesNotCloseUnderABusyWorkerAndAsksForEditedProjects) {
    AddEditedDem();
    {
        kv::BusyScope worker;
        EXPECT_FALSE(m_frame->close());
    }
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Close active command before exit"}));
    ASSERT_NE(Project(), nullptr);

    m_ui.Clear();
    m_ui.AnswerMessage(IDCANCEL);
    EXPECT_FALSE(m_frame->close());
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?"}));
    ASSERT_NE(Project(), nullptr);

    m_ui.Clear();
    m_ui.AnswerMessage(IDNO);
    EXPECT_TRUE(m_frame->close());
    EXPECT_EQ(m_ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?"}));
    EXPECT_TRUE(CKelvaroDoc::GetOpenDocuments().isEmpty());
}

}  // namespace
