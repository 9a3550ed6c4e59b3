#include "demtools/DemOutputCommands.h"

#include <QFile>
#include <QFileInfo>

#include <gdal.h>

#include "controls/AbortSingleProgressDlg.h"
#include "controls/InputValueDlg.h"
#include "controls/SingleProgressDlg.h"
#include "demtools/DemEditCommands.h"
#include "demtools/DemFromPoints.h"
#include "demtools/ResizeDEMDlg.h"
#include "document/KelvaroDoc.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/GDALListener.h"

namespace {

// The chosen files of one kind, or none when their extensions differ (said to the operator) or
// none is a point file.
QStringList PointFilesOf(const QStringList& chosen, PointFileReader::Kind* kind) {
    for (int i = 1; i < chosen.size(); ++i) {
        if (QFileInfo(chosen[i]).suffix().compare(QFileInfo(chosen[i - 1]).suffix(), Qt::CaseInsensitive) !=
            0) {
            KvMessageBox(QStringLiteral("The extension of selected files does not match"), MB_OK);
            return QStringList();
        }
    }
    QStringList files;
    for (const QString& path : chosen) {
        if (PointFileReader::KindOf(path, kind)) {
            files << path;
        }
    }
    return files;
}

const char* CannotOpenText(PointFileReader::Kind kind) {
    return kind == PointFileReader::Kind::Las ? "Cannot open LAS file" : "cannot open ASCII file";
}

}  // namespace

void CmdCreateDemFromLas(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    ActiveCommandScope scope(drawing, CMD_CREATEDEMFROMLAS);
    PointFileReader::Kind kind = PointFileReader::Kind::Las;
    const QStringList files =
        PointFilesOf(kv::GetInteraction().ChooseOpenFiles(QStringLiteral("Open"), QString(),
                                                          QStringLiteral("ASCIIxyz LAS(*.xyz *.las)")),
                     &kind);
    if (files.isEmpty()) {
        return;
    }
    for (const QString& path : files) {
        QString error;
        if (!PointFileReader::Open(path, kind, &error)) {
            Prompt(drawing, error);
            KvMessageBox(QString::fromLatin1(CannotOpenText(kind)), MB_OK);
            return;
        }
    }
    const QString output =
        ChooseOutputFile(QStringLiteral("DEM File (*.gtif)"), QStringLiteral("gtif"), files);
    if (output.isEmpty()) {
        return;
    }

    CAbortSingleProgressDlg progress(kv::DialogParent());
    progress.Create();
    progress.show();
    PointCloudGridder gridder(files);
    int result = gridder.Scan(&progress);
    if (result == PointCloudGridder::Done) {
        // What the readers read around goes to the command line, one file a line.
        for (const PointFileSummary& file : gridder.Files()) {
            if (!file.warning.isEmpty()) {
                Prompt(drawing, QString("%1: %2").arg(QFileInfo(file.path).fileName(), file.warning));
            }
        }
        if (gridder.TotalPoints() == 0) {
            progress.hide();
            KvMessageBox(QStringLiteral("No point found in the selected files"), MB_OK);
            return;
        }
        result = gridder.EstimateSpacing(&progress);
    }
    if (result == PointCloudGridder::Failed) {
        progress.hide();
        Prompt(drawing, gridder.Error());
        KvMessageBox(QString::fromLatin1(CannotOpenText(kind)), MB_OK);
        return;
    }
    if (result != PointCloudGridder::Done) {
        return;
    }

    // The dialog proposes only a cell size it would take: a single point has no spacing, and one
    // below what four decimals show would read back as 0. The field is then the operator's.
    QString proposal = QString::asprintf("%.4lf", gridder.ProposedGsd());
    if (!gridder.IsValidGsd(proposal.toDouble())) {
        proposal.clear();
    }
    progress.hide();
    CInputValueDlg input(proposal, kv::DialogParent());
    input.m_strCaption = QStringLiteral("Insert DEM GSD");
    if (input.DoModal() != IDOK) {
        return;
    }
    double gsd = 0.0;
    if (!ZQT_StringToDouble(input.GetValue(), &gsd)) {
        gsd = proposal.toDouble();
    }
    if (!gridder.IsValidGsd(gsd)) {
        KvMessageBox(QStringLiteral("invalid GSD value"), MB_OK);
        return;
    }

    progress.show();
    result = gridder.Grid(gsd, output, &progress);
    progress.hide();
    if (result == PointCloudGridder::Aborted) {
        return;
    }
    if (result == PointCloudGridder::Failed) {
        Prompt(drawing, gridder.Error());
        KvMessageBox(QStringLiteral("Unable to save DEM"), MB_OK);
        return;
    }
    if (!doc->AddDEM(output, 0)) {
        KvMessageBox(QStringLiteral("Unable to save DEM"), MB_OK);
    }
}

void CmdResizeDem(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    ActiveCommandScope scope(drawing, CMD_RESIZEDEM);
    QString path;
    double currentGsd = 0.0;
    double targetGsd = 0.0;
    for (;;) {
        CResizeDEMDlg dialog(doc, drawing, path, currentGsd, kv::DialogParent());
        const int answer = dialog.DoModal();
        if (answer == CResizeDEMDlg::IDC_SELECT_DEM) {
            // A browsed file stays chosen when no DEM is picked.
            path = dialog.m_strDemPath;
            currentGsd = dialog.m_dCurrentGSD;
            if (CDEM* dem = PickDem(drawing, *doc)) {
                path = dem->m_path;
                currentGsd = dem->m_geoTransform[1];
            }
            continue;
        }
        if (answer != IDOK) {
            return;
        }
        path = dialog.m_strDemPath;
        currentGsd = dialog.m_dCurrentGSD;
        targetGsd = dialog.m_dTargetGSD;
        break;
    }
    if (path.isEmpty()) {
        KvMessageBox(QStringLiteral("unable to read DEM"), MB_OK);
        return;
    }
    Prompt(drawing, QString());
    const QString output =
        ChooseOutputFile(QStringLiteral("GeoTiff (*.gtif)"), QStringLiteral("gtif"), {path});
    if (output.isEmpty()) {
        return;
    }

    CSingleProgressDlg progress(kv::DialogParent());
    progress.Create();
    progress.SetCaption(QStringLiteral("Resizing DEM..."));
    progress.SetRange(0, 100);
    progress.SetPos(0);
    progress.show();
    ZQT_PumpMessages();
    CGDALListener listener(&progress);
    const char* options[] = {"TILED=YES", "BLOCKXSIZE=128", "BLOCKYSIZE=128", "BIGTIFF=IF_NEEDED", nullptr};
    QString cause;
    bool resized = ResampleRasterGDAL(path, output, currentGsd / targetGsd, const_cast<char**>(options),
                                      &listener, &cause);
    progress.hide();
    if (resized) {
        const kv::FailureCauseScope causes;
        GDALDatasetH check = GDALOpen(QFile::encodeName(output).constData(), GA_Update);
        resized = check != nullptr;
        if (check) {
            GDALClose(check);
        } else {
            cause = kv::FailureCause();
        }
    }
    if (!resized) {
        KvMessageBox(QStringLiteral("error resizing the file"), MB_OK | MB_ICONERROR);
        PromptFailure(drawing, QStringLiteral("error resizing the file"), cause);
        return;
    }
    if (doc->AddDEM(output, 0)) {
        KvMessageBox(QStringLiteral("Resizing done"), MB_OK | MB_ICONINFORMATION);
    }
}
