#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QTest>

#include <gtest/gtest.h>

#include "controls/AbortSingleProgressDlg.h"
#include "controls/KvIcons.h"
#include "controls/ProgressTimeToComplete.h"
#include "controls/SingleProgressDlg.h"
#include "support/Pictures.h"
#include "support/TestEnv.h"

namespace {

// Runs of the bar colour along the middle row of the bar's picture.
int CountBlocks(TProgressTimeToComplete& bar) {
    const QImage image = bar.grab().toImage();
    const QRgb ink = bar.palette().color(QPalette::Highlight).rgb();
    const int y = image.height() / 2;
    int runs = 0;
    bool inside = false;
    for (int x = 0; x < image.width(); ++x) {
        const bool hit = image.pixel(x, y) == ink;
        if (hit && !inside) {
            ++runs;
        }
        inside = hit;
    }
    return runs;
}

// The bar inside the picture is drawn in its colour from its left edge to the column `end` and
// not beyond it (the text over it may hide a part, a style may shade it within the tolerance).
void ExpectFilledTo(const QImage& image, const QRect& bar, int end, const QColor& ink, int tolerance = 0) {
    const QRect done(bar.left() + 2, bar.top() + 2, end - bar.left() - 6, bar.height() - 4);
    const QRect todo(end + 4, bar.top() + 2, bar.right() - end - 6, bar.height() - 4);
    EXPECT_GT(kvtest::ColourShare(image, ink, done, tolerance), 0.5);
    EXPECT_EQ(kvtest::ColourShare(image, ink, todo, tolerance), 0.0);
}

}  // namespace

TEST(TProgressTimeToComplete, RemainingTimeTexts) {
    TProgressTimeToComplete bar;
    EXPECT_EQ(bar.GetRemainingTimeText(0.5, 59.9), "59 seconds remaining");
    EXPECT_EQ(bar.GetRemainingTimeText(0.5, 60.0), "1 minutes, 0 seconds remaining");
    EXPECT_EQ(bar.GetRemainingTimeText(0.5, 125.0), "2 minutes, 5 seconds remaining");
    EXPECT_EQ(bar.GetRemainingTimeText(0.5, 0.4), "Wait for process ending");
    // A position past the end gives a negative estimate.
    EXPECT_EQ(bar.GetRemainingTimeText(1.2, -3.0), "Wait for process ending");
    bar.m_nShowTime = 0;
    EXPECT_EQ(bar.GetRemainingTimeText(0.5, 125.0), "");
}

TEST(TProgressTimeToComplete, BarTextPutsStatusBeforeTimeAndIdleTextUpToTwoPercent) {
    TProgressTimeToComplete bar;
    EXPECT_EQ(bar.GetBarText(0.5, 125.0), "2 minutes, 5 seconds remaining");
    bar.SetText("Saving DEM...");
    EXPECT_EQ(bar.GetBarText(0.5, 125.0), "Saving DEM... 2 minutes, 5 seconds remaining");
    // However long the work has run, 2 % or less shows the idle text (empty by default).
    EXPECT_EQ(bar.GetBarText(0.02, 5000.0), "");
    bar.m_strIdleText = "Waiting";
    EXPECT_EQ(bar.GetBarText(0.01, 5000.0), "Waiting");

    // A caption without text keeps the status text; a new one replaces it.
    bar.SetCaption(QString());
    EXPECT_EQ(bar.GetBarText(0.5, 10.0), "Saving DEM... 10 seconds remaining");
    bar.SetCaption("Building overviews...");
    EXPECT_EQ(bar.GetBarText(0.5, 10.0), "Building overviews... 10 seconds remaining");
}

TEST(TProgressTimeToComplete, BlockBarPaintsEighteenBlocksWhenFull) {
    EXPECT_EQ(TProgressTimeToComplete::BlocksFor(0.0), 0);
    EXPECT_EQ(TProgressTimeToComplete::BlocksFor(0.05), 1);
    EXPECT_EQ(TProgressTimeToComplete::BlocksFor(0.5), 9);
    EXPECT_EQ(TProgressTimeToComplete::BlocksFor(1.0), 18);
    EXPECT_EQ(TProgressTimeToComplete::BlocksFor(1.5), 18);

    TProgressTimeToComplete bar;
    bar.m_nShowTime = 0;  // no text over the blocks
    bar.resize(200, 20);
    bar.SetRange(0, 100);
    bar.SetPos(50);
    EXPECT_EQ(CountBlocks(bar), 9);
    bar.SetPos(100);
    EXPECT_EQ(CountBlocks(bar), 18);
    // Past the end the bar stays full.
    bar.SetPos(130);
    EXPECT_EQ(CountBlocks(bar), 18);
    // Eighteen blocks of 9 pixels fill 162 of the 200 columns; gaps and the rest show the window.
    const QColor ink = bar.palette().color(QPalette::Highlight);
    const QImage full = kvtest::Screenshot(&bar, "TProgressTimeToComplete_blocks_full");
    EXPECT_DOUBLE_EQ(kvtest::ColourShare(full, ink), 162.0 / 200.0);
    EXPECT_DOUBLE_EQ(kvtest::ColourShare(full, bar.palette().color(QPalette::Window)), 38.0 / 200.0);

    bar.m_nShowTime = 1;
    bar.SetText("Saving DEM...");
    bar.resize(360, 22);
    bar.SetPos(40);
    bar.m_nStartTime = TProgressTimeToComplete::Clock() - 84000;  // 84 s for 40 %: 126 s to go
    const QImage text = kvtest::Screenshot(&bar, "TProgressTimeToComplete_text");
    // 40 % takes 8 blocks of 18 pixels with their gaps.
    ExpectFilledTo(text, bar.rect(), TProgressTimeToComplete::BlocksFor(0.4) * 20 - 2, ink);
    // The text is written across the empty part of the bar too.
    const QRect empty(200, 0, 100, 22);
    EXPECT_GT(kvtest::ColourShare(text, bar.palette().color(QPalette::WindowText), empty, 96), 0.02);
    bar.SetSmooth(true);
    const QImage smooth = kvtest::Screenshot(&bar, "TProgressTimeToComplete_smooth");
    ExpectFilledTo(smooth, bar.rect(), 144, ink);
    // One run without gaps: the filled part is the bar colour but where the text lies over it.
    EXPECT_GT(kvtest::ColourShare(smooth, ink, QRect(0, 0, 144, 22)), 0.7);
}

TEST(TProgressTimeToComplete, RangesAndFraction) {
    TProgressTimeToComplete bar;
    bar.SetRange16(0, 70000);  // cut to 16 bits
    EXPECT_EQ(bar.GetUpper(), 70000 - 65536);
    bar.SetRange(0, 200000);
    bar.SetPos(50000);
    EXPECT_DOUBLE_EQ(bar.Fraction(), 0.25);
    bar.SetRange(10, 10);  // an empty range counts as nothing done
    EXPECT_DOUBLE_EQ(bar.Fraction(), 0.0);

    const qint64 before = TProgressTimeToComplete::Clock();
    bar.m_nStartTime = 0;
    bar.RestartClock();
    EXPECT_GE(bar.m_nStartTime, before);
}

TEST(CAbortSingleProgressDlg, AbortRaisesTheFlagAndTheWindowStays) {
    CAbortSingleProgressDlg dlg;
    ASSERT_NE(dlg.Create(), 0);
    EXPECT_TRUE(dlg.isHidden());
    EXPECT_TRUE(dlg.windowFlags() & Qt::WindowStaysOnTopHint);
    dlg.SetCaption("Analyzing Area...");
    dlg.SetRange(0, 100);
    dlg.show();
    dlg.SetPos(30);
    EXPECT_EQ(dlg.m_bAbort, 0);
    EXPECT_FALSE(dlg.IsAborted());
    EXPECT_EQ(dlg.m_btnAbort.NormalIcon().toImage(), KvLoadIcon(IDI_CANCEL).toImage());
    const QImage shot = kvtest::Screenshot(&dlg, "CAbortSingleProgressDlg");
    const QRect bar = dlg.m_ProgressCtrl.geometry();
    ExpectFilledTo(shot, bar, bar.left() + bar.width() * 3 / 10,
                   dlg.m_ProgressCtrl.palette().color(QPalette::Highlight), 60);
    // The Abort button shows its icon and caption.
    EXPECT_GT(kvtest::ColourCount(shot, dlg.m_btnAbort.geometry()), 10);

    QTest::mouseClick(&dlg.m_btnAbort, Qt::LeftButton);
    EXPECT_EQ(dlg.m_bAbort, 1);
    EXPECT_TRUE(dlg.IsAborted());
    QTest::mouseClick(&dlg.m_btnAbort, Qt::LeftButton);
    EXPECT_EQ(dlg.m_bAbort, 1);
    EXPECT_TRUE(dlg.isVisible());

    // Neither Escape nor the close button ends a progress window.
    QTest::keyClick(&dlg, Qt::Key_Escape);
    dlg.close();
    EXPECT_TRUE(dlg.isVisible());
}

TEST(CSingleProgressDlg, DrivenThroughTheProgressSink) {
    CSingleProgressDlg dlg;
    dlg.Create();
    ProgressSink& sink = dlg;
    sink.SetCaption("Generating pyramidal levels...");
    sink.SetRange(0, 8);
    sink.SetPos(3);
    EXPECT_EQ(dlg.windowTitle(), "Generating pyramidal levels...");
    EXPECT_EQ(dlg.m_ProgressCtrl.GetPos(), 3);
    EXPECT_FALSE(sink.IsAborted());
    dlg.show();
    const QImage shot = kvtest::Screenshot(&dlg, "CSingleProgressDlg");
    const QRect bar = dlg.m_ProgressCtrl.geometry();
    ExpectFilledTo(shot, bar, bar.left() + bar.width() * 3 / 8,
                   dlg.m_ProgressCtrl.palette().color(QPalette::Highlight), 60);
}
