// What the tests of reports share: the files a command hands to the desktop to open, caught
// instead of starting a viewer, and the text of a PDF as pdftotext lays it out.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace kvtest {

// While it lives, every local file the program asks the desktop to open is recorded here.
class OpenedFiles : public QObject {
    Q_OBJECT
public:
    OpenedFiles();
    ~OpenedFiles() override;
    QStringList files;
public slots:
    void Open(const QUrl& url);
};

// The text of the PDF (pdftotext -layout, from poppler-utils); empty when it cannot be read.
QString PdfText(const QString& pdf);

}  // namespace kvtest
