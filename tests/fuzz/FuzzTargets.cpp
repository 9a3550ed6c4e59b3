#include "fuzz/FuzzTargets.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gdal.h>
#include <ogr_api.h>

#include <memory>

#include <opencv2/core.hpp>
#include <opencv2/core/persistence.hpp>

#include "document/KelvaroDoc.h"
#include "document/archive/ProjectArchive.h"
#include "document/undo/UndoDEM.h"
#include "konvertel/DxfReader.h"
#include "platform/cad/Cad.h"
#include "platform/cad/CadInternal.h"
#include "platform/las/Las.h"
#include "platform/photo/Orientation.h"
#include "platform/tools/ZQT.h"
#include "raster/AGColors.h"
#include "raster/DEM.h"
#include "support/ScriptedInteraction.h"

namespace kvfuzz {

namespace {

struct State {
    QTemporaryDir work;
    QString data;
    QString samples;
    QByteArray palette;
    QByteArray undo;
    QByteArray shapefile;
    QByteArray orientation;
    // The DEM whose undo files are applied, shown in a drawing of its own.
    CadDrawing* drawing = nullptr;
    std::unique_ptr<CDEM> dem;
};

State& S() {
    static State state;
    return state;
}

QString Work(const QString& name) {
    return S().work.filePath(name);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// ---- readers

bool ReadArchive(const QByteArray& bytes) {
    ProjectArchiveData data;
    return ReadProjectArchive(bytes, data) != 0;
}

bool OpenProject(const QByteArray& bytes) {
    const QString path = Work("project/fuzz.kvp");
    if (!WriteAll(path, bytes)) {
        return false;
    }
    kvtest::ScriptedInteraction ui;
    CKelvaroDoc doc;
    return doc.OnOpenDocument(path) != 0;
}

bool OpenDrawing(const QByteArray& bytes) {
    const QString path = Work("fuzz.vec");
    if (!WriteAll(path, bytes)) {
        return false;
    }
    CadDrawing* drawing = CadCreate();
    const bool read = CadFileOpen(drawing, 0, QFile::encodeName(path).constData()) != 0;
    CadDelete(drawing);
    return read;
}

// The same with the header and checksum made to fit, so that the damage reaches the parser.
bool OpenDrawingPayload(const QByteArray& bytes) {
    QByteArray sealed = bytes;
    return cad::SealVec(sealed) && OpenDrawing(sealed);
}

bool LoadPalette(const QByteArray& bytes) {
    const QString path = Work("fuzz.ccl");
    if (!WriteAll(path, bytes)) {
        return false;
    }
    kvtest::ScriptedInteraction ui;
    CAGColors colors;
    return colors.Load(path, nullptr) != 0;
}

bool ReadLas(const QByteArray& bytes) {
    const QString path = Work("fuzz.las");
    if (!WriteAll(path, bytes)) {
        return false;
    }
    LASreadOpener opener;
    opener.SetFileName(path);
    QString error;
    std::unique_ptr<LASreader> reader = opener.Open(&error);
    if (!reader) {
        return false;
    }
    while (reader->ReadPoint()) {
    }
    return true;
}

bool ReadDxf(const QByteArray& bytes) {
    CadDrawing* drawing = CadCreate();
    std::string error;
    const bool read = DxfReadDrawingData(bytes, drawing, &error) != 0;
    CadDelete(drawing);
    return read;
}

bool ImportShapefile(const QByteArray& bytes) {
    const QString path = Work("shape/fuzz.shp");
    if (!WriteAll(path, bytes)) {
        return false;
    }
    const QString output = Work("shape.vec");
    const bool read = ImportShapefileToDrawing(path, output) != 0;
    QFile::remove(output);
    return read;
}

bool ApplyUndo(const QByteArray& bytes) {
    const QString path = Work("fuzz.demundo");
    if (!WriteAll(path, bytes)) {
        return false;
    }
    CDEM* dem = S().dem.get();
    CUndoDEM record;
    record.m_demSerial = dem->m_serial;
    record.m_path = path;
    auto lookup = [dem](uint64_t serial) { return serial == dem->m_serial ? dem : nullptr; };
    const bool undone = record.Apply(1, nullptr, lookup) != 0;
    const bool redone = record.Apply(2, nullptr, lookup) != 0;
    return undone && redone;
}

bool LoadOrientation(const QByteArray& bytes) {
    if (!WriteAll(Work("fuzz.yml"), bytes)) {
        return false;
    }
    zqc::COrientation orientation(1);
    return orientation.Load(QFile::encodeName(Work("fuzz.jpg")).constData()) != 0;
}

// ---- seeds

QByteArray SampleProject() {
    return ReadAll(S().samples + "/olinda.kvp");
}
QByteArray SampleDrawing() {
    return ReadAll(S().samples + "/olinda.vec");
}
QByteArray Palette() {
    return S().palette;
}
QByteArray LasFile() {
    return ReadAll(S().data + "/simple.las");
}
QByteArray Las14File() {
    return ReadAll(S().data + "/test1_4.las");
}
QByteArray DxfFile() {
    return ReadAll(S().data + "/example007.dxf");
}
QByteArray Shapefile() {
    return S().shapefile;
}
QByteArray UndoFile() {
    return S().undo;
}
QByteArray OrientationFile() {
    return S().orientation;
}

// The orientation of an image taken 1500 m above the Olinda DEM, as an orientation program writes
// it with OpenCV's file storage.
QByteArray MakeOrientation() {
    const QString path = Work("seed.yml");
    cv::FileStorage fs(QFile::encodeName(path).toStdString(), cv::FileStorage::WRITE);
    fs << "image_width" << 4000 << "image_height" << 3000;
    fs << "camera_matrix" << cv::Mat(cv::Matx33d(3500.0, 0.0, 1999.5, 0.0, 3498.0, 1496.2, 0.0, 0.0, 1.0));
    fs << "distortion_coefficients" << cv::Mat(cv::Matx<double, 1, 5>(-0.12, 0.05, 1e-4, -2e-4, -0.01));
    fs << "projection_center" << cv::Mat(cv::Vec3d(293370.9, 9115516.1, 1532.0));
    fs << "rotation" << cv::Mat(cv::Matx33d(1.0, 0.0, 0.0, 0.0, -1.0, 0.0, 0.0, 0.0, -1.0));
    fs.release();
    return ReadAll(path);
}

// A palette file with classes, written by the program's own writer.
QByteArray MakePalette() {
    CAGColors colors(20, 3, true);
    for (int i = 0; i < 5; ++i) {
        ColorClassEntry c;
        c.lowerLimit = float(i * 10);
        c.upperLimit = float(i * 10 + 10);
        c.color = 0x00102030u * uint32_t(i + 1);
        c.visible = i % 2;
        c.tooltip = QStringLiteral("class %1").arg(i);
        c.text = QStringLiteral("from %1").arg(i * 10);
        colors.m_classes.push_back(c);
    }
    const int type = 15;
    const double low = 0.0, high = 50.0;
    const QString path = Work("seed.ccl");
    kvtest::ScriptedInteraction ui;
    colors.Save(path, &type, &low, &high);
    return ReadAll(path);
}

// The first features of the Olinda census tracts as a small shapefile of their own.
QByteArray MakeShapefile() {
    QDir().mkpath(Work("shape"));
    GDALDatasetH source = GDALOpenEx(QFile::encodeName(S().data + "/olinda1.shp").constData(), GDAL_OF_VECTOR,
                                     nullptr, nullptr, nullptr);
    GDALDriverH driver = GDALGetDriverByName("ESRI Shapefile");
    if (!source || !driver) {
        return QByteArray();
    }
    GDALDatasetH target = GDALCreate(driver, QFile::encodeName(Work("shape/fuzz.shp")).constData(), 0, 0, 0,
                                     GDT_Unknown, nullptr);
    OGRLayerH in = GDALDatasetGetLayer(source, 0);
    OGRLayerH out = GDALDatasetCreateLayer(target, "fuzz", OGR_L_GetSpatialRef(in), wkbPolygon, nullptr);
    OGRFeatureDefnH definition = OGR_L_GetLayerDefn(in);
    for (int i = 0; i < OGR_FD_GetFieldCount(definition) && i < 3; ++i) {
        OGR_L_CreateField(out, OGR_FD_GetFieldDefn(definition, i), 1);
    }
    OGR_L_ResetReading(in);
    for (int n = 0; n < 12; ++n) {
        OGRFeatureH feature = OGR_L_GetNextFeature(in);
        if (!feature) {
            break;
        }
        OGRFeatureH copy = OGR_F_Create(OGR_L_GetLayerDefn(out));
        OGR_F_SetFrom(copy, feature, 0);
        const bool created = OGR_L_CreateFeature(out, copy) == OGRERR_NONE;
        OGR_F_Destroy(copy);
        OGR_F_Destroy(feature);
        if (!created) {
            break;
        }
    }
    GDALClose(target);
    GDALClose(source);
    return ReadAll(Work("shape/fuzz.shp"));
}

// An outline record of an edit on a DEM of the sample project's size.
QByteArray MakeUndoFile() {
    State& s = S();
    s.drawing = CadCreate();
    s.dem = std::make_unique<CDEM>(nullptr);
    s.dem->m_name = QStringLiteral("fuzz.tif");
    s.dem->m_grid = cv::Mat(111, 111, CV_32FC1, cv::Scalar(50.0f));
    s.dem->m_imageEntity = CadAddImagePlace(s.drawing, 1000, 111, 111, 0.0, 0.0, 0.0, 1.0);
    cv::Mat before(40, 30, CV_32FC1, cv::Scalar(kUndoUntouched));
    cv::Mat after = before.clone();
    before(cv::Rect(5, 5, 20, 30)).setTo(cv::Scalar(50.0f));
    after(cv::Rect(5, 5, 20, 30)).setTo(cv::Scalar(75.0f));
    CUndoDEM record(s.dem.get(), nullptr, before, after, cv::Point(30, 20),
                    {{5, 5}, {24, 5}, {24, 34}, {5, 34}});
    const QByteArray bytes = ReadAll(record.m_path);
    record.DeleteFile();
    return bytes;
}

}  // namespace

const std::vector<Target>& Targets() {
    static const std::vector<Target> targets = {
        {"archive", SampleProject, ReadArchive, false},
        {"project", SampleProject, OpenProject, false},
        {"drawing", SampleDrawing, OpenDrawing, false},
        {"drawing_payload", SampleDrawing, OpenDrawingPayload, false},
        {"palette", Palette, LoadPalette, false},
        {"las", LasFile, ReadLas, false},
        {"las14", Las14File, ReadLas, false},
        {"dxf", DxfFile, ReadDxf, true},
        {"shapefile", Shapefile, ImportShapefile, false},
        {"undo", UndoFile, ApplyUndo, false},
        {"orientation", OrientationFile, LoadOrientation, true},
    };
    return targets;
}

const Target* FindTarget(const QString& name) {
    for (const Target& target : Targets()) {
        if (name == QLatin1String(target.name)) {
            return &target;
        }
    }
    return nullptr;
}

void Prepare(const QString& dataFolder, const QString& samplesFolder) {
    State& s = S();
    if (!s.palette.isEmpty()) {
        return;
    }
    s.data = dataFolder;
    s.samples = samplesFolder;
    // The project's layers lie beside it, where the reader finds them.
    QDir().mkpath(Work("project"));
    for (const char* name : {"olinda_dem.tif", "olinda_ortho.tif"}) {
        QFile::copy(samplesFolder + '/' + name, Work(QStringLiteral("project/") + name));
    }
    QFile::copy(samplesFolder + "/olinda.vec", Work("project/fuzz.vec"));
    s.palette = MakePalette();
    s.shapefile = MakeShapefile();
    s.undo = MakeUndoFile();
    s.orientation = MakeOrientation();
}

}  // namespace kvfuzz
