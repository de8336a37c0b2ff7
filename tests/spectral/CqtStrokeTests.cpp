// The laser and region-gain strokes through the exports.
#include "SpectralTestSupport.h"
#include "TestNoise.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/cqt/CqtCoefficientStroke.h"
#include "spectral/cqt/CqtStrokes.h"
#include "spectral/cqt/SpectralCqt.h"

#include <quorvalen_dsp.h>

#include <set>

using namespace qvtest;
using namespace std::chrono_literals;

namespace
{
constexpr std::uint32_t laser = 1, reducer = 2, harmonik = 3;

class CqtStroke : public SpectralFixture
{
protected:
    // 1 s at 48 kHz: a 0.3 sine at 1 kHz.
    static juce::AudioBuffer<float> tone() { return sine (1000.0, 48000.0, 48000, 0.3f); }

    void SetUp() override
    {
        SpectralFixture::SetUp();
        source = cache (tone(), 48000.0);
        s = open (source);
        ASSERT_GT (s.session, 0);
    }
    // y of the band nearest 1 kHz, read from the band table a first stroke filled.
    float yOfOneKilohertz()
    {
        EXPECT_EQ (stroke (s.session, { { 0.5f, 0.5f, 0.01f, 0.0f, 0.0f } }, laser), (int) s.live);
        const auto& hz = session (s.session).bandHz;
        std::size_t best = 0;
        for (std::size_t b = 0; b < hz.size(); ++b)
            if (std::abs (hz[b] - 1000.0f) < std::abs (hz[best] - 1000.0f))
                best = b;
        return (float) best / (float) (hz.size() - 1);
    }
    int source = 0;
    Opened s;
};

float rmsOf (const juce::AudioBuffer<float>& b, int from, int to)
{
    return rms (b.getReadPointer (0) + from, to - from);
}
} // namespace

TEST_F (CqtStroke, LaserSpreadsOneThreeOrFiveBandsByHeight)
{
    auto bandsOf = [&] (float y) {
        StdoutCapture out;
        EXPECT_EQ (stroke (s.session, { { 0.5f, y, 0.01f, 0.0f, 1.0f } }, laser), (int) s.live);
        EXPECT_NE (out.finish().find ("[QUORVALEN CQT LASER 1.4.3] session " + std::to_string (s.session)
                                      + " stroke applied (1 points, snapped band "),
                   std::string::npos);
        const auto& record = session (s.session).undoStack.back();
        EXPECT_EQ (record.wholeSignal, 0);
        std::set<int> bands;
        for (const auto& r : record.laser)
            bands.insert (r.band);
        return std::pair { record.laser.size(), bands.size() };
    };
    EXPECT_EQ (bandsOf (0.5f), (std::pair<std::size_t, std::size_t> { 1, 1 }));
    EXPECT_EQ (bandsOf (0.7f), (std::pair<std::size_t, std::size_t> { 3, 3 }));
    EXPECT_EQ (bandsOf (0.9f), (std::pair<std::size_t, std::size_t> { 5, 5 }));
    // At the lowest band the spread clamps: five records on three distinct bands.
    EXPECT_EQ (bandsOf (1.0f), (std::pair<std::size_t, std::size_t> { 5, 3 }));

    const auto& weights = session (s.session).undoStack[2].laser;
    EXPECT_FLOAT_EQ (weights[0].strength, 0.65f);
    EXPECT_FLOAT_EQ (weights[1].strength, 0.88f);
    EXPECT_FLOAT_EQ (weights[2].strength, 1.0f);
}

TEST_F (CqtStroke, PressureZeroChangesNothing)
{
    const juce::AudioBuffer<float> before (audio (s.live));
    StdoutCapture out;
    EXPECT_EQ (stroke (s.session, { { 0.5f, 0.45f, 0.5f, 0.0f, 0.0f } }, laser), (int) s.live);
    EXPECT_EQ (out.finish(), "");
    EXPECT_EQ (maxAbsDifference (audio (s.live), before), 0.0f);
    EXPECT_TRUE (session (s.session).undoStack.empty());
}

TEST_F (CqtStroke, LaserAttenuatesItsBandAndWritesOnlyTheReachedRange)
{
    const float y = yOfOneKilohertz();
    const juce::AudioBuffer<float> before (audio (s.live));
    ASSERT_EQ (stroke (s.session, { { 0.5f, y, 0.05f, 0.0f, 1.0f } }, laser), (int) s.live);
    const auto& record = session (s.session).undoStack.back();
    EXPECT_GT (record.start, 0);
    EXPECT_LT (record.end, 48000);
    EXPECT_EQ (record.channels, 2);
    const auto& live = audio (s.live);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 48000; ++i)
            if (i < record.start || i >= record.end)
                ASSERT_EQ (live.getSample (c, i), before.getSample (c, i)) << c << " " << i;
    // Mid-stroke the tone loses the share its own band carries.
    EXPECT_LT (rmsOf (live, 23000, 25000), 0.85f * rmsOf (before, 23000, 25000));
    EXPECT_GT (rmsOf (live, 23000, 25000), 0.1f * rmsOf (before, 23000, 25000));
    // Kept for the next stroke.
    EXPECT_NE (session (s.session).analyzer, nullptr);

    ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
    EXPECT_LT (maxAbsDifference (audio (s.live), before), 1e-6f);
    ASSERT_EQ (quorvalen_engine_redo_cqt_spectral_session (s.session), (int) s.live);
    EXPECT_EQ (session (s.session).undoStack.back().laser.size(), 1u);
}

TEST_F (CqtStroke, OverlappingReducerBoxesApplyOnceInAnyOrder)
{
    const StrokePoint a { 0.4f, 0.45f, 0.15f, 0.05f, 0.0f }, b { 0.55f, 0.47f, 0.1f, 0.08f, 0.0f };
    auto run = [&] (const std::vector<StrokePoint>& points, int strokes = 1) {
        const auto o = open (source);
        StdoutCapture out;
        for (int i = 0; i < strokes; ++i)
            EXPECT_EQ (stroke (o.session, points, reducer), (int) o.live);
        const auto log = out.finish();
        EXPECT_NE (log.find ("[QUORVALEN CQT REGION GAIN 1.6.1] session " + std::to_string (o.session)
                             + " REDUCER applied (" + std::to_string (points.size())
                             + " box(es), coefficient gain 0.700)\n"),
                   std::string::npos);
        EXPECT_EQ (session (o.session).undoStack.back().wholeSignal, 0);
        EXPECT_TRUE (session (o.session).undoStack.back().laser.empty());
        return juce::AudioBuffer<float> (audio (o.live));
    };
    const auto ab = run ({ a, b });
    EXPECT_EQ (maxAbsDifference (run ({ b, a }), ab), 0.0f);
    EXPECT_EQ (maxAbsDifference (run ({ a, b, a, b, a }), ab), 0.0f);
    EXPECT_GT (maxAbsDifference (ab, tone()), 0.01f);
    // A second stroke scales again.
    EXPECT_GT (maxAbsDifference (run ({ a }, 2), run ({ a })), 0.005f);
}

TEST_F (CqtStroke, HarmonikKeepsRewrittenSamplesInsideTheCeiling)
{
    const int loud = cache (sine (1000.0, 48000.0, 48000, 0.95f), 48000.0);
    const auto o = open (loud);
    const juce::AudioBuffer<float> before (audio (o.live));
    StdoutCapture out;
    ASSERT_EQ (stroke (o.session, { { 0.5f, 0.5f, 0.2f, 0.5f, 0.0f } }, harmonik), (int) o.live);
    EXPECT_NE (out.finish().find (" HARMONIK applied (1 box(es), coefficient gain 1.300)"), std::string::npos);
    const auto& record = session (o.session).undoStack.back();
    const auto& live = audio (o.live);
    float peak = 0.0f;
    for (int c = 0; c < 2; ++c)
        for (auto i = record.start; i < record.end; ++i)
            peak = std::max (peak, std::abs (live.getSample (c, (int) i)));
    EXPECT_LE (peak, 0.999f);
    EXPECT_GT (peak, 0.99f);
    ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (o.session), (int) o.live);
    EXPECT_LT (maxAbsDifference (audio (o.live), before), 1e-6f);
}

TEST_F (CqtStroke, AStrokeOnThePlayingLiveCopyResumesInPlace)
{
    const int ramp = cache (positionRamp(), 48000.0);
    const auto o = open (ramp);
    ASSERT_EQ (quorvalen_engine_play_cached (o.live, 0.0f, 100.0f), 0);
    int result = 0;
    const auto out = record (
        300ms,
        [&] {
        result = stroke (o.session, { { 0.5f, 0.3f, 0.025f, 0.05f, 0.0f } }, reducer);
        },
        300ms);
    EXPECT_EQ (result, (int) o.live);
    const float skipped = rampSecondsSkipped (out.left);
    EXPECT_TRUE (std::isfinite (skipped));
    EXPECT_LT (std::abs (skipped), 0.05f);
}

TEST_F (CqtStroke, RefusalsChangeNothingAndKeepNoConstantQData)
{
    const std::vector<StrokePoint> box { { 0.5f, 0.5f, 0.5f, 0.5f, 1.0f } };
    // At 30 Hz no constant-Q band fits below the Nyquist frequency.
    const auto slow = quorvalen::insertCacheEntry (
        quorvalen::engine(), { std::make_unique<juce::AudioBuffer<float>> (sine (1.0, 30.0, 300)), 30.0, "slow" });
    const auto o = open ((int) slow);
    ASSERT_GT (o.session, 0);
    const juce::AudioBuffer<float> before (audio (o.live));
    for (auto tool : { laser, reducer, harmonik })
    {
        StdoutCapture out;
        EXPECT_EQ (stroke (o.session, box, tool), -5);
        EXPECT_EQ (out.finish(), "");
        EXPECT_EQ (session (o.session).analyzer, nullptr);
    }
    EXPECT_EQ (maxAbsDifference (audio (o.live), before), 0.0f);
    EXPECT_TRUE (session (o.session).undoStack.empty());

    // A one-sample sound still takes every stroke.
    const auto tiny = open (cache (sine (100.0, 48000.0, 1, 0.5f), 48000.0));
    for (auto tool : { laser, reducer, harmonik })
        EXPECT_EQ (stroke (tiny.session, box, tool), (int) tiny.live);

    // The live copy unloaded by the host: -4 for every constant-Q tool.
    ASSERT_EQ (quorvalen_engine_unload_cached ((int32_t) s.live), 0);
    for (auto tool : { laser, reducer, harmonik })
        EXPECT_EQ (stroke (s.session, box, tool), -4);
    EXPECT_EQ (session (s.session).analyzer, nullptr);
    EXPECT_TRUE (session (s.session).coefficients.empty());
}

namespace
{
// The coefficient laws as stated per coefficient, scanning every hit or box: the
// reference the per-band time spans must reproduce exactly.
struct NaiveHit
{
    float t, size, strength;
    std::int64_t index;
};

float clampTo (float v, float low, float high)
{
    return v < low ? low : std::min (v, high);
}

std::vector<std::vector<NaiveHit>> naiveHits (const quorvalen::SpectralSession& s, const std::vector<float>& p)
{
    const int nb = std::max (1, s.cqtBandCount);
    std::vector<std::vector<NaiveHit>> hits ((std::size_t) nb);
    for (std::size_t i = 0; i < p.size(); i += 5)
    {
        const float t = clampTo (p[i], 0, 1), y = clampTo (p[i + 1], 0, 1), size = clampTo (p[i + 2], 0.0005f, 1);
        const float pressure = clampTo (p[i + 4], 0, 1);
        const int centre = std::clamp ((int) std::lroundf ((float) (nb - 1) * y), 0, nb - 1);
        const int spread = y >= 0.82f ? 2 : y >= 0.66f ? 1 : 0;
        for (int o = -spread; o <= spread; ++o)
        {
            const int band = std::clamp (centre + o, 0, nb - 1);
            const int shift = s.bandTimeShift[(std::size_t) band];
            const auto index = (std::int64_t) std::round (std::ldexp ((double) t * (double) (s.numSamples - 1), -shift))
                << shift;
            hits[(std::size_t) band].push_back ({ t, size, pressure * 0.95f, index });
        }
    }
    return hits;
}

float planFactor (const std::vector<quorvalen::CoefSpan>& spans, std::int64_t tau)
{
    for (const auto& span : spans)
        if (tau >= span.first && tau <= span.last)
            return span.factor;
    return 1.0f;
}

quorvalen::SpectralSession bandPlanSession (std::int32_t numSamples)
{
    quorvalen::SpectralSession s;
    s.numSamples = numSamples;
    s.sampleRate = 48000.0;
    quorvalen::prepareSessionCqt (s);
    quorvalen::releaseSessionCqt (s);
    return s;
}

std::vector<float> randomPoints (int count, unsigned seed)
{
    NoiseStream noise (seed);
    const auto unit = [&] { return noise.between (-0.1f, 1.1f); };
    const auto small = [&] { return noise.between (0.0f, 0.03f); };
    std::vector<float> p;
    for (int i = 0; i < count; ++i)
        p.insert (p.end(), { unit(), unit(), i % 3 == 0 ? 0.0f : small(), small() * 5.0f, i % 4 == 0 ? 0.0f : unit() });
    return p;
}
} // namespace

TEST (CqtStrokePlan, LaserSpansMatchTheStrongestReachingHitOfEveryCoefficient)
{
    const auto s = bandPlanSession (100003);
    const auto points = randomPoints (300, 11);
    int firstBand = -1;
    const auto plan = quorvalen::laserStrokePlan (s, points.data(), (std::int32_t) points.size() / 5, firstBand);
    const auto hits = naiveHits (s, points);
    EXPECT_EQ (firstBand,
               std::clamp ((int) std::lroundf ((float) (s.cqtBandCount - 1) * clampTo (points[1], 0, 1)), 0,
                           s.cqtBandCount - 1));
    long reached = 0;
    for (int b = 0; b < s.cqtBandCount; ++b)
        for (std::int64_t tau = 0; tau < s.numSamples; tau += std::int64_t { 1 } << s.bandTimeShift[(std::size_t) b])
        {
            float strongest = 0.0f;
            const float tf = quorvalen::fileFraction (tau, s.numSamples);
            for (const auto& h : hits[(std::size_t) b])
                if (tau == h.index || std::abs (tf - h.t) <= h.size)
                    strongest = std::max (strongest, h.strength);
            const float expected = strongest > 0.0f ? 1.0f - strongest : 1.0f;
            ASSERT_EQ (planFactor (plan.bands[(std::size_t) b], tau), expected) << "band " << b << " time " << tau;
            reached += strongest > 0.0f;
        }
    EXPECT_GT (reached, 1000);
}

TEST (CqtStrokePlan, RegionSpansMatchTheFirstBoxHoldingEveryCoefficient)
{
    const auto s = bandPlanSession (30011);
    const auto points = randomPoints (60, 5);
    const auto plan = quorvalen::regionGainPlan (s, points.data(), (std::int32_t) points.size() / 5, 0.7f);
    const int nb = s.cqtBandCount;
    long inside = 0;
    for (int b = 0; b < nb; ++b)
        for (std::int64_t tau = 0; tau < s.numSamples; tau += std::int64_t { 1 } << s.bandTimeShift[(std::size_t) b])
        {
            const float tf = quorvalen::fileFraction (tau, s.numSamples);
            float expected = 1.0f;
            for (std::size_t i = 0; i < points.size(); i += 5)
            {
                const float x = clampTo (points[i], 0, 1), y = clampTo (points[i + 1], 0, 1);
                const float w = clampTo (points[i + 2], 0.0005f, 1), h = clampTo (points[i + 3], 0.0005f, 1);
                const float t0 = std::clamp (x - w, 0.0f, 1.0f), t1 = std::clamp (x + w, 0.0f, 1.0f);
                const int band0 =
                    std::clamp ((int) std::floor ((float) (nb - 1) * std::clamp (y - h, 0.0f, 1.0f)), 0, nb - 1);
                const int band1 = std::max (
                    band0, std::min ((int) std::ceil ((float) (nb - 1) * std::clamp (y + h, 0.0f, 1.0f)), nb - 1));
                if (band0 <= b && b <= band1 && t0 <= tf && tf <= t1)
                {
                    expected = 0.7f;
                    break;
                }
            }
            ASSERT_EQ (planFactor (plan.bands[(std::size_t) b], tau), expected) << "band " << b << " time " << tau;
            inside += expected != 1.0f;
        }
    EXPECT_GT (inside, 1000);
}

namespace
{
// The whole-file road the strokes once took: analyse every coefficient of the
// channel, scale the planned ones, resynthesise [start, end) and clip.
std::vector<float> wholeFileRoad (const quorvalen::SpectralSession& s, const juce::AudioBuffer<float>& before, int c,
                                  const quorvalen::CqtStrokePlan& plan, std::int64_t start, std::int64_t end)
{
    const quorvalen::cqt::Analyzer an (quorvalen::spectralCqtParams (s.sampleRate));
    quorvalen::cqt::CoefStore store (an);
    an.analyze ({ before.getReadPointer (c), (std::size_t) before.getNumSamples() }, store);
    for (int b = 0; b < s.cqtBandCount; ++b)
        for (const auto& span : plan.bands[(std::size_t) b])
            quorvalen::cqt::visit (store, b, b + 1, std::max<std::int64_t> (span.first, 0),
                                   std::min<std::int64_t> (span.last + 1, s.numSamples),
                                   [&] (int, std::int64_t, std::complex<float>& v) { v *= span.factor; });
    std::vector<float> out ((std::size_t) (end - start));
    an.synthesize (store, start, out);
    for (auto& v : out)
        v = std::clamp (v, -0.999f, 0.999f);
    return out;
}
} // namespace

TEST_F (CqtStroke, StrokesAnalysingOnlyWhatTheyEditGiveTheWholeFileResult)
{
    // 8 s of two different channels at about -6 dBFS.
    juce::AudioBuffer<float> sound (2, 8 * 48000);
    NoiseStream noise (31);
    for (int i = 0; i < sound.getNumSamples(); ++i)
    {
        const double t = i / 48000.0;
        sound.setSample (0, i, (float) (0.25 * std::sin (2 * M_PI * 220.0 * t) + 0.2 * noise.between (-1.0f, 1.0f)));
        sound.setSample (1, i, (float) (0.3 * std::sin (2 * M_PI * 3100.0 * t) + 0.15 * noise.between (-1.0f, 1.0f)));
    }
    const auto o = open (cache (sound, 48000.0));
    struct Case
    {
        std::vector<StrokePoint> points;
        std::uint32_t tool;
    };
    const Case cases[] = { { { { 0.4f, 0.3f, 0.02f, 0.0f, 1.0f } }, laser },
                           { { { 0.7f, 0.9f, 0.01f, 0.0f, 0.8f }, { 0.1f, 0.5f, 0.03f, 0.0f, 0.5f } }, laser },
                           { { { 0.5f, 0.45f, 0.05f, 0.1f, 0.0f }, { 0.2f, 0.98f, 0.02f, 0.02f, 0.0f } }, reducer },
                           { { { 0.6f, 0.2f, 0.03f, 0.05f, 0.0f } }, harmonik } };
    float worst = 0.0f;
    for (const auto& c : cases)
    {
        const juce::AudioBuffer<float> before (audio (o.live));
        ASSERT_EQ (stroke (o.session, c.points, c.tool), (int) o.live);
        const auto& s = session (o.session);
        const auto& record = s.undoStack.back();
        std::vector<float> flat;
        for (const auto& p : c.points)
            flat.insert (flat.end(), { p.p0, p.p1, p.p2, p.p3, p.p4 });
        int firstBand = 0;
        const auto plan = c.tool == laser
            ? quorvalen::laserStrokePlan (s, flat.data(), (std::int32_t) c.points.size(), firstBand)
            : quorvalen::regionGainPlan (s, flat.data(), (std::int32_t) c.points.size(),
                                         c.tool == reducer ? 0.7f : 1.3f);
        const auto& live = audio (o.live);
        for (int ch = 0; ch < 2; ++ch)
        {
            const auto want = wholeFileRoad (s, before, ch, plan, record.start, record.end);
            for (std::int64_t i = record.start; i < record.end; ++i)
                worst =
                    std::max (worst, std::abs (live.getSample (ch, (int) i) - want[(std::size_t) (i - record.start)]));
        }
    }
    // Within one step of a 24-bit sample: what separates the two roads is the
    // transform's own rounding, which grows with the level (1.8e-7 near full scale).
    EXPECT_LE (worst, 1.0f / 8388608.0f);
}

namespace
{
// Seconds of 48 kHz stereo: 220 Hz and 3 kHz with a little noise.
juce::AudioBuffer<float> twoTones (double seconds)
{
    juce::AudioBuffer<float> sound (2, (int) (seconds * 48000.0));
    NoiseStream noise (7);
    for (int i = 0; i < sound.getNumSamples(); ++i)
    {
        const double t = i / 48000.0;
        const auto v = (float) (0.3 * std::sin (2 * M_PI * 220.0 * t) + 0.2 * std::sin (2 * M_PI * 3000.0 * t));
        sound.setSample (0, i, v + 0.01f * noise.next());
        sound.setSample (1, i, v + 0.01f * noise.next());
    }
    return sound;
}
} // namespace

// Boxes far apart in time and frequency: the bands of one need the levels above
// them far from where the other's bands are analysed.
TEST_F (CqtStroke, BoxesFarApartGiveWhatTheyGiveOneAfterTheOther)
{
    struct Case
    {
        double seconds;
        StrokePoint a, b;
    };
    const Case cases[] = { { 40.0, { 0.3f, 0.1f, 0.05f, 0.06f, 1.0f }, { 0.6f, 0.6f, 0.01f, 0.01f, 1.0f } },
                           { 6.0,
                             { 0.16144f, 0.25831f, 0.039551f, 0.058027f, 1.0f },
                             { 0.91129f, 0.41803f, 0.024205f, 0.075605f, 1.0f } } };
    for (const auto& c : cases)
    {
        const int source = cache (twoTones (c.seconds));
        const auto together = open (source), apart = open (source);
        for (const std::uint32_t tool : { laser, reducer, harmonik })
        {
            SCOPED_TRACE (testing::Message() << c.seconds << " s, tool " << tool);
            ASSERT_EQ (stroke (together.session, { c.a, c.b }, tool), (int) together.live);
            ASSERT_EQ (stroke (apart.session, { c.a }, tool), (int) apart.live);
            ASSERT_EQ (stroke (apart.session, { c.b }, tool), (int) apart.live);
            EXPECT_LE (maxAbsDifference (audio (together.live), audio (apart.live)), 1.0f / 8388608.0f);
            EXPECT_GT (maxAbsDifference (audio (together.live), audio ((std::uint32_t) source)), 1e-4f);
            for (const int undo : { together.session, apart.session, apart.session })
                ASSERT_GT (quorvalen_engine_undo_cqt_spectral_session (undo), 0);
        }
    }
}

TEST_F (CqtStroke, RandomBoxesOnALongSoundAreAllCarriedOut)
{
    const auto o = open (cache (twoTones (40.0)));
    NoiseStream draw (11);
    auto unit = [&] { return draw.between (0.0f, 1.0f); };
    for (int i = 0; i < 12; ++i)
    {
        std::vector<StrokePoint> points (4);
        for (auto& p : points)
            p = { unit(), unit(), 0.001f + 0.05f * unit(), 0.001f + 0.08f * unit(), 0.2f + 0.8f * unit() };
        const std::uint32_t tool = 1 + (std::uint32_t) i % 3;
        ASSERT_EQ (stroke (o.session, points, tool), (int) o.live) << "stroke " << i << ", tool " << tool;
    }
    EXPECT_EQ (session (o.session).undoStack.size(), 12u);
}
