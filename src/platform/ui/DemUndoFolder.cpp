#include "platform/ui/DemUndoFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/tools/ZQT.h"

namespace {

int g_lockFd = -1;
QString g_folder;

QString WorkingFolder() {
    return ZQT_GetSpecialFolder(CSIDL_COMMON_APPDATA, 1, 1);
}

// True when the open file is still the file at the path: a remover may have unlinked the path
// between our open and our lock, and a lock on an unlinked file guards nothing.
bool IsSameFile(int fd, const QByteArray& path) {
    struct stat held {};
    struct stat named {};
    if (fstat(fd, &held) != 0 || stat(path.constData(), &named) != 0) {
        return false;
    }
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Opens and locks the lock file. blocking: waits for a remover that holds it for a moment.
// Returns the descriptor, or -1 when the lock is held by someone else (non-blocking) or fails.
int LockFile(const QString& lockPath, bool blocking) {
    const QByteArray path = QFile::encodeName(lockPath);
    for (int attempt = 0; attempt < 8; ++attempt) {
        int fd = open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            return -1;
        }
        if (flock(fd, blocking ? LOCK_EX : LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return -1;
        }
        if (IsSameFile(fd, path)) {
            return fd;
        }
        close(fd);
    }
    return -1;
}

QString FolderPath(const QString& folder) {
    QString p = QDir::cleanPath(folder);
    return p.endsWith('/') ? p.chopped(1) : p;
}

}  // namespace

QString DemUndoLockPath(const QString& undoFolder) {
    return FolderPath(undoFolder) + QStringLiteral(".lock");
}

QString GetDemUndoFolder() {
    if (g_lockFd >= 0) {
        // Someone may have removed the folder by hand; the lock is still ours.
        QDir().mkpath(g_folder);
        return g_folder + '/';
    }
    QString working = WorkingFolder();
    if (working.isEmpty()) {
        return QString();
    }
    QString folder = working + QStringLiteral("/undo-%1").arg(QCoreApplication::applicationPid());
    int fd = LockFile(DemUndoLockPath(folder), true);
    if (fd < 0) {
        return QString();
    }
    // A folder of this name belonged to an earlier process with the same id: its files are stale.
    QDir(folder).removeRecursively();
    if (!QDir().mkpath(folder)) {
        unlink(QFile::encodeName(DemUndoLockPath(folder)).constData());
        close(fd);
        return QString();
    }
    g_lockFd = fd;
    g_folder = folder;
    return g_folder + '/';
}

int RemoveStaleDemUndoFolders() {
    QString working = WorkingFolder();
    if (working.isEmpty()) {
        return 0;
    }
    static const QRegularExpression kName(QStringLiteral("^undo-\\d+(\\.lock)?$"));
    QDir dir(working);
    QStringList names = dir.entryList(QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    int removed = 0;
    for (const QString& name : names) {
        if (!kName.match(name).hasMatch()) {
            continue;
        }
        QString folder = dir.filePath(name.endsWith(QStringLiteral(".lock")) ? name.chopped(5) : name);
        if (!g_folder.isEmpty() && FolderPath(folder) == g_folder) {
            continue;
        }
        QString lockPath = DemUndoLockPath(folder);
        bool isFolder = QFileInfo(folder).isDir();
        if (name.endsWith(QStringLiteral(".lock")) && isFolder) {
            continue;  // handled with its folder
        }
        int fd = LockFile(lockPath, false);
        if (fd < 0) {
            continue;  // its process still runs
        }
        if (isFolder && QDir(folder).removeRecursively()) {
            ++removed;
        }
        // The lock file goes last, while we still hold it, so nobody takes over a half-removed folder.
        unlink(QFile::encodeName(lockPath).constData());
        close(fd);
    }
    return removed;
}

void ReleaseDemUndoFolder() {
    if (g_lockFd < 0) {
        return;
    }
    QDir(g_folder).removeRecursively();
    unlink(QFile::encodeName(DemUndoLockPath(g_folder)).constData());
    close(g_lockFd);
    g_lockFd = -1;
    g_folder.clear();
}
