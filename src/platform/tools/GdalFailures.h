// What GDAL said while a piece of work ran: the reports it makes through its error handler are
// watched, so that a caller can tell whether anything failed and name the cause to the operator.
#pragma once

#include <cpl_error.h>

#include <QString>

namespace kv {

// Watches GDAL's reports of the calling thread while it lives and passes each one on unchanged to
// the handler that was installed before it. Watches nest.
class GdalFailureWatch {
public:
    GdalFailureWatch();
    ~GdalFailureWatch();
    GdalFailureWatch(const GdalFailureWatch&) = delete;
    GdalFailureWatch& operator=(const GdalFailureWatch&) = delete;

    // Whether GDAL reported a failure.
    bool Failed() const { return m_failed; }
    // The text of the first failure GDAL reported, empty when none: the first is the cause (a full
    // disk is "_tiffWriteProc:No space left on device"), what follows its consequences ("Write
    // error at scanline 256").
    QString FirstFailure() const { return m_first; }

private:
    static void CPL_STDCALL Handler(CPLErr type, CPLErrorNum number, const char* message);

    bool m_failed = false;
    QString m_first;
};

}  // namespace kv
