// Handing a report the program has just written to the operator: where it lies is told in the
// project's command line, and it is opened with the program the desktop associates with its kind.
#pragma once

#include <QString>

#include <functional>

namespace kv {

// The line that tells where a written report lies: "Results are located in: <path>".
QString ReportLocationLine(const QString& path);

// Tells where the report at path lies (tell receives ReportLocationLine(path) and puts it into the
// command line) and, when open is set, opens it maximised with the program the desktop associates
// with its kind. The place is told first and always, so the operator learns where the report went
// also when no program can show it. True when a program took the report.
bool ShowWrittenReport(const QString& path, bool open, const std::function<void(const QString&)>& tell);

}  // namespace kv
