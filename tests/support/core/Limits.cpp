#include "support/Limits.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#define KV_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KV_TEST_ASAN 1
#endif
#endif

#ifdef KV_TEST_ASAN
// The sanitizer runtime's allocation hooks (declared here: GCC ships the runtime without headers).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace kvtest {

FileSizeLimit::FileSizeLimit(size_t bytes) {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    m_previous = limit.rlim_cur;
    limit.rlim_cur = bytes;
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
}

FileSizeLimit::~FileSizeLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = m_previous;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, m_previousHandler);
}

FileFault::FileFault(kv::FileStep step, int error, const QString& ending) {
    kv::SetFileFaultHook([=](kv::FileStep at, const QString& target) {
        return at == step && target.endsWith(ending) ? error : 0;
    });
}

FileFault::~FileFault() {
    kv::SetFileFaultHook({});
}

bool RunStoppedBeforeStep(size_t step, const std::function<void()>& work) {
    constexpr int kStopped = 3, kFinished = 4;
    const pid_t child = ::fork();
    if (child == 0) {
        // A work that hangs (a lock held by a thread of the parent) ends as a failure.
        ::alarm(600);
        size_t seen = 0;
        kv::SetFileFaultHook([&seen, step](kv::FileStep, const QString&) {
            if (seen++ == step) {
                ::_exit(kStopped);
            }
            return 0;
        });
        work();
        ::_exit(kFinished);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        ADD_FAILURE() << "the stopped work did not run";
        return true;
    }
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != kStopped && WEXITSTATUS(status) != kFinished)) {
        ADD_FAILURE() << "the stopped work ended otherwise, status " << status;
        return true;
    }
    return WEXITSTATUS(status) == kFinished;
}

#ifdef KV_TEST_ASAN

namespace {

std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};

void OnMalloc(const volatile void*, size_t size) {
    if (g_watching.load(std::memory_order_relaxed)) {
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (size > seen && !g_largest.compare_exchange_weak(seen, size)) {
        }
    }
}

void OnFree(const volatile void*) {}

}  // namespace

bool RunWithinMemory(size_t budget, const std::function<bool()>& body) {
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    if (!installed) {
        return false;
    }
    g_largest = 0;
    g_watching = true;
    const bool result = body();
    g_watching = false;
    if (g_largest > budget) {
        std::fprintf(stderr, "an allocation of %zu bytes exceeds the budget of %zu\n", g_largest.load(),
                     budget);
        return false;
    }
    return result;
}

#else

namespace {

// The address space the process has mapped now, in bytes.
size_t MappedBytes() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    unsigned long pages = 0;
    if (f) {
        if (std::fscanf(f, "%lu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(f);
    }
    return size_t(pages) * size_t(sysconf(_SC_PAGESIZE));
}

}  // namespace

bool RunWithinMemory(size_t budget, const std::function<bool()>& body) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = MappedBytes() + budget;
        setrlimit(RLIMIT_AS, &limit);
        const bool ok = body();
        std::fflush(nullptr);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#endif

}  // namespace kvtest
