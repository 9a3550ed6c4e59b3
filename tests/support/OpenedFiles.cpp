#include "support/OpenedFiles.h"

#include <QDesktopServices>
#include <QProcess>

#include <gtest/gtest.h>

namespace kvtest {

OpenedFiles::OpenedFiles() {
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open");
}

OpenedFiles::~OpenedFiles() {
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

void OpenedFiles::Open(const QUrl& url) {
    files << url.toLocalFile();
}

QString PdfText(const QString& pdf) {
    QProcess run;
    run.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    EXPECT_TRUE(run.waitForFinished(30000)) << "pdftotext (poppler-utils) must be installed";
    return QString::fromUtf8(run.readAllStandardOutput());
}

QImage PdfPage(const QString& pdf, const QString& name) {
    const QString page = QStringLiteral(KV_SCREENSHOT_DIR) + '/' + name;
    QProcess run;
    run.start(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("72"),
                                           QStringLiteral("-singlefile"), pdf, page});
    EXPECT_TRUE(run.waitForFinished(30000)) << "pdftoppm (poppler-utils) must be installed";
    return QImage(page + QStringLiteral(".png"));
}

}  // namespace kvtest
