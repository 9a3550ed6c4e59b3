#include "controls/TimedWorkDlg.h"

#include <QTimerEvent>

#include <exception>
#include <new>

#include "controls/KvIcons.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

CTimedWorkDlg::CTimedWorkDlg(QWidget* parent) : KvDialog(parent), m_btnAbort(QStringLiteral("Abort"), this) {
    m_btnAbort.setObjectName(QStringLiteral("abort"));
    connect(&m_btnAbort, &QPushButton::clicked, this, &CTimedWorkDlg::OnBnClickedAbort);
}

bool CTimedWorkDlg::OnInitDialog() {
    if (!CanWork()) {
        EndDialog(IDCANCEL);
        return true;
    }
    m_btnAbort.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_nTimer = startTimer(StartDelay());
    return true;
}

void CTimedWorkDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_nTimer) {
        OnTimer(kStartTimer);
        return;
    }
    KvDialog::timerEvent(event);
}

void CTimedWorkDlg::OnTimer(int id) {
    if (id != kStartTimer || m_bRunning) {
        return;
    }
    if (m_nTimer) {
        killTimer(m_nTimer);
        m_nTimer = 0;
    }
    m_bRunning = true;
    bool done = false;
    // Nothing may leave an event handler by an exception: it reaches the operator here.
    try {
        done = RunWork();
    } catch (const std::bad_alloc&) {
        KvMessageBox(QStringLiteral("%1: not enough memory").arg(windowTitle()), MB_OK | MB_ICONERROR);
    } catch (const std::exception& e) {
        KvMessageBox(QStringLiteral("%1: %2").arg(windowTitle(), QString::fromUtf8(e.what())),
                     MB_OK | MB_ICONERROR);
    }
    m_bRunning = false;
    EndDialog(done ? IDOK : IDCANCEL);
}

void CTimedWorkDlg::OnOK() {
    if (!m_bRunning) {
        KvDialog::OnOK();
    }
}

void CTimedWorkDlg::OnCancel() {
    if (!m_bRunning) {
        KvDialog::OnCancel();
    }
}

void CTimedWorkDlg::OnBnClickedAbort() {
    m_bAbort = 1;
    m_btnAbort.setEnabled(false);
    ZQT_PumpMessages();
}
