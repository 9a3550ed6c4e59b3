#include "platform/ui/MainWindowService.h"

#include <QPointer>

namespace kv {
namespace {

QPointer<MainWindowService> g_service;
CommandTarget* g_target = nullptr;

}  // namespace

MainWindowService* GetMainWindowService() {
    return g_service.data();
}

void SetMainWindowService(MainWindowService* service) {
    g_service = service;
}

CommandTarget* GetCommandTarget() {
    return g_target;
}

void SetCommandTarget(CommandTarget* target) {
    g_target = target;
}

}  // namespace kv
