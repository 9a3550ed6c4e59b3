#include "mosaic/ShapeFileFieldsDlg.h"

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

CShapeFileFieldsDlg::CShapeFileFieldsDlg(const std::vector<QString>* fields, QWidget* parent)
    : KvDialog(parent),
      m_pFields(fields),
      m_comboFields(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this) {
    setWindowTitle(QStringLiteral("Select Field"));
    setFixedSize(kv::DluSize(this, 186, 52));
    m_comboFields.setGeometry(kv::DluRect(this, 7, 7, 172, 14));
    m_comboFields.setObjectName(QString::number(IDC_FIELDS));
    m_btnOK.setGeometry(kv::DluRect(this, 75, 31, 50, 14));
    m_btnCancel.setGeometry(kv::DluRect(this, 129, 31, 50, 14));
    m_btnOK.setDefault(true);
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

bool CShapeFileFieldsDlg::OnInitDialog() {
    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    if (!m_pFields || m_pFields->empty()) {
        KvMessageBox(QStringLiteral("No fields found on shape file!"), MB_OK | MB_ICONEXCLAMATION);
        EndDialog(IDCANCEL);
        return true;
    }
    m_comboFields.clear();
    for (const QString& field : *m_pFields) {
        m_comboFields.addItem(field);
    }
    m_comboFields.setCurrentIndex(-1);
    const QString last =
        ZQT_GetUserProfileString(QStringLiteral("Tiles"), QStringLiteral("SHPField"), QString()).left(1023);
    if (!last.isEmpty()) {
        for (int i = 0; i < m_comboFields.count(); ++i) {
            if (m_comboFields.itemText(i).startsWith(last, Qt::CaseInsensitive)) {
                m_comboFields.setCurrentIndex(i);
                break;
            }
        }
    }
    return true;
}

void CShapeFileFieldsDlg::OnOK() {
    if (m_comboFields.currentIndex() < 0) {
        KvMessageBox(QStringLiteral("Select a tile field before!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_strFieldName = m_comboFields.currentText();
    ZQT_WriteUserProfileString(QStringLiteral("Tiles"), QStringLiteral("SHPField"), m_strFieldName);
    EndDialog(IDOK);
}
