#include "controls/GenericSelectionDlg.h"

#include <QKeyEvent>
#include <QMetaObject>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "platform/ui/Interaction.h"

namespace {
constexpr int kIconSize = 32;
}

CGenericSelectionDlg::CGenericSelectionDlg(CKelvaroDoc* doc, int rightButtonFlag, QWidget* parent)
    : KvDialog(parent),
      m_btnLeft(this),
      m_btnMiddle(this),
      m_btnRight(this),
      m_pDoc(doc),
      m_nRightButton(rightButtonFlag) {
    setFixedSize(kv::DluSize(this, 315, 50));
    m_btnLeft.setGeometry(kv::DluRect(this, 4, 7, 100, 36));
    m_btnMiddle.setGeometry(kv::DluRect(this, 108, 7, 100, 36));
    m_btnRight.setGeometry(kv::DluRect(this, 211, 7, 100, 36));
    for (CButtonST* button : {&m_btnLeft, &m_btnMiddle, &m_btnRight}) {
        button->setAutoDefault(false);
    }
    connect(&m_btnLeft, &QPushButton::clicked, this, [this] { EndDialog(IDC_LEFT); });
    connect(&m_btnMiddle, &QPushButton::clicked, this, [this] { EndDialog(IDC_MIDDLE); });
    connect(&m_btnRight, &QPushButton::clicked, this, [this] { EndDialog(IDC_RIGHT); });
}

void CGenericSelectionDlg::SetButton(CButtonST& button, int iconId, const QString& caption) {
    const QPixmap icon = KvLoadIcon(iconId, kIconSize);
    button.SetIcon(icon, icon);
    button.SetFlat(false);
    button.setText(caption);
}

bool CGenericSelectionDlg::OnInitDialog() {
    if (m_pDoc == nullptr) {
        // Ended from the event loop: ending a dialog while it is being shown would leave its
        // modal loop waiting.
        QMetaObject::invokeMethod(
            this, [this] { EndDialog(IDCANCEL); }, Qt::QueuedConnection);
        return true;
    }
    if (!m_strTitle.isEmpty()) {
        setWindowTitle(m_strTitle);
    }
    SetButton(m_btnLeft, IDI_SELECT_AREA, m_strLeftCaption);
    SetButton(m_btnMiddle, IDI_DRAW_AREA, m_strMiddleCaption);
    SetButton(m_btnRight, m_nRightButton != 0 ? IDI_TOTAL_AREA : IDI_CANCEL, m_strRightCaption);
    return true;
}

// Enter ends the dialog with the plain OK answer, which is none of the three choices.
void CGenericSelectionDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        EndDialog(IDOK);
        return;
    }
    KvDialog::keyPressEvent(event);
}
