#pragma once
// A long operation on a thread of its own, watched from the test's thread: how
// long a host's telemetry calls wait meanwhile, and how soon the operation gives
// up once something it reads goes away.
#include <chrono>
#include <functional>

namespace qvtest
{

using Millis = std::chrono::duration<double, std::milli>;

struct TelemetryDuring
{
    int result = 0;
    Millis took {};        // the operation's own time
    Millis longestWait {}; // of the telemetry calls made every 5 ms meanwhile
    int calls = 0;
};
TelemetryDuring telemetryDuring (const std::function<int()>& operation);

struct Interrupted
{
    int result = 0;
    Millis afterInterrupt {};   // from the interrupt's return to the operation's
    bool finishedFirst = false; // the operation returned before the interrupt began
};
// Runs `operation` on a thread and, `delay` after it began, `interrupt` on this one.
Interrupted interruptAfter (const std::function<int()>& operation, Millis delay,
                            const std::function<void()>& interrupt);

// The longest a telemetry call may wait behind other work: 20 ms, more under the
// sanitizers, whose bookkeeping slows every copy held under the engine lock.
Millis telemetryWaitLimit();

} // namespace qvtest
