#include "MosaicFixtures.h"

#include <QFile>

#include <gdal.h>
#include <gdal_utils.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "document/KelvaroDoc.h"
#include "document/UserCommands.h"
#include "mosaic/MosaicCommands.h"
#include "platform/ui/ActiveCommand.h"
#include "support/TestEnv.h"

bool RunDocCommand(CKelvaroDoc& doc, int ribbonId) {
    return doc.OnCommand(ribbonId);
}

namespace mtest {

QString CutLandsat(const QString& target, int column, int row, int width, int height, double* gt) {
    GDALDatasetH in =
        GDALOpen(QFile::encodeName(kvtest::DataPath(QStringLiteral("L7_ETMs.tif"))).constData(), GA_ReadOnly);
    if (!in) {
        return QString();
    }
    const std::string window[4] = {std::to_string(column), std::to_string(row), std::to_string(width),
                                   std::to_string(height)};
    const char* args[] = {"-of",
                          "GTiff",
                          "-srcwin",
                          window[0].c_str(),
                          window[1].c_str(),
                          window[2].c_str(),
                          window[3].c_str(),
                          "-b",
                          "3",
                          "-b",
                          "2",
                          "-b",
                          "1",
                          nullptr};
    GDALTranslateOptions* options = GDALTranslateOptionsNew(const_cast<char**>(args), nullptr);
    GDALDatasetH out = GDALTranslate(QFile::encodeName(target).constData(), in, options, nullptr);
    GDALTranslateOptionsFree(options);
    GDALClose(in);
    if (!out) {
        return QString();
    }
    double local[6];
    GDALGetGeoTransform(out, gt ? gt : local);
    GDALClose(out);
    return target;
}

LandsatPair::LandsatPair(const QString& folder) {
    paths[0] = CutLandsat(folder + QStringLiteral("/scene_a.tif"), 0, 0, 220, 352, geoTransforms[0]);
    paths[1] = CutLandsat(folder + QStringLiteral("/scene_b.tif"), 130, 0, 219, 352, geoTransforms[1]);
    EXPECT_FALSE(paths[0].isEmpty() || paths[1].isEmpty());
}

QString PrepareMosaicCommands() {
    GDALAllRegister();
    GetCommandRegistry().Reset();
    GetDocumentProcedures().Reset();
    RegisterMosaicCommands(GetCommandRegistry(), GetDocumentProcedures());
    ActiveCadCommandId = 0;
    return kvtest::NewTempFolder(
        QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()));
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
