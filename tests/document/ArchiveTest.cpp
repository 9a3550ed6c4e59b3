// The project archive: the exact bytes of a project, the layouts of older versions, and the
// refusal of damaged files without anything half-read.
#include <QBuffer>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <functional>

#include "document/archive/ProjectArchive.h"
#include "raster/ArchiveStream.h"
#include "support/TestEnv.h"

namespace {

QByteArray Hex(const char* text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray Bytes(const std::function<void(kv::ArchiveWriter&)>& f) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    kv::ArchiveWriter out(&buffer);
    f(out);
    EXPECT_TRUE(out.Ok());
    return buffer.data();
}

QByteArray WrittenBytes(const ProjectArchiveData& data) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_EQ(WriteProjectArchive(&buffer, data), 1);
    return buffer.data();
}

QByteArray FileBytes(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

// A project with a layer of every kind: two DEMs, an orthophoto, a map of each kind with a code
// of its own and one without.
ProjectArchiveData FullProject() {
    ProjectArchiveData data;
    DemArchiveRecord hill;
    hill.minElevation = 101.5;
    hill.maxElevation = 880.25;
    hill.name = "hill.tif";
    hill.path = "/survey/Hill.tif";
    hill.linkedIds = {17, 4, 65536};
    hill.colorRangeMax = 800.0;
    hill.colorRangeMin = 150.0;
    hill.paletteIndex = 3;
    hill.colorCount = 64;
    hill.revert = true;
    DemArchiveRecord valley = hill;
    valley.name = "valley.img";
    valley.path = "/survey/Valley.img";
    valley.linkedIds.clear();
    valley.invert = true;
    valley.revert = false;
    data.dems = {hill, valley};
    data.orthos = {OrthoArchiveRecord{"tile 1.tif", "/ortho/Tile 1.tif", {9, 10}}};
    data.orthoVisible = 0;
    data.orthoOpacity = 0.37;
    data.seamlineScaleFactor = 2.5;
    data.balancingScaleFactor = 8.0;
    const int32_t codes[] = {0, 1, 2, 3, 4, -1};
    for (int32_t code : codes) {
        MapArchiveRecord map;
        map.name = QStringLiteral("map %1").arg(code);
        map.path = QStringLiteral("/maps/map %1.tif").arg(code);
        map.storedCode = code;
        map.paletteIndex = 10 + code;
        map.revert = code % 2 != 0;
        map.colorCount = 100 + code;
        map.rangeMax = 1.0 + code;
        map.rangeMin = -1.0 - code;
        data.maps.push_back(map);
    }
    return data;
}

// A project that the reader must leave alone: reading anything damaged must not touch it.
ProjectArchiveData Sentinel() {
    ProjectArchiveData data;
    data.version = 42;
    data.orthoOpacity = 0.5;
    data.dems.resize(1);
    data.dems[0].name = "kept.tif";
    return data;
}

void ExpectRefused(const QByteArray& bytes, const char* what) {
    ProjectArchiveData data = Sentinel();
    QString error;
    EXPECT_EQ(ReadProjectArchive(bytes, data, &error), 0) << what;
    EXPECT_EQ(error, "File reading error") << what;
    EXPECT_EQ(data, Sentinel()) << what;
}

// The DEM record of archives before version 4: elevations, name and path.
void WriteDemV1(kv::ArchiveWriter& out, const QString& name) {
    out.WriteDouble(5.0);
    out.WriteDouble(50.0);
    out.WriteString(name);
    out.WriteString("/old/" + name);
}

}  // namespace

TEST(ArchiveProject, EmptyProjectIsExactlyTheseBytes) {
    ProjectArchiveData data;
    data.orthoVisible = 1;
    data.orthoOpacity = 0.5;
    data.seamlineScaleFactor = 2.0;
    data.balancingScaleFactor = 0.25;
    const QString path = kvtest::NewTempFolder("archive-empty") + "/empty.kvp";
    ASSERT_EQ(WriteProjectArchive(path, data), 1);
    EXPECT_EQ(FileBytes(path), Hex("06000000"          // version
                                   "00000000"          // DEMs
                                   "00000000"          // orthophotos
                                   "01000000"          // ortho visible
                                   "000000000000E03F"  // opacity 0.5
                                   "0000000000000040"  // seamline cell size 2.0
                                   "000000000000D03F"  // balancing cell size 0.25
                                   "00000000"));       // maps
    // Only the archive is left in the folder: the temporary file was renamed into place.
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{"empty.kvp"});
}

TEST(ArchiveProject, FullProjectRoundTripsFieldForField) {
    const ProjectArchiveData data = FullProject();
    const QString path = kvtest::NewTempFolder("archive-full") + "/full.kvp";
    ASSERT_EQ(WriteProjectArchive(path, data), 1);
    ProjectArchiveData back;
    QString error;
    ASSERT_EQ(ReadProjectArchive(path, back, &error), 1) << error.toStdString();
    EXPECT_EQ(back, data);
    EXPECT_EQ(back.version, 6);

    // Writing what was read gives the same bytes again.
    EXPECT_EQ(WrittenBytes(back), FileBytes(path));

    // The map kinds come back from their codes.
    MapLayerInfo ndvi = ArchivedMapLayerInfo(back.maps[2]);
    EXPECT_EQ(ndvi.mapType, MapTypeNDVI);
    EXPECT_EQ(ndvi.title, "map 2");
    EXPECT_EQ(ndvi.path, "/maps/map 2.tif");
    EXPECT_EQ(ndvi.ownPalette, 1);
    EXPECT_EQ(ndvi.opacity, 100);
    EXPECT_EQ(ndvi.rangeMin, -3.0);
    EXPECT_EQ(ndvi.rangeMax, 3.0);
    EXPECT_EQ(ArchivedMapLayerInfo(back.maps[5]).mapType, MapTypeOther);
}

TEST(ArchiveProject, OlderVersionsReadAndAreRewrittenAsVersionSix) {
    // Version 1: DEMs and orthophotos without links, ortho visible and opacity; nothing after.
    QByteArray v1 = Bytes([](kv::ArchiveWriter& out) {
        out.WriteInt32(1);
        out.WriteInt32(1);
        WriteDemV1(out, "a.tif");
        out.WriteInt32(1);
        out.WriteString("o.tif");
        out.WriteString("/old/o.tif");
        out.WriteInt32(1);
        out.WriteDouble(0.75);
    });
    // Version 4: linked entities of orthophotos and DEMs, the cell sizes; still no maps.
    QByteArray v4 = Bytes([](kv::ArchiveWriter& out) {
        out.WriteInt32(4);
        out.WriteInt32(1);
        WriteDemV1(out, "b.tif");
        out.WriteUInt64(2);
        out.WriteUInt32(7);
        out.WriteUInt32(8);
        out.WriteInt32(1);
        out.WriteString("o.tif");
        out.WriteString("/old/o.tif");
        out.WriteUInt64(1);
        out.WriteUInt32(3);
        out.WriteInt32(0);
        out.WriteDouble(0.2);
        out.WriteDouble(1.5);
        out.WriteDouble(6.0);
    });

    ProjectArchiveData read1;
    ASSERT_EQ(ReadProjectArchive(v1, read1), 1);
    EXPECT_EQ(read1.version, 1);
    ASSERT_EQ(read1.dems.size(), 1u);
    EXPECT_EQ(read1.dems[0].path, "/old/a.tif");
    EXPECT_EQ(read1.dems[0].maxElevation, 50.0);
    EXPECT_TRUE(read1.dems[0].linkedIds.empty());
    EXPECT_FALSE(read1.dems[0].hasColors);
    ASSERT_EQ(read1.orthos.size(), 1u);
    EXPECT_TRUE(read1.orthos[0].linkedIds.empty());
    EXPECT_EQ(read1.orthoOpacity, 0.75);
    EXPECT_EQ(read1.seamlineScaleFactor, 0.0);
    EXPECT_TRUE(read1.maps.empty());

    ProjectArchiveData read4;
    ASSERT_EQ(ReadProjectArchive(v4, read4), 1);
    EXPECT_EQ(read4.version, 4);
    EXPECT_EQ(read4.dems[0].linkedIds, (std::vector<uint32_t>{7, 8}));
    // No colour block: the default palette with the range still to be chosen.
    EXPECT_FALSE(read4.dems[0].hasColors);
    EXPECT_EQ(read4.dems[0].paletteIndex, 0);
    EXPECT_EQ(read4.dems[0].colorCount, 100);
    EXPECT_EQ(read4.dems[0].colorRangeMin, -9999.0);
    EXPECT_EQ(read4.dems[0].colorRangeMax, 9999.0);
    EXPECT_EQ(read4.orthos[0].linkedIds, (std::vector<uint32_t>{3}));
    EXPECT_EQ(read4.orthoVisible, 0);
    EXPECT_EQ(read4.seamlineScaleFactor, 1.5);
    EXPECT_EQ(read4.balancingScaleFactor, 6.0);

    for (const ProjectArchiveData* old : {&read1, &read4}) {
        ProjectArchiveData again;
        ASSERT_EQ(ReadProjectArchive(WrittenBytes(*old), again), 1);
        EXPECT_EQ(again.version, 6);
        EXPECT_TRUE(again.dems[0].hasColors);
        EXPECT_EQ(again.dems[0].path, old->dems[0].path);
        EXPECT_EQ(again.dems[0].linkedIds, old->dems[0].linkedIds);
        EXPECT_EQ(again.orthos, old->orthos);
        EXPECT_EQ(again.orthoOpacity, old->orthoOpacity);
    }

    // Version 6 as written; version 0 holds the version alone; a later version is read with the
    // layout of version 6.
    QByteArray v6 = WrittenBytes(FullProject());
    ProjectArchiveData read6;
    ASSERT_EQ(ReadProjectArchive(v6, read6), 1);
    EXPECT_EQ(read6, FullProject());
    ProjectArchiveData read0 = Sentinel();
    ASSERT_EQ(ReadProjectArchive(Hex("00000000"), read0), 1);
    EXPECT_EQ(read0.version, 0);
    EXPECT_TRUE(read0.dems.empty());
    QByteArray v9 = v6;
    v9[0] = 9;
    ProjectArchiveData read9;
    ASSERT_EQ(ReadProjectArchive(v9, read9), 1);
    EXPECT_EQ(read9.version, 9);
    EXPECT_EQ(read9.maps, FullProject().maps);
}

TEST(ArchiveProject, DamagedFilesAreRefusedWithNothingHalfRead) {
    const QByteArray whole = WrittenBytes(FullProject());
    for (qsizetype length = 0; length < whole.size(); ++length) {
        ExpectRefused(whole.left(length), "truncated");
    }
    ExpectRefused(Hex("FFFFFFFF"), "negative version");
    ExpectRefused(Hex("06000000 FFFFFF7F"), "DEM count beyond the file");
    ExpectRefused(Hex("06000000 FFFFFFFF"), "negative DEM count");
    ExpectRefused(Hex("06000000 00000000 10000000 0000"), "orthophoto count beyond the file");
    // A linked-entity count that would need exabytes.
    ExpectRefused(Bytes([](kv::ArchiveWriter& out) {
                      out.WriteInt32(6);
                      out.WriteInt32(1);
                      WriteDemV1(out, "a.tif");
                      out.WriteUInt64(0x2000000000000000ull);
                      out.WriteUInt32(1);
                  }),
                  "linked-entity count beyond the file");
    // A map count just one more than the maps there are.
    QByteArray maps = whole;
    ProjectArchiveData withoutMaps = FullProject();
    withoutMaps.maps.clear();
    const qsizetype mapCountAt = WrittenBytes(withoutMaps).size() - 4;
    ASSERT_EQ(maps.mid(mapCountAt, 4), Hex("06000000"));
    maps[mapCountAt] = 7;
    ExpectRefused(maps, "map count beyond the maps");
    // A colour count no palette can have, in a map record and in a DEM record.
    ProjectArchiveData hostile = FullProject();
    hostile.maps[0].colorCount = 2000000000;
    ExpectRefused(WrittenBytes(hostile), "map colour count");
    hostile = FullProject();
    hostile.dems[0].colorCount = 2000000000;
    ExpectRefused(WrittenBytes(hostile), "DEM colour count");

    ProjectArchiveData data = Sentinel();
    QString error;
    EXPECT_EQ(ReadProjectArchive(kvtest::TempDir() + "/no such project.kvp", data, &error), 0);
    EXPECT_EQ(error, "File reading error");
    EXPECT_EQ(data, Sentinel());
}

TEST(ArchiveProject, TextsAreUtf8AndOlderSingleByteTextsStillRead) {
    ProjectArchiveData data;
    data.orthos = {OrthoArchiveRecord{"höhe.tif", "/daten/Höhe €.tif", {}}};
    const QByteArray bytes = WrittenBytes(data);
    // The length prefix counts the UTF-8 bytes.
    EXPECT_TRUE(bytes.contains(QByteArray("\x09h\xC3\xB6he.tif")));
    ProjectArchiveData back;
    ASSERT_EQ(ReadProjectArchive(bytes, back), 1);
    EXPECT_EQ(back.orthos, data.orthos);

    // The same names as a file of the former single-byte code page stored them.
    QByteArray old = Hex("01000000 00000000 01000000");
    old += QByteArray("\x08h\xF6he.tif", 9);
    old += QByteArray("\x11/daten/H\xF6he \x80.tif", 18);
    old += Hex("01000000 000000000000F03F");
    ASSERT_EQ(ReadProjectArchive(old, back), 1);
    EXPECT_EQ(back.orthos, data.orthos);
}

TEST(ArchiveProject, FailedWriteIsReported) {
    QString error;
    EXPECT_EQ(WriteProjectArchive(kvtest::TempDir() + "/missing folder/p.kvp", ProjectArchiveData(), &error),
              0);
    EXPECT_EQ(error, "File writing error");

    // A device that takes nothing: the writer reports it.
    QBuffer closed;
    EXPECT_EQ(WriteProjectArchive(&closed, FullProject()), 0);
}
