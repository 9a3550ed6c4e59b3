// A project on disk: the archive (".kvp") with the layers' references and settings, and the
// companion drawing (".vec" beside it) with every drawing entity except the raster image places,
// which the layers re-create when the project opens.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringList>

#include <cmath>
#include <memory>
#include <vector>

#include "document/CadCalls.h"
#include "document/KelvaroDoc.h"
#include "document/archive/ProjectArchive.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"
#include "raster/RasterIO.h"

namespace {

const char* const kReadingError = "File reading error";
const char* const kWritingError = "File writing error";

void AddId(QSet<int>& ids, CadEntity* entity) {
    if (entity) {
        ids.insert(CadEntityGetID(entity));
    }
}

}  // namespace

QString CompanionDrawingPath(const QString& projectPath) {
    const QFileInfo info(projectPath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".vec"));
}

QString ResolveLayerPath(const QString& storedPath, const QString& projectPath) {
    if (storedPath.isEmpty() || QFileInfo::exists(storedPath)) {
        return storedPath;
    }
    // A project moved to another folder (or machine) with its rasters beside it.
    const QString beside = QFileInfo(projectPath).dir().filePath(QFileInfo(storedPath).fileName());
    return QFileInfo::exists(beside) ? beside : storedPath;
}

int SaveDrawingWithout(CadDrawing* drawing, const QSet<int>& ids, const QString& path) {
    const std::vector<int> leftOut(ids.begin(), ids.end());
    return CadFileSaveWithout(drawing, QFile::encodeName(path).constData(), leftOut.data(),
                              int(leftOut.size()));
}

QSet<int> CKelvaroDoc::RasterImageIds() const {
    QSet<int> ids;
    for (const auto& entry : m_DEMs) {
        AddId(ids, entry.second->m_imageEntity);
        AddId(ids, entry.second->m_labelImageEntity);
    }
    for (const auto& entry : m_Orthos) {
        AddId(ids, entry.second->m_imageEntity);
    }
    for (const auto& entry : m_Maps) {
        AddId(ids, entry.second->m_imageEntity);
    }
    return ids;
}

ProjectArchiveData CKelvaroDoc::ArchiveData() const {
    ProjectArchiveData data;
    for (const auto& entry : m_DEMs) {
        data.dems.push_back(entry.second->ArchiveRecord());
    }
    for (const auto& entry : m_Orthos) {
        data.orthos.push_back(entry.second->ArchiveRecord());
    }
    data.orthoVisible = m_bOrthoVisible;
    data.orthoOpacity = m_dOrthoOpacity;
    data.seamlineScaleFactor = SeamlineScaleFactor;
    data.balancingScaleFactor = BalancingScaleFactor;
    for (const auto& entry : m_Maps) {
        data.maps.push_back(entry.second->ArchiveRecord());
    }
    return data;
}

int CKelvaroDoc::OnOpenDocument(const QString& path) {
    // The whole archive is read before anything changes, so a damaged one opens nothing.
    ProjectArchiveData data;
    if (!ReadProjectArchive(path, data)) {
        KvMessageBox(QString::fromLatin1(kReadingError), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    CadPurge(m_pCad, 0);
    const QString companion = CompanionDrawingPath(path);
    if (QFileInfo::exists(companion) && !CadFileOpen(m_pCad, 0, QFile::encodeName(companion).constData())) {
        KvMessageBox(QString::fromLatin1(kReadingError), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    m_nLoadedVersion = data.version;
    QStringList missing;

    for (DemArchiveRecord record : data.dems) {
        record.path = ResolveLayerPath(record.path, path);
        auto* dem = new CDEM(this);
        dem->ApplyArchiveRecord(record, m_pCad);
        if (!LoadDEM(dem, 0, 0, 0, 0)) {
            missing << record.path;
            delete dem;
            continue;
        }
        // An archive without colour settings: the default palette over the elevation range.
        dem->ApplyPendingColorRange();
    }
    UpdateDEMRange();
    for (OrthoArchiveRecord record : data.orthos) {
        record.path = ResolveLayerPath(record.path, path);
        auto* ortho = new COrtho(this);
        ortho->ApplyArchiveRecord(record, m_pCad);
        if (!LoadOrtho(ortho, 0, 0, 0)) {
            missing << record.path;
            delete ortho;
        }
    }
    m_bOrthoVisible = data.orthoVisible;
    m_dOrthoOpacity = data.orthoOpacity;
    SeamlineScaleFactor = data.seamlineScaleFactor;
    BalancingScaleFactor = data.balancingScaleFactor;
    for (MapArchiveRecord record : data.maps) {
        record.path = ResolveLayerPath(record.path, path);
        if (!QFileInfo::exists(record.path)) {
            missing << record.path;
            continue;
        }
        m_MapLayerInfo = ArchivedMapLayerInfo(record, m_pCad);
        if (!AddMap(m_MapLayerInfo, 1)) {
            missing << record.path;
            continue;
        }
        if (m_MapLayerInfo.mapType == MapTypeNDVI) {
            UpdateColorLegend(m_MapLayerInfo);
        }
    }

    for (const auto& entry : m_Orthos) {
        if (entry.second->m_imageEntity) {
            CadEntityPutVisible(entry.second->m_imageEntity, m_bOrthoVisible);
        }
    }
    for (const auto& entry : m_Maps) {
        if (CadLayer* layer = CadGetLayerByName(m_pCad, entry.first.toUtf8().constData())) {
            CadLayerPutVisible(layer, 1);
        }
    }
    if (CadLayer* zero = CadGetLayerByName(m_pCad, "0")) {
        CadLayerPutVisible(zero, 1);
    }
    CadRegen(m_pCad);
    kv::DocExecute(m_pCad, CadGetWindow(m_pCad), CAD_CMD_ZOOM_EXTENTS);
    CadPutDirty(m_pCad, 0);
    if (kv::MainWindowService* main = kv::GetMainWindowService()) {
        main->SetOpacitySliderPos(static_cast<int>(std::lround(m_dOrthoOpacity * 100.0)));
    }
    if (!missing.isEmpty()) {
        KvMessageBox(
            QStringLiteral("These layer files could not be opened and were left out of the project:\n%1")
                .arg(missing.join(QLatin1Char('\n'))),
            MB_OK | MB_ICONEXCLAMATION);
    }
    return 1;
}

int CKelvaroDoc::OnSaveDocument(const QString& path) {
    kv::BusyScope busy;
    const QString companion = CompanionDrawingPath(path);
    // What a save that was killed half-way left beside the files of this project.
    kv::RemoveStaleTemporaries(path);
    kv::RemoveStaleTemporaries(companion);
    for (const auto& entry : m_DEMs) {
        kv::RemoveStaleTemporaries(entry.second->m_path);
    }

    // Every file is first written completely under a temporary name; only then do they take
    // their places, edited DEMs first, then the drawing, then the archive that refers to both.
    // A save that fails before that point leaves every file as it was. Why a write failed (the
    // system's words, or what GDAL said) goes to the command line beside the message that reports
    // it; each DEM's writes, and the writes after them, have causes of their own.
    std::vector<std::pair<CDEM*, QString>> dems;
    QStringList temporaries;
    auto discard = [&]() {
        for (const auto& written : dems) {
            kv::RemoveRasterFile(written.second);
        }
        for (const QString& temporary : temporaries) {
            QFile::remove(temporary);
        }
    };
    auto writingError = [&]() {
        const QString cause = kv::FailureCause();
        discard();
        PrintFailure(m_pCad, QString::fromLatin1(kWritingError), cause);
        KvMessageBox(QString::fromLatin1(kWritingError), MB_OK | MB_ICONEXCLAMATION);
        return 0;
    };
    for (const auto& entry : m_DEMs) {
        CDEM* dem = entry.second;
        if (!dem->m_modified) {
            continue;
        }
        const kv::FailureCauseScope demCauses;
        QString copy;
        if (dem->WriteSaveCopy(nullptr, &copy)) {
            dems.emplace_back(dem, copy);
            continue;
        }
        // The operator decides with the cause in sight.
        const QString question = QStringLiteral("Unable to save DEM %1").arg(entry.first);
        PrintFailure(m_pCad, question, kv::FailureCause());
        if (KvMessageBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
            discard();
            return 0;
        }
    }
    const kv::FailureCauseScope causes;
    const QString drawing = kv::TemporaryPathFor(companion);
    temporaries << drawing;
    if (!SaveDrawingWithout(m_pCad, RasterImageIds(), drawing)) {
        return writingError();
    }
    kv::SafeFile archive(path);
    QString archiveCopy;
    if (!archive.open(QIODevice::WriteOnly) || !WriteProjectArchive(&archive, ArchiveData()) ||
        !archive.finish(&archiveCopy)) {
        return writingError();
    }
    temporaries << archiveCopy;

    while (!dems.empty()) {
        CDEM* dem = dems.front().first;
        const QString copy = dems.front().second;
        dems.erase(dems.begin());
        if (!kv::MoveIntoPlace(copy, dem->m_path)) {
            return writingError();
        }
        dem->m_modified = 0;
    }
    temporaries.removeFirst();
    if (!kv::CommitTemporary(drawing, companion)) {
        return writingError();
    }
    temporaries.removeFirst();
    if (!kv::CommitTemporary(archiveCopy, path)) {
        return writingError();
    }
    return 1;
}
