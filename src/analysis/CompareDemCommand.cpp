// The surface comparison command: the dialog loop with its picks in the drawing, then the
// comparison, its picture and its report.
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

#include <optional>
#include <vector>

#include "analysis/CompareDEMDlg.h"
#include "analysis/ComparisonReport.h"
#include "analysis/SurfaceCommands.h"
#include "analysis/SurfaceComparison.h"
#include "controls/SingleProgressDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/WrittenReport.h"
#include "raster/DEM.h"

namespace {

// What the command holds between the openings of its dialog.
struct CompareInputs {
    QString referencePath;
    QString comparedPath;
    double referenceGsd = 0.0;
    double comparedGsd = 0.0;
};

// Writes the picture as a JPEG through the write layer: the file at path is replaced only by a
// complete picture.
bool WritePicture(const cv::Mat& picture, const QString& path) {
    std::vector<uchar> jpeg;
    try {
        if (!cv::imencode(".jpg", picture, jpeg)) {
            return false;
        }
    } catch (const cv::Exception&) {
        return false;
    }
    kv::SafeFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<qint64>(jpeg.size())) ==
               static_cast<qint64>(jpeg.size()) &&
           file.commit();
}

// The message for a DEM that could not be read for the comparison; false when there is one.
bool GridReadOk(GridRead read, const QString& cannotOpen) {
    switch (read) {
        case GridRead::Ok:
            return true;
        case GridRead::CannotOpen:
            KvMessageBox(cannotOpen, MB_OK | MB_ICONEXCLAMATION);
            return false;
        case GridRead::Invalid:
            KvMessageBox(QStringLiteral("Invalid DEM file!"), MB_OK | MB_ICONEXCLAMATION);
            return false;
        case GridRead::ReadFailed:
            KvMessageBox(QStringLiteral("File reading error"), MB_OK | MB_ICONEXCLAMATION);
            return false;
    }
    return false;
}

// Runs the comparison the dialog was confirmed with, up to the opened report.
void RunComparison(CadDrawing* drawing, const CCompareDEMDlg& dialog) {
    const QString referencePath = dialog.GetReferencePath();
    if (referencePath.isEmpty()) {
        KvMessageBox(QStringLiteral("Unable to open Reference DEM"), MB_OK);
        return;
    }
    CSingleProgressDlg progress(kv::DialogParent());
    progress.Create();

    const QFileInfo reference(referencePath);
    const QString base = reference.absolutePath() + QLatin1Char('/') + reference.completeBaseName() +
                         QStringLiteral("_comparison");
    const QString picturePath = base + QStringLiteral(".jpg");
    const QString reportPath = base + QStringLiteral(".pdf");
    // Neither goes over a layer's file or a surface being compared, whatever its name.
    const QStringList inputs =
        QStringList{referencePath, dialog.GetComparedPath()} + dialog.GetAsciiFiles() + dialog.GetLasFiles();
    if (RefuseOutputOverInputs({picturePath, reportPath}, inputs)) {
        return;
    }

    ComparisonGrid referenceGrid;
    if (!GridReadOk(ReadComparisonGrid(referencePath, &referenceGrid),
                    QStringLiteral("Unable to open DEM file!"))) {
        return;
    }
    ComparisonSettings settings;
    settings.step = dialog.m_dStep;
    settings.value1 = dialog.m_dValue1;
    settings.value2 = dialog.m_dValue2;
    settings.colourBelow = dialog.m_crBelow;
    settings.colourBetween = dialog.m_crBetween;
    settings.colourAbove = dialog.m_crAbove;

    ComparisonReportData report;
    report.referenceName = reference.fileName();
    report.picturePath = picturePath;
    ComparisonResult result;
    const QStringList ascii = dialog.GetAsciiFiles();
    const QStringList las = dialog.GetLasFiles();
    if (!ascii.isEmpty() || !las.isEmpty()) {
        const PointFileReader::Kind kind =
            ascii.isEmpty() ? PointFileReader::Kind::Las : PointFileReader::Kind::Ascii;
        const QStringList& files = ascii.isEmpty() ? las : ascii;
        const bool lasFiles = kind == PointFileReader::Kind::Las;
        report.comparedName = QFileInfo(files.first()).fileName();
        progress.SetCaption(lasFiles ? QStringLiteral("Reading LAS file...")
                                     : QStringLiteral("Reading ASCII file..."));
        progress.show();
        PointCloud cloud;
        if (!ReadPointCloud(files, kind, &progress, &cloud)) {
            progress.hide();
            KvMessageBox(
                lasFiles ? QStringLiteral("Cannot open LAS file") : QStringLiteral("cannot open ASCII file"),
                MB_OK);
            return;
        }
        progress.SetCaption(QStringLiteral("Comparing..."));
        result = ComparePointsToDem(referenceGrid, cloud, kind, settings, &progress);
        progress.hide();
        if (result.status == ComparisonResult::NoOverlap) {
            if (lasFiles) {
                KvMessageBox(QStringLiteral("No overlapping area!"), MB_OK | MB_ICONEXCLAMATION);
            } else {
                KvMessageBox(QStringLiteral("No overlap area!"), MB_OK);
            }
            return;
        }
    } else if (!dialog.GetComparedPath().isEmpty()) {
        ComparisonGrid compared;
        if (!GridReadOk(ReadComparisonGrid(dialog.GetComparedPath(), &compared),
                        QStringLiteral("Unable to open DEM!"))) {
            return;
        }
        report.comparedName = QFileInfo(dialog.GetComparedPath()).fileName();
        progress.SetCaption(QStringLiteral("Comparing..."));
        progress.show();
        result = CompareDemToDem(referenceGrid, compared, settings, &progress);
        progress.hide();
        if (result.status == ComparisonResult::NoOverlap) {
            KvMessageBox(QStringLiteral("No shared area!"), MB_OK | MB_ICONINFORMATION);
            return;
        }
        if (result.status == ComparisonResult::InvalidStep) {
            KvMessageBox(QStringLiteral("Invalid comparison step!"), MB_OK | MB_ICONEXCLAMATION);
            return;
        }
    } else {
        KvMessageBox(QStringLiteral("unable to read DEM"), MB_OK);
        return;
    }
    referenceGrid = ComparisonGrid();
    if (!WritePicture(result.picture, picturePath)) {
        KvMessageBox(QStringLiteral("Unable to save file!"), MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    report.statistics = Summarise(result);
    if (report.statistics.count == 0) {
        KvMessageBox(QStringLiteral("No value to compare!"), MB_OK);
        return;
    }
    report.settings = settings;
    switch (WriteComparisonReport(report, reportPath, ReportSwatchFolder())) {
        case ReportResult::Written:
            kv::ShowWrittenReport(reportPath, true,
                                  [drawing](const QString& line) { Prompt(drawing, line); });
            break;
        case ReportResult::CannotSave:
            KvMessageBox(QStringLiteral("Unable to save file!"), MB_OK | MB_ICONEXCLAMATION);
            break;
        case ReportResult::CannotCreate:
        case ReportResult::Failed:
            break;
    }
    Prompt(drawing, QString());
}

}  // namespace

void CmdCompareDem(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    std::optional<ActiveCommandScope> scope(std::in_place, drawing, CMD_COMPAREDEM);
    CompareInputs inputs;
    for (;;) {
        CCompareDEMDlg dialog(doc, drawing, inputs.referencePath, inputs.comparedPath, 1.0, 1.0, 5.0,
                              inputs.referenceGsd, inputs.comparedGsd, kv::DialogParent());
        const int answer = dialog.DoModal();
        if (answer == CCompareDEMDlg::IDC_PICK_REFERENCE || answer == CCompareDEMDlg::IDC_PICK_COMPARED) {
            inputs.referencePath = dialog.GetReferencePath();
            inputs.referenceGsd = dialog.m_dReferenceGSD;
            inputs.comparedGsd = dialog.m_dComparedGSD;
            if (doc->m_DEMs.empty()) {
                KvMessageBox(QStringLiteral("No DEM loaded"), MB_OK | MB_ICONINFORMATION);
                Prompt(drawing, QStringLiteral("No DEM loaded"));
                continue;
            }
            const bool reference = answer == CCompareDEMDlg::IDC_PICK_REFERENCE;
            if (CDEM* dem = PickDem(
                    drawing, *doc, false,
                    reference ? QStringLiteral("Select reference DEM") : QStringLiteral("Select DEM"))) {
                if (reference) {
                    inputs.referencePath = dem->m_path;
                    inputs.referenceGsd = dem->m_geoTransform[1];
                } else {
                    inputs.comparedPath = dem->m_path;
                    inputs.comparedGsd = dem->m_geoTransform[1];
                }
            }
            continue;
        }
        if (answer != IDOK) {
            return;
        }
        // The command's interaction ends here; the comparison runs under the command boundary,
        // which keeps the program busy until the report is written.
        scope.reset();
        RunComparison(drawing, dialog);
        return;
    }
}
