// The threads the program works with. Its thread count is the number of processors the process may
// run on (its CPU affinity mask, which `taskset` and the system's CPU sets narrow), not the
// machine's: read once at start-up and given from here to every pool that starts threads of its
// own: OpenCV's parallel loops, OpenMP's (the count of the thread that starts the program, on which
// SAGA's tools run), and Qt's global thread pool (which converts and scales large images). GDAL is
// held to the calling thread whatever its variable GDAL_NUM_THREADS says. The program's own second
// threads (the raster calculator's reader of the next strip, the rotation's reader and writer of
// blocks, the change-log fetch) ask ProgramThreads() before they start. A process allowed one processor works
// on one thread.
#pragma once

#include <vector>

namespace kv {

// The numbers of the processors the calling thread may run on, in order (empty when the system
// does not tell).
std::vector<int> AllowedProcessorNumbers();
// How many processors the calling thread may run on, at least 1.
int AllowedProcessors();

// Gives every thread pool AllowedProcessors() threads and returns that count. Every program and
// test program calls it once at start-up, on its main thread.
int UseAllowedProcessors();

// The count UseAllowedProcessors() gave (AllowedProcessors() until it has been called).
int ProgramThreads();

}  // namespace kv
