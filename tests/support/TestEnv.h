// What every test program shares: where the test data and screenshots are, and the temporary
// folder that holds this process's profile and working folder.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

class QTemporaryDir;
class QWidget;

namespace kvtest {

// A file of tests/data.
QString DataPath(const QString& name);
// The temporary folder of this test process (removed at exit).
QString TempDir();
// A new empty folder inside TempDir().
QString NewTempFolder(const QString& name);
// The whole content of a file (empty when it cannot be read), and a file written with exactly
// these bytes (false when it cannot be written).
QByteArray FileBytes(const QString& path);
bool WriteFileBytes(const QString& path, const QByteArray& bytes);
// Saves a picture of the widget under build/screenshots/<name>.png; returns the path. Only in
// test programs with an application object.
QString SaveScreenshot(QWidget* widget, const QString& name);

// Narrows the calling thread to the first `count` of the processors it may run on and gives the
// program's thread pools that many (kv::UseAllowedProcessors) while it lives; then both go back
// to what they were.
class ProcessorsScope {
public:
    explicit ProcessorsScope(int count);
    ~ProcessorsScope();
    ProcessorsScope(const ProcessorsScope&) = delete;
    ProcessorsScope& operator=(const ProcessorsScope&) = delete;
    // The processors the thread was narrowed to (fewer than asked when it had fewer).
    int Count() const { return m_count; }

private:
    std::vector<int> m_before;
    int m_count = 0;
};

// For the test mains: the process's profile and working folder go into the temporary folder,
// GDAL's drivers are registered and its messages kept quiet, and the thread pools get the
// program's thread count (kv::UseAllowedProcessors).
void BeginTestProcess(QTemporaryDir* tmp);
void EndTestProcess();

}  // namespace kvtest
