#include "platform/raster/RasterSpace.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <algorithm>
#include <limits>

namespace kv {

namespace {

QString SizeText(double bytes) {
    const double largest = double(std::numeric_limits<qint64>::max());
    return QLocale::c().formattedDataSize(qint64(std::min(bytes, largest)), 1,
                                          QLocale::DataSizeTraditionalFormat);
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
    if (message) {
        *message = QStringLiteral("A raster of %1 x %2 cells needs %3, more than the %4 free in %5")
                       .arg(QString::number(columns, 'f', 0), QString::number(rows, 'f', 0), SizeText(needed),
                            SizeText(free), QDir::toNativeSeparators(folder));
    }
    return false;
}

}  // namespace kv
