#include "MosaicFixtures.h"

#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "support/TestEnv.h"

namespace mtest {

namespace {

QString CutBands321(const QString& source, const QString& target, int firstColumn, int width, double* gt) {
    GDALDatasetH in = GDALOpen(QFile::encodeName(source).constData(), GA_ReadOnly);
    EXPECT_NE(in, nullptr);
    const std::string column = std::to_string(firstColumn), columns = std::to_string(width);
    const char* args[] = {"-of", "GTiff", "-srcwin", column.c_str(), "0", columns.c_str(), "352", "-b",
                          "3",   "-b",    "2",       "-b",           "1", nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH out = GDALTranslate(QFile::encodeName(target).constData(), in, options, nullptr);
    GDALTranslateOptionsFree(options);
    EXPECT_NE(out, nullptr);
    GDALGetGeoTransform(out, gt);
    GDALClose(out);
    GDALClose(in);
    return target;
}

}  // namespace

LandsatPair::LandsatPair(const QString& folder) {
    const QString source = kvtest::DataPath(QStringLiteral("L7_ETMs.tif"));
    paths[0] = CutBands321(source, folder + QStringLiteral("/scene_a.tif"), 0, 220, geoTransforms[0]);
    paths[1] = CutBands321(source, folder + QStringLiteral("/scene_b.tif"), 130, 219, geoTransforms[1]);
}

SyntheticImages::SyntheticImages() : m_drawing(CadCreate()) {}

SyntheticImages::~SyntheticImages() {
    m_images.clear();
    CadDelete(m_drawing);
}

COrtho* SyntheticImages::Add(int width, int height, double x, double y) {
    auto image = std::make_unique<COrtho>(nullptr);
    image->m_pDataset = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 0, GDT_Byte, nullptr);
    const double gt[6] = {x, 1.0, 0.0, y, 0.0, -1.0};
    std::copy(gt, gt + 6, image->m_geoTransform);
    image->m_width = width;
    image->m_height = height;
    CadClearVertices();
    CadAddVertex(x, y, 0);
    CadAddVertex(x + width, y, 0);
    CadAddVertex(x + width, y - height, 0);
    CadAddVertex(x, y - height, 0);
    image->m_imageEntity = CadAddPolyline(m_drawing, 0, 1);
    m_images.push_back(std::move(image));
    return m_images.back().get();
}

std::vector<COrtho*> SyntheticImages::Records() const {
    std::vector<COrtho*> records;
    for (const auto& image : m_images) {
        records.push_back(image.get());
    }
    return records;
}

}  // namespace mtest
