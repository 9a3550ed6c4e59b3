// What every test program shares, with or without an application object.
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cpl_error.h>
#include <gdal.h>

#include "platform/tools/ZQT.h"

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

void BeginTestProcess(QTemporaryDir* tmp) {
    QCoreApplication::setOrganizationName(QStringLiteral("DrovaneSoftware"));
    QCoreApplication::setApplicationName(QStringLiteral("KelvaroTests"));
    g_tmp = tmp;
    ZQT_SetSpecialFolderRoot(tmp->path());
    ZQT_SetUserProfilePath(tmp->path() + "/profile.ini");
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
}

void EndTestProcess() {
    g_tmp = nullptr;
}

}  // namespace kvtest
