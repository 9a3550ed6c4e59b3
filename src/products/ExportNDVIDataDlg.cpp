#include "products/ExportNDVIDataDlg.h"

#include <QDir>
#include <QFileInfo>

#include <cstdlib>

#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "document/LayerFiles.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "products/ProductsSupport.h"

namespace {

const char* const kSection = "ExportNDVIResults";
const char* const kColorKeys[CExportNDVIDataDlg::kClasses] = {
    "Default Color Min", "Default Color 1", "Default Color 2", "Default Color 3", "Default Color Over3"};
const char* const kDefaultColorTexts[CExportNDVIDataDlg::kClasses] = {"255;0;0", "255;128;0", "255;255;0",
                                                                      "128;255;0", "0;255;0"};

// A number as the C library's atof reads it: the longest leading number, 0 when there is none.
double Atof(const QString& text) {
    return std::atof(text.toLatin1().constData());
}

QString Profile(const char* key, const char* def) {
    return ZQT_GetUserProfileString(kSection, key, def);
}

void WriteProfile(const char* key, const QString& value) {
    ZQT_WriteUserProfileString(kSection, key, value.toLatin1().constData());
}

// "R;G;B" as a colour; parts that are missing count as 0.
COLORREF ParseColor(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(';'));
    int rgb[3] = {0, 0, 0};
    for (int i = 0; i < 3 && i < parts.size(); ++i) {
        rgb[i] = std::atoi(parts[i].toLatin1().constData());
    }
    return kv::Rgb(rgb[0], rgb[1], rgb[2]);
}

QString ColorText(COLORREF c) {
    return QString::asprintf("%d;%d;%d", int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

}  // namespace

const COLORREF CExportNDVIDataDlg::kDefaultColors[kClasses] = {
    kv::Rgb(255, 0, 0), kv::Rgb(255, 128, 0), kv::Rgb(255, 255, 0), kv::Rgb(128, 255, 0), kv::Rgb(0, 255, 0)};

CExportNDVIDataDlg::CExportNDVIDataDlg(double maximum, double minimum, const QString& mapPath,
                                       QWidget* parent)
    : KvDialog(parent),
      m_dMaximum(maximum),
      m_dMinimum(minimum),
      m_strMapPath(mapPath),
      m_grpFilter(QStringLiteral("Index filter"), this),
      m_lblHint(QStringLiteral("Areas with index under the choosen value will be colored as selected."),
                &m_grpFilter),
      m_lblName(QStringLiteral("Name"), this),
      m_editName(this),
      m_editOver(&m_grpFilter),
      m_lblMaximum(QStringLiteral("Max:"), &m_grpFilter),
      m_editMaximum(&m_grpFilter),
      m_chkUseDefaults(QStringLiteral("Use default values"), this),
      m_btnSaveDefaults(this),
      m_btnClearDefaults(this),
      m_chkOpenReport(QStringLiteral("Open report"), this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this) {
    setWindowTitle(QStringLiteral("Export Data"));
    setFixedSize(kv::DluSize(this, 236, 204));
    auto place = [this](QWidget* widget, int id, int x, int y, int w, int h) {
        kv::PlaceControls(this, {{widget, id, {x, y, w, h}}});
    };
    place(&m_lblName, 0, 7, 9, 24, 8);
    place(&m_editName, IDC_NAME, 34, 7, 195, 14);
    place(&m_grpFilter, 0, 7, 26, 222, 132);
    place(&m_lblHint, 0, 6, 10, 210, 18);
    m_lblHint.setWordWrap(true);
    const char* const classNames[kClasses] = {"Min:", "1:", "2:", "3:", "Over3:"};
    const int thresholdIds[4] = {IDC_T1, IDC_T2, IDC_T3, IDC_T4};
    const int colorIds[kClasses] = {IDC_COLOR_MIN, IDC_COLOR_1, IDC_COLOR_2, IDC_COLOR_3, IDC_COLOR_OVER};
    for (int i = 0; i < kClasses; ++i) {
        const int y = 32 + 16 * i;
        m_lblClass[i].setParent(&m_grpFilter);
        m_lblClass[i].setText(QString::fromLatin1(classNames[i]));
        place(&m_lblClass[i], 0, 6, y + 3, 30, 8);
        QLineEdit* edit = i < 4 ? &m_editThreshold[i] : &m_editOver;
        edit->setParent(&m_grpFilter);
        place(edit, i < 4 ? thresholdIds[i] : IDC_OVER, 38, y, 70, 14);
        m_btnColor[i].setParent(&m_grpFilter);
        place(&m_btnColor[i], colorIds[i], 114, y, 40, 14);
    }
    place(&m_lblMaximum, 0, 6, 115, 30, 8);
    place(&m_editMaximum, IDC_MAXIMUM, 38, 112, 70, 14);
    m_editOver.setReadOnly(true);
    m_editMaximum.setReadOnly(true);
    place(&m_chkUseDefaults, IDC_USE_DEFAULTS, 7, 164, 90, 10);
    place(&m_chkOpenReport, IDC_OPEN_REPORT, 7, 178, 90, 10);
    place(&m_btnSaveDefaults, IDC_SAVE_DEFAULTS, 104, 162, 22, 16);
    place(&m_btnClearDefaults, IDC_CLEAR_DEFAULTS, 130, 162, 22, 16);
    place(&m_btnOK, IDOK, 124, 182, 50, 16);
    place(&m_btnCancel, IDCANCEL, 179, 182, 50, 16);
    m_btnOK.setDefault(true);
    for (QPushButton* button :
         {static_cast<QPushButton*>(&m_btnSaveDefaults), static_cast<QPushButton*>(&m_btnClearDefaults)}) {
        button->setAutoDefault(false);
    }
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(&m_btnSaveDefaults, &QPushButton::clicked, this, [this] { OnBnClickedSaveDefault(); });
    connect(&m_btnClearDefaults, &QPushButton::clicked, this, [this] { OnBnClickedClearDefault(); });
    connect(&m_chkUseDefaults, &QCheckBox::clicked, this, [this] { OnBnClickedCheckDefault(); });
    connect(&m_chkOpenReport, &QCheckBox::clicked, this, [this] { OnBnClickedCheckOpenReport(); });
    connect(&m_editThreshold[3], &QLineEdit::textChanged, this, [this] { OnEnChangeThreshold(); });
}

QString CExportNDVIDataDlg::ReportFile() const {
    return QFileInfo(m_strMapPath).absoluteDir().filePath(m_strReportName + QStringLiteral(".pdf"));
}

QString CExportNDVIDataDlg::PictureFile() const {
    return QFileInfo(m_strMapPath).absoluteDir().filePath(m_strReportName + QStringLiteral(".jpg"));
}

bool CExportNDVIDataDlg::OnInitDialog() {
    m_nCancelled = 0;
    m_btnOK.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnCancel.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_btnSaveDefaults.SetIcon(IDI_EXPORT, IDI_EXPORT_DISABLED);
    m_btnClearDefaults.SetIcon(IDI_UPDATE, IDI_UPDATE_DISABLED);
    m_btnSaveDefaults.SetTooltipText(QStringLiteral("Save as default parameters"));
    m_btnClearDefaults.SetTooltipText(QStringLiteral("Clear default parameters"));
    ZQT_StringToInt(Profile("check default", "0"), &m_nUseDefaults);
    ZQT_StringToInt(Profile("check open report", "1"), &m_nOpenReport);
    m_chkUseDefaults.setChecked(m_nUseDefaults != 0);
    m_chkOpenReport.setChecked(m_nOpenReport != 0);
    if (!(m_nUseDefaults && ShowStoredDefaults())) {
        ShowComputedValues();
    }
    m_editMaximum.setText(QString::asprintf("%.3lf", m_dMaximum));
    m_strReportName = QFileInfo(m_strMapPath).completeBaseName() + QStringLiteral("_report");
    m_editName.setText(m_strReportName);
    return true;
}

void CExportNDVIDataDlg::ShowThresholds(double t1, double t2, double t3, double t4) {
    const double values[4] = {t1, t2, t3, t4};
    for (int i = 0; i < 4; ++i) {
        m_editThreshold[i].setText(QString::asprintf("%.3lf", values[i]));
    }
    m_editOver.setText(QString::asprintf(">%.3lf", t4));
}

void CExportNDVIDataDlg::ShowComputedValues() {
    const double q = (m_dMaximum - m_dMinimum) / 4.0;
    ShowThresholds(m_dMinimum + 0.01, m_dMinimum + q, m_dMinimum + 2.0 * q, m_dMinimum + 3.0 * q);
    for (int i = 0; i < kClasses; ++i) {
        m_btnColor[i].SetColor(kDefaultColors[i]);
    }
}

bool CExportNDVIDataDlg::ShowStoredDefaults() {
    const QStringList parts = Profile("Default value", "0;0;0;0").split(QLatin1Char(';'));
    double t[4] = {0, 0, 0, 0};
    bool present = false;
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        t[i] = Atof(parts[i]);
        present = present || t[i] != 0.0;
    }
    if (!present) {
        return false;
    }
    ShowThresholds(t[0], t[1], t[2], t[3]);
    for (int i = 0; i < kClasses; ++i) {
        m_btnColor[i].SetColor(ParseColor(Profile(kColorKeys[i], kDefaultColorTexts[i])));
    }
    return true;
}

void CExportNDVIDataDlg::ReadControls() {
    m_dT1 = Atof(m_editThreshold[0].text());
    m_dShownMaximum = Atof(m_editMaximum.text());
    m_dT2 = Atof(m_editThreshold[1].text());
    m_dT3 = Atof(m_editThreshold[2].text());
    m_dT4 = Atof(m_editThreshold[3].text());
    for (int i = 0; i < kClasses; ++i) {
        m_colors[i] = m_btnColor[i].GetColor();
    }
}

void CExportNDVIDataDlg::OnOK() {
    ReadControls();
    m_nOpenReport = m_chkOpenReport.isChecked() ? 1 : 0;
    m_strReportName = m_editName.text();
    if (ZQT_IsValidFileName(m_strReportName)) {
        KvMessageBox(QStringLiteral("Invalid file name"), MB_OK);
        return;
    }
    if (QFileInfo::exists(ReportFile())) {
        KvMessageBox(QStringLiteral("A file with this name already exist"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (RefuseLoadedLayerOutput({PictureFile()})) {
        return;
    }
    m_nCancelled = 0;
    EndDialog(IDOK);
}

void CExportNDVIDataDlg::OnCancel() {
    m_nCancelled = 1;
    EndDialog(IDCANCEL);
}

void CExportNDVIDataDlg::OnBnClickedSaveDefault() {
    ReadControls();
    WriteProfile("Default value", QString::asprintf("%.3lf;%.3lf;%.3lf;%.3lf", m_dT1, m_dT2, m_dT3, m_dT4));
    for (int i = 0; i < kClasses; ++i) {
        WriteProfile(kColorKeys[i], ColorText(m_colors[i]));
    }
}

void CExportNDVIDataDlg::OnBnClickedClearDefault() {
    ShowComputedValues();
    WriteProfile("Default value", QString::asprintf("%.3lf;%.3lf;%.3lf;%.3lf", 0.0, 0.0, 0.0, 0.0));
}

void CExportNDVIDataDlg::OnBnClickedCheckDefault() {
    m_nUseDefaults = m_chkUseDefaults.isChecked() ? 1 : 0;
    WriteProfile("check default", QString::number(m_nUseDefaults));
    if (m_nUseDefaults) {
        ShowStoredDefaults();
    }
}

void CExportNDVIDataDlg::OnEnChangeThreshold() {
    m_editOver.setText(QString::asprintf(">%.3lf", Atof(m_editThreshold[3].text())));
}

void CExportNDVIDataDlg::OnBnClickedCheckOpenReport() {
    m_nOpenReport = m_chkOpenReport.isChecked() ? 1 : 0;
    WriteProfile("check open report", QString::number(m_nOpenReport));
}
