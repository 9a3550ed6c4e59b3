// A modal window that shows itself and then runs its work from a one-shot timer, with an "Abort"
// button that raises the flag the work polls. Enter, Escape and the window's close button do
// nothing while the work runs; an exception that escapes the work reaches the operator as a
// message headed by the window's title. The window ends with IDOK when the work answers true,
// IDCANCEL otherwise.
#pragma once

#include "controls/ButtonST.h"
#include "platform/ui/KvDialog.h"

class CTimedWorkDlg : public KvDialog {
    Q_OBJECT
public:
    // The timer that starts the work.
    static constexpr int kStartTimer = 100;

    explicit CTimedWorkDlg(QWidget* parent = nullptr);

    // Timer 100: runs the work once and ends the window.
    void OnTimer(int id);
    // Raises the abort flag and disables the button.
    void OnBnClickedAbort();

    // 0 until Abort is pressed.
    int m_bAbort = 0;
    CButtonST m_btnAbort;

protected:
    // The work; true ends the window with IDOK.
    virtual bool RunWork() = 0;
    // Whether there is anything to work on; without it the window ends at once with IDCANCEL.
    virtual bool CanWork() const = 0;
    // The pause between the window's showing and the start of the work, in milliseconds.
    virtual int StartDelay() const = 0;

    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;
    void timerEvent(QTimerEvent* event) override;

private:
    int m_nTimer = 0;
    bool m_bRunning = false;
};
