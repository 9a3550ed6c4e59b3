// Test main: an offscreen application, this process's profile and working folder in a temporary
// folder, quiet library logs.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <vtkObject.h>

#include "support/TestEnv.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QTemporaryDir tmp;
    kvtest::BeginTestProcess(&tmp);
    vtkObject::GlobalWarningDisplayOff();
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    kvtest::EndTestProcess();
    return rc;
}
