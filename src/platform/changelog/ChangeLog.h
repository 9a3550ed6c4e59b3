// Change-log feed: the maker publishes the program's news as an RSS 2.0 feed. After start-up the
// program fetches it in the background; the "Software Update" button shows what arrived. A process
// allowed one processor leaves the fetch to that window, which then waits for it. Nothing here
// complains when the network is missing: a fetch that fails or times out simply leaves the news
// empty.
#pragma once

#include <QList>
#include <QString>

class QObject;
class QWidget;

// The application record handed to RSSCL_Init.
struct RSSCL_AppRecord {
    QString feedUrl;  // the RSS feed
    QString pageUrl;  // the web page of the news, linked from the window
    QString appName;
    QString appVersion;
    QString userAgent;  // sent with the request
};

struct RSSCL_Item {
    QString title;
    QString link;
    QString text;  // the description as plain text
    QString date;
};

// Keeps the record and the window that parents the change-log window. Returns 0 when the feed
// can be fetched, non-zero when the record has no usable feed address.
int RSSCL_Init(const RSSCL_AppRecord& record, QWidget* mainWindow, int flags);
// Starts fetching the feed and returns at once; the fetch gives up after timeoutMs milliseconds.
// With one processor the fetch is left to the change-log window. Non-zero when a fetch was
// started or left to the window (or one is still running).
int RSSCL_GrabRSS(int flags, void* reserved, int timeoutMs);
// Shows the change-log window modally, after a fetch left to it (waiting for that fetch). Returns
// the window's result.
int RSSCL_ShowChangeLogDlg();
// Stops a running fetch and forgets the record (at exit).
void RSSCL_Uninit();

// Non-zero while a fetch runs.
int RSSCL_IsFetching();
// The news of the last fetch that succeeded, newest first as the feed lists them.
QList<RSSCL_Item> RSSCL_GetItems();
