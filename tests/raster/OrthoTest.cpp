#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "platform/tools/BusyScope.h"
#include "raster/Ortho.h"
#include "support/RasterFixtures.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

GDALDatasetH Open(const QString& path) {
    return GDALOpen(QFile::encodeName(path).constData(), GA_ReadOnly);
}

}  // namespace

TEST(Orthophoto, ScaledImageBlacksOutTheBorderAndKeepsDarkPixelsInside) {
    QString dir = kvtest::NewTempFolder("ortho");
    kvtest::RasterSpec spec;
    spec.width = 1000;
    spec.height = 750;
    spec.bands = 3;
    spec.type = GDT_Byte;
    spec.hasNoData = false;
    // A 100-pixel border of grey 1, an isolated black 8 x 8 spot inside, bright elsewhere.
    QString path = kvtest::WriteRaster(dir + "/o.tif", spec, [](int c, int r, int b) {
        if (c < 100 || r < 100 || c >= 900 || r >= 650) {
            return 1.0;
        }
        if (c >= 500 && c < 508 && r >= 400 && r < 408) {
            return 0.0;
        }
        return 60.0 * b;
    });
    COrtho ortho(nullptr);
    EXPECT_TRUE(ortho.GetScaledImage(4).empty());
    ortho.m_pDataset = Open(path);
    ASSERT_NE(ortho.m_pDataset, nullptr);
    cv::Mat image = ortho.GetScaledImage(4);
    ASSERT_EQ(image.size(), cv::Size(250, 187));
    ASSERT_EQ(image.type(), CV_8UC3);
    EXPECT_EQ(image.at<cv::Vec3b>(10, 10), cv::Vec3b(0, 0, 0));
    // Inside: bands 3, 2, 1 in blue, green, red order.
    EXPECT_EQ(image.at<cv::Vec3b>(50, 50), cv::Vec3b(180, 120, 60));
    EXPECT_EQ(image.at<cv::Vec3b>(101, 126), cv::Vec3b(0, 0, 0));  // the spot itself stays black
    // Its neighbours are kept, since the mask closes the hole.
    EXPECT_EQ(image.at<cv::Vec3b>(99, 124), cv::Vec3b(180, 120, 60));
    EXPECT_EQ(image.at<cv::Vec3b>(102, 127), cv::Vec3b(180, 120, 60));
    EXPECT_TRUE(ortho.GetScaledImage(0).empty());
}

TEST(Orthophoto, ThumbnailOfARealScene) {
    COrtho ortho(nullptr);
    ortho.m_pDataset = Open(kvtest::DataPath("L7_ETMs.tif"));
    ASSERT_NE(ortho.m_pDataset, nullptr);
    cv::Mat thumb = ortho.ExtractThumbnail(cv::Size(349, 352));
    ASSERT_FALSE(thumb.empty());
    uchar band3 = 0;
    ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ortho.m_pDataset, 3), GF_Read, 20, 30, 1, 1, &band3, 1, 1,
                           GDT_Byte, 0, 0),
              CE_None);
    EXPECT_EQ(thumb.at<cv::Vec3b>(30, 20)[0], band3);
    EXPECT_TRUE(ortho.ExtractThumbnail(cv::Size(0, 5)).empty());
}

TEST(Orthophoto, AFileCutShortAfterItWasOpenedGivesNoThumbnailAndIsReported) {
    const QString path = kvtest::NewTempFolder("ortho_cut") + "/scene.tif";
    ASSERT_TRUE(QFile::copy(kvtest::DataPath("l7_rgb_west.tif"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    COrtho ortho(nullptr);
    ortho.m_path = path;
    ortho.m_pDataset = Open(path);
    ASSERT_NE(ortho.m_pDataset, nullptr);
    ASSERT_TRUE(QFile::resize(path, QFileInfo(path).size() * 2 / 5));

    kvtest::ScriptedInteraction ui;
    {
        kv::BusyScope command;
        EXPECT_TRUE(ortho.ExtractThumbnail(cv::Size(110, 176)).empty());
        EXPECT_TRUE(ortho.GetScaledImage(2).empty());
    }
    ASSERT_EQ(ui.MessageTexts().size(), 1u) << ui.MessageTexts().join(" | ").toStdString();
    EXPECT_TRUE(QRegularExpression("^Unable to read " + QRegularExpression::escape(path) + ": \\S")
                    .match(ui.MessageTexts()[0])
                    .hasMatch())
        << ui.MessageTexts()[0].toStdString();
}
