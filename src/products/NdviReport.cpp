#include "products/NdviReport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>

#include <array>
#include <cmath>

#include "controls/AbortSingleProgressDlg.h"
#include "controls/GenericSelectionDlg.h"
#include "controls/SingleProgressDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/pdf/PdfReport.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/MainWindowService.h"
#include "platform/ui/WrittenReport.h"
#include "products/ExportNDVIDataDlg.h"
#include "raster/ClassReport.h"
#include "raster/MapData.h"
#include "raster/ReportSwatches.h"

namespace {

constexpr int kClasses = CExportNDVIDataDlg::kClasses;
const char* const kSwatchNames[kClasses] = {"colMin", "col1", "col2", "col3", "colOver3"};

// The area of the report being drawn, read by the rubber band.
std::vector<Wml::Point3> g_area;

QWidget* MainWindow() {
    return kv::GetMainWindowService() ? kv::GetMainWindowService()->MainWindow() : nullptr;
}

// The swatches of one report, written in the class order.
bool WriteSwatches(kv::ReportSwatches& swatches, const COLORREF* colours) {
    for (int i = 0; i < kClasses; ++i) {
        if (!swatches.Write(QString::fromLatin1(kSwatchNames[i]), colours[i])) {
            return false;
        }
    }
    return true;
}

// Whether a pass went through; otherwise *answer is the worker's: 1 with the stop flag set after
// an abort, 0 after a read that failed.
bool Completed(kv::WalkResult result, int* stopped, int* answer) {
    if (result == kv::WalkResult::Aborted) {
        *stopped = 1;
        *answer = 1;
    } else {
        *answer = 0;
    }
    return result == kv::WalkResult::Done;
}

// What the report's page shows.
struct ReportFacts {
    QString title;
    double thresholds[4] = {0, 0, 0, 0};
    double totalArea = 0.0;
    double classArea[kClasses] = {};
    double classShare[kClasses] = {};
    double mean = 0.0;
    double deviation = 0.0;
    QString pdfPath;
};

// Lays out the page and writes the PDF, complete, under the temporary name it gives in
// *pdfTemporary; the picture comes from picturePath.
bool WriteReportPdf(kv::hpdf::Report& pdf, const ReportFacts& facts, const kv::ReportSwatches& swatches,
                    const QString& picturePath, cv::Size picture, QString* pdfTemporary) {
    bool ok = pdf.AddPage();
    const float w = pdf.PageWidth(), h = pdf.PageHeight();
    const float b = float(int(h - 100));
    ok = ok && pdf.SetFont("Helvetica-Bold", 18) && pdf.CentredText(h - 40, QStringLiteral("Report of:")) &&
         pdf.CentredText(h - 60, facts.title);
    const QString labels[9] = {QStringLiteral("Total Area [m^2]:"),
                               QString::asprintf("Area with index under %.3lf", facts.thresholds[0]),
                               QString::asprintf("Area with index under %.3lf", facts.thresholds[1]),
                               QString::asprintf("Area with index under %.3lf", facts.thresholds[2]),
                               QString::asprintf("Area with index under %.3lf", facts.thresholds[3]),
                               QString::asprintf("Area with index over %.3lf", facts.thresholds[3]),
                               QStringLiteral("Mean index:"),
                               QStringLiteral("Standard deviation is:"),
                               QStringLiteral("Results are located in:")};
    ok = ok && pdf.SetFont("Helvetica-Bold", 10);
    for (int i = 0; ok && i < 9; ++i) {
        ok = pdf.Text(100, b - 20 * (i + 1), labels[i]);
    }
    for (int i = 0; ok && i < kClasses; ++i) {
        ok = pdf.PlaceJpeg(swatches.Path(size_t(i)), 268, b - 41 - 20 * i, 10, 10);
    }
    ok = ok && pdf.SetFont("Helvetica", 10) &&
         pdf.RightAlignedText(w - 100, b - 20, QString::asprintf("%.3lf", facts.totalArea));
    for (int i = 0; ok && i < kClasses; ++i) {
        ok = pdf.RightAlignedText(
            w - 100, b - 40 - 20 * i,
            QString::asprintf("%.3lf (%.2lf%%)", facts.classArea[i], facts.classShare[i]));
    }
    ok = ok && pdf.RightAlignedText(w - 100, b - 140, QString::asprintf("%.4lf", facts.mean)) &&
         pdf.RightAlignedText(w - 100, b - 160, QString::asprintf("%.4lf", facts.deviation)) &&
         pdf.RightAlignedText(w - 100, b - 200, facts.pdfPath);
    std::vector<kv::hpdf::Line> rules;
    for (int k = 0; k <= 10; ++k) {
        rules.push_back({95, b - 5 - 20 * k, w - 95, b - 5 - 20 * k});
    }
    rules.push_back({95, b - 5, 95, b - 205});
    rules.push_back({w - 95, b - 5, w - 95, b - 205});
    ok = ok && pdf.Rules(1, rules);
    // As wide as the page allows, or as tall, keeping the picture's proportions.
    float pw = w - 40, ph = pw * float(picture.height) / float(picture.width);
    if (picture.height > picture.width) {
        ph = b - 260;
        pw = ph * float(picture.width) / float(picture.height);
    }
    ok = ok && pdf.PlaceJpeg(picturePath, (w - pw) / 2, b - 240 - ph, pw, ph);
    return ok && pdf.SaveAs(facts.pdfPath, pdfTemporary);
}

}  // namespace

int ExportNdviReport(CMapData* map, const std::vector<Wml::Point3>& area, KvProgressDialog& progress,
                     int* stopped) {
    if (!GDALGetDriverByName("GTiff") || !map) {
        return 0;
    }
    ProgressShownScope shown(progress);
    progress.SetCaption(QStringLiteral("Analyzing Area..."));
    progress.SetRange(0, 100);
    progress.SetPos(0);
    progress.show();
    QString mapName = map->m_name;
    mapName.replace(QLatin1Char(':'), QLatin1Char('_'));
    double gt[6];
    if ((map->m_mapType != MapTypeNDVI && map->m_mapType != MapTypeOther) || !map->m_pDataset ||
        GDALGetGeoTransform(map->m_pDataset, gt) != CE_None || GDALGetRasterCount(map->m_pDataset) < 1) {
        return 0;
    }
    GDALRasterBandH band = GDALGetRasterBand(map->m_pDataset, 1);
    const int columns = GDALGetRasterXSize(map->m_pDataset), rows = GDALGetRasterYSize(map->m_pDataset);
    kv::ClassWindow window = kv::WholeRasterWindow(columns, rows);
    if (!area.empty()) {
        std::vector<Wml::Point2> outline;
        for (const Wml::Point3& p : area) {
            outline.emplace_back(p.X(), p.Y());
        }
        if (!kv::AreaClassWindow(outline, gt, columns - 1, rows - 1, columns, rows, &window)) {
            return 0;
        }
    }
    // The band's no-data value as GDAL gives it, also when the band declares none.
    const double noData = GDALGetRasterNoDataValue(band, nullptr);

    kv::ValueScan scan;
    int answer = 0;
    if (!Completed(kv::ScanValues(band, window, noData, &progress, &scan), stopped, &answer)) {
        return answer;
    }
    progress.hide();
    if (scan.count == 0) {
        KvMessageBox(QStringLiteral("No value to compare"), MB_OK | MB_ICONINFORMATION);
        return 1;
    }
    const double cell = gt[1] * gt[1];
    const double totalArea = cell * double(scan.count);

    CExportNDVIDataDlg dialog(scan.maximum, scan.minimum, map->m_path, MainWindow());
    if (dialog.DoModal() != IDOK || dialog.m_nCancelled) {
        return 1;
    }
    kv::ReportSwatches swatches;
    if (!WriteSwatches(swatches, dialog.m_colors)) {
        return 0;
    }
    progress.SetPos(0);
    progress.SetCaption(QStringLiteral("Generating Report..."));
    progress.show();
    kv::ClassStyle style;
    style.upperBounds = {dialog.m_dT1, dialog.m_dT2, dialog.m_dT3, dialog.m_dT4};
    style.colours.assign(dialog.m_colors, dialog.m_colors + kClasses);
    style.background = 230;
    style.radius = kv::ClassCircleRadius(totalArea);
    kv::ClassTally tally;
    if (!Completed(kv::ClassifyValues(band, window, noData, style, &progress, &tally), stopped, &answer)) {
        return answer;
    }
    if (tally.total == 0) {  // the map changed between the passes
        KvMessageBox(QStringLiteral("No value to compare"), MB_OK | MB_ICONINFORMATION);
        return 1;
    }

    ReportFacts facts;
    facts.title = dialog.GetReportPath().isEmpty() ? mapName : dialog.GetReportPath();
    std::copy(style.upperBounds.begin(), style.upperBounds.end(), facts.thresholds);
    facts.totalArea = totalArea;
    for (int i = 0; i < kClasses; ++i) {
        facts.classArea[i] = double(tally.counts[size_t(i)]) * cell;
        facts.classShare[i] = double(tally.counts[size_t(i)]) * 100.0 / double(tally.total);
    }
    facts.mean = tally.mean;
    facts.deviation = tally.standardDeviation;
    facts.pdfPath = dialog.ReportFile();
    const QString picturePath = dialog.PictureFile();

    // The picture and the report appear together or not at all: they are put in place as one
    // set, the report (the file the operator opens) last.
    QString pictureTemporary;
    if (!kv::WriteJpeg(tally.picture, picturePath, &pictureTemporary)) {
        return 0;
    }
    kv::hpdf::Report pdf;
    if (!pdf.IsCreated()) {
        QFile::remove(pictureTemporary);
        KvMessageBox(QStringLiteral("Error writing the report"), MB_OK);
        return 0;
    }
    QString pdfTemporary;
    if (!WriteReportPdf(pdf, facts, swatches, pictureTemporary, tally.picture.size(), &pdfTemporary)) {
        QFile::remove(pictureTemporary);
        return 0;
    }
    if (!kv::PlaceFileSet({pdfTemporary, facts.pdfPath}, {{pictureTemporary, picturePath}},
                          kv::SetParts::Needed)) {
        return 0;
    }
    CadDrawing* drawing = map->m_pDoc ? map->m_pDoc->m_pCad : nullptr;
    kv::ShowWrittenReport(facts.pdfPath, dialog.m_nOpenReport != 0,
                          [drawing](const QString& line) { Prompt(drawing, line); });
    return 1;
}
void CmdExportNdviResultsDraw(CadDrawing* /*drawing*/, QPainter* /*painter*/, double x, double y, double z) {
    DrawArea(g_area, x, y, z);
}

void CmdExportNdviResults(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc || doc->m_pCad != drawing) {
        return;
    }
    g_area.clear();
    CommandEnd end(drawing, &g_area);
    ActiveCadCommandId = CMD_EXPORTNDVIRESULTS;
    Prompt(drawing, QString());
    if (doc->m_Maps.empty()) {
        KvMessageBox(QStringLiteral("No maps loaded"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    CMapData* map = doc->m_Maps.size() == 1 ? doc->m_Maps.begin()->second : nullptr;
    while (!map) {
        Prompt(drawing, QStringLiteral("Select Map"));
        CadEntity* entity = CadCmdUserGetImagePlace(
            drawing, [doc](CadEntity* image) { return doc->m_MapHandleNames.count(image) > 0; });
        if (!entity) {
            return;
        }
        const auto name = doc->m_MapHandleNames.find(entity);
        const auto found =
            name != doc->m_MapHandleNames.end() ? doc->m_Maps.find(name->second) : doc->m_Maps.end();
        if (found != doc->m_Maps.end()) {
            map = found->second;
            CadCmdPromptAdd(drawing, found->first.toUtf8().constData());
        } else {
            CadCmdPromptAdd(drawing, "Invalid entity");
        }
    }
    const int choice =
        AskAreaChoice(doc, QStringLiteral("Area selection"), QStringLiteral("Use total area"), 1);
    if (choice != CGenericSelectionDlg::IDC_LEFT && choice != CGenericSelectionDlg::IDC_MIDDLE &&
        choice != CGenericSelectionDlg::IDC_RIGHT) {
        return;
    }
    static const char* const kPrompts[3] = {"Pick first area vertex (right click to terminate)",
                                            "Pick second area vertex",
                                            "Pick next area vertex (right click to confirm)"};
    for (;;) {
        Prompt(drawing, QString());
        g_area.clear();
        if (choice == CGenericSelectionDlg::IDC_LEFT) {
            if (PickExistingArea(drawing, QStringLiteral("Select existing area (right click to terminate)"),
                                 g_area) == AreaResult::End) {
                return;
            }
        } else if (choice == CGenericSelectionDlg::IDC_MIDDLE) {
            doc->m_AreaVertices.clear();
            if (DrawNewArea(drawing, kPrompts, g_area) == AreaResult::Cancelled) {
                end.regenerate = true;
                return;
            }
        }
        if (choice != CGenericSelectionDlg::IDC_RIGHT && g_area.empty()) {
            return;
        }
        int stopped = 0;
        CAbortSingleProgressDlg progress(MainWindow());
        progress.Create();
        const std::vector<Wml::Point3> area = g_area;
        if (!ExportNdviReport(map, area, progress, &stopped)) {
            KvMessageBox(QStringLiteral("Error generating report"), MB_OK);
            end.regenerate = true;
            return;
        }
        // An abort ends the command; the whole map is reported on once.
        if (stopped || choice == CGenericSelectionDlg::IDC_RIGHT) {
            return;
        }
    }
}
