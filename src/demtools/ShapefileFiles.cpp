#include "demtools/ShapefileFiles.h"

#include <QFile>
#include <QFileInfo>

#include <vector>

#include "platform/tools/SafeFile.h"

namespace {

// The files beside the .shp that belong to it.
const char* const kParts[] = {"shx", "dbf", "prj", "cpg", "qix"};

QString BaseOf(const QString& shp) {
    return shp.left(shp.size() - QFileInfo(shp).suffix().size() - 1);
}

}  // namespace

void RemoveShapefile(const QString& shp) {
    QFile::remove(shp);
    for (const char* extension : kParts) {
        QFile::remove(BaseOf(shp) + '.' + QLatin1String(extension));
    }
}

bool PlaceShapefile(const QString& finished, const QString& shp) {
    std::vector<kv::SetFile> parts;
    for (const char* extension : kParts) {
        const QString fresh = BaseOf(finished) + '.' + QLatin1String(extension);
        parts.push_back(
            {QFileInfo::exists(fresh) ? fresh : QString(), BaseOf(shp) + '.' + QLatin1String(extension)});
    }
    if (!kv::PlaceFileSet({finished, shp}, parts, kv::SetParts::Needed)) {
        RemoveShapefile(finished);
        return false;
    }
    return true;
}
