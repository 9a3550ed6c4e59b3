// Crash reporter: when the program dies of a fatal signal (SIGSEGV, SIGABRT, SIGFPE, SIGILL,
// SIGBUS) or of std::terminate, it writes a report folder with the program's name and version,
// the kind of failure, a stack trace and the named properties the program added. Everything the
// report says is formatted when the reporter is installed or a property is added; the handler
// itself only creates folders and writes prepared bytes with async-signal-safe calls.
#pragma once

#include <QString>

// Flags of the install record. The low bits ask for every handler the reporter has; the
// others are accepted and have no meaning here.
enum : unsigned {
    kCrashAllHandlers = 0x1FFF,
};

// Kinds of failure, written as the report's exception type; their meaning is what the program
// adds as the "ExceptionTypeMeaning" property.
enum CrashKind : int {
    kCrashStructuredException = 0,  // a hardware fault that none of the signals below names (SIGBUS)
    kCrashTerminateCall = 1,
    kCrashUnexpectedCall = 2,
    kCrashPureVirtualCall = 3,
    kCrashNewOperatorFault = 4,
    kCrashBufferOverrun = 5,
    kCrashInvalidParameter = 6,
    kCrashSigabrt = 7,
    kCrashSigfpe = 8,
    kCrashSigill = 9,
    kCrashSigint = 10,
    kCrashSigsegv = 11,
    kCrashSigterm = 12,
};

struct CrashReporterInstallInfo {
    QString appName;
    QString appVersion;
    QString emailTo;  // where the operator is asked to send the report
    QString emailSubject;
    // Folder the reports go into, one sub-folder per crash. Empty: CrashReportsFolder(appName, appVersion).
    QString reportFolder;
    unsigned flags = kCrashAllHandlers;
    // Asked before a report is written (from the handler: it must be async-signal-safe);
    // returning false writes no report. Null: always report.
    bool (*crashCallback)() = nullptr;
};

// The folder of the unsent reports of a program version:
// "<local application data>/CrashRpt/UnsentCrashReports/<app>_<version cut before its third dot>".
QString CrashReportsFolder(const QString& appName, const QString& appVersion);

// Installs the handlers. Non-zero on success; on failure CrashReporterLastError() says why.
int InstallCrashReporter(const CrashReporterInstallInfo& info);
// Restores the handlers that were there before. Non-zero when the reporter was installed.
int UninstallCrashReporter();
int IsCrashReporterInstalled();
// Adds a named property to every later report (in the order added). Non-zero on success.
int CrashReporterAddProperty(const QString& name, const QString& value);
// The text of the last failure of the calls above.
QString CrashReporterLastError();
