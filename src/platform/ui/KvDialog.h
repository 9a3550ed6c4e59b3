// Base of the program's dialogs: results are the classic ids (IDOK 1, IDCANCEL 2 or a command id
// of the dialog's own), OnInitDialog runs once before the dialog is first shown, and DoModal runs
// through the interaction service so that tests can answer it. Group boxes lie beneath the
// controls they frame, whatever order the dialog made them in, so that clicks reach the controls.
#pragma once

#include <QDialog>

class KvDialog : public QDialog {
    Q_OBJECT
public:
    explicit KvDialog(QWidget* parent = nullptr);

    // Runs the dialog modally; returns IDOK, IDCANCEL or the id given to EndDialog.
    int DoModal();
    // Closes the dialog with the given result.
    void EndDialog(int result);

    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

protected:
    // Called once, before the first show. Return value kept for symmetry with the callers' habits.
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(1); }
    virtual void OnCancel() { EndDialog(2); }

    void showEvent(QShowEvent* event) override;
    // Runs OnInitDialog again at the next show, for a dialog that is opened several times and
    // sets itself up at every opening.
    void InitAgainOnNextShow() { m_initialised = false; }

private:
    bool m_initialised = false;
    bool m_inInit = false;
};
