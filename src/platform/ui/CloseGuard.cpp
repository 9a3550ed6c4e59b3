#include "platform/ui/CloseGuard.h"

#include "platform/ui/ActiveCommand.h"
#include "platform/ui/Interaction.h"

namespace kv {
namespace {
int g_busy = 0;
}

BusyScope::BusyScope() {
    ++g_busy;
}

BusyScope::~BusyScope() {
    --g_busy;
}

int BusyCount() {
    return g_busy;
}

bool IsCloseRefused() {
    return ActiveCadCommandId != 0 || g_busy > 0;
}

bool RefuseCloseWhileBusy() {
    if (!IsCloseRefused()) {
        return false;
    }
    KvMessageBox(QStringLiteral("Close active command before exit"), MB_OK | MB_ICONEXCLAMATION);
    return true;
}

}  // namespace kv
