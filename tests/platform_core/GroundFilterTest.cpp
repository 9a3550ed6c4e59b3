#include <QFile>
#include <QFileInfo>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "platform/gridding/MCCGroundFilter.h"
#include "platform/las/Las.h"
#include "platform/tools/ProgressSink.h"
#include "platform_core/LasTestData.h"
#include "support/Limits.h"
#include "support/TestEnv.h"

namespace {

class RecordingSink : public ProgressSink {
public:
    void SetRange(int lower, int upper) override { range = {lower, upper}; }
    void SetPos(int pos) override {
        monotone = monotone && pos >= last;
        last = pos;
    }
    std::pair<int, int> range{0, 0};
    int last = 0;
    bool monotone = true;
};

double GroundHeight(double x, double y) {
    return 20.0 + 0.05 * x + 0.02 * y + 0.04 * std::sin(x * 1.3 + y * 0.7);
}

bool InBuilding(double x, double y) {
    return (x >= 20 && x < 36 && y >= 20 && y < 36) || (x >= 60 && x < 67 && y >= 45 && y < 85);
}

// A 100 m x 100 m terrain sampled every metre, with two flat-roofed buildings (16 m x 16 m, 8 m
// high, and 7 m x 40 m, 12 m high) in place of the ground points under them.
QString WriteTown(const QString& name) {
    LASheader h;
    h.pointDataFormat = 1;
    h.xOffset = 300000;
    h.yOffset = 5000000;
    QString path = kvtest::TempDir() + '/' + name;
    LASwriteOpener opener;
    opener.SetFileName(path);
    auto writer = opener.Open(h);
    EXPECT_TRUE(writer);
    for (int j = 0; j < 100; ++j) {
        for (int i = 0; i < 100; ++i) {
            double z = GroundHeight(i, j);
            if (InBuilding(i, j)) {
                z += (i >= 60 ? 12.0 : 8.0);
            }
            LASpoint p;
            p.X = int32_t(std::lround(i / h.xScaleFactor));
            p.Y = int32_t(std::lround(j / h.yScaleFactor));
            p.Z = int32_t(std::lround(z / h.zScaleFactor));
            p.classification = 1;
            p.gpsTime = j * 100 + i;
            writer->WritePoint(p);
        }
    }
    EXPECT_TRUE(writer->Close());
    return path;
}

}  // namespace

TEST(GroundFilter, BuildingsAreTakenOffAndTheGroundIsKeptWithClassTwo) {
    QString input = WriteTown("town.las");
    QString output = kvtest::TempDir() + "/town_ground.las";
    RecordingSink sink;
    QString status;
    int abort = 0;
    ASSERT_NE(CMCCGroundFilter().Process(2.5, 0.3, input, output, &sink, &status, &abort), 0)
        << status.toStdString();
    EXPECT_EQ(sink.range, std::make_pair(0, 100));
    EXPECT_EQ(sink.last, 100);
    EXPECT_TRUE(sink.monotone);

    LASreadOpener opener;
    opener.SetFileName(output);
    auto reader = opener.Open();
    ASSERT_TRUE(reader);
    int roof = 0, ground = 0;
    while (reader->ReadPoint()) {
        EXPECT_EQ(reader->point.classification, 2);
        double x = reader->GetX() - 300000, y = reader->GetY() - 5000000;
        if (InBuilding(std::round(x), std::round(y))) {
            ++roof;
        } else {
            ++ground;
            EXPECT_NEAR(reader->GetZ(), GroundHeight(x, y), 0.01);
        }
        // Other fields travel unchanged.
        EXPECT_DOUBLE_EQ(reader->point.gpsTime, std::round(y) * 100 + std::round(x));
    }
    EXPECT_EQ(roof, 0);
    const int trueGround = 10000 - 16 * 16 - 7 * 40;
    EXPECT_GE(ground, trueGround * 95 / 100);
}

TEST(GroundFilter, AbortBadInputAndBadParametersFailWithoutOutput) {
    QString input = WriteTown("town2.las");
    QString output = kvtest::TempDir() + "/aborted.las";
    QString status;
    int abort = 1;
    EXPECT_EQ(CMCCGroundFilter().Process(2.5, 0.3, input, output, nullptr, &status, &abort), 0);
    EXPECT_EQ(status, "Aborted");
    EXPECT_FALSE(QFileInfo::exists(output));

    EXPECT_EQ(CMCCGroundFilter().Process(2.5, 0.3, kvtest::DataPath("missing.las"), output, nullptr, &status,
                                         nullptr),
              0);
    EXPECT_TRUE(status.startsWith("Cannot open LAS file")) << status.toStdString();
    EXPECT_EQ(CMCCGroundFilter().Process(0.0, 0.3, input, output, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(CMCCGroundFilter().Process(2.5, 0.3, kvtest::DataPath("no-points.las"), output, nullptr,
                                         &status, nullptr),
              0);
    EXPECT_FALSE(QFileInfo::exists(output));
}

// The real lidar is in the repository, so the test below runs in every clone, not only in one
// that has the shared test data beside it.
TEST(GroundFilter, TheRepositorysOwnLidarIsFoundFirst) {
    EXPECT_EQ(SharedLasPath("autzen_trim.las"),
              QFileInfo(kvtest::DataPath("autzen_trim.las")).canonicalFilePath());
}

TEST(GroundFilter, RealLidarKeepsItsGroundAndDropsWhatStandsOnIt) {
    QString input = SharedLasPath("autzen_trim.las");
    if (input.isEmpty()) {
        GTEST_SKIP() << "autzen_trim.las is not at hand";
    }
    QString output = kvtest::TempDir() + "/autzen_ground.las";
    QString status;
    ASSERT_NE(CMCCGroundFilter().Process(2.5, 0.3, input, output, nullptr, &status, nullptr), 0)
        << status.toStdString();

    // The file's own ground class is sparse (many ground-level points are left unclassified), so
    // it serves two ways: its points should be kept, and a reference surface made from them (mean
    // height per 5 m cell, over the 3 x 3 cells around) tells which points stand clearly above
    // the ground: buildings and trees, which should go.
    struct Point {
        std::array<int32_t, 3> xyz;
        bool ground;
    };
    std::vector<Point> points;
    std::map<std::pair<int, int>, std::pair<double, int>> cells;
    LASreadOpener opener;
    opener.SetFileName(input);
    auto original = opener.Open();
    ASSERT_TRUE(original);
    while (original->ReadPoint()) {
        const LASpoint& p = original->point;
        points.push_back({{p.X, p.Y, p.Z}, p.classification == 2});
        if (p.classification == 2) {
            auto& c = cells[{int(std::floor(original->GetX() / 5)), int(std::floor(original->GetY() / 5))}];
            c.first += original->GetZ();
            ++c.second;
        }
    }
    const LASheader& h = original->header;
    std::set<std::array<int32_t, 3>> kept;
    opener.SetFileName(output);
    auto filtered = opener.Open();
    ASSERT_TRUE(filtered);
    while (filtered->ReadPoint()) {
        kept.insert({filtered->point.X, filtered->point.Y, filtered->point.Z});
    }
    int ground = 0, groundKept = 0, objects = 0, objectsKept = 0;
    for (const Point& p : points) {
        const bool isKept = kept.count(p.xyz) > 0;
        if (p.ground) {
            ++ground;
            groundKept += isKept ? 1 : 0;
            continue;
        }
        double x = p.xyz[0] * h.xScaleFactor + h.xOffset, y = p.xyz[1] * h.yScaleFactor + h.yOffset;
        double sum = 0;
        int n = 0;
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                auto it = cells.find({int(std::floor(x / 5)) + dx, int(std::floor(y / 5)) + dy});
                if (it != cells.end()) {
                    sum += it->second.first / it->second.second;
                    ++n;
                }
            }
        }
        if (n > 0 && p.xyz[2] * h.zScaleFactor + h.zOffset - sum / n > 2.0) {
            ++objects;
            objectsKept += isKept ? 1 : 0;
        }
    }
    EXPECT_GT(ground, 20000);
    EXPECT_GT(objects, 20000);
    EXPECT_GE(groundKept, ground * 9 / 10);
    EXPECT_LE(objectsKept, objects / 100);
}

// A scale factor of 1e112 is finite, so the file opens, but its points span an extent no grid
// can cover: refused with a return of 0 and a status, within the memory the file's size warrants.
TEST(GroundFilter, AnExtentNoGridCanCoverIsRefusedWithinTheFilesMemory) {
    QFile source(kvtest::DataPath("simple.las"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray bytes = source.readAll();
    const double scale = 1e112;
    std::memcpy(bytes.data() + 131, &scale, sizeof scale);
    const QString input = kvtest::TempDir() + "/enormous-scale.las";
    QFile out(input);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(bytes);
    out.close();
    const QString output = kvtest::TempDir() + "/enormous-ground.las";

    EXPECT_TRUE(kvtest::RunWithinMemory(64u << 20, [&] {
        QString status;
        const int result = CMCCGroundFilter().Process(2.5, 0.3, input, output, nullptr, &status, nullptr);
        return result == 0 && status == "The points' extent is too large for a surface grid" &&
               !QFileInfo::exists(output);
    }));
}

TEST(GroundFilter, ASteepPlaneKeepsEveryPointUpToItsEdges) {
    // A plane rising 25 cm a metre one way and 10 cm the other, sampled every metre: no point
    // stands above it, also along its uphill edges, where a level border would eat it away.
    LASheader h;
    h.xScaleFactor = h.yScaleFactor = h.zScaleFactor = 0.001;
    const QString input = kvtest::TempDir() + "/plane.las";
    LASwriteOpener opener;
    opener.SetFileName(input);
    auto writer = opener.Open(h);
    ASSERT_TRUE(writer);
    for (int j = 0; j < 60; ++j) {
        for (int i = 0; i < 60; ++i) {
            LASpoint p;
            p.X = int32_t(std::lround(i / h.xScaleFactor));
            p.Y = int32_t(std::lround(j / h.yScaleFactor));
            p.Z = int32_t(std::lround((100.0 + 0.25 * i + 0.1 * j) / h.zScaleFactor));
            writer->WritePoint(p);
        }
    }
    ASSERT_TRUE(writer->Close());
    const QString output = kvtest::TempDir() + "/plane_ground.las";
    QString status;
    ASSERT_NE(CMCCGroundFilter().Process(4.0, 0.3, input, output, nullptr, &status, nullptr), 0)
        << status.toStdString();
    LASreadOpener reader;
    reader.SetFileName(output);
    auto ground = reader.Open();
    ASSERT_TRUE(ground);
    EXPECT_EQ(ground->PointCount(), 3600u);
}
