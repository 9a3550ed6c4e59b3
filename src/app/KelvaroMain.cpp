#include "app/KelvaroMain.h"

#include <QApplication>
#include <QMainWindow>

#include <gdal_priv.h>

int KelvaroMain(int argc, char** argv) {
    GDALAllRegister();
    CPLSetConfigOption("GDAL_FILENAME_IS_UTF8", "NO");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("DrovaneSoftware"));
    QApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QApplication::setApplicationVersion(QStringLiteral(KV_VERSION_TEXT));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Kelvaro"));
    window.showMaximized();
    return QApplication::exec();
}
