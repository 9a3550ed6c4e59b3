// The seamline polygon files: their exact layout, the refusal of damaged files (also under a
// deterministic fuzz of mutated files), the single-precision map positions of "sml" vertices and
// the retry question when an "sml" file cannot be written.
#include <gtest/gtest.h>

#include <QDir>

#include <cmath>
#include <cstring>
#include <random>

#include "mosaic/SeamlineFiles.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

QByteArray Int32(int32_t v) {
    return QByteArray(reinterpret_cast<const char*>(&v), 4);  // the machines are little-endian
}

CPgon SquareWithHole() {
    const Wml::Point2 outer[4] = {{0, 0}, {10.25, 0}, {10.25, 10}, {0, 10}};
    const Wml::Point2 inner[4] = {{2, 2}, {2, 4.5}, {4, 4.5}, {4, 2}};
    CPgon polygon(outer, 4);
    polygon.AddContour(inner, 4, true);
    return polygon;
}

void ExpectSameContours(const CPgon& a, const CPgon& b) {
    ASSERT_EQ(a.GetNumContours(), b.GetNumContours());
    for (int c = 0; c < a.GetNumContours(); ++c) {
        EXPECT_EQ(a.GetContour(c), b.GetContour(c));
    }
}

}  // namespace

TEST(SeamlineFiles, LayoutAndRoundTrip) {
    const QString folder = kvtest::NewTempFolder("pol_layout");
    ASSERT_EQ(WritePgonFile("empty.tif", folder, CPgon()), 1);
    EXPECT_EQ(kvtest::FileBytes(folder + "/empty.tif.pol"),
              QByteArray("\x01\x00\x00\x00\x00\x00\x00\x00", 8));

    // The layer name keeps its extension, so images of the same base name keep their own files.
    ASSERT_EQ(WritePgonFile("scene.tif", folder, SquareWithHole()), 1);
    ASSERT_EQ(WritePgonFile("scene.img", folder, CPgon()), 1);
    const QByteArray bytes = kvtest::FileBytes(folder + "/scene.tif.pol");
    ASSERT_EQ(bytes.size(), 8 + 2 * (4 + 4 * 16));
    EXPECT_EQ(bytes.left(12), Int32(1) + Int32(2) + Int32(4));
    double x1 = 0;
    std::memcpy(&x1, bytes.constData() + 12 + 16, 8);
    EXPECT_EQ(x1, 10.25);
    CPgon read;
    ASSERT_EQ(ReadPgonFile(folder + "/scene.tif.pol", read), 1);
    ExpectSameContours(read, SquareWithHole());
    EXPECT_EQ(WritePgonFile("", folder, read), 0);
    EXPECT_EQ(WritePgonFile("scene.tif", folder + "/no such folder", read), 0);

    // A missing file and a first word of 0 or -1 are empty polygons.
    EXPECT_EQ(ReadPgonFile(folder + "/missing.pol", read), 1);
    EXPECT_EQ(read.GetNumContours(), 0);
    for (int32_t word : {0, -1}) {
        ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/zero.pol", Int32(word) + Int32(1) + Int32(3)));
        read = SquareWithHole();
        EXPECT_EQ(ReadPgonFile(folder + "/zero.pol", read), 1);
        EXPECT_EQ(read.GetNumContours(), 0);
    }

    // A new build removes the "pol" files of the last one, not sub-folders or other files.
    QDir(folder).mkdir("sub.pol");
    ASSERT_TRUE(kvtest::WriteFileBytes(folder + "/keep.sml", Int32(1) + Int32(0)));
    DeletePgonFiles(folder);
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({"keep.sml", "sub.pol"}));
}

TEST(SeamlineFiles, DamagedFilesAreRefusedWithoutReadingPastTheirEnd) {
    const QString folder = kvtest::NewTempFolder("pol_damaged"), path = folder + "/bad.pol";
    ASSERT_EQ(WritePgonFile("good", folder, SquareWithHole()), 1);
    const QByteArray good = kvtest::FileBytes(folder + "/good.pol");
    CPgon read;
    for (int length = 0; length < good.size(); ++length) {
        ASSERT_TRUE(kvtest::WriteFileBytes(path, good.left(length)));
        read = SquareWithHole();
        EXPECT_EQ(ReadPgonFile(path, read), 0) << "truncated at " << length;
        EXPECT_EQ(read.GetNumContours(), 0);
    }
    // Counts beyond what the file holds, in either place, negative counts, and a NaN.
    for (int32_t count : {2147483647, -1, 3}) {
        ASSERT_TRUE(kvtest::WriteFileBytes(path, Int32(1) + Int32(count) + good.mid(8)));
        EXPECT_EQ(ReadPgonFile(path, read), 0) << "contours " << count;
        ASSERT_TRUE(kvtest::WriteFileBytes(path, Int32(1) + Int32(1) + Int32(count) + good.mid(12, 64)));
        EXPECT_EQ(ReadPgonFile(path, read), count == 3 ? 1 : 0) << "vertices " << count;
    }
    QByteArray nan = good;
    const double notANumber = std::nan("");
    std::memcpy(nan.data() + 12, &notANumber, 8);
    ASSERT_TRUE(kvtest::WriteFileBytes(path, nan));
    EXPECT_EQ(ReadPgonFile(path, read), 0);

    // Mutated copies: whatever the bytes, the reader answers, and what it accepts is finite.
    std::mt19937 random(25);
    for (int round = 0; round < 1000; ++round) {
        QByteArray mutated = good;
        for (int e = 1 + int(random() % 4); e > 0 && !mutated.isEmpty(); --e) {
            const int at = int(random() % uint32_t(mutated.size()));
            const int kind = int(random() % 3);
            if (kind == 0) {
                mutated[at] = char(random());
            } else if (kind == 1) {
                mutated.truncate(at);
            } else {
                mutated.insert(at, Int32(int32_t(random())));
            }
        }
        ASSERT_TRUE(kvtest::WriteFileBytes(path, mutated));
        const int ok = ReadPgonFile(path, read);
        for (int c = 0; c < read.GetNumContours(); ++c) {
            ASSERT_EQ(ok, 1);
            for (const Wml::Point2& p : read.GetContour(c)) {
                ASSERT_TRUE(std::isfinite(p.X()) && std::isfinite(p.Y())) << "round " << round;
            }
        }
    }
}

TEST(SeamlineFiles, SmlVerticesPassThroughSinglePrecision) {
    const QString folder = kvtest::NewTempFolder("sml_precision");
    const SeamlineGrid frame{512345.678, 9123456.789, 0.3, 3};
    const double gx = 1234.56789, gy = 987.654321;
    const Wml::Point2 contour[3] = {{gx, gy}, {gx + 100, gy}, {gx, gy + 100}};
    ASSERT_EQ(WriteSmlFile(folder, "a.tif", SeamlineGridToMap(CPgon(contour, 3), frame)), 0);
    CPgon read;
    ASSERT_EQ(ReadPgonFile(folder + "/a.tif.sml", read), 1);
    const Wml::Point2 first = read.GetContour(0).at(0);
    const volatile float sx = float(gx * frame.scale), sy = float(frame.scale * gy);
    EXPECT_EQ(first.X(), frame.minX + double(sx) * frame.pixelSize);
    EXPECT_EQ(first.Y(), frame.maxY - double(sy) * frame.pixelSize);
    EXPECT_NE(first.X(), frame.minX + gx * frame.scale * frame.pixelSize);  // the rounding shows
    EXPECT_NEAR(frame.ToGrid(first.X(), first.Y()).X(), gx, 1e-3);
}

TEST(SeamlineFiles, UnwritableSmlAsksToRetryUntilNo) {
    const QString folder = kvtest::NewTempFolder("sml_retry");
    ASSERT_TRUE(QDir(folder).mkdir("blocked.tif.sml"));  // refuses the open, even for root
    SetSeamlineRetryPause(0);
    kvtest::ScriptedInteraction ui;
    ui.AnswerMessage(IDYES);
    ui.AnswerMessage(IDNO);
    EXPECT_EQ(WriteSmlFile(folder, "blocked.tif", SquareWithHole()), -2);
    ASSERT_EQ(ui.Messages().size(), 2u);
    EXPECT_EQ(ui.Messages()[0].text, "Unable to write seamlines.\nRetry?");
    EXPECT_EQ(ui.Messages()[0].icon(), kv::MessageIcon::Question);
    EXPECT_EQ(ui.Messages()[0].type & MB_TYPEMASK, unsigned(MB_YESNO));

    // Once the operator has cleared the way, Yes writes the file.
    struct ClearingInteraction : kvtest::ScriptedInteraction {
        QString blocked;
        int ShowMessage(const QString& text, unsigned type, const QString& caption) override {
            QDir().rmdir(blocked);
            return kvtest::ScriptedInteraction::ShowMessage(text, type, caption);
        }
    } clearing;
    clearing.blocked = folder + "/blocked.tif.sml";
    clearing.AnswerMessage(IDYES);
    EXPECT_EQ(WriteSmlFile(folder, "blocked.tif", SquareWithHole()), 0);
    EXPECT_EQ(clearing.Messages().size(), 1u);
    CPgon read;
    ASSERT_EQ(ReadPgonFile(folder + "/blocked.tif.sml", read), 1);
    ExpectSameContours(read, SquareWithHole());
    SetSeamlineRetryPause(1000);
}
