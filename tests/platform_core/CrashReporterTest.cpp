// The crash reporter, tried in child processes that crash.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QXmlStreamReader>

#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <exception>
#include <stdexcept>

#include "platform/crash/CrashReporter.h"
#include "support/TestEnv.h"

namespace {

CrashReporterInstallInfo InfoFor(const QString& folder) {
    CrashReporterInstallInfo info;
    info.appName = QStringLiteral("kelvaro");
    info.appVersion = QStringLiteral("4.2.1");
    info.emailTo = QStringLiteral("support@drovane.example");
    info.emailSubject = QStringLiteral("kelvaro 4.2.1 Error report - Ada Rossi");
    info.reportFolder = folder;
    return info;
}

// Runs the body in a child process and returns its wait status.
template <typename Body>
int InChild(Body body) {
    pid_t pid = fork();
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

// The report folders written into folder.
QStringList Reports(const QString& folder) {
    return QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
}

QString ReadReport(const QString& folder, const QString& file) {
    QStringList reports = Reports(folder);
    if (reports.size() != 1) {
        return QString();
    }
    QFile f(folder + '/' + reports[0] + '/' + file);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

TEST(CrashReporter, ASegmentationFaultLeavesAReportWithThePropertiesInOrder) {
    QString folder = kvtest::NewTempFolder("crash-segv") + "/CrashRpt/UnsentCrashReports/Kelvaro_4.2.1";
    int status = InChild([&] {
        if (!InstallCrashReporter(InfoFor(folder))) {
            _exit(3);
        }
        CrashReporterAddProperty("ExceptionTypeMeaning", "0 first\n12 last;");
        CrashReporterAddProperty("OS_Info", "Debian <12> & \"bookworm\"");
        CrashReporterAddProperty("User Data - Name", "Ada");
        raise(SIGSEGV);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);

    QString xml = ReadReport(folder, "report.xml");
    ASSERT_FALSE(xml.isEmpty()) << Reports(folder).join(',').toStdString();
    EXPECT_TRUE(xml.contains("<Program>kelvaro</Program>"));
    EXPECT_TRUE(xml.contains("<Version>4.2.1</Version>"));
    EXPECT_TRUE(xml.contains("<SendTo>support@drovane.example</SendTo>"));
    EXPECT_TRUE(xml.contains("<FailureKind>11</FailureKind>"));
    EXPECT_TRUE(xml.contains("<Signal>SIGSEGV</Signal>"));
    EXPECT_TRUE(xml.contains("value=\"0 first&#10;12 last;\""));
    EXPECT_TRUE(xml.contains("value=\"Debian &lt;12&gt; &amp; &quot;bookworm&quot;\""));
    qsizetype a = xml.indexOf("name=\"ExceptionTypeMeaning\"");
    qsizetype b = xml.indexOf("name=\"OS_Info\"");
    qsizetype c = xml.indexOf("name=\"User Data - Name\"");
    EXPECT_TRUE(a > 0 && a < b && b < c);
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    EXPECT_FALSE(ReadReport(folder, "stack.txt").isEmpty());
}

TEST(CrashReporter, AnEscapingExceptionIsReportedOnceAsATerminateCall) {
    QString folder = kvtest::NewTempFolder("crash-terminate");
    int status = InChild([&] {
        InstallCrashReporter(InfoFor(folder));
        // What the runtime does with an exception nobody catches (the test framework would
        // catch a plain throw here).
        try {
            throw std::runtime_error("nobody catches this");
        } catch (...) {
            std::terminate();
        }
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    ASSERT_EQ(Reports(folder).size(), 1);
    QString xml = ReadReport(folder, "report.xml");
    EXPECT_TRUE(xml.contains("<FailureKind>1</FailureKind>"));
    EXPECT_TRUE(xml.contains("<UncaughtException>"));
}

// Recurses until the stack runs out; the buffer keeps the compiler from turning it into a loop.
volatile int g_depthLimit = 1 << 30;
int Deeper(int depth) {
    if (depth >= g_depthLimit) {
        return 0;
    }
    volatile char frame[1024];
    frame[depth % 1024] = static_cast<char>(depth);
    return Deeper(depth + 1) + frame[(depth * 7) % 1024];
}

TEST(CrashReporter, AStackOverflowIsReportedFromTheHandlersOwnStack) {
    QString folder = kvtest::NewTempFolder("crash-overflow");
    int status = InChild([&] {
        InstallCrashReporter(InfoFor(folder));
        Deeper(0);
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    QString xml = ReadReport(folder, "report.xml");
    EXPECT_TRUE(xml.contains("<FailureKind>11</FailureKind>"));
    EXPECT_TRUE(xml.contains("<FaultAddress>0x"));
}

bool Refuse() {
    return false;
}

TEST(CrashReporter, TheCallbackMayRefuseTheReport) {
    QString folder = kvtest::NewTempFolder("crash-refused");
    int status = InChild([&] {
        CrashReporterInstallInfo info = InfoFor(folder);
        info.crashCallback = Refuse;
        InstallCrashReporter(info);
        abort();
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    EXPECT_TRUE(Reports(folder).isEmpty());
}

TEST(CrashReporter, InstallsOnceAndUninstallRestoresTheHandlers) {
    struct sigaction before {};
    sigaction(SIGSEGV, nullptr, &before);
    CrashReporterInstallInfo info = InfoFor(kvtest::NewTempFolder("crash-install"));
    ASSERT_EQ(InstallCrashReporter(info), 1);
    EXPECT_EQ(IsCrashReporterInstalled(), 1);
    EXPECT_EQ(InstallCrashReporter(info), 0);
    EXPECT_FALSE(CrashReporterLastError().isEmpty());
    EXPECT_EQ(UninstallCrashReporter(), 1);
    struct sigaction after {};
    sigaction(SIGSEGV, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    EXPECT_EQ(CrashReporterAddProperty("OS_Info", "x"), 0);

    info.appName.clear();
    EXPECT_EQ(InstallCrashReporter(info), 0);
    info.appName = QStringLiteral("kelvaro");
    info.reportFolder = QStringLiteral("relative/folder");
    EXPECT_EQ(InstallCrashReporter(info), 0);
}

TEST(CrashReporter, TheReportsFolderCarriesTheVersionCutBeforeItsThirdDot) {
    EXPECT_TRUE(
        CrashReportsFolder("Kelvaro", "4.2.1.0").endsWith("/CrashRpt/UnsentCrashReports/Kelvaro_4.2.1"));
    // Not "4.2.1." as cutting two characters off would give.
    EXPECT_TRUE(CrashReportsFolder("Kelvaro", "4.2.1.10").endsWith("/Kelvaro_4.2.1"));
    EXPECT_TRUE(CrashReportsFolder("Kelvaro", "4,2,1,0").endsWith("/Kelvaro_4.2.1"));
    EXPECT_TRUE(CrashReportsFolder("Kelvaro", "4.2").endsWith("/Kelvaro_4.2"));
}

}  // namespace
