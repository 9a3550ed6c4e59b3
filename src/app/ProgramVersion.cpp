#include "app/ProgramVersion.h"

#include "platform/tools/ZQT.h"

QString KvGetCutVersion() {
    QString version;
    QString text;
    ZQT_GetVersionInfo(nullptr, &version, &text);
    return ZQT_CutVersion(version);
}
