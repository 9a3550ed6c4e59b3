#include "document/LayerFiles.h"

#include <QDir>
#include <QFileInfo>

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

bool IsLoadedLayerFile(const QString& path) {
    if (path.isEmpty()) {
        return false;
    }
    const QString file = FileOf(path);
    auto same = [&file](const QString& layerPath) {
        return !layerPath.isEmpty() && FileOf(layerPath) == file;
    };
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
    for (const QString& path : paths) {
        if (IsLoadedLayerFile(path)) {
            KvMessageBox(QStringLiteral("The file is used by a loaded layer"), MB_OK | MB_ICONEXCLAMATION);
            return true;
        }
    }
    return false;
}
