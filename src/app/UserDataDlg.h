// The User Data dialog: the operator's name, surname, e-mail, company and telephone, which every
// crash report carries. Name, surname and e-mail are required. It also opens the folder of the
// crash reports that were not sent.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QString>

#include "controls/ButtonST.h"
#include "platform/ui/KvDialog.h"

// The five values of the profile section "UserData".
struct UserDataValues {
    QString name;
    QString surname;
    QString email;
    QString company;
    QString telephone;

    // True when name, surname and e-mail are all given.
    bool IsComplete() const { return !name.isEmpty() && !surname.isEmpty() && !email.isEmpty(); }
};

// Reads the five values from the profile (each at most 63 bytes, as the profile buffers hold).
UserDataValues ReadUserDataProfile();

class CUserDataDlg : public KvDialog {
    Q_OBJECT
public:
    explicit CUserDataDlg(QWidget* parent = nullptr);

    // Filled by the caller before DoModal and shown in the edits.
    QString m_strName;
    QString m_strSurname;
    QString m_strEmail;
    QString m_strCompany;
    QString m_strTelephone;

    QLineEdit* m_editName;
    QLineEdit* m_editSurname;
    QLineEdit* m_editEmail;
    QLineEdit* m_editCompany;
    QLineEdit* m_editTelephone;
    CButtonST* m_btnOK;
    CButtonST* m_btnCancel;
    CButtonST* m_btnCrashHistory;

    void SetValues(const UserDataValues& values);

protected:
    bool OnInitDialog() override;
    void OnOK() override { OnBnClickedOk(); }

private:
    void OnBnClickedOk();
    void OnBnClickedViewCrashHistory();

    QLabel* m_labels[7];
};
