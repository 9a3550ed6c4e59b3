// The change-log feed: read from a file URL; unreachable without a word to the operator.
#include <gtest/gtest.h>
#include <QDialog>
#include <QTextBrowser>
#include <QUrl>

#include "platform/changelog/ChangeLog.h"
#include "platform/tools/Threads.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTest>

namespace {

RSSCL_AppRecord Record(const QString& feed) {
    RSSCL_AppRecord r;
    r.feedUrl = feed;
    r.pageUrl = QStringLiteral("https://www.drovane.example/kelvaro/changelog");
    r.appName = QStringLiteral("Kelvaro");
    r.appVersion = QStringLiteral("4.2.1");
    r.userAgent = QStringLiteral("Kelvaro/4.2.1");
    return r;
}

void WaitUntilDone() {
    QDeadlineTimer deadline(10000);
    while (RSSCL_IsFetching() && !deadline.hasExpired()) {
        QTest::qWait(10);
    }
}

// A feed of two items in a temporary folder; its path.
QString WriteFeed(const char* folder) {
    QString path = kvtest::NewTempFolder(folder) + "/changelog.rss";
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"(<?xml version="1.0"?>
<rss version="2.0"><channel><title>Kelvaro news</title>
<item><title>Kelvaro 4.2.1</title><link>https://www.drovane.example/4.2.1</link>
<description>&lt;p&gt;Faster &lt;b&gt;contours&lt;/b&gt;&lt;/p&gt;</description><pubDate>Mon, 01 Jan 2024 10:00:00 GMT</pubDate></item>
<item><title>Kelvaro 4.2.0</title><description>First release</description></item>
</channel></rss>)");
    return path;
}

// The text the change-log window shows, its window answered at once.
QString ShownNews(kvtest::ScriptedInteraction& ui) {
    QString shown;
    ui.AnswerModal([&](QDialog& dialog) {
        if (auto* browser = dialog.findChild<QTextBrowser*>()) {
            shown = browser->toPlainText();
        }
        return IDCANCEL;
    });
    RSSCL_ShowChangeLogDlg();
    return shown;
}

TEST(ChangeLog, ReadsTheNewsOfAFeed) {
    if (kv::ProgramThreads() < 2) {
        GTEST_SKIP() << "one processor: the window fetches the news";
    }
    const QString path = WriteFeed("feed");
    kvtest::ScriptedInteraction ui;
    ASSERT_EQ(RSSCL_Init(Record(QUrl::fromLocalFile(path).toString()), nullptr, 0), 0);
    ASSERT_EQ(RSSCL_GrabRSS(0, nullptr, 5000), 1);
    WaitUntilDone();
    QList<RSSCL_Item> items = RSSCL_GetItems();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0].title, QStringLiteral("Kelvaro 4.2.1"));
    EXPECT_EQ(items[0].text, QStringLiteral("Faster contours"));
    EXPECT_EQ(items[0].link, QStringLiteral("https://www.drovane.example/4.2.1"));
    EXPECT_EQ(items[1].text, QStringLiteral("First release"));

    EXPECT_TRUE(ShownNews(ui).contains("Kelvaro 4.2.0"));
    EXPECT_TRUE(ui.Messages().empty());
    RSSCL_Uninit();
}

// With one processor the fetch starts no thread until the window opens, and the window waits for it.
TEST(ChangeLog, WithOneProcessorTheWindowFetchesTheNews) {
    const QString path = WriteFeed("unfetched");
    const kvtest::ProcessorsScope one(1);
    kvtest::ScriptedInteraction ui;
    ASSERT_EQ(RSSCL_Init(Record(QUrl::fromLocalFile(path).toString()), nullptr, 0), 0);
    ASSERT_EQ(RSSCL_GrabRSS(0, nullptr, 5000), 1);
    EXPECT_EQ(RSSCL_IsFetching(), 0);
    const QString shown = ShownNews(ui);
    EXPECT_TRUE(shown.contains("Faster contours")) << shown.toStdString();
    EXPECT_EQ(RSSCL_IsFetching(), 0);
    EXPECT_EQ(RSSCL_GetItems().size(), 2);
    EXPECT_TRUE(ui.Messages().empty());
    RSSCL_Uninit();
}

TEST(ChangeLog, WithoutANetworkNothingIsSaidAndStartUpGoesOn) {
    kvtest::ScriptedInteraction ui;
    // Nothing listens on port 1 of this machine: the fetch fails as it would without a network.
    ASSERT_EQ(RSSCL_Init(Record(QStringLiteral("http://127.0.0.1:1/changelog.rss")), nullptr, 0), 0);
    ASSERT_EQ(RSSCL_GrabRSS(0, nullptr, 5000), 1);
    // The call came back before the fetch ended: it never waits for the network.
    EXPECT_EQ(RSSCL_IsFetching(), 1);
    WaitUntilDone();
    EXPECT_EQ(RSSCL_IsFetching(), 0);
    EXPECT_TRUE(RSSCL_GetItems().isEmpty());
    EXPECT_TRUE(ui.Messages().empty());
    RSSCL_Uninit();
}

TEST(ChangeLog, ARecordWithoutAFeedAddressFetchesNothing) {
    EXPECT_NE(RSSCL_Init(Record(QString()), nullptr, 0), 0);
    EXPECT_EQ(RSSCL_GrabRSS(0, nullptr, 5000), 0);
    EXPECT_EQ(RSSCL_IsFetching(), 0);
}

TEST(ChangeLog, SomethingThatIsNotAFeedLeavesTheNewsEmpty) {
    QString path = kvtest::NewTempFolder("notfeed") + "/page.html";
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html><body>maintenance</body></html>");
    f.close();
    kvtest::ScriptedInteraction ui;
    ASSERT_EQ(RSSCL_Init(Record(QUrl::fromLocalFile(path).toString()), nullptr, 0), 0);
    RSSCL_GrabRSS(0, nullptr, 5000);
    WaitUntilDone();
    EXPECT_TRUE(RSSCL_GetItems().isEmpty());
    EXPECT_TRUE(ui.Messages().empty());
    RSSCL_Uninit();
}

}  // namespace
