#pragma once
// CPU time of the calling thread: the one that runs the blocks, as the audio thread
// would. Other threads and processes on a shared machine do not count.
#include <ctime>

namespace qvbench
{

inline double threadCpuSeconds()
{
    timespec t {};
    clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
    return (double) t.tv_sec + 1e-9 * (double) t.tv_nsec;
}

} // namespace qvbench
