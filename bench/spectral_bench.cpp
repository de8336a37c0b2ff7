// What the host waits for while the user draws: knife, Z sculpt, laser and
// region-gain strokes on 10 s and 60 s stereo sounds at 48 kHz, undo and redo of
// them, opening the session, each session image size and the constant-Q
// spectrogram, all through the exports, in process.
#include "BenchSupport.h"
#include "platform/HeadlessConfig.h"

#include <juce_audio_formats/juce_audio_formats.h>
#include <quorvalen_dsp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace
{
// A short stroke: points drawn across 5 % of the file around its middle.
std::vector<float> shortStroke (int count, float y, float r1, float r2, float depth)
{
    std::vector<float> p;
    for (int i = 0; i < count; ++i)
        p.insert (p.end(), { 0.475f + 0.05f * (float) i / (float) std::max (1, count - 1), y, r1, r2, depth });
    return p;
}

struct Timing
{
    double best = 1e30, worst = 0.0;
    void add (double s)
    {
        best = std::min (best, s);
        worst = std::max (worst, s);
    }
};

void strokeCase (const char* name, int session, const std::vector<float>& points, std::uint32_t tool, int runs)
{
    const int count = (int) points.size() / 5;
    const std::vector<std::uint32_t> tools ((std::size_t) count, tool);
    Timing stroke, undo, redo;
    for (int i = 0; i < runs; ++i)
    {
        int rc = 0;
        stroke.add (qvbench::wallSeconds ([&] {
            rc = quorvalen_engine_apply_cqt_spectral_session_stroke (session, points.data(), tools.data(), count);
        }));
        if (rc <= 0)
            std::printf ("  %s failed: %d\n", name, rc);
        undo.add (qvbench::wallSeconds ([&] { quorvalen_engine_undo_cqt_spectral_session (session); }));
        redo.add (qvbench::wallSeconds ([&] { quorvalen_engine_redo_cqt_spectral_session (session); }));
    }
    std::printf ("  %-28s stroke %7.1f ms (worst %7.1f)   undo %7.1f ms   redo %7.1f ms\n", name, stroke.best * 1e3,
                 stroke.worst * 1e3, undo.best * 1e3, redo.best * 1e3);
}
void imageCase (int session, std::uint32_t width, int height, const char* name)
{
    std::vector<float> out ((std::size_t) width * (std::size_t) height);
    Timing t;
    for (int i = 0; i < 2; ++i)
        t.add (qvbench::wallSeconds ([&] {
            if (const int rc = quorvalen_engine_get_cqt_spectral_session_image (session, out.data(), width, height);
                rc != 0)
                std::printf ("  image failed: %d\n", rc);
        }));
    std::printf ("  %-28s image  %7.1f ms (worst %7.1f)\n", name, t.best * 1e3, t.worst * 1e3);
}

void spectrogramCase (int id, std::uint32_t width, int height)
{
    std::vector<float> out ((std::size_t) width * (std::size_t) height);
    float secs = 0.0f;
    Timing t;
    for (int i = 0; i < 2; ++i)
        t.add (qvbench::wallSeconds ([&] {
            if (const int rc = quorvalen_engine_get_cqt_spectrogram (id, out.data(), width, height, &secs); rc != 0)
                std::printf ("  spectrogram failed: %d\n", rc);
        }));
    std::printf ("  spectrogram %4u x %-4d          %7.1f ms (worst %7.1f)\n", width, height, t.best * 1e3,
                 t.worst * 1e3);
}
} // namespace

int main()
{
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    if (quorvalen_engine_init() != 0)
        return 1;
    for (int length : { 10, 60 })
    {
        const int id = qvbench::cacheNoiseUnderTones (length);
        std::uint32_t live = 0;
        float secondsLong = 0.0f;
        int session = 0;
        const double open = qvbench::wallSeconds (
            [&] { session = quorvalen_engine_begin_cqt_spectral_session (id, &live, &secondsLong); });
        std::printf ("%d s stereo, 48 kHz (session %d, opened in %.1f ms)\n", length, session, open * 1e3);
        const int runs = length == 10 ? 5 : 3;
        strokeCase ("knife, 10 points", session, shortStroke (10, 0.4f, 0.01f, 0.02f, 1.0f), 0, runs);
        strokeCase ("knife, 200 points", session, shortStroke (200, 0.6f, 0.02f, 0.05f, 1.0f), 0, runs);
        strokeCase ("Z sculpt, 10 points", session, shortStroke (10, 0.4f, 0.01f, 0.02f, 0.0f), 4, runs);
        strokeCase ("Z sculpt, whole plane", session, { 0.5f, 0.5f, 0.5f, 0.5f, 0.0f }, 4, runs);
        strokeCase ("laser, 10 points", session, shortStroke (10, 0.4f, 0.005f, 0.0f, 1.0f), 1, runs);
        strokeCase ("laser, 200 points, low", session, shortStroke (200, 0.9f, 0.005f, 0.0f, 1.0f), 1, runs);
        strokeCase ("reducer, 10 boxes", session, shortStroke (10, 0.4f, 0.01f, 0.02f, 0.0f), 2, runs);
        strokeCase ("harmonik, 2000 boxes", session, shortStroke (2000, 0.5f, 0.02f, 0.3f, 0.0f), 3, runs);
        strokeCase ("reducer, whole plane", session, { 0.5f, 0.5f, 1.0f, 1.0f, 0.0f }, 2, runs);
        imageCase (session, 961, 385, "bounded-Q 961 x 385");
        imageCase (session, 960, 385, "constant-Q 960 x 385");
        imageCase (session, 2048, 385, "constant-Q 2048 x 385");
        imageCase (session, 961, 384, "STFT 961 x 384");
        imageCase (session, 2048, 1024, "STFT 2048 x 1024");
        quorvalen_engine_end_cqt_spectral_session (session);
        if (length == 60)
        {
            spectrogramCase (id, 1024, 256);
            spectrogramCase (id, 2048, 1024);
        }
    }
    std::fflush (stdout);
    quorvalen_engine_shutdown();
    return 0;
}
