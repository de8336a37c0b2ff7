#include "LongCallProbe.h"

#include <quorvalen_dsp.h>

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <thread>

namespace qvtest
{
namespace
{
using Clock = std::chrono::steady_clock;

clockid_t ownCpuClock()
{
    clockid_t id {};
    pthread_getcpuclockid (pthread_self(), &id);
    return id;
}

Millis cpuTime (clockid_t id)
{
    timespec t {};
    clock_gettime (id, &t);
    return Millis (1e3 * (double) t.tv_sec + 1e-6 * (double) t.tv_nsec);
}
} // namespace

TelemetryDuring telemetryDuring (const std::function<int()>& operation)
{
    TelemetryDuring out;
    std::atomic<bool> done { false };
    const auto start = Clock::now();
    std::thread worker ([&] {
        const auto cpu = ownCpuClock();
        const auto before = cpuTime (cpu);
        out.result = operation();
        out.work = cpuTime (cpu) - before;
        out.took = Clock::now() - start;
        done = true;
    });
    while (! done)
    {
        double position = 0.0, length = 0.0;
        std::uint32_t playing = 0;
        const auto t0 = Clock::now();
        quorvalen_engine_get_playback_telemetry (&position, &length, &playing);
        out.longestWait = std::max<Millis> (out.longestWait, Clock::now() - t0);
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    worker.join();
    return out;
}

Interrupted interruptAfter (const std::function<int()>& operation, Millis delay, const std::function<void()>& interrupt)
{
    Interrupted out;
    std::atomic<bool> started { false }, done { false };
    clockid_t cpu {};
    Millis atEnd {};
    std::thread worker ([&] {
        cpu = ownCpuClock();
        started = true;
        out.result = operation();
        atEnd = cpuTime (cpu);
        done = true;
    });
    while (! started)
        std::this_thread::yield();
    std::this_thread::sleep_for (delay);
    out.finishedFirst = done;
    const auto atInterrupt = out.finishedFirst ? Millis (0) : cpuTime (cpu);
    interrupt();
    worker.join();
    out.workAfter = out.finishedFirst ? Millis (0) : atEnd - atInterrupt;
    return out;
}

Millis telemetryWaitLimit()
{
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    return Millis (200);
#else
    return Millis (20);
#endif
}

} // namespace qvtest
