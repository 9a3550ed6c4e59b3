#include "platform/ui/WrittenReport.h"

#include <QDir>

#include "platform/tools/ZQT.h"

namespace kv {

namespace {

// How the opened report is shown: maximised.
constexpr int kShowMaximized = 3;

}  // namespace

QString ReportLocationLine(const QString& path) {
    return QStringLiteral("Results are located in: %1").arg(QDir::toNativeSeparators(path));
}

bool ShowWrittenReport(const QString& path, bool open, const std::function<void(const QString&)>& tell) {
    if (tell) {
        tell(ReportLocationLine(path));
    }
    return open && ZQT_ShellExecute(QStringLiteral("open"), path, QString(), kShowMaximized) != 0;
}

}  // namespace kv
