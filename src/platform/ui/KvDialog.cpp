#include "platform/ui/KvDialog.h"

#include "platform/ui/Interaction.h"

KvDialog::KvDialog(QWidget* parent) : QDialog(parent ? parent : kv::DialogParent()) {}

int KvDialog::DoModal() {
    setResult(IDCANCEL);
    return kv::GetInteraction().RunModal(*this);
}

void KvDialog::EndDialog(int result) {
    if (m_inInit) {
        // The modal loop has not started yet: ending now would leave exec() waiting for good.
        QMetaObject::invokeMethod(
            this, [this, result] { done(result); }, Qt::QueuedConnection);
        return;
    }
    done(result);
}

void KvDialog::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        m_inInit = true;
        OnInitDialog();
        m_inInit = false;
    }
    QDialog::showEvent(event);
}
