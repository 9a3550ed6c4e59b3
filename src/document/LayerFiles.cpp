#include "document/LayerFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include "document/KelvaroDoc.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

// The file a path names: its canonical path when it exists, its clean absolute path otherwise.
QString FileOf(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
}

}  // namespace

const char kLayerFileInUse[] = "The file is used by a loaded layer";

bool IsSameFile(const QString& first, const QString& second) {
    if (first.isEmpty() || second.isEmpty()) {
        return false;
    }
    struct stat a {};
    struct stat b {};
    if (::stat(QFile::encodeName(first).constData(), &a) == 0 &&
        ::stat(QFile::encodeName(second).constData(), &b) == 0) {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    }
    return FileOf(first) == FileOf(second);
}

bool IsLoadedLayerFile(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    auto same = [&path](const QString& layerPath) { return IsSameFile(layerPath, path); };
    for (const CKelvaroDoc* doc : CKelvaroDoc::GetOpenDocuments()) {
        for (const auto& [name, dem] : doc->m_DEMs) {
            if (same(dem->m_path) || same(dem->m_maskPath)) {
                return true;
            }
        }
        for (const auto& [name, ortho] : doc->m_Orthos) {
            if (same(ortho->m_path)) {
                return true;
            }
        }
        for (const auto& [name, map] : doc->m_Maps) {
            if (same(map->m_path)) {
                return true;
            }
        }
    }
    return false;
}

bool RefuseLoadedLayerOutput(std::initializer_list<QString> paths) {
    return RefuseOutputOverInputs(QStringList(paths), QStringList());
}

bool RefuseOutputOverInputs(const QStringList& outputs, const QStringList& inputs) {
    for (const QString& output : outputs) {
        bool refused = IsLoadedLayerFile(output);
        for (int i = 0; !refused && i < inputs.size(); ++i) {
            refused = IsSameFile(output, inputs[i]);
        }
        if (refused) {
            KvMessageBox(QString::fromLatin1(kLayerFileInUse), MB_OK | MB_ICONEXCLAMATION);
            return true;
        }
    }
    return false;
}
