// The project window and its plan view: the drawing window over the view, the window title, and
// the close guard with its save question.
#include <QMdiArea>
#include <QTest>

#include <gtest/gtest.h>

#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"
#include "view/KelvaroFrame.h"
#include "view/KelvaroView.h"

namespace {

class ProjectWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ActiveCadCommandId = 0;
        m_area.resize(640, 480);
        m_area.show();
        m_doc = new CKelvaroDoc();
        m_doc->SetTitle(QStringLiteral("Kelvaro1"));
        // A drawing with something in it, dirty as after an edit.
        CadAddLine(m_doc->m_pCad, 0, 0, 0, 100, 50, 0);
    }
    void TearDown() override {
        ActiveCadCommandId = 0;
        if (IsOpen()) {
            m_doc->OnCloseDocument();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    bool IsOpen() const { return CKelvaroDoc::GetOpenDocuments().contains(m_doc); }

    QMdiArea m_area;
    CKelvaroDoc* m_doc = nullptr;
};

TEST_F(ProjectWindowTest, TheDrawingWindowFillsTheViewAndTheProjectStartsClean) {
    ASSERT_NE(CadGetDirty(m_doc->m_pCad), 0);
    CKelvaroFrame* frame = CreateProjectWindow(m_doc, &m_area);
    CKelvaroView* view = frame->GetView();
    ASSERT_EQ(m_doc->GetFirstView(), view);
    EXPECT_EQ(view->GetParentFrame(), frame);
    QWidget* cad = view->GetCadWindow();
    ASSERT_NE(cad, nullptr);
    EXPECT_EQ(cad->parentWidget(), view);
    EXPECT_EQ(CadGetWindow(m_doc->m_pCad), cad);
    EXPECT_EQ(CadGetDirty(m_doc->m_pCad), 0);
    EXPECT_EQ(kv::GetCommandTarget(), m_doc);
    // Zoomed to the drawing's extents: the whole line is in view.
    double left, bottom, right, top;
    ASSERT_NE(CadGetViewRect(cad, &left, &bottom, &right, &top), 0);
    EXPECT_LE(left, 0.0);
    EXPECT_GE(right, 100.0);
    EXPECT_LE(bottom, 0.0);
    EXPECT_GE(top, 50.0);

    for (QSize size : {QSize(500, 300), QSize(320, 400)}) {
        m_area.setViewMode(QMdiArea::SubWindowView);
        frame->resize(size);
        QCoreApplication::processEvents();
        EXPECT_EQ(cad->geometry(), view->rect());
    }
}

TEST_F(ProjectWindowTest, TheTitleShowsTheProjectAndWhetherItIsModified) {
    CKelvaroFrame* frame = CreateProjectWindow(m_doc, &m_area);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Kelvaro1[*]"));
    EXPECT_FALSE(frame->isWindowModified());
    m_doc->SetModifiedFlag(1);
    EXPECT_TRUE(frame->isWindowModified());
    m_doc->SetTitle(QStringLiteral("site.kvp"));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("site.kvp[*]"));
}

TEST_F(ProjectWindowTest, ClosingIsRefusedWhileACommandRunsOrAWorkerIsBusy) {
    kvtest::ScriptedInteraction ui;
    CKelvaroFrame* frame = CreateProjectWindow(m_doc, &m_area);
    ActiveCadCommandId = CMD_VOLUME;
    EXPECT_FALSE(frame->close());
    ActiveCadCommandId = 0;
    {
        kv::BusyScope worker;
        EXPECT_FALSE(frame->close());
    }
    EXPECT_EQ(ui.MessageTexts(),
              QStringList({"Close active command before exit", "Close active command before exit"}));
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Warning);
    EXPECT_TRUE(IsOpen());
    EXPECT_TRUE(frame->isVisible());
}

TEST_F(ProjectWindowTest, ClosingAfterADemEditAsksToSaveEvenWithACleanDrawing) {
    kvtest::ScriptedInteraction ui;
    QPointer<CKelvaroFrame> frame = CreateProjectWindow(m_doc, &m_area);
    ASSERT_EQ(CadGetDirty(m_doc->m_pCad), 0);
    auto* dem = new CDEM(m_doc);
    dem->m_name = QStringLiteral("site.tif");
    dem->m_grid = cv::Mat(8, 8, CV_32FC1, cv::Scalar(100.0f));
    m_doc->m_DEMs[dem->m_name] = dem;
    dem->m_grid.at<float>(3, 4) = 104.25f;
    dem->m_modified = 1;

    ui.AnswerMessage(IDCANCEL);
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?"}));
    EXPECT_EQ(ui.Messages()[0].type & MB_TYPEMASK, unsigned(MB_YESNOCANCEL));
    EXPECT_TRUE(frame->isWindowModified());
    ASSERT_TRUE(IsOpen());

    ui.Clear();
    ui.AnswerMessage(IDNO);
    EXPECT_TRUE(frame->close());
    EXPECT_EQ(ui.MessageTexts(), QStringList({"Save changes to Kelvaro1?"}));
    EXPECT_FALSE(IsOpen());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(frame.isNull());
    EXPECT_TRUE(m_area.subWindowList().isEmpty());
}

}  // namespace
