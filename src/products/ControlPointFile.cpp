#include "products/ControlPointFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <gdal.h>

#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "products/ProductsSupport.h"
#include "products/TerrainMeshFiles.h"

namespace products {

QByteArray ControlPointText(const std::vector<Wml::Point3>& source, const std::vector<Wml::Point3>& target,
                            const double gt[6]) {
    const int count = int(std::min(source.size(), target.size()));
    QString text = QString::asprintf("Collimazioni - %d\n\n", count);
    for (int i = 0; i < count; ++i) {
        const Wml::Point3& t = target[size_t(i)];
        const Wml::Point3& s = source[size_t(i)];
        text += QString::asprintf("%02d;%lf;%lf;%lf;%lf;%lf;0.1;0.1;0.0;0.0;0.0;1;3;0;\n", i, t.X(), t.Y(),
                                  t.Z(), (s.X() - gt[0]) / gt[1], (s.Y() - gt[3]) / gt[5]);
    }
    return text.toLatin1();
}

}  // namespace products

namespace {

// The orthophoto's geotransform; false after the warning when the file does not open or has none.
bool ReadOrthophotoPlacing(const QString& path, double gt[6]) {
    GDALDatasetH ds = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    if (!ds) {
        KvMessageBox(QStringLiteral("Unable to open OrthoPhoto file!"), MB_OK | MB_ICONWARNING);
        return false;
    }
    const bool placed = GDALGetGeoTransform(ds, gt) == CE_None;
    GDALClose(ds);
    if (!placed) {
        KvMessageBox(QStringLiteral("Invalid OrthoPhoto file!"), MB_OK | MB_ICONWARNING);
    }
    return placed;
}

}  // namespace

void CmdRotateFromPoly(CadDrawing* drawing) {
    if (!FindDocByCad(drawing)) {
        return;
    }
    const QString ortho = products::ChooseOrthophotoFile();
    if (ortho.isEmpty()) {
        return;
    }
    double gt[6];
    if (!ReadOrthophotoPlacing(ortho, gt)) {
        return;
    }
    const QFileInfo info(ortho);
    const QString path = QDir(info.absolutePath()).filePath(info.completeBaseName() + QStringLiteral(".cpt"));
    if (RefuseOutputOverInputs({path}, {ortho})) {
        return;
    }

    ActiveCommandScope active(drawing, CMD_ROTATEFROMPOLY);
    // A pick abandoned at either prompt writes nothing: an earlier file of the orthophoto stays.
    CadEntity *source = nullptr, *target = nullptr;
    if (!products::PickSourceAndTarget(
            drawing, [](int sources, int targets) { return targets <= sources; }, &source, &target)) {
        return;
    }
    const QByteArray text =
        products::ControlPointText(DrawingPolylineVertices(source), DrawingPolylineVertices(target), gt);
    kv::SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        // The earlier file stays; the operator learns that this one was not written.
        KvMessageBox(QStringLiteral("Unable to export file!"), MB_OK | MB_ICONWARNING);
        return;
    }
    KvMessageBox(QStringLiteral("Process done"), MB_OK | MB_ICONINFORMATION);
}
