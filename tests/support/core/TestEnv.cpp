// What every test program shares, with or without an application object.
#include "support/TestEnv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sched.h>

#include <cpl_error.h>
#include <gdal.h>

#include <algorithm>

#include "platform/tools/Threads.h"
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

namespace {

bool SetThreadProcessors(const std::vector<int>& processors) {
    cpu_set_t set;
    CPU_ZERO(&set);
    for (const int cpu : processors) {
        if (cpu < CPU_SETSIZE) {
            CPU_SET(cpu, &set);
        }
    }
    return CPU_COUNT(&set) > 0 && sched_setaffinity(0, sizeof set, &set) == 0;
}

}  // namespace

ProcessorsScope::ProcessorsScope(int count) : m_before(kv::AllowedProcessorNumbers()) {
    const std::vector<int> narrowed(
        m_before.begin(), m_before.begin() + std::min<ptrdiff_t>(count, ptrdiff_t(m_before.size())));
    if (SetThreadProcessors(narrowed)) {
        m_count = int(narrowed.size());
    }
    kv::UseAllowedProcessors();
}

ProcessorsScope::~ProcessorsScope() {
    SetThreadProcessors(m_before);
    kv::UseAllowedProcessors();
}

void BeginTestProcess(QTemporaryDir* tmp) {
    QCoreApplication::setOrganizationName(QStringLiteral("DrovaneSoftware"));
    QCoreApplication::setApplicationName(QStringLiteral("KelvaroTests"));
    g_tmp = tmp;
    ZQT_SetSpecialFolderRoot(tmp->path());
    ZQT_SetUserProfilePath(tmp->path() + "/profile.ini");
    GDALAllRegister();
    CPLSetErrorHandler(CPLQuietErrorHandler);
    kv::UseAllowedProcessors();
}

void EndTestProcess() {
    g_tmp = nullptr;
}

}  // namespace kvtest
