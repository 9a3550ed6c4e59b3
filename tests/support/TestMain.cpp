// Test main: an offscreen application, this process's profile and working folder in a temporary
// folder, quiet library logs.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <cpl_error.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <vtkObject.h>

#include "platform/tools/ZQT.h"
#include "support/TestEnv.h"

namespace {
QTemporaryDir* g_tmp = nullptr;
}

namespace kvtest {

QString DataPath(const QString& name) {
    return QStringLiteral(KV_TEST_DATA_DIR) + '/' + name;
}

QString TempDir() {
    return g_tmp ? g_tmp->path() : QDir::tempPath();
}

QString NewTempFolder(const QString& name) {
    QString path = TempDir() + '/' + name;
    QDir(path).removeRecursively();
    QDir().mkpath(path);
    return path;
}

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool WriteFileBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QString SaveScreenshot(QWidget* widget, const QString& name) {
    QString dir = QStringLiteral(KV_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    QString path = dir + '/' + name + ".png";
    widget->grab().save(path);
    return path;
}

}  // namespace kvtest

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("DrovaneSoftware"));
    QApplication::setApplicationName(QStringLiteral("KelvaroTests"));
    QTemporaryDir tmp;
    g_tmp = &tmp;
    ZQT_SetSpecialFolderRoot(tmp.path());
    ZQT_SetUserProfilePath(tmp.path() + "/profile.ini");
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    vtkObject::GlobalWarningDisplayOff();
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    g_tmp = nullptr;
    return rc;
}
