#include "controls/AbortSingleProgressDlg.h"

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"

CAbortSingleProgressDlg::CAbortSingleProgressDlg(QWidget* parent)
    : KvProgressDialog(parent), m_btnAbort(QStringLiteral("Abort"), this) {
    setFixedSize(kv::DluSize(this, 359, 24));
    m_ProgressCtrl.setGeometry(kv::DluRect(this, 7, 5, 290, 14));
    m_btnAbort.setGeometry(kv::DluRect(this, 302, 4, 50, 16));
    connect(&m_btnAbort, &QPushButton::clicked, this, &CAbortSingleProgressDlg::OnBnClickedAbort);
}

bool CAbortSingleProgressDlg::OnInitDialog() {
    m_btnAbort.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_bAbort = 0;
    return true;
}

void CAbortSingleProgressDlg::OnBnClickedAbort() {
    m_bAbort = 1;
}
