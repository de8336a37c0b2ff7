// How long a host's telemetry call waits while a long operation runs on another
// thread: every long operation on 30 s stereo 48 kHz sounds (pitch detection on
// a 768 kHz one). A second thread calls quorvalen_engine_get_playback_telemetry
// every 5 ms and keeps its longest wait; each operation runs twice and the worse
// wait is shown with the operation's own wall time.
#include "BenchSupport.h"
#include "platform/HeadlessConfig.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <quorvalen_dsp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>

namespace
{
using Clock = std::chrono::steady_clock;
using Millis = std::chrono::duration<double, std::milli>;
constexpr double rate = 48000.0;
constexpr int seconds = 30;

int cacheBuffer (const juce::AudioBuffer<float>& audio, double sampleRate)
{
    return qvbench::cacheExactly (audio, sampleRate);
}

int cacheTone (double root, int seed)
{
    return cacheBuffer (qvbench::pitchedSound (root, seed, seconds, rate), rate);
}

int cacheNoise (int seed)
{
    juce::AudioBuffer<float> audio (2, (int) rate * seconds);
    juce::Random r (seed);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < audio.getNumSamples(); ++i)
            audio.setSample (ch, i, 0.5f * r.nextFloat() - 0.25f);
    return cacheBuffer (audio, rate);
}

struct Run
{
    int result = 0;
    Millis took {}, longestWait {};
};

Run watched (const std::function<int()>& operation)
{
    Run run;
    std::atomic<bool> done { false };
    const auto start = Clock::now();
    std::thread worker ([&] {
        run.result = operation();
        run.took = Clock::now() - start;
        done = true;
    });
    while (! done)
    {
        double position = 0.0, length = 0.0;
        uint32_t playing = 0;
        const auto t0 = Clock::now();
        quorvalen_engine_get_playback_telemetry (&position, &length, &playing);
        run.longestWait = std::max<Millis> (run.longestWait, Clock::now() - t0);
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }
    worker.join();
    return run;
}

// `prepare` runs before each measured run, unwatched.
void report (
    const char* name, const std::function<int()>& operation, const std::function<void()>& prepare = [] {})
{
    prepare();
    const auto first = watched (operation);
    prepare();
    const auto second = watched (operation);
    std::printf ("| %s | %.2f s | %.1f ms | %d |\n", name, 0.001 * std::min (first.took, second.took).count(),
                 std::max (first.longestWait, second.longestWait).count(), second.result);
    std::fflush (stdout);
}
} // namespace

int main()
{
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    if (quorvalen_engine_init() != 0)
        return 1;
    const int a = cacheTone (110.0, 1), b = cacheTone (164.8, 2);
    const int n1 = cacheNoise (3), n2 = cacheNoise (4);

    std::printf ("Longest wait of a telemetry call made every 5 ms while each operation runs (%d s stereo 48 kHz)\n\n"
                 "| Operation | Time | Longest wait | Result |\n|---|---|---|---|\n",
                 seconds);
    report ("covalent CQT morph",
            [&] { return quorvalen_engine_create_manifold_cqt_morph (a, b, 50.0f, 1, 120.0f, 1); });
    report ("mangle (reese) CQT morph", [&] { return quorvalen_engine_create_reese_cqt_morph (a, b, 50.0f); });
    report ("manifold classic, 16 sources, 60 s", [&] {
        uint32_t ids[16];
        float gains[16];
        int32_t roles[16];
        for (int i = 0; i < 16; ++i)
        {
            ids[i] = (uint32_t) (i % 4 == 0 ? a : i % 4 == 1 ? b : i % 4 == 2 ? n1 : n2);
            gains[i] = 0.5f;
            roles[i] = i == 0 ? 0 : 2;
        }
        return quorvalen_engine_create_manifold_classic (ids, gains, roles, 16, 0, 60.0f, 60.0f, 0, 0);
    });
    report ("round-trip audition", [&] { return quorvalen_engine_play_cached_gaborator_roundtrip (a); });
    int x = 0;
    report (
        "render surprise (A 60, B 50, stretch)",
        [&] { return quorvalen_engine_apply_render_surprise (x, 60.0f, 50.0f, 1, 0); },
        [&] {
        quorvalen_engine_unload_cached (x);
        x = quorvalen_engine_clone_cached (a);
        });
    report ("body/tail morph (join 15 s, crossfade 5 s)",
            [&] { return quorvalen_engine_play_body_tail_morph (n1, n2, 15000.0f, 5000.0f); });

    juce::AudioBuffer<float> fast (2, 768000);
    for (int ch = 0; ch < 2; ++ch)
        for (int i = 0; i < fast.getNumSamples(); ++i)
            fast.setSample (ch, i, 0.5f * (float) std::sin (2 * M_PI * 440.0 * i / 768000.0));
    const int high = cacheBuffer (fast, 768000.0);
    report ("pitch detection at 768 kHz",
            [&] { return (int) std::lround (quorvalen_engine_detect_foundry_pitch (high, 0.0f)); });
    quorvalen_engine_shutdown();
    return 0;
}
