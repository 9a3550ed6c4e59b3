#include "app/FileTypeRegistration.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>

#include "app/AppIcons.h"
#include "platform/tools/SafeFile.h"

namespace {

QByteArray ReadResource(const QString& name) {
    QFile f(QStringLiteral(":/kelvaro/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the file when its content differs. Returns 1 written, 0 unchanged, -1 failed.
int WriteIfChanged(const QString& path, const QByteArray& content) {
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == content) {
        return 0;
    }
    existing.close();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return -1;
    }
    kv::SafeFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(content) != content.size() || !out.commit()) {
        return -1;
    }
    return 1;
}

// Writes the icon's picture at that size as a PNG file when the file does not hold that picture
// already; as WriteIfChanged. The pictures are compared rather than the files' bytes, so that a
// start whose icon is in place encodes nothing.
int WriteIconIfChanged(const QString& path, const QString& iconName, int size) {
    QByteArray data;
    const QPixmap pixmap = KvAppIconPixmap(iconName, size);
    if (!pixmap.isNull()) {
        // A PNG holds the colours unpremultiplied, as its writer takes them.
        const QImage picture = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage present(path, "PNG");
        if (!present.isNull() && present.convertToFormat(QImage::Format_ARGB32) == picture) {
            return 0;
        }
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        pixmap.save(&buffer, "PNG");
    }
    return WriteIfChanged(path, data);
}

}  // namespace

QString DesktopExecValue(const QString& programPath) {
    // Inside the quotes of an Exec argument, '"', '`', '$' and '\' take a backslash; the
    // desktop-entry string then doubles every backslash; '%' is written as "%%".
    QString quoted;
    for (QChar c : programPath) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    quoted.replace('\\', QStringLiteral("\\\\"));
    quoted.replace('%', QStringLiteral("%%"));
    return '"' + quoted + '"';
}

int RegisterShellFileTypes(const QString& dataFolder, const QString& programPath) {
    if (dataFolder.isEmpty() || programPath.isEmpty()) {
        return 0;
    }
    const QString id = QString::fromLatin1(kKelvaroAppId);
    QByteArray desktop = ReadResource(id + ".desktop");
    QByteArray mime = ReadResource(id + ".xml");
    if (desktop.isEmpty() || mime.isEmpty()) {
        return 0;
    }
    QString tryExec = programPath;
    tryExec.replace('\\', QStringLiteral("\\\\"));
    desktop.replace("@EXEC@", DesktopExecValue(programPath).toUtf8());
    desktop.replace("@TRYEXEC@", tryExec.toUtf8());

    QDir data(dataFolder);
    int desktopResult =
        WriteIfChanged(data.filePath(QStringLiteral("applications/") + id + ".desktop"), desktop);
    int mimeResult = WriteIfChanged(data.filePath(QStringLiteral("mime/packages/") + id + ".xml"), mime);
    int iconResult = 0;
    for (int size : {48, 256}) {
        QString path = data.filePath(QStringLiteral("icons/hicolor/%1x%1/apps/").arg(size) + id + ".png");
        iconResult = qMin(iconResult, WriteIconIfChanged(path, QStringLiteral("kelvaro"), size));
    }
    if (desktopResult < 0 || mimeResult < 0 || iconResult < 0) {
        return 0;
    }
    // The desktop reads MIME types from a cache that its own tool rebuilds; run it in the
    // background, only when our type changed, and never wait for it.
    if (mimeResult > 0) {
        QString tool = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
        if (!tool.isEmpty()) {
            QProcess::startDetached(tool, {data.filePath(QStringLiteral("mime"))});
        }
    }
    if (desktopResult > 0) {
        QString tool = QStandardPaths::findExecutable(QStringLiteral("update-desktop-database"));
        if (!tool.isEmpty()) {
            QProcess::startDetached(tool, {data.filePath(QStringLiteral("applications"))});
        }
    }
    return 1;
}
