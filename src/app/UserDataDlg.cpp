#include "app/UserDataDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/ProgramVersion.h"
#include "controls/KvIcons.h"
#include "platform/crash/CrashReporter.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

namespace {

const char* const kSection = "UserData";

QString ReadValue(const char* key) {
    char buffer[64];
    ZQT_GetUserProfileString(kSection, key, "", buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

}  // namespace

UserDataValues ReadUserDataProfile() {
    UserDataValues v;
    v.name = ReadValue("UserData_Name");
    v.surname = ReadValue("UserData_Surname");
    v.email = ReadValue("UserData_EMail");
    v.company = ReadValue("UserData_Company");
    v.telephone = ReadValue("UserData_Tel");
    return v;
}

CUserDataDlg::CUserDataDlg(QWidget* parent)
    : KvDialog(parent),
      m_editName(new QLineEdit(this)),
      m_editSurname(new QLineEdit(this)),
      m_editEmail(new QLineEdit(this)),
      m_editCompany(new QLineEdit(this)),
      m_editTelephone(new QLineEdit(this)),
      m_btnOK(new CButtonST(this)),
      m_btnCancel(new CButtonST(this)),
      m_btnCrashHistory(new CButtonST(this)) {
    for (QLabel*& label : m_labels) {
        label = new QLabel(this);
    }
    m_labels[0]->setWordWrap(true);
    auto* form = new QGridLayout();
    QLineEdit* edits[] = {m_editName, m_editSurname, m_editEmail, m_editCompany, m_editTelephone};
    for (int i = 0; i < 5; ++i) {
        form->addWidget(m_labels[i + 1], i, 0);
        form->addWidget(edits[i], i, 1);
        edits[i]->setMinimumWidth(240);
    }
    form->addWidget(m_labels[6], 5, 1);

    auto* buttons = new QHBoxLayout();
    buttons->addWidget(m_btnCrashHistory);
    buttons->addStretch(1);
    buttons->addWidget(m_btnOK);
    buttons->addWidget(m_btnCancel);
    m_btnOK->setText(QStringLiteral("OK"));
    m_btnOK->setDefault(true);
    m_btnCancel->setText(QStringLiteral("Cancel"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_labels[0]);
    layout->addSpacing(6);
    layout->addLayout(form);
    layout->addSpacing(6);
    layout->addLayout(buttons);

    connect(m_btnOK, &QPushButton::clicked, this, [this] { OnBnClickedOk(); });
    connect(m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(m_btnCrashHistory, &QPushButton::clicked, this, [this] { OnBnClickedViewCrashHistory(); });
}

void CUserDataDlg::SetValues(const UserDataValues& values) {
    m_strName = values.name;
    m_strSurname = values.surname;
    m_strEmail = values.email;
    m_strCompany = values.company;
    m_strTelephone = values.telephone;
}

bool CUserDataDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("User Data"));
    m_labels[0]->setText(QStringLiteral(
        "Please fill this simple form. Those data will be stored in your PC and they will be used to "
        "complete any report you send to Drovane Software."));
    m_labels[1]->setText(QStringLiteral("Name (*)"));
    m_labels[2]->setText(QStringLiteral("Surname (*)"));
    m_labels[3]->setText(QStringLiteral("Email (*)"));
    m_labels[4]->setText(QStringLiteral("Company"));
    m_labels[5]->setText(QStringLiteral("Telephone"));
    m_labels[6]->setText(QStringLiteral("(*) required"));
    m_btnCrashHistory->setText(QStringLiteral("View crash history"));
    m_editName->setText(m_strName);
    m_editSurname->setText(m_strSurname);
    m_editEmail->setText(m_strEmail);
    m_editCompany->setText(m_strCompany);
    m_editTelephone->setText(m_strTelephone);
    m_btnOK->SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel->SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    return true;
}

void CUserDataDlg::OnBnClickedOk() {
    m_strName = m_editName->text();
    m_strSurname = m_editSurname->text();
    m_strEmail = m_editEmail->text();
    m_strCompany = m_editCompany->text();
    m_strTelephone = m_editTelephone->text();
    if (m_strName.isEmpty() || m_strSurname.isEmpty() || m_strEmail.isEmpty()) {
        KvMessageBox(QStringLiteral("Name, Surname and EMail address are required!"),
                     MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    ZQT_WriteUserProfileString(kSection, "UserData_Name", m_strName.toUtf8().constData());
    ZQT_WriteUserProfileString(kSection, "UserData_Surname", m_strSurname.toUtf8().constData());
    ZQT_WriteUserProfileString(kSection, "UserData_EMail", m_strEmail.toUtf8().constData());
    ZQT_WriteUserProfileString(kSection, "UserData_Company", m_strCompany.toUtf8().constData());
    ZQT_WriteUserProfileString(kSection, "UserData_Tel", m_strTelephone.toUtf8().constData());
    EndDialog(IDOK);
}

void CUserDataDlg::OnBnClickedViewCrashHistory() {
    // The reports go where the crash reporter of this version writes them.
    ZQT_ShellExecute(QStringLiteral("open"), CrashReportsFolder(QStringLiteral("Kelvaro"), KvGetCutVersion()),
                     QString(), 1);
}
