// The colour swatches a class report places beside its classes: small JPEGs filled with each
// class colour, written into the report scratch folder while the report is built and removed
// with this object.
#pragma once

#include <QString>

#include <vector>

#include "controls/ColorRef.h"

namespace kv {

class ReportSwatches {
public:
    ReportSwatches() = default;
    ~ReportSwatches();
    ReportSwatches(const ReportSwatches&) = delete;
    ReportSwatches& operator=(const ReportSwatches&) = delete;

    // Writes "<name>.jpg" in the scratch folder filled with the colour. False when the folder or
    // the file cannot be made.
    bool Write(const QString& name, COLORREF colour);
    // The path of the i-th swatch written.
    const QString& Path(size_t i) const { return m_paths[i]; }

private:
    std::vector<QString> m_paths;
};

}  // namespace kv
