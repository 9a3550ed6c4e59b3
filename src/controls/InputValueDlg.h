// One line of text with OK and Cancel, for a single value the caller parses itself. GetValue
// gives the edited text after OK and the initial text after Cancel.
#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QString>

#include "platform/ui/KvDialog.h"

class CInputValueDlg : public KvDialog {
    Q_OBJECT
public:
    explicit CInputValueDlg(QString value, QWidget* parent = nullptr);

    QString GetValue() const { return m_strValue; }

    // The window title, when not empty ("Insert size [m] of pixels").
    QString m_strCaption;

    QLineEdit m_Edit;
    QPushButton m_btnOK;
    QPushButton m_btnCancel;

protected:
    bool OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

private:
    QString m_strValue;
    QString m_strInitialValue;
};
