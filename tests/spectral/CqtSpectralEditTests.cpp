// Offline constant-Q spectral edit through the exported interface: result codes,
// the identity at strength 0, a soft cut that removes a tone, mode clamping, the
// edges and the peak limit, non-finite brushes, and a clear or shutdown that lands
// while the render runs unlocked.
#include "EngineTestSupport.h"
#include "HeadlessEngineFixture.h"
#include "MemoryCap.h"
#include "TestAudio.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <cmath>
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
} // namespace

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

TEST_F (CqtSpectralEdit, ModesOutsideTheRangeClampAndNonFiniteFieldsTakeTheirLowBound)
{
    const auto source = tones (9600);
    const int id = cacheAudio (source, rate);
    const auto render = [&] (float radius, uint32_t mode, float strength = 1.0f) {
        Edit e;
        e.add (0.5f, 0.45f, radius, radius, strength, mode);
        return exportedEntry (e.apply (id));
    };
    const auto ring = render (0.3f, 4);
    ASSERT_EQ (ring.getNumSamples(), 9600);
    EXPECT_EQ (maxDifference (render (0.3f, 9), ring), 0.0f);
    EXPECT_EQ (maxDifference (render (0.3f, 0xFFFFFFFFu), render (0.3f, 0)), 0.0f);
    EXPECT_EQ (maxDifference (render (0.0f, 2), render (0.0005f, 2)), 0.0f);

    // NaN and infinities never reach a conversion: they take the low bound, which
    // for the strength means no change at all.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    Edit wild;
    wild.add (nan, inf, -inf, nan, nan, 1);
    wild.add (0.5f, 0.5f, 1.0f, 1.0f, inf, 1);
    const auto result = exportedEntry (wild.apply (id));
    ASSERT_EQ (result.getNumSamples(), 9600);
    EXPECT_LT (maxDifference (result, source), 1e-5f);
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
