// "Select Field": the attribute of a shapefile whose values name the imported tiles. The last
// choice is kept in the profile and preselected next time.
#pragma once

#include <QComboBox>
#include <QString>

#include <vector>

#include "controls/ButtonST.h"
#include "platform/ui/KvDialog.h"

class CShapeFileFieldsDlg : public KvDialog {
    Q_OBJECT
public:
    enum { IDD = 350, IDC_FIELDS = 1531 };

    // The caller's list of field names, in field order.
    explicit CShapeFileFieldsDlg(const std::vector<QString>* fields, QWidget* parent = nullptr);

    // The field chosen with OK.
    QString GetFieldName() const { return m_strFieldName; }

    const std::vector<QString>* m_pFields;
    QString m_strFieldName;
    QComboBox m_comboFields;
    CButtonST m_btnOK;
    CButtonST m_btnCancel;

protected:
    // Without fields: "No fields found on shape file!" and the dialog ends with IDCANCEL.
    bool OnInitDialog() override;
    // Without a selection: "Select a tile field before!" and the dialog stays open.
    void OnOK() override;
};
