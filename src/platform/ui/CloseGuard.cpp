#include "platform/ui/CloseGuard.h"

#include "platform/ui/ActiveCommand.h"
#include "platform/ui/Interaction.h"

namespace kv {

bool IsCloseRefused() {
    return ActiveCadCommandId != 0 || BusyCount() > 0;
}

bool RefuseCloseWhileBusy() {
    if (!IsCloseRefused()) {
        return false;
    }
    KvMessageBox(QStringLiteral("Close active command before exit"), MB_OK | MB_ICONEXCLAMATION);
    return true;
}

}  // namespace kv
