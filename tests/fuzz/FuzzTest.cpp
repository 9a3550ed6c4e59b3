// Every reader of our own file formats reads thousands of deterministic mutants of a real file
// (bit flips, truncations, large integers in its count and size fields, runs of random bytes)
// without crashing; under the sanitizer build also without any memory error, undefined
// behaviour or leak. Each test prints its mutation counts to the test log.
#include <QCoreApplication>
#include <QString>

#include <gtest/gtest.h>

#include <cstdio>

#include "fuzz/FuzzTargets.h"
#include "fuzz/Mutator.h"
#include "support/TestEnv.h"

namespace {

// A few thousand mutants per reader in CI; KV_FUZZ_MUTANTS asks for more in a longer local run.
int MutantCount() {
    bool ok = false;
    const int asked = qEnvironmentVariableIntValue("KV_FUZZ_MUTANTS", &ok);
    return ok && asked > 0 ? asked : 3000;
}

class ReaderFuzz : public ::testing::TestWithParam<const char*> {};

TEST_P(ReaderFuzz, ReadsMutantsOfARealFileWithoutFault) {
    kvfuzz::Prepare(kvtest::DataPath(QString()), QStringLiteral(KV_TEST_DATA_DIR "/../../samples"));
    const kvfuzz::Target* target = kvfuzz::FindTarget(QString::fromLatin1(GetParam()));
    ASSERT_NE(target, nullptr);
    const QByteArray seed = target->seed();
    ASSERT_FALSE(seed.isEmpty());
    // The real file itself is read: the mutants exercise the reader, not its first refusal.
    ASSERT_TRUE(target->read(seed)) << target->name;

    kvfuzz::Mutator mutator(seed, 0x4B56u + qHash(QByteArray(target->name)), target->text);
    const int count = MutantCount();
    int accepted = 0;
    for (int i = 0; i < count; ++i) {
        accepted += target->read(mutator.Next()) ? 1 : 0;
    }
    using kvfuzz::Mutation;
    std::printf(
        "fuzz %s: %d mutants (%d bit flips, %d truncations, %d large integers, %d byte runs), "
        "%d accepted, %d refused\n",
        target->name, mutator.Total(), mutator.Made(Mutation::BitFlip), mutator.Made(Mutation::Truncation),
        mutator.Made(Mutation::LargeInteger), mutator.Made(Mutation::ByteRun), accepted, count - accepted);
    EXPECT_EQ(mutator.Total(), count);
    // A truncation of a binary file to its first byte is never a whole file.
    EXPECT_LT(accepted, count);
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderFuzz,
                         ::testing::Values("archive", "project", "drawing", "drawing_payload", "palette",
                                           "las", "las14", "dxf", "shapefile", "undo",
                                           "orientation"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param);
                         });

}  // namespace
