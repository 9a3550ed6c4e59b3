// The one-page PDF report of a surface comparison: the two surfaces, the class counts with their
// colours, the mean and deviation of the differences, where the report lies, and the picture.
#pragma once

#include <QString>

#include "analysis/SurfaceComparison.h"

struct ComparisonReportData {
    // File names (with extension) of the reference and of the compared surface.
    QString referenceName;
    QString comparedName;
    QString picturePath;
    ComparisonSettings settings;
    ComparisonStatistics statistics;
};

enum class ReportResult {
    Written,
    // libharu could not make a document.
    CannotCreate,
    // A libharu error abandoned the report.
    Failed,
    // The finished document could not be written at the report's path.
    CannotSave,
};

// Writes the report at reportPath through a temporary file (an earlier report there stays unless
// the new one is complete). The colour swatches are made in swatchFolder and deleted afterwards.
ReportResult WriteComparisonReport(const ComparisonReportData& data, const QString& reportPath,
                                   const QString& swatchFolder);

// The folder "tempReport" of the working folder, created when missing.
QString ReportSwatchFolder();
