// Constant-Q strokes (laser, region gain) of one short point (and of two far
// apart), and their undo and redo, on sounds of different lengths, through the exports on the headless
// device: a stroke should cost what it touches, not what the sound is long.
// Medians of the runs; "memory" is the process's peak resident memory during
// the stroke above what it held before (the kernel's peak is reset first).
//
// Usage: cqt_stroke_bench [seconds ...]  (default 10 60 600)
#include "BenchSupport.h"
#include "platform/HeadlessConfig.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <quorvalen_dsp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace
{
void resetPeak()
{
    std::ofstream ("/proc/self/clear_refs") << "5";
}

// Noise under a few tones, different per channel, cached exactly.
int cacheSound (int lengthSeconds)
{
    const int n = 48000 * lengthSeconds;
    juce::AudioBuffer<float> audio (2, n);
    juce::Random r (3);
    for (int i = 0; i < n; ++i)
    {
        audio.setSample (0, i, 0.1f * (r.nextFloat() - 0.5f) + 0.2f * std::sin (0.0577f * (float) i));
        audio.setSample (1, i, 0.1f * (r.nextFloat() - 0.5f) + 0.1f * std::sin (0.0031f * (float) i));
    }
    return qvbench::cacheExactly (audio, 48000.0);
}

struct Case
{
    const char* name;
    std::uint32_t tool;
    float x, y, w, h, pressure;
    // A second point of the same size, when x2 is not negative.
    float x2 = -1.0f, y2 = 0.0f;
};

void run (int session, int length, const Case& c, int runs)
{
    // "one short point": the smallest size, or (w < 0) a span of one second.
    const float w = c.w < 0.0f ? 0.5f / (float) length : c.w;
    const float points[10] = { c.x, c.y, w, c.h, c.pressure, c.x2, c.y2, w, c.h, c.pressure };
    const std::uint32_t tools[2] = { c.tool, c.tool };
    const int count = c.x2 < 0.0f ? 1 : 2;
    std::vector<double> stroke, undo, redo;
    long added = 0;
    for (int i = 0; i < runs; ++i)
    {
        const long before = qvbench::statusKb ("VmRSS:");
        resetPeak();
        int rc = 0;
        stroke.push_back (qvbench::wallSeconds (
            [&] { rc = quorvalen_engine_apply_cqt_spectral_session_stroke (session, points, tools, count); }));
        added = std::max (added, qvbench::statusKb ("VmHWM:") - before);
        if (rc <= 0)
            std::printf ("  %s failed: %d\n", c.name, rc);
        undo.push_back (qvbench::wallSeconds ([&] { quorvalen_engine_undo_cqt_spectral_session (session); }));
        redo.push_back (qvbench::wallSeconds ([&] { quorvalen_engine_redo_cqt_spectral_session (session); }));
    }
    std::printf ("| %d s | %s | %.1f | %.1f | %.1f | %.1f |\n", length, c.name, qvbench::median (stroke) * 1e3,
                 qvbench::median (undo) * 1e3, qvbench::median (redo) * 1e3, (double) added / 1024.0);
    std::fflush (stdout);
}
} // namespace

int main (int argc, char** argv)
{
    std::vector<int> lengths;
    for (int i = 1; i < argc; ++i)
        lengths.push_back (std::atoi (argv[i]));
    if (lengths.empty())
        lengths = { 10, 60, 600 };
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    if (quorvalen_engine_init() != 0)
        return 1;
    const Case cases[] = {
        { "laser, one band, y 0.3 (1.6 kHz)", 1, 0.5f, 0.3f, 0.0005f, 0.0f, 1.0f },
        { "laser, one band, y 0.5 (500 Hz)", 1, 0.5f, 0.5f, 0.0005f, 0.0f, 1.0f },
        { "laser, three bands, y 0.75 (120 Hz)", 1, 0.5f, 0.75f, 0.0005f, 0.0f, 1.0f },
        { "laser, five bands, y 0.95 (30 Hz)", 1, 0.5f, 0.95f, 0.0005f, 0.0f, 1.0f },
        { "reducer box, y 0.5", 2, 0.5f, 0.5f, 0.0005f, 0.0005f, 0.0f },
        { "laser spanning 1 s, y 0.5", 1, 0.5f, 0.5f, -1.0f, 0.0f, 1.0f },
        { "laser spanning 1 s, y 0.95", 1, 0.5f, 0.95f, -1.0f, 0.0f, 1.0f },
        { "laser, one band at 0.3 (y 0.1) and one at 0.6 (y 0.6)", 1, 0.3f, 0.1f, 0.0005f, 0.0f, 1.0f, 0.6f, 0.6f },
        { "reducer boxes at 0.1 (y 0.3) and 0.9 (y 0.6)", 2, 0.1f, 0.3f, 0.0005f, 0.0005f, 0.0f, 0.9f, 0.6f },
        { "laser, the same band at 0.1 and 0.9 (y 0.5)", 1, 0.1f, 0.5f, 0.0005f, 0.0f, 1.0f, 0.9f, 0.5f },
    };
    std::printf ("| sound | stroke | stroke (ms) | undo (ms) | redo (ms) | memory added by the stroke (MB) |\n");
    std::printf ("|---|---|---|---|---|---|\n");
    for (const int length : lengths)
    {
        const int id = cacheSound (length);
        std::uint32_t live = 0;
        float secs = 0.0f;
        const int session = quorvalen_engine_begin_cqt_spectral_session (id, &live, &secs);
        if (session <= 0)
            return 2;
        quorvalen_engine_unload_cached (id);
        // The first stroke builds the session's analyzer.
        const float warm[5] = { 0.1f, 0.5f, 0.0005f, 0.0f, 0.5f };
        const std::uint32_t laser = 1;
        quorvalen_engine_apply_cqt_spectral_session_stroke (session, warm, &laser, 1);
        for (const auto& c : cases)
            run (session, length, c, 5);
        quorvalen_engine_end_cqt_spectral_session (session);
    }
    quorvalen_engine_shutdown();
    return 0;
}
