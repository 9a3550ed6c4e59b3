// The framework's own settings: the recent-files list, the state of the frame and the visual
// style. They live in the per-user profile file of the tools library, in the group named by the
// registry key ("Kelvaro"), one sub-group per section, so one file per user holds every setting
// of the program and tests redirect it with the profile.
#pragma once

#include <QString>

void KvSetRegistryKey(const QString& key);
QString KvGetRegistryKey();

int KvGetProfileInt(const QString& section, const QString& entry, int defaultValue);
int KvWriteProfileInt(const QString& section, const QString& entry, int value);
QString KvGetProfileString(const QString& section, const QString& entry, const QString& defaultValue);
int KvWriteProfileString(const QString& section, const QString& entry, const QString& value);
