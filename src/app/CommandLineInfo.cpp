#include "app/CommandLineInfo.h"

void CCommandLineInfo::ParseCommandLine(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (argument.size() > 1 && argument.startsWith('-')) {
            QString flag = argument.mid(1).toLower();
            if (flag == QLatin1String("p")) {
                m_nShellCommand = FilePrint;
            } else if (flag == QLatin1String("pt")) {
                m_nShellCommand = FilePrintTo;
            } else if (flag == QLatin1String("dde")) {
                m_nShellCommand = FileDDE;
            }
            continue;
        }
        // The first plain argument is the file; for a print it is the file to print.
        if (m_strFileName.isEmpty()) {
            m_strFileName = argument;
            if (m_nShellCommand == FileNew) {
                m_nShellCommand = FileOpen;
            }
        }
    }
}
