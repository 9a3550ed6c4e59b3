// Writing files so that nothing the operator owns is ever half-written: a file is written under a
// temporary name beside its target, every write and the final flush are checked, the data are
// synced to the disk, and only then is the temporary renamed over the target. A failure at any
// step leaves the old file exactly as it was.
//
// Every file of ours that the program writes goes through this layer: streams through SafeFile,
// files that a library writes (GDAL) through TemporaryPathFor and CommitTemporary, and files that
// belong together (a shapefile's parts, a raster with its side files) through PlaceFileSet.
#pragma once

#include "platform/tools/GdalFailures.h"

#include <QIODevice>
#include <QString>

#include <functional>
#include <vector>

namespace kv {

// The steps of a write that can fail: Remove takes an old file of a set away (PlaceFileSet).
enum class FileStep { Write, Flush, Sync, Rename, Remove };

// A test seam: called before each step with the final path of the file; a non-zero answer (an
// errno value such as ENOSPC) makes the step fail as the system would. An empty hook removes it.
using FileFaultHook = std::function<int(FileStep step, const QString& target)>;
void SetFileFaultHook(FileFaultHook hook);

// Why writing failed, in the system's words ("No space left on device"), for the operator's
// command line. Each failed step of this layer notes its reason, per thread; so may any writer
// that refuses or fails a file for a reason of its own (a raster too large for its disk).
void NoteWriteFailure(const QString& reason);
// The reason last noted on this thread since the innermost FailureCauseScope began; empty when
// none was.
QString WriteFailure();

// A command's writes, for the cause of their failure: while it lives, the first failure GDAL
// reports on this thread is kept (the root of what follows: "File too large" before the "Write
// error" it brings), and every report passes on unchanged to the handler before. It begins with
// nothing noted and GDAL's last error reset.
class FailureCauseScope {
public:
    FailureCauseScope();
    ~FailureCauseScope();
    FailureCauseScope(const FailureCauseScope&) = delete;
    FailureCauseScope& operator=(const FailureCauseScope&) = delete;

    // The first failure GDAL reported within the scope, empty when none.
    QString FirstGdalFailure() const { return m_gdal.FirstFailure(); }

private:
    GdalFailureWatch m_gdal;
    FailureCauseScope* m_outer;
};

// Why the last write on this thread failed: the reason noted by the write layer when there is
// one, else the first failure GDAL reported in the innermost FailureCauseScope, else GDAL's last
// failure; empty when none of them said anything.
QString FailureCause();

// A new name beside path for writing its next version: a hidden file of the same folder that
// names its target and its writer, ".NAME.HOST-PID-RANDOM.kvsave" (HOST a short hash of the
// machine's name, PID the writing process), so that one left behind by a killed program is
// recognised. The name fits wherever the target's does, with room for what a library appends to
// it (".aux.xml") and for a temporary of its own (a writer handed a temporary as its target): a
// long NAME is given as its first bytes, cut between characters, and a hash of the whole name,
// ".HEAD~HASH~HOST-PID-RANDOM.kvsave". The temporaries of path that such a writer left are
// removed first (RemoveStaleTemporaries), so every writer clears what an interrupted write of the
// same target left, whatever the tool.
QString TemporaryPathFor(const QString& path);

// Removes the temporaries of path, with the side files a library made beside them (".aux.xml",
// ".ovr", a ".tfw" world file), that an interrupted write left behind: those whose writer was a
// process of this machine that no longer runs, and those of an earlier naming without a writer.
// A temporary of a process that still runs (this one among them) or of another machine is left
// alone: it may still be being written.
void RemoveStaleTemporaries(const QString& path);

// Syncs a finished temporary to the disk and renames it over path, then syncs the folder. On
// failure the temporary is removed, path is left as it was and errno tells why.
bool CommitTemporary(const QString& temporary, const QString& path);

// One file of a set that belongs together: the finished temporary that becomes the file at path,
// or none when the new set has no such file and the old one at path goes.
struct SetFile {
    QString temporary;
    QString path;
};

// How a reader takes a set of files through its main file, the one it opens (a shapefile's .shp,
// a raster itself, a mesh): only together with the other parts (a shapefile's index and records,
// the offset that places a mesh), or alone, the parts being additions it reads when they are there
// (a raster's overviews and auxiliary statistics, its world file).
enum class SetParts { Needed, Optional };

// Puts a set of finished temporaries in place in an order in which no moment leaves files of two
// versions under the final names. Every temporary is synced first; then, with parts that are
// needed, the old main file leaves its name first, the old parts leave theirs, the new parts come
// and the new main file comes last: whatever stops it (a kill) leaves the old set, the new set, or
// no main file. With optional parts the old parts leave, the new main file replaces the old one in
// one step and the new parts follow: the main file stands throughout, with parts of its own
// version only. An old file leaves its name for a temporary one of its own, removed once the set
// is in place (or by the next write of the file, after a kill); the old main file that a new one
// replaces in one step is kept under a second name (a hard link) until then. A failure says why
// (NoteWriteFailure, errno), removes the temporaries and brings the old files back: the old set
// stands again (on a file system without hard links a new main file already in place stays, with
// no old part beside it). The main file needs a temporary.
bool PlaceFileSet(const SetFile& main, const std::vector<SetFile>& parts, SetParts reading);

// A write-only device for one file. Writes are buffered and go to a temporary beside the target;
// commit() flushes, syncs and renames; a device destroyed without a successful commit removes
// its temporary.
class SafeFile : public QIODevice {
public:
    explicit SafeFile(const QString& path);
    ~SafeFile() override;
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Only QIODevice::WriteOnly (with or without Text, which changes nothing) is accepted.
    bool open(OpenMode mode) override;
    // True when every write, the flush, the sync and the rename succeeded.
    bool commit();
    // Completes the temporary without putting it in place, for a caller that renames several
    // files only once all of them are written: true when every write and the flush succeeded,
    // and *temporary names the file to hand to CommitTemporary (or to remove).
    bool finish(QString* temporary);
    // Gives up: the temporary is removed and the target stays as it was.
    void cancelWriting();

    QString fileName() const { return m_path; }
    qint64 size() const override { return m_written; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool FlushBuffer();
    void Discard();

    QString m_path;
    QString m_temporary;
    int m_fd = -1;
    std::vector<char> m_buffer;
    qint64 m_written = 0;
    bool m_failed = false;
};

}  // namespace kv
