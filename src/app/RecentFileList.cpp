#include "app/RecentFileList.h"

#include <QFileInfo>

#include "app/FrameworkSettings.h"

CRecentFileList::CRecentFileList(const QString& section, const QString& entryFormat, int size)
    : m_section(section), m_entryFormat(entryFormat), m_size(size) {}

void CRecentFileList::ReadList() {
    m_files.clear();
    for (int i = 0; i < m_size; ++i) {
        QString path = KvGetProfileString(m_section, m_entryFormat.arg(i + 1), QString());
        if (!path.isEmpty() && !m_files.contains(path)) {
            m_files << path;
        }
    }
}

void CRecentFileList::WriteList() const {
    for (int i = 0; i < m_size; ++i) {
        KvWriteProfileString(m_section, m_entryFormat.arg(i + 1),
                             i < m_files.size() ? m_files[i] : QString());
    }
}

void CRecentFileList::Add(const QString& path) {
    QString full = QFileInfo(path).absoluteFilePath();
    m_files.removeAll(full);
    m_files.prepend(full);
    while (m_files.size() > m_size) {
        m_files.removeLast();
    }
    WriteList();
}

void CRecentFileList::Remove(int index) {
    if (index >= 0 && index < m_files.size()) {
        m_files.removeAt(index);
        WriteList();
    }
}
