#include "demtools/ResizeDEMDlg.h"

#include <QFile>

#include <gdal.h>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

CResizeDEMDlg::CResizeDEMDlg(CKelvaroDoc* doc, CadDrawing* drawing, QString demPath, double currentGsd,
                             QWidget* parent)
    : KvDialog(parent),
      m_pDoc(doc),
      m_pCad(drawing),
      m_strDemPath(std::move(demPath)),
      m_dCurrentGSD(currentGsd),
      m_editPath(this),
      m_btnBrowse(QStringLiteral("..."), this),
      m_btnSelectDem(QStringLiteral("Select DEM"), this),
      m_lblCurrent(QStringLiteral("Current GSD:"), this),
      m_editCurrent(this),
      m_lblTarget(QStringLiteral("Target GSD:"), this),
      m_editTarget(this),
      m_editBrowse(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this) {
    setWindowTitle(QStringLiteral("Resize DEM"));
    setFixedSize(kv::DluSize(this, 276, 88));
    const struct {
        QWidget* widget;
        int id;
        QRect rect;
    } layout[] = {
        {&m_editPath, IDC_DEM_PATH, {7, 7, 172, 14}},
        {&m_btnBrowse, IDC_BROWSE, {183, 7, 22, 14}},
        {&m_btnSelectDem, IDC_SELECT_DEM, {209, 7, 60, 14}},
        {&m_lblCurrent, 0, {7, 30, 56, 10}},
        {&m_editCurrent, IDC_CURRENT_GSD, {66, 28, 70, 14}},
        {&m_lblTarget, 0, {7, 49, 56, 10}},
        {&m_editTarget, IDC_TARGET_GSD, {66, 47, 70, 14}},
        {&m_editBrowse, IDC_BROWSE_EDIT, {7, 67, 10, 14}},
        {&m_btnOK, IDOK, {165, 67, 50, 14}},
        {&m_btnCancel, IDCANCEL, {219, 67, 50, 14}},
    };
    for (const auto& item : layout) {
        item.widget->setGeometry(
            kv::DluRect(this, item.rect.x(), item.rect.y(), item.rect.width(), item.rect.height()));
        if (item.id) {
            item.widget->setObjectName(QString::number(item.id));
        }
    }
    m_editPath.setReadOnly(true);
    m_editCurrent.setReadOnly(true);
    m_editBrowse.hide();
    m_btnOK.setDefault(true);
    connect(&m_btnBrowse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(&m_btnSelectDem, &QPushButton::clicked, this, [this] { EndDialog(IDC_SELECT_DEM); });
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
}

bool CResizeDEMDlg::OnInitDialog() {
    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_editPath.setText(m_strDemPath);
    const QString gsd = QString::asprintf("%.4lf", m_dCurrentGSD);
    m_editCurrent.setText(gsd);
    m_editTarget.setText(gsd);
    const bool chosen = !m_strDemPath.isEmpty();
    m_editCurrent.setEnabled(chosen);
    m_editTarget.setEnabled(chosen);
    m_editTarget.setFocus();
    return true;
}

void CResizeDEMDlg::OnBrowse() {
    const QString path = kv::GetInteraction().ChooseOpenFile(QStringLiteral("Open"), QString(),
                                                             QStringLiteral("GeoTiff DEM (*.gtif *.tif)"));
    if (path.isEmpty()) {
        return;
    }
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to open selected file!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    double gt[6] = {0, 1, 0, 0, 0, 1};
    // A raster that is no DEM (an orthophoto, say) would be resized and then refused as a layer.
    const bool valid = GDALGetGeoTransform(ds, gt) == CE_None && CDEM::IsValidDemDataset(ds);
    GDALClose(ds);
    if (!valid) {
        KvMessageBox(QStringLiteral("Invalid DEM file!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    m_dCurrentGSD = gt[1];
    m_strDemPath = path;
    const QString gsd = QString::asprintf("%lf", m_dCurrentGSD);
    m_editCurrent.setText(gsd);
    m_editTarget.setText(gsd);
    m_editCurrent.setEnabled(true);
    m_editTarget.setEnabled(true);
    m_editPath.setText(path);
}

void CResizeDEMDlg::OnOK() {
    m_strDemPath = m_editPath.text();
    if (!ZQT_StringToDouble(m_editTarget.text(), &m_dTargetGSD)) {
        m_dTargetGSD = 0.0;
    }
    EndDialog(IDOK);
}
