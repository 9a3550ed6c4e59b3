// One-page PDF reports: texts where the layout puts them, as the report's reader finds them, and a
// libharu error that abandons the report without touching an earlier one.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include "platform/pdf/PdfReport.h"
#include "support/TestEnv.h"

namespace {

// The words of the first page with their boxes, as pdftotext reads them.
struct Word {
    QString text;
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};
std::vector<Word> Words(const QString& pdf) {
    QProcess run;
    run.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    EXPECT_TRUE(run.waitForFinished(30000)) << "pdftotext (poppler-utils) must be installed";
    const QString html = QString::fromUtf8(run.readAllStandardOutput());
    static const QRegularExpression word(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    std::vector<Word> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words.push_back({m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(),
                         m.captured(3).toDouble(), m.captured(4).toDouble()});
    }
    return words;
}

const Word* Find(const std::vector<Word>& words, const QString& text) {
    for (const Word& w : words) {
        if (w.text == text) {
            return &w;
        }
    }
    return nullptr;
}

TEST(PdfReportTest, CentredAndRightAlignedTextsSitWhereTheLayoutPutsThem) {
    const QString folder = kvtest::NewTempFolder("pdf");
    const QString swatch = folder + "/swatch.jpg";
    ASSERT_TRUE(kv::hpdf::WriteSwatchJpeg(swatch, 0x0000FF));
    kv::hpdf::Report pdf;
    ASSERT_TRUE(pdf.IsCreated());
    ASSERT_TRUE(pdf.AddPage());
    const float w = pdf.PageWidth(), h = pdf.PageHeight();
    EXPECT_GT(w, 500.0f);
    EXPECT_TRUE(pdf.SetFont("Helvetica-Bold", 18) && pdf.CentredText(h - 80, "Centred title"));
    EXPECT_TRUE(pdf.SetFont("Helvetica", 10) && pdf.Text(100, h - 200, "Left") &&
                pdf.RightAlignedText(w - 100, h - 200, "1234(56%)"));
    EXPECT_TRUE(pdf.Rules(1, {{95, h - 195, w - 95, h - 195}, {95, h - 195, 95, h - 215}}));
    kv::hpdf::Image image;
    EXPECT_TRUE(pdf.LoadJpeg(swatch, &image));
    EXPECT_EQ(image.width, 10.0f);
    EXPECT_TRUE(pdf.DrawImage(image, 300, 300, 10, 10));
    const QString path = folder + "/report.pdf";
    ASSERT_TRUE(pdf.SaveAs(path));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), (QStringList{"report.pdf", "swatch.jpg"}));

    const auto words = Words(path);
    const Word* centred = Find(words, "Centred");
    const Word* title = Find(words, "title");
    const Word* right = Find(words, "1234(56%)");
    const Word* left = Find(words, "Left");
    ASSERT_TRUE(centred && title && right && left);
    EXPECT_NEAR((centred->xMin + title->xMax) / 2.0, w / 2.0, 1.0);
    EXPECT_NEAR(right->xMax, w - 100.0, 1.0);
    EXPECT_NEAR(left->xMin, 100.0, 1.0);
    // pdftotext counts y from the top of the page.
    EXPECT_NEAR(centred->yMax, 80.0, 6.0);
}

TEST(PdfReportTest, ALibharuErrorIsPrintedRecordedAndAbandonsTheReportLeavingTheEarlierFile) {
    const QString folder = kvtest::NewTempFolder("pdf-error");
    const QString path = folder + "/report.pdf";
    ASSERT_TRUE(kvtest::WriteFileBytes(path, "earlier report"));
    const uint64_t before = kv::hpdf::ErrorCount();
    testing::internal::CaptureStdout();
    {
        kv::hpdf::Report pdf;
        ASSERT_TRUE(pdf.AddPage());
        EXPECT_TRUE(pdf.SetFont("Helvetica", 10));
        EXPECT_FALSE(pdf.PlaceJpeg(folder + "/missing.jpg", 10, 10, 10, 10));
        EXPECT_FALSE(pdf.IsOk());
        // Nothing more is done once the report failed.
        EXPECT_FALSE(pdf.Text(10, 10, "after"));
        EXPECT_FALSE(pdf.SaveAs(path));
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("ERROR: error_no="), std::string::npos) << printed;
    EXPECT_EQ(kv::hpdf::ErrorCount(), before + 1);
    EXPECT_NE(kv::hpdf::LastError().error, 0u);
    EXPECT_EQ(kvtest::FileBytes(path), QByteArray("earlier report"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"report.pdf"});

    // A folder that cannot take the file: the save fails and leaves nothing behind.
    testing::internal::CaptureStdout();
    kv::hpdf::Report pdf;
    ASSERT_TRUE(pdf.AddPage());
    EXPECT_FALSE(pdf.SaveAs(folder + "/missing/report.pdf"));
    testing::internal::GetCapturedStdout();
}

}  // namespace
