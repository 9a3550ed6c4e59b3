// A borderless pop-up with one centred text, which a list shows next to the mouse as its own
// tooltip. The owner creates it hidden, sets its colour and text, and moves, shows and hides it.
//
// Ownership: the pop-up belongs to its parent widget and is deleted with it, or earlier by the
// owner's delete (hold it in a QPointer). It never deletes itself, so no delete can come twice.
// DestroyWindow only hides it and may be called any number of times.
#pragma once

#include <QLabel>

#include "controls/ColorRef.h"
#include "platform/ui/KvDialog.h"

class CTooltipDlg : public KvDialog {
    Q_OBJECT
public:
    explicit CTooltipDlg(QWidget* parent = nullptr);

    // Makes the window, hidden. Returns non-zero.
    int Create();
    void DestroyWindow();
    void SetBackgroundColor(COLORREF color);
    void SetText(const QString& text);
    QString GetText() const { return m_Text.text(); }

    QLabel m_Text;

protected:
    void resizeEvent(QResizeEvent* event) override;
};
