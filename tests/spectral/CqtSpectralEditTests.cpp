// Offline constant-Q spectral edit through the exported interface: result codes,
// the identity at strength 0, a soft cut that removes a tone, mode clamping, the
// edges and the peak limit, non-finite brushes, and a clear or shutdown that lands
// while the render runs unlocked.
#include "EngineTestSupport.h"
#include "HeadlessEngineFixture.h"
#include "MemoryCap.h"
#include "TestAudio.h"

#include "spectral/cqt/CqtSettings.h"
#include "spectral/render/CqtSpectralEdit.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <array>
#include <chrono>
#include <cmath>
#include <complex>
#include <limits>
#include <thread>
#include <vector>

using namespace qvtest;

namespace
{
constexpr double rate = 48000.0;

struct Edit
{
    std::vector<float> points;
    std::vector<uint32_t> modes;
    void add (float t, float band, float tr, float br, float strength, uint32_t mode)
    {
        points.insert (points.end(), { t, band, tr, br, strength });
        modes.push_back (mode);
    }
    int apply (int id) const
    {
        return quorvalen_engine_create_cqt_spectral_edit (id, points.data(), modes.data(), (int32_t) modes.size());
    }
};

// Two tones, different per channel, so the channels are told apart.
juce::AudioBuffer<float> tones (int samples, float amplitude = 0.4f)
{
    juce::AudioBuffer<float> b (2, samples);
    for (int i = 0; i < samples; ++i)
    {
        const double t = i / rate;
        b.setSample (0, i, (float) (amplitude * std::sin (2 * M_PI * 1000 * t)));
        b.setSample (1, i, (float) (amplitude * 0.5 * std::sin (2 * M_PI * 330 * t + 0.3)));
    }
    return b;
}

float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    float d = 0.0f;
    for (int ch = 0; ch < a.getNumChannels(); ++ch)
        for (int i = 0; i < a.getNumSamples(); ++i)
            d = std::max (d, std::abs (a.getSample (ch, i) - b.getSample (ch, i)));
    return d;
}

using CqtSpectralEdit = HeadlessEngineTest;
using quorvalen::spectral::BrushRecord;

// The mask as it was applied: every coefficient tests every brush of its time
// slice, with a power, a root or an exponential per brush that reaches it.
class ReferenceMask
{
public:
    ReferenceMask (std::vector<BrushRecord> list, int bandCount)
            : brushes (std::move (list)), bands (bandCount), normCount (std::max (1, bandCount))
    {
        for (std::size_t i = 0; i < brushes.size(); ++i)
        {
            const auto& r = brushes[i];
            const int first = std::clamp ((int) std::floor ((r.centreTime - r.timeRadius) * 512.0f), 0, 511);
            const int last = std::clamp ((int) std::ceil ((r.centreTime + r.timeRadius) * 512.0f), 0, 511);
            for (int k = first; k <= last; ++k)
                index[(std::size_t) k].push_back ((int) i);
        }
    }

    std::complex<float> apply (int b, std::int64_t t, std::int64_t n, std::complex<float> c) const
    {
        if (b < 0 || b >= bands || t < 0 || t >= n)
            return c;
        const float tn = n > 1 ? (float) ((double) t / (double) (n - 1)) : 0.0f;
        const float bn = normCount > 1 ? (float) b / (float) (normCount - 1) : 0.0f;
        float a0 = 0, a1 = 0, a2 = 0, ringK = 0, ringR = 0, harm = 0;
        for (const int i : index[(std::size_t) std::clamp ((int) (512.0f * tn), 0, 511)])
        {
            const auto& r = brushes[(std::size_t) i];
            const float dt = (tn - r.centreTime) / r.timeRadius;
            if (r.mode == 3)
            {
                if (std::abs (dt) > 1.0f)
                    continue;
                const float centre = (float) (normCount - 1) * r.centreBand;
                const float rb = std::max (1.5f, (float) normCount * r.bandRadius);
                const float ratios[] = { 2.0f, 3.0f, 4.0f, 5.0f }, weights[] = { 0.70f, 0.42f, 0.27f, 0.16f };
                for (int k = 0; k < 4; ++k)
                {
                    const float db = ((float) b - (centre - std::log2 (ratios[k]) * 48.0f)) / rb;
                    const float d2 = db * db + dt * dt;
                    if (d2 < 1.0f)
                        harm = std::max (harm, std::pow (1.0f - d2, 1.6f) * weights[k] * r.strength);
                }
                continue;
            }
            const float rb = std::max ((r.mode == 1 ? 0.5f : 1.5f) / (float) normCount, r.bandRadius);
            const float db = (bn - r.centreBand) / rb;
            const float d2 = db * db + dt * dt;
            if (d2 >= 1.0f)
                continue;
            if (r.mode == 0)
            {
                const float s = std::clamp ((std::sqrt (d2) - 0.65f) / 0.35f, 0.0f, 1.0f);
                a0 = std::max (a0, r.strength * (1.0f - s * s * (3.0f - 2.0f * s)));
                continue;
            }
            const float v = r.strength * std::pow (1.0f - d2, 1.75f);
            if (r.mode == 1)
                a1 = std::max (a1, v);
            else if (r.mode == 2)
                a2 = std::max (a2, v);
            else
            {
                const float d = std::sqrt (d2);
                if (d < 0.42f)
                    ringK = std::max (ringK, (1.0f - d / 0.42f) * v);
                const float u = (d - 0.63f) / 0.16f;
                ringR = std::max (ringR, r.strength * std::exp (-u * u));
            }
        }
        const float g = (1.0f - 0.075f * a2) * (1.0f - a0) * (1.0f - 0.998f * a1) * (1.0f - 0.92f * ringK)
            * (1.0f + 0.52f * ringR) * (1.0f + harm);
        if (ringK > 0.0f || ringR > 0.0f)
        {
            const float angle = 0.65f * 3.14159265358979f * (ringR - 0.5f * ringK);
            c *= std::complex<float> (std::cos (angle), std::sin (angle));
        }
        if (g < 0.0f)
            return {};
        return c * std::min (g, 2.5f);
    }

private:
    std::vector<BrushRecord> brushes;
    int bands, normCount;
    std::array<std::vector<int>, 512> index;
};

// Brushes of every mode, some given twice, some over the whole sound.
std::vector<BrushRecord> brushSet()
{
    juce::Random r (11);
    std::vector<BrushRecord> brushes;
    for (int i = 0; i < 120; ++i)
        brushes.push_back ({ r.nextFloat(), r.nextFloat(), 0.0005f + 0.1f * r.nextFloat(),
                             0.0005f + 0.1f * r.nextFloat(), r.nextFloat(), i % 5 });
    brushes.push_back (brushes[7]);
    brushes.push_back ({ 0.5f, 0.5f, 1.0f, 1.0f, 0.3f, 2 });
    brushes.push_back ({ 0.5f, 0.9f, 1.0f, 0.02f, 1.0f, 3 });
    brushes.push_back ({ 0.0f, 0.0f, 0.0005f, 0.0005f, 1.0f, 4 });
    brushes.push_back ({ 1.0f, 1.0f, 0.0005f, 0.0005f, 1.0f, 1 });
    return brushes;
}
} // namespace

TEST (CqtBrushMask, MatchesTheCoefficientByCoefficientRoadWithinOneLeastBit)
{
    using namespace quorvalen;
    const int n = 24000;
    const auto input = tones (n, 0.9f);
    const cqt::Analyzer analyzer (spectralCqtParams (rate, spectral::cqtOverlapFine));
    const auto brushes = brushSet();
    const ReferenceMask reference (brushes, analyzer.bandCount());
    const spectral::CqtBrushMask mask (brushes, analyzer.bandCount());
    EXPECT_GT (mask.cells (analyzer, n), 0);

    int differing = 0, total = 0;
    float worstGain = 0.0f, worstSample = 0.0f;
    for (int ch = 0; ch < 2; ++ch)
    {
        cqt::CoefStore original (analyzer), expected (analyzer), got (analyzer);
        analyzer.analyze ({ input.getReadPointer (ch), (std::size_t) n }, original);
        expected = original;
        got = original;
        cqt::visit (expected, 0, analyzer.bandCount() + 1, 0, n,
                    [&] (int b, std::int64_t t, std::complex<float>& c) { c = reference.apply (b, t, n, c); });
        mask.apply (got, n);
        for (int b = 0; b < expected.bands(); ++b)
            for (std::size_t i = 0; i < expected.band (b).size(); ++i)
            {
                const auto e = expected.band (b)[i], g = got.band (b)[i];
                ++total;
                if (e != g)
                {
                    ++differing;
                    worstGain = std::max (worstGain, std::abs (e - g) / std::abs (original.band (b)[i]));
                }
            }
        std::vector<float> a ((std::size_t) n), b ((std::size_t) n);
        analyzer.synthesize (expected, 0, a);
        analyzer.synthesize (got, 0, b);
        for (int i = 0; i < n; ++i)
            worstSample = std::max (worstSample, std::abs (a[(std::size_t) i] - b[(std::size_t) i]));
    }
    // The falloffs are rounded once from double: a weight differs from the
    // library's float power or exponential in its last bit now and then (about
    // one coefficient in ten thousand), the gain (at most 3.8) by a few units in
    // the last place of 1.
    EXPECT_LT (differing, total / 1000);
    EXPECT_LE (worstGain, 1e-6f);
    EXPECT_LE (worstSample, 1.0f / 8388608.0f);
}

TEST_F (CqtSpectralEdit, AnEditAboveTheCellBudgetIsRefusedAtOnce)
{
    const int id = cacheAudio (tones (48000), rate);
    Edit e, same;
    for (int i = 0; i < 2000; ++i)
    {
        e.add (0.5f + 1e-6f * (float) i, 0.5f, 1.0f, 1.0f, 1.0f, (uint32_t) (i % 5));
        same.add (0.5f, 0.5f, 1.0f, 1.0f, 1.0f, (uint32_t) (i % 5));
    }
    // 2000 brushes are within the count: only the budget refuses them. (How
    // soon is for the benchmark: a loaded machine's clock decides nothing here.)
    EXPECT_EQ (e.apply (id), -2);
    // Nothing was inserted: the next entry takes the very next id.
    EXPECT_EQ (cacheAudio (tones (100), rate), id + 1);
    // The same brush given again counts once: five distinct brushes fit.
    EXPECT_GT (same.apply (id), 0);

    // Realistic drawing on a minute fits: 200 brushes with radii up to 0.12.
    using namespace quorvalen;
    const cqt::Analyzer analyzer (spectralCqtParams (rate, spectral::cqtOverlapFine));
    juce::Random r (11);
    std::vector<BrushRecord> drawn;
    for (int i = 0; i < 200; ++i)
        drawn.push_back ({ r.nextFloat(), r.nextFloat(), 0.02f + 0.1f * r.nextFloat(), 0.02f + 0.1f * r.nextFloat(),
                           r.nextFloat(), i % 5 });
    EXPECT_LE (spectral::CqtBrushMask (drawn, analyzer.bandCount()).cells (analyzer, 60 * 48000),
               spectral::maxSpectralEditCells);
}

TEST_F (CqtSpectralEdit, ResultCodesInTestOrder)
{
    const int id = cacheAudio (tones (4800), rate);
    ASSERT_GT (id, 0);
    Edit e;
    e.add (0.5f, 0.5f, 0.1f, 0.1f, 1.0f, 0);
    EXPECT_EQ (quorvalen_engine_create_cqt_spectral_edit (id, nullptr, e.modes.data(), 1), -1);
    EXPECT_EQ (quorvalen_engine_create_cqt_spectral_edit (id, e.points.data(), nullptr, 1), -1);
    EXPECT_EQ (quorvalen_engine_create_cqt_spectral_edit (id, e.points.data(), e.modes.data(), 0), -1);
    EXPECT_EQ (quorvalen_engine_create_cqt_spectral_edit (id, e.points.data(), e.modes.data(), 20001), -2);
    EXPECT_EQ (e.apply (id + 100), -4);

    quorvalen_engine_shutdown();
    EXPECT_EQ (e.apply (id), -3);
    EXPECT_EQ (quorvalen_engine_create_cqt_spectral_edit (id, nullptr, e.modes.data(), 1), -1);
}

TEST_F (CqtSpectralEdit, StrengthZeroGivesANewEntryEqualToTheSourceWithinTheResynthesisError)
{
    const auto source = tones (24000);
    const int id = cacheAudio (source, rate);
    ASSERT_GT (id, 0);
    Edit e;
    for (uint32_t mode = 0; mode <= 4; ++mode)
        e.add (0.2f * mode, 0.5f, 0.3f, 0.4f, 0.0f, mode);

    testing::internal::CaptureStdout();
    const int out = e.apply (id);
    const auto log = testing::internal::GetCapturedStdout();
    ASSERT_GT (out, id);
    EXPECT_NE (
        log.find ("[QUORVALEN CQT SPECTROGRAM 0.1.0] rendered cache " + std::to_string (out) + " from 5 edits\n"),
        std::string::npos)
        << log;

    double outRate = 0.0;
    const auto result = exportedEntry (out, &outRate);
    ASSERT_EQ (result.getNumChannels(), 2);
    ASSERT_EQ (result.getNumSamples(), source.getNumSamples());
    EXPECT_EQ (outRate, rate);
    EXPECT_LT (maxDifference (result, source), 1e-5f);
    // The source entry is untouched.
    EXPECT_LT (maxDifference (exportedEntry (id), source), 1e-6f);
}

TEST_F (CqtSpectralEdit, FullStrengthSoftCutRemovesACentredToneAwayFromTheEdges)
{
    const int n = 24000;
    const auto source = sine (1000.0, rate, n, 0.5f, 1);
    const int id = cacheAudio (source, rate);
    Edit e;
    e.add (0.5f, 0.5f, 1.0f, 1.0f, 1.0f, 0);
    const int out = e.apply (id);
    ASSERT_GT (out, 0);
    const auto result = exportedEntry (out);
    ASSERT_EQ (result.getNumSamples(), n);

    // Away from the 8 ms crossfades and the reach of the unedited outer coefficients.
    const int margin = (int) (0.05 * rate);
    const float before = rms (source.getReadPointer (0) + margin, n - 2 * margin);
    const float after = rms (result.getReadPointer (0) + margin, n - 2 * margin);
    EXPECT_LT (20.0f * std::log10 (after / before), -40.0f);
    // The ends meet the source exactly.
    EXPECT_NEAR (result.getSample (0, 0), source.getSample (0, 0), 1e-6f);
    EXPECT_NEAR (result.getSample (0, n - 1), source.getSample (0, n - 1), 1e-6f);
}

TEST_F (CqtSpectralEdit, ModesOutsideTheRangeClampAndNonFiniteFieldsTakeTheirBound)
{
    const auto source = tones (9600);
    const int id = cacheAudio (source, rate);
    const auto brush = [&] (float t, float band, float radius, float strength, uint32_t mode) {
        Edit e;
        e.add (t, band, radius, radius, strength, mode);
        return exportedEntry (e.apply (id));
    };
    const auto render = [&] (float radius, uint32_t mode, float strength = 1.0f) {
        return brush (0.5f, 0.45f, radius, strength, mode);
    };
    const auto ring = render (0.3f, 4);
    ASSERT_EQ (ring.getNumSamples(), 9600);
    // A mode is a signed 32-bit value clamped to 0..4.
    for (const uint32_t mode : { 5u, 9u, 0x7FFFFFFFu })
        EXPECT_EQ (maxDifference (render (0.3f, mode), ring), 0.0f) << mode;
    const auto softCut = render (0.3f, 0);
    for (const uint32_t mode : { 0x80000000u, 0xFFFFFFFFu })
        EXPECT_EQ (maxDifference (render (0.3f, mode), softCut), 0.0f) << mode;
    EXPECT_EQ (maxDifference (render (0.0f, 2), render (0.0005f, 2)), 0.0f);

    // A NaN takes the low bound (for the strength: no change at all), an
    // infinity the bound on its side: a brush at time +inf sits at the end.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    Edit wild;
    wild.add (nan, inf, -inf, nan, nan, 1);
    const auto result = exportedEntry (wild.apply (id));
    ASSERT_EQ (result.getNumSamples(), 9600);
    EXPECT_LT (maxDifference (result, source), 1e-5f);
    const auto atEnd = brush (1.0f, 0.45f, 0.3f, 1.0f, 0);
    EXPECT_GT (maxDifference (atEnd, source), 1e-2f);
    EXPECT_EQ (maxDifference (brush (inf, 0.45f, 0.3f, 1.0f, 0), atEnd), 0.0f);
    EXPECT_EQ (maxDifference (brush (-inf, 0.45f, 0.3f, 1.0f, 0), brush (0.0f, 0.45f, 0.3f, 1.0f, 0)), 0.0f);
    EXPECT_EQ (maxDifference (brush (0.5f, inf, inf, inf, 0), brush (0.5f, 1.0f, 1.0f, 1.0f, 0)), 0.0f);
}

TEST_F (CqtSpectralEdit, PeakAboveTheLimitIsScaledDownAndAQuieterOneIsKept)
{
    Edit e;
    e.add (0.5f, 0.5f, 0.5f, 0.5f, 0.0f, 0);
    const auto loud = exportedEntry (e.apply (cacheAudio (tones (9600, 1.2f), rate)));
    EXPECT_NEAR (peakAbs (loud.getReadPointer (0), loud.getNumSamples()), 0.98f, 1e-5f);
    const auto quiet = exportedEntry (e.apply (cacheAudio (tones (9600, 0.5f), rate)));
    EXPECT_NEAR (peakAbs (quiet.getReadPointer (0), quiet.getNumSamples()), 0.5f, 1e-4f);

    // A one-sample source: no edge fade, still a new one-sample entry.
    juce::AudioBuffer<float> one (1, 1);
    one.setSample (0, 0, 0.25f);
    const int single = e.apply (cacheAudio (one, rate));
    ASSERT_GT (single, 0);
    EXPECT_EQ (exportedEntry (single).getNumSamples(), 1);
}

TEST_F (CqtSpectralEdit, NothingIsInsertedAfterAClearOrShutdownDuringTheRender)
{
    // Long enough that the render is still running when the clear lands; whatever
    // the timing, the cleared cache must stay empty.
    const int id = cacheAudio (tones ((int) rate * 6), rate);
    Edit e;
    e.add (0.5f, 0.5f, 0.2f, 0.2f, 1.0f, 1);
    int result = 0;
    std::thread render ([&] { result = e.apply (id); });
    std::this_thread::sleep_for (std::chrono::milliseconds (30));
    EXPECT_EQ (quorvalen_engine_clear_cache(), 0);
    render.join();
    EXPECT_TRUE (result == -4 || result > 0) << result;
    if (result > 0)
        EXPECT_EQ (quorvalen_engine_unload_cached (result), 1) << "an entry appeared after the clear";

    const int again = cacheAudio (tones ((int) rate * 6), rate);
    std::thread render2 ([&] { result = e.apply (again); });
    std::this_thread::sleep_for (std::chrono::milliseconds (30));
    quorvalen_engine_shutdown();
    render2.join();
    ASSERT_EQ (quorvalen_engine_init(), 0);
    if (result > 0)
        EXPECT_EQ (quorvalen_engine_unload_cached (result), 1) << "an entry appeared after the shutdown";
}

TEST_F (CqtSpectralEdit, ExhaustedMemoryWhileCopyingOrRenderingInsertsNothing)
{
    if (! kAddressSpaceCapWorks)
        GTEST_SKIP() << "sanitizers reserve address space of their own";
    // 60 s of stereo: the copy alone needs 23 MB.
    const int id = cacheAudio (tones ((int) rate * 60), rate);
    ASSERT_GT (id, 0);
    Edit e;
    e.add (0.5f, 0.5f, 0.2f, 0.2f, 1.0f, 0);
    StderrCapture err;
    EXPECT_EQ (withAddressSpaceCap (8L << 20, [&] { return e.apply (id); }), -7);
    EXPECT_EQ (withAddressSpaceCap (40L << 20, [&] { return e.apply (id); }), -7);
    // The operation answers for itself; nothing reaches the export's last-resort guard.
    EXPECT_EQ (err.finish().find ("[QUORVALEN API]"), std::string::npos);
    // Nothing was inserted: the next entry takes the very next id.
    EXPECT_EQ (cacheAudio (tones (100), rate), id + 1);
}
