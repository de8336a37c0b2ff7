#include "LongCallProbe.h"

#include <quorvalen_dsp.h>

#include <atomic>
#include <thread>

namespace qvtest
{
namespace
{
using Clock = std::chrono::steady_clock;
}

TelemetryDuring telemetryDuring (const std::function<int()>& operation)
{
    TelemetryDuring out;
    std::atomic<bool> done { false };
    const auto start = Clock::now();
    std::thread worker ([&] {
        out.result = operation();
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
        ++out.calls;
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    worker.join();
    return out;
}

Interrupted interruptAfter (const std::function<int()>& operation, Millis delay, const std::function<void()>& interrupt)
{
    Interrupted out;
    std::atomic<bool> done { false };
    Clock::time_point finished;
    std::thread worker ([&] {
        out.result = operation();
        finished = Clock::now();
        done = true;
    });
    std::this_thread::sleep_for (delay);
    out.finishedFirst = done;
    interrupt();
    const auto interrupted = Clock::now();
    worker.join();
    out.afterInterrupt = std::max<Millis> (Millis (0), finished - interrupted);
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
