#include "Program.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include "Data.h"

namespace bench {

namespace {

#ifdef KV_BENCH_SCENARIO
const char* const kRunner = KV_BENCH_SCENARIO;
#else
const char* const kRunner = nullptr;
#endif

// A step waits this long for what it awaits in the event loop; a command that works longer is not
// counted against it (docs/scenarios.md).
const char* const kStepTimeout = "3600";

}  // namespace

bool HaveScenarioRunner() {
    return kRunner != nullptr;
}

Command Scenario(const std::string& script, const std::string& work) {
    return {kRunner ? kRunner : "kv_scenario", script, "--keep", work, "--timeout", kStepTimeout};
}

bool WriteScript(const std::string& path, const std::string& text) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    return f && std::fputs(text.c_str(), f) >= 0 && std::fclose(f) == 0;
}

bool StartedBefore(const std::string& work) {
    const QString folder = DataFolder("program_started");
    const QString first = folder + "/first";
    const bool made = MakeOnce(folder, "1", [&] {
        const std::string script = (folder + "/empty.kvs").toStdString();
        return WriteScript(script, "# A first start.\n") && Run(Scenario(script, first.toStdString()));
    });
    if (!made) {
        return false;
    }
    const QDir from(first + "/kelvaro");
    const QString to = QString::fromStdString(work) + "/kelvaro";
    QDirIterator files(from.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next(), target = to + '/' + from.relativeFilePath(path);
        QFile::remove(target);
        if (!QDir().mkpath(QFileInfo(target).path()) || !QFile::copy(path, target)) {
            return false;
        }
    }
    return true;
}

}  // namespace bench
