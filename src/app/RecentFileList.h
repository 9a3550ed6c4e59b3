// The most recently opened projects, newest first, kept in the framework settings.
#pragma once

#include <QString>
#include <QStringList>

class CRecentFileList {
public:
    // section: the settings section; entryFormat: the entry names ("File%1", numbered from 1).
    CRecentFileList(const QString& section, const QString& entryFormat, int size);

    void ReadList();
    void WriteList() const;
    // Puts the path first, removing an older entry of the same file; the oldest falls off.
    void Add(const QString& path);
    void Remove(int index);
    int GetSize() const { return m_size; }
    // The entries that are set, newest first.
    const QStringList& Files() const { return m_files; }

private:
    QString m_section;
    QString m_entryFormat;
    int m_size;
    QStringList m_files;
};
