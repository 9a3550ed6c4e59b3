#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <cstring>

#include <gtest/gtest.h>

#include "platform/tools/BusyScope.h"
#include "platform/tools/ZQT.h"
#include "support/TestEnv.h"

namespace {

QString RunProbe(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(KV_PROFILE_PROBE), args);
    EXPECT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace

TEST(Profile, ValueWrittenInOneProcessIsReadInAnother) {
    QString ini = kvtest::TempDir() + "/shared_profile.ini";
    RunProbe({ini, "write", "ContourLines", "Step", "2.5"});
    EXPECT_EQ(RunProbe({ini, "read", "ContourLines", "Step", "x"}), "2.5");

    // And this process reads what the other one wrote, and the other way round.
    ZQT_SetUserProfilePath(ini);
    char buf[64];
    ZQT_GetUserProfileString("ContourLines", "Step", "", buf, sizeof buf);
    EXPECT_STREQ(buf, "2.5");
    ZQT_WriteUserProfileString("UserData", "UserData_Name", "Željka, \"Ana\"; 255;128;0");
    EXPECT_EQ(RunProbe({ini, "read", "UserData", "UserData_Name", ""}), "Željka, \"Ana\"; 255;128;0");
    ZQT_SetUserProfilePath(kvtest::TempDir() + "/profile.ini");
}

TEST(Profile, MissingKeyGivesDefaultAndLongValuesAreCutAndTerminated) {
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ZQT_GetUserProfileString("Nowhere", "Nothing", "dflt", buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "dflt");

    ZQT_WriteUserProfileString("Tile", "Name", "0123456789");
    char small[6];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(ZQT_GetUserProfileString("Tile", "Name", "", small, sizeof small), 5);
    EXPECT_STREQ(small, "01234");

    // A multi-byte character is never split by the cut.
    ZQT_WriteUserProfileString("Tile", "Deg", "ab°");
    char three[4];
    ZQT_GetUserProfileString("Tile", "Deg", "", three, sizeof three);
    EXPECT_STREQ(three, "ab");

    // Sections and keys with separators stay apart.
    ZQT_WriteUserProfileString("A/B", "C", "1");
    ZQT_WriteUserProfileString("A", "B/C", "2");
    EXPECT_EQ(ZQT_GetUserProfileString(QString("A/B"), QString("C"), QString()), "1");
    EXPECT_EQ(ZQT_GetUserProfileString(QString("A"), QString("B/C"), QString()), "2");
    // An empty value is a value, not a missing key.
    ZQT_WriteUserProfileString("Tile", "Empty", "");
    EXPECT_EQ(ZQT_GetUserProfileString(QString("Tile"), QString("Empty"), QString("d")), "");
}

TEST(Numbers, ParsingLeavesTheValueAloneOnFailure) {
    double v = 7.0;
    EXPECT_EQ(ZQT_StringToDouble("abc", &v), 0);
    EXPECT_EQ(v, 7.0);
    EXPECT_EQ(ZQT_StringToDouble("", &v), 0);
    EXPECT_EQ(ZQT_StringToDouble("1.5x", &v), 0);
    EXPECT_EQ(ZQT_StringToDouble("nan", &v), 0);
    EXPECT_EQ(v, 7.0);
    EXPECT_NE(ZQT_StringToDouble(" -2.5 ", &v), 0);
    EXPECT_EQ(v, -2.5);
    EXPECT_NE(ZQT_StringToDouble("1e3", &v), 0);
    EXPECT_EQ(v, 1000.0);

    int i = 3;
    EXPECT_EQ(ZQT_StringToInt("2.5", &i), 0);
    EXPECT_EQ(ZQT_StringToInt("99999999999", &i), 0);
    EXPECT_EQ(i, 3);
    EXPECT_NE(ZQT_StringToInt("-12", &i), 0);
    EXPECT_EQ(i, -12);

    int b = 5;
    EXPECT_EQ(ZQT_StringToBoolean("maybe", &b), 0);
    EXPECT_EQ(b, 5);
    EXPECT_NE(ZQT_StringToBoolean("TRUE", &b), 0);
    EXPECT_EQ(b, 1);
    EXPECT_NE(ZQT_StringToBoolean("0", &b), 0);
    EXPECT_EQ(b, 0);

    char buf[16];
    ZQT_DoubleToString(3.14159, 2, buf, sizeof buf);
    EXPECT_STREQ(buf, "3.14");
    ZQT_DoubleToString(-0.5, 0, buf, sizeof buf);
    EXPECT_STREQ(buf, "-0");
    char tiny[4];
    ZQT_DoubleToString(12345.678, 3, tiny, sizeof tiny);
    EXPECT_STREQ(tiny, "123");
}

TEST(Paths, RandomFilePathIsNewWithTheExtension) {
    QString folder = kvtest::NewTempFolder("random");
    QSet<QString> seen;
    for (int i = 0; i < 200; ++i) {
        QString p = ZQT_GetRandomFilePath(folder, "demundo");
        EXPECT_TRUE(p.endsWith(".demundo")) << p.toStdString();
        EXPECT_EQ(QFileInfo(p).absolutePath(), QDir(folder).absolutePath());
        EXPECT_FALSE(QFileInfo::exists(p));
        EXPECT_FALSE(seen.contains(p));
        seen.insert(p);
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(ZQT_GetRandomFilePath(folder, ".tif").endsWith(".tif"));
}

TEST(Paths, SpecialFoldersAreRedirectedAndCreated) {
    QString work = ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1);
    EXPECT_TRUE(work.startsWith(kvtest::TempDir()));
    EXPECT_TRUE(QFileInfo(work).isDir());
    char buf[512];
    EXPECT_NE(ZQT_GetSpecialFolder(buf, sizeof buf, CSIDL_COMMON_APPDATA, 1, 1), 0);
    EXPECT_EQ(QString::fromUtf8(buf), work);
    char tiny[4];
    EXPECT_EQ(ZQT_GetSpecialFolder(tiny, sizeof tiny, CSIDL_COMMON_APPDATA, 1, 1), 0);
    EXPECT_NE(ZQT_GetSpecialFolder(CSIDL_LOCAL_APPDATA), work);
    EXPECT_TRUE(ZQT_GetSpecialFolder(9999).isEmpty());
}

TEST(Paths, RelativePaths) {
    QString r;
    EXPECT_NE(ZQT_GetRelativePath("/data/mesh/out.obj", 0, "/data/mesh/tex.jpg", 0, &r), 0);
    EXPECT_EQ(r, "tex.jpg");
    EXPECT_NE(ZQT_GetRelativePath("/data/mesh/out.obj", 0, "/data/ortho/tex.jpg", 0, &r), 0);
    EXPECT_EQ(r, "../ortho/tex.jpg");
    EXPECT_NE(ZQT_GetRelativePath("/data/mesh", 0x10, "/data/mesh/a/b.jpg", 0, &r), 0);
    EXPECT_EQ(r, "a/b.jpg");
    EXPECT_NE(ZQT_GetRelativePath("/data/mesh/", 0x10, "/other/x.jpg", 0, &r), 0);
    EXPECT_EQ(r, "../../other/x.jpg");
    EXPECT_EQ(ZQT_GetRelativePath("relative/out.obj", 0, "/x.jpg", 0, &r), 0);
    EXPECT_EQ(ZQT_GetRelativePath("", 0, "/x.jpg", 0, &r), 0);
}

TEST(Paths, OptimizeDeleteAndNames) {
    EXPECT_EQ(ZQT_OptimizePath("/a//b/./c", 1), "/a/b/c/");
    EXPECT_EQ(ZQT_OptimizePath("/a/b/../c/", 1), "/a/c/");
    QString tree = kvtest::NewTempFolder("tree");
    QDir().mkpath(tree + "/x/y");
    QFile f(tree + "/x/y/z.txt");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_NE(ZQT_DeleteDirectory(tree), 0);
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_EQ(ZQT_DeleteDirectory(tree), 0);

    EXPECT_EQ(ZQT_IsValidFileName("tile_01.tif"), 0);
    EXPECT_NE(ZQT_IsValidFileName(""), 0);
    EXPECT_NE(ZQT_IsValidFileName("a/b"), 0);
    EXPECT_NE(ZQT_IsValidFileName("a:b"), 0);
    EXPECT_NE(ZQT_IsValidFileName(".."), 0);
    EXPECT_NE(ZQT_IsValidFileName(QString(300, 'a')), 0);

    EXPECT_EQ(ZQT_GetFileSize(tree + "/none"), -1);
    QString file = kvtest::TempDir() + "/sized.bin";
    QFile g(file);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.write(QByteArray(1234, 'a'));
    g.close();
    EXPECT_EQ(ZQT_GetFileSize(file), 1234);

    QStringList parts;
    EXPECT_EQ(ZQT_ParseString("a;b;;c", ";", &parts), 4);
    EXPECT_EQ(parts, (QStringList{"a", "b", "", "c"}));
}

TEST(Version, CutBeforeTheThirdDot) {
    EXPECT_EQ(ZQT_CutVersion("4.2.1.0"), "4.2.1");
    EXPECT_EQ(ZQT_CutVersion("4,2,1,0"), "4.2.1");
    EXPECT_EQ(ZQT_CutVersion("4.2"), "4.2");
    EXPECT_EQ(ZQT_CutVersion("4.2.1"), "4.2.1");
    EXPECT_EQ(ZQT_CutVersion("10.20.30.40.50"), "10.20.30");
    QString version;
    EXPECT_NE(ZQT_GetVersionInfo(nullptr, &version, nullptr), 0);
    EXPECT_FALSE(version.isEmpty());
}

TEST(Workstation, DescriptionsAndDates) {
    EXPECT_FALSE(ZQT_GetOSInfo().isEmpty());
    EXPECT_TRUE(ZQT_GetRAMInfo().contains(QRegularExpression("^Total: [0-9]+ kB, Available: [0-9]+ kB$")))
        << ZQT_GetRAMInfo().toStdString();
    EXPECT_EQ(ZQT_GetCurrentSysTime().size(), 8);
    EXPECT_EQ(ZQT_GetCurrentSysDate(0, 0).size(), 10);
    QStringList adapters;
    EXPECT_GE(ZQT_GetDisplayAdaptersList(&adapters), 0);
    ZQT_StartTimer();
    EXPECT_GE(ZQT_GetElapsedTime(), 0);
}

TEST(Pump, WithoutAnApplicationObjectPumpingReturnsAtOnce) {
    // This program has no application object, as the core's workers may be run without one.
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    ZQT_PumpMessages();
    EXPECT_EQ(kv::BusyCount(), 0);
}
