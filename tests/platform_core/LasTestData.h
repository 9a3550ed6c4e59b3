// Where a LAS file of the tests is: the repository's own test data first, then the shared test
// data beside the checkout (or one folder further up for a work tree), which holds larger files
// the repository does not carry. Empty when absent.
#pragma once

#include <QFileInfo>
#include <QString>

inline QString SharedLasPath(const QString& name) {
    for (const char* folder : {"/", "/../../../shared/testdata/las/", "/../../../../shared/testdata/las/"}) {
        QString path = QStringLiteral(KV_TEST_DATA_DIR) + folder + name;
        if (QFileInfo::exists(path)) {
            return QFileInfo(path).canonicalFilePath();
        }
    }
    return QString();
}
