#include "platform/tools/SafeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSysInfo>

#include <cpl_error.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>

namespace kv {

namespace {

constexpr size_t kBufferBytes = 1 << 16;

std::mutex& HookMutex() {
    static std::mutex mutex;
    return mutex;
}

FileFaultHook& Hook() {
    static FileFaultHook hook;
    return hook;
}

// The error the test seam asks for at this step, or 0.
int InjectedError(FileStep step, const QString& target) {
    FileFaultHook hook;
    {
        std::lock_guard<std::mutex> lock(HookMutex());
        hook = Hook();
    }
    return hook ? hook(step, target) : 0;
}

bool Fails(FileStep step, const QString& target) {
    if (int error = InjectedError(step, target)) {
        errno = error;
        return true;
    }
    return false;
}

QString& NotedFailure() {
    thread_local QString reason;
    return reason;
}

FailureCauseScope*& InnermostScope() {
    thread_local FailureCauseScope* scope = nullptr;
    return scope;
}

// Notes the system's reason for the error number and answers it.
QString NoteErrno(int error) {
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    NoteWriteFailure(reason);
    return reason;
}

bool WriteAll(int fd, const char* data, size_t size, const QString& target) {
    while (size > 0) {
        if (Fails(FileStep::Write, target)) {
            return false;
        }
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool SyncPath(const QString& path, bool folder) {
    int fd = ::open(QFile::encodeName(path).constData(), folder ? O_RDONLY | O_DIRECTORY : O_RDWR);
    if (fd < 0) {
        return false;
    }
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The prefix and suffix of the temporaries of a file name; the writer and a random part lie
// between them.
QString TemporaryPrefix(const QString& fileName) {
    return QLatin1Char('.') + fileName + QLatin1Char('.');
}

const QLatin1String kTemporarySuffix(".kvsave");

// The machine in a temporary's name: 8 hex digits of a hash of its name.
const QString& HostTag() {
    static const QString tag = QString::fromLatin1(
        QCryptographicHash::hash(QSysInfo::machineHostName().toUtf8(), QCryptographicHash::Sha1)
            .toHex()
            .left(8));
    return tag;
}

// Whether the process of this machine that wrote a temporary may still be writing it: it is this
// process, or it runs (also as another user's, which kill may not signal).
bool WriterRuns(qint64 pid) {
    if (pid == qint64(::getpid())) {
        return true;
    }
    if (pid <= 0 || pid > qint64(std::numeric_limits<pid_t>::max())) {
        return false;
    }
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

void NoteWriteFailure(const QString& reason) {
    NotedFailure() = reason;
}

QString WriteFailure() {
    return NotedFailure();
}

FailureCauseScope::FailureCauseScope() : m_outer(InnermostScope()) {
    NotedFailure().clear();
    CPLErrorReset();
    InnermostScope() = this;
}

FailureCauseScope::~FailureCauseScope() {
    InnermostScope() = m_outer;
}

QString FailureCause() {
    if (!NotedFailure().isEmpty()) {
        return NotedFailure();
    }
    if (const FailureCauseScope* scope = InnermostScope(); scope && !scope->FirstGdalFailure().isEmpty()) {
        return scope->FirstGdalFailure();
    }
    if (CPLGetLastErrorType() >= CE_Failure) {
        return QString::fromUtf8(CPLGetLastErrorMsg()).trimmed();
    }
    return QString();
}

void SetFileFaultHook(FileFaultHook hook) {
    std::lock_guard<std::mutex> lock(HookMutex());
    Hook() = std::move(hook);
}

QString TemporaryPathFor(const QString& path) {
    RemoveStaleTemporaries(path);
    const QFileInfo info(path);
    const QDir dir = info.absoluteDir();
    const QString writer = HostTag() + QLatin1Char('-') + QString::number(::getpid()) + QLatin1Char('-');
    for (;;) {
        const QString name = TemporaryPrefix(info.fileName()) + writer +
                             QString::number(QRandomGenerator::global()->generate64(), 16) + kTemporarySuffix;
        const QString candidate = dir.filePath(name);
        if (!QFileInfo::exists(candidate)) {
            return candidate;
        }
    }
}

void RemoveStaleTemporaries(const QString& path) {
    const QFileInfo info(path);
    const QString fileName = info.fileName();
    if (fileName.isEmpty()) {
        return;
    }
    const QDir dir = info.absoluteDir();
    // The temporary itself and the side files a library may have made beside it: appended to its
    // name, or in place of its extension (a world file). A temporary of a temporary (a writer
    // handed a temporary as its target) has more leading dots; its first writer decides.
    const QRegularExpression pattern(QStringLiteral("^\\.+%1(?:([0-9a-f]{8})-([0-9]{1,19})-)?[0-9a-f]{1,16}"
                                                    "(?:%2(?:\\..*)?|\\.tfw)$")
                                         .arg(QRegularExpression::escape(fileName + QLatin1Char('.')),
                                              QRegularExpression::escape(kTemporarySuffix)));
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (!entry.contains(fileName)) {
            continue;
        }
        const QRegularExpressionMatch match = pattern.match(entry);
        if (!match.hasMatch()) {
            continue;
        }
        const bool named = match.capturedLength(1) > 0;
        if (!named || (match.captured(1) == HostTag() && !WriterRuns(match.captured(2).toLongLong()))) {
            QFile::remove(dir.filePath(entry));
        }
    }
}

bool CommitTemporary(const QString& temporary, const QString& path) {
    const QByteArray from = QFile::encodeName(temporary);
    const QByteArray to = QFile::encodeName(path);
    bool ok = !Fails(FileStep::Sync, path) && SyncPath(temporary, false);
    ok = ok && !Fails(FileStep::Rename, path) && std::rename(from.constData(), to.constData()) == 0;
    if (!ok) {
        const int error = errno;
        QFile::remove(temporary);
        NoteErrno(error);
        errno = error;
        return false;
    }
    // The rename itself reaches the disk with the folder; the new file is in place either way.
    SyncPath(QFileInfo(path).absolutePath(), true);
    return true;
}

SafeFile::SafeFile(const QString& path) : m_path(path) {}

SafeFile::~SafeFile() {
    Discard();
}

bool SafeFile::open(OpenMode mode) {
    if (isOpen() || (mode & ~QIODevice::Text) != QIODevice::WriteOnly || m_path.isEmpty()) {
        return false;
    }
    m_temporary = TemporaryPathFor(m_path);
    m_fd = ::open(QFile::encodeName(m_temporary).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        setErrorString(NoteErrno(errno));
        m_temporary.clear();
        return false;
    }
    m_buffer.clear();
    m_buffer.reserve(kBufferBytes);
    m_written = 0;
    m_failed = false;
    return QIODevice::open(mode & ~QIODevice::Text);
}

qint64 SafeFile::writeData(const char* data, qint64 size) {
    if (m_fd < 0 || m_failed || size < 0) {
        return -1;
    }
    if (m_buffer.size() + size_t(size) > kBufferBytes && !FlushBuffer()) {
        return -1;
    }
    if (size_t(size) >= kBufferBytes) {
        if (!WriteAll(m_fd, data, size_t(size), m_path)) {
            m_failed = true;
            setErrorString(NoteErrno(errno));
            return -1;
        }
    } else {
        m_buffer.insert(m_buffer.end(), data, data + size);
    }
    m_written += size;
    return size;
}

bool SafeFile::FlushBuffer() {
    if (m_failed) {
        return false;
    }
    if (!m_buffer.empty() && !WriteAll(m_fd, m_buffer.data(), m_buffer.size(), m_path)) {
        m_failed = true;
        setErrorString(NoteErrno(errno));
        return false;
    }
    m_buffer.clear();
    return true;
}

bool SafeFile::commit() {
    QString temporary;
    if (!finish(&temporary)) {
        return false;
    }
    if (!CommitTemporary(temporary, m_path)) {
        setErrorString(NoteErrno(errno));
        return false;
    }
    return true;
}

bool SafeFile::finish(QString* temporary) {
    if (m_fd < 0 || !isOpen() || !temporary) {
        return false;
    }
    bool ok = FlushBuffer();
    if (ok && Fails(FileStep::Flush, m_path)) {
        setErrorString(NoteErrno(errno));
        ok = false;
    }
    // close() reports the errors of a file system that writes back only then.
    if (::close(m_fd) != 0 && ok) {
        setErrorString(NoteErrno(errno));
        ok = false;
    }
    m_fd = -1;
    QIODevice::close();
    if (!ok) {
        Discard();
        return false;
    }
    *temporary = m_temporary;
    m_temporary.clear();
    return true;
}

void SafeFile::cancelWriting() {
    Discard();
}

void SafeFile::Discard() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (isOpen()) {
        QIODevice::close();
    }
    if (!m_temporary.isEmpty()) {
        QFile::remove(m_temporary);
        m_temporary.clear();
    }
    m_buffer.clear();
}

}  // namespace kv
