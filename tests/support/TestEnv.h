// What every test program shares: where the test data and screenshots are, and the temporary
// folder that holds this process's profile and working folder.
#pragma once

#include <QByteArray>
#include <QString>

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
// Saves a picture of the widget under build/screenshots/<name>.png; returns the path.
QString SaveScreenshot(QWidget* widget, const QString& name);

}  // namespace kvtest
