#include "platform/tools/GdalFailures.h"

#include <string>

namespace kv {

GdalFailureWatch::GdalFailureWatch() {
    CPLPushErrorHandlerEx(&GdalFailureWatch::Handler, this);
}

GdalFailureWatch::~GdalFailureWatch() {
    CPLPopErrorHandler();
}

void CPL_STDCALL GdalFailureWatch::Handler(CPLErr type, CPLErrorNum number, const char* message) {
    auto* self = static_cast<GdalFailureWatch*>(CPLGetErrorHandlerUserData());
    if (type == CE_Failure || type == CE_Fatal) {
        if (!self->m_failed) {
            self->m_first = QString::fromUtf8(message ? message : "").trimmed();
        }
        self->m_failed = true;
    }
    // The message lives in GDAL's own buffer, which the report below overwrites.
    const std::string copy = message ? message : "";
    CPLPopErrorHandler();
    CPLError(type, number, "%s", copy.c_str());
    CPLPushErrorHandlerEx(&GdalFailureWatch::Handler, self);
}

}  // namespace kv
