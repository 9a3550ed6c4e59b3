#include "analysis/GroundFilteringDlg.h"

#include <cmath>
#include <cstdlib>

#include "analysis/GroundFiltering.h"
#include "analysis/GroundFilteringCommand.h"
#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

// Ground types: caption, the provisional factor in thousandths (the item's data) and the scale
// (in map units) the filter gets once the work raster has the chosen GSD.
struct GroundType {
    const char* caption;
    int permille;
    double scale;
};
const GroundType kGroundTypes[] = {
    {"Country", 1000, 2.5}, {"Suburban", 1600, 4.0}, {"Urban", 3200, 8.0}, {"Metropolitan", 6400, 16.0}};
constexpr double kHalfPi = 1.5707963267948966;

// A number as the classic text-to-double reads it: what does not parse is 0.
double Number(const QString& text) {
    return std::atof(text.left(255).toLocal8Bit().constData());
}

}  // namespace

CMCCGroundFilterParametersDlg::CMCCGroundFilterParametersDlg(CDEM* dem, QWidget* parent)
    : KvDialog(parent),
      m_pDEM(dem),
      m_comboGroundType(this),
      m_editFactor(this),
      m_sliderCurvature(Qt::Horizontal, this),
      m_editCurvature(this),
      m_btnOK(QStringLiteral("OK"), this),
      m_btnCancel(QStringLiteral("Cancel"), this),
      m_labelGroundType(QStringLiteral("Ground type:"), this),
      m_labelCurvature(QStringLiteral("Curvature threshold (rad):"), this),
      m_groupGSD(QStringLiteral("GSD"), this) {
    setWindowTitle(QStringLiteral("Ground Filtering"));
    setFixedSize(kv::DluSize(this, 265, 90));
    m_labelGroundType.setGeometry(kv::DluRect(this, 7, 9, 50, 8));
    m_comboGroundType.setGeometry(kv::DluRect(this, 60, 7, 80, 12));
    m_editFactor.setGeometry(kv::DluRect(this, 146, 7, 40, 12));
    m_sliderCurvature.setGeometry(kv::DluRect(this, 7, 26, 201, 14));
    m_labelCurvature.setGeometry(kv::DluRect(this, 7, 47, 100, 8));
    m_editCurvature.setGeometry(kv::DluRect(this, 110, 45, 40, 12));
    m_groupGSD.setGeometry(kv::DluRect(this, 7, 61, 100, 24));
    // Inside the group's frame, but a child of the dialog like every other control.
    m_editGSD.setParent(this);
    m_editGSD.setGeometry(kv::DluRect(this, 13, 70, 60, 12));
    m_editGSD.raise();
    m_btnOK.setGeometry(kv::DluRect(this, 214, 7, 44, 14));
    m_btnCancel.setGeometry(kv::DluRect(this, 214, 25, 44, 14));
    m_btnOK.setDefault(true);
    connect(&m_btnOK, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(&m_btnCancel, &QPushButton::clicked, this, [this] { OnCancel(); });
    connect(&m_sliderCurvature, &QSlider::valueChanged, this, [this] { OnNMCustomdrawCurvatureSlider(); });
    connect(&m_comboGroundType, &QComboBox::activated, this, [this] { OnCbnSelchangeGroundType(); });
    connect(&m_editGSD, &QLineEdit::textChanged, this, [this] { OnEnChangeGsd(); });
}

double CMCCGroundFilterParametersDlg::PixelWidth() const {
    return m_pDEM ? m_pDEM->m_geoTransform[1] : 0.0;
}

bool CMCCGroundFilterParametersDlg::OnInitDialog() {
    m_comboGroundType.clear();
    for (const GroundType& type : kGroundTypes) {
        m_comboGroundType.addItem(QString::fromLatin1(type.caption), type.permille);
    }
    m_comboGroundType.addItem(QStringLiteral("Custom"));
    m_comboGroundType.setCurrentIndex(1);
    m_editFactor.setText(QString::asprintf("%.1f", 1.6));
    m_editFactor.setEnabled(false);
    m_editCurvature.setText(QStringLiteral("0.3"));
    m_sliderCurvature.setRange(100, 1000);
    m_sliderCurvature.setValue(300);
    // The edit follows the trackbar: the position 300 shows as 0.300.
    OnNMCustomdrawCurvatureSlider();
    m_dGSD = std::max(PixelWidth(), 2.5);
    m_editGSD.setText(QString::asprintf("%.1f", m_dGSD));
    return true;
}

void CMCCGroundFilterParametersDlg::OnNMCustomdrawCurvatureSlider() {
    m_editCurvature.setText(QString::asprintf("%.3f", m_sliderCurvature.value() / 1000.0));
}

void CMCCGroundFilterParametersDlg::OnCbnSelchangeGroundType() {
    const int index = m_comboGroundType.currentIndex();
    if (index == kCustom) {
        m_editFactor.clear();
        m_editFactor.setEnabled(true);
        return;
    }
    m_editFactor.setEnabled(false);
    if (index >= 0 && index < kCustom) {
        m_editFactor.setText(QString::asprintf("%.1f", kGroundTypes[index].permille / 1000.0));
    }
}

void CMCCGroundFilterParametersDlg::OnEnChangeGsd() {
    const double gsd = Number(m_editGSD.text());
    // Until the text is a size, the factor it would give is not shown.
    if (!(gsd > 0.0) || !std::isfinite(gsd)) {
        return;
    }
    const int index = m_comboGroundType.currentIndex();
    double factor = 1.0;
    if (index >= 0 && index < kCustom) {
        factor = kGroundTypes[index].scale / gsd;
    } else if (index == kCustom) {
        factor = m_dFactor;
    }
    m_editFactor.setText(QString::asprintf("%.1lf", factor));
}

void CMCCGroundFilterParametersDlg::OnOK() {
    const int index = m_comboGroundType.currentIndex();
    if (index < 0) {
        KvMessageBox(QStringLiteral("Select ground type!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    double factor = 0.0;
    if (index == kCustom) {
        factor = Number(m_editFactor.text());
        if (factor < 0.0 || !std::isfinite(factor)) {
            KvMessageBox(QStringLiteral("invalid ground type factor!"), MB_OK | MB_ICONINFORMATION);
            return;
        }
    } else {
        factor = kGroundTypes[index].permille / 1000.0;
    }
    double threshold = -1.0;
    ZQT_StringToDouble(m_editCurvature.text(), &threshold);
    if (!(threshold > 0.0 && threshold < kHalfPi)) {
        KvMessageBox(QStringLiteral(
                         "Invalid curvature threshold! (it must be bigger than zero and smaller than PI/2)"),
                     MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    const double gsd = Number(m_editGSD.text());
    if (gsd > 100.0 * PixelWidth()) {
        KvMessageBox(QString::asprintf("Source GSD is %.4lf\nSelected GSD is too big", PixelWidth()),
                     MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!(gsd > 0.0) || !std::isfinite(gsd)) {
        KvMessageBox(QStringLiteral("Invalid GSD value!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (index != kCustom) {
        factor = kGroundTypes[index].scale / gsd;
    }
    m_dFactor = factor;
    m_dCurvatureThreshold = threshold;
    m_dGSD = gsd;
    EndDialog(IDOK);
}

CGroundFilteringDlg::CGroundFilteringDlg(CKelvaroDoc* doc, int* abortFlag, QWidget* parent)
    : KvDialog(parent),
      m_pDoc(doc),
      m_pDEM(GroundFilteringCommandDem()),
      m_pAbort(abortFlag),
      m_progressOverall(this),
      m_progressPhase(this),
      m_btnAbort(QStringLiteral("Abort"), this),
      m_timer(new QTimer(this)) {
    if (m_pAbort) {
        *m_pAbort = 0;
    }
    setWindowTitle(QStringLiteral("Ground Filtering"));
    setFixedSize(kv::DluSize(this, 309, 43));
    m_progressOverall.setGeometry(kv::DluRect(this, 7, 7, 240, 12));
    m_progressPhase.setGeometry(kv::DluRect(this, 7, 24, 240, 12));
    m_btnAbort.setGeometry(kv::DluRect(this, 253, 14, 50, 16));
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, [this] { OnTimer(); });
    connect(&m_btnAbort, &QPushButton::clicked, this, [this] { OnBnClickedAbort(); });
}

bool CGroundFilteringDlg::OnInitDialog() {
    m_btnAbort.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_btnAbort.setVisible(m_pAbort != nullptr);
    m_timer->start(100);
    return true;
}

void CGroundFilteringDlg::OnTimer() {
    m_timer->stop();
    hide();
    if (!m_pDoc || !m_pDEM) {
        EndDialog(IDCANCEL);
        return;
    }
    if (m_pAbort) {
        *m_pAbort = 0;
    }
    CMCCGroundFilterParametersDlg parameters(m_pDEM, parentWidget());
    if (parameters.DoModal() != IDOK) {
        EndDialog(IDOK);
        return;
    }
    show();
    ZQT_StartTimer();
    QString cause;
    const int result =
        RunGroundFiltering(m_pDEM, parameters.m_dGSD, parameters.m_dFactor, parameters.m_dCurvatureThreshold,
                           &m_progressOverall, &m_progressPhase, m_pAbort, &cause);
    m_progressOverall.SetPos(0);
    m_progressPhase.SetPos(0);
    if (result) {
        EndDialog(m_pAbort && *m_pAbort ? IDCANCEL : IDOK);
        return;
    }
    KvMessageBox(QStringLiteral("Unable to filter this DEM. Please check the input data consistency"),
                 MB_OK | MB_ICONINFORMATION);
    // What went wrong stays in the command line's history once the command clears its prompt.
    if (!cause.isEmpty()) {
        Prompt(m_pDoc->m_pCad, cause);
    }
    EndDialog(IDCANCEL);
}

void CGroundFilteringDlg::OnBnClickedAbort() {
    if (KvMessageBox(QStringLiteral("Abort process?"), MB_YESNO | MB_ICONQUESTION) == IDYES) {
        if (m_pAbort) {
            *m_pAbort = 1;
        }
        m_btnAbort.setEnabled(false);
    }
}
