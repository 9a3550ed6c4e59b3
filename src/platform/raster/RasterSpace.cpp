#include "platform/raster/RasterSpace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

#include "platform/tools/SafeFile.h"

namespace kv {

namespace {

// A size in the largest binary unit up to TB in which it is at least 1, with one decimal.
QString SizeText(double bytes) {
    static const char* const units[] = {"bytes", "KB", "MB", "GB", "TB"};
    int unit = 0;
    while (unit < 4 && bytes >= 1024.0) {
        bytes /= 1024.0;
        ++unit;
    }
    return unit == 0 ? QStringLiteral("%1 bytes").arg(bytes, 0, 'f', 0)
                     : QStringLiteral("%1 %2").arg(bytes, 0, 'f', 1).arg(QLatin1String(units[unit]));
}

}  // namespace

double RasterBytes(double columns, double rows, int bands, GDALDataType type) {
    return columns * rows * double(std::max(bands, 0)) * double(GDALGetDataTypeSizeBytes(type));
}

QString WriteRefusal(const QString& path) {
    // One block of the disk: a disk without a free block refuses it.
    const QByteArray probe(4096, '\0');
    SafeFile file(path);
    QString written;
    if (file.open(QIODevice::WriteOnly) && file.write(probe) == probe.size() && file.finish(&written)) {
        QFile::remove(written);
        return QString();
    }
    return file.errorString();
}

bool RasterFitsOnDisk(const QString& path, double columns, double rows, int bands, GDALDataType type,
                      QString* message) {
    const QString folder = QFileInfo(path).absolutePath();
    const QStorageInfo disk(folder);
    if (!disk.isValid() || !disk.isReady()) {
        return true;
    }
    QString text;
    if (const QString refusal = WriteRefusal(path); !refusal.isEmpty()) {
        text = QStringLiteral("The folder %1 cannot be written: %2")
                   .arg(QDir::toNativeSeparators(folder), refusal);
    } else {
        const double needed = RasterBytes(columns, rows, bands, type);
        const double free = double(disk.bytesAvailable());
        if (!(needed > free)) {
            return true;
        }
        // Sizes that round to the same text are told to the byte.
        QString neededText = SizeText(needed), freeText = SizeText(free);
        if (neededText == freeText) {
            neededText = QStringLiteral("%1 bytes").arg(needed, 0, 'f', 0);
            freeText = QStringLiteral("%1 bytes").arg(free, 0, 'f', 0);
        }
        text = QStringLiteral("A raster of %1 x %2 cells needs %3, more than the %4 free in %5")
                   .arg(QString::number(columns, 'f', 0), QString::number(rows, 'f', 0), neededText, freeText,
                        QDir::toNativeSeparators(folder));
    }
    NoteWriteFailure(text);
    if (message) {
        *message = text;
    }
    return false;
}

}  // namespace kv
