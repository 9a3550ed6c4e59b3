// Limits a test puts on itself: a largest file size (writes beyond it fail as on a full disk)
// and a memory budget for reading a hostile file.
#pragma once

#include <QString>

#include <cstddef>
#include <functional>

#include "platform/tools/SafeFile.h"

namespace kvtest {

// While it lives, no file of this process may grow beyond the given size: a write past it fails
// with EFBIG (the signal that would end the process is ignored), as a full disk would make it.
class FileSizeLimit {
public:
    explicit FileSizeLimit(size_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long m_previous;
    void (*m_previousHandler)(int);
};

// While it lives, the write layer fails that step of every file whose path ends with `ending`
// (every file when empty) with the error number, as the system would (ENOSPC for a full disk,
// EROFS for a read-only one).
class FileFault {
public:
    FileFault(kv::FileStep step, int error, const QString& ending = QString());
    ~FileFault();
    FileFault(const FileFault&) = delete;
    FileFault& operator=(const FileFault&) = delete;
};

// Runs work in a child process that stops, as a kill would stop it, just before the write layer's
// step number `step` of the work (counted from 0 over every step of every file); answers whether
// the work came to its end first. Every step up to the stop has its effect on the disk.
bool RunStoppedBeforeStep(size_t step, const std::function<void()>& work);

// Runs body with at most `budget` bytes of memory beyond what the process already holds and
// answers whether body returned true within it. Normally body runs in a child process whose
// address space is limited; under AddressSanitizer (whose shadow memory rules an address-space
// limit out) it runs here and no single allocation of body may exceed the budget.
bool RunWithinMemory(size_t budget, const std::function<bool()>& body);

}  // namespace kvtest
