#include "platform/tools/ZQT.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QRandomGenerator>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/tools/BusyScope.h"

namespace {

QString g_profilePath;
QString g_specialRoot;
QElapsedTimer g_stopwatch;

// Copies the text into a C buffer of size bytes, never cutting a UTF-8 sequence, and terminates it.
int CopyToBuffer(const QByteArray& utf8, char* buffer, int size) {
    if (!buffer || size <= 0) {
        return 0;
    }
    int n = std::min<int>(utf8.size(), size - 1);
    // Step back over continuation bytes so that a multi-byte character is never split.
    if (n < utf8.size()) {
        while (n > 0 && (static_cast<unsigned char>(utf8[n]) & 0xC0) == 0x80) {
            --n;
        }
    }
    std::memcpy(buffer, utf8.constData(), static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}

QSettings OpenProfile() {
    return QSettings(ZQT_GetUserProfilePath(), QSettings::IniFormat);
}

// QSettings gives '/' a meaning of its own in keys; sections and keys are kept literal.
QString ProfileKey(const QString& section, const QString& key) {
    QString s = section;
    QString k = key;
    s.replace('/', '|');
    k.replace('/', '|');
    return s + '/' + k;
}

QString SpecialRoot() {
    if (!g_specialRoot.isEmpty()) {
        return g_specialRoot;
    }
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

}  // namespace

void ZQT_PumpMessages() {
    if (QCoreApplication::instance() == nullptr) {
        return;
    }
    // Whoever pumps is in the middle of work: a close that arrives now must wait until it ends.
    kv::BusyScope busy;
    kv::PumpScope pumping;
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void ZQT_SetUserProfilePath(const QString& iniFile) {
    g_profilePath = iniFile;
}

QString ZQT_GetUserProfilePath() {
    if (!g_profilePath.isEmpty()) {
        return g_profilePath;
    }
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return dir + "/DrovaneSoftware/Kelvaro.ini";
}

void ZQT_SetSpecialFolderRoot(const QString& folder) {
    g_specialRoot = folder;
}

QString ZQT_GetUserProfileString(const QString& section, const QString& key, const QString& def) {
    QSettings s = OpenProfile();
    QVariant v = s.value(ProfileKey(section, key));
    if (!v.isValid()) {
        return def;
    }
    return v.toString();
}

int ZQT_GetUserProfileString(const char* section, const char* key, const char* def, char* buffer, int size) {
    QString value =
        ZQT_GetUserProfileString(QString::fromUtf8(section ? section : ""), QString::fromUtf8(key ? key : ""),
                                 QString::fromUtf8(def ? def : ""));
    return CopyToBuffer(value.toUtf8(), buffer, size);
}

int ZQT_WriteUserProfileString(const QString& section, const QString& key, const QString& value) {
    QSettings s = OpenProfile();
    s.setValue(ProfileKey(section, key), value);
    s.sync();
    return s.status() == QSettings::NoError ? 1 : 0;
}

int ZQT_WriteUserProfileString(const char* section, const char* key, const char* value) {
    return ZQT_WriteUserProfileString(QString::fromUtf8(section ? section : ""),
                                      QString::fromUtf8(key ? key : ""),
                                      QString::fromUtf8(value ? value : ""));
}

QString ZQT_GetSpecialFolder(int csidl, int create, int /*flag*/) {
    QString path;
    switch (csidl) {
        case CSIDL_COMMON_APPDATA:
            // Linux has no folder that every user may write: the working folder is per user.
            path = g_specialRoot.isEmpty()
                       ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                             "/DrovaneSoftware/Kelvaro/work"
                       : g_specialRoot + "/work";
            break;
        case CSIDL_LOCAL_APPDATA:
            path = g_specialRoot.isEmpty() ? SpecialRoot() : g_specialRoot + "/local";
            break;
        case CSIDL_APPDATA:
            path = g_specialRoot.isEmpty()
                       ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                       : g_specialRoot + "/config";
            break;
        case CSIDL_PERSONAL:
            path = g_specialRoot.isEmpty()
                       ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                       : g_specialRoot + "/documents";
            break;
        default:
            return QString();
    }
    if (path.isEmpty()) {
        return QString();
    }
    if (create && !QDir().mkpath(path)) {
        return QString();
    }
    return QDir::cleanPath(path);
}

int ZQT_GetSpecialFolder(char* buffer, int size, int csidl, int create, int flag) {
    QString path = ZQT_GetSpecialFolder(csidl, create, flag);
    if (path.isEmpty()) {
        return 0;
    }
    QByteArray utf8 = path.toUtf8();
    if (utf8.size() >= size) {
        return 0;
    }
    CopyToBuffer(utf8, buffer, size);
    return 1;
}

QString ZQT_GetRandomFilePath(const QString& folder, const QString& extension) {
    QString ext = extension;
    if (!ext.isEmpty() && !ext.startsWith('.')) {
        ext.prepend('.');
    }
    QDir dir(folder);
    for (;;) {
        quint64 r = QRandomGenerator::global()->generate64();
        QString name = QString::number(r, 36).toUpper() + ext;
        QString path = dir.filePath(name);
        if (!QFileInfo::exists(path)) {
            return QDir::cleanPath(path);
        }
    }
}

int ZQT_StringToDouble(const QString& text, double* value) {
    bool ok = false;
    double v = text.trimmed().toDouble(&ok);
    if (!ok || std::isnan(v)) {
        return 0;
    }
    if (value) {
        *value = v;
    }
    return 1;
}

int ZQT_StringToInt(const QString& text, int* value) {
    bool ok = false;
    int v = text.trimmed().toInt(&ok);
    if (!ok) {
        return 0;
    }
    if (value) {
        *value = v;
    }
    return 1;
}

int ZQT_StringToBoolean(const QString& text, int* value) {
    QString t = text.trimmed().toLower();
    int v;
    if (t == "1" || t == "true" || t == "yes" || t == "on") {
        v = 1;
    } else if (t == "0" || t == "false" || t == "no" || t == "off") {
        v = 0;
    } else {
        return 0;
    }
    if (value) {
        *value = v;
    }
    return 1;
}

QString ZQT_DoubleToString(double value, int decimals) {
    // printf's rounding, like every "%.3lf" the program writes elsewhere, but always with a
    // decimal point: the application object takes the operator's locale for the C library, and
    // texts written here are read back as numbers and stored in the profile.
    char buf[400];
    const auto end =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, std::clamp(decimals, 0, 30));
    return end.ec == std::errc() ? QString::fromLatin1(buf, static_cast<int>(end.ptr - buf)) : QString();
}

int ZQT_DoubleToString(double value, int decimals, char* buffer, int size) {
    return CopyToBuffer(ZQT_DoubleToString(value, decimals).toUtf8(), buffer, size);
}

int ZQT_GetVersionInfo(const char* module, QString* version, QString* text) {
    if (module != nullptr && *module != '\0') {
        return 0;  // only the program's own version is known here
    }
    QString v = QCoreApplication::applicationVersion();
    if (v.isEmpty()) {
        v = QStringLiteral(KV_VERSION_TEXT);
    }
    if (version) {
        *version = v;
    }
    if (text) {
        *text = QStringLiteral("Kelvaro");
    }
    return 1;
}

QString ZQT_CutVersion(const QString& version) {
    QString v = version;
    v.replace(',', '.');
    int dots = 0;
    for (int i = 0; i < v.size(); ++i) {
        if (v[i] == '.' && ++dots == 3) {
            return v.left(i);
        }
    }
    return v;
}

QString ZQT_GetCurrentSysDate(int, int) {
    return QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
}

QString ZQT_GetCurrentSysTime() {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

qint64 ZQT_GetFileSize(const QString& path) {
    QFileInfo fi(path);
    if (!fi.exists() || !fi.isFile()) {
        return -1;
    }
    return fi.size();
}

int ZQT_GetRelativePath(const QString& from, int fromFlag, const QString& to, int /*toFlag*/,
                        QString* result) {
    if (from.isEmpty() || to.isEmpty()) {
        return 0;
    }
    QFileInfo fromInfo(from);
    QFileInfo toInfo(to);
    if (fromInfo.isRelative() || toInfo.isRelative()) {
        return 0;
    }
    QString base = (fromFlag & 0x10) ? QDir::cleanPath(from) : fromInfo.absolutePath();
    QString rel = QDir(base).relativeFilePath(QDir::cleanPath(to));
    if (rel.isEmpty()) {
        rel = QStringLiteral(".");
    }
    if (result) {
        *result = rel;
    }
    return 1;
}

QString ZQT_GetOSInfo() {
    return QSysInfo::prettyProductName() + " (" + QSysInfo::kernelType() + ' ' + QSysInfo::kernelVersion() +
           ", " + QSysInfo::currentCpuArchitecture() + ')';
}

QString ZQT_GetRAMInfo() {
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return QString();
    }
    QString total, avail;
    // /proc files report no size, so read them whole instead of testing for their end.
    const QList<QByteArray> lines = f.readAll().split('\n');
    for (const QByteArray& raw : lines) {
        QString line = QString::fromLatin1(raw).simplified();
        if (line.startsWith("MemTotal:")) {
            total = line.mid(9).trimmed();
        } else if (line.startsWith("MemAvailable:")) {
            avail = line.mid(13).trimmed();
        }
    }
    return QStringLiteral("Total: %1, Available: %2").arg(total, avail);
}

int ZQT_GetDisplayAdaptersList(QStringList* list) {
    QStringList names;
    QDir drm(QStringLiteral("/sys/class/drm"));
    for (const QString& card : drm.entryList(QStringList() << "card?", QDir::Dirs | QDir::System)) {
        QFile f(drm.filePath(card + "/device/uevent"));
        if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
            for (const QByteArray& line : f.readAll().split('\n')) {
                if (line.startsWith("DRIVER=")) {
                    names << QString::fromLatin1(line.mid(7));
                }
            }
        }
    }
    if (list) {
        *list = names;
    }
    return static_cast<int>(names.size());
}

QString ZQT_OptimizePath(const QString& path, int endWithSeparator) {
    QString p = QDir::cleanPath(QDir::fromNativeSeparators(path));
    if (endWithSeparator && !p.endsWith('/')) {
        p += '/';
    }
    return p;
}

int ZQT_DeleteDirectory(const QString& folder) {
    if (folder.isEmpty()) {
        return 0;
    }
    QDir dir(folder);
    if (!dir.exists()) {
        return 0;
    }
    return dir.removeRecursively() ? 1 : 0;
}

int ZQT_IsValidFileName(const QString& name) {
    if (name.trimmed().isEmpty() || name == "." || name == "..") {
        return 1;
    }
    // Refuses what no file system we write to accepts, and the characters other systems reserve,
    // so that a project moved elsewhere keeps working.
    static const QString reserved = QStringLiteral("/\\:*?\"<>|");
    for (QChar c : name) {
        if (c.unicode() < 32 || reserved.contains(c)) {
            return 1;
        }
    }
    return name.toUtf8().size() > 255 ? 1 : 0;
}

void ZQT_StartTimer() {
    g_stopwatch.start();
}

qint64 ZQT_GetElapsedTime() {
    return g_stopwatch.isValid() ? g_stopwatch.elapsed() : 0;
}

int ZQT_ParseString(const QString& text, const QString& separator, QStringList* out) {
    QStringList parts = text.split(separator);
    if (out) {
        *out = parts;
    }
    return static_cast<int>(parts.size());
}
