#include "analysis/VolumeDlg.h"

#include <QSaveFile>

#include <cmath>
#include <limits>
#include <optional>

#include "analysis/VolumeCommand.h"
#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "demtools/DemEditCommands.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"

namespace {

constexpr double kNoValue = std::numeric_limits<double>::max();

const QString kVerticesMinCaption = QStringLiteral("Use AOI vertices min elevation");
const QString kAoiMinCaption = QStringLiteral("Use AOI minimum elevation");

QString Padded(const QString& caption) {
    return caption.leftJustified(54, QLatin1Char(' '));
}

// A volume as the result fields show it.
QString VolumeText(const std::optional<double>& volume) {
    return volume ? QString::asprintf("%.3lf", *volume) : QStringLiteral("---");
}

// A number for the spreadsheet: decimal commas.
QString CsvNumber(QString text) {
    return text.replace(QLatin1Char('.'), QLatin1Char(','));
}

}  // namespace

CVolumeDlg::CVolumeDlg(int* abortFlag, QWidget* parent)
    : KvDialog(parent),
      m_pAbort(abortFlag),
      m_dVerticesMin(kNoValue),
      m_dAoiMin(kNoValue),
      m_grpArea(QStringLiteral("Area of interest"), this),
      m_btnDrawAoi(QStringLiteral("Draw AOI"), this),
      m_btnPickPolyline(QStringLiteral("Pick by polyline"), this),
      m_grpElevation(QStringLiteral("Volume - by elevation"), this),
      m_btnPickElevation(this),
      m_editReference(this),
      m_btnUseVerticesMin(Padded(kVerticesMinCaption), this),
      m_btnUseAoiMin(Padded(kAoiMinCaption), this),
      m_btnUseThisElevation(QStringLiteral("Use this elevation"), this),
      m_lblOverReference(QStringLiteral("Volume over (du^3):"), this),
      m_editOverReference(this),
      m_lblUnderReference(QStringLiteral("Volume under (du^3):"), this),
      m_editUnderReference(this),
      m_grpPlane(QStringLiteral("Volume - by interpolated plane"), this),
      m_lblOverPlane(QStringLiteral("Volume over (du^3):"), this),
      m_editOverPlane(this),
      m_lblUnderPlane(QStringLiteral("Volume under (du^3):"), this),
      m_editUnderPlane(this),
      m_progress(this),
      m_btnExport(QStringLiteral("Export"), this),
      m_btnAbort(QStringLiteral("Abort"), this),
      m_btnClose(QStringLiteral("Close"), this),
      m_timer(this) {
    if (m_pAbort) {
        *m_pAbort = 0;
    }
    setWindowTitle(QStringLiteral("Volume"));
    setFixedSize(kv::DluSize(this, 237, 309));
    const struct {
        QWidget* widget;
        int id;
        QRect rect;
    } layout[] = {
        {&m_grpArea, 0, {7, 7, 223, 38}},
        {&m_btnDrawAoi, IDC_DRAW_AOI, {15, 21, 100, 16}},
        {&m_btnPickPolyline, IDC_PICK_POLYLINE, {122, 21, 100, 16}},
        {&m_grpElevation, 0, {7, 51, 223, 138}},
        {&m_btnPickElevation, IDC_PICK_ELEVATION, {15, 64, 22, 16}},
        {&m_editReference, IDC_REFERENCE, {41, 65, 90, 14}},
        {&m_btnUseVerticesMin, IDC_USE_VERTICES_MIN, {15, 86, 207, 16}},
        {&m_btnUseAoiMin, IDC_USE_AOI_MIN, {15, 105, 207, 16}},
        {&m_btnUseThisElevation, IDC_USE_THIS_ELEVATION, {15, 124, 207, 16}},
        {&m_lblOverReference, 0, {15, 149, 90, 8}},
        {&m_editOverReference, IDC_OVER_REFERENCE, {108, 147, 114, 14}},
        {&m_lblUnderReference, 0, {15, 169, 90, 8}},
        {&m_editUnderReference, IDC_UNDER_REFERENCE, {108, 167, 114, 14}},
        {&m_grpPlane, 0, {7, 195, 223, 60}},
        {&m_lblOverPlane, 0, {15, 211, 90, 8}},
        {&m_editOverPlane, IDC_OVER_PLANE, {108, 209, 114, 14}},
        {&m_lblUnderPlane, 0, {15, 231, 90, 8}},
        {&m_editUnderPlane, IDC_UNDER_PLANE, {108, 229, 114, 14}},
        {&m_progress, IDC_PROGRESS, {7, 263, 223, 14}},
        {&m_btnExport, IDC_EXPORT, {7, 285, 70, 17}},
        {&m_btnAbort, IDC_ABORT, {83, 285, 70, 17}},
        {&m_btnClose, IDC_CLOSE, {160, 285, 70, 17}},
    };
    for (const auto& item : layout) {
        item.widget->setGeometry(
            kv::DluRect(this, item.rect.x(), item.rect.y(), item.rect.width(), item.rect.height()));
        if (item.id) {
            item.widget->setObjectName(QString::number(item.id));
        }
    }
    for (QLineEdit* result :
         {&m_editOverReference, &m_editUnderReference, &m_editOverPlane, &m_editUnderPlane}) {
        result->setReadOnly(true);
    }
    m_btnClose.setDefault(true);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(kComputeTimer); });
    connect(&m_btnDrawAoi, &QPushButton::clicked, this, [this] { OnBnClickedDrawAoi(); });
    connect(&m_btnPickPolyline, &QPushButton::clicked, this, [this] { OnBnClickedPickPolyline(); });
    connect(&m_btnPickElevation, &QPushButton::clicked, this, [this] { OnBnClickedPickElevation(); });
    connect(&m_editReference, &QLineEdit::textEdited, this, [this] { OnEnChangeReferenceElevation(); });
    connect(&m_btnUseVerticesMin, &QPushButton::clicked, this, [this] { OnBnClickedUseVerticesMin(); });
    connect(&m_btnUseAoiMin, &QPushButton::clicked, this, [this] { OnBnClickedUseAoiMin(); });
    connect(&m_btnUseThisElevation, &QPushButton::clicked, this, [this] { OnBnClickedUseThisElevation(); });
    connect(&m_btnExport, &QPushButton::clicked, this, [this] { OnBnClickedExport(); });
    connect(&m_btnAbort, &QPushButton::clicked, this, [this] { OnBnClickedAbort(); });
    connect(&m_btnClose, &QPushButton::clicked, this, [this] { OnOK(); });
}

bool CVolumeDlg::OnInitDialog() {
    const VolumeCommandState& state = VolumeState();
    if (state.reference != kUnsetReference) {
        m_editReference.setText(QString::asprintf("%.3lf", state.reference));
    }
    m_progress.SetRange(0, 100);
    m_progress.SetPos(0);
    m_progress.SetStartTime();
    m_btnPickElevation.SetIcon(IDI_PICK, IDI_PICK_DISABLED);
    m_btnExport.SetIcon(IDI_EXPORT, IDI_EXPORT_DISABLED);
    m_btnAbort.SetIcon(IDI_CANCEL, IDI_CANCEL_DISABLED);
    m_btnClose.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnAbort.setVisible(m_pAbort != nullptr);
    // Abort serves a run only: pressed between runs it would stop the next one at once.
    m_btnAbort.setEnabled(false);
    // Nothing is measured yet: an export now would write empty volumes.
    m_btnExport.setEnabled(false);
    m_btnUseVerticesMin.SetTooltipText(
        QStringLiteral("Use minimum elevation got between elevations of selected AOI polyline vertices"));
    m_btnUseAoiMin.SetTooltipText(QStringLiteral("Use minimum elevation between elevations inside AOI"));
    ShowMinima();
    m_timer.start(100);
    return true;
}

void CVolumeDlg::OnTimer(int id) {
    if (id != kComputeTimer) {
        return;
    }
    if (m_pAbort) {
        *m_pAbort = 0;
    }
    m_timer.stop();
    ComputeVolumes();
}

void CVolumeDlg::SetSamplingState(bool sampling) {
    m_bComputing = sampling;
    for (QWidget* control : std::initializer_list<QWidget*>{
             &m_btnExport, &m_btnPickElevation, &m_btnClose, &m_btnPickPolyline, &m_btnDrawAoi,
             &m_btnUseVerticesMin, &m_btnUseAoiMin, &m_btnUseThisElevation, &m_editReference}) {
        control->setEnabled(!sampling);
    }
    m_btnAbort.setEnabled(sampling);
}

void CVolumeDlg::ComputeVolumes() {
    if (m_bComputing) {
        return;
    }
    VolumeCommandState& state = VolumeState();
    if (state.dem) {
        m_btnExport.setEnabled(false);
        m_btnPickElevation.setEnabled(false);
        m_editReference.setEnabled(false);
    }
    if (state.dem && state.aoi.size() >= 3) {
        m_btnExport.setEnabled(true);
        m_btnPickElevation.setEnabled(true);
        m_editReference.setEnabled(true);

        if (m_pAbort) {
            *m_pAbort = 0;
        }
        m_dAoiMin = kNoValue;
        SetSamplingState(true);
        m_progress.SetPos(0);
        m_progress.SetStartTime();
        const AoiVolumes volumes =
            ComputeAoiVolumes(*state.dem, state.aoi, state.reference, &m_progress, m_pAbort);
        SetSamplingState(false);
        m_progress.SetPos(0);

        m_dVerticesMin = volumes.verticesMinimum.value_or(kNoValue);
        m_dAoiMin = volumes.aoiMinimum.value_or(kNoValue);
        if (state.reference == kUnsetReference && volumes.reference != kUnsetReference) {
            state.reference = volumes.reference;
            m_editReference.setText(QString::asprintf("%.3lf", state.reference));
        }
        m_editOverReference.setText(VolumeText(volumes.overReference));
        m_editUnderReference.setText(VolumeText(volumes.underReference));
        m_editOverPlane.setText(VolumeText(volumes.overPlane));
        m_editUnderPlane.setText(VolumeText(volumes.underPlane));
        if (volumes.aborted) {
            EndDialog(IDCANCEL);
        }
    }
    m_bReferenceEdited = 0;
    ShowMinima();
}

void CVolumeDlg::ShowMinima() {
    const bool both = m_dAoiMin != kNoValue && m_dVerticesMin != kNoValue;
    if (both) {
        m_btnUseVerticesMin.setText(
            QString::asprintf("Use AOI vertices min elevation (%.3f d.u.)", m_dVerticesMin));
        m_btnUseAoiMin.setText(QString::asprintf("Use AOI minimum elevation (%.3f d.u.)     ", m_dAoiMin));
    } else {
        m_btnUseVerticesMin.setText(Padded(kVerticesMinCaption));
        m_btnUseAoiMin.setText(Padded(kAoiMinCaption));
    }
    m_btnUseVerticesMin.setEnabled(both);
    m_btnUseAoiMin.setEnabled(both);
    m_btnUseThisElevation.setEnabled(both);
}

void CVolumeDlg::OnBnClickedPickElevation() {
    EndDialog(IDC_PICK_ELEVATION);
}

void CVolumeDlg::OnBnClickedDrawAoi() {
    EndDialog(IDC_DRAW_AOI);
}

void CVolumeDlg::OnBnClickedPickPolyline() {
    EndDialog(IDC_PICK_POLYLINE);
}

void CVolumeDlg::OnEnChangeReferenceElevation() {
    m_bReferenceEdited = 1;
}

void CVolumeDlg::OnBnClickedUseVerticesMin() {
    UseReference(m_dVerticesMin);
}

void CVolumeDlg::OnBnClickedUseAoiMin() {
    UseReference(m_dAoiMin);
}

void CVolumeDlg::UseReference(double reference) {
    VolumeCommandState& state = VolumeState();
    state.reference = reference;
    ComputeVolumes();
    m_editReference.setText(state.reference == kUnsetReference ? QString()
                                                               : QString::asprintf("%.3lf", state.reference));
    m_bReferenceEdited = 0;
}

void CVolumeDlg::OnBnClickedUseThisElevation() {
    if (m_bReferenceEdited) {
        double value = 0.0;
        if (!ZQT_StringToDouble(m_editReference.text().left(256), &value) || !std::isfinite(value)) {
            KvMessageBox(QStringLiteral("Invalid reference elevation!"), MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        VolumeState().reference = value;
    }
    ComputeVolumes();
}

void CVolumeDlg::OnBnClickedExport() {
    const QString path = ChooseOutputFile(QStringLiteral("CSV File (*.csv)"), QStringLiteral("csv"));
    if (path.isEmpty()) {
        return;
    }
    const double reference = VolumeState().reference;
    // An unset reference has no elevation to write.
    const QString referenceText = reference == kUnsetReference
                                      ? QStringLiteral("---")
                                      : CsvNumber(QString::asprintf("%.3lf", reference));
    const QString text =
        QStringLiteral(
            "Volume on reference elevation (%1 du);;;Volume on interpolated plane;;\n"
            "Volume over (du^3);%2;;Volume over (du^3);%3;\n"
            "Volume under (du^3);%4;;Volume under (du^3);%5;\n")
            .arg(referenceText, CsvNumber(m_editOverReference.text()), CsvNumber(m_editOverPlane.text()),
                 CsvNumber(m_editUnderReference.text()), CsvNumber(m_editUnderPlane.text()));
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        KvMessageBox(QStringLiteral("Unable to write file!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

void CVolumeDlg::OnBnClickedAbort() {
    if (KvMessageBox(QStringLiteral("Abort process?"), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return;
    }
    if (m_pAbort) {
        *m_pAbort = 1;
    }
    m_btnAbort.setEnabled(false);
}

void CVolumeDlg::OnOK() {
    if (!m_bComputing) {
        EndDialog(IDOK);
    }
}

void CVolumeDlg::OnCancel() {
    if (m_bComputing) {
        if (m_pAbort) {
            *m_pAbort = 1;
        }
        return;
    }
    m_timer.stop();
    EndDialog(IDCANCEL);
}
