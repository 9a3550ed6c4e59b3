#include "platform/tools/Threads.h"

#include <sched.h>

#include <QThreadPool>

#include <cpl_conv.h>
#include <opencv2/core/utility.hpp>

#ifdef _OPENMP
#include <omp.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>

namespace kv {
namespace {

std::atomic<int> g_threads{0};

}  // namespace

std::vector<int> AllowedProcessorNumbers() {
    // The mask may name more processors than a cpu_set_t holds: the set grows until it fits.
    for (int size = CPU_SETSIZE; size <= (1 << 16); size *= 2) {
        cpu_set_t* set = CPU_ALLOC(size);
        if (!set) {
            break;
        }
        const size_t bytes = CPU_ALLOC_SIZE(size);
        CPU_ZERO_S(bytes, set);
        const int got = sched_getaffinity(0, bytes, set);
        const int error = errno;
        std::vector<int> numbers;
        for (int cpu = 0; got == 0 && cpu < size; ++cpu) {
            if (CPU_ISSET_S(cpu, bytes, set)) {
                numbers.push_back(cpu);
            }
        }
        CPU_FREE(set);
        if (got == 0 || error != EINVAL) {
            return numbers;
        }
    }
    return {};
}

int AllowedProcessors() {
    const size_t allowed = AllowedProcessorNumbers().size();
    return allowed > 0 ? int(allowed) : std::max(1, int(std::thread::hardware_concurrency()));
}

int UseAllowedProcessors() {
    const int threads = AllowedProcessors();
    g_threads.store(threads);
    // With one thread OpenCV runs a parallel loop on the calling thread and starts no pool.
    cv::setNumThreads(threads);
#ifdef _OPENMP
    omp_set_num_threads(threads);
#endif
    QThreadPool::globalInstance()->setMaxThreadCount(threads);
    // GDAL reads and writes on the calling thread, whatever its variable says: its pools would
    // report failures on threads of their own, where the watches of the program's reads do not
    // see them.
    CPLSetConfigOption("GDAL_NUM_THREADS", "1");
    return threads;
}

int ProgramThreads() {
    const int threads = g_threads.load();
    return threads > 0 ? threads : AllowedProcessors();
}

}  // namespace kv
