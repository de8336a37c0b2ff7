#include "dsp/cqt/cqt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace cqt = quorvalen::cqt;

namespace
{

cqt::CqtParams params (double sr, double overlap = 0.7, double refHz = 440.0)
{
    cqt::CqtParams p;
    p.scale = { 48, 20.0 / sr, refHz / sr };
    p.overlap = overlap;
    p.maxError = 1e-5;
    return p;
}

std::vector<float> noise (std::size_t n, unsigned seed = 1)
{
    std::mt19937 rng (seed);
    std::uniform_real_distribution<float> u (-1.0f, 1.0f);
    std::vector<float> x (n);
    for (auto& v : x)
        v = u (rng);
    return x;
}

std::vector<float> sine (std::size_t n, double freq, double amp = 1.0)
{
    std::vector<float> x (n);
    for (std::size_t i = 0; i < n; ++i)
        x[i] = static_cast<float> (amp * std::cos (2.0 * std::numbers::pi * freq * static_cast<double> (i)));
    return x;
}

double peak (const std::vector<float>& x)
{
    double p = 0.0;
    for (float v : x)
        p = std::max (p, static_cast<double> (std::fabs (v)));
    return p;
}

double maxDiff (const float* a, const float* b, std::size_t n)
{
    double d = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        d = std::max (d, static_cast<double> (std::fabs (a[i] - b[i])));
    return d;
}

std::vector<float> roundTrip (const cqt::Analyzer& an, const std::vector<float>& x)
{
    cqt::CoefStore store (an);
    an.analyze (x, store);
    std::vector<float> y (x.size());
    an.synthesize (store, 0, y);
    return y;
}

} // namespace

TEST (CqtScale, BandCountsAndCentres)
{
    struct Case
    {
        double sr, refHz;
        int bands, refBand;
    };
    for (const Case c : { Case { 44100, 440, 486, 271 }, Case { 48000, 440, 491, 276 }, Case { 96000, 440, 539, 324 } })
    {
        const cqt::Analyzer an (params (c.sr, 0.7, c.refHz));
        ASSERT_EQ (an.bandCount(), c.bands) << c.sr;
        EXPECT_NEAR (an.bandCentre (c.refBand) * c.sr, 440.0, 1e-9) << c.sr;
        EXPECT_LE (an.bandCentre (0), 0.5);
        EXPECT_GT (an.bandCentre (0) * std::exp2 (1.0 / 48.0), 0.5);
        EXPECT_GE (an.bandCentre (c.bands - 1) * c.sr, 20.0);
        EXPECT_LT (an.bandCentre (c.bands - 1) * c.sr * std::exp2 (-1.0 / 48.0), 20.0);
        for (int b = 1; b < c.bands; ++b)
            ASSERT_NEAR (an.bandCentre (b) / an.bandCentre (b - 1), std::exp2 (-1.0 / 48.0), 1e-12);
        EXPECT_EQ (an.lowpassBand(), c.bands);
        EXPECT_EQ (an.bandCentre (an.lowpassBand()), 0.0);
        // Steps from a few samples at the top to 2^14 at 20 Hz.
        EXPECT_LE (an.bandTimeShift (0), 5);
        EXPECT_EQ (an.bandTimeShift (c.bands - 1), c.sr < 90000 ? 14 : 15);
        EXPECT_THROW (an.bandCentre (c.bands + 1), cqt::Error);
    }
}

TEST (CqtScale, HalfRateReferenceAndOverlapIndependence)
{
    const cqt::Analyzer half (params (48000, 0.7, 24000));
    EXPECT_EQ (half.bandCentre (0), 0.5);
    EXPECT_EQ (half.bandCount(), 491);

    const cqt::Analyzer a (params (44100, 0.7)), b (params (44100, 0.85));
    ASSERT_EQ (a.bandCount(), b.bandCount());
    for (int band = 0; band <= a.bandCount(); ++band)
        ASSERT_EQ (a.bandCentre (band), b.bandCentre (band));
}

TEST (CqtScale, TinyAndAbsurdRates)
{
    const cqt::Analyzer tiny (params (30));
    EXPECT_EQ (tiny.bandCount(), 0);
    const auto x = noise (100);
    const auto y = roundTrip (tiny, x);
    EXPECT_LT (maxDiff (x.data(), y.data(), x.size()), 1e-5);
    // Two bands, and a lowpass band that reaches past the Nyquist frequency.
    const cqt::Analyzer few (params (41));
    EXPECT_EQ (few.bandCount(), 2);
    const auto z = roundTrip (few, x);
    EXPECT_LT (maxDiff (x.data(), z.data(), x.size()), 1e-5);

    EXPECT_THROW (cqt::Analyzer (params (1e9)), cqt::Error);
    auto bad = params (48000);
    bad.overlap = 1.5;
    EXPECT_THROW (cqt::Analyzer { bad }, cqt::Error);
    bad = params (48000);
    bad.scale.minFreq = std::numeric_limits<double>::quiet_NaN();
    EXPECT_THROW (cqt::Analyzer { bad }, cqt::Error);
}

TEST (CqtAnalysis, ReconstructsEverySignalKind)
{
    for (const double sr : { 44100.0, 48000.0, 96000.0 })
    {
        for (const double overlap : { 0.7, 0.85 })
        {
            // The round-trip audition's scale (reference at the Nyquist frequency) at 48 kHz.
            const cqt::Analyzer an (params (sr, overlap, sr == 48000.0 && overlap == 0.7 ? 24000.0 : 440.0));
            std::vector<std::vector<float>> signals = { noise (1), noise (37), noise (30000), sine (20000, 1000.0 / sr),
                                                        sine (9000, 0.5 - 1e-4, 0.3) };
            std::vector<float> impulses (12000, 0.0f), step (15000, 0.0f);
            impulses[0] = impulses[5000] = impulses[11999] = 1.0f;
            for (std::size_t i = 7000; i < step.size(); ++i)
                step[i] = -0.5f;
            signals.push_back (impulses);
            signals.push_back (step);
            for (const auto& x : signals)
            {
                const auto y = roundTrip (an, x);
                EXPECT_LT (maxDiff (x.data(), y.data(), x.size()), 1e-5 * peak (x))
                    << "sr " << sr << " overlap " << overlap << " length " << x.size();
            }
        }
    }
}

TEST (CqtAnalysis, ReconstructsAMinuteLongSignal)
{
    const cqt::Analyzer an (params (48000));
    auto x = noise (60 * 48000, 7);
    const auto y = roundTrip (an, x);
    EXPECT_LT (maxDiff (x.data(), y.data(), x.size()), 1e-5);
}

TEST (CqtAnalysis, NonFiniteSamplesCountAsZeroAndEmptySignalsAreEmpty)
{
    const cqt::Analyzer an (params (48000));
    auto x = noise (5000);
    auto dirty = x;
    x[10] = x[2000] = x[4999] = 0.0f;
    dirty[10] = std::numeric_limits<float>::quiet_NaN();
    dirty[2000] = std::numeric_limits<float>::infinity();
    dirty[4999] = -std::numeric_limits<float>::infinity();
    cqt::CoefStore a (an), b (an);
    an.analyze (x, a);
    an.analyze (dirty, b);
    for (int band = 0; band < a.bands(); ++band)
    {
        const auto ca = a.band (band), cb = b.band (band);
        ASSERT_TRUE (std::equal (ca.begin(), ca.end(), cb.begin(), cb.end())) << band;
    }

    an.analyze (std::span<const float> {}, a);
    EXPECT_EQ (a.signalLength(), 0);
    for (int band = 0; band < a.bands(); ++band)
        EXPECT_TRUE (a.band (band).empty());
    std::vector<float> y (10, 1.0f);
    an.synthesize (a, -5, y);
    EXPECT_EQ (peak (y), 0.0);
}

TEST (CqtAnalysis, ResynthesisOptionLeavesAnalysisUnchanged)
{
    auto on = params (44100, 0.85), off = on;
    off.resynthesis = false;
    const cqt::Analyzer a (on), b (off);
    const auto x = noise (7000, 3);
    cqt::CoefStore ca (a), cb (b);
    a.analyze (x, ca);
    b.analyze (x, cb);
    ASSERT_TRUE (ca.sameLayout (cb));
    for (int band = 0; band < ca.bands(); ++band)
    {
        const auto sa = ca.band (band), sb = cb.band (band);
        ASSERT_TRUE (std::equal (sa.begin(), sa.end(), sb.begin(), sb.end())) << band;
    }
    std::vector<float> y (x.size());
    EXPECT_THROW (b.synthesize (cb, 0, y), cqt::Error);
}

TEST (CqtCoefficients, SineAtACentreReadsItsAmplitude)
{
    for (const double overlap : { 0.7, 0.85 })
    {
        const double sr = 48000;
        const cqt::Analyzer an (params (sr, overlap));
        for (const int band : { 20, 276, 450 })
        {
            const std::size_t n = 4 * 48000;
            const auto x = sine (n, an.bandCentre (band));
            cqt::CoefStore store (an);
            an.analyze (x, store);
            const auto t0 = static_cast<std::int64_t> (n / 2 - 10000), t1 = static_cast<std::int64_t> (n / 2 + 10000);
            double lo = 1e9, hi = 0.0, nb = 0.0;
            cqt::visit (store, band, band + 1, t0, t1, [&] (int, std::int64_t, const std::complex<float>& c) {
                lo = std::min (lo, static_cast<double> (std::abs (c)));
                hi = std::max (hi, static_cast<double> (std::abs (c)));
            });
            cqt::visit (store, band + 1, band + 2, t0, t1, [&] (int, std::int64_t, const std::complex<float>& c) {
                nb = std::max (nb, static_cast<double> (std::abs (c)));
            });
            EXPECT_NEAR (lo, 1.0, 1e-3) << band;
            EXPECT_NEAR (hi, 1.0, 1e-3) << band;
            // The Gaussian of standard deviation overlap * (2^(1/48) - 1) * centre.
            const double sigma = overlap * (std::exp2 (1.0 / 48.0) - 1.0) * 48.0 / std::numbers::ln2;
            EXPECT_NEAR (nb, std::exp (-0.5 / (sigma * sigma)), 2e-3) << band;
        }
    }
}

TEST (CqtCoefficients, VisitsCoverTheStoredGridAndWritesPersist)
{
    const cqt::Analyzer an (params (44100, 0.85));
    const auto x = noise (20000, 5);
    cqt::CoefStore store (an), other (an);
    an.analyze (x, store);
    an.analyze (noise (20000, 6), other);
    const std::int64_t t0 = -3000, t1 = 12345;
    std::size_t visits = 0;
    cqt::visit (store, -5, store.bands() + 5, t0, t1, [&] (int band, std::int64_t t, std::complex<float>& c) {
        ASSERT_EQ (t % (std::int64_t { 1 } << store.timeShift (band)), 0);
        ASSERT_TRUE (t >= t0 && t < t1);
        ++visits;
        c = { static_cast<float> (band), static_cast<float> (t) };
    });
    std::size_t expected = 0;
    for (int band = 0; band < store.bands(); ++band)
    {
        const auto coefs = store.band (band);
        for (std::size_t i = 0; i < coefs.size(); ++i)
        {
            const std::int64_t t = (store.firstIndex (band) + static_cast<std::int64_t> (i)) << store.timeShift (band);
            if (t >= t0 && t < t1)
            {
                ++expected;
                ASSERT_EQ (coefs[i], std::complex<float> (static_cast<float> (band), static_cast<float> (t)));
            }
        }
        // Coefficients reach past both ends of the signal.
        EXPECT_LT (store.firstIndex (band), 0);
    }
    EXPECT_EQ (visits, expected);

    std::size_t pairs = 0;
    cqt::visit (store, other, 0, an.bandCount(), 0, 20000,
                [&] (int band, std::int64_t t, std::complex<float>& a, std::complex<float>&) {
        ASSERT_EQ (
            &a, &store.band (band)[static_cast<std::size_t> ((t >> store.timeShift (band)) - store.firstIndex (band))]);
        ++pairs;
    });
    EXPECT_GT (pairs, 0u);
    cqt::CoefStore shorter (an);
    an.analyze (noise (100), shorter);
    EXPECT_THROW (cqt::visit (store, shorter, 0, 1, 0, 10, [] (int, std::int64_t, auto&, auto&) {}), cqt::Error);
}

TEST (CqtSynthesis, RangesMatchTheFullSynthesis)
{
    const double sr = 48000;
    const cqt::Analyzer an (params (sr));
    const std::size_t n = 8 * 48000;
    auto x = noise (n, 11);
    cqt::CoefStore store (an);
    an.analyze (x, store);
    // Edit some coefficients so that the ranges do not just reproduce the input.
    cqt::visit (store, 100, 300, 100000, 140000, [] (int, std::int64_t, std::complex<float>& c) { c *= 0.25f; });
    std::vector<float> full (n);
    an.synthesize (store, 0, full);
    struct Range
    {
        std::int64_t t0, len;
    };
    for (const Range r :
         { Range { 0, 1 }, Range { 0, 3000 }, Range { 120000, 5000 }, Range { 99999, 41000 },
           Range { static_cast<std::int64_t> (n) - 2500, 2500 }, Range { -2000, 6000 },
           Range { static_cast<std::int64_t> (n) - 100, 700 }, Range { 0, static_cast<std::int64_t> (n) } })
    {
        std::vector<float> part (static_cast<std::size_t> (r.len), 7.0f);
        an.synthesize (store, r.t0, part);
        for (std::int64_t i = 0; i < r.len; ++i)
        {
            const std::int64_t t = r.t0 + i;
            const float want = t >= 0 && t < static_cast<std::int64_t> (n) ? full[static_cast<std::size_t> (t)] : 0.0f;
            ASSERT_NEAR (part[static_cast<std::size_t> (i)], want, 5e-7)
                << "range " << r.t0 << "+" << r.len << " at " << t;
        }
    }
}

TEST (CqtSynthesis, ACoefficientReachesOnlyWithinItsSupport)
{
    struct Case
    {
        double sr, overlap;
    };
    for (const Case c : { Case { 44100, 0.7 }, Case { 48000, 0.85 } })
    {
        const cqt::Analyzer an (params (c.sr, c.overlap));
        const std::size_t n = static_cast<std::size_t> (10 * c.sr);
        cqt::CoefStore store (an);
        an.analyze (noise (n, 13), store);
        std::vector<float> before (n), after (n);
        an.synthesize (store, 0, before);
        const std::int64_t mid = static_cast<std::int64_t> (n / 2);
        for (const int band : { 0, 1, 200, an.bandCount() - 1, an.lowpassBand() })
        {
            // A large change to the coefficient nearest the middle: larger than
            // zeroing it, so the tail stands well above the output's rounding.
            std::int64_t at = 0;
            std::complex<float> saved;
            cqt::visit (store, band, band + 1, mid, mid + (std::int64_t { 1 } << an.bandTimeShift (band)),
                        [&] (int, std::int64_t t, std::complex<float>& coef) {
                at = t;
                saved = coef;
                coef += std::complex<float> (5.0f, -3.0f);
            });
            an.synthesize (store, 0, after);
            const double support = an.bandSupport (band);
            double inside = 0.0, outside = 0.0;
            for (std::size_t i = 0; i < n; ++i)
            {
                const double d = std::fabs (after[i] - before[i]);
                double& side =
                    std::fabs (static_cast<double> (static_cast<std::int64_t> (i) - at)) <= support ? inside : outside;
                side = std::max (side, d);
            }
            EXPECT_GT (inside, 1e-3) << band;
            // Beyond the support only the atom's tail and the output's float rounding.
            EXPECT_LE (outside, 1e-5 * inside + 2e-7) << c.sr << " band " << band;
            cqt::visit (store, band, band + 1, at, at + 1,
                        [&] (int, std::int64_t, std::complex<float>& coef) { coef = saved; });
        }
    }
}

TEST (CqtConcurrency, AnalyzersOnManyThreadsAgree)
{
    const auto x = noise (20000, 17);
    std::vector<std::vector<float>> out (4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < out.size(); ++i)
        threads.emplace_back ([&, i] { out[i] = roundTrip (cqt::Analyzer (params (44100.0, 0.85)), x); });
    for (auto& t : threads)
        t.join();
    for (const auto& y : out)
        EXPECT_EQ (y, out[0]);
}

TEST (CqtAnalysis, BlocksJoinSeamlesslyOnEveryLevel)
{
    // A scale from 1.5 kHz has few levels, so a short signal spans several
    // blocks of each, the lowest band's included.
    const double sr = 48000;
    auto p = params (sr);
    p.scale.minFreq = 1500.0 / sr;
    const cqt::Analyzer an (p);
    const std::size_t n = 300000;
    for (const int band : { 20, 60, an.bandCount() / 2, an.bandCount() - 1 })
    {
        const auto x = sine (n, an.bandCentre (band), 0.5);
        cqt::CoefStore store (an);
        an.analyze (x, store);
        // Away from the ends, where the atoms reach past the signal.
        const auto edge = static_cast<std::int64_t> (an.bandSupport (band));
        double lo = 1e9, hi = 0.0;
        cqt::visit (store, band, band + 1, edge, static_cast<std::int64_t> (n) - edge,
                    [&] (int, std::int64_t, const std::complex<float>& c) {
            lo = std::min (lo, static_cast<double> (std::abs (c)));
            hi = std::max (hi, static_cast<double> (std::abs (c)));
        });
        EXPECT_NEAR (lo, 0.5, 5e-4) << band;
        EXPECT_NEAR (hi, 0.5, 5e-4) << band;
    }
    const auto x = noise (n, 21);
    const auto y = roundTrip (an, x);
    EXPECT_LT (maxDiff (x.data(), y.data(), n), 1e-5);
}

TEST (CqtWorkspace, ReusedStoresAndWorkspacesGiveWhatFreshOnesGive)
{
    const cqt::Analyzer a (params (48000, 0.7)), b (params (48000, 0.85));
    cqt::Workspace work;
    cqt::CoefStore storeA (a), storeB (b);
    std::size_t held = 0; // after the previous call
    struct Call
    {
        const cqt::Analyzer* an;
        cqt::CoefStore* store;
        std::size_t length;
    };
    // Longer and shorter signals and two scales through one workspace.
    for (const Call c : { Call { &a, &storeA, 200000 }, Call { &a, &storeA, 30000 }, Call { &b, &storeB, 50000 },
                          Call { &a, &storeA, 120000 }, Call { &a, &storeA, 150 } })
    {
        const auto x = noise (c.length, static_cast<unsigned> (c.length));
        c.an->analyze (x, *c.store, work);
        cqt::CoefStore fresh (*c.an);
        c.an->analyze (x, fresh);
        ASSERT_TRUE (c.store->sameLayout (fresh)) << c.length;
        for (int band = 0; band < fresh.bands(); ++band)
        {
            const auto r = c.store->band (band), f = fresh.band (band);
            ASSERT_TRUE (std::equal (r.begin(), r.end(), f.begin(), f.end())) << c.length << " band " << band;
        }
        std::vector<float> reused (c.length + 3000), alone (c.length + 3000);
        c.an->synthesize (*c.store, -1500, reused, work);
        c.an->synthesize (fresh, -1500, alone);
        EXPECT_EQ (reused, alone) << c.length;
        // The scratch space depends on the scales only, not on the lengths.
        if (held != 0 && c.length == 30000)
            EXPECT_EQ (work.bytes(), held);
        held = work.bytes();
    }
    EXPECT_LT (held, std::size_t { 4 } << 20);
}

namespace
{
// Checks that part holds exactly the coefficients of whole at the parts' band
// times, bit for bit; returns how many it holds.
std::size_t expectPartsOfWhole (const cqt::CoefStore& part, const cqt::CoefStore& whole,
                                const std::vector<cqt::TimeSpan>& parts)
{
    std::size_t held = 0, wrong = 0;
    std::string first;
    for (int band = 0; band < part.bands(); ++band)
    {
        const auto span = parts[(std::size_t) band];
        cqt::visit (part, band, band + 1, INT64_MIN / 4, INT64_MAX / 4,
                    [&] (int b, std::int64_t t, const std::complex<float>& c) {
            const bool inside = t >= span.begin && t < span.end;
            if (! inside || c != whole.band (b)[(std::size_t) ((t >> whole.timeShift (b)) - whole.firstIndex (b))])
                if (wrong++ == 0)
                    first = "band " + std::to_string (b) + " time " + std::to_string (t);
            ++held;
        });
    }
    EXPECT_EQ (wrong, 0u) << "first at " << first;
    // Every coefficient of the parts that the whole analysis holds.
    std::size_t expected = 0;
    for (int band = 0; band < whole.bands(); ++band)
        cqt::visit (whole, band, band + 1, parts[(std::size_t) band].begin, parts[(std::size_t) band].end,
                    [&] (int, std::int64_t, const std::complex<float>&) { ++expected; });
    EXPECT_EQ (held, expected);
    return held;
}
} // namespace

TEST (CqtRegions, PartsHoldWhatTheWholeAnalysisHolds)
{
    const cqt::Analyzer an (params (48000, 0.7));
    const std::size_t n = 20 * 48000;
    const auto x = noise (n, 23);
    cqt::CoefStore whole (an);
    an.analyze (x, whole);
    std::vector<cqt::TimeSpan> parts ((std::size_t) an.lowpassBand() + 1);
    parts[0] = { 1000, 5000 };
    parts[100] = { -4000, 300 };
    parts[276] = { 470000, 480000 };
    parts[450] = { 900000, 1000000 }; // past the end
    parts[490] = { 400000, 400001 };
    parts[(std::size_t) an.lowpassBand()] = { 0, 48000 };
    cqt::Workspace work;
    cqt::CoefStore part (an);
    an.analyze (x, parts, part, work);
    EXPECT_GT (expectPartsOfWhole (part, whole, parts), 100u);
    EXPECT_FALSE (part.sameLayout (whole));

    // Given only the samples it reads, the parts come out bit for bit the same.
    const auto input = an.analysisInput ((std::int64_t) n, parts);
    ASSERT_LT (input.begin, input.end);
    const std::span<const float> window (x.data() + input.begin, (std::size_t) (input.end - input.begin));
    cqt::CoefStore fromWindow (an);
    an.analyze (window, input.begin, (std::int64_t) n, parts, fromWindow, work);
    ASSERT_TRUE (fromWindow.sameLayout (part));
    for (int band = 0; band < part.bands(); ++band)
    {
        const auto a = part.band (band), b = fromWindow.band (band);
        ASSERT_TRUE (std::equal (a.begin(), a.end(), b.begin(), b.end())) << "band " << band;
    }
    EXPECT_THROW (an.analyze (window.subspan (1), input.begin + 1, (std::int64_t) n, parts, fromWindow, work),
                  cqt::Error);
    // A short part high in the scale reads a second or two, not the sound.
    std::vector<cqt::TimeSpan> one ((std::size_t) an.lowpassBand() + 1);
    one[0] = { 480000, 487200 };
    const auto few = an.analysisInput ((std::int64_t) n, one);
    EXPECT_LE (few.begin, 480000);
    EXPECT_GE (few.end, 487200);
    EXPECT_LT (few.end - few.begin, 2 * 48000);
}

// Parts far apart in time on every octave: each level's blocks for its own
// bands lie far from those the levels below it need.
TEST (CqtRegions, RandomPartsFarApartHoldWhatTheWholeAnalysisHolds)
{
    std::mt19937 rng (5);
    struct Rate
    {
        double sr, overlap;
        std::vector<double> seconds;
    };
    const Rate rates[] = { { 48000.0, 0.7, { 0.01, 6.0, 40.0, 150.0 } },
                           { 44100.0, 0.85, { 0.01, 6.0, 40.0, 150.0 } },
                           { 8000.0, 0.7, { 0.04, 250.0 } },
                           { 192000.0, 0.7, { 0.002, 10.0 } } };
    for (const auto& [sr, overlap, lengths] : rates)
    {
        const cqt::Analyzer an (params (sr, overlap));
        const int bands = an.lowpassBand() + 1;
        for (const double seconds : lengths)
        {
            const auto n = (std::int64_t) (seconds * sr);
            const auto x = noise ((std::size_t) n, (unsigned) n);
            cqt::Workspace work;
            cqt::CoefStore whole (an), part (an);
            an.analyze (x, whole, work);
            std::uniform_real_distribution<double> at (-0.05, 1.05), lengthLog (0.0, 12.0);
            for (int trial = 0; trial < 6; ++trial)
            {
                // One span in a random band of every octave, and one on a run of bands.
                std::vector<cqt::TimeSpan> parts ((std::size_t) bands);
                auto span = [&] {
                    const auto t = (std::int64_t) (at (rng) * (double) n);
                    return cqt::TimeSpan { t, t + (std::int64_t) std::exp (lengthLog (rng)) };
                };
                for (int octave = 0; octave * 48 < bands; ++octave)
                    parts[(std::size_t) std::min (bands - 1, octave * 48 + (int) (rng() % 48))] = span();
                const int first = (int) (rng() % (unsigned) bands);
                const auto run = span();
                for (int b = first; b < std::min (bands, first + 40); ++b)
                    parts[(std::size_t) b] = run;
                SCOPED_TRACE (testing::Message() << sr << " Hz, " << seconds << " s, trial " << trial);
                const auto input = an.analysisInput (n, parts);
                const auto begin = std::max<std::int64_t> (0, std::min (input.begin, n));
                const std::span<const float> window (x.data() + begin,
                                                     (std::size_t) std::max<std::int64_t> (0, input.end - begin));
                an.analyze (window, begin, n, parts, part, work);
                expectPartsOfWhole (part, whole, parts);
            }
        }
    }
}
