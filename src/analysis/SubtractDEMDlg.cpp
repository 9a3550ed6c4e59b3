#include "analysis/SubtractDEMDlg.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/DemDifference.h"
#include "controls/DialogUnits.h"
#include "controls/KvIcons.h"
#include "demtools/DemEditCommands.h"
#include "platform/cad/Cad.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/MainWindowService.h"
#include "raster/DEM.h"
#include "raster/RasterIO.h"

QString DifferenceText(bool hasValues, double value) {
    return hasValues ? QString::asprintf("%.3lf", value) : QStringLiteral("---");
}

CSubtractDEMDlg::CSubtractDEMDlg(CKelvaroDoc* doc, CDEM* demA, CDEM* demB, QWidget* parent)
    : KvDialog(parent),
      m_pDoc(doc),
      m_pDemA(demA),
      m_pDemB(demB),
      m_lblTolerance(QStringLiteral("Tolerance (du):"), this),
      m_editTolerance(this),
      m_preview(this),
      m_btnUpdate(QStringLiteral("Update"), this),
      m_btnClose(QStringLiteral("Close"), this),
      m_btnExport(QStringLiteral("Export"), this),
      m_progress(this),
      m_lblMin(QStringLiteral("Min elevation:"), this),
      m_editMin(this),
      m_lblMax(QStringLiteral("Max elevation:"), this),
      m_editMax(this),
      m_dTolerance(std::numeric_limits<double>::max()) {
    setWindowTitle(QStringLiteral("Subtract DEM"));
    setFixedSize(kv::DluSize(this, 503, 236));
    const struct {
        QWidget* widget;
        int id;
        QRect rect;
    } layout[] = {
        {&m_lblTolerance, 0, {7, 9, 56, 10}},           {&m_editTolerance, IDC_TOLERANCE, {66, 7, 60, 14}},
        {&m_btnUpdate, IDC_UPDATE, {132, 6, 60, 16}},   {&m_preview, IDC_PREVIEW, {7, 28, 489, 168}},
        {&m_progress, IDC_PROGRESS, {7, 200, 489, 10}}, {&m_lblMin, 0, {7, 218, 50, 10}},
        {&m_editMin, IDC_MIN, {58, 216, 70, 14}},       {&m_lblMax, 0, {138, 218, 50, 10}},
        {&m_editMax, IDC_MAX, {189, 216, 70, 14}},      {&m_btnExport, IDC_EXPORT, {376, 215, 58, 16}},
        {&m_btnClose, IDC_CLOSE, {438, 215, 58, 16}},
    };
    for (const auto& item : layout) {
        item.widget->setGeometry(
            kv::DluRect(this, item.rect.x(), item.rect.y(), item.rect.width(), item.rect.height()));
        if (item.id) {
            item.widget->setObjectName(QString::number(item.id));
        }
    }
    m_preview.setFrameShape(QFrame::StyledPanel);
    m_editMin.setReadOnly(true);
    m_editMax.setReadOnly(true);
    m_view.drawImage = [this](QPainter* dc, const CadWinRect* update, int id, int left, int bottom, int w,
                              int h) { return OnCadDrawImage(dc, update, id, left, bottom, w, h); };
    m_view.mouseMove = [this](int flags, double x, double y) { OnCadMouseMove(flags, x, y); };
    connect(&m_btnUpdate, &QPushButton::clicked, this, [this] { OnBnClickedUpdate(); });
    connect(&m_btnExport, &QPushButton::clicked, this, [this] { OnBnClickedExport(); });
    connect(&m_btnClose, &QPushButton::clicked, this, [this] { OnBnClickedClose(); });
}

CSubtractDEMDlg::~CSubtractDEMDlg() {
    OnDestroy();
    m_results.clear();
    for (const QString& path : m_tempFiles) {
        kv::RemoveRasterFile(path);
    }
}

CDEM* CSubtractDEMDlg::Result() const {
    return m_results.empty() ? nullptr : m_results.begin()->second.get();
}

bool CSubtractDEMDlg::OnInitDialog() {
    setWindowTitle(QStringLiteral("Subctract DEMs: %1 - %2").arg(m_pDemA->m_name, m_pDemB->m_name));
    m_editTolerance.setText(QStringLiteral("0.0"));
    m_btnClose.SetIcon(IDI_OK, IDI_OK_DISABLED);
    m_btnUpdate.SetIcon(IDI_UPDATE, IDI_UPDATE_DISABLED);
    m_btnExport.SetIcon(IDI_EXPORT, IDI_EXPORT_DISABLED);
    m_view.Create(&m_preview);
    m_events.emplace(std::vector<HostedCadView*>{&m_view});
    // The first computation starts once the dialog shows, from a timer of the dialog's own, so that
    // whoever waits for the dialog sees it coming.
    auto* start = new QTimer(this);
    start->setSingleShot(true);
    connect(start, &QTimer::timeout, this, [this] { OnTimer(); });
    start->start(100);
    return true;
}

void CSubtractDEMDlg::OnTimer() {
    if (m_busy) {
        return;
    }
    double tolerance = 0.0;
    if (!ZQT_StringToDouble(m_editTolerance.text().left(64), &tolerance) || tolerance < 0.0) {
        tolerance = 0.0;
        m_editTolerance.setText(QString::asprintf("%.3lf", tolerance));
    }
    if (!ComputeDifference(tolerance, true)) {
        EndDialog(IDCANCEL);
    }
}

void CSubtractDEMDlg::SetBusy(bool busy) {
    m_busy = busy;
    m_btnUpdate.setEnabled(!busy);
    m_btnExport.setEnabled(!busy);
    m_btnClose.setEnabled(!busy);
}

void CSubtractDEMDlg::EraseLabel() {
    if (m_label) {
        CadEntityErase(m_label, 1);
        m_label = nullptr;
    }
}

void CSubtractDEMDlg::OnDestroy() {
    m_events.reset();
    m_view.Destroy();
    EraseLabel();
}

void CSubtractDEMDlg::ReleaseResult() {
    for (auto& [id, result] : m_results) {
        const QString path = result->m_path;
        result.reset();  // closes the dataset
        kv::RemoveRasterFile(path);
        m_tempFiles.removeAll(path);
    }
    m_results.clear();
}

int CSubtractDEMDlg::ComputeDifference(double tolerance, bool zoomToExtents) {
    const QString path =
        ZQT_GetRandomFilePath(ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1), QStringLiteral("gtif"));
    m_tempFiles << path;
    // Busy before anything lets events through: the buttons wait until the result is made.
    SetBusy(true);
    m_progress.SetPos(0);
    const DemDifference d = ComputeDemDifference(*m_pDemA, *m_pDemB, tolerance, path, &m_progress);
    SetBusy(false);
    switch (d.status) {
        case DemDifference::Done:
            break;
        case DemDifference::DifferentResolution:
            KvMessageBox(QStringLiteral("Selected DEMs must have same gsd resolution!"),
                         MB_OK | MB_ICONEXCLAMATION);
            return 0;
        case DemDifference::NoOverlap:
            KvMessageBox(QStringLiteral("Selected DEMs must have an overlapping area!"),
                         MB_OK | MB_ICONEXCLAMATION);
            return 0;
        case DemDifference::CannotCreate:
        case DemDifference::WriteFailed:
            KvMessageBox(QStringLiteral("Unable to save temporary file!"), MB_OK | MB_ICONEXCLAMATION);
            return 0;
        case DemDifference::ReadFailed:
            KvMessageBox(QStringLiteral("File reading error"), MB_OK | MB_ICONEXCLAMATION);
            return 0;
    }
    std::unique_ptr<CDEM> result(LoadDemFromGeoTiff(path));
    if (!result) {
        return 0;
    }
    if (d.HasValues()) {
        result->m_minElevation = d.minimum;
        result->m_maxElevation = d.maximum;
    }
    int id = 999;
    for (const auto& entry : m_results) {
        id = std::max(id, entry.first);
    }
    result->m_imageDefId = id + 1;
    // The result on its image place in the preview; a result without any value draws nothing.
    CadDrawing* drawing = m_view.Drawing();
    if (d.HasValues()) {
        const double* gt = result->m_geoTransform;
        result->m_imageEntity =
            CadAddImagePlace(drawing, result->m_imageDefId, result->Width(), result->Height(), gt[0],
                             gt[3] + result->Height() * gt[5], 0.0, 1.0 / gt[1]);
        if (result->m_imageEntity) {
            CadImagePutFile(result->m_imageEntity, result->m_name.toUtf8().constData());
        }
    }
    m_results.emplace(result->m_imageDefId, std::move(result));
    CadRegen(drawing);
    if (QWidget* window = m_view.Window()) {
        if (zoomToExtents) {
            CadExecute(drawing, window, CAD_CMD_ZOOM_EXTENTS);
        }
        CadWndRedraw(window);
    }
    m_dTolerance = tolerance;
    m_editMax.setText(DifferenceText(d.HasValues(), d.maximum));
    m_editMin.setText(DifferenceText(d.HasValues(), d.minimum));
    return 1;
}

void CSubtractDEMDlg::OnBnClickedUpdate() {
    if (m_busy) {
        return;
    }
    double tolerance = 0.0;
    if (!ZQT_StringToDouble(m_editTolerance.text().left(64), &tolerance) || tolerance < 0.0) {
        KvMessageBox(QStringLiteral("Invalid tolerance value!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (tolerance == m_dTolerance) {
        return;
    }
    EraseLabel();
    ReleaseResult();
    ComputeDifference(tolerance, false);
}

void CSubtractDEMDlg::OnBnClickedExport() {
    CDEM* result = Result();
    if (m_busy || !result) {
        return;
    }
    const QString target =
        ChooseOutputFile(QStringLiteral("DEM File (*.gtif)"), QStringLiteral("gtif"), {result->m_path});
    if (target.isEmpty()) {
        return;
    }
    // The copy is made beside the target and takes its place only when complete.
    const QString temporary = kv::TemporaryPathFor(target);
    if (!QFile::copy(result->m_path, temporary) || !kv::MoveIntoPlace(temporary, target)) {
        QFile::remove(temporary);
        KvMessageBox(QStringLiteral("Unable to save file!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

void CSubtractDEMDlg::OnBnClickedClose() {
    if (m_busy) {
        return;
    }
    OnDestroy();
    ReleaseResult();
    EndDialog(IDOK);
}

void CSubtractDEMDlg::OnCancel() {
    // The computation holds the dialog's files while it runs.
    if (m_busy) {
        return;
    }
    OnDestroy();
    ReleaseResult();
    EndDialog(IDCANCEL);
}

int CSubtractDEMDlg::OnCadDrawImage(QPainter* dc, const CadWinRect* update, int imageId, int placeLeft,
                                    int placeBottom, int placeWidth, int placeHeight) {
    if (imageId < 1000 || imageId > 1999) {
        return 0;
    }
    const auto found = m_results.find(imageId);
    if (found == m_results.end()) {
        return 0;
    }
    CDEM& result = *found->second;
    if (!result.m_imageEntity || !result.m_pDataset) {
        return 0;
    }
    return DrawDemImage(m_view.Drawing(), result.m_imageEntity, result, result.m_display, dc, update,
                        placeLeft, placeBottom, placeWidth, placeHeight);
}

void CSubtractDEMDlg::OnCadMouseMove(int keyFlags, double x, double y) {
    if (keyFlags & CAD_KEY_SHIFT) {
        return;
    }
    QString status = QString::asprintf("%.3f, %.3f", x, y);
    CDEM* result = Result();
    CadEntity* place = result ? result->m_imageEntity : nullptr;
    if (place && !CadEntityGetDeleted(place) && x >= CadEntityGetLeft(place) &&
        x <= CadEntityGetRight(place) && y >= CadEntityGetBottom(place) && y <= CadEntityGetTop(place)) {
        // The cell under the cursor, read from the result itself: the picture on the screen holds
        // values resampled to its pixels, which at most zooms belong to no one cell.
        const double v = result->GetElevation(x, y);
        EraseLabel();
        if (v != kNoData) {
            status = QString::asprintf("%.3lf, %.3lf, %.3lf", x, y, v);
            QWidget* window = m_view.Window();
            double left = 0, bottom = 0, right = 0, top = 0;
            const double p =
                window && window->height() > 0 && CadGetViewRect(window, &left, &bottom, &right, &top)
                    ? (top - bottom) / window->height()
                    : std::fabs(result->m_geoTransform[1]);
            const QString text = m_dTolerance >= std::abs(v) ? QStringLiteral("No difference")
                                                             : QString::asprintf("Difference Z: %.3lf", v);
            m_label = CadAddText(m_view.Drawing(), text.toUtf8().constData(), x + 10 * p, y + 20 * p, 0.0);
            if (m_label) {
                CadTextPutHeight(m_label, 10 * p);
                CadTextPutAlign(m_label, CAD_TA_LEFT_BOTTOM);
                CadTextPutAngle(m_label, 0.0);
            }
        }
        CadUpdate(m_view.Drawing());
        ZQT_PumpMessages();
    }
    if (kv::MainWindowService* service = kv::GetMainWindowService()) {
        service->SetStatusText(status);
    }
}
