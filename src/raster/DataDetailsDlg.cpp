#include "raster/DataDetailsDlg.h"

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

namespace {

const char* const kSection = "Analysis Data";
const char* const kKey = "Type";

// The kinds of the list's entries, in the list's (sorted) order.
constexpr MapType kTypes[] = {MapTypeCatchment, MapTypeNDVI, MapTypeOther, MapTypeSlope, MapTypeWetness};

}  // namespace

CDataDetailsDlg::CDataDetailsDlg(QWidget* parent)
    : KvDialog(parent),
      m_cbType(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this) {
    setWindowTitle(QStringLiteral("Data Type Selection"));
    setFixedSize(kv::DluSize(this, 186, 52));
    m_cbType.setObjectName(QStringLiteral("1619"));
    m_cbType.setGeometry(kv::DluRect(this, 7, 7, 172, 14));
    m_btnOK.setGeometry(kv::DluRect(this, 75, 31, 50, 14));
    m_btnCancel.setGeometry(kv::DluRect(this, 129, 31, 50, 14));
    m_btnOK.setDefault(true);
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

bool CDataDetailsDlg::OnInitDialog() {
    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    QString stored =
        ZQT_GetUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(kKey), QString());
    for (const char* item : {"Catchment Map", "Slope Map", "Wetness Map", "NDVI Map", "Other Map"}) {
        m_cbType.addItem(QString::fromLatin1(item));
    }
    m_cbType.model()->sort(0);
    int index = 0;
    ZQT_StringToInt(stored, &index);
    m_cbType.setCurrentIndex(index != 0 && index < m_cbType.count() ? index : -1);
    return true;
}

void CDataDetailsDlg::OnOK() {
    int index = m_cbType.currentIndex();
    if (index < 0 || index >= static_cast<int>(std::size(kTypes))) {
        KvMessageBox(QStringLiteral("Select data type!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_mapType = kTypes[index];
    ZQT_WriteUserProfileString(QString::fromLatin1(kSection), QString::fromLatin1(kKey),
                               QString::number(index));
    EndDialog(IDOK);
}
