#include "platform/tools/BusyScope.h"

namespace kv {
namespace {
int g_busy = 0;
int g_episode = 0;
}  // namespace

BusyScope::BusyScope() {
    if (g_busy++ == 0) {
        ++g_episode;
    }
}

BusyScope::~BusyScope() {
    --g_busy;
}

int BusyCount() {
    return g_busy;
}

int BusyEpisode() {
    return g_episode;
}

}  // namespace kv
