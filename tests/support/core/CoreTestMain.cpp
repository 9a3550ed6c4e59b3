// Test main of the core library: no application object at all, so that every worker and reader
// the core holds is shown to run in a program without one (as benchmarks and tools run them).
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/TestEnv.h"

int main(int argc, char** argv) {
    QTemporaryDir tmp;
    kvtest::BeginTestProcess(&tmp);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    kvtest::EndTestProcess();
    return rc;
}
