#include "platform/ui/KvDialog.h"

#include "platform/ui/Interaction.h"

KvDialog::KvDialog(QWidget* parent) : QDialog(parent ? parent : kv::DialogParent()) {}

int KvDialog::DoModal() {
    setResult(IDCANCEL);
    return kv::GetInteraction().RunModal(*this);
}

void KvDialog::EndDialog(int result) { done(result); }

void KvDialog::showEvent(QShowEvent* event) {
    if (!m_initialised) {
        m_initialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}
