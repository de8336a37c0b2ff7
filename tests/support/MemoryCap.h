#pragma once
// Runs work with the address space capped a little above what is in use now, so
// that large allocations inside it fail; and the peak resident size, to tell that
// work allocated nothing large. Sanitizer builds reserve address space of
// their own; tests skip there (kAddressSpaceCapWorks is false).
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace qvtest
{

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kAddressSpaceCapWorks = false;
#else
inline constexpr bool kAddressSpaceCapWorks = true;
#endif

template <typename Work>
auto withAddressSpaceCap (long extraBytes, Work&& work)
{
    std::ifstream statm ("/proc/self/statm");
    long pages = 0;
    statm >> pages;
    rlimit saved {};
    getrlimit (RLIMIT_AS, &saved);
    rlimit limited = saved;
    limited.rlim_cur = (rlim_t) pages * (rlim_t) sysconf (_SC_PAGESIZE) + (rlim_t) extraBytes;
    setrlimit (RLIMIT_AS, &limited);
    const auto result = work();
    setrlimit (RLIMIT_AS, &saved);
    return result;
}

// The most memory the process has held resident since it started (VmHWM), in bytes.
inline long peakResidentBytes()
{
    std::ifstream status ("/proc/self/status");
    std::string key;
    long kb = 0;
    while (status >> key)
        if (key == "VmHWM:" && status >> kb)
            return kb * 1024;
    return 0;
}

} // namespace qvtest
