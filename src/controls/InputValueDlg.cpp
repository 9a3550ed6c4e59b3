#include "controls/InputValueDlg.h"

#include "controls/DialogUnits.h"
#include "platform/ui/Interaction.h"

CInputValueDlg::CInputValueDlg(QString value, QWidget* parent)
    : KvDialog(parent),
      m_Edit(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_strValue(value),
      m_strInitialValue(std::move(value)) {
    setFixedSize(kv::DluSize(this, 353, 28));
    m_Edit.setGeometry(kv::DluRect(this, 7, 8, 232, 12));
    m_btnOK.setGeometry(kv::DluRect(this, 245, 7, 48, 14));
    m_btnCancel.setGeometry(kv::DluRect(this, 298, 7, 48, 14));
    m_btnOK.setDefault(true);
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

bool CInputValueDlg::OnInitDialog() {
    if (!m_strCaption.isEmpty()) {
        setWindowTitle(m_strCaption);
    }
    m_Edit.setText(m_strValue);
    m_Edit.setFocus();
    return true;
}

void CInputValueDlg::OnOK() {
    m_strValue = m_Edit.text();
    EndDialog(IDOK);
}

void CInputValueDlg::OnCancel() {
    m_strValue = m_strInitialValue;
    EndDialog(IDCANCEL);
}
