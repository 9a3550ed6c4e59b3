// ASCII x y z files and the uniform point-file reader: what a line must hold, numbers in the C
// locale read exactly as the standard conversion reads them, lines of any length, damaged files.
#include <QFile>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "platform/las/Las.h"
#include "platform/las/PointFile.h"
#include "platform/las/XyzReader.h"
#include "support/TestEnv.h"

namespace {

QString WriteText(const QString& name, const QByteArray& text) {
    const QString path = kvtest::TempDir() + '/' + name;
    EXPECT_TRUE(kvtest::WriteFileBytes(path, text));
    return path;
}

std::vector<std::array<double, 3>> ReadAll(XYZreader& reader) {
    std::vector<std::array<double, 3>> points;
    while (reader.ReadPoint()) {
        points.push_back({reader.x, reader.y, reader.z});
    }
    return points;
}

}  // namespace

TEST(XyzReader, TakesTheFirstThreeNumbersOfALineAndCountsTheLinesWithout) {
    const QByteArray text =
        "x y z\n"                                                 // a header: skipped
        "1 2 3\r\n"                                               // Windows line end
        "\t4.5\t-5.25  +6e2   intensity 7\n"                      // tabs, signs, exponent, further columns
        "\n   \n"                                                 // blank lines: passed over
        "7 8\n"                                                   // two numbers: skipped
        "1 2 nan\n"                                               // not finite: skipped
        "1 inf 3\n"                                               // not finite: skipped
        "1,5 2 3\n"                                               // a decimal comma is no number: skipped
        "0.1 .5 5.\n"                                             // forms without digits on one side
        "-0.000123456789012345678 1e-300 12345678901234567890\n"  // the general conversion
        "9 9 9";                                                  // no line end at the end of the file
    auto reader = XYZreader::Open(WriteText("lines.xyz", text));
    ASSERT_TRUE(reader);
    const auto points = ReadAll(*reader);
    const std::vector<std::array<double, 3>> expected = {
        {1, 2, 3},
        {4.5, -5.25, 600},
        {0.1, 0.5, 5.0},
        {-0.000123456789012345678, 1e-300, 12345678901234567890.0},
        {9, 9, 9}};
    EXPECT_EQ(points, expected);
    EXPECT_EQ(reader->SkippedLines(), 5u);
    EXPECT_DOUBLE_EQ(reader->Fraction(), 1.0);
    EXPECT_TRUE(reader->Warning().isEmpty());

    // A second pass gives the same points and counts again from the start.
    ASSERT_TRUE(reader->Rewind());
    EXPECT_EQ(ReadAll(*reader), expected);
    EXPECT_EQ(reader->SkippedLines(), 5u);

    // The uniform reader says what it skipped.
    auto file = PointFileReader::Open(WriteText("lines.xyz", text), PointFileReader::Kind::Ascii);
    ASSERT_TRUE(file);
    std::vector<double> xyz(3 * 16);
    EXPECT_EQ(file->Read(xyz.data(), 16), 5u);
    EXPECT_EQ(file->Read(xyz.data(), 16), 0u);
    EXPECT_TRUE(file->Warning().contains("5 lines without three numbers were skipped"))
        << file->Warning().toStdString();
}

TEST(XyzReader, ReadsDecimalsExactlyAsTheStandardConversion) {
    // Coordinates of every magnitude and precision, also beyond the 15 digits read directly.
    std::mt19937_64 rng(3);
    QByteArray text;
    std::vector<double> expected;
    for (int i = 0; i < 30000; ++i) {
        const double value = double(int64_t(rng() % 2000000000000ull) - 1000000000000ll) / 1000.0;
        const QByteArray field =
            QByteArray::number(value / std::pow(10.0, double(rng() % 6)), 'f', int(rng() % 8));
        expected.push_back(std::strtod(field.constData(), nullptr));
        text += field + ((i % 3 == 2) ? "\n" : " ");
    }
    auto reader = XYZreader::Open(WriteText("numbers.xyz", text));
    ASSERT_TRUE(reader);
    std::vector<double> read(expected.size() + 3);
    EXPECT_EQ(reader->ReadCoordinates(read.data(), read.size() / 3), expected.size() / 3);
    read.resize(expected.size());
    EXPECT_EQ(read, expected);
}

TEST(XyzReader, LinesLongerThanTheBufferAreJudgedByTheirBeginning) {
    // Three numbers and a long tail; a line of nothing but spaces; a line that is one long word.
    QByteArray text = "1 2 3 " + QByteArray(3 << 20, 'a') + "\n";
    text += QByteArray(2 << 20, ' ') + "\n";
    text += QByteArray(2 << 20, '7') + " 1 1\n";
    text += "4 5 6\n";
    auto reader = XYZreader::Open(WriteText("long.xyz", text));
    ASSERT_TRUE(reader);
    const std::vector<std::array<double, 3>> expected = {{1, 2, 3}, {4, 5, 6}};
    EXPECT_EQ(ReadAll(*reader), expected);
    EXPECT_EQ(reader->SkippedLines(), 1u);
}

TEST(XyzReader, DamagedFilesEndAndGiveOnlyFinitePoints) {
    QByteArray good;
    for (int i = 0; i < 500; ++i) {
        good += QByteArray::number(636000.0 + i * 0.37, 'f', 2) + ' ' +
                QByteArray::number(849000.0 - i, 'f', 2) + ' ' + QByteArray::number(400.0 + i % 17, 'g', 6) +
                '\n';
    }
    std::mt19937 rng(11);
    for (int trial = 0; trial < 200; ++trial) {
        QByteArray bytes = good;
        if (trial % 2 == 0) {
            bytes.truncate(int(rng() % uint32_t(good.size())));
        }
        for (int k = 0; k < 20 && !bytes.isEmpty(); ++k) {
            bytes[int(rng() % uint32_t(bytes.size()))] = char(rng());
        }
        auto reader = PointFileReader::Open(WriteText("damaged.xyz", bytes), PointFileReader::Kind::Ascii);
        ASSERT_TRUE(reader);
        std::vector<double> xyz(3 * 64);
        size_t total = 0;
        while (const size_t n = reader->Read(xyz.data(), 64)) {
            for (size_t i = 0; i < 3 * n; ++i) {
                ASSERT_TRUE(std::isfinite(xyz[i]));
            }
            total += n;
        }
        EXPECT_LE(total, 500u);
    }
}

TEST(PointFileReader, LasCoordinatesMatchTheDecodedPointsAndPassesRepeat) {
    LASreadOpener opener;
    opener.SetFileName(kvtest::DataPath("autzen_trim.las"));
    auto las = opener.Open();
    ASSERT_TRUE(las);
    std::vector<double> decoded;
    while (las->ReadPoint()) {
        decoded.insert(decoded.end(), {las->GetX(), las->GetY(), las->GetZ()});
    }
    ASSERT_EQ(decoded.size(), 3u * 110000u);

    PointFileReader::Kind kind;
    ASSERT_TRUE(PointFileReader::KindOf("/a/B.LaS", &kind));
    EXPECT_EQ(kind, PointFileReader::Kind::Las);
    EXPECT_FALSE(PointFileReader::KindOf("/a/b.txt", &kind));
    auto reader = PointFileReader::Open(kvtest::DataPath("autzen_trim.las"), kind);
    ASSERT_TRUE(reader);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<double> read(decoded.size() + 3);
        size_t at = 0;
        while (const size_t n =
                   reader->Read(read.data() + at, std::min<size_t>(7777, (read.size() - at) / 3))) {
            at += 3 * n;
        }
        read.resize(at);
        EXPECT_EQ(read, decoded);
        EXPECT_DOUBLE_EQ(reader->Fraction(), 1.0);
        ASSERT_TRUE(reader->Rewind());
    }

    QString error;
    EXPECT_FALSE(PointFileReader::Open(WriteText("text.las", "1 2 3\n"), kind, &error));
    EXPECT_EQ(error, "not a LAS file");
}
