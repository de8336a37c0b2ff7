// Session images, the constant-Q spectrogram and the constant-Q morphs through
// the exports, each against the constant-Q work it cannot avoid, done with the
// module directly on the same sounds in the same run: a whole-file analysis of
// every channel the operation analyses (the images; the first image of a
// session analyses the untouched source as well), and for the morphs two
// analyses and one synthesis per channel. The two alternate, and the table
// gives the medians and their ratio, by the calling thread's CPU time (which
// holds on a shared machine; every one of these runs on the calling thread)
// and by wall time.
//
// Usage: cqt_view_bench [seconds ...] [--only TEXT]  (default 10 60; --only runs
// the cases whose name contains TEXT)
#include "BenchSupport.h"
#include "ThreadCpuClock.h"
#include "dsp/cqt/cqt.h"
#include "platform/HeadlessConfig.h"

#include <juce_audio_basics/juce_audio_basics.h>
#include <quorvalen_dsp.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
using namespace quorvalen;
constexpr double rate = 48000.0;

struct Time
{
    double cpu = 0.0, wall = 0.0;
};

Time seconds (const std::function<void()>& work)
{
    const double c0 = qvbench::threadCpuSeconds();
    const auto t0 = Clock::now();
    work();
    return { qvbench::threadCpuSeconds() - c0, std::chrono::duration<double> (Clock::now() - t0).count() };
}

cqt::CqtParams params (double overlap, bool resynthesis)
{
    cqt::CqtParams p;
    p.scale = { 48, 20.0 / rate, 440.0 / rate };
    p.overlap = overlap;
    p.maxError = 1e-5;
    p.resynthesis = resynthesis;
    return p;
}

// What the module alone needs, with a new analyzer and new stores per call as the
// operations make them (reused from one signal to the next): `analyses`
// whole-file analyses of each signal, and one synthesis of each when `synthesis`
// is set.
void moduleWork (const std::vector<const float*>& signals, int n, double overlap, int analyses, bool synthesis)
{
    const cqt::Analyzer analyzer (params (overlap, synthesis));
    std::vector<cqt::CoefStore> stores ((std::size_t) analyses, cqt::CoefStore (analyzer));
    std::vector<float> out (synthesis ? (std::size_t) n : 0);
    for (const float* x : signals)
    {
        for (auto& store : stores)
            analyzer.analyze ({ x, (std::size_t) n }, store);
        if (synthesis)
            analyzer.synthesize (stores.front(), 0, out);
    }
}

FILE* report = stdout;
const char* only = nullptr;

// `op` returns the time of what it measures.
void row (int length, const char* name, const char* reference, const std::function<Time()>& op,
          const std::function<void()>& ref, int runs)
{
    if (only != nullptr && std::strstr (name, only) == nullptr)
        return;
    std::vector<double> a, b, aw, bw;
    for (int i = 0; i < runs; ++i)
    {
        const auto r = seconds (ref);
        const auto o = op();
        b.push_back (r.cpu);
        bw.push_back (r.wall);
        a.push_back (o.cpu);
        aw.push_back (o.wall);
    }
    const double ma = qvbench::median (a), mb = qvbench::median (b);
    std::fprintf (report, "| %d s | %s | %.1f | %s | %.1f | %.2f | %.2f |\n", length, name, ma * 1e3, reference,
                  mb * 1e3, ma / mb, qvbench::median (aw) / qvbench::median (bw));
    std::fflush (report);
}
} // namespace

int main (int argc, char** argv)
{
    std::vector<int> lengths;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp (argv[i], "--only") == 0 && i + 1 < argc)
            only = argv[++i];
        else
            lengths.push_back (std::atoi (argv[i]));
    }
    if (lengths.empty())
        lengths = { 10, 60 };
    // The operations log to standard output; the table goes to the original one.
    report = fdopen (dup (1), "w");
    if (report == nullptr || freopen ("/dev/null", "w", stdout) == nullptr)
        return 3;
    quorvalen::platform::setPlatformDeviceTypesEnabled (false);
    if (quorvalen_engine_init() != 0)
        return 1;
    std::fprintf (report, "| sound | operation | CPU (ms) | module alone | CPU (ms) | ratio | ratio of wall times |\n");
    std::fprintf (report, "|---|---|---|---|---|---|---|\n");
    for (const int length : lengths)
    {
        const int runs = length <= 10 ? 7 : 3;
        const auto soundA = qvbench::pitchedSound (110.0, 1, length);
        const auto soundB = qvbench::pitchedSound (164.8, 2, length);
        const int idA = qvbench::cacheExactly (soundA, rate);
        const int idB = qvbench::cacheExactly (soundB, rate);
        const int n = soundA.getNumSamples();
        const std::vector<const float*> channelsA { soundA.getReadPointer (0), soundA.getReadPointer (1) };
        std::vector<float> mix ((std::size_t) n);
        for (int i = 0; i < n; ++i)
            mix[(std::size_t) i] = (soundA.getSample (0, i) + soundA.getSample (1, i)) / std::sqrt (2.0f);

        auto morph = [&] (std::uint32_t kind, float tempo, int preset) {
            return [=] {
                int id = 0;
                const Time t = seconds (
                    [&] { id = quorvalen_engine_create_manifold_cqt_morph (idA, idB, 50.0f, kind, tempo, preset); });
                if (id <= 0)
                    std::fprintf (report, "  morph failed: %d\n", id);
                quorvalen_engine_unload_cached (id);
                return t;
            };
        };
        const auto morphWork = [&] { moduleWork (channelsA, n, 0.7, 2, true); };
        row (length, "covalent morph", "2 analyses + synthesis per channel", morph (1, 120.0f, 1), morphWork, runs);
        row (length, "mangle morph", "2 analyses + synthesis per channel", morph (0, 120.0f, 1), morphWork, runs);
        row (length, "reese morph", "2 analyses + synthesis per channel", morph (0, 172.0f, 1), morphWork, runs);

        std::uint32_t live = 0;
        float secs = 0.0f;
        const int session = quorvalen_engine_begin_cqt_spectral_session (idA, &live, &secs);
        std::vector<float> out (2048 * 1024);
        auto image = [&] (int width, int height) {
            return [&, width, height] {
                int rc = 0;
                const Time t = seconds ([&] {
                    rc = quorvalen_engine_get_cqt_spectral_session_image (session, out.data(), (std::uint32_t) width,
                                                                          height);
                });
                if (rc != 0)
                    std::fprintf (report, "  image failed: %d\n", rc);
                return t;
            };
        };
        const auto imageWork = [&] { moduleWork (channelsA, n, 0.7, 1, false); };
        // The first image of a session also renders the untouched source.
        row (
            length, "first constant-Q image 960 x 385", "analysis of 2 channels, twice",
            [&] {
            std::uint32_t l = 0;
            float s = 0.0f;
            const int fresh = quorvalen_engine_begin_cqt_spectral_session (idA, &l, &s);
            int rc = 0;
            const Time t =
                seconds ([&] { rc = quorvalen_engine_get_cqt_spectral_session_image (fresh, out.data(), 960, 385); });
            if (rc != 0)
                std::fprintf (report, "  image failed: %d\n", rc);
            quorvalen_engine_end_cqt_spectral_session (fresh);
            return t;
            },
            [&] { moduleWork (channelsA, n, 0.7, 2, false); }, runs);
        (void) image (960, 385)(); // locks the reference
        row (length, "constant-Q image 960 x 385", "analysis of 2 channels", image (960, 385), imageWork, runs);
        row (length, "constant-Q image 2048 x 385", "analysis of 2 channels", image (2048, 385), imageWork, runs);
        row (length, "bounded-Q image 961 x 385", "analysis of 2 channels", image (961, 385), imageWork, runs);
        row (length, "STFT image 961 x 384", "analysis of 2 channels", image (961, 384), imageWork, runs);
        quorvalen_engine_end_cqt_spectral_session (session);

        auto spectrogram = [&] (int width, int height) {
            return [&, width, height] {
                float s = 0.0f;
                int rc = 0;
                const Time t = seconds ([&] {
                    rc = quorvalen_engine_get_cqt_spectrogram (idA, out.data(), (std::uint32_t) width, height, &s);
                });
                if (rc != 0)
                    std::fprintf (report, "  spectrogram failed: %d\n", rc);
                return t;
            };
        };
        const auto mixWork = [&] { moduleWork ({ mix.data() }, n, 0.85, 1, false); };
        row (length, "spectrogram 1024 x 256", "analysis of the mix", spectrogram (1024, 256), mixWork, runs);
        row (length, "spectrogram 2048 x 1024", "analysis of the mix", spectrogram (2048, 1024), mixWork, runs);
        quorvalen_engine_unload_cached (idA);
        quorvalen_engine_unload_cached (idB);
    }
    quorvalen_engine_shutdown();
    return 0;
}
