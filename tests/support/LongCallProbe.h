#pragma once
// A long operation on a thread of its own, watched from the test's thread: how
// long a host's telemetry calls wait meanwhile, and how soon the operation gives
// up once something it reads goes away. Work is counted in the operation
// thread's own CPU time, which a busy machine stretches far less than wall time.
#include <chrono>
#include <functional>

namespace qvtest
{

using Millis = std::chrono::duration<double, std::milli>;

struct TelemetryDuring
{
    int result = 0;
    Millis took {};        // wall time of the operation
    Millis work {};        // its thread's CPU time
    Millis longestWait {}; // of the telemetry calls made every 5 ms meanwhile
};
TelemetryDuring telemetryDuring (const std::function<int()>& operation);

struct Interrupted
{
    int result = 0;
    bool finishedFirst = false; // the operation returned before the interrupt began
    Millis workAfter {};        // its thread's CPU time from the interrupt on
};
// Runs `operation` on a thread and, `delay` after it began, `interrupt` on this one.
Interrupted interruptAfter (const std::function<int()>& operation, Millis delay,
                            const std::function<void()>& interrupt);

// The longest a telemetry call may wait behind other work: 20 ms, more under the
// sanitizers, whose bookkeeping slows every copy held under the engine lock.
Millis telemetryWaitLimit();

} // namespace qvtest
