#include "platform/crash/CrashReporter.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/tools/ZQT.h"

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGABRT, SIGFPE, SIGILL, SIGBUS};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);
constexpr size_t kPathCapacity = 4096;
constexpr size_t kAltStackSize = 128 * 1024;

// Everything the handler needs, prepared at install time.
struct Prepared {
    std::string folder;  // the reports folder, no trailing '/'
    std::string header;  // the report's opening lines up to the kind of failure
    bool (*callback)() = nullptr;
};

bool g_installed = false;
QString g_lastError;
Prepared g_prepared;
struct sigaction g_previous[kSignalCount];
std::terminate_handler g_previousTerminate = nullptr;
stack_t g_previousAltStack;
std::unique_ptr<char[]> g_altStack;

// The properties block. Each change builds a new block and publishes it; older blocks stay alive
// until uninstall, since the handler may be reading one when a property is added.
std::vector<std::pair<std::string, std::string>> g_properties;
std::vector<std::unique_ptr<std::string>> g_blocks;
std::atomic<const std::string*> g_propertyBlock{nullptr};

volatile sig_atomic_t g_reporting = 0;

std::string XmlEscape(const QString& text) {
    std::string out;
    for (char c : text.toStdString()) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                if (static_cast<unsigned char>(c) >= 0x20) {
                    out += c;
                }
        }
    }
    return out;
}

void PublishProperties() {
    auto block = std::make_unique<std::string>("  <Properties>\n");
    for (const auto& [name, value] : g_properties) {
        *block += "    <Property name=\"" + name + "\" value=\"" + value + "\"/>\n";
    }
    *block += "  </Properties>\n";
    g_propertyBlock.store(block.get());
    g_blocks.push_back(std::move(block));
}

// ---- async-signal-safe helpers: no allocation, no locks, no stdio ----

class Buffer {
public:
    void Add(const char* text) { Add(text, strlen(text)); }
    void Add(const char* text, size_t n) {
        if (n > kPathCapacity - 1 - m_len) {
            n = kPathCapacity - 1 - m_len;
        }
        memcpy(m_data + m_len, text, n);
        m_len += n;
        m_data[m_len] = '\0';
    }
    void AddNumber(unsigned long long value, int minDigits = 1) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0 && n < 24);
        while (n < minDigits && n < 24) {
            digits[n++] = '0';
        }
        char text[24];
        for (int i = 0; i < n; ++i) {
            text[i] = digits[n - 1 - i];
        }
        Add(text, static_cast<size_t>(n));
    }
    void AddHex(unsigned long long value) {
        static const char kHex[] = "0123456789abcdef";
        char text[20];
        int n = 0;
        text[n++] = '0';
        text[n++] = 'x';
        bool started = false;
        for (int shift = 60; shift >= 0; shift -= 4) {
            int d = static_cast<int>((value >> shift) & 0xF);
            if (d || started || shift == 0) {
                text[n++] = kHex[d];
                started = true;
            }
        }
        Add(text, static_cast<size_t>(n));
    }
    const char* Data() const { return m_data; }
    size_t Size() const { return m_len; }
    void Truncate(size_t len) {
        if (len < m_len) {
            m_len = len;
            m_data[m_len] = '\0';
        }
    }

private:
    char m_data[kPathCapacity] = {};
    size_t m_len = 0;
};

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Creates every folder of the path; the path is changed and restored on the way.
void MakeFolders(char* path) {
    for (char* p = path + 1; *p; ++p) {
        if (*p == '/') {
            *p = '\0';
            mkdir(path, 0700);
            *p = '/';
        }
    }
    mkdir(path, 0700);
}

// The UTC calendar date of a time, without the C library's time zone machinery.
void AddUtcTime(Buffer& out, time_t now, bool forFileName) {
    long long secs = static_cast<long long>(now);
    long long days = secs / 86400;
    long long rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01.
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long doe = days - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long y = yoe + era * 400;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1;
    long long m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) {
        ++y;
    }
    out.AddNumber(static_cast<unsigned long long>(y), 4);
    if (!forFileName) {
        out.Add("-");
    }
    out.AddNumber(static_cast<unsigned long long>(m), 2);
    if (!forFileName) {
        out.Add("-");
    }
    out.AddNumber(static_cast<unsigned long long>(d), 2);
    out.Add(forFileName ? "-" : " ");
    out.AddNumber(static_cast<unsigned long long>(rem / 3600), 2);
    if (!forFileName) {
        out.Add(":");
    }
    out.AddNumber(static_cast<unsigned long long>(rem / 60 % 60), 2);
    if (!forFileName) {
        out.Add(":");
    }
    out.AddNumber(static_cast<unsigned long long>(rem % 60), 2);
}

const char* SignalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGABRT:
            return "SIGABRT";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGBUS:
            return "SIGBUS";
        default:
            return "";
    }
}

int KindOfSignal(int sig) {
    switch (sig) {
        case SIGSEGV:
            return kCrashSigsegv;
        case SIGABRT:
            return kCrashSigabrt;
        case SIGFPE:
            return kCrashSigfpe;
        case SIGILL:
            return kCrashSigill;
        default:
            return kCrashStructuredException;
    }
}

void WriteReport(int kind, int sig, const void* address, const char* exceptionName) {
    if (g_prepared.callback && !g_prepared.callback()) {
        return;
    }
    time_t now = time(nullptr);
    Buffer folder;
    folder.Add(g_prepared.folder.c_str(), g_prepared.folder.size());
    folder.Add("/");
    AddUtcTime(folder, now, true);
    folder.Add("_");
    folder.AddNumber(static_cast<unsigned long long>(getpid()));
    char path[kPathCapacity];
    memcpy(path, folder.Data(), folder.Size() + 1);
    MakeFolders(path);

    Buffer file;
    file.Add(folder.Data(), folder.Size());
    file.Add("/report.xml");
    int fd = open(file.Data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        WriteAll(fd, g_prepared.header.data(), g_prepared.header.size());
        Buffer details;
        details.Add("  <FailureKind>");
        details.AddNumber(static_cast<unsigned long long>(kind));
        details.Add("</FailureKind>\n");
        if (sig != 0) {
            details.Add("  <Signal>");
            details.Add(SignalName(sig));
            details.Add("</Signal>\n");
        }
        if (address != nullptr) {
            details.Add("  <FaultAddress>");
            details.AddHex(reinterpret_cast<unsigned long long>(address));
            details.Add("</FaultAddress>\n");
        }
        if (exceptionName != nullptr) {
            // The mangled type name of the exception that escaped; it holds no XML specials.
            details.Add("  <UncaughtException>");
            details.Add(exceptionName);
            details.Add("</UncaughtException>\n");
        }
        details.Add("  <TimeUtc>");
        AddUtcTime(details, now, false);
        details.Add("</TimeUtc>\n  <ProcessId>");
        details.AddNumber(static_cast<unsigned long long>(getpid()));
        details.Add("</ProcessId>\n");
        WriteAll(fd, details.Data(), details.Size());
        if (const std::string* block = g_propertyBlock.load()) {
            WriteAll(fd, block->data(), block->size());
        }
        static const char kEnd[] = "</CrashReport>\n";
        WriteAll(fd, kEnd, sizeof kEnd - 1);
        close(fd);
    }

    file.Truncate(folder.Size());
    file.Add("/stack.txt");
    fd = open(file.Data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        void* frames[64];
        int n = backtrace(frames, 64);
        backtrace_symbols_fd(frames, n, fd);
        close(fd);
    }
}

void OnFatalSignal(int sig, siginfo_t* info, void*) {
    if (!g_reporting) {
        g_reporting = 1;
        // A fault raised by the processor names its address; a signal sent by a process does not.
        const bool fault = sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL;
        const void* address = fault && info && info->si_code > 0 ? info->si_addr : nullptr;
        WriteReport(KindOfSignal(sig), sig, address, nullptr);
    }
    // Die of the same signal: the default action runs when the handler returns (a fault repeats,
    // a raised signal is pending).
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
}

void OnTerminate() {
    if (!g_reporting) {
        g_reporting = 1;
        const char* name = nullptr;
        if (const std::type_info* type = abi::__cxa_current_exception_type()) {
            name = type->name();
        }
        WriteReport(kCrashTerminateCall, 0, nullptr, name);
    }
    std::abort();
}

}  // namespace

QString CrashReportsFolder(const QString& appName, const QString& appVersion) {
    QString local = ZQT_GetSpecialFolder(CSIDL_LOCAL_APPDATA, 0, 0);
    return QDir::cleanPath(local + QStringLiteral("/CrashRpt/UnsentCrashReports/") + appName + '_' +
                           ZQT_CutVersion(appVersion));
}

int InstallCrashReporter(const CrashReporterInstallInfo& info) {
    if (g_installed) {
        g_lastError = QStringLiteral("The crash reporter is already installed.");
        return 0;
    }
    if (info.appName.trimmed().isEmpty()) {
        g_lastError = QStringLiteral("The application name is empty.");
        return 0;
    }
    QString folder = info.reportFolder.isEmpty() ? CrashReportsFolder(info.appName, info.appVersion)
                                                 : QDir::cleanPath(info.reportFolder);
    if (!QDir::isAbsolutePath(folder)) {
        g_lastError = QStringLiteral("The crash report folder \"%1\" is not an absolute path.").arg(folder);
        return 0;
    }
    QByteArray encoded = QFile::encodeName(folder);
    // Room for the report's own sub-folder and file names.
    if (static_cast<size_t>(encoded.size()) + 96 >= kPathCapacity) {
        g_lastError = QStringLiteral("The crash report folder path is too long.");
        return 0;
    }

    g_prepared.folder = encoded.toStdString();
    g_prepared.callback = info.crashCallback;
    g_prepared.header = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<CrashReport version=\"1\">\n";
    g_prepared.header += "  <Program>" + XmlEscape(info.appName) + "</Program>\n";
    g_prepared.header += "  <Version>" + XmlEscape(info.appVersion) + "</Version>\n";
    g_prepared.header += "  <SendTo>" + XmlEscape(info.emailTo) + "</SendTo>\n";
    g_prepared.header += "  <Subject>" + XmlEscape(info.emailSubject) + "</Subject>\n";
    g_properties.clear();
    PublishProperties();

    // The stack trace library loads on first use, which allocates: do it now, not in the handler.
    void* frame[1];
    backtrace(frame, 1);

    if ((info.flags & kCrashAllHandlers) != 0) {
        // A handler of its own stack, so that a stack overflow can still be reported.
        g_altStack.reset(new char[kAltStackSize]);
        stack_t stack{};
        stack.ss_sp = g_altStack.get();
        stack.ss_size = kAltStackSize;
        sigaltstack(&stack, &g_previousAltStack);

        struct sigaction sa {};
        sa.sa_sigaction = OnFatalSignal;
        sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&sa.sa_mask);
        for (int i = 0; i < kSignalCount; ++i) {
            sigaction(kSignals[i], &sa, &g_previous[i]);
        }
        g_previousTerminate = std::set_terminate(OnTerminate);
    }
    g_reporting = 0;
    g_installed = true;
    g_lastError.clear();
    return 1;
}

int UninstallCrashReporter() {
    if (!g_installed) {
        g_lastError = QStringLiteral("The crash reporter is not installed.");
        return 0;
    }
    if (g_altStack) {
        for (int i = 0; i < kSignalCount; ++i) {
            sigaction(kSignals[i], &g_previous[i], nullptr);
        }
        std::set_terminate(g_previousTerminate);
        g_previousTerminate = nullptr;
        sigaltstack(&g_previousAltStack, nullptr);
        g_altStack.reset();
    }
    g_propertyBlock.store(nullptr);
    g_blocks.clear();
    g_properties.clear();
    g_installed = false;
    return 1;
}

int IsCrashReporterInstalled() {
    return g_installed ? 1 : 0;
}

int CrashReporterAddProperty(const QString& name, const QString& value) {
    if (!g_installed) {
        g_lastError = QStringLiteral("The crash reporter is not installed.");
        return 0;
    }
    if (name.isEmpty()) {
        g_lastError = QStringLiteral("The property name is empty.");
        return 0;
    }
    g_properties.emplace_back(XmlEscape(name), XmlEscape(value));
    PublishProperties();
    return 1;
}

QString CrashReporterLastError() {
    return g_lastError;
}
