// Every hostile audio file of the regression suite through the four intakes: the
// slowest call and the peak memory it adds (resident set, in a fresh child process
// per case so one case's heap does not hide another's). Goal: under 100 ms and
// under 50 MB for each of these few-hundred-byte files.
#include "BenchSupport.h"
#include "HostileAudio.h"
#include "platform/HeadlessConfig.h"

#include <quorvalen_dsp.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
// Runs in the child: worst milliseconds over `runs` calls, and the resident peak added.
void measure (const qvtest::HostileCase& c, const std::string& path, int runs)
{
    const auto bytes = c.bytes;
    const auto calls = {
        +[] (const std::uint8_t* d, std::size_t n, const char*) { return quorvalen_engine_cache_wav_memory (d, n); },
        +[] (const std::uint8_t* d, std::size_t n, const char*) {
            return quorvalen_engine_cache_wav_memory_trimmed (d, n, 10, 5);
        },
        +[] (const std::uint8_t*, std::size_t, const char* p) { return quorvalen_engine_cache_wav (p); },
        +[] (const std::uint8_t*, std::size_t, const char* p) { return quorvalen_engine_cache_wav_trimmed (p, 10, 5); }
    };
    std::ofstream ("/proc/self/clear_refs") << "5";
    const long baseKb = qvbench::statusKb ("VmRSS:");
    double worstMs = 0.0;
    for (int i = 0; i < runs; ++i)
        for (auto call : calls)
        {
            const auto t0 = std::chrono::steady_clock::now();
            call (bytes.data(), bytes.size(), path.c_str());
            worstMs = std::max (
                worstMs, std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - t0).count());
            quorvalen_engine_clear_cache();
        }
    std::printf ("%-32s %6zu bytes  worst %7.3f ms  peak +%6.1f MB\n", c.name.c_str(), bytes.size(), worstMs,
                 (double) (qvbench::statusKb ("VmHWM:") - baseKb) / 1024.0);
}
} // namespace

int main()
{
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    const auto dir = "/tmp/qv-hostile-bench-" + std::to_string (getpid());
    juce::File (dir).createDirectory();
    for (const auto& c : qvtest::hostileFiles())
    {
        const auto path = dir + "/" + c.name;
        qvtest::writeBytes (path, c.bytes);
        std::fflush (stdout);
        if (const pid_t child = fork(); child == 0)
        {
            if (quorvalen_engine_init() != 0)
                _exit (1);
            measure (c, path, 20);
            std::fflush (stdout);
            _exit (0);
        }
        else
            waitpid (child, nullptr, 0);
    }
    juce::File (dir).deleteRecursively();
    return 0;
}
