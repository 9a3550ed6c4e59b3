#include "products/TerrainMeshFiles.h"

#include <QFile>

#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkXMLPolyDataWriter.h>

#include "demtools/DemEditCommands.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"

namespace products {

bool WriteMeshFiles(vtkPolyData* mesh, const double offset[3], const QString& vtp, const QString& vtw) {
    if (!mesh || vtp.isEmpty() || vtw.isEmpty()) {
        return false;
    }
    const QString meshTemporary = kv::TemporaryPathFor(vtp);
    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetInputData(mesh);
    writer->SetDataModeToBinary();
    // Compressed as fast as zlib goes: the default level spends seconds on a million points and
    // gains little on coordinates.
    writer->SetCompressionLevel(1);
    writer->SetFileName(QFile::encodeName(meshTemporary).constData());
    if (writer->Write() != 1 || writer->GetErrorCode() != 0) {
        QFile::remove(meshTemporary);
        return false;
    }
    kv::SafeFile file(vtw);
    const QByteArray text =
        QString::asprintf("[PolyData Offset]\nX=%lf\nY=%lf\nZ=%lf\n", offset[0], offset[1], offset[2])
            .toLatin1();
    QString offsetTemporary;
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() ||
        !file.finish(&offsetTemporary)) {
        QFile::remove(meshTemporary);
        return false;
    }
    // The mesh's coordinates mean nothing without the offset: a reader takes the two together.
    return kv::PlaceFileSet({meshTemporary, vtp}, {{offsetTemporary, vtw}}, kv::SetParts::Needed);
}

CadEntity* PickPolyline(CadDrawing* drawing, const QString& prompt, const std::function<bool(int)>& accept) {
    for (;;) {
        Prompt(drawing, prompt);
        CadEntity* entity = CadCmdUserGetEntity(drawing);
        if (!entity) {
            return nullptr;
        }
        const int vertices = CadEntityGetType(entity) == CAD_ENT_POLYLINE ? CadPlineGetNumVers(entity) : 0;
        if (vertices > 1 && (!accept || accept(vertices))) {
            return entity;
        }
        CadCmdPrompt(drawing, "Invalid entity", "");
    }
}

bool PickSourceAndTarget(CadDrawing* drawing, const std::function<bool(int, int)>& accept, CadEntity** source,
                         CadEntity** target) {
    *source = PickPolyline(drawing, QStringLiteral("Select source polyline"));
    if (!*source) {
        return false;
    }
    const int count = CadPlineGetNumVers(*source);
    *target = PickPolyline(drawing, QStringLiteral("Select target polyline"),
                           [&accept, count](int vertices) { return accept(count, vertices); });
    return *target != nullptr;
}

}  // namespace products
