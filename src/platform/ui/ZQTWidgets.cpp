// The functions of the tools library that need a graphical application: opening files with their
// program, the splash screen, the screen's description, the folder chooser and window pictures.
// They live with the user-interface services so that the rest of the tools library runs in
// programs without one (workers, benchmarks).
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QSplashScreen>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include "platform/tools/SafeFile.h"
#include "platform/tools/ZQT.h"
#include "platform/ui/Interaction.h"

int ZQT_ShellExecute(const QString& /*verb*/, const QString& file, const QString& /*parameters*/,
                     int /*show*/) {
    QUrl url = QUrl::fromUserInput(file, QDir::currentPath(), QUrl::AssumeLocalFile);
    if (!url.isValid()) {
        return 0;
    }
    return QDesktopServices::openUrl(url) ? 1 : 0;
}

namespace {

// The splash window on screen, if any: it deletes itself when its time is up.
QPointer<QSplashScreen>& ShownSplash() {
    static QPointer<QSplashScreen> splash;
    return splash;
}

}  // namespace

void ZQT_ShowSplashScreen(const QPixmap& bitmap, int milliseconds) {
    if (bitmap.isNull() || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    ZQT_CloseSplashScreen();
    auto* splash = new QSplashScreen(bitmap, Qt::WindowStaysOnTopHint);
    splash->setAttribute(Qt::WA_DeleteOnClose);
    splash->show();
    QTimer::singleShot(milliseconds, splash, &QWidget::close);
    ShownSplash() = splash;
}

void ZQT_CloseSplashScreen() {
    delete ShownSplash().data();
}

QString ZQT_GetResolution() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || !QGuiApplication::primaryScreen()) {
        return QString();
    }
    QSize s = QGuiApplication::primaryScreen()->size();
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

QString ZQT_GetPixelDepth() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || !QGuiApplication::primaryScreen()) {
        return QString();
    }
    return QString::number(QGuiApplication::primaryScreen()->depth());
}

QString ZQT_PickFolderPath(const QString& title, const QString& initialFolder, QWidget* /*parent*/) {
    return kv::GetInteraction().ChooseFolder(title, initialFolder);
}

int ZQT_CaptureWindow(QPaintDevice* device, const QString& path) {
    if (!device || path.isEmpty()) {
        return 0;
    }
    QImage image;
    if (auto* widget = dynamic_cast<QWidget*>(device)) {
        image = widget->grab().toImage();
    } else if (auto* img = dynamic_cast<QImage*>(device)) {
        image = *img;
    } else if (auto* pix = dynamic_cast<QPixmap*>(device)) {
        image = pix->toImage();
    }
    if (image.isNull()) {
        return 0;
    }
    kv::SafeFile out(path);
    return out.open(QIODevice::WriteOnly) && image.convertToFormat(QImage::Format_RGB888).save(&out, "BMP") &&
                   out.commit()
               ? 1
               : 0;
}
