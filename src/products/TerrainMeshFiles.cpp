#include "products/TerrainMeshFiles.h"

#include <QFile>

#include <vtkNew.h>
#include <vtkPolyData.h>
#include <vtkXMLPolyDataWriter.h>

#include "demtools/DemEditCommands.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"

namespace products {

bool WritePolyDataFile(vtkPolyData* mesh, const QString& path) {
    if (!mesh || path.isEmpty()) {
        return false;
    }
    const QString temporary = kv::TemporaryPathFor(path);
    vtkNew<vtkXMLPolyDataWriter> writer;
    writer->SetInputData(mesh);
    writer->SetDataModeToBinary();
    // Compressed as fast as zlib goes: the default level spends seconds on a million points and
    // gains little on coordinates.
    writer->SetCompressionLevel(1);
    writer->SetFileName(QFile::encodeName(temporary).constData());
    const bool written = writer->Write() == 1 && writer->GetErrorCode() == 0;
    if (!written) {
        QFile::remove(temporary);
        return false;
    }
    return kv::CommitTemporary(temporary, path);
}

bool WriteMeshOffsetFile(const QString& path, const double offset[3]) {
    kv::SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QString text =
        QString::asprintf("[PolyData Offset]\nX=%lf\nY=%lf\nZ=%lf\n", offset[0], offset[1], offset[2]);
    const QByteArray bytes = text.toLatin1();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
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
