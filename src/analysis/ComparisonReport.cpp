#include "analysis/ComparisonReport.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <cstdio>

#include "platform/pdf/PdfReport.h"
#include "platform/tools/ZQT.h"

namespace {

QString CountText(int64_t part, int64_t count) {
    return QString::asprintf("%lld(%lld%%)", static_cast<long long>(part),
                             static_cast<long long>(part * 100 / count));
}

}  // namespace

QString ReportSwatchFolder() {
    const QString folder =
        ZQT_OptimizePath(ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1), 1) + QStringLiteral("tempReport");
    QDir().mkpath(folder);
    return folder;
}

ReportResult WriteComparisonReport(const ComparisonReportData& data, const QString& reportPath,
                                   const QString& swatchFolder) {
    const ComparisonSettings& s = data.settings;
    const ComparisonStatistics& st = data.statistics;
    const QString swatches[3] = {swatchFolder + QStringLiteral("/colNoDiff.jpg"),
                                 swatchFolder + QStringLiteral("/col1.jpg"),
                                 swatchFolder + QStringLiteral("/col2.jpg")};
    const uint32_t colours[3] = {s.colourBelow, s.colourBetween, s.colourAbove};
    // A swatch that cannot be written fails to load below, which abandons the report.
    for (int i = 0; i < 3; ++i) {
        kv::hpdf::WriteSwatchJpeg(swatches[i], colours[i]);
    }
    const auto removeSwatches = [&swatches] {
        for (const QString& path : swatches) {
            QFile::remove(path);
        }
    };

    kv::hpdf::Report pdf;
    if (!pdf.IsCreated()) {
        std::printf("error: cannot create PdfDoc object\n");
        std::fflush(stdout);
        removeSwatches();
        return ReportResult::CannotCreate;
    }
    bool ok = pdf.AddPage();
    const float w = pdf.PageWidth();
    const float h = pdf.PageHeight();
    const float a = std::floor(h - 140.0f);
    ok = ok && pdf.SetFont("Helvetica-Bold", 18) &&
         pdf.CentredText(h - 80, QStringLiteral("Report of the comparison between:")) &&
         pdf.CentredText(h - 100, QStringLiteral("%1 and %2").arg(data.referenceName, data.comparedName));
    const QString labels[7] = {
        QStringLiteral("Number of compared points:"),
        QString::asprintf("Points with difference below %.2lf m:", s.value1),
        QString::asprintf("Points with difference between %.2lf and %.2lf m:", s.value1, s.value2),
        QString::asprintf("Points with difference over %.2lf m:", s.value2),
        QStringLiteral("Average differences between surfaces is:"),
        QStringLiteral("Standard deviation is:"),
        QStringLiteral("Results are located in:"),
    };
    ok = ok && pdf.SetFont("Helvetica-Bold", 10);
    for (int i = 0; i < 7 && ok; ++i) {
        ok = pdf.Text(100, a - 20 * (i + 1), labels[i]);
    }
    for (int i = 0; i < 3 && ok; ++i) {
        ok = pdf.PlaceJpeg(swatches[i], 358, a - 41 - 20 * i, 10, 10);
    }
    const int64_t n = st.count > 0 ? st.count : 1;
    const QString values[7] = {
        QString::number(st.count),
        CountText(st.below, n),
        CountText(st.between, n),
        CountText(st.above, n),
        QString::asprintf("%.4lf m", st.mean),
        QString::asprintf("%.4lf m", st.deviation),
        reportPath,
    };
    ok = ok && pdf.SetFont("Helvetica", 10);
    for (int i = 0; i < 7 && ok; ++i) {
        ok = pdf.RightAlignedText(w - 100, a - 20 * (i + 1) - (i == 6 ? 20 : 0), values[i]);
    }
    std::vector<kv::hpdf::Line> rules;
    for (int i = 0; i < 9; ++i) {
        rules.push_back({95, a - 5 - 20 * i, w - 95, a - 5 - 20 * i});
    }
    rules.push_back({95, a - 5, 95, a - 165});
    rules.push_back({w - 95, a - 5, w - 95, a - 165});
    ok = ok && pdf.Rules(1, rules);

    kv::hpdf::Image picture;
    ok = ok && pdf.LoadJpeg(data.picturePath, &picture);
    if (ok) {
        float drawnWidth = 0.0f;
        float drawnHeight = 0.0f;
        if (picture.height > picture.width) {
            drawnHeight = 0.8f * (a - 230);
            drawnWidth = drawnHeight * picture.width / picture.height;
        } else {
            drawnWidth = 0.8f * (w - 40);
            drawnHeight = drawnWidth * picture.height / picture.width;
        }
        ok = pdf.DrawImage(picture, (w - drawnWidth) / 2, a - 210 - drawnHeight, drawnWidth, drawnHeight);
    }
    ReportResult result = ReportResult::Written;
    if (!ok) {
        result = ReportResult::Failed;
    } else if (!pdf.SaveAs(reportPath)) {
        result = ReportResult::CannotSave;
    }
    removeSwatches();
    return result;
}
