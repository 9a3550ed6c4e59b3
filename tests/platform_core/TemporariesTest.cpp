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

}  // namespace
