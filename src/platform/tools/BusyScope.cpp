#include "platform/tools/BusyScope.h"

namespace kv {
namespace {
int g_busy = 0;
int g_episode = 0;
int g_pumping = 0;
}  // namespace

BusyScope::BusyScope() {
    if (g_busy++ == 0) {
        ++g_episode;
    }
}

BusyScope::~BusyScope() {
    --g_busy;
}

PumpScope::PumpScope() {
    ++g_pumping;
}

PumpScope::~PumpScope() {
    --g_pumping;
}

bool Pumping() {
    return g_pumping > 0;
}

int BusyCount() {
    return g_busy;
}

int BusyEpisode() {
    return g_episode;
}

}  // namespace kv
