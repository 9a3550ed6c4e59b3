// The readers of our own file formats, each as one function that takes a file's bytes and reads
// them as the program would. The fuzz tests feed them deterministic mutants of real files; the
// libFuzzer entry points feed them whatever the fuzzer makes. A reader may accept or refuse a
// file; it must never crash, read or write out of bounds, leak, or allocate without limit.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

namespace kvfuzz {

struct Target {
    const char* name;
    // The real file whose mutants the tests read.
    QByteArray (*seed)();
    // Reads one file; true when the reader accepted it.
    bool (*read)(const QByteArray& bytes);
    // A text format: mutants replace numbers by large ones instead of integer fields.
    bool text;
};

// Every target, in a fixed order. Call Prepare() once first (after the application object
// exists): it makes the work folder, the real files that are not in the repository (a palette
// file and an undo file made by the program's own writers) and the layers they refer to.
const std::vector<Target>& Targets();
const Target* FindTarget(const QString& name);
void Prepare(const QString& dataFolder, const QString& samplesFolder);

}  // namespace kvfuzz
