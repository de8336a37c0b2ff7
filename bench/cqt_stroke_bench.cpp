// Constant-Q strokes (laser, region gain) of one short point, and their undo and
// redo, on sounds of different lengths, through the exports on the headless
// device: a stroke should cost what it touches, not what the sound is long.
// Medians of the runs; "memory" is the process's peak resident memory during
// the stroke above what it held before (the kernel's peak is reset first).
//
// Usage: cqt_stroke_bench [seconds ...]  (default 10 60 600)
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
using Clock = std::chrono::steady_clock;

double seconds (const std::function<void()>& work)
{
    const auto t0 = Clock::now();
    work();
    return std::chrono::duration<double> (Clock::now() - t0).count();
}

double median (std::vector<double> v)
{
    std::sort (v.begin(), v.end());
    return v[v.size() / 2];
}

// kB of a field of /proc/self/status.
long statusKb (const char* field)
{
    std::ifstream in ("/proc/self/status");
    std::string line;
    while (std::getline (in, line))
        if (line.rfind (field, 0) == 0)
            return std::atol (line.c_str() + std::string (field).size());
    return 0;
}

void resetPeak()
{
    std::ofstream ("/proc/self/clear_refs") << "5";
}

// Noise under a few tones, different per channel, cached exactly.
int cacheSound (int lengthSeconds)
{
    const int n = 48000 * lengthSeconds;
    std::vector<float> left ((std::size_t) n), right ((std::size_t) n);
    juce::Random r (3);
    for (int i = 0; i < n; ++i)
    {
        left[(std::size_t) i] = 0.1f * (r.nextFloat() - 0.5f) + 0.2f * std::sin (0.0577f * (float) i);
        right[(std::size_t) i] = 0.1f * (r.nextFloat() - 0.5f) + 0.1f * std::sin (0.0031f * (float) i);
    }
    // A 32-bit float WAV in memory.
    const auto bytes = (std::uint32_t) (n * 8);
    std::vector<char> wav (44 + bytes);
    auto put = [&] (std::size_t at, std::uint32_t v, int size) {
        for (int k = 0; k < size; ++k)
            wav[at + (std::size_t) k] = (char) ((v >> (8 * k)) & 0xff);
    };
    std::copy_n ("RIFF", 4, wav.begin());
    put (4, 36 + bytes, 4);
    std::copy_n ("WAVEfmt ", 8, wav.begin() + 8);
    put (16, 16, 4);
    put (20, 3, 2);
    put (22, 2, 2);
    put (24, 48000, 4);
    put (28, 48000 * 8, 4);
    put (32, 8, 2);
    put (34, 32, 2);
    std::copy_n ("data", 4, wav.begin() + 36);
    put (40, bytes, 4);
    auto* out = reinterpret_cast<float*> (wav.data() + 44);
    for (int i = 0; i < n; ++i)
    {
        out[2 * i] = left[(std::size_t) i];
        out[2 * i + 1] = right[(std::size_t) i];
    }
    return quorvalen_engine_cache_wav_memory (wav.data(), wav.size());
}

struct Case
{
    const char* name;
    std::uint32_t tool;
    float x, y, w, h, pressure;
};

void run (int session, int length, const Case& c, int runs)
{
    // "one short point": the smallest size, or (w < 0) a span of one second.
    const float w = c.w < 0.0f ? 0.5f / (float) length : c.w;
    const float point[5] = { c.x, c.y, w, c.h, c.pressure };
    std::vector<double> stroke, undo, redo;
    long added = 0;
    for (int i = 0; i < runs; ++i)
    {
        const long before = statusKb ("VmRSS:");
        resetPeak();
        int rc = 0;
        stroke.push_back (
            seconds ([&] { rc = quorvalen_engine_apply_cqt_spectral_session_stroke (session, point, &c.tool, 1); }));
        added = std::max (added, statusKb ("VmHWM:") - before);
        if (rc <= 0)
            std::printf ("  %s failed: %d\n", c.name, rc);
        undo.push_back (seconds ([&] { quorvalen_engine_undo_cqt_spectral_session (session); }));
        redo.push_back (seconds ([&] { quorvalen_engine_redo_cqt_spectral_session (session); }));
    }
    std::printf ("| %d s | %s | %.1f | %.1f | %.1f | %.1f |\n", length, c.name, median (stroke) * 1e3,
                 median (undo) * 1e3, median (redo) * 1e3, (double) added / 1024.0);
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
