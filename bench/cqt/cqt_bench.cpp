// Constant-Q analysis and synthesis speed and memory on mono 48 kHz white noise
// with the engine's scale (48 bands per octave from 20 Hz, reference 440 Hz),
// one thread. Every case runs in a child process of its own, so that its peak
// resident memory is its own:
//   - a warm-up call at another length (the scale's tables, FFTW plans), as in
//     an engine that has used the scale before;
//   - the first call at the case's length (analysis + synthesis, a new analyzer
//     and store);
//   - repeated calls, each with a new analyzer and store (median);
//   - repeated calls that reuse one store and workspace, as an editor session
//     does (median);
//   - the store's size, the process's peak resident memory and the largest
//     reconstruction error relative to the peak.
// Times are CPU seconds of the process. Prints one markdown row per case.
//
// Usage: cqt_bench [seconds ...]  (default 1 10 60 180 600, both overlaps)
// Built with -DCQT_BENCH_NO_WORKSPACE it also builds against a module without
// workspaces (the reused-store column is then left empty), for comparisons.
#include "dsp/cqt/cqt.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <vector>

namespace cqt = quorvalen::cqt;

namespace
{

constexpr double kRate = 48000.0;

double cpuSeconds()
{
    timespec ts {};
    clock_gettime (CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double> (ts.tv_sec) + 1e-9 * static_cast<double> (ts.tv_nsec);
}

double median (std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort (v.begin(), v.end());
    return v[v.size() / 2];
}

cqt::CqtParams params (double overlap)
{
    cqt::CqtParams p;
    p.scale = { 48, 20.0 / kRate, 440.0 / kRate };
    p.overlap = overlap;
    p.maxError = 1e-5;
    return p;
}

std::vector<float> noise (std::size_t n)
{
    std::vector<float> x (n);
    std::mt19937 rng (42);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f);
    for (auto& v : x)
        v = u (rng);
    return x;
}

struct Result
{
    double first = 0, analysis = 0, synthesis = 0, reused = 0, storeBytes = 0, error = 0;
};

// A new analyzer and store: analysis + synthesis, timed apart.
void freshCall (const cqt::CqtParams& p, const std::vector<float>& x, std::vector<float>& y, double& a, double& s,
                double* storeBytes = nullptr)
{
    const cqt::Analyzer an (p);
    cqt::CoefStore store (an);
    double t = cpuSeconds();
    an.analyze (x, store);
    a = cpuSeconds() - t;
    t = cpuSeconds();
    an.synthesize (store, 0, y);
    s = cpuSeconds() - t;
    if (storeBytes)
    {
        *storeBytes = 0.0;
        for (int b = 0; b < store.bands(); ++b)
            *storeBytes += static_cast<double> (store.band (b).size_bytes());
    }
}

Result run (double overlap, double seconds)
{
    const cqt::CqtParams p = params (overlap);
    {
        const auto w = noise (static_cast<std::size_t> (0.37 * kRate));
        std::vector<float> y (w.size());
        double a = 0, s = 0;
        freshCall (p, w, y, a, s);
    }
    const auto n = static_cast<std::size_t> (seconds * kRate);
    const auto x = noise (n);
    std::vector<float> y (n);
    Result r {};
    double a = 0, s = 0;
    freshCall (p, x, y, a, s, &r.storeBytes);
    r.first = a + s;
    for (std::size_t k = 0; k < n; ++k)
        r.error = std::max (r.error, static_cast<double> (std::fabs (y[k] - x[k])));
    const int reps = std::max (3, static_cast<int> (30.0 / seconds));
    std::vector<double> ta, ts;
    for (int i = 0; i < reps; ++i)
    {
        freshCall (p, x, y, a, s);
        ta.push_back (a);
        ts.push_back (s);
    }
    r.analysis = median (ta);
    r.synthesis = median (ts);
#ifndef CQT_BENCH_NO_WORKSPACE
    const cqt::Analyzer an (p);
    cqt::CoefStore store (an);
    cqt::Workspace work;
    std::vector<double> tr;
    for (int i = 0; i <= reps; ++i)
    {
        const double t = cpuSeconds();
        an.analyze (x, store, work);
        an.synthesize (store, 0, y, work);
        if (i > 0)
            tr.push_back (cpuSeconds() - t);
    }
    r.reused = median (tr);
#endif
    return r;
}

} // namespace

int main (int argc, char** argv)
{
    std::vector<double> lengths;
    for (int i = 1; i < argc; ++i)
        lengths.push_back (std::atof (argv[i]));
    if (lengths.empty())
        lengths = { 1, 10, 60, 180, 600 };
    std::printf ("| overlap | sound | analysis (Msamples/s) | synthesis (Msamples/s) | analysis + synthesis (s) | "
                 "first call (s) | first / repeated | reused store (s) | store per audio second | peak resident "
                 "memory | max error / peak |\n");
    std::printf ("|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::fflush (stdout);
    for (const double overlap : { 0.7, 0.85 })
    {
        for (const double seconds : lengths)
        {
            const pid_t child = fork();
            if (child == 0)
            {
                const Result r = run (overlap, seconds);
                const double samples = seconds * kRate;
                const double rt = r.analysis + r.synthesis;
                rusage ru {};
                getrusage (RUSAGE_SELF, &ru);
                std::printf ("| %.2f | %g s | %.1f | %.1f | %.4f | %.4f | %.2f | %.4f | %.2f MB | %.0f MB | %.1e |\n",
                             overlap, seconds, samples / r.analysis / 1e6, samples / r.synthesis / 1e6, rt, r.first,
                             r.first / rt, r.reused, r.storeBytes / seconds / 1e6,
                             static_cast<double> (ru.ru_maxrss) / 1024.0, r.error);
                std::fflush (stdout);
                _exit (0);
            }
            int status = 0;
            waitpid (child, &status, 0);
        }
    }
}
