#include "products/ClassificationExport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gdal.h>

#include <algorithm>

#include "controls/SingleProgressDlg.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/cad/Cad.h"
#include "platform/pdf/PdfReport.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"
#include "platform/ui/WrittenReport.h"
#include "raster/ClassReport.h"
#include "raster/MapData.h"
#include "raster/ReportSwatches.h"

namespace {

// The picture's background grey.
constexpr int kBackground = 200;

// The swatches of one report ("color0", "color1", ...), in the class order.
bool WriteSwatches(kv::ReportSwatches& swatches, const std::vector<ExportClass>& classes) {
    for (size_t i = 0; i < classes.size(); ++i) {
        if (!swatches.Write(QString::asprintf("color%d", int(i)), classes[i].colour)) {
            return false;
        }
    }
    return true;
}

// The vertices of the map's area: its first linked entity when that is a polyline.
std::vector<Wml::Point2> AreaOutline(const CMapData& map) {
    std::vector<Wml::Point2> outline;
    if (map.m_linkedEntities.empty()) {
        return outline;
    }
    CadEntity* entity = map.m_linkedEntities.front();
    if (!entity || CadEntityGetType(entity) != CAD_ENT_POLYLINE) {
        return outline;
    }
    const int count = CadPlineGetNumVers(entity);
    for (int i = 0; i < count; ++i) {
        double x = 0.0, y = 0.0, z = 0.0;
        if (CadPlineGetVer(entity, i, &x, &y, &z)) {
            outline.emplace_back(x, y);
        }
    }
    return outline;
}

struct ReportFacts {
    QString title;
    std::vector<double> thresholds;
    std::vector<double> areas;
    std::vector<double> shares;
    double totalArea = 0.0;
    double mean = 0.0;
    double deviation = 0.0;
    QString pdfPath;
};

// Lays out the page and writes the PDF, complete, under the temporary name it gives in
// *pdfTemporary; the picture comes from picturePath.
bool WriteReportPdf(kv::hpdf::Report& pdf, const ReportFacts& facts, const kv::ReportSwatches& swatches,
                    const QString& picturePath, cv::Size picture, QString* pdfTemporary) {
    const int n = static_cast<int>(facts.thresholds.size());
    bool ok = pdf.AddPage();
    const float w = pdf.PageWidth(), h = pdf.PageHeight();
    const float y0 = h - 100;
    ok = ok && pdf.SetFont("Helvetica-Bold", 18) && pdf.CentredText(h - 40, QStringLiteral("Report of:")) &&
         pdf.CentredText(h - 60, facts.title);
    // The rows: label and value by their baseline.
    std::vector<std::pair<QString, QString>> rows;
    rows.emplace_back(QStringLiteral("Total Area [m^2]:"), QString::asprintf("%.3lf", facts.totalArea));
    for (int i = 0; i < n; ++i) {
        const QString label =
            i < n - 1 ? QString::asprintf("Area with NDVI index under %.3lf", facts.thresholds[size_t(i) + 1])
                      : QString::asprintf("Area with NDVI index over %.3lf", facts.thresholds[size_t(n) - 1]);
        rows.emplace_back(
            label, QString::asprintf("%.3lf (%.2lf%%)", facts.areas[size_t(i)], facts.shares[size_t(i)]));
    }
    rows.emplace_back(QStringLiteral("Mean NDVI index:"), QString::asprintf("%.4lf", facts.mean));
    rows.emplace_back(QStringLiteral("Standard deviation is:"), QString::asprintf("%.4lf", facts.deviation));
    rows.emplace_back(QStringLiteral("Results are located in:"), QString());
    ok = ok && pdf.SetFont("Helvetica-Bold", 10);
    std::vector<float> baselines;
    baselines.push_back(y0 - 20);
    for (int i = 0; i < n; ++i) {
        baselines.push_back(y0 - 40 - 20 * float(i));
    }
    const float last = y0 - 40 - 20 * float(n - 1);
    baselines.push_back(last - 20);
    baselines.push_back(last - 40);
    baselines.push_back(last - 60);
    for (size_t i = 0; ok && i < rows.size(); ++i) {
        ok = pdf.Text(100, baselines[i], rows[i].first) &&
             (rows[i].second.isEmpty() || pdf.RightAlignedText(w - 100, baselines[i], rows[i].second));
    }
    const float pathBaseline = last - 80;
    if (facts.pdfPath.size() > 80) {
        ok = ok && pdf.SetFont("Helvetica-Bold", 8);
    }
    ok = ok && pdf.RightAlignedText(w - 100, pathBaseline, facts.pdfPath);
    for (int i = 0; ok && i < n; ++i) {
        ok = pdf.PlaceJpeg(swatches.Path(size_t(i)), 280, y0 - 41 - 20 * float(i), 10, 10);
    }
    std::vector<kv::hpdf::Line> rules;
    rules.push_back({95, y0 - 5, w - 95, y0 - 5});
    for (float baseline : baselines) {
        rules.push_back({95, baseline - 5, w - 95, baseline - 5});
    }
    const float bottom = pathBaseline - 5;
    rules.push_back({95, bottom, w - 95, bottom});
    rules.push_back({95, y0 - 5, 95, bottom});
    rules.push_back({w - 95, y0 - 5, w - 95, bottom});
    ok = ok && pdf.Rules(1, rules);
    // As wide as the page allows, or as tall as the room under the table, keeping the proportions.
    float pw = w - 40, ph = pw * float(picture.height) / float(std::max(1, picture.width));
    if (picture.height > picture.width) {
        ph = (y0 - 25 - 20 * float(n)) - 120;
        pw = ph * float(picture.width) / float(picture.height);
    }
    // A wide picture as wide as the page would run past its foot: it shrinks to end 20 points
    // above it. So does a tall one under a table of many classes.
    const float room = bottom - 20 - 20;
    if (ph > room && room > 0) {
        pw *= room / ph;
        ph = room;
    }
    ok = ok && pdf.PlaceJpeg(picturePath, (w - pw) / 2, bottom - 20 - ph, pw, ph);
    return ok && pdf.SaveAs(facts.pdfPath, pdfTemporary);
}

}  // namespace

std::vector<ExportClass> ExportClassesOf(const CMapData& map, const std::vector<COLORREF>& colours) {
    std::vector<ExportClass> classes;
    const std::vector<ColorClassEntry>& entries = map.m_colors.m_classes;
    for (size_t i = 0; i < entries.size(); ++i) {
        classes.push_back(
            {double(entries[i].lowerLimit), i < colours.size() ? colours[i] : entries[i].color});
    }
    std::stable_sort(classes.begin(), classes.end(),
                     [](const ExportClass& a, const ExportClass& b) { return a.threshold < b.threshold; });
    return classes;
}

ExportResult ExportClassification(CMapData* map, const std::vector<ExportClass>& classes,
                                  KvProgressDialog& progress) {
    if (!map || classes.empty() || !map->m_pDataset || GDALGetRasterCount(map->m_pDataset) < 1) {
        return ExportResult::NoOutput;
    }
    const QFileInfo file(map->m_path);
    const QString base = QDir(file.absolutePath()).filePath(file.completeBaseName());
    const QString picturePath = base + QStringLiteral(".jpg");
    const QString pdfPath = base + QStringLiteral(".pdf");
    if (RefuseLoadedLayerOutput({picturePath, pdfPath})) {
        return ExportResult::Failed;
    }
    kv::ReportSwatches swatches;
    if (!WriteSwatches(swatches, classes)) {
        KvMessageBox(QStringLiteral("Error writing the report"), MB_OK);
        return ExportResult::Failed;
    }
    ProgressShownScope shown(progress);
    progress.SetRange(0, 100);
    progress.SetPos(0);
    progress.SetCaption(QStringLiteral("Generating Report..."));
    progress.show();

    double gt[6];
    if (GDALGetGeoTransform(map->m_pDataset, gt) != CE_None) {
        return ExportResult::NoOutput;
    }
    const int columns = GDALGetRasterXSize(map->m_pDataset), rows = GDALGetRasterYSize(map->m_pDataset);
    kv::ClassWindow window = kv::WholeRasterWindow(columns, rows);
    if (!map->m_linkedEntities.empty()) {
        const std::vector<Wml::Point2> outline = AreaOutline(*map);
        if (!kv::AreaClassWindow(outline, gt, columns, rows, columns, rows, &window)) {
            return ExportResult::NoOutput;
        }
    }
    ZQT_PumpMessages();
    // The classified band is the first; a map the program made has only that one.
    const double noData = GDALGetRasterNoDataValue(
        GDALGetRasterBand(map->m_pDataset, GDALGetRasterCount(map->m_pDataset)), nullptr);
    kv::ClassStyle style;
    for (size_t i = 1; i < classes.size(); ++i) {
        style.upperBounds.push_back(classes[i].threshold);
    }
    for (const ExportClass& c : classes) {
        style.colours.push_back(c.colour);
    }
    style.background = kBackground;
    style.radius = kv::ClassCircleRadius(double(window.width) * double(window.height) * gt[1] * gt[1]);
    kv::ClassTally tally;
    switch (
        kv::ClassifyValues(GDALGetRasterBand(map->m_pDataset, 1), window, noData, style, &progress, &tally)) {
        case kv::WalkResult::Aborted:
            return ExportResult::Aborted;
        case kv::WalkResult::ReadFailed:
            KvMessageBox(QStringLiteral("File reading error"), MB_OK | MB_ICONERROR);
            return ExportResult::Failed;
        case kv::WalkResult::Done:
            break;
    }
    if (tally.total == 0) {
        return ExportResult::NoOutput;
    }

    ReportFacts facts;
    facts.title = file.completeBaseName();
    const double cell = gt[1] * gt[1];
    for (size_t i = 0; i < classes.size(); ++i) {
        facts.thresholds.push_back(classes[i].threshold);
        facts.areas.push_back(cell * double(tally.counts[i]));
        facts.shares.push_back(double(tally.counts[i]) * 100.0 / double(tally.total));
    }
    facts.totalArea = cell * double(tally.total);
    facts.mean = tally.mean;
    facts.deviation = tally.standardDeviation;
    facts.pdfPath = pdfPath;

    // The picture and the report appear together or not at all; the earlier pair stays otherwise.
    // They are put in place as one set, the report (the file the operator opens) last.
    QString pictureTemporary;
    if (!kv::WriteJpeg(tally.picture, picturePath, &pictureTemporary)) {
        KvMessageBox(QStringLiteral("Error writing the report"), MB_OK);
        return ExportResult::Failed;
    }
    kv::hpdf::Report pdf;
    QString pdfTemporary;
    if (!pdf.IsCreated() ||
        !WriteReportPdf(pdf, facts, swatches, pictureTemporary, tally.picture.size(), &pdfTemporary)) {
        QFile::remove(pictureTemporary);
        KvMessageBox(QStringLiteral("Error writing the report"), MB_OK);
        return ExportResult::Failed;
    }
    if (!kv::PlaceFileSet({pdfTemporary, pdfPath}, {{pictureTemporary, picturePath}}, kv::SetParts::Needed)) {
        KvMessageBox(QStringLiteral("Error writing the report"), MB_OK);
        return ExportResult::Failed;
    }
    progress.hide();
    CadDrawing* drawing = map->m_pDoc ? map->m_pDoc->m_pCad : nullptr;
    kv::ShowWrittenReport(pdfPath, true,
                          [drawing](const QString& l) { CadCmdPrompt(drawing, l.toUtf8(), nullptr); });
    return ExportResult::Written;
}
