// Projects in the running program: File New makes a project window with its drawing, the
// command line of the Output pane starts the project's commands, the ribbon follows the project's
// state, the "Layers Order" window opens in front when asked and only then, closing the window or
// the program after a DEM edit asks to save it, and a closed project leaves nothing of its own in
// the status bar and the Output pane.
#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTabBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/MainFrm.h"
#include "app/OutputWnd.h"
#include "app/Ribbon.h"
#include "document/KelvaroDoc.h"
#include "document/undo/DemUndoRound.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"
#include "support/MouseInput.h"
#include "support/Pictures.h"
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
    // The ribbon over the project window, whose empty drawing is black.
    const QImage shot = kvtest::Screenshot(m_frame, QStringLiteral("main-window-new-project"));
    EXPECT_GT(kvtest::ColourCount(shot, kvtest::PlaceIn(m_frame->GetRibbonBar(), m_frame)), 50);
    EXPECT_GT(kvtest::ColourShare(shot, Qt::black, kvtest::PlaceIn(cad, m_frame)), 0.99);

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
    // Object elevation asks for its inputs first; refused, it ends with its prompt.
    QTest::keyClicks(edit, QStringLiteral("OE"));
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(m_ui.Dialogs(), QStringList{QStringLiteral("CObjectElevationSetupDlg")});
    char prompt[256] = {};
    CadCmdGetPrompt(Project()->m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "Not all needed data were selected");
    bool shown = false;
    for (QLabel* label : commandLine->findChildren<QLabel*>()) {
        shown = shown || label->text() == QStringLiteral("Not all needed data were selected");
    }
    EXPECT_TRUE(shown);
    EXPECT_EQ(ActiveCadCommandId, 0);

    // The ribbon's Volume button reaches the project's starter the same way: VOLUME runs and finds
    // no DEM in the empty project.
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_BUTTON_VOLUME));
    CadCmdGetPrompt(Project()->m_pCad, prompt, sizeof prompt);
    EXPECT_STREQ(prompt, "No DEM loaded");
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

TEST_F(ProjectTest, TheLayersOrderWindowFirstOpensInsideTheMainWindowBelowTheRibbon) {
    for (const char* key : {"top", "left", "bottom", "right"}) {
        ZQT_WriteUserProfileString("LayerWindow", key, "");
    }
    m_frame->show();
    QTest::qWait(20);
    Project()->OnCommand(ID_BUTTON_LAYERSORDER);
    QWidget* order = CadLayersOrderWindow();
    ASSERT_NE(order, nullptr);
    const QRect place = order->frameGeometry();
    QMdiArea* area = m_frame->GetMDIArea();
    const QRect client(area->mapToGlobal(QPoint(0, 0)), area->size());
    const QRect ribbon(m_frame->GetRibbonBar()->mapToGlobal(QPoint(0, 0)), m_frame->GetRibbonBar()->size());
    EXPECT_TRUE(client.contains(place))
        << place.x() << "," << place.y() << " in " << client.x() << "," << client.y();
    EXPECT_FALSE(place.intersects(ribbon));
    Project()->OnCommand(ID_BUTTON_LAYERSORDER);
    EXPECT_EQ(CadLayersOrderWindow(), nullptr);
}

TEST_F(ProjectTest, LayersOrderOpensInFrontOfTheMainWindowAndOnlyWhenAsked) {
    m_frame->resize(1280, 800);
    m_frame->show();
    m_frame->activateWindow();
    ASSERT_TRUE(kvtest::WaitFor([this] { return QApplication::activeWindow() == m_frame; }));
    auto* button = dynamic_cast<CRibbonButton*>(m_frame->FindRibbonElement(ID_BUTTON_LAYERSORDER));
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isVisible());

    // The first click brings it up in front: a tool window of the main window, which the window
    // manager keeps above it, and the active window.
    m_frame->UpdateCommandUI();
    kvtest::ClickThroughWindow(button);
    QPointer<QWidget> order = CadLayersOrderWindow();
    ASSERT_NE(order, nullptr);
    EXPECT_TRUE(order->isVisible());
    EXPECT_EQ(order->parentWidget(), m_frame);
    EXPECT_TRUE(order->isWindow());
    EXPECT_EQ(order->windowType(), Qt::Tool);
    EXPECT_TRUE(kvtest::WaitFor([&] { return QApplication::activeWindow() == order; }));

    // A message box over the main window leaves it open and above the main window.
    auto showMessage = [this] {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Kelvaro"), QStringLiteral("Import done"),
                        QMessageBox::Ok, m_frame);
        QTimer::singleShot(50, &box, &QMessageBox::accept);
        box.exec();
        QTest::qWait(50);
    };
    showMessage();
    ASSERT_EQ(CadLayersOrderWindow(), order.data());
    EXPECT_TRUE(order->isVisible());

    // Closed with its own close button, it is gone; no message box brings it back.
    order->close();
    ASSERT_TRUE(kvtest::WaitFor([&] { return order.isNull(); }));
    showMessage();
    m_frame->activateWindow();
    QTest::qWait(50);
    EXPECT_EQ(CadLayersOrderWindow(), nullptr);
    for (QWidget* w : QApplication::topLevelWidgets()) {
        EXPECT_FALSE(w->isVisible() && w->windowTitle() == QStringLiteral("Layers Order"));
    }

    // A second click opens it again, a third closes it.
    kvtest::ClickThroughWindow(button);
    ASSERT_NE(CadLayersOrderWindow(), nullptr);
    EXPECT_TRUE(CadLayersOrderWindow()->isVisible());
    kvtest::ClickThroughWindow(button);
    EXPECT_EQ(CadLayersOrderWindow(), nullptr);
}

TEST_F(ProjectTest, ClosingAProjectClearsItsReadoutAndItsCommandLine) {
    const QString startText = m_frame->GetStatusPane(0)->text();
    m_frame->resize(1280, 800);
    m_frame->show();
    QTest::qWait(20);
    const QString folder = kvtest::NewTempFolder("readout");
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("olinda_dem_nodata.tif"), folder + "/olinda.tif"));
    QFile::setPermissions(folder + "/olinda.tif", QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_EQ(Project()->AddDEM(folder + "/olinda.tif", 1), 1);
    QTest::qWait(50);

    // The mouse over the DEM's middle: its readout in the status bar.
    QWidget* cad = CadGetWindow(Project()->m_pCad);
    const double* gt = Project()->m_DEMs.begin()->second->m_geoTransform;
    int x = 0, y = 0;
    ASSERT_TRUE(CadCoordModelToWin(cad, gt[0] + 55.5 * gt[1], gt[3] + 55.5 * gt[5], &x, &y));
    kvtest::MoveThroughWindow(cad, QPoint(x, y));
    EXPECT_TRUE(m_frame->GetStatusPane(0)->text().endsWith(QStringLiteral(" (olinda.tif)")))
        << m_frame->GetStatusPane(0)->text().toStdString();
    // A command leaves its lines in the output pane.
    QWidget* commandLine = m_frame->GetOutputWnd()->CommandLineHost()->GetCommandLineWindow();
    auto* edit = commandLine->findChild<QLineEdit*>();
    QTest::keyClicks(edit, QStringLiteral("OE"));
    QTest::keyClick(edit, Qt::Key_Return);
    auto* lines = commandLine->findChild<QPlainTextEdit*>();
    auto* prompt = commandLine->findChild<QLabel*>();
    ASSERT_TRUE(lines && prompt);
    EXPECT_FALSE(lines->toPlainText().isEmpty() && prompt->text().isEmpty());

    // Closed, the project leaves nothing of its own in either; a new one starts from there.
    m_ui.AnswerMessage(IDNO);
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_CLOSE));
    ASSERT_EQ(Project(), nullptr);
    EXPECT_EQ(m_frame->GetStatusPane(0)->text(), startText);
    EXPECT_EQ(lines->toPlainText(), QString());
    EXPECT_EQ(prompt->text(), QString());
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_NEW));
    QTest::qWait(20);
    EXPECT_EQ(m_frame->GetStatusPane(0)->text(), startText);
    EXPECT_EQ(lines->toPlainText(), QString());
}

TEST_F(ProjectTest, TitlesShowUnsavedChangesAndTheNameOfEverySave) {
    QTabBar* tabs = m_frame->GetMDIArea()->findChild<QTabBar*>();
    ASSERT_NE(tabs, nullptr);
    // What the program shows once it waits for the operator again.
    auto shown = [&] {
        QEventLoop idle;
        QTimer::singleShot(20, &idle, &QEventLoop::quit);
        idle.exec();
        return (tabs->tabText(0) + " | " + m_frame->windowTitle().section(QStringLiteral(" - "), 0, 0))
            .toStdString();
    };
    CKelvaroDoc* doc = Project();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(shown(), "Kelvaro1 | Kelvaro1");

    // A change of the drawing.
    CadAddLine(doc->m_pCad, 0, 0, 0, 100, 50, 0);
    EXPECT_EQ(shown(), "Kelvaro1* | Kelvaro1");
    const QString folder = kvtest::NewTempFolder("titles");
    m_ui.AnswerFile(folder + "/site.kvp");
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_SAVE_AS));
    EXPECT_EQ(shown(), "site.kvp | site.kvp");

    // A new layer.
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(KV_TEST_DATA_DIR "/../../samples/olinda_dem.tif"), folder + "/dem.tif"));
    QFile::setPermissions(folder + "/dem.tif", QFile::ReadOwner | QFile::WriteOwner);
    ASSERT_EQ(doc->AddDEM(folder + "/dem.tif", 1), 1);
    EXPECT_EQ(shown(), "site.kvp* | site.kvp");
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_SAVE));
    EXPECT_EQ(shown(), "site.kvp | site.kvp");

    // Looking around changes nothing.
    QWidget* cad = CadGetWindow(doc->m_pCad);
    ASSERT_NE(cad, nullptr);
    CadExecute(doc->m_pCad, cad, CAD_CMD_ZOOM_EXTENTS);
    EXPECT_EQ(shown(), "site.kvp | site.kvp");

    // A DEM edit, then its undo after a save.
    CDEM* dem = doc->m_DEMs.begin()->second;
    const double* gt = dem->m_geoTransform;
    m_ui.AnswerModal(101);
    for (const QPoint& c : {QPoint(10, 10), QPoint(30, 10), QPoint(30, 30)}) {
        CadScriptPushPoint(doc->m_pCad, gt[0] + (c.x() + 0.5) * gt[1], gt[3] + (c.y() + 0.5) * gt[5], 0.0);
    }
    CadScriptPushFinish(doc->m_pCad);
    CadScriptPushFinish(doc->m_pCad);
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_BUTTON_DEMHOLE));
    ASSERT_EQ(doc->DemUndoHistory().Count(), 1);
    EXPECT_EQ(shown(), "site.kvp* | site.kvp");
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_FILE_SAVE));
    EXPECT_EQ(shown(), "site.kvp | site.kvp");
    ASSERT_TRUE(m_frame->OnCmdMsg(ID_BUTTON_DEMUNDO));
    EXPECT_EQ(shown(), "site.kvp* | site.kvp");
    EXPECT_TRUE(m_ui.MessageTexts().isEmpty()) << m_ui.MessageTexts().join('\n').toStdString();
}

}  // namespace
