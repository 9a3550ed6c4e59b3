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

// The file a path names: its canonical path when it exists; for a file not written yet, its name
// in its folder as the disk knows it (links followed), or the clean absolute path when the folder
// does not exist either.
QString FileOf(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty()) {
        return canonical;
    }
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath())
                            : QDir(folder).filePath(info.fileName());
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

bool OutputOverInputs(const QStringList& outputs, const QStringList& inputs) {
    for (const QString& output : outputs) {
        if (IsLoadedLayerFile(output)) {
            return true;
        }
        for (const QString& input : inputs) {
            if (IsSameFile(output, input)) {
                return true;
            }
        }
    }
    return false;
}

QString FileInUseText() {
    return QString::fromLatin1(kLayerFileInUse);
}

bool RefuseOutputOverInputs(const QStringList& outputs, const QStringList& inputs) {
    if (!OutputOverInputs(outputs, inputs)) {
        return false;
    }
    KvMessageBox(FileInUseText(), MB_OK | MB_ICONEXCLAMATION);
    return true;
}

QString ChooseOutputFile(const QString& filter, const QString& defaultSuffix, const QStringList& inputs,
                         const QString& path) {
    for (;;) {
        QString chosen =
            kv::GetInteraction().ChooseSaveFile(QStringLiteral("Save As"), path, filter, nullptr);
        if (chosen.isEmpty()) {
            return chosen;
        }
        if (QFileInfo(chosen).suffix().isEmpty() && !defaultSuffix.isEmpty()) {
            chosen += QLatin1Char('.') + defaultSuffix;
        }
        if (RefuseOutputOverInputs({chosen}, inputs)) {
            continue;
        }
        if (QFileInfo::exists(chosen) &&
            KvMessageBox(QStringLiteral("%1 already exists.\nDo you want to replace it?")
                             .arg(QFileInfo(chosen).fileName()),
                         MB_YESNO | MB_ICONWARNING) != IDYES) {
            continue;
        }
        return chosen;
    }
}
