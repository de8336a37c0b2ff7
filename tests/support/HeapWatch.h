#pragma once
// Counts heap traffic on threads that ask for it: every form of operator new and
// delete and, outside sanitizer builds (which own malloc), the malloc family that C
// libraries allocate with. Linking this file replaces those functions for the
// whole test executable; threads that do not watch pay one flag test.
#include <atomic>

namespace qvtest::heap
{

// The calling thread's allocations and frees are counted while this is set.
extern thread_local bool watching;
// Totals over every watching thread.
extern std::atomic<long> allocations;
extern std::atomic<long> frees;

// One allocation and free the optimiser cannot remove: proves a counter counts.
void touchHeapOnce();

inline void resetCounts()
{
    allocations = 0;
    frees = 0;
}

} // namespace qvtest::heap
