#include "platform/tools/BusyScope.h"

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

}  // namespace kv
