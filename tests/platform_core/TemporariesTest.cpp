// Temporaries that a killed write left beside its target: the next write of that target removes
// them, with their side files, whoever writes it; a temporary that a running process may still be
// writing stays.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/tools/SafeFile.h"
#include "support/TestEnv.h"

namespace {

void Touch(const QString& path) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("left by an interrupted write");
}

QStringList Hidden(const QString& folder) {
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    names.sort();
    return names;
}

// A process id that no process has any more: a child that ended and was reaped.
pid_t EndedProcess() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);
    return child;
}

// A child process that waits until it is ended (at the latest when this object goes).
struct RunningProcess {
    RunningProcess() : pid(::fork()) {
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
    }
    ~RunningProcess() { End(); }
    void End() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
    pid_t pid;
};

TEST(Temporaries, TheNextWriteRemovesWhatAnEndedWriterLeftAndKeepsWhatARunningOneWrites) {
    const QString folder = kvtest::NewTempFolder("temporaries");
    const QString target = folder + "/ndvi.gtif";
    // A name as this process gets it, and the same name with other writers in it.
    const QString mine = QFileInfo(kv::TemporaryPathFor(target)).fileName();
    const QRegularExpressionMatch parts =
        QRegularExpression("^\\.ndvi\\.gtif\\.([0-9a-f]{8})-([0-9]+)-([0-9a-f]+)\\.kvsave$").match(mine);
    ASSERT_TRUE(parts.hasMatch()) << mine.toStdString();
    ASSERT_EQ(parts.captured(2).toLongLong(), qint64(::getpid()));
    const QString host = parts.captured(1);
    auto written = [&](const QString& hostTag, qint64 pid, const QString& rest) {
        return QStringLiteral(".ndvi.gtif.%1-%2-%3").arg(hostTag).arg(pid).arg(rest);
    };
    const pid_t ended = EndedProcess();
    RunningProcess process;
    const pid_t running = process.pid;
    const QString otherHost = host == "00000000" ? "11111111" : "00000000";
    const QStringList stale = {
        written(host, ended, "5e1.kvsave"),          // the raster of a killed write,
        written(host, ended, "5e1.tfw"),             // its world file,
        written(host, ended, "5e1.kvsave.aux.xml"),  // GDAL's side files,
        written(host, ended, "5e1.kvsave.ovr"),
        "..ndvi.gtif." + host + "-" + QString::number(ended) + "-7.kvsave.shp.9.kvsave",  // one of its own
        ".ndvi.gtif.3fa9.kvsave",  // and one named without its writer.
    };
    const QStringList kept = {
        mine,                                 // this process's own,
        written(host, running, "77.kvsave"),  // a running writer's,
        written(host, running, "77.tfw"),
        written(otherHost, ended, "88.kvsave"),  // another machine's,
        ".ndvi.gtif.backup",                     // and files that are no temporaries of it:
        ".other.gtif." + host + "-" + QString::number(ended) + "-5e1.kvsave",
        ".ndvi.gtif2." + host + "-" + QString::number(ended) + "-5e1.kvsave",
        "ndvi.gtif.5e1.kvsave",
    };
    for (const QString& name : stale + kept) {
        Touch(folder + '/' + name);
    }
    const QString next = QFileInfo(kv::TemporaryPathFor(target)).fileName();
    QStringList expected = kept;
    expected.sort();
    EXPECT_EQ(Hidden(folder), expected);
    EXPECT_FALSE(kept.contains(next));

    // A stream written to the target clears them too, and leaves only the target behind.
    for (const QString& name : stale) {
        Touch(folder + '/' + name);
    }
    QFile::remove(folder + '/' + mine);
    kv::SafeFile file(target);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("index");
    ASSERT_TRUE(file.commit());
    expected.removeAll(mine);
    expected << "ndvi.gtif";
    expected.sort();
    EXPECT_EQ(Hidden(folder), expected);

    // Once the running writer has gone, its temporaries are stale as well.
    process.End();
    kv::RemoveStaleTemporaries(target);
    for (const QString& name : {written(host, running, "77.kvsave"), written(host, running, "77.tfw")}) {
        EXPECT_FALSE(QFileInfo::exists(folder + '/' + name)) << name.toStdString();
    }
    EXPECT_TRUE(QFileInfo::exists(folder + '/' + written(otherHost, ended, "88.kvsave")));
}

// A temporary's name as another writer of this machine would have given it: the first writer's
// process id replaced.
QString WrittenBy(const QString& name, pid_t pid) {
    const QString mine = QStringLiteral("-%1-").arg(::getpid());
    QString other = name;
    return other.replace(other.indexOf(mine), mine.size(), QStringLiteral("-%1-").arg(pid));
}

TEST(Temporaries, LongNamesGetTemporariesThatFitAndStayRecognisedAsTheirs) {
    const QString folder = kvtest::NewTempFolder("long-names");
    auto bytes = [](const QString& name) { return QFile::encodeName(name).size(); };
    const QString euro = QString::fromUtf8("\u20ac");      // three bytes
    const QString clef = QString::fromUtf8("\U0001d11e");  // four bytes, two UTF-16 units
    // Names of 255 bytes, the longest a file may have, cut for their temporaries where a byte of
    // the middle of a character falls, and a name just short enough to be given whole.
    const QStringList names = {QString(251, 'a') + ".tif", QString(127, 'b') + euro.repeated(41) + ".tiff",
                               QString(126, 'c') + clef.repeated(31) + ".tiff", QString(225, 'd') + ".gtif",
                               QString(145, 'e') + ".tif"};
    const pid_t ended = EndedProcess();
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_LE(bytes(name), 255);
        const QString target = folder + '/' + name;
        const QString temporary = QFileInfo(kv::TemporaryPathFor(target)).fileName();
        // Room for what a library appends (".aux.xml"), and whole characters only.
        EXPECT_LE(bytes(temporary) + 16, 255);
        EXPECT_FALSE(temporary.contains(QChar::ReplacementCharacter));
        EXPECT_EQ(QFile::decodeName(QFile::encodeName(temporary)), temporary);
        EXPECT_TRUE(temporary.startsWith('.' + name.left(100))) << temporary.toStdString();
        // A writer of the name through the write layer, a temporary of a temporary among them.
        kv::SafeFile file(target);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("written");
        ASSERT_TRUE(file.commit());
        EXPECT_EQ(kvtest::FileBytes(target), "written");
        const QString nested = QFileInfo(kv::TemporaryPathFor(folder + '/' + temporary)).fileName();
        EXPECT_LE(bytes(nested) + 16, 255);

        // What a killed writer of this machine left, the nested temporary among them, goes at the
        // next write; a running writer's stays.
        const QStringList stale = {WrittenBy(temporary, ended), WrittenBy(temporary, ended) + ".aux.xml",
                                   WrittenBy(nested, ended)};
        for (const QString& left : stale) {
            Touch(folder + '/' + left);
        }
        Touch(folder + '/' + temporary);
        kv::RemoveStaleTemporaries(target);
        for (const QString& left : stale) {
            EXPECT_FALSE(QFileInfo::exists(folder + '/' + left)) << left.toStdString();
        }
        EXPECT_TRUE(QFileInfo::exists(folder + '/' + temporary));
        QFile::remove(folder + '/' + temporary);
    }

    // Two long names that differ only after the part their temporaries keep: the temporaries of
    // one are never taken for the other's.
    const QString first = folder + '/' + QString(200, 'f') + "1.tif",
                  second = folder + '/' + QString(200, 'f') + "2.tif";
    const QString ofFirst = QFileInfo(kv::TemporaryPathFor(first)).fileName();
    const QString ofSecond = QFileInfo(kv::TemporaryPathFor(second)).fileName();
    EXPECT_NE(ofFirst.section('~', 0, 1), ofSecond.section('~', 0, 1));
    Touch(folder + '/' + WrittenBy(ofSecond, ended));
    kv::RemoveStaleTemporaries(first);
    EXPECT_TRUE(QFileInfo::exists(folder + '/' + WrittenBy(ofSecond, ended)));
    kv::RemoveStaleTemporaries(second);
    EXPECT_FALSE(QFileInfo::exists(folder + '/' + WrittenBy(ofSecond, ended)));
}

}  // namespace
