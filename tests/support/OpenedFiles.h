// What the tests of reports share: the files a command hands to the desktop to open, caught
// instead of starting a viewer, and the text and the picture of a PDF's page.
#pragma once

#include <QImage>
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
// The PDF's first page at 72 dots per inch (pdftoppm), saved as build/screenshots/<name>.png for
// a person to look at; a null image when it cannot be rendered.
QImage PdfPage(const QString& pdf, const QString& name);

}  // namespace kvtest
