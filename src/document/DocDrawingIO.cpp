// Drawings from and to other formats: DXF and DWG through the drawing converter program beside
// this one, ESRI shapefiles through OGR, and the Import and Export commands of a project.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <ogr_api.h>

#include <cstdio>

#include "document/CadCalls.h"
#include "document/KelvaroDoc.h"
#include "document/LayerFiles.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/CloseGuard.h"
#include "platform/ui/Interaction.h"

namespace {

// A large drawing takes the converter a while; one that runs longer than this has hung.
constexpr int kConverterTimeLimitMs = 30 * 60 * 1000;

QString& ConverterOverride() {
    static QString program;
    return program;
}

QString ConverterProgram() {
    if (!ConverterOverride().isEmpty()) {
        return ConverterOverride();
    }
    return QCoreApplication::applicationDirPath() + QStringLiteral("/Konvertel/konvertel");
}

QString WorkingFolder() {
    return ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA);
}

QByteArray NativePath(const QString& path) {
    return QFile::encodeName(path);
}

// The CAD layer of an OGR layer: found or added; layer "0" when it cannot be added.
int ShapeCadLayerId(CadDrawing* drawing, const char* ogrName) {
    const char* name = (ogrName && *ogrName) ? ogrName : "0";
    CadLayer* layer = CadGetLayerByName(drawing, name);
    if (!layer) {
        layer = CadAddLayer(drawing, name, CAD_COLOR_FOREGROUND, CAD_LTYPE_CONTINUOUS, CAD_LWEIGHT_DEFAULT);
    }
    if (!layer) {
        layer = CadGetLayerByName(drawing, "0");
    }
    return layer ? CadLayerGetID(layer) : 0;
}

void PutOnLayer(CadEntity* entity, int layerId) {
    if (entity && layerId) {
        CadEntityPutLayerID(entity, layerId);
    }
}

// A polyline through the vertices of a line string or ring. A ring's repeated closing vertex is
// left out: the closed polyline joins its last vertex to the first itself.
void AddPolyline(CadDrawing* drawing, OGRGeometryH line, bool ring, int layerId) {
    int count = OGR_G_GetPointCount(line);
    if (ring && count > 1 && OGR_G_GetX(line, 0) == OGR_G_GetX(line, count - 1) &&
        OGR_G_GetY(line, 0) == OGR_G_GetY(line, count - 1) &&
        OGR_G_GetZ(line, 0) == OGR_G_GetZ(line, count - 1)) {
        --count;
    }
    if (count < (ring ? 3 : 2)) {
        return;
    }
    CadClearVertices();
    for (int i = 0; i < count; ++i) {
        CadAddVertex(OGR_G_GetX(line, i), OGR_G_GetY(line, i), OGR_G_GetZ(line, i));
    }
    PutOnLayer(CadAddPolyline(drawing, 0, ring ? 1 : 0), layerId);
}

// Points, line strings and the exterior rings of polygons; collections part by part.
void AddGeometry(CadDrawing* drawing, OGRGeometryH geometry, int layerId) {
    if (!geometry || OGR_G_IsEmpty(geometry)) {
        return;
    }
    switch (wkbFlatten(OGR_G_GetGeometryType(geometry))) {
        case wkbPoint:
            PutOnLayer(CadAddPoint(drawing, OGR_G_GetX(geometry, 0), OGR_G_GetY(geometry, 0),
                                   OGR_G_GetZ(geometry, 0)),
                       layerId);
            break;
        case wkbLineString:
            AddPolyline(drawing, geometry, false, layerId);
            break;
        case wkbPolygon:
            if (OGR_G_GetGeometryCount(geometry) > 0) {
                AddPolyline(drawing, OGR_G_GetGeometryRef(geometry, 0), true, layerId);
            }
            break;
        case wkbMultiPoint:
        case wkbMultiLineString:
        case wkbMultiPolygon:
        case wkbGeometryCollection:
            for (int i = 0; i < OGR_G_GetGeometryCount(geometry); ++i) {
                AddGeometry(drawing, OGR_G_GetGeometryRef(geometry, i), layerId);
            }
            break;
        default:
            break;
    }
}

// Whether the drawing's window shows nothing of the drawing: no visible entity reaches into it.
bool ViewShowsNothing(CadDrawing* drawing) {
    QWidget* window = CadGetWindow(drawing);
    double left = 0, bottom = 0, right = 0, top = 0;
    if (!window || !CadGetViewRect(window, &left, &bottom, &right, &top)) {
        return false;
    }
    for (CadEntity* e = CadGetFirstEntity(drawing); e; e = CadGetNextEntity(drawing, e)) {
        CadLayer* layer = CadEntityGetLayer(e);
        if (!CadEntityGetVisible(e) || (layer && !CadLayerGetVisible(layer))) {
            continue;
        }
        if (CadEntityGetLeft(e) <= right && CadEntityGetRight(e) >= left && CadEntityGetBottom(e) <= top &&
            CadEntityGetTop(e) >= bottom) {
            return false;
        }
    }
    return true;
}

}  // namespace

void SetDrawingConverterProgram(const QString& program) {
    ConverterOverride() = program;
}

int RunDrawingConverter(QString input, QString output, QString caption) {
    const QString program = ConverterProgram();
    if (!QFileInfo(program).isExecutable()) {
        return 0;
    }
    // The converter writes a new file beside the output, which replaces the output only once it
    // is complete: a failed conversion leaves an existing output as it was.
    const QFileInfo target(output);
    const QString fresh = ZQT_GetRandomFilePath(target.absolutePath(), target.suffix());
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("\"%1\"|\"%2\"|\"%3\"").arg(input, fresh, caption)});
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start();
    if (!process.waitForStarted()) {
        return 0;
    }
    if (!process.waitForFinished(kConverterTimeLimitMs)) {
        process.kill();
        process.waitForFinished();
        QFile::remove(fresh);
        KvMessageBox(QStringLiteral("The drawing converter did not finish in time and was stopped."),
                     MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    if (!QFileInfo::exists(fresh)) {
        return 0;
    }
    // The rename replaces the old output in one step, so there is never a moment without either.
    return kv::CommitTemporary(fresh, output) ? 1 : 0;
}

int ImportShapefileToDrawing(const QString& shapefile, const QString& output) {
    GDALDriverH driver = GDALGetDriverByName("ESRI Shapefile");
    if (!driver) {
        return 0;
    }
    const char* const drivers[] = {"ESRI Shapefile", nullptr};
    GDALDatasetH source = GDALOpenEx(NativePath(shapefile).constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY,
                                     drivers, nullptr, nullptr);
    if (!source) {
        return 0;
    }
    CadDrawing* drawing = CadCreate();
    for (int l = 0; l < GDALDatasetGetLayerCount(source); ++l) {
        OGRLayerH layer = GDALDatasetGetLayer(source, l);
        const int layerId = ShapeCadLayerId(drawing, OGR_L_GetName(layer));
        OGR_L_ResetReading(layer);
        while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
            AddGeometry(drawing, OGR_F_GetGeometryRef(feature), layerId);
            OGR_F_Destroy(feature);
        }
    }
    GDALClose(source);
    const int result = CadFileSaveAs(drawing, 0, NativePath(output).constData());
    CadDelete(drawing);
    return result;
}

int ImportDrawingFile(CadDrawing* drawing, const QString& path) {
    if (!drawing || !QFileInfo(path).isFile()) {
        return 0;
    }
    QString extension = QFileInfo(path).suffix().toLower();
    QString native = path;
    if (extension == QLatin1String("dwg") || extension == QLatin1String("dxf")) {
        native = ZQT_GetRandomFilePath(WorkingFolder(), QStringLiteral("vec"));
        if (!RunDrawingConverter(path, native, QStringLiteral("Import..."))) {
            return 0;
        }
    } else if (extension == QLatin1String("shp")) {
        native = ZQT_GetRandomFilePath(WorkingFolder(), QStringLiteral("vec"));
        if (!ImportShapefileToDrawing(path, native)) {
            QFile::remove(native);
            return 0;
        }
    }
    int result = 0;
    CadDrawing* source = CadCreate();
    if (CadFileOpen(source, 0, NativePath(native).constData()) && CadCountEntities(source) > 0) {
        CadSelectAll(source);
        if (CadCbCopy(source, CadGetWindow(drawing))) {
            result = CadCbPaste(drawing, 0.0, 0.0, 0.0);
        }
    }
    CadDelete(source);
    if (native != path) {
        QFile::remove(native);
    }
    CadSelectClear(drawing);
    CadRegen(drawing);
    return result;
}

void CKelvaroDoc::OnButtonImportdrawing() {
    const QString path = kv::GetInteraction().ChooseOpenFile(
        QStringLiteral("Import"), QString(),
        QStringLiteral("CAD File (*.dwg *.dxf *.shp);;DWG File (*.dwg);;DXF File (*.dxf);;SHP File (*.shp)"));
    if (path.isEmpty()) {
        return;
    }
    kv::DocExecute(m_pCad, CadGetWindow(m_pCad), CAD_CMD_UNSELECT_ALL);
    kv::DocCmdFinish(m_pCad);
    const bool emptyView = ViewShowsNothing(m_pCad);
    if (ImportDrawingFile(m_pCad, path)) {
        // What was imported into a view that showed nothing is shown whole.
        if (emptyView) {
            kv::DocExecute(m_pCad, CadGetWindow(m_pCad), CAD_CMD_ZOOM_EXTENTS);
        }
        KvMessageBox(QStringLiteral("Import done"), MB_OK | MB_ICONINFORMATION);
    } else {
        KvMessageBox(QStringLiteral("Unable to import selected file!"), MB_OK | MB_ICONEXCLAMATION);
    }
}

void CKelvaroDoc::OnButtonExportdrawing() {
    // The converter writes DXF only; a layer's file is refused before the operator is asked
    // about replacing it.
    const QString path = ChooseOutputFile(QStringLiteral("DXF File (*.dxf)"), QStringLiteral("dxf"));
    if (path.isEmpty()) {
        return;
    }
    int result = 0;
    QString cause;
    if (QFileInfo(path).suffix().toLower() == QLatin1String("dwg")) {
        cause = QStringLiteral("Drawings are exported to DXF only");
    } else {
        // The raster image places of every layer kind stay out of the exported drawing.
        const kv::FailureCauseScope causes;
        const QString temporary = ZQT_GetRandomFilePath(WorkingFolder(), QStringLiteral("vec"));
        if (SaveDrawingWithout(m_pCad, RasterImageIds(), temporary)) {
            result = RunDrawingConverter(temporary, path, QStringLiteral("Export..."));
        } else {
            cause = kv::FailureCause();
        }
        QFile::remove(temporary);
    }
    if (result) {
        KvMessageBox(QStringLiteral("Export done"), MB_OK | MB_ICONINFORMATION);
    } else {
        PrintFailure(m_pCad, QStringLiteral("Unable to export file!"), cause);
        KvMessageBox(QStringLiteral("Unable to export file!"), MB_OK | MB_ICONEXCLAMATION);
    }
}
