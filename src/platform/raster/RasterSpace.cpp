#include "platform/raster/RasterSpace.h"

#include <QDir>
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

bool RasterFitsOnDisk(const QString& path, double columns, double rows, int bands, GDALDataType type,
                      QString* message) {
    const QString folder = QFileInfo(path).absolutePath();
    const QStorageInfo disk(folder);
    if (!disk.isValid() || !disk.isReady()) {
        return true;
    }
    const double needed = RasterBytes(columns, rows, bands, type);
    const double free = double(disk.bytesAvailable());
    if (!(needed > free)) {
        return true;
    }
    const QString text = QStringLiteral("A raster of %1 x %2 cells needs %3, more than the %4 free in %5")
                             .arg(QString::number(columns, 'f', 0), QString::number(rows, 'f', 0),
                                  SizeText(needed), SizeText(free), QDir::toNativeSeparators(folder));
    NoteWriteFailure(text);
    if (message) {
        *message = text;
    }
    return false;
}

}  // namespace kv
