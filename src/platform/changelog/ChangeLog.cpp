#include "platform/changelog/ChangeLog.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QUrl>
#include <QVBoxLayout>
#include <QXmlStreamReader>

#include "platform/tools/Threads.h"
#include "platform/ui/KvDialog.h"

namespace {

struct FeedState {
    RSSCL_AppRecord record;
    QPointer<QWidget> mainWindow;
    QPointer<QNetworkAccessManager> network;
    QPointer<QNetworkReply> reply;
    QList<RSSCL_Item> items;
    bool initialised = false;
    bool fetching = false;
    int deferredTimeoutMs = 0;  // a fetch asked for and left to the window (one processor)
};

FeedState& State() {
    static FeedState state;
    return state;
}

QString PlainText(const QString& html) {
    return QTextDocumentFragment::fromHtml(html).toPlainText().trimmed();
}

// Reads the items of an RSS 2.0 document; false when it is not one.
bool ParseFeed(const QByteArray& data, QList<RSSCL_Item>* items) {
    QXmlStreamReader xml(data);
    QList<RSSCL_Item> found;
    bool sawRss = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement()) {
            continue;
        }
        if (xml.name() == QLatin1String("rss")) {
            sawRss = true;
        } else if (xml.name() == QLatin1String("item")) {
            RSSCL_Item item;
            while (!(xml.isEndElement() && xml.name() == QLatin1String("item")) && !xml.atEnd()) {
                xml.readNext();
                if (!xml.isStartElement()) {
                    continue;
                }
                if (xml.name() == QLatin1String("title")) {
                    item.title = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                } else if (xml.name() == QLatin1String("link")) {
                    item.link = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                } else if (xml.name() == QLatin1String("description")) {
                    item.text = PlainText(xml.readElementText(QXmlStreamReader::IncludeChildElements));
                } else if (xml.name() == QLatin1String("pubDate")) {
                    item.date = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
                }
            }
            found << item;
        }
    }
    if (xml.hasError() || !sawRss) {
        return false;
    }
    *items = found;
    return true;
}

void OnFinished(QNetworkReply* reply) {
    FeedState& s = State();
    reply->deleteLater();
    if (reply != s.reply) {
        return;  // a fetch given up at exit
    }
    s.fetching = false;
    if (reply->error() == QNetworkReply::NoError) {
        QList<RSSCL_Item> items;
        if (ParseFeed(reply->readAll(), &items)) {
            s.items = items;
        }
    }
}

QString Escaped(const QString& text) {
    return text.toHtmlEscaped().replace('\n', QStringLiteral("<br>"));
}

// The change-log window: the news of the last fetch and a link to the page that lists them all.
class ChangeLogDlg : public KvDialog {
public:
    explicit ChangeLogDlg(QWidget* parent) : KvDialog(parent) {
        const FeedState& s = State();
        setWindowTitle(QStringLiteral("%1 - Software Update").arg(s.record.appName));
        auto* layout = new QVBoxLayout(this);
        auto* browser = new QTextBrowser(this);
        browser->setOpenExternalLinks(true);
        browser->setOpenLinks(true);
        browser->setHtml(Html());
        layout->addWidget(browser);
        if (!s.record.pageUrl.isEmpty()) {
            auto* link = new QLabel(this);
            link->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                              .arg(s.record.pageUrl.toHtmlEscaped(), s.record.pageUrl.toHtmlEscaped()));
            link->setOpenExternalLinks(true);
            layout->addWidget(link);
        }
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
        connect(buttons, &QDialogButtonBox::rejected, this, [this] { EndDialog(2); });
        layout->addWidget(buttons);
        resize(560, 420);
    }

private:
    static QString Html() {
        const FeedState& s = State();
        QString html =
            QStringLiteral("<h2>%1 %2</h2>").arg(Escaped(s.record.appName), Escaped(s.record.appVersion));
        if (s.items.isEmpty()) {
            html += QStringLiteral("<p>No news is available at the moment.</p>");
            return html;
        }
        for (const RSSCL_Item& item : s.items) {
            QString title = Escaped(item.title);
            if (!item.link.isEmpty()) {
                title = QStringLiteral("<a href=\"%1\">%2</a>").arg(item.link.toHtmlEscaped(), title);
            }
            html += QStringLiteral("<h3>%1</h3>").arg(title);
            if (!item.date.isEmpty()) {
                html += QStringLiteral("<p><i>%1</i></p>").arg(Escaped(item.date));
            }
            html += QStringLiteral("<p>%1</p>").arg(Escaped(item.text));
        }
        return html;
    }
};

}  // namespace

int RSSCL_Init(const RSSCL_AppRecord& record, QWidget* mainWindow, int /*flags*/) {
    FeedState& s = State();
    s.record = record;
    s.mainWindow = mainWindow;
    QUrl url(record.feedUrl);
    s.initialised = url.isValid() && !url.scheme().isEmpty();
    s.deferredTimeoutMs = 0;
    return s.initialised ? 0 : 1;
}

namespace {

void StartFetch(FeedState& s, int timeoutMs) {
    if (!s.network) {
        s.network = new QNetworkAccessManager(QCoreApplication::instance());
    }
    QNetworkRequest request{QUrl(s.record.feedUrl)};
    request.setTransferTimeout(timeoutMs > 0 ? timeoutMs : 5000);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    if (!s.record.userAgent.isEmpty()) {
        request.setHeader(QNetworkRequest::UserAgentHeader, s.record.userAgent);
    }
    QNetworkReply* reply = s.network->get(request);
    s.reply = reply;
    s.fetching = true;
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply] { OnFinished(reply); });
}

}  // namespace

int RSSCL_GrabRSS(int /*flags*/, void* /*reserved*/, int timeoutMs) {
    FeedState& s = State();
    if (!s.initialised || QCoreApplication::instance() == nullptr) {
        return 0;
    }
    if (s.fetching || s.deferredTimeoutMs > 0) {
        return 1;
    }
    // The network works on threads of its own (the request's and the proxy lookup's): a process
    // allowed one processor leaves the fetch to the window, so that they never compete with the
    // operator's commands.
    if (kv::ProgramThreads() <= 1) {
        s.deferredTimeoutMs = timeoutMs > 0 ? timeoutMs : 5000;
        return 1;
    }
    StartFetch(s, timeoutMs);
    return 1;
}

int RSSCL_ShowChangeLogDlg() {
    FeedState& s = State();
    if (s.deferredTimeoutMs > 0 && !s.fetching) {
        StartFetch(s, s.deferredTimeoutMs);
        s.deferredTimeoutMs = 0;
        QEventLoop loop;
        QObject::connect(s.reply, &QNetworkReply::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    ChangeLogDlg dlg(s.mainWindow);
    return dlg.DoModal();
}

void RSSCL_Uninit() {
    FeedState& s = State();
    QPointer<QNetworkReply> reply = s.reply;
    s.reply.clear();
    s.fetching = false;
    if (reply) {
        reply->abort();
    }
    delete s.network.data();
    s.network.clear();
    s.initialised = false;
    s.mainWindow.clear();
    s.items.clear();
}

int RSSCL_IsFetching() {
    return State().fetching ? 1 : 0;
}

QList<RSSCL_Item> RSSCL_GetItems() {
    return State().items;
}
