#include "products/RasterizeMap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

#include <charconv>
#include <cmath>
#include <vector>

#include "controls/InputValueDlg.h"
#include "demtools/DemEditCommands.h"
#include "document/KelvaroDoc.h"
#include "platform/cad/Cad.h"
#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/ActiveCommand.h"
#include "platform/ui/CadCommandIds.h"
#include "platform/ui/Interaction.h"
#include "raster/DEM.h"
#include "raster/MapData.h"
#include "raster/Ortho.h"

namespace {

// The finest pixel the engine renders: 20 pixels a metre.
constexpr double kMaxScale = 20.0;

// A raster layer of the project: its name and the CAD entity of its image.
struct RasterLayer {
    QString name;
    CadEntity* image = nullptr;
};

// The layer whose image the entity is, looked up among the DEMs, then the maps, then the
// orthophotos. No name when the entity is none of them.
RasterLayer LayerOfEntity(const CKelvaroDoc& doc, CadEntity* entity) {
    if (const auto dem = doc.m_DEMHandleNames.find(entity); dem != doc.m_DEMHandleNames.end()) {
        if (const auto layer = doc.m_DEMs.find(dem->second); layer != doc.m_DEMs.end() && layer->second) {
            return {layer->first, layer->second->m_imageEntity};
        }
    }
    if (const auto map = doc.m_MapHandleNames.find(entity); map != doc.m_MapHandleNames.end()) {
        if (const auto layer = doc.m_Maps.find(map->second); layer != doc.m_Maps.end() && layer->second) {
            return {layer->first, layer->second->m_imageEntity};
        }
    }
    if (const auto ortho = doc.m_OrthoHandleNames.find(entity); ortho != doc.m_OrthoHandleNames.end()) {
        if (const auto layer = doc.m_Orthos.find(ortho->second);
            layer != doc.m_Orthos.end() && layer->second) {
            return {layer->first, layer->second->m_imageEntity};
        }
    }
    return {};
}

// The only raster layer of the project (a DEM, else an orthophoto, else a map); no name when
// there are several.
RasterLayer OnlyLayer(const CKelvaroDoc& doc) {
    if (doc.m_DEMs.size() + doc.m_Orthos.size() + doc.m_Maps.size() != 1) {
        return {};
    }
    if (!doc.m_DEMs.empty()) {
        const auto& [name, dem] = *doc.m_DEMs.begin();
        return {name, dem ? dem->m_imageEntity : nullptr};
    }
    if (!doc.m_Orthos.empty()) {
        const auto& [name, ortho] = *doc.m_Orthos.begin();
        return {name, ortho ? ortho->m_imageEntity : nullptr};
    }
    const auto& [name, map] = *doc.m_Maps.begin();
    return {name, map ? map->m_imageEntity : nullptr};
}

// The layer the operator picks; no name when the operator picks none.
RasterLayer PickLayer(CadDrawing* drawing, const CKelvaroDoc& doc) {
    for (;;) {
        Prompt(drawing, QStringLiteral("Select Map to rasterize"));
        CadEntity* entity = CadCmdUserGetImagePlace(
            drawing, [&doc](CadEntity* image) { return !LayerOfEntity(doc, image).name.isEmpty(); });
        if (!entity) {
            return {};
        }
        const RasterLayer layer = LayerOfEntity(doc, entity);
        if (!layer.name.isEmpty()) {
            CadCmdPromptAdd(drawing, (QStringLiteral(" ") + layer.name).toUtf8().constData());
            return layer;
        }
        CadCmdPromptAdd(drawing, " Invalid entity");
    }
}

// The pixel size typed: a number, or else the number the text starts with (0 when none).
double ParsePixelSize(const QString& text) {
    double size = 0.0;
    if (ZQT_StringToDouble(text, &size)) {
        return size;
    }
    const QByteArray digits = text.trimmed().toLatin1();
    if (std::from_chars(digits.constData(), digits.constData() + digits.size(), size).ec != std::errc()) {
        return 0.0;
    }
    return size;
}

// The picture rendered in the working folder, removed on every way out.
class TemporaryPicture {
public:
    TemporaryPicture() {
        const QString folder =
            ZQT_OptimizePath(ZQT_GetSpecialFolder(35, 1, 1) + QStringLiteral("/tempRasterize"), 0);
        QDir().mkpath(folder);
        m_path = ZQT_GetRandomFilePath(folder, QStringLiteral("bmp"));
    }
    ~TemporaryPicture() { QFile::remove(m_path); }
    TemporaryPicture(const TemporaryPicture&) = delete;
    TemporaryPicture& operator=(const TemporaryPicture&) = delete;
    const QString& Path() const { return m_path; }

private:
    QString m_path;
};

// Writes the picture in the format of the path's extension. False when there is no such format
// or the file cannot be written.
bool SavePicture(const cv::Mat& picture, const QString& path) {
    std::vector<uchar> bytes;
    try {
        if (!cv::imencode(('.' + QFileInfo(path).suffix()).toStdString(), picture, bytes)) {
            return false;
        }
    } catch (const cv::Exception&) {
        return false;
    }
    kv::SafeFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char*>(bytes.data()),
                                                       qint64(bytes.size())) != qint64(bytes.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace

void CmdRasterizeMap(CadDrawing* drawing) {
    CKelvaroDoc* doc = FindDocByCad(drawing);
    if (!doc) {
        return;
    }
    if (doc->m_DEMs.empty() && doc->m_Orthos.empty() && doc->m_Maps.empty()) {
        KvMessageBox(QStringLiteral("No map loaded"));
        Prompt(drawing, QStringLiteral("No map loaded"));
        return;
    }
    ActiveCommandScope active(drawing, CMD_RASTERIZEMAP);
    RasterLayer layer = OnlyLayer(*doc);
    if (layer.name.isEmpty()) {
        layer = PickLayer(drawing, *doc);
    }
    if (!layer.image) {
        return;
    }
    const double left = CadEntityGetLeft(layer.image), right = CadEntityGetRight(layer.image);
    const double top = CadEntityGetTop(layer.image), bottom = CadEntityGetBottom(layer.image);

    CInputValueDlg input(ZQT_GetUserProfileString(QStringLiteral("Rasterize"), QStringLiteral("invScale"),
                                                  QStringLiteral("1")),
                         kv::DialogParent());
    input.m_strCaption = QStringLiteral("Insert size [m] of pixels");
    if (input.DoModal() != IDOK) {
        return;
    }
    const double size = ParsePixelSize(input.GetValue());
    const double scale = 1.0 / size;
    // The engine renders at most CAD_RASTERIZE_MAX_SIDE pixels a side: a finer pixel is refused
    // here rather than failing there without a word.
    const double columns = std::fabs(right - left) * scale, rows = std::fabs(top - bottom) * scale;
    if (!(scale >= 0.0 && scale <= kMaxScale) || columns > CAD_RASTERIZE_MAX_SIDE ||
        rows > CAD_RASTERIZE_MAX_SIDE) {
        KvMessageBox(QStringLiteral("Invalid value"), MB_OK | MB_ICONINFORMATION);
        return;
    }
    ZQT_WriteUserProfileString(QStringLiteral("Rasterize"), QStringLiteral("invScale"),
                               QString::asprintf("%.2lf", size));
    if (int(std::max(std::fabs(right - left), std::fabs(top - bottom))) <= 0) {
        return;
    }
    const QString path = ChooseOutputFile(QStringLiteral("Raster Image (*.jpg)"), QStringLiteral("jpg"));
    if (path.isEmpty()) {
        return;
    }

    TemporaryPicture picture;
    if (!CadRasterize(drawing, QFile::encodeName(picture.Path()).constData(), left, bottom, right, top,
                      scale)) {
        return;
    }
    const cv::Mat image = cv::imread(QFile::encodeName(picture.Path()).toStdString(), cv::IMREAD_COLOR);
    if (image.empty()) {
        return;
    }
    if (SavePicture(image, path)) {
        KvMessageBox(QStringLiteral("Image successfully saved"), MB_OK | MB_ICONINFORMATION);
    } else {
        KvMessageBox(QStringLiteral("Error on saving the image"), MB_OK | MB_ICONINFORMATION);
    }
}
