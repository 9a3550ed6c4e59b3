// The base of the progress windows: a small modeless window over the main window with one
// progress bar, driven by a worker through the progress-sink calls.
//
// Create() makes the window hidden, topmost and centred over the main window; the worker shows
// it while a step runs, hides it between steps and deletes it at the end. SetCaption sets the
// window's title, SetRange and SetPos drive the bar, and SetPos lets pending events through so
// the window repaints and its buttons answer. Enter, Escape and the window's close button do not
// close a progress window: only its worker ends it.
#pragma once

#include "controls/KvProgressBar.h"
#include "platform/tools/ProgressSink.h"
#include "platform/ui/KvDialog.h"

class KvProgressDialog : public KvDialog, public ProgressSink {
    Q_OBJECT
public:
    explicit KvProgressDialog(QWidget* parent = nullptr);

    // Makes the window: hidden, topmost, centred over the main window. Returns non-zero.
    int Create();
    // Centres the window on the main window (on the screen when there is none).
    void CenterOverMainWindow();

    void SetRange(int lower, int upper) override;
    void SetPos(int pos) override;
    void SetCaption(const QString& caption) override;
    void SetStartTime() override;

    KvProgressBar m_ProgressCtrl;

protected:
    void OnOK() override {}
    void OnCancel() override {}
    void closeEvent(QCloseEvent* event) override;
};

// A progress window for work that cannot be stopped.
class CSingleProgressDlg : public KvProgressDialog {
    Q_OBJECT
public:
    explicit CSingleProgressDlg(QWidget* parent = nullptr);
};

// Hides a progress window on every way out of the scope that showed it.
class ProgressShownScope {
public:
    explicit ProgressShownScope(KvProgressDialog& progress) : m_progress(progress) {}
    ~ProgressShownScope() { m_progress.hide(); }
    ProgressShownScope(const ProgressShownScope&) = delete;
    ProgressShownScope& operator=(const ProgressShownScope&) = delete;

private:
    KvProgressDialog& m_progress;
};
