#include "platform/ui/KvDialog.h"

#include <QGroupBox>

#include "platform/ui/Interaction.h"

namespace {

// A group box frames the controls laid out inside its rectangle as its siblings. Made after them
// it would lie on top and take their clicks, so every box goes beneath the controls beside it:
// the mouse reaches a field or check box wherever the box is, as it does through a framing box
// of the classic layouts.
void LowerGroupBoxes(QWidget* dialog) {
    for (QGroupBox* box : dialog->findChildren<QGroupBox*>()) {
        box->lower();
    }
}

}  // namespace

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
        LowerGroupBoxes(this);
    }
    QDialog::showEvent(event);
}
