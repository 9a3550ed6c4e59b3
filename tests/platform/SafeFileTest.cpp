// The write layer: a file is replaced only by a complete, synced new version. A failure at any
// step, or a full disk under any of the writers built on it (drawing, DXF, LAS), reports failure
// and leaves the old file and no temporary behind.
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "konvertel/DxfWriter.h"
#include "platform/cad/Cad.h"
#include "platform/las/Las.h"
#include "platform/tools/SafeFile.h"
#include "support/Limits.h"
#include "support/TestEnv.h"

namespace {

QByteArray Bytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// Everything in the folder besides the files named.
QStringList Others(const QString& folder, const QStringList& files) {
    QStringList all = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    for (const QString& f : files) {
        all.removeAll(f);
    }
    return all;
}

class SafeFileTest : public ::testing::Test {
protected:
    void TearDown() override { kv::SetFileFaultHook({}); }
};

TEST_F(SafeFileTest, AFailureAtAnyStepLeavesTheOldFile) {
    const QString folder = kvtest::NewTempFolder("steps");
    const QString path = folder + "/data.bin";
    // Larger than the device's buffer, so that it takes more than one write.
    const QByteArray fresh(200000, 'n');
    for (kv::FileStep failing :
         {kv::FileStep::Write, kv::FileStep::Flush, kv::FileStep::Sync, kv::FileStep::Rename}) {
        WriteFile(path, "old contents");
        kv::SetFileFaultHook(
            [failing](kv::FileStep step, const QString&) { return step == failing ? EIO : 0; });
        {
            kv::SafeFile file(path);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(fresh);
            EXPECT_FALSE(file.commit());
        }
        kv::SetFileFaultHook({});
        EXPECT_EQ(Bytes(path), "old contents");
        EXPECT_TRUE(Others(folder, {"data.bin"}).isEmpty())
            << Others(folder, {"data.bin"}).join(',').toStdString();
    }
    // A device given up, or dropped without a commit, changes nothing either.
    {
        kv::SafeFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(fresh);
    }
    EXPECT_EQ(Bytes(path), "old contents");
    kv::SafeFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    EXPECT_EQ(file.write(fresh), fresh.size());
    EXPECT_TRUE(file.commit());
    EXPECT_EQ(Bytes(path), fresh);
    EXPECT_TRUE(Others(folder, {"data.bin"}).isEmpty());
}

TEST_F(SafeFileTest, AFullDiskNeverReplacesADrawingADxfOrALasFile) {
    const QString folder = kvtest::NewTempFolder("full");
    CadDrawing* drawing = CadCreate();
    for (int i = 0; i < 200; ++i) {
        CadAddLine(drawing, i, 0, 0, i, 100, 0);
    }
    const QString vec = folder + "/drawing.vec";
    const QString dxf = folder + "/drawing.dxf";
    const QString las = folder + "/points.las";
    for (const QString& path : {vec, dxf, las}) {
        WriteFile(path, "old contents");
    }
    {
        kvtest::FileSizeLimit full(4096);
        EXPECT_EQ(CadFileSaveAs(drawing, 0, QFile::encodeName(vec).constData()), 0);
        std::string error;
        EXPECT_EQ(DxfWriteDrawing(drawing, dxf, &error), 0);
        EXPECT_FALSE(error.empty());

        LASheader header;
        header.pointDataFormat = 1;
        header.pointDataRecordLength = 28;
        LASwriteOpener opener;
        opener.SetFileName(las);
        std::unique_ptr<LASwriterLAS> writer = opener.Open(header);
        bool written = writer != nullptr;
        for (int i = 0; written && i < 1000; ++i) {
            LASpoint p;
            p.X = i;
            written = writer->WritePoint(p);
        }
        EXPECT_FALSE(written && writer->Close());
    }
    CadDelete(drawing);
    for (const QString& path : {vec, dxf, las}) {
        EXPECT_EQ(Bytes(path), "old contents") << path.toStdString();
    }
    EXPECT_TRUE(Others(folder, {"drawing.vec", "drawing.dxf", "points.las"}).isEmpty())
        << Others(folder, {"drawing.vec", "drawing.dxf", "points.las"}).join(',').toStdString();
}

}  // namespace
