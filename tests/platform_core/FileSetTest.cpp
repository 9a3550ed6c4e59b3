// Files that belong together are put in place so that no moment leaves parts of two versions
// under the final names: a set stopped before any step of the write layer (as a kill stops it)
// shows the old set, the new set, or no main file when its parts are needed, and a main file with
// parts of its own version only when they are optional; a set failing at any step says why and
// brings the old set back whole.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <ostream>
#include <set>
#include <string>

#include "platform/tools/SafeFile.h"
#include "support/Limits.h"
#include "support/TestEnv.h"

namespace kv {

void PrintTo(SetParts reading, std::ostream* out) {
    *out << (reading == SetParts::Needed ? "needed parts" : "optional parts");
}

}  // namespace kv

namespace {

// The old set: a main file with an index and records that the new set replaces and a projection
// that it drops; the new set brings a code page the old one lacked.
const std::map<QString, QByteArray> kOld = {
    {"m.shp", "old main"}, {"m.shx", "old index"}, {"m.dbf", "old records"}, {"m.prj", "old projection"}};
const std::map<QString, QByteArray> kNew = {
    {"m.shp", "new main"}, {"m.shx", "new index"}, {"m.dbf", "new records"}, {"m.cpg", "new code page"}};
const char* const kNames[] = {"m.shp", "m.shx", "m.dbf", "m.prj", "m.cpg"};

// A folder with the old set in place and the new set written under temporary names; the set's
// files in *main and *parts.
QString Prepare(const QString& name, kv::SetFile* main, std::vector<kv::SetFile>* parts) {
    const QString folder = kvtest::NewTempFolder(name);
    parts->clear();
    for (const char* file : kNames) {
        const QString path = folder + '/' + file;
        if (kOld.count(file)) {
            kvtest::WriteFileBytes(path, kOld.at(file));
        }
        QString temporary;
        if (kNew.count(file)) {
            temporary = kv::TemporaryPathFor(path);
            kvtest::WriteFileBytes(temporary, kNew.at(file));
        }
        if (path.endsWith(".shp")) {
            *main = {temporary, path};
        } else {
            parts->push_back({temporary, path});
        }
    }
    return folder;
}

// What stands under the final names: "old", "new", "none" (no main file) or what is wrong.
std::string Standing(const QString& folder, kv::SetParts reading) {
    const QByteArray main = kvtest::FileBytes(folder + "/m.shp");
    if (!QFileInfo::exists(folder + "/m.shp")) {
        return reading == kv::SetParts::Needed ? "none" : "the main file is missing";
    }
    const std::map<QString, QByteArray>& version = main == kOld.at("m.shp") ? kOld : kNew;
    const std::string name = &version == &kOld ? "old" : "new";
    for (const char* file : kNames) {
        const QString path = folder + '/' + file;
        const bool stands = QFileInfo::exists(path);
        if (stands && (!version.count(file) || kvtest::FileBytes(path) != version.at(file))) {
            return std::string(file) + " of another version beside the " + name + " main file";
        }
        if (!stands && version.count(file) && reading == kv::SetParts::Needed) {
            return std::string(file) + " missing beside the " + name + " main file";
        }
    }
    return name;
}

QStringList Temporaries(const QString& folder) {
    return QDir(folder).entryList({"*.kvsave*"}, QDir::Files | QDir::Hidden);
}

class FileSetTest : public ::testing::TestWithParam<kv::SetParts> {
protected:
    void TearDown() override { kv::SetFileFaultHook({}); }
};

TEST_P(FileSetTest, StoppedBeforeAnyStepItLeavesNoMixOfVersions) {
    const kv::SetParts reading = GetParam();
    std::set<std::string> seen;
    bool finished = false;
    for (size_t step = 0; !finished && step < 64; ++step) {
        kv::SetFile main;
        std::vector<kv::SetFile> parts;
        const QString folder = Prepare("stopped", &main, &parts);
        finished = kvtest::RunStoppedBeforeStep(step, [&] { kv::PlaceFileSet(main, parts, reading); });
        const std::string standing = Standing(folder, reading);
        EXPECT_TRUE(standing == "old" || standing == "new" || standing == "none")
            << "stopped before step " << step << ": " << standing;
        seen.insert(standing);
        if (finished) {
            EXPECT_EQ(standing, "new");
            EXPECT_TRUE(Temporaries(folder).isEmpty()) << Temporaries(folder).join(',').toStdString();
            EXPECT_FALSE(QFileInfo::exists(folder + "/m.prj"));
        }
    }
    EXPECT_TRUE(finished);
    // With needed parts the main file is away while the parts change; optional ones never take it.
    EXPECT_EQ(seen.count("none"), reading == kv::SetParts::Needed ? 1u : 0u);
}

TEST_P(FileSetTest, AFailureAtAnyStepSaysWhyAndBringsTheOldSetBackWithoutTemporaries) {
    const kv::SetParts reading = GetParam();
    bool succeeded = false;
    for (size_t failing = 0; !succeeded && failing < 64; ++failing) {
        kv::SetFile main;
        std::vector<kv::SetFile> parts;
        const QString folder = Prepare("failing", &main, &parts);
        size_t seen = 0;
        kv::SetFileFaultHook([&](kv::FileStep, const QString&) { return seen++ == failing ? EROFS : 0; });
        kv::FailureCauseScope scope;
        succeeded = kv::PlaceFileSet(main, parts, reading);
        kv::SetFileFaultHook({});
        const std::string standing = Standing(folder, reading);
        EXPECT_TRUE(standing == "old" || standing == "new" || standing == "none")
            << "failing at step " << failing << ": " << standing;
        EXPECT_TRUE(Temporaries(folder).isEmpty()) << failing;
        if (!succeeded) {
            EXPECT_EQ(kv::WriteFailure(), QString::fromLocal8Bit(std::strerror(EROFS)));
            // The old set comes back whole, also when a part failed after the new main file went
            // in place.
            for (const auto& [name, bytes] : kOld) {
                EXPECT_EQ(kvtest::FileBytes(folder + '/' + name), bytes) << failing;
            }
            EXPECT_FALSE(QFileInfo::exists(folder + "/m.cpg")) << failing;
        }
    }
    EXPECT_TRUE(succeeded);
}

INSTANTIATE_TEST_SUITE_P(Reading, FileSetTest,
                         ::testing::Values(kv::SetParts::Needed, kv::SetParts::Optional),
                         [](const ::testing::TestParamInfo<kv::SetParts>& info) {
                             return info.param == kv::SetParts::Needed ? "Needed" : "Optional";
                         });

}  // namespace
