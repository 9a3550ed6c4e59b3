// The room a new raster needs on the disk against the space free in its folder.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStorageInfo>

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

#include "platform/raster/RasterSpace.h"
#include "platform/tools/SafeFile.h"
#include "support/Limits.h"
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

TEST(RasterSpace, AFolderThatTakesNoFileIsNamedAsSuchAndSpaceOnlyWhenItIsShort) {
    const QString folder = kvtest::NewTempFolder("unwritable");
    const double free = double(QStorageInfo(folder).bytesAvailable());
    QString message;
    // A read-only disk takes not even a small raster; it is named whatever space is left, and
    // the writer's cause is the same text.
    {
        kvtest::FileFault readOnly(kv::FileStep::Write, EROFS, "/dem.gtif");
        const kv::FailureCauseScope causes;
        EXPECT_FALSE(kv::RasterFitsOnDisk(folder + "/dem.gtif", 10, 10, 1, GDT_Float32, &message));
        EXPECT_EQ(message, "The folder " + QDir::toNativeSeparators(folder) +
                               " cannot be written: Read-only file system");
        EXPECT_EQ(kv::FailureCause(), message);
        EXPECT_FALSE(kv::RasterFitsOnDisk(folder + "/dem.gtif", free, 2, 1, GDT_Float64, &message));
        EXPECT_TRUE(message.endsWith("cannot be written: Read-only file system")) << message.toStdString();
        EXPECT_EQ(kv::WriteRefusal(folder + "/dem.gtif"), "Read-only file system");
    }
    // Nothing is left of the trial, and a folder that takes files refuses for space alone.
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(kv::WriteRefusal(folder + "/dem.gtif"), "");
    EXPECT_TRUE(kv::RasterFitsOnDisk(folder + "/dem.gtif", 10, 10, 1, GDT_Float32));
    // A raster a few cells larger than the space free: the two sizes are never told alike. (The
    // disk is shared: when its free space grew meanwhile, the raster is tried again.)
    bool refused = false;
    for (int attempt = 0; attempt < 5 && !refused; ++attempt) {
        const double columns = std::ceil(double(QStorageInfo(folder).bytesAvailable()) / 8.0) + 4;
        refused = !kv::RasterFitsOnDisk(folder + "/dem.gtif", columns, 1, 1, GDT_Float64, &message);
    }
    ASSERT_TRUE(refused);
    const QRegularExpressionMatch sizes =
        QRegularExpression(QStringLiteral("needs (.*), more than the (.*) free in ")).match(message);
    ASSERT_TRUE(sizes.hasMatch()) << message.toStdString();
    EXPECT_NE(sizes.captured(1), sizes.captured(2)) << message.toStdString();
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty());

    // A folder the user may not write, where the system refuses it (not to the superuser).
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
        EXPECT_FALSE(kv::RasterFitsOnDisk(folder + "/dem.gtif", 10, 10, 1, GDT_Float32, &message));
        EXPECT_TRUE(message.endsWith("cannot be written: Permission denied")) << message.toStdString();
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
