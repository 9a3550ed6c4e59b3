// What the command line asks of the program: nothing, open a project, or one of the shell's
// switches ("-p" print, "-pt" print to, "-dde"), which start the program without running the
// command.
#pragma once

#include <QString>
#include <QStringList>

class CCommandLineInfo {
public:
    enum ShellCommand { FileNew, FileOpen, FilePrint, FilePrintTo, FileDDE, FileNothing };

    // Reads the arguments after the program name.
    void ParseCommandLine(const QStringList& arguments);

    ShellCommand m_nShellCommand = FileNew;
    QString m_strFileName;
};
