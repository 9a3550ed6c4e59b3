#include "raster/ReportSwatches.h"

#include <QDir>
#include <QFile>

#include "platform/pdf/PdfReport.h"
#include "raster/ClassReport.h"

namespace kv {

ReportSwatches::~ReportSwatches() {
    for (const QString& path : m_paths) {
        QFile::remove(path);
    }
}

bool ReportSwatches::Write(const QString& name, COLORREF colour) {
    const QString folder = ReportScratchFolder();
    if (folder.isEmpty()) {
        return false;
    }
    m_paths.push_back(QDir(folder).filePath(name + QStringLiteral(".jpg")));
    return hpdf::WriteSwatchJpeg(m_paths.back(), colour);
}

}  // namespace kv
