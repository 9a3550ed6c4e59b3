#include "view/ViewTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>

#include "support/RasterFixtures.h"
#include "support/TestEnv.h"

namespace kvtest {

QString WriteRaster(const QString& name, const cv::Mat& image, GDALDataType type, double noData, double scale,
                    double offset) {
    RasterSpec spec;
    spec.width = image.cols;
    spec.height = image.rows;
    spec.bands = image.channels();
    spec.type = type;
    spec.noData = noData;
    spec.hasScaleOffset = scale != 1.0 || offset != 0.0;
    spec.scale = scale;
    spec.offset = offset;
    spec.geoTransform = {0.0, 1.0, 0.0, static_cast<double>(image.rows), 0.0, -1.0};
    spec.options = {"TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"};
    cv::Mat values;
    image.convertTo(values, CV_64F);
    const int channels = image.channels();
    return WriteRaster(QDir(TempDir()).filePath(name), spec,
                       [&](int c, int r, int b) { return values.ptr<double>(r)[c * channels + b - 1]; });
}

CadEntity* AddImagePlace(CKelvaroDoc& doc, const QString& name, int imageId, int width, int height,
                         const double* gt) {
    CadAddLayer(doc.m_pCad, name.toUtf8().constData(), 7, 0, 0);
    CadSetCurLayerByName(doc.m_pCad, name.toUtf8().constData());
    const double scale = 1.0 / gt[1];
    CadEntity* place =
        CadAddImagePlace(doc.m_pCad, imageId, width, height, gt[0], gt[3] + height * gt[5], 0.0, scale);
    CadSetCurLayerByName(doc.m_pCad, "0");
    return place;
}

CDEM* AddDemLayer(CKelvaroDoc& doc, const QString& path, int index) {
    auto* dem = new CDEM(&doc);
    dem->m_path = path;
    dem->m_name = QFileInfo(path).fileName().toLower();
    dem->m_pDataset = GDALOpen(QFile::encodeName(path).constData(), GA_Update);
    GDALGetGeoTransform(dem->m_pDataset, dem->m_geoTransform);
    dem->m_imageDefId = 1000 + index;
    dem->m_imageEntity =
        AddImagePlace(doc, dem->m_name, dem->m_imageDefId, dem->Width(), dem->Height(), dem->m_geoTransform);
    doc.m_DEMs[dem->m_name] = dem;
    doc.m_DEMIdNames[dem->m_imageDefId] = dem->m_name;
    doc.m_DEMHandleNames[dem->m_imageEntity] = dem->m_name;
    return dem;
}

CMapData* AddMapLayer(CKelvaroDoc& doc, const QString& path, const QString& name, double low, double high,
                      int index) {
    auto* map = new CMapData(&doc);
    map->m_name = name;
    map->m_pDataset = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    GDALGetGeoTransform(map->m_pDataset, map->m_geoTransform);
    map->m_pRangeMin = std::make_unique<double>(low);
    map->m_pRangeMax = std::make_unique<double>(high);
    map->m_imageDefId = 4000 + index;
    map->m_imageEntity = AddImagePlace(doc, name, map->m_imageDefId, GDALGetRasterXSize(map->m_pDataset),
                                       GDALGetRasterYSize(map->m_pDataset), map->m_geoTransform);
    doc.m_Maps[name] = map;
    doc.m_MapIdNames[map->m_imageDefId] = name;
    doc.m_MapHandleNames[map->m_imageEntity] = name;
    return map;
}

cv::Mat NoisySlope(int rows, int cols, double noise, float dx, float dy) {
    cv::Mat heights(rows, cols, CV_32FC1);
    cv::randu(heights, cv::Scalar(0.0), cv::Scalar(noise));
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            heights.at<float>(r, c) += dx * c + dy * r;
        }
    }
    return heights;
}

COrtho* AddOrthoLayer(CKelvaroDoc& doc, const QString& path, int index) {
    auto* ortho = new COrtho(&doc);
    ortho->m_path = path;
    ortho->m_name = QFileInfo(path).fileName().toLower();
    ortho->m_pDataset = GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
    GDALGetGeoTransform(ortho->m_pDataset, ortho->m_geoTransform);
    ortho->m_width = GDALGetRasterXSize(ortho->m_pDataset);
    ortho->m_height = GDALGetRasterYSize(ortho->m_pDataset);
    ortho->m_imageDefId = 2000 + index;
    ortho->m_imageEntity = AddImagePlace(doc, ortho->m_name, ortho->m_imageDefId, ortho->m_width,
                                         ortho->m_height, ortho->m_geoTransform);
    doc.m_Orthos[ortho->m_name] = ortho;
    doc.m_OrthoIdNames[ortho->m_imageDefId] = ortho->m_name;
    doc.m_OrthoHandleNames[ortho->m_imageEntity] = ortho->m_name;
    return ortho;
}

}  // namespace kvtest
