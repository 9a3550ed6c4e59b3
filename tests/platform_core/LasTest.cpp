#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include "platform/las/Las.h"
#include "platform_core/LasTestData.h"
#include "support/TestEnv.h"

namespace {

std::unique_ptr<LASreader> OpenLas(const QString& path, QString* error = nullptr) {
    LASreadOpener opener;
    opener.SetFileName(path);
    return opener.Open(error);
}

struct Bounds {
    double minX = HUGE_VAL, maxX = -HUGE_VAL, minY = HUGE_VAL, maxY = -HUGE_VAL, minZ = HUGE_VAL,
           maxZ = -HUGE_VAL;
};

// Reads every point; returns the count and the bounds of the scaled coordinates.
uint64_t ReadAll(LASreader* reader, Bounds* b = nullptr) {
    uint64_t n = 0;
    Bounds local;
    while (reader->ReadPoint()) {
        ++n;
        local.minX = std::min(local.minX, reader->GetX());
        local.maxX = std::max(local.maxX, reader->GetX());
        local.minY = std::min(local.minY, reader->GetY());
        local.maxY = std::max(local.maxY, reader->GetY());
        local.minZ = std::min(local.minZ, reader->GetZ());
        local.maxZ = std::max(local.maxZ, reader->GetZ());
    }
    if (b) {
        *b = local;
    }
    return n;
}

// Every field of a point, to compare points whole.
auto Fields(const LASpoint& p) {
    return std::make_tuple(p.X, p.Y, p.Z, p.intensity, p.returnNumber, p.numberOfReturns, p.scanDirectionFlag,
                           p.edgeOfFlightLine, p.classification, p.classificationFlags, p.scannerChannel,
                           p.userData, p.scanAngle, p.pointSourceId, p.gpsTime, p.rgb, p.wavePacket,
                           p.extraBytes);
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

QString WriteBytes(const QString& name, const QByteArray& bytes) {
    QString path = kvtest::TempDir() + '/' + name;
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return path;
}

}  // namespace

TEST(LasReader, GoodFilesGiveTheHeaderCountAndPointsWithinTheHeaderBounds) {
    struct Case {
        QString path;
        uint64_t count;
        int format;
    };
    std::vector<Case> cases = {
        {kvtest::DataPath("simple.las"), 1065, 3},
        {kvtest::DataPath("1.2-with-color.las"), 1065, 3},
        {kvtest::DataPath("100-points.las"), 100, 3},
        {kvtest::DataPath("permutations_1.0_0.las"), 1, 0},
        {kvtest::DataPath("permutations_1.1_1.las"), 1, 1},
        {kvtest::DataPath("permutations_1.2_3.las"), 1, 3},
        {kvtest::DataPath("test1_4.las"), 1000, 6},
        {kvtest::DataPath("extrabytes.las"), 1065, 3},
    };
    // The larger real files are read in place where the shared test data are at hand.
    for (const char* name : {"autzen_trim.las", "4_6_crop.las"}) {
        QString path = SharedLasPath(name);
        if (!path.isEmpty()) {
            cases.push_back({path, name[0] == 'a' ? 110000u : 23875u, 3});
        }
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        QString error;
        auto reader = OpenLas(c.path, &error);
        ASSERT_TRUE(reader) << error.toStdString();
        EXPECT_TRUE(reader->Warning().isEmpty()) << reader->Warning().toStdString();
        EXPECT_EQ(reader->header.numberOfPointRecords, c.count);
        EXPECT_EQ(reader->header.pointDataFormat, c.format);
        Bounds b;
        EXPECT_EQ(ReadAll(reader.get(), &b), c.count);
        EXPECT_EQ(reader->Shortfall(), 0u);
        const LASheader& h = reader->header;
        EXPECT_NEAR(b.minX, h.minX, h.xScaleFactor);
        EXPECT_NEAR(b.maxX, h.maxX, h.xScaleFactor);
        EXPECT_NEAR(b.minY, h.minY, h.yScaleFactor);
        EXPECT_NEAR(b.maxY, h.maxY, h.yScaleFactor);
        EXPECT_NEAR(b.minZ, h.minZ, h.zScaleFactor);
        EXPECT_NEAR(b.maxZ, h.maxZ, h.zScaleFactor);
    }
}

TEST(LasReader, DecodesEveryFieldOfLegacyAndExtendedPoints) {
    auto reader = OpenLas(kvtest::DataPath("simple.las"));
    ASSERT_TRUE(reader && reader->ReadPoint());
    EXPECT_DOUBLE_EQ(reader->GetX(), 637012.24);
    EXPECT_DOUBLE_EQ(reader->GetY(), 849028.31);
    EXPECT_DOUBLE_EQ(reader->GetZ(), 431.66);
    LASpoint first;
    first.X = 63701224;
    first.Y = 84902831;
    first.Z = 43166;
    first.intensity = 143;
    first.scanDirectionFlag = 1;
    first.classification = 1;
    first.scanAngle = -9;
    first.userData = 132;
    first.pointSourceId = 7326;
    first.gpsTime = 245380.78254962614;
    first.rgb = {68, 77, 88, 0};
    EXPECT_EQ(Fields(reader->point), Fields(first));
    int ground = 1;  // counted from the second point on
    while (reader->ReadPoint()) {
        ground += reader->point.classification == 2 ? 1 : 0;
    }
    EXPECT_EQ(ground - 1, 276);

    reader = OpenLas(kvtest::DataPath("test1_4.las"));
    ASSERT_TRUE(reader && reader->ReadPoint());
    EXPECT_EQ(reader->header.versionMinor, 4);
    EXPECT_EQ(reader->header.vlrs.size(), 2u);
    EXPECT_EQ(reader->point.classification, 2);
    EXPECT_EQ(reader->point.classificationFlags, 8);  // overlap
    EXPECT_EQ(reader->point.scanDirectionFlag, 1);
    EXPECT_EQ(reader->point.scanAngle, 3005);
    EXPECT_EQ(reader->point.pointSourceId, 202);
    EXPECT_NEAR(reader->point.gpsTime, 83177420.534005, 1e-6);

    reader = OpenLas(kvtest::DataPath("extrabytes.las"));
    ASSERT_TRUE(reader && reader->ReadPoint());
    EXPECT_EQ(reader->header.ExtraBytes(), 27);
    EXPECT_EQ(reader->point.extraBytes.size(), 27u);
    EXPECT_EQ(reader->point.rgb[2], 88);  // the fields before the extra bytes are unchanged
}

TEST(LasReader, DamagedFilesReadWhatTheyHoldAndSayWhatIsWrong) {
    // More records announced than fit before the points: the points are still found.
    auto reader = OpenLas(kvtest::DataPath("bad_vlr_count.las"));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->header.vlrs.size(), 2u);
    EXPECT_FALSE(reader->Warning().isEmpty());
    EXPECT_EQ(ReadAll(reader.get()), 10u);

    // A garbage record count and a last record cut short.
    reader = OpenLas(kvtest::DataPath("garbage_nVariableLength.las"));
    ASSERT_TRUE(reader);
    EXPECT_TRUE(reader->header.vlrs.empty());
    EXPECT_EQ(ReadAll(reader.get()), 718u);
    EXPECT_EQ(reader->Shortfall(), 1u);

    reader = OpenLas(kvtest::DataPath("1.2-with-color-clipped.las"));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->header.numberOfPointRecords, 1065u);
    EXPECT_EQ(reader->PointCount(), 1064u);
    EXPECT_EQ(reader->Shortfall(), 1u);
    EXPECT_TRUE(reader->Warning().contains("1064 of the 1065")) << reader->Warning().toStdString();
    EXPECT_EQ(ReadAll(reader.get()), 1064u);
    EXPECT_FALSE(reader->ReadPoint());

    reader = OpenLas(kvtest::DataPath("gps-time-nan.las"));
    ASSERT_TRUE(reader && reader->ReadPoint());
    EXPECT_TRUE(std::isnan(reader->point.gpsTime));
    EXPECT_FALSE(reader->ReadPoint());

    reader = OpenLas(kvtest::DataPath("no-points.las"));
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->header.vlrs.size(), 4u);
    EXPECT_FALSE(reader->ReadPoint());
    EXPECT_EQ(reader->Shortfall(), 0u);
}

TEST(LasReader, RefusesCompressedAndInvalidFilesWithAReason) {
    const QByteArray good = ReadBytes(kvtest::DataPath("simple.las"));
    auto refused = [](const QByteArray& bytes, const char* expected) {
        QString error;
        EXPECT_FALSE(OpenLas(WriteBytes("refused.las", bytes), &error));
        EXPECT_TRUE(error.contains(expected)) << error.toStdString();
    };
    QByteArray laz = good;
    laz[104] = char(laz[104] | 0x80);
    refused(laz, "LAZ");
    refused(good.left(200), "not a LAS file");
    QByteArray wrong = good;
    wrong[0] = 'X';
    refused(wrong, "not a LAS file");
    QByteArray version = good;
    version[25] = 9;
    refused(version, "version 1.9");
    QByteArray shortRecord = good;
    shortRecord[105] = 20;  // format 3 needs 34 bytes
    refused(shortRecord, "too short");
    QByteArray format = good;
    format[104] = 11;
    refused(format, "point format 11");
    QByteArray scale = good;
    std::memset(scale.data() + 131, 0, 8);
    refused(scale, "scale");
    QString error;
    EXPECT_FALSE(OpenLas(kvtest::TempDir() + "/missing.las", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(LasReader, RandomDamageAndTruncationNeverReadOutOfBounds) {
    const QByteArray good = ReadBytes(kvtest::DataPath("test1_4.las"));
    std::mt19937 rng(7);
    for (int trial = 0; trial < 300; ++trial) {
        QByteArray bytes = good;
        if (trial % 3 == 0) {
            bytes.truncate(int(rng() % uint32_t(good.size())));
        }
        // Damage the header and the records, where every offset and count lives.
        for (int k = 0; k < 4; ++k) {
            bytes[int(rng() % uint32_t(std::min<qsizetype>(bytes.size(), 2400) + 1)) %
                  std::max<qsizetype>(bytes.size(), 1)] = char(rng());
        }
        auto reader = OpenLas(WriteBytes("damaged.las", bytes));
        if (reader) {
            uint64_t n = ReadAll(reader.get());
            EXPECT_EQ(n, reader->PointCount());
            EXPECT_LE(n == 0 ? 0
                             : uint64_t(reader->header.offsetToPointData) +
                                   n * reader->header.pointDataRecordLength,
                      uint64_t(bytes.size()));
        }
    }
}

// The authority code of a coordinate system ("" when it has none or there is no system).
std::string AuthorityOf(const QString& wkt) {
    OGRSpatialReferenceH srs = OSRNewSpatialReference(wkt.toUtf8().constData());
    const char* code = srs ? OSRGetAuthorityCode(srs, nullptr) : nullptr;
    const std::string text = code ? code : "";
    OSRDestroySpatialReference(srs);
    return text;
}

// The coordinate system from the GeoTIFF keys (as LAS 1.0 to 1.3 files hold it, with or without
// double and text parameters) or from the WKT record, the one the WKT bit names first; records
// that GDAL cannot read give none, and damaged ones never read beyond what they hold.
TEST(LasCoordinateSystem, FromGeoTiffKeysOrTheWktRecordWhicheverTheFileNames) {
    const std::pair<const char*, const char*> files[] = {
        {"permutations_1.0_0.las", "26915"},
        {"bad_vlr_count.las", "32617"},
        {"no-points.las", "4269"},
        {"test1_4.las", "2903"},
        {"simple.las", ""},
    };
    for (const auto& [name, code] : files) {
        SCOPED_TRACE(name);
        auto reader = OpenLas(kvtest::DataPath(name));
        ASSERT_TRUE(reader);
        const QString wkt = LasCoordinateSystem(reader->header);
        EXPECT_EQ(AuthorityOf(wkt), code);
        EXPECT_EQ(wkt.isEmpty(), *code == 0);
    }

    // Keys of UTM 17N and a WKT record of UTM 15N: the keys, unless the WKT bit is set; a record
    // that is no coordinate system gives way to the other.
    LASheader header = OpenLas(kvtest::DataPath("bad_vlr_count.las"))->header;
    const LASheader utm15 = OpenLas(kvtest::DataPath("permutations_1.2_3.las"))->header;
    const auto wkt15 = std::find_if(utm15.vlrs.begin(), utm15.vlrs.end(),
                                    [](const LASvlr& v) { return v.recordId == 2112; });
    ASSERT_NE(wkt15, utm15.vlrs.end());
    header.AddVlr("LASF_Projection", 2112, wkt15->data);
    EXPECT_EQ(AuthorityOf(LasCoordinateSystem(header)), "32617");
    header.globalEncoding |= 1 << 4;
    EXPECT_EQ(AuthorityOf(LasCoordinateSystem(header)), "26915");
    header.vlrs.back().data.assign({'n', 'o', 'n', 'e'});
    EXPECT_EQ(AuthorityOf(LasCoordinateSystem(header)), "32617");

    // Damaged keys and parameters: key counts beyond the record, offsets beyond the parameters,
    // random bytes. Each gives some system or none, never a crash.
    const LASheader autzen = OpenLas(kvtest::DataPath("autzen_trim.las"))->header;
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        LASheader damaged;
        for (const LASvlr& record : autzen.vlrs) {
            if (record.userId == "LASF_Projection" && record.recordId != 2112) {
                damaged.vlrs.push_back(record);
            }
        }
        LASvlr& target = damaged.vlrs[size_t(random() % damaged.vlrs.size())];
        if (round % 3 == 0) {
            target.data.resize(size_t(random() % (target.data.size() + 1)));
        }
        for (int k = 0; k < 1 + round % 8 && !target.data.empty(); ++k) {
            target.data[size_t(random() % target.data.size())] = uint8_t(random());
        }
        const QString wkt = LasCoordinateSystem(damaged);
        EXPECT_TRUE(wkt.isEmpty() || !AuthorityOf(wkt).empty() || wkt.startsWith("PROJCS") ||
                    wkt.startsWith("GEOGCS") || wkt.startsWith("LOCAL_CS") || wkt.startsWith("COMPD_CS"))
            << wkt.toStdString();
    }
}

TEST(LasWriter, EveryPointFormatRoundTripsItsFields) {
    for (int format = 0; format <= 10; ++format) {
        SCOPED_TRACE(format);
        LASheader h;
        h.versionMinor = 2;  // raised by the writer where the format needs it
        h.pointDataFormat = uint8_t(format);
        h.pointDataRecordLength = uint16_t(LASheader::PointSize(format) + 3);
        h.xScaleFactor = h.yScaleFactor = 0.001;
        h.zScaleFactor = 0.01;
        h.xOffset = 500000;
        h.yOffset = 4000000;
        h.systemIdentifier = "test";
        h.AddVlr("LASF_Projection", 2112, {'W', 'K', 'T'}, "projection");
        const bool extended = format >= 6;
        if (extended) {
            h.evlrs.push_back(LASvlr{"big", 7, "extended", std::vector<uint8_t>(70000, 5)});
        }
        QString path = kvtest::TempDir() + QString("/format%1.las").arg(format);
        LASwriteOpener opener;
        opener.SetFileName(path);
        auto writer = opener.Open(h);
        ASSERT_TRUE(writer);
        std::vector<LASpoint> written;
        for (int i = 0; i < 3; ++i) {
            LASpoint p;
            p.X = -1000 + 700 * i;
            p.Y = 2000 - 300 * i;
            p.Z = 50 * i - 7;
            p.intensity = uint16_t(1000 + i);
            p.returnNumber = uint8_t(i + 1);
            p.numberOfReturns = 3;
            p.scanDirectionFlag = uint8_t(i & 1);
            p.edgeOfFlightLine = uint8_t((i + 1) & 1);
            p.classification = uint8_t(extended ? 40 + i : 2 + i);
            p.classificationFlags = uint8_t(extended ? 9 : 5);
            p.scannerChannel = uint8_t(extended ? 2 : 0);
            p.userData = uint8_t(200 + i);
            p.scanAngle = int16_t(extended ? -2500 : -12);
            p.pointSourceId = uint16_t(77 + i);
            p.gpsTime = (format == 0 || format == 2) ? 0.0 : 123456.5 + i;
            if (format == 2 || format == 3 || format == 5 || format == 7 || format == 8 || format == 10) {
                p.rgb = {uint16_t(100 * i), 2000, 65535, uint16_t(format == 8 || format == 10 ? 999 : 0)};
            }
            if (format == 4 || format == 5 || format == 9 || format == 10) {
                p.wavePacket.fill(uint8_t(i + 1));
            }
            p.extraBytes = {uint8_t(i), 0xAB, 0xCD};
            ASSERT_TRUE(writer->WritePoint(p));
            written.push_back(p);
        }
        EXPECT_FALSE(QFileInfo::exists(path));  // the name appears only once the file is complete
        ASSERT_TRUE(writer->Close()) << writer->Error().toStdString();

        auto reader = OpenLas(path);
        ASSERT_TRUE(reader);
        EXPECT_TRUE(reader->Warning().isEmpty()) << reader->Warning().toStdString();
        const LASheader& r = reader->header;
        EXPECT_EQ(r.versionMinor, extended ? 4 : format >= 4 ? 3 : 2);
        EXPECT_EQ(r.numberOfPointRecords, 3u);
        EXPECT_EQ(r.numberOfPointsByReturn[0], 1u);
        EXPECT_EQ(r.numberOfPointsByReturn[2], 1u);
        EXPECT_EQ(r.systemIdentifier, "test");
        ASSERT_EQ(r.vlrs.size(), 1u);
        EXPECT_EQ(r.vlrs[0].userId, "LASF_Projection");
        EXPECT_EQ(r.vlrs[0].recordId, 2112);
        EXPECT_EQ(r.vlrs[0].data.size(), 3u);
        ASSERT_EQ(r.evlrs.size(), extended ? 1u : 0u);
        if (extended) {
            EXPECT_EQ(r.evlrs[0].data.size(), 70000u);
        }
        EXPECT_DOUBLE_EQ(r.minX, 499999.0);
        EXPECT_DOUBLE_EQ(r.maxX, 500000.4);
        EXPECT_DOUBLE_EQ(r.maxZ, 0.93);
        for (const LASpoint& w : written) {
            ASSERT_TRUE(reader->ReadPoint());
            EXPECT_EQ(Fields(reader->point), Fields(w));
        }
        EXPECT_FALSE(reader->ReadPoint());
    }
}

TEST(LasWriter, CopyOfARealFileReadsTheSameAndUnfinishedFilesLeaveNothing) {
    auto reader = OpenLas(kvtest::DataPath("1.2-with-color.las"));
    ASSERT_TRUE(reader);
    QString path = kvtest::TempDir() + "/copy.las";
    LASwriteOpener opener;
    opener.SetFileName(path);
    auto writer = opener.Open(reader->header);
    ASSERT_TRUE(writer);
    while (reader->ReadPoint()) {
        ASSERT_TRUE(writer->WritePoint(reader->point));
    }
    ASSERT_TRUE(writer->Close());
    auto copy = OpenLas(path);
    ASSERT_TRUE(copy && reader->Rewind());
    EXPECT_EQ(copy->header.numberOfPointRecords, 1065u);
    EXPECT_EQ(copy->header.numberOfPointsByReturn, reader->header.numberOfPointsByReturn);
    EXPECT_DOUBLE_EQ(copy->header.maxY, reader->header.maxY);
    while (reader->ReadPoint()) {
        ASSERT_TRUE(copy->ReadPoint());
        EXPECT_EQ(Fields(copy->point), Fields(reader->point));
    }
    EXPECT_FALSE(copy->ReadPoint());

    // A writer dropped before Close leaves neither the file nor its temporary.
    QString dropped = kvtest::TempDir() + "/dropped.las";
    opener.SetFileName(dropped);
    writer = opener.Open(reader->header);
    ASSERT_TRUE(writer && writer->WritePoint(reader->point));
    writer.reset();
    EXPECT_FALSE(QFileInfo::exists(dropped));
    EXPECT_FALSE(QFileInfo::exists(dropped + ".writing"));

    opener.SetFileName(kvtest::TempDir() + "/no/such/folder/x.las");
    QString error;
    EXPECT_FALSE(opener.Open(reader->header, &error));
    EXPECT_FALSE(error.isEmpty());
}
