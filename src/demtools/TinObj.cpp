#include "demtools/TinObj.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <vtkCellArray.h>
#include <vtkCellArrayIterator.h>
#include <vtkFloatArray.h>
#include <vtkPointData.h>
#include <vtkPoints.h>
#include <vtkPolyData.h>
#include <vtkSmartPointer.h>

#include <charconv>
#include <string>
#include <vector>

#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"

namespace {

// Text of a file written in blocks: numbers formatted without regard to the locale.
class ObjText {
public:
    explicit ObjText(kv::SafeFile& file) : m_file(file) {}

    ObjText& operator<<(const char* text) {
        m_buffer += text;
        return *this;
    }
    ObjText& operator<<(const QString& text) {
        m_buffer += text.toUtf8().toStdString();
        return *this;
    }
    // One line of a keyword and numbers, each as "%.6lf" writes it in the C locale.
    template <class T>
    void Line(const char* keyword, const T* values, int count) {
        m_buffer += keyword;
        for (int i = 0; i < count; ++i) {
            m_buffer += ' ';
            Fixed(double(values[i]));
        }
        m_buffer += '\n';
    }
    void Fixed(double value) {
        char digits[512];
        const std::to_chars_result r =
            std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 6);
        m_buffer.append(digits, r.ptr);
    }
    void Integer(long long value) {
        char digits[32];
        const std::to_chars_result r = std::to_chars(digits, digits + sizeof digits, value);
        m_buffer.append(digits, r.ptr);
    }
    // Hands the text gathered so far to the file once it is large; false when a write failed.
    bool Flush(bool always = false) {
        if (!m_ok || (!always && m_buffer.size() < (1u << 20))) {
            return m_ok;
        }
        m_ok = m_file.write(m_buffer.data(), qint64(m_buffer.size())) == qint64(m_buffer.size());
        m_buffer.clear();
        return m_ok;
    }
    // Completes the file under its temporary name (see kv::SafeFile::finish).
    bool Finish(QString* temporary) { return Flush(true) && m_file.finish(temporary); }

private:
    kv::SafeFile& m_file;
    std::string m_buffer;
    bool m_ok = true;
};

// A float array of the point data with at least `components` components and one tuple per point,
// else null.
vtkFloatArray* PointArray(vtkDataArray* array, int components, vtkIdType points) {
    vtkFloatArray* floats = vtkFloatArray::SafeDownCast(array);
    if (!floats || floats->GetNumberOfComponents() < components || floats->GetNumberOfTuples() < points) {
        return nullptr;
    }
    return floats;
}

}  // namespace

int WriteTinObj(vtkPolyData* mesh, const QString& texturePath, const QString& objPath) {
    if (!mesh || objPath.isEmpty() || !mesh->GetPoints() || mesh->GetNumberOfPoints() == 0) {
        return 0;
    }
    const vtkIdType count = mesh->GetNumberOfPoints();
    vtkPointData* data = mesh->GetPointData();
    vtkFloatArray* normals = PointArray(data ? data->GetNormals() : nullptr, 3, count);
    vtkFloatArray* textures = PointArray(data ? data->GetTCoords() : nullptr, 2, count);
    if (textures && texturePath.isEmpty()) {
        return 0;
    }
    const QFileInfo obj(objPath);
    const QString material = QFileInfo(texturePath).completeBaseName();
    const QString mtlPath = obj.absoluteDir().filePath(obj.completeBaseName() + QStringLiteral(".mtl"));

    kv::SafeFile objFile(objPath);
    kv::SafeFile mtlFile(mtlPath);
    if (!objFile.open(QIODevice::WriteOnly)) {
        return 0;
    }
    // Both files are written out before either takes its place.
    QString mtlTemporary, objTemporary;
    if (textures) {
        if (!mtlFile.open(QIODevice::WriteOnly)) {
            return 0;
        }
        QString relative;
        if (!ZQT_GetRelativePath(obj.absoluteFilePath(), 0, QFileInfo(texturePath).absoluteFilePath(), 0,
                                 &relative)) {
            relative = texturePath;
        }
        ObjText mtl(mtlFile);
        mtl << "newmtl " << material << "\n";
        mtl << "Ka 0.000000 0.000000 0.000000\n";
        mtl << "Kd 0.513725 0.509804 0.505882\n";
        mtl << "Ks 0.330000 0.330000 0.330000\n";
        mtl << "map_Kd  " << relative << "\n";
        if (!mtl.Finish(&mtlTemporary)) {
            return 0;
        }
    }

    ObjText out(objFile);
    bool ok = true;
    if (textures) {
        out << "mtllib " << obj.completeBaseName() << ".mtl\n";
    }
    double p[3];
    for (vtkIdType i = 0; i < count && ok; ++i) {
        mesh->GetPoint(i, p);
        out.Line("v", p, 3);
        ok = out.Flush();
    }
    for (vtkIdType i = 0; normals && i < count && ok; ++i) {
        out.Line("vn", normals->GetPointer(i * normals->GetNumberOfComponents()), 3);
        ok = out.Flush();
    }
    for (vtkIdType i = 0; textures && i < count && ok; ++i) {
        out.Line("vt", textures->GetPointer(i * textures->GetNumberOfComponents()), 2);
        ok = out.Flush();
    }
    vtkCellArray* polys = mesh->GetPolys();
    if (ok && polys && polys->GetNumberOfCells() > 0) {
        if (textures) {
            out << "usemtl " << material << "\n";
        }
        // The reference of one vertex: i, i/i (texture), i//i (normal) or i/i/i (both).
        const char* textureRef = textures ? "/" : normals ? "//" : "";
        auto it = vtk::TakeSmartPointer(polys->NewIterator());
        for (it->GoToFirstCell(); !it->IsDoneWithTraversal() && ok; it->GoToNextCell()) {
            vtkIdType size = 0;
            const vtkIdType* ids = nullptr;
            it->GetCurrentCell(size, ids);
            if (size < 3) {
                continue;
            }
            out << "f";
            for (vtkIdType k = 0; k < size; ++k) {
                const long long index = ids[k] + 1;
                out << " ";
                out.Integer(index);
                if (textures || normals) {
                    out << textureRef;
                }
                if (textures) {
                    out.Integer(index);
                }
                if (textures && normals) {
                    out << "/";
                }
                if (normals) {
                    out.Integer(index);
                }
            }
            out << "\n";
            ok = out.Flush();
        }
    }
    if (!ok || !out.Finish(&objTemporary)) {
        QFile::remove(mtlTemporary);
        return 0;
    }
    // A reader opens the OBJ and takes the materials it names from the MTL: the two are put in
    // place as one set, so that no moment shows a new OBJ with an old MTL or the other way round.
    std::vector<kv::SetFile> parts;
    if (textures) {
        parts.push_back({mtlTemporary, mtlPath});
    }
    return kv::PlaceFileSet({objTemporary, objPath}, parts, kv::SetParts::Needed) ? 1 : 0;
}
