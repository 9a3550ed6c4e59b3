// "Data Type Selection": the operator states the kind of a raster added by hand as a map. The
// choice is remembered in the profile and offered again next time.
#pragma once

#include <QComboBox>

#include "controls/ButtonST.h"
#include "platform/ui/KvDialog.h"
#include "raster/MapData.h"

class CDataDetailsDlg : public KvDialog {
    Q_OBJECT
public:
    enum { IDD = 381, IDC_DATA_TYPE = 1619 };

    explicit CDataDetailsDlg(QWidget* parent = nullptr);

    // The kind chosen, valid after OK.
    MapType GetMapType() const { return m_mapType; }

    QComboBox m_cbType;
    CButtonST m_btnOK;
    CButtonST m_btnCancel;

protected:
    bool OnInitDialog() override;
    void OnOK() override;

private:
    MapType m_mapType = MapTypeOther;
};
