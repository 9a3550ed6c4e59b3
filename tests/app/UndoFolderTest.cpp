// Leftover undo files and the undo folders of running and finished instances.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AppTestSupport.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/DemUndoFolder.h"
#include "support/ScriptedInteraction.h"

namespace {

QString WorkingFolder() {
    return ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1);
}

// Another instance of the program: a child process that holds the lock of its undo folder until
// told to end.
class OtherInstance {
public:
    OtherInstance() {
        // Everything the child needs is prepared here: after fork it only makes system calls.
        const QByteArray prefix = QFile::encodeName(WorkingFolder() + QStringLiteral("/undo-"));
        int ready[2];
        int quit[2];
        if (pipe(ready) != 0 || pipe(quit) != 0) {
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            close(ready[0]);
            close(quit[1]);
            char lock[4096];
            std::snprintf(lock, sizeof lock, "%s%d.lock", prefix.constData(), static_cast<int>(getpid()));
            int fd = open(lock, O_RDWR | O_CREAT, 0600);
            char ok = (fd >= 0 && flock(fd, LOCK_EX) == 0) ? 1 : 0;
            (void)!write(ready[1], &ok, 1);
            char c;
            (void)!read(quit[0], &c, 1);
            _exit(0);
        }
        close(ready[1]);
        close(quit[0]);
        m_quit = quit[1];
        char ok = 0;
        m_locked = read(ready[0], &ok, 1) == 1 && ok == 1;
        close(ready[0]);
    }
    ~OtherInstance() { End(); }

    static QString Folder(pid_t pid) { return WorkingFolder() + QStringLiteral("/undo-%1").arg(pid); }
    QString Folder() const { return Folder(m_pid); }
    bool Locked() const { return m_locked; }
    void End() {
        if (m_quit >= 0) {
            close(m_quit);
            m_quit = -1;
            int status = 0;
            waitpid(m_pid, &status, 0);
        }
    }

private:
    pid_t m_pid = -1;
    int m_quit = -1;
    bool m_locked = false;
};

TEST(DemUndoFiles, LeftoverFilesGoAndFoldersNamedLikeThemStay) {
    QString working = WorkingFolder();
    kvtest::WriteFile(working + "/dem_20240101-101010_12.demundo");
    kvtest::WriteFile(working + "/other.demundo");
    kvtest::WriteFile(working + "/x.demundo/inside.demundo");
    kvtest::WriteFile(working + "/keep.tif");
    EXPECT_GE(DeleteDemUndoTempFiles(), 2);
    EXPECT_FALSE(QFile::exists(working + "/dem_20240101-101010_12.demundo"));
    EXPECT_FALSE(QFile::exists(working + "/other.demundo"));
    EXPECT_TRUE(QFile::exists(working + "/x.demundo/inside.demundo"));
    EXPECT_TRUE(QFile::exists(working + "/keep.tif"));
}

TEST(DemUndoFiles, AFolderLockedByARunningInstanceSurvivesStartUp) {
    OtherInstance other;
    ASSERT_TRUE(other.Locked());
    QString theirs = kvtest::WriteFile(other.Folder() + "/dem_1.demundo");
    // A folder whose process is gone: nobody holds its lock (and it has no lock file at all).
    QString stale = kvtest::WriteFile(OtherInstance::Folder(999999) + "/dem_2.demundo");
    {
        kvtest::ScriptedInteraction ui;
        kvtest::AppUnderTest t;
        ASSERT_NE(t.App().InitInstance(), 0);
        EXPECT_TRUE(QFile::exists(theirs));
        EXPECT_FALSE(QDir(OtherInstance::Folder(999999)).exists());
    }
    // Once the other instance has ended, its folder and lock file go at the next clean-up.
    other.End();
    EXPECT_EQ(RemoveStaleDemUndoFolders(), 1);
    EXPECT_FALSE(QDir(other.Folder()).exists());
    EXPECT_FALSE(QFile::exists(DemUndoLockPath(other.Folder())));
    EXPECT_FALSE(QFile::exists(stale));
}

TEST(DemUndoFiles, EachInstanceKeepsItsOwnLockedFolderUntilExit) {
    QString mine = GetDemUndoFolder();
    ASSERT_FALSE(mine.isEmpty());
    EXPECT_EQ(QDir::cleanPath(mine), OtherInstance::Folder(QCoreApplication::applicationPid()));
    QString file = kvtest::WriteFile(mine + "dem_3.demundo");
    EXPECT_EQ(GetDemUndoFolder(), mine);
    EXPECT_EQ(RemoveStaleDemUndoFolders(), 0);
    EXPECT_TRUE(QFile::exists(file));

    // Another process cannot take the lock while this one lives.
    const QByteArray lock = QFile::encodeName(DemUndoLockPath(mine));
    pid_t child = fork();
    if (child == 0) {
        int fd = open(lock.constData(), O_RDWR);
        _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0 ? 0 : 1);
    }
    int status = -1;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ReleaseDemUndoFolder();
    EXPECT_FALSE(QDir(mine).exists());
    EXPECT_FALSE(QFile::exists(DemUndoLockPath(mine)));
}

}  // namespace
