#include "products/NDVISAVIDlg.h"

#include <QFileInfo>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "products/DialogProgress.h"
#include "products/VegetationIndex.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

const char* const kSection = "NDVI_SAVI";

void AddChannels(QComboBox& list, const QString& name, GDALDatasetH dataset) {
    if (!dataset || name.compare(QLatin1String("Background"), Qt::CaseInsensitive) == 0) {
        return;
    }
    for (int b = 1; b <= GDALGetRasterCount(dataset); ++b) {
        list.addItem(QStringLiteral("%1 - channel %2").arg(name).arg(b - 1),
                     QVariant::fromValue(reinterpret_cast<quintptr>(GDALGetRasterBand(dataset, b))));
    }
}

}  // namespace

CNDVISAVIDlg::CNDVISAVIDlg(CKelvaroDoc* doc, CadEntity* area, QWidget* parent)
    : KvDialog(parent),
      m_pDoc(doc),
      m_pArea(area),
      m_grpRed(QStringLiteral("Red channel"), this),
      m_cmbRed(&m_grpRed),
      m_grpNir(QStringLiteral("NIR channel"), this),
      m_cmbNir(&m_grpNir),
      m_chkSavi(QStringLiteral("SAVI"), this),
      m_lblSoilBrightness(QStringLiteral("Solil Brightness [0,1]:"), this),
      m_editSoilBrightness(this),
      m_progress(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_btnAbort(QStringLiteral("Abort"), this) {
    setWindowTitle(QStringLiteral("NDVI/SAVI"));
    setFixedSize(kv::DluSize(this, 260, 106));
    // Rectangles in the dialog, or in the control's group box.
    kv::PlaceControls(this, {{&m_grpRed, 0, {7, 4, 121, 32}},
                             {&m_grpNir, 0, {132, 4, 121, 32}},
                             {&m_chkSavi, IDC_SAVI, {7, 44, 40, 10}},
                             {&m_lblSoilBrightness, 0, {60, 45, 80, 8}},
                             {&m_editSoilBrightness, IDC_SOIL_BRIGHTNESS, {143, 42, 50, 14}},
                             {&m_progress, IDC_PROGRESS, {7, 63, 246, 14}},
                             {&m_btnOK, IDOK, {93, 84, 50, 16}},
                             {&m_btnCancel, IDCANCEL, {148, 84, 50, 16}},
                             {&m_btnAbort, IDC_ABORT, {203, 84, 50, 16}}});
    for (QComboBox* list : {&m_cmbRed, &m_cmbNir}) {
        list->setGeometry(kv::DluRect(this, 5, 13, 111, 14));
    }
    m_cmbRed.setObjectName(QString::number(IDC_RED));
    m_cmbNir.setObjectName(QString::number(IDC_NIR));
    m_btnAbort.setEnabled(false);
    m_btnOK.setDefault(true);
    connect(&m_chkSavi, &QCheckBox::clicked, this, [this] { OnBnClickedSavi(); });
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(&m_btnAbort, &QPushButton::clicked, this, [this] { OnBnClickedAbort(); });
}

bool CNDVISAVIDlg::OnInitDialog() {
    if (!m_pDoc) {
        EndDialog(IDCANCEL);
        return false;
    }
    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_btnAbort.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    int savi = 0;
    ZQT_StringToInt(ZQT_GetUserProfileString(kSection, "BuildSAVI", "1"), &savi);
    m_chkSavi.setChecked(savi != 0);
    m_editSoilBrightness.setEnabled(savi != 0);
    m_editSoilBrightness.setText(ZQT_GetUserProfileString(kSection, "SoilBrightness", "0.0"));
    FillChannels();
    return true;
}

void CNDVISAVIDlg::FillChannels() {
    for (QComboBox* list : {&m_cmbRed, &m_cmbNir}) {
        list->clear();
        for (const auto& [name, ortho] : m_pDoc->m_Orthos) {
            AddChannels(*list, name, ortho ? ortho->m_pDataset : nullptr);
        }
        for (const auto& [name, map] : m_pDoc->m_Maps) {
            AddChannels(*list, name, map ? map->m_pDataset : nullptr);
        }
        list->setCurrentIndex(-1);
    }
}

GDALRasterBandH CNDVISAVIDlg::ChosenBand(const QComboBox& list) const {
    return reinterpret_cast<GDALRasterBandH>(list.currentData().value<quintptr>());
}

void CNDVISAVIDlg::OnBnClickedSavi() {
    const bool on = m_chkSavi.isChecked();
    m_editSoilBrightness.setEnabled(on);
    ZQT_WriteUserProfileString(kSection, "BuildSAVI", on ? "1" : "0");
}

void CNDVISAVIDlg::OnBnClickedAbort() {
    m_nAbort = 1;
    ZQT_PumpMessages();
}

void CNDVISAVIDlg::LockControls(bool locked) {
    for (QWidget* control : std::initializer_list<QWidget*>{&m_cmbRed, &m_cmbNir, &m_editSoilBrightness,
                                                            &m_btnOK, &m_btnCancel, &m_chkSavi}) {
        control->setEnabled(!locked);
    }
    if (!locked) {
        m_editSoilBrightness.setEnabled(m_chkSavi.isChecked());
    }
    ZQT_PumpMessages();
}

void CNDVISAVIDlg::OnOK() {
    if (m_cmbRed.currentIndex() < 0) {
        KvMessageBox(QStringLiteral("Select Red channel"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (m_cmbNir.currentIndex() < 0) {
        KvMessageBox(QStringLiteral("Select Nir channel"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (m_cmbRed.currentIndex() == m_cmbNir.currentIndex()) {
        KvMessageBox(QStringLiteral("Red and NIR channels must be different!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const bool savi = m_chkSavi.isChecked();
    double L = 0.0;
    if (savi) {
        if (!ZQT_StringToDouble(m_editSoilBrightness.text().left(127), &L)) {
            L = -1.0;
        }
        if (!(L >= 0.0 && L <= 1.0)) {
            KvMessageBox(QStringLiteral("Invalid solil brightness value"), MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        ZQT_WriteUserProfileString(kSection, "SoilBrightness",
                                   QString::asprintf("%.3f", L).toLatin1().constData());
    }
    m_nAbort = 0;
    const GDALRasterBandH red = ChosenBand(m_cmbRed);
    const GDALRasterBandH nir = ChosenBand(m_cmbNir);
    const QString path = ChooseOutputFile(QStringLiteral("DEM File (*.gtif)"), QStringLiteral("gtif"));
    if (path.isEmpty()) {
        return;
    }
    m_btnAbort.setEnabled(true);
    ZQT_PumpMessages();
    LockControls(true);
    m_progress.RestartClock();
    ZQT_PumpMessages();

    products::DialogProgress progress(m_progress, m_nAbort);
    if (ComputeVegetationIndex(m_pDoc, m_pArea, red, nir, static_cast<float>(L), path, &progress)) {
        MapLayerInfo info;
        info.kindCode = 1;
        info.title = QFileInfo(path).completeBaseName();
        info.mapType = savi ? MapTypeSAVI : MapTypeNDVI;
        info.kindCode2 = 4;
        info.path = path;
        info.visible = 1;
        info.opacity = 100;
        info.rangeMin = -9999.0;
        info.rangeMax = -9999.0;
        info.noRepaint = 0;
        m_pDoc->AddMap(info, 1);
        m_pDoc->UpdateColorLegend(info);
    }
    m_btnAbort.setEnabled(false);
    LockControls(false);
    ZQT_PumpMessages();
    EndDialog(IDOK);
}
