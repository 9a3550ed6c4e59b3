#include "app/FrameworkSettings.h"

#include <QSettings>

#include "platform/tools/ZQT.h"

namespace {

QString g_registryKey = QStringLiteral("Kelvaro");

QString KeyOf(const QString& section, const QString& entry) {
    QString s = section;
    QString e = entry;
    // A '/' in a name would open a sub-group of its own.
    s.replace('/', '|');
    e.replace('/', '|');
    return g_registryKey + '/' + s + '/' + e;
}

}  // namespace

void KvSetRegistryKey(const QString& key) {
    g_registryKey = key.isEmpty() ? QStringLiteral("Kelvaro") : key;
    g_registryKey.replace('/', '|');
}

QString KvGetRegistryKey() {
    return g_registryKey;
}

QString KvGetProfileString(const QString& section, const QString& entry, const QString& defaultValue) {
    QSettings settings(ZQT_GetUserProfilePath(), QSettings::IniFormat);
    QVariant v = settings.value(KeyOf(section, entry));
    return v.isValid() ? v.toString() : defaultValue;
}

int KvWriteProfileString(const QString& section, const QString& entry, const QString& value) {
    QSettings settings(ZQT_GetUserProfilePath(), QSettings::IniFormat);
    settings.setValue(KeyOf(section, entry), value);
    settings.sync();
    return settings.status() == QSettings::NoError ? 1 : 0;
}

int KvGetProfileInt(const QString& section, const QString& entry, int defaultValue) {
    int value = defaultValue;
    QString text = KvGetProfileString(section, entry, QString());
    if (!text.isEmpty() && !ZQT_StringToInt(text, &value)) {
        value = defaultValue;
    }
    return value;
}

int KvWriteProfileInt(const QString& section, const QString& entry, int value) {
    return KvWriteProfileString(section, entry, QString::number(value));
}
