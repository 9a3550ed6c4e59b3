// Where the larger shared LAS files are, which the repository does not carry: the shared test
// data beside the checkout (or one folder further up for a work tree). Empty when absent.
#pragma once

#include <QFileInfo>
#include <QString>

inline QString SharedLasPath(const QString& name) {
    for (const char* up : {"/../../../shared/testdata/las/", "/../../../../shared/testdata/las/"}) {
        QString path = QStringLiteral(KV_TEST_DATA_DIR) + up + name;
        if (QFileInfo::exists(path)) {
            return QFileInfo(path).canonicalFilePath();
        }
    }
    return QString();
}
