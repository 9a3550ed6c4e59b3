// A progress window with an "Abort" button. Pressing it raises the abort flag, which the worker
// polls (directly or through IsAborted); the window itself stays until its worker ends it.
#pragma once

#include "controls/ButtonST.h"
#include "controls/SingleProgressDlg.h"

class CAbortSingleProgressDlg : public KvProgressDialog {
    Q_OBJECT
public:
    explicit CAbortSingleProgressDlg(QWidget* parent = nullptr);

    bool IsAborted() const override { return m_bAbort != 0; }

    // 0 while running, 1 once the operator pressed Abort.
    int m_bAbort = 0;
    CButtonST m_btnAbort;

protected:
    bool OnInitDialog() override;

private:
    void OnBnClickedAbort();
};
