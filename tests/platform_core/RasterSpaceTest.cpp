// The room a new raster needs on the disk against the space free in its folder.
#include <QDir>
#include <QStorageInfo>

#include <gtest/gtest.h>

#include <cmath>

#include "platform/raster/RasterSpace.h"
#include "support/TestEnv.h"

TEST(RasterSpace, ARasterLargerThanTheFreeSpaceIsRefusedWithWhatItNeedsAndWhereAndAnUnknownDiskIsNotAsked) {
    EXPECT_EQ(kv::RasterBytes(100000, 100000, 1, GDT_Float32), 4e10);
    EXPECT_EQ(kv::RasterBytes(10, 20, 3, GDT_Byte), 600.0);
    const QString folder = kvtest::NewTempFolder("space");
    const double free = double(QStorageInfo(folder).bytesAvailable());
    ASSERT_GT(free, 1e6);
    QString message = "unchanged";
    EXPECT_TRUE(kv::RasterFitsOnDisk(folder + "/small.tif", 100, 100, 3, GDT_Float32, &message));
    EXPECT_EQ(message, "unchanged");
    // Half as much again as the disk holds, in Float64 cells.
    const double columns = std::ceil(free * 1.5 / 8.0);
    EXPECT_FALSE(kv::RasterFitsOnDisk(folder + "/large.tif", columns, 1, 1, GDT_Float64, &message));
    EXPECT_TRUE(message.startsWith(QStringLiteral("A raster of %1 x 1 cells needs ").arg(columns, 0, 'f', 0)))
        << message.toStdString();
    EXPECT_TRUE(message.endsWith(" free in " + QDir::toNativeSeparators(folder))) << message.toStdString();
    EXPECT_FALSE(kv::RasterFitsOnDisk(folder + "/huge.tif", 1e9, 1e9, 3, GDT_Float32, &message));
    EXPECT_TRUE(
        message.startsWith("A raster of 1000000000 x 1000000000 cells needs 10913936.4 TB, more than the "))
        << message.toStdString();
    // A folder that does not exist: the space cannot be told, and the writer finds out itself.
    EXPECT_TRUE(kv::RasterFitsOnDisk(folder + "/missing/sub/huge.tif", 1e9, 1e9, 3, GDT_Float32));
}
