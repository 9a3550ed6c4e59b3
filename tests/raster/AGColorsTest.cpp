#include <QFile>

#include <gtest/gtest.h>

#include "raster/AGColors.h"
#include "support/Limits.h"
#include "support/ScriptedInteraction.h"
#include "support/TestEnv.h"

namespace {

QByteArray ReadAll(const QString& path) {
    return kvtest::FileBytes(path);
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(kvtest::WriteFileBytes(path, bytes));
}

QByteArray Le32(int32_t v) {
    QByteArray b(4, 0);
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    }
    return b;
}

bool SameColours(const CSG_Colors& a, const CSG_Colors& b) {
    if (a.Get_Count() != b.Get_Count()) {
        return false;
    }
    for (int i = 0; i < a.Get_Count(); ++i) {
        if (a.Get_Color(i) != b.Get_Color(i)) {
            return false;
        }
    }
    return true;
}

CAGColors ClassifiedPalette() {
    CAGColors p(100, 18, true);
    p.m_classes.push_back({0.1f, -1.0f, 0x0000FF, 1, QString::fromUtf8("Bare soil < 0.1 °C"), "a"});
    p.m_classes.push_back({0.5f, 0.1f, 0x00FF00, 0, QString(), QString(300, QChar('x'))});
    return p;
}

}  // namespace

TEST(Palette, ProgramIndicesMapToTheSagaPalettesOfTheSameName) {
    const int expected[kPaletteCount] = {
        SG_COLORS_DEFAULT,        SG_COLORS_DEFAULT_BRIGHT, SG_COLORS_BLACK_WHITE,
        SG_COLORS_BLACK_RED,      SG_COLORS_BLACK_GREEN,    SG_COLORS_BLACK_BLUE,
        SG_COLORS_WHITE_RED,      SG_COLORS_WHITE_GREEN,    SG_COLORS_WHITE_BLUE,
        SG_COLORS_YELLOW_RED,     SG_COLORS_YELLOW_GREEN,   SG_COLORS_YELLOW_BLUE,
        SG_COLORS_RED_GREEN,      SG_COLORS_RED_BLUE,       SG_COLORS_GREEN_BLUE,
        SG_COLORS_RED_GREY_BLUE,  SG_COLORS_RED_GREY_GREEN, SG_COLORS_GREEN_GREY_BLUE,
        SG_COLORS_RED_GREEN_BLUE, SG_COLORS_RED_BLUE_GREEN, SG_COLORS_GREEN_RED_BLUE,
        SG_COLORS_RAINBOW,        SG_COLORS_NEON,           SG_COLORS_TOPOGRAPHY,
        SG_COLORS_ASPECT_1,       SG_COLORS_ASPECT_2,       SG_COLORS_ASPECT_3,
    };
    for (int i = 0; i < kPaletteCount; ++i) {
        ASSERT_EQ(SagaPaletteOf(i), expected[i]) << PaletteNames[i];
        // SAGA names "Red-Grey-Blue" "red > grey > blue"; a few carry other words.
        QString ours = QString(PaletteNames[i]).toLower().replace("-", " > ");
        QString saga = CSG_Colors::Get_Predefined_Name(SagaPaletteOf(i)).b_str();
        QString alias = ours == "default" || ours == "neon" || ours == "rainbow" ? ours
                        : ours == "bright"                                       ? "default (same brightness)"
                        : ours == "black > white"                                ? "greyscale"
                        : ours == "topography"                                   ? "topography 1"
                        : ours.startsWith("aspect")                              ? "aspect " + ours.right(1)
                                                                                 : ours;
        EXPECT_EQ(saga, alias) << i;
    }
    EXPECT_EQ(SagaPaletteOf(-1), -1);
    EXPECT_EQ(SagaPaletteOf(kPaletteCount), -1);
    EXPECT_EQ(SagaPaletteOf(15), SG_COLORS_RED_GREY_BLUE);

    CAGColors p(100, 15, false);
    EXPECT_TRUE(SameColours(p, CSG_Colors(100, SG_COLORS_RED_GREY_BLUE, false)));
    EXPECT_EQ(p.m_paletteIndex, 15);
    EXPECT_EQ(p.m_colorCount, 100);
}

TEST(Palette, CopyRebuildsTheRampFromItsSettings) {
    CAGColors source(50, 21, false);
    source.m_bInvert = true;
    source.Invert();
    source.m_classes.push_back({1.0f, 0.0f, 0xFF, 1, "t", "u"});
    CAGColors copy;
    copy = source;
    CSG_Colors inverted(50, SG_COLORS_RAINBOW, false);
    inverted.Invert();
    EXPECT_TRUE(SameColours(copy, inverted));
    EXPECT_TRUE(copy.m_bInvert);
    EXPECT_EQ(copy.m_colorCount, 50);
    EXPECT_EQ(copy.m_classes, source.m_classes);

    CAGColors reversed(20, 9, true);
    CAGColors second(reversed);
    EXPECT_TRUE(SameColours(second, CSG_Colors(20, SG_COLORS_YELLOW_RED, true)));
    EXPECT_TRUE(second.m_bRevert);
    EXPECT_EQ(second.m_paletteIndex, 9);
}

TEST(ColorClassificationFile, PaletteWithoutClassesIsSeventeenBytesAndRoundTrips) {
    kvtest::ScriptedInteraction ui;
    QString path = kvtest::TempDir() + "/Plain.CCL";
    CAGColors p(100, 15, false);
    ASSERT_EQ(p.Save(path), 1);
    QByteArray bytes = ReadAll(path);
    EXPECT_EQ(bytes, Le32(100) + QByteArray(2, 0) + Le32(15) + Le32(0) + QByteArray(3, 0));
    CAGColors back(100, 0, true);
    ASSERT_EQ(back.Load(path), 1);
    EXPECT_EQ(back.m_paletteIndex, 15);
    EXPECT_FALSE(back.m_bRevert);
    EXPECT_TRUE(SameColours(back, p));
    ASSERT_EQ(back.Save(path + "2"), 1);
    EXPECT_EQ(ReadAll(path + "2"), bytes);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
}

TEST(ColorClassificationFile, ClassesTextsAndMapTypeComeBackAndGateTheLoad) {
    kvtest::ScriptedInteraction ui;
    QString path = kvtest::TempDir() + "/ndvi.ccl";
    CAGColors p = ClassifiedPalette();
    int ndvi = 5;
    double lo = -0.2, hi = 0.9;
    ASSERT_EQ(p.Save(path, &ndvi, &lo, &hi), 1);

    CAGColors onto(100, 0, false);
    int slope = 15;
    EXPECT_EQ(onto.Load(path, &slope), 0);
    EXPECT_TRUE(onto.m_classes.empty());
    EXPECT_EQ(onto.m_paletteIndex, 0);
    ASSERT_EQ(onto.Load(path, &ndvi), 1);
    EXPECT_EQ(onto.m_classes, p.m_classes);
    EXPECT_EQ(onto.m_paletteIndex, 18);
    EXPECT_TRUE(onto.m_bRevert);
    EXPECT_EQ(onto.m_colorCount, 100);

    // A file without a map type is refused by a caller that expects one, taken by one that does not.
    QString untyped = kvtest::TempDir() + "/untyped.ccl";
    ASSERT_EQ(p.Save(untyped), 1);
    CAGColors other;
    EXPECT_EQ(other.Load(untyped, &ndvi), 0);
    EXPECT_EQ(other.Load(untyped), 1);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());

    // The 300-byte text is behind 0xFF and a 16-bit length.
    QByteArray bytes = ReadAll(untyped);
    EXPECT_NE(bytes.indexOf(QByteArray("\xFF\x2C\x01", 3) + QByteArray(300, 'x')), -1);
}

TEST(ColorClassificationFile, RefusalsAndErrors) {
    kvtest::ScriptedInteraction ui;
    QString dir = kvtest::NewTempFolder("ccl");
    CAGColors p(100, 3, false);
    CAGColors untouched(p);

    // A newer version: refused without a message.
    WriteAll(dir + "/new.ccl", Le32(101) + QByteArray(2, 0) + Le32(3) + Le32(0) + QByteArray(3, 0));
    EXPECT_EQ(p.Load(dir + "/new.ccl"), 0);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
    EXPECT_TRUE(SameColours(p, untouched));

    // Impossible class counts and palette indices, and a cut file: "File reading error".
    const QByteArray bad[] = {
        Le32(100) + QByteArray(2, 0) + Le32(3) + Le32(0x7FFFFFFF) + QByteArray(40, 0),
        Le32(100) + QByteArray(2, 0) + Le32(3) + Le32(-1) + QByteArray(3, 0),
        Le32(100) + QByteArray(2, 0) + Le32(3) + Le32(3) + QByteArray(3 * 18 - 1, 0),
        Le32(100) + QByteArray(2, 0) + Le32(27) + Le32(0) + QByteArray(3, 0),
        Le32(100) + QByteArray(2, 0) + Le32(3) + Le32(0) + QByteArray(1, 1),
        QByteArray(3, 0),
    };
    for (const QByteArray& b : bad) {
        ui.Clear();
        WriteAll(dir + "/bad.ccl", b);
        EXPECT_EQ(p.Load(dir + "/bad.ccl"), 0);
        EXPECT_EQ(ui.MessageTexts(), QStringList{"File reading error"});
        EXPECT_EQ(ui.Messages().front().icon(), kv::MessageIcon::Error);
        EXPECT_TRUE(SameColours(p, untouched)) << b.toHex().toStdString();
    }
    ui.Clear();
    EXPECT_EQ(p.Load(dir + "/missing.ccl"), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"File reading error"});
    EXPECT_EQ(p.m_paletteIndex, 3);
    EXPECT_TRUE(SameColours(p, untouched));

    ui.Clear();
    EXPECT_EQ(p.Save(dir + "/no/folder/x.ccl"), 0);
    EXPECT_EQ(ui.MessageTexts(), QStringList{"File writing error"});
    // A full disk: the failed final flush is reported and the file saved before stays whole.
    const QString kept = dir + "/kept.ccl";
    ASSERT_EQ(p.Save(kept), 1);
    QFile keptFile(kept);
    ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
    const QByteArray before = keptFile.readAll();
    keptFile.close();
    ui.Clear();
    {
        kvtest::FileSizeLimit full(0);
        EXPECT_EQ(p.Save(kept), 0);
    }
    EXPECT_EQ(ui.MessageTexts(), QStringList{"File writing error"});
    ASSERT_TRUE(keptFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(keptFile.readAll(), before);
    ui.Clear();
    EXPECT_EQ(p.Save(QString()), 0);
    EXPECT_EQ(p.Load(QString()), 0);
    EXPECT_TRUE(ui.MessageTexts().isEmpty());
}

TEST(ColorClassificationFile, SingleByteTextsFromOlderFilesRead) {
    // One class whose tooltip is "25 °C" and second text "€ 5" in Windows-1252.
    QByteArray entry = QByteArray(4, 0) + QByteArray(4, 0) + Le32(0xFF) + Le32(1) +
                       QByteArray(
                           "\x05"
                           "25 \xB0"
                           "C",
                           6) +
                       QByteArray("\x03\x80 5", 4);
    QString path = kvtest::TempDir() + "/old.ccl";
    WriteAll(path, Le32(100) + QByteArray(2, 0) + Le32(21) + Le32(1) + entry + QByteArray(3, 0));
    CAGColors p;
    ASSERT_EQ(p.Load(path), 1);
    ASSERT_EQ(p.m_classes.size(), 1u);
    EXPECT_EQ(p.m_classes[0].tooltip, QString::fromUtf8("25 °C"));
    EXPECT_EQ(p.m_classes[0].text, QString::fromUtf8("€ 5"));
}
