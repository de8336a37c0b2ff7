// What a drawn stroke costs as the sound grows, through the exports, in process:
// a 2000-point knife path, degenerate strokes and offline edits over the whole
// sound (answered or refused), laser and region strokes, undo and redo, and the
// session images. Each case prints the median of its runs and the longest any
// call of the playback telemetry waited meanwhile on another thread, which asks
// every 5 ms (goal: 20 ms at most). `spectral_cost_bench CASE [SECONDS]` runs
// one case, so that two builds can be run alternately on the same machine.
#include "BenchSupport.h"
#include "platform/HeadlessConfig.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <quorvalen_dsp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

// The longest wait of a telemetry call, over every timed call of a case.
double longestWait = 0.0;

// Times `work` while another thread asks for the playback telemetry every 5 ms.
double seconds (const std::function<void()>& work)
{
    std::atomic<bool> done { false };
    std::thread watcher ([&] {
        while (! done)
        {
            double position = 0.0, length = 0.0;
            std::uint32_t playing = 0;
            const auto t0 = Clock::now();
            quorvalen_engine_get_playback_telemetry (&position, &length, &playing);
            longestWait = std::max (longestWait, std::chrono::duration<double> (Clock::now() - t0).count());
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
    });
    const auto t0 = Clock::now();
    work();
    const double took = std::chrono::duration<double> (Clock::now() - t0).count();
    done = true;
    watcher.join();
    return took;
}

// The longest wait since the last call, in ms, for the case's line.
double takeLongestWait()
{
    return std::exchange (longestWait, 0.0) * 1e3;
}

int openSession (int id)
{
    std::uint32_t live = 0;
    float secs = 0.0f;
    return quorvalen_engine_begin_cqt_spectral_session (id, &live, &secs);
}

int applyStroke (int session, const std::vector<float>& points, std::uint32_t tool)
{
    const int count = (int) points.size() / 5;
    const std::vector<std::uint32_t> tools ((std::size_t) count, tool);
    return quorvalen_engine_apply_cqt_spectral_session_stroke (session, points.data(), tools.data(), count);
}

// A drawn path: 2000 points from 10 % to 90 % of the sound, sweeping from near the
// top of the display to near its bottom, radii 0.01, depth 1.
std::vector<float> knifePath()
{
    std::vector<float> p;
    for (int i = 0; i < 2000; ++i)
    {
        const float u = (float) i / 1999.0f;
        p.insert (p.end(), { 0.1f + 0.8f * u, 0.1f + 0.8f * u, 0.01f, 0.01f, 1.0f });
    }
    return p;
}

std::vector<float> repeated (int count, std::initializer_list<float> point)
{
    std::vector<float> p;
    for (int i = 0; i < count; ++i)
        p.insert (p.end(), point);
    return p;
}

// count copies of the point, each a little later (0.000001 of the sound): the
// cell budgets count them one by one, where identical points count once.
std::vector<float> distinct (int count, std::initializer_list<float> point)
{
    auto p = repeated (count, point);
    for (int i = 0; i < count; ++i)
        p[(std::size_t) i * 5] += 1e-6f * (float) i;
    return p;
}

void strokeCase (const char* name, int length, const std::vector<float>& points, std::uint32_t tool, int runs,
                 bool undo)
{
    const int session = openSession (qvbench::cacheNoiseUnderTones (length));
    std::vector<double> times;
    int rc = 0;
    takeLongestWait();
    for (int i = 0; i < runs; ++i)
    {
        times.push_back (seconds ([&] { rc = applyStroke (session, points, tool); }));
        if (undo && rc > 0)
            quorvalen_engine_undo_cqt_spectral_session (session);
    }
    std::printf ("%-34s %4d s  %9.1f ms  (result %d)  longest telemetry wait %5.2f ms\n", name, length,
                 qvbench::median (times) * 1e3, rc, takeLongestWait());
    quorvalen_engine_end_cqt_spectral_session (session);
}

// Undo and redo of one stroke.
void undoCase (const char* name, int length, const std::vector<float>& points, std::uint32_t tool, int runs)
{
    const int session = openSession (qvbench::cacheNoiseUnderTones (length));
    const int rc = applyStroke (session, points, tool);
    std::vector<double> undo, redo;
    takeLongestWait();
    for (int i = 0; i < runs; ++i)
    {
        undo.push_back (seconds ([&] { quorvalen_engine_undo_cqt_spectral_session (session); }));
        redo.push_back (seconds ([&] { quorvalen_engine_redo_cqt_spectral_session (session); }));
    }
    std::printf ("%-34s %4d s  undo %7.2f ms  redo %7.2f ms  (stroke %d)  longest telemetry wait %5.2f ms\n", name,
                 length, qvbench::median (undo) * 1e3, qvbench::median (redo) * 1e3, rc, takeLongestWait());
    quorvalen_engine_end_cqt_spectral_session (session);
}

// The three renderings of the session image, after a stroke each session keeps.
void imageCase (int length, int runs)
{
    const int session = openSession (qvbench::cacheNoiseUnderTones (length));
    std::vector<float> out (2048 * 1024);
    const struct
    {
        const char* name;
        std::uint32_t width;
        std::int32_t height;
    } sizes[] = { { "session image, bounded-Q 961 x 385", 961, 385 },
                  { "session image, constant-Q 960 x 385", 960, 385 },
                  { "session image, STFT 961 x 384", 961, 384 } };
    for (const auto& size : sizes)
    {
        std::vector<double> times;
        int rc = 0;
        takeLongestWait();
        for (int i = 0; i < runs; ++i)
            times.push_back (seconds ([&] {
                rc = quorvalen_engine_get_cqt_spectral_session_image (session, out.data(), size.width, size.height);
            }));
        std::printf ("%-34s %4d s  %9.1f ms  (result %d)  longest telemetry wait %5.2f ms\n", size.name, length,
                     qvbench::median (times) * 1e3, rc, takeLongestWait());
    }
    quorvalen_engine_end_cqt_spectral_session (session);
}

void editCase (const char* name, int length, const std::vector<float>& points, const std::vector<std::uint32_t>& modes,
               int runs)
{
    const int id = qvbench::cacheNoiseUnderTones (length);
    std::vector<double> times;
    int rc = 0;
    takeLongestWait();
    for (int i = 0; i < runs; ++i)
    {
        times.push_back (seconds ([&] {
            rc = quorvalen_engine_create_cqt_spectral_edit (id, points.data(), modes.data(), (int) modes.size());
        }));
        if (rc > 0)
            quorvalen_engine_unload_cached (rc);
    }
    std::printf ("%-34s %4d s  %9.1f ms  (result %d)  longest telemetry wait %5.2f ms\n", name, length,
                 qvbench::median (times) * 1e3, rc, takeLongestWait());
    quorvalen_engine_unload_cached (id);
}

std::vector<float> drawnBrushes (int count, std::vector<std::uint32_t>& modes)
{
    std::vector<float> p;
    juce::Random r (11);
    for (int i = 0; i < count; ++i)
    {
        p.insert (p.end(),
                  { r.nextFloat(), r.nextFloat(), 0.02f + 0.1f * r.nextFloat(), 0.02f + 0.1f * r.nextFloat(),
                    r.nextFloat() });
        modes.push_back ((std::uint32_t) (i % 5));
    }
    return p;
}
} // namespace

int main (int argc, char** argv)
{
    const std::string which = argc > 1 ? argv[1] : "all";
    const int length = argc > 2 ? std::atoi (argv[2]) : 60;
    const auto wants = [&] (const char* c) { return which == "all" || which == c; };
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    if (quorvalen_engine_init() != 0)
        return 1;
    if (wants ("knife-path"))
        strokeCase ("knife, 2000-point path, r 0.01", length, knifePath(), 0, 5, true);
    if (wants ("knife-short"))
        strokeCase ("knife, 10 short points", length, repeated (10, { 0.5f, 0.3f, 0.0005f, 0.01f, 1.0f }), 0, 3, true);
    if (wants ("knife-whole"))
    {
        strokeCase ("knife, 20000 whole-file points", length, distinct (20000, { 0.5f, 0.5f, 1.0f, 1.0f, 1.0f }), 0, 3,
                    true);
        strokeCase ("knife, one whole-file point", length, repeated (1, { 0.5f, 0.5f, 1.0f, 1.0f, 1.0f }), 0, 3, true);
        strokeCase ("knife, 64 identical whole-file", length, repeated (64, { 0.5f, 0.5f, 1.0f, 1.0f, 1.0f }), 0, 3,
                    true);
    }
    if (wants ("z-whole"))
        strokeCase ("Z sculpt, 20000 whole-file boxes", length, distinct (20000, { 0.5f, 0.5f, 0.5f, 0.5f, 0.0f }), 4,
                    3, true);
    if (wants ("z-plane"))
        strokeCase ("Z sculpt, one whole-plane box", length, repeated (1, { 0.5f, 0.5f, 0.5f, 0.5f, 0.0f }), 4, 3,
                    true);
    if (wants ("z-short"))
        strokeCase ("Z sculpt, 10 small boxes", length, repeated (10, { 0.5f, 0.4f, 0.01f, 0.02f, 0.0f }), 4, 5, true);
    if (wants ("edit-whole"))
    {
        std::vector<std::uint32_t> modes (20000);
        for (std::size_t i = 0; i < modes.size(); ++i)
            modes[i] = (std::uint32_t) (i % 5);
        editCase ("offline edit, 20000 whole brushes", length, distinct (20000, { 0.5f, 0.5f, 1.0f, 1.0f, 1.0f }),
                  modes, 3);
    }
    if (wants ("edit-drawn"))
    {
        std::vector<std::uint32_t> modes;
        const auto points = drawnBrushes (200, modes);
        editCase ("offline edit, 200 drawn brushes", length, points, modes, 3);
    }
    if (wants ("laser"))
    {
        // One short point (0.15 s), and 200 points low in the image (five bands each).
        strokeCase ("laser, one short point", length, { 0.5f, 0.4f, 75.0f / (float) (length * 1000), 0.0f, 1.0f }, 1, 5,
                    true);
        std::vector<float> path;
        for (int i = 0; i < 200; ++i)
            path.insert (path.end(), { 0.1f + 0.004f * (float) i, 0.9f, 0.002f, 0.0f, 1.0f });
        strokeCase ("laser, 200 points low", length, path, 1, 3, true);
    }
    if (wants ("region"))
    {
        strokeCase ("reducer, 10 boxes", length, repeated (10, { 0.5f, 0.5f, 0.02f, 0.05f, 0.0f }), 2, 3, true);
        strokeCase ("reducer, one whole-plane box", length, repeated (1, { 0.5f, 0.5f, 1.0f, 1.0f, 0.0f }), 2, 3, true);
    }
    if (wants ("undo"))
    {
        // A laser stroke of one short point: a few constant-Q bands over 0.15 s.
        undoCase ("undo/redo of a short laser stroke", length,
                  { 0.5f, 0.4f, 75.0f / (float) (length * 1000), 0.0f, 1.0f }, 1, 5);
        undoCase ("undo/redo of the knife path", length, knifePath(), 0, 3);
    }
    if (wants ("image"))
        imageCase (length, 3);
    std::fflush (stdout);
    quorvalen_engine_shutdown();
    return 0;
}
