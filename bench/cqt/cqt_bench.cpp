// Constant-Q analysis and synthesis, our module against the published library
// (cqt_reference_bench, when built with its folder) or alone (cqt_bench), on mono
// 48 kHz white noise with the engine's scale (48 bands per octave from 20 Hz,
// reference 440 Hz, maximum error 1e-5), one thread, at overlaps 0.7 and 0.85.
//
// For every case (overlap, length) and side:
//   - first call at a new length: a child process of its own makes a warm-up call
//     at 0.37 s (code, heap and whatever the side keeps per scale), then one call
//     at the case's length with a new analyzer and store (analysis + synthesis);
//     the child's peak resident memory is the case's peak memory, and it
//     measures the reconstruction error and counts the stored coefficients;
//   - repeated calls with a new analyzer and store per call, then repeated calls
//     that reuse what the side can keep, both sides in one child process.
// Every measurement alternates the sides, ours then the reference, round by round
// (A B A B); the tables give medians over the rounds and the ratios ours /
// reference with their spread (min-max over the rounds' pairs). Times are CPU
// seconds of the process, kernel time included.
// Separately, a 440 Hz tone: the steady-state response one and two bands away from
// its band.
//
// Usage: cqt_bench [--rounds N] [--overlap X]... [seconds ...]
//   defaults: 1 10 60 180 600 s, overlaps 0.7 and 0.85, at least 5 rounds (more
//   for short sounds).
#include "CqtSide.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#ifndef QV_CQT_REFERENCE_FLAGS
#define QV_CQT_REFERENCE_FLAGS ""
#endif

namespace qvbench::cqt
{
#ifndef QV_CQT_WITH_REFERENCE
std::unique_ptr<CqtSide> makeReferenceSide()
{
    return nullptr;
}
#endif

namespace
{

constexpr int maxRounds = 64;
constexpr double warmUpSeconds = 0.37;
constexpr double toneHz = 440.0;
constexpr double toneSeconds = 4.0;

std::vector<float> noise (std::size_t n, unsigned seed)
{
    std::vector<float> x (n);
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f);
    for (auto& v : x)
        v = u (rng);
    return x;
}

std::size_t samplesOf (double seconds)
{
    return static_cast<std::size_t> (std::llround (seconds * rate));
}

double peakResidentMb()
{
    rusage ru {};
    getrusage (RUSAGE_SELF, &ru);
    return static_cast<double> (ru.ru_maxrss) / 1024.0;
}

double median (std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort (v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

struct Spread
{
    double lo = NAN, hi = NAN;
};

// Ratios a[i] / b[i] of the rounds' pairs.
Spread pairSpread (const std::vector<double>& a, const std::vector<double>& b)
{
    Spread s;
    for (std::size_t i = 0; i < std::min (a.size(), b.size()); ++i)
    {
        const double r = a[i] / b[i];
        s.lo = std::isnan (s.lo) ? r : std::min (s.lo, r);
        s.hi = std::isnan (s.hi) ? r : std::max (s.hi, r);
    }
    return s;
}

// Runs fn in a child process and hands back what it returned; nothing when the
// child failed (an exception, memory exhausted, a signal).
template <class T>
std::optional<T> inChild (const std::function<T()>& fn)
{
    static_assert (std::is_trivially_copyable_v<T>);
    std::fflush (stdout);
    std::fflush (stderr);
    int fds[2];
    if (pipe (fds) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0)
    {
        close (fds[0]);
        int code = 0;
        try
        {
            const T r = fn();
            const auto* p = reinterpret_cast<const char*> (&r);
            std::size_t done = 0;
            while (done < sizeof r)
            {
                const auto w = write (fds[1], p + done, sizeof r - done);
                if (w <= 0)
                    break;
                done += static_cast<std::size_t> (w);
            }
        }
        catch (const std::exception& e)
        {
            std::fprintf (stderr, "child failed: %s\n", e.what());
            code = 1;
        }
        std::fflush (stderr);
        _exit (code);
    }
    close (fds[1]);
    T r {};
    auto* p = reinterpret_cast<char*> (&r);
    std::size_t got = 0;
    while (got < sizeof r)
    {
        const auto n = read (fds[0], p + got, sizeof r - got);
        if (n <= 0)
            break;
        got += static_cast<std::size_t> (n);
    }
    close (fds[0]);
    int status = 0;
    waitpid (child, &status, 0);
    if (got != sizeof r || ! WIFEXITED (status) || WEXITSTATUS (status) != 0)
        return std::nullopt;
    return r;
}

struct FirstCall
{
    CallTimes times;
    double peakMb = 0;
    double error = 0; // largest |out - in| over the signal's peak
    double coefsPerSample = 0;
};

FirstCall firstCall (CqtSide& side, double overlap, double seconds, bool count)
{
    const auto x = noise (samplesOf (seconds), 42);
    std::vector<float> y (x.size());
    {
        const auto w = noise (samplesOf (warmUpSeconds), 7);
        std::vector<float> wy (w.size());
        side.freshCall (overlap, w, wy);
    }
    FirstCall r;
    r.times = side.freshCall (overlap, x, y);
    r.peakMb = peakResidentMb();
    double peak = 0, error = 0;
    for (std::size_t i = 0; i < x.size(); ++i)
    {
        peak = std::max (peak, static_cast<double> (std::fabs (x[i])));
        error = std::max (error, static_cast<double> (std::fabs (y[i] - x[i])));
    }
    r.error = error / peak;
    if (count)
        r.coefsPerSample = side.storedCoefficients (overlap, x) / static_cast<double> (x.size());
    return r;
}

struct Repeated
{
    int rounds = 0;
    std::array<std::array<CallTimes, maxRounds>, 2> fresh {};
    std::array<std::array<double, maxRounds>, 2> reused {};
};

Repeated repeatedCalls (const std::vector<CqtSide*>& sides, double overlap, double seconds, int rounds)
{
    const auto x = noise (samplesOf (seconds), 42);
    std::vector<float> y (x.size());
    Repeated r;
    r.rounds = rounds;
    for (int i = -1; i < rounds; ++i) // round -1 warms up, untimed
        for (std::size_t s = 0; s < sides.size(); ++s)
        {
            const CallTimes t = sides[s]->freshCall (overlap, x, y);
            if (i >= 0)
                r.fresh[s][static_cast<std::size_t> (i)] = t;
        }
    for (auto* side : sides)
        side->beginReuse (overlap);
    for (int i = -1; i < rounds; ++i) // the first call fills the kept store, untimed
        for (std::size_t s = 0; s < sides.size(); ++s)
        {
            const double t = sides[s]->reusedCall (x, y);
            if (i >= 0)
                r.reused[s][static_cast<std::size_t> (i)] = t;
        }
    for (auto* side : sides)
        side->endReuse();
    return r;
}

struct Response
{
    std::array<Neighbours, 2> side {};
};

std::vector<float> tone (double hz, double seconds)
{
    std::vector<float> x (samplesOf (seconds));
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<float> (0.5 * std::sin (2.0 * std::numbers::pi * hz * static_cast<double> (i) / rate));
    return x;
}

// Per side: medians and the values of every round, for ratios.
struct Series
{
    std::vector<double> first, firstPeak, fresh, reused;
    // construct, analysis, synthesis, release
    std::array<std::vector<double>, 4> firstParts, freshParts;
    double error = NAN, coefsPerSample = NAN;
};

struct CaseResult
{
    double overlap = 0, seconds = 0;
    std::array<Series, 2> side;
    double loadBefore = 0, loadAfter = 0;
};

double load1()
{
    double l[3] = {};
    return getloadavg (l, 3) > 0 ? l[0] : NAN;
}

int roundsFor (double seconds, int minRounds)
{
    return std::clamp (static_cast<int> (40.0 / seconds), minRounds, std::max (minRounds, 21));
}

CaseResult runCase (const std::vector<CqtSide*>& sides, double overlap, double seconds, int minRounds)
{
    CaseResult c;
    c.overlap = overlap;
    c.seconds = seconds;
    c.loadBefore = load1();
    const int rounds = std::min (roundsFor (seconds, minRounds), maxRounds);
    for (int i = 0; i < rounds; ++i)
        for (std::size_t s = 0; s < sides.size(); ++s)
        {
            const bool count = i == 0;
            const auto r = inChild<FirstCall> ([&] { return firstCall (*sides[s], overlap, seconds, count); });
            if (! r)
            {
                std::fprintf (stderr, "%s: first call at %g s failed\n", sides[s]->name().c_str(), seconds);
                continue;
            }
            auto& series = c.side[s];
            series.first.push_back (r->times.total());
            series.firstParts[0].push_back (r->times.construct);
            series.firstParts[1].push_back (r->times.analysis);
            series.firstParts[2].push_back (r->times.synthesis);
            series.firstParts[3].push_back (r->times.release);
            series.firstPeak.push_back (r->peakMb);
            series.error = std::isnan (series.error) ? r->error : std::max (series.error, r->error);
            if (count)
                series.coefsPerSample = r->coefsPerSample;
        }
    const auto rep = inChild<Repeated> ([&] { return repeatedCalls (sides, overlap, seconds, rounds); });
    if (rep)
        for (std::size_t s = 0; s < sides.size(); ++s)
            for (int i = 0; i < rep->rounds; ++i)
            {
                const auto& t = rep->fresh[s][static_cast<std::size_t> (i)];
                auto& series = c.side[s];
                series.fresh.push_back (t.total());
                series.freshParts[0].push_back (t.construct);
                series.freshParts[1].push_back (t.analysis);
                series.freshParts[2].push_back (t.synthesis);
                series.freshParts[3].push_back (t.release);
                series.reused.push_back (rep->reused[s][static_cast<std::size_t> (i)]);
            }
    else
        std::fprintf (stderr, "repeated calls at %g s failed\n", seconds);
    c.loadAfter = load1();
    return c;
}

// "a / b" with the given format, "–" for what was not measured.
std::string both (const char* format, double a, double b, bool withB)
{
    char buf[96];
    const auto one = [&] (double v) {
        char s[40];
        if (std::isnan (v))
            return std::string ("–");
        std::snprintf (s, sizeof s, format, v);
        return std::string (s);
    };
    std::snprintf (buf, sizeof buf, "%s", withB ? (one (a) + " / " + one (b)).c_str() : one (a).c_str());
    return buf;
}

std::string ratio (double a, double b, Spread s)
{
    if (std::isnan (a) || std::isnan (b))
        return "–";
    char buf[64];
    if (std::isnan (s.lo))
        std::snprintf (buf, sizeof buf, "%.2f", a / b);
    else
        std::snprintf (buf, sizeof buf, "%.2f (%.2f-%.2f)", a / b, s.lo, s.hi);
    return buf;
}

void printCases (const std::vector<CaseResult>& cases, bool withRef)
{
    std::printf ("\n### Time (CPU seconds, medians)\n\n");
    if (! withRef)
        std::printf ("Built without the reference library: its columns and the ratios stay empty.\n\n");
    std::printf (
        "| overlap | sound | rounds | first call at a new length, ours / ref | ours / ref (spread) | new analyzer "
        "and store per call, ours / ref | ours / ref (spread) | reused, ours / ref | ours / ref (spread) | "
        "load before, after |\n");
    std::printf ("|---|---|---|---|---|---|---|---|---|---|\n");
    for (const auto& c : cases)
    {
        const auto& a = c.side[0];
        const auto& b = c.side[1];
        std::printf ("| %.2f | %g s | %zu | %s | %s | %s | %s | %s | %s | %.1f, %.1f |\n", c.overlap, c.seconds,
                     a.fresh.size(), both ("%.4f", median (a.first), median (b.first), withRef).c_str(),
                     withRef ? ratio (median (a.first), median (b.first), pairSpread (a.first, b.first)).c_str() : "–",
                     both ("%.4f", median (a.fresh), median (b.fresh), withRef).c_str(),
                     withRef ? ratio (median (a.fresh), median (b.fresh), pairSpread (a.fresh, b.fresh)).c_str() : "–",
                     both ("%.4f", median (a.reused), median (b.reused), withRef).c_str(),
                     withRef ? ratio (median (a.reused), median (b.reused), pairSpread (a.reused, b.reused)).c_str()
                             : "–",
                     c.loadBefore, c.loadAfter);
    }

    std::printf ("\n### Memory, coefficients and error\n\n");
    std::printf ("| overlap | sound | peak resident memory, ours / ref (MB) | ours / ref (spread) | coefficients per "
                 "input sample, ours / ref | ours / ref | max error / peak, ours / ref |\n");
    std::printf ("|---|---|---|---|---|---|---|\n");
    for (const auto& c : cases)
    {
        const auto& a = c.side[0];
        const auto& b = c.side[1];
        std::printf (
            "| %.2f | %g s | %s | %s | %s | %s | %s |\n", c.overlap, c.seconds,
            both ("%.0f", median (a.firstPeak), median (b.firstPeak), withRef).c_str(),
            withRef ? ratio (median (a.firstPeak), median (b.firstPeak), pairSpread (a.firstPeak, b.firstPeak)).c_str()
                    : "–",
            both ("%.2f", a.coefsPerSample, b.coefsPerSample, withRef).c_str(),
            withRef ? ratio (a.coefsPerSample, b.coefsPerSample, {}).c_str() : "–",
            both ("%.1e", a.error, b.error, withRef).c_str());
    }

    std::printf ("\n### Where a call goes (CPU seconds, medians)\n\n");
    std::printf ("| overlap | sound | side | call | analyzer and store | analysis | synthesis | release |\n");
    std::printf ("|---|---|---|---|---|---|---|---|\n");
    for (const auto& c : cases)
        for (std::size_t s = 0; s < (withRef ? 2u : 1u); ++s)
            for (const bool first : { true, false })
            {
                const auto& p = first ? c.side[s].firstParts : c.side[s].freshParts;
                std::printf ("| %.2f | %g s | %s | %s | %.4f | %.4f | %.4f | %.4f |\n", c.overlap, c.seconds,
                             s == 0 ? "ours" : "ref", first ? "first at a new length" : "repeated, new store",
                             median (p[0]), median (p[1]), median (p[2]), median (p[3]));
            }
}

// "0.71 ✗" against an upper bound; the bare value where no goal applies.
std::string against (double value, double goal, const char* format = "%.2f")
{
    if (std::isnan (value))
        return "–";
    char buf[48];
    std::snprintf (buf, sizeof buf, format, value);
    if (std::isnan (goal))
        return buf;
    return std::string (buf) + (value <= goal ? " ✓" : " ✗");
}

void printGoals (const std::vector<CaseResult>& cases, const std::vector<std::pair<double, Response>>& responses)
{
    std::printf ("\n### Against the goals (ours / reference, medians; ✓ met, ✗ not met)\n");
    for (const auto& [overlap, r] : responses)
    {
        std::vector<const CaseResult*> mine;
        for (const auto& c : cases)
            if (c.overlap == overlap)
                mine.push_back (&c);
        const double ours = 0.5 * (r.side[0].above1 + r.side[0].below1);
        const double ref = 0.5 * (r.side[1].above1 + r.side[1].below1);
        std::printf ("\nOverlap %.2f: response one band away, ours - reference %+.3f (goal: within 0.02) %s\n\n",
                     overlap, ours - ref, std::fabs (ours - ref) <= 0.02 ? "✓" : "✗");
        std::printf ("| check | goal |");
        for (const auto* c : mine)
            std::printf (" %g s |", c->seconds);
        std::printf ("\n|---|---|");
        for (std::size_t k = 0; k < mine.size(); ++k)
            std::printf ("---|");
        std::printf ("\n");
        const auto row =
            [&] (const char* check, const char* goal, const std::function<std::string (const CaseResult&)>& cell) {
            std::printf ("| %s | %s |", check, goal);
            for (const auto* c : mine)
                std::printf (" %s |", cell (*c).c_str());
            std::printf ("\n");
        };
        const auto ratioOf = [] (const std::vector<double>& a, const std::vector<double>& b) {
            return median (a) / median (b);
        };
        row ("new analyzer and store per call", "at most 0.6 from 10 s", [&] (const CaseResult& c) {
            return against (ratioOf (c.side[0].fresh, c.side[1].fresh), c.seconds >= 10 ? 0.6 : NAN, "%.3f");
        });
        row ("reused", "at most 0.6 from 10 s", [&] (const CaseResult& c) {
            return against (ratioOf (c.side[0].reused, c.side[1].reused), c.seconds >= 10 ? 0.6 : NAN, "%.3f");
        });
        row ("first call at a new length", "at most 0.8 at 1 s, 0.7 from 10 s", [&] (const CaseResult& c) {
            return against (ratioOf (c.side[0].first, c.side[1].first), c.seconds >= 10 ? 0.7 : 0.8, "%.3f");
        });
        row ("peak memory", "at most 1.3 at 1 s, 1.0 from 10 s", [&] (const CaseResult& c) {
            return against (ratioOf (c.side[0].firstPeak, c.side[1].firstPeak), c.seconds >= 10 ? 1.0 : 1.3);
        });
        row ("max error / peak", "at most 1",
             [&] (const CaseResult& c) { return against (c.side[0].error / c.side[1].error, 1.0); });
    }
}

void printResponses (const std::vector<std::pair<double, Response>>& responses, bool withRef)
{
    std::printf ("\n### Response around a %.0f Hz tone's band (steady-state magnitude relative to the tone's band)\n\n",
                 toneHz);
    std::printf ("| overlap | side | one band above | one below | one band away (mean) | two bands above | two below | "
                 "two bands away (mean) |\n");
    std::printf ("|---|---|---|---|---|---|---|---|\n");
    for (const auto& [overlap, r] : responses)
        for (std::size_t s = 0; s < (withRef ? 2u : 1u); ++s)
        {
            const auto& n = r.side[s];
            std::printf ("| %.2f | %s | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f |\n", overlap,
                         s == 0 ? "ours" : "reference", n.above1, n.below1, 0.5 * (n.above1 + n.below1), n.above2,
                         n.below2, 0.5 * (n.above2 + n.below2));
        }
}

} // namespace
} // namespace qvbench::cqt

int main (int argc, char** argv)
{
    using namespace qvbench::cqt;
    std::vector<double> lengths, overlaps;
    int minRounds = 5;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp (argv[i], "--rounds") == 0 && i + 1 < argc)
            minRounds = std::clamp (std::atoi (argv[++i]), 1, maxRounds);
        else if (std::strcmp (argv[i], "--overlap") == 0 && i + 1 < argc)
            overlaps.push_back (std::atof (argv[++i]));
        else
            lengths.push_back (std::atof (argv[i]));
    }
    if (lengths.empty())
        lengths = { 1, 10, 60, 180, 600 };
    if (overlaps.empty())
        overlaps = { 0.7, 0.85 };

    const auto ours = makeOurSide();
    const auto reference = makeReferenceSide();
    const bool withRef = reference != nullptr;
    std::vector<CqtSide*> sides { ours.get() };
    if (withRef)
        sides.push_back (reference.get());

    const double wallStart = static_cast<double> (std::time (nullptr));
    const double cpuStart = processCpuSeconds();
    double loads[3] = {};
    getloadavg (loads, 3);
    std::printf ("## Constant-Q benchmark: %s\n\n",
                 withRef ? "our module against the reference library"
                         : "our module (built without the reference library)");
    std::printf ("- %ld processors online, load average at start %.1f / %.1f / %.1f (1, 5, 15 min)\n",
                 sysconf (_SC_NPROCESSORS_ONLN), loads[0], loads[1], loads[2]);
    std::printf ("- compiler %s; reference built with: %s\n", __VERSION__,
                 withRef ? QV_CQT_REFERENCE_FLAGS : "(not built)");
    std::printf ("- reuse: ours %s", ours->reuseName().c_str());
    if (withRef)
        std::printf ("; reference %s", reference->reuseName().c_str());
    std::printf ("\n");
    std::fflush (stdout);

    std::vector<std::pair<double, Response>> responses;
    for (const double overlap : overlaps)
    {
        const auto r = inChild<Response> ([&] {
            const auto x = tone (toneHz, toneSeconds);
            Response res;
            for (std::size_t s = 0; s < sides.size(); ++s)
                res.side[s] = sides[s]->neighbours (overlap, x, toneHz);
            return res;
        });
        if (r)
            responses.emplace_back (overlap, *r);
    }
    printResponses (responses, withRef);
    std::fflush (stdout);

    std::vector<CaseResult> cases;
    for (const double overlap : overlaps)
        for (const double seconds : lengths)
        {
            std::fprintf (stderr, "overlap %.2f, %g s...\n", overlap, seconds);
            cases.push_back (runCase (sides, overlap, seconds, minRounds));
        }
    printCases (cases, withRef);
    if (withRef)
        printGoals (cases, responses);

    rusage children {};
    getrusage (RUSAGE_CHILDREN, &children);
    const double childCpu = static_cast<double> (children.ru_utime.tv_sec + children.ru_stime.tv_sec)
        + 1e-6 * static_cast<double> (children.ru_utime.tv_usec + children.ru_stime.tv_usec);
    getloadavg (loads, 3);
    std::printf ("\n- run took %.0f s wall, %.0f s CPU; load average at the end %.1f / %.1f / %.1f\n",
                 static_cast<double> (std::time (nullptr)) - wallStart, childCpu + processCpuSeconds() - cpuStart,
                 loads[0], loads[1], loads[2]);
    return 0;
}
