#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "controls/GraphCtrl.h"
#include "controls/HyperLink.h"
#include "controls/TooltipDlg.h"
#include "support/Pictures.h"
#include "support/TestEnv.h"

namespace {

QImage Render(const CGraphCtrl& graph, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    graph.DrawGraph(painter, size);
    return image;
}

}  // namespace

TEST(CGraphCtrl, ScaleAndBarHeights) {
    CGraphCtrl graph;
    // 400 x 300 with the construction values: (300 - 40 - 5) / (100 / 5) = 12 pixels per step.
    EXPECT_EQ(graph.PixelsPerStep(300), 12);
    EXPECT_EQ(graph.AddBar(50, kv::Rgb(200, 30, 30), "50"), 1);
    EXPECT_EQ(graph.AddBar(0, kv::Rgb(30, 200, 30), "none"), 2);
    EXPECT_EQ(graph.AddBar(100, kv::Rgb(30, 30, 200), "all"), 3);
    const QImage image = Render(graph, QSize(400, 300));
    // The first bar is 10 steps high: its white top edge lies 120 pixels above the axis at 260.
    const int x = 50 + (350 / 3) / 2;
    EXPECT_EQ(image.pixel(x, 260 - 120), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(x, 260 - 60), qRgb(200, 30, 30));
    EXPECT_EQ(image.pixel(x, 260 - 121), kv::ToQColor(kv::Rgb(224, 231, 240)).rgb());

    // An odd quotient is taken down to an even one, so a full bar meets the top label: with a
    // height of 305, (305 - 45) / 20 = 13 becomes 12, and the bar of 100 ends at the tick of 100.
    EXPECT_EQ(graph.PixelsPerStep(305), 12);
    const QImage odd = Render(graph, QSize(400, 305));
    const int full = 50 + 2 * (350 / 3) + 10;
    EXPECT_EQ(odd.pixel(full, 265 - 240), qRgb(255, 255, 255));
    EXPECT_EQ(odd.pixel(full, 265 - 241), kv::ToQColor(kv::Rgb(224, 231, 240)).rgb());

    graph.SetTitle("a title much longer than fifteen");
    EXPECT_EQ(graph.GetTitle().size(), 15);
    EXPECT_EQ(graph.AddBar(1, 0, QString(300, 'x')), 4);
    EXPECT_EQ(graph.Bars().back().label.size(), 255);
}

TEST(CGraphCtrl, DegenerateScalesDrawTheAxesOnly) {
    CGraphCtrl graph;
    graph.AddBar(50, kv::Rgb(200, 30, 30), "50");
    graph.SetRange(0, 3);  // less than one step
    EXPECT_EQ(graph.PixelsPerStep(300), 0);
    Render(graph, QSize(400, 300));
    graph.SetRange(0, 100000);  // less than 2 pixels per step
    EXPECT_EQ(graph.PixelsPerStep(300), 0);
    Render(graph, QSize(400, 300));
    graph.SetRange(0, 100);
    graph.SetStep(0);
    EXPECT_EQ(graph.PixelsPerStep(300), 0);
    const QImage image = Render(graph, QSize(400, 300));
    EXPECT_EQ(image.pixel(200, 260), qRgb(0, 0, 0));  // the category axis
}

TEST(CGraphCtrl, Screenshot) {
    CGraphCtrl graph;
    graph.resize(400, 300);
    graph.SetTitle("%");
    graph.SetStep(10);
    graph.AddBar(100, kv::Rgb(30, 120, 200), "1520 [0.00,10.00]");
    graph.AddBar(62, kv::Rgb(60, 180, 75), "944 [10.00,20.00]");
    graph.AddBar(18, kv::Rgb(240, 200, 40), "270 [20.00,30.00]");
    graph.AddBar(0, kv::Rgb(220, 60, 40), "0 [30.00,40.00]");
    const QImage shot = kvtest::Screenshot(&graph, "CGraphCtrl");
    // Four bars of 87 pixels from x = 50 over the axis at y = 260, 24 pixels a step of 10: the
    // first reaches 240 pixels up, the third 43, the last is not drawn.
    auto column = [](int bar, int top, int bottom) {
        return QRect(50 + 87 * bar + 10, top, 67, bottom - top);
    };
    EXPECT_EQ(kvtest::ColourShare(shot, QColor(30, 120, 200), column(0, 30, 255)), 1.0);
    EXPECT_EQ(kvtest::ColourShare(shot, QColor(60, 180, 75), column(1, 120, 255)), 1.0);
    EXPECT_EQ(kvtest::ColourShare(shot, QColor(240, 200, 40), column(2, 225, 255)), 1.0);
    const QColor background = kv::ToQColor(kv::Rgb(224, 231, 240));
    EXPECT_EQ(kvtest::ColourShare(shot, background, column(2, 150, 210)), 1.0);
    EXPECT_EQ(kvtest::ColourShare(shot, background, column(3, 30, 255)), 1.0);
    // The labels are written under the axis.
    EXPECT_GT(kvtest::ColourCount(shot, QRect(50, 263, 350, 20)), 3);
}

TEST(CHyperLink, ClickWithoutTargetStillNotifiesDisabledLinkDoesNothing) {
    CHyperLink link("www.example.org");
    link.show();
    QSignalSpy clicked(&link, &CHyperLink::clicked);
    QTest::mouseClick(&link, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(link.CurrentTextColor(), kv::Rgb(0, 0, 255));

    // Sized to its text when first shown.
    EXPECT_EQ(link.size(), link.sizeHint());
    QFont arial("Arial");
    arial.setPixelSize(14);
    EXPECT_EQ(link.width(), QFontMetrics(arial).horizontalAdvance(link.text()) + 21);

    link.SetURL("mailto:support@example.org");
    EXPECT_EQ(link.toolTip(), "mailto:support@example.org");
    link.setEnabled(false);
    QTest::mouseClick(&link, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(link.CurrentTextColor(), kv::ToColorRef(link.palette().color(QPalette::Dark)));
}

TEST(CHyperLink, EnteringWithTheButtonHeldShowsThePressedColour) {
    CHyperLink link("Web page");
    link.show();
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), link.mapToGlobal(QPointF(5, 5)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&link, &move);
    EXPECT_TRUE(link.IsHovering());
    EXPECT_TRUE(link.IsPressed());
    EXPECT_EQ(link.CurrentTextColor(), kv::Rgb(200, 0, 225));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&link, &leave);
    EXPECT_EQ(link.CurrentTextColor(), kv::Rgb(0, 0, 255));
    // The text is written in that blue.
    const QImage shot = kvtest::Screenshot(&link, "CHyperLink");
    EXPECT_GT(kvtest::ColourShare(shot, Qt::blue, QRect(), 40), 0.02);
}

TEST(CTooltipDlg, OneOwnerDeletesItClosingTwiceIsHarmless) {
    auto* owner = new QWidget;
    QPointer<CTooltipDlg> tip = new CTooltipDlg(owner);
    ASSERT_NE(tip->Create(), 0);
    EXPECT_TRUE(tip->isHidden());
    tip->SetBackgroundColor(0x75E8EC);
    tip->SetText("12.75");
    tip->resize(80, 20);
    tip->show();
    EXPECT_EQ(tip->palette().color(QPalette::Window), QColor(236, 232, 117));
    // The colour fills the window around the text.
    const QImage shot = kvtest::Screenshot(tip, "CTooltipDlg");
    EXPECT_GT(kvtest::ColourShare(shot, QColor(236, 232, 117)), 0.6);
    EXPECT_GT(kvtest::ColourCount(shot), 4);
    tip->DestroyWindow();
    tip->DestroyWindow();
    EXPECT_FALSE(tip.isNull());
    EXPECT_TRUE(tip->isHidden());
    delete owner;
    EXPECT_TRUE(tip.isNull());
}
