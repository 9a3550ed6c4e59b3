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
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
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

const QLatin1String kTemporarySuffix(".kvsave");

// The longest name of a file in a folder, in bytes (NAME_MAX of the file systems here).
constexpr int kNameBytes = 255;
// What a temporary's name adds to its target's at most: the leading dot, the dot or "~" before the
// writer, the writer (8 hex digits of the machine, a process id of up to 10 digits and 16 hex
// digits of a random number, with two dashes) and ".kvsave".
constexpr int kTemporaryBytes = 1 + 1 + 8 + 1 + 10 + 1 + 16 + 7;
// What writers and libraries append to a temporary's name (".shp", ".aux.xml", ".ovr.aux.xml").
constexpr int kAppendedBytes = 16;
// The longest name that its temporaries name whole: a temporary of a temporary of it (a writer
// handed a temporary as its target writes through one of its own), with what is appended to that,
// still fits, and still begins with the name, so that the name's writers recognise it.
constexpr int kWholeNameBytes = kNameBytes - 2 * kTemporaryBytes - kAppendedBytes;
// The longest temporary that its own temporaries name whole: they fit with what is appended.
constexpr int kWholeTemporaryBytes = kNameBytes - kTemporaryBytes - kAppendedBytes;
// The first bytes of a longer name that its temporaries keep, before a hash of the whole name.
constexpr int kHeadBytes = 128;
static_assert(1 + kHeadBytes + 1 + 16 + kTemporaryBytes - 1 <= kWholeTemporaryBytes);

// What stands between the leading dot of the temporaries of a file name and their writer: the
// name and a dot, or for a long name its first bytes cut between characters, "~", 16 hex digits of
// a hash of the whole name and "~". A name of the first kind never ends in "~HASH~" followed by a
// writer, which holds no dot, so the temporaries of two names never look alike. A temporary of
// ours is named whole as long as its own temporaries fit, so that they begin with the name of the
// first target.
QString TemporaryStem(const QString& fileName) {
    const QByteArray bytes = QFile::encodeName(fileName);
    const bool temporary = fileName.startsWith(QLatin1Char('.')) && fileName.contains(kTemporarySuffix);
    if (bytes.size() <= (temporary ? kWholeTemporaryBytes : kWholeNameBytes)) {
        return fileName + QLatin1Char('.');
    }
    int head = kHeadBytes;
    // UTF-8 continuation bytes (10xxxxxx) lie inside a character: cut before its first byte.
    while (head > 0 && (uchar(bytes[head]) & 0xC0) == 0x80) {
        --head;
    }
    const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(16);
    return QFile::decodeName(bytes.left(head)) + QLatin1Char('~') + QString::fromLatin1(hash) +
           QLatin1Char('~');
}

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
        const QString name = QLatin1Char('.') + TemporaryStem(info.fileName()) + writer +
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
    const QString stem = TemporaryStem(fileName);
    // The temporary itself and the side files a library may have made beside it: appended to its
    // name, or in place of its extension (a world file). A temporary of a temporary (a writer
    // handed a temporary as its target) has more leading dots; its first writer decides.
    const QRegularExpression pattern(
        QStringLiteral("^\\.+%1(?:([0-9a-f]{8})-([0-9]{1,19})-)?[0-9a-f]{1,16}"
                       "(?:%2(?:\\..*)?|\\.tfw)$")
            .arg(QRegularExpression::escape(stem), QRegularExpression::escape(kTemporarySuffix)));
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries) {
        if (!entry.contains(stem)) {
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
    return PlaceFileSet({temporary, path}, {}, SetParts::Optional);
}

namespace {

// Whether a file (or a link) stands at path; a folder there fails the caller with EISDIR, since no
// file takes a folder's place.
bool Stands(const QString& path, bool* folder) {
    struct stat status;
    const bool stands = ::lstat(QFile::encodeName(path).constData(), &status) == 0;
    *folder = stands && S_ISDIR(status.st_mode);
    if (*folder) {
        errno = EISDIR;
    }
    return stands;
}

bool Rename(const QString& from, const QString& to) {
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// The steps of putting one set in place, with what it takes to go back to the old set.
class SetPlacement {
public:
    explicit SetPlacement(const QString& main) : m_main(main) {}

    // Moves the old file at path, if any, to a temporary name: it leaves its name as a removal
    // would, and comes back if the set fails.
    bool MoveAside(const QString& path) {
        bool folder = false;
        if (!Stands(path, &folder)) {
            return true;
        }
        if (folder || Fails(FileStep::Remove, path)) {
            return false;
        }
        const QString away = AwayName();
        if (!Rename(path, away)) {
            return errno == ENOENT;
        }
        m_aside.push_back({away, path});
        return true;
    }
    // Keeps the old main file under a second name (a hard link) while the new one replaces it in
    // one step, so that it can come back if a part fails afterwards. Where the file system has no
    // hard links the new main file stays then.
    bool KeepOldMain() {
        bool folder = false;
        if (!Stands(m_main, &folder)) {
            return true;
        }
        if (folder) {
            return false;
        }
        const QString away = AwayName();
        if (::link(QFile::encodeName(m_main).constData(), QFile::encodeName(away).constData()) == 0) {
            m_oldMain = away;
        }
        return true;
    }
    bool PutInPlace(const SetFile& file, bool main) {
        if (file.temporary.isEmpty()) {
            return true;
        }
        if (Fails(FileStep::Rename, file.path) || !Rename(file.temporary, file.path)) {
            return false;
        }
        if (main) {
            m_mainPlaced = true;
        } else {
            m_placedParts.push_back(file.path);
        }
        return true;
    }
    // After a failure: the new parts in place go, the old main file comes back in one step, then
    // the old parts; a new main file that cannot go back keeps no old part beside it.
    void Undo() {
        for (const QString& path : m_placedParts) {
            QFile::remove(path);
        }
        if (m_mainPlaced && !m_oldMain.isEmpty() && Rename(m_oldMain, m_main)) {
            m_mainPlaced = false;
            m_oldMain.clear();
        }
        for (auto old = m_aside.rbegin(); old != m_aside.rend(); ++old) {
            if (m_mainPlaced || !Rename(old->temporary, old->path)) {
                QFile::remove(old->temporary);
            }
        }
        m_aside.clear();
        Done();
    }
    // Once the set is in place: the old files go.
    void Done() {
        for (const SetFile& old : m_aside) {
            QFile::remove(old.temporary);
        }
        if (!m_oldMain.isEmpty()) {
            QFile::remove(m_oldMain);
        }
    }

private:
    // A new temporary name for an old file: one of the main file's, so that its next writer
    // clears it after a kill.
    QString AwayName() {
        if (m_away.isEmpty()) {
            m_away = TemporaryPathFor(m_main);
        }
        return m_away + QLatin1Char('.') + QString::number(m_names++);
    }

    QString m_main;
    QString m_away;
    int m_names = 0;
    std::vector<SetFile> m_aside;
    QString m_oldMain;
    std::vector<QString> m_placedParts;
    bool m_mainPlaced = false;
};

}  // namespace

bool PlaceFileSet(const SetFile& main, const std::vector<SetFile>& parts, SetParts reading) {
    std::vector<SetFile> files{main};
    files.insert(files.end(), parts.begin(), parts.end());
    SetPlacement placement(main.path);
    auto fail = [&files, &placement]() {
        const int error = errno;
        placement.Undo();
        for (const SetFile& file : files) {
            if (!file.temporary.isEmpty()) {
                QFile::remove(file.temporary);
            }
        }
        NoteErrno(error);
        errno = error;
        return false;
    };
    if (main.temporary.isEmpty()) {
        errno = EINVAL;
        return fail();
    }
    // Every new file reaches the disk before any old one goes: what follows are renames only.
    for (const SetFile& file : files) {
        if (!file.temporary.isEmpty() &&
            (Fails(FileStep::Sync, file.path) || !SyncPath(file.temporary, false))) {
            return fail();
        }
    }
    if (reading == SetParts::Needed && !placement.MoveAside(main.path)) {
        return fail();
    }
    for (const SetFile& part : parts) {
        if (!placement.MoveAside(part.path)) {
            return fail();
        }
    }
    // Only new parts can fail after the main file is in place.
    const bool partsFollow = std::any_of(parts.begin(), parts.end(),
                                         [](const SetFile& part) { return !part.temporary.isEmpty(); });
    if (reading == SetParts::Optional &&
        ((partsFollow && !placement.KeepOldMain()) || !placement.PutInPlace(main, true))) {
        return fail();
    }
    for (const SetFile& part : parts) {
        if (!placement.PutInPlace(part, false)) {
            return fail();
        }
    }
    if (reading == SetParts::Needed && !placement.PutInPlace(main, true)) {
        return fail();
    }
    placement.Done();
    // The renames reach the disk with their folders; the new files are in place either way.
    std::vector<QString> folders;
    for (const SetFile& file : files) {
        const QString folder = QFileInfo(file.path).absolutePath();
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
            SyncPath(folder, true);
        }
    }
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
