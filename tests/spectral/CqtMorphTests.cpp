// Constant-Q morphs through the exported interface: result codes, the output's
// shape and rate, the final level, the reese export, clamped and non-finite
// arguments, and the blend law at its ends over the whole sound.
#include "HeadlessEngineFixture.h"
#include "MemoryCap.h"
#include "TestAudio.h"
#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <cmath>
#include <limits>
#include <mutex>

using namespace qvtest;

namespace
{
constexpr double rate = 48000.0;

juce::AudioBuffer<float> morph (int a, int b, float amount, uint32_t kind, float tempo, int preset,
                                double* outRate = nullptr)
{
    const int id = quorvalen_engine_create_manifold_cqt_morph (a, b, amount, kind, tempo, preset);
    EXPECT_GT (id, 0);
    return exportedEntry (id, outRate);
}

float maxDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return 1e9f;
    float d = 0.0f;
    for (int ch = 0; ch < a.getNumChannels(); ++ch)
        for (int i = 0; i < a.getNumSamples(); ++i)
            d = std::max (d, std::abs (a.getSample (ch, i) - b.getSample (ch, i)));
    return d;
}

// Amplitude of the component at `hz` over [from, to).
float toneLevel (const float* x, int from, int to, double hz)
{
    double re = 0.0, im = 0.0;
    for (int i = from; i < to; ++i)
    {
        const double ph = 2.0 * M_PI * hz * i / rate;
        re += x[i] * std::cos (ph);
        im += x[i] * std::sin (ph);
    }
    return (float) (2.0 * std::hypot (re, im) / (to - from));
}

float peakOf (const juce::AudioBuffer<float>& b)
{
    float p = 0.0f;
    for (int ch = 0; ch < b.getNumChannels(); ++ch)
        p = std::max (p, peakAbs (b.getReadPointer (ch), b.getNumSamples()));
    return p;
}

using CqtMorph = HeadlessEngineTest;
} // namespace

TEST_F (CqtMorph, ResultCodesInTestOrder)
{
    const int a = cacheAudio (sine (220.0, rate, 4800, 0.3f, 1), rate);
    EXPECT_EQ (quorvalen_engine_create_manifold_cqt_morph (9998, 9999, 50, 2, 120, 0), -8);
    EXPECT_EQ (quorvalen_engine_create_manifold_cqt_morph (9998, 9999, 50, 1, 120, 15), -9);
    EXPECT_EQ (quorvalen_engine_create_manifold_cqt_morph (9998, 9999, 50, 1, 120, -1), -9);
    EXPECT_EQ (quorvalen_engine_create_manifold_cqt_morph (9998, 9999, 50, 1, 120, 0), -2);
    EXPECT_EQ (quorvalen_engine_create_manifold_cqt_morph (a, 9999, 50, 1, 120, 0), -3);
    EXPECT_EQ (quorvalen_engine_create_reese_cqt_morph (9998, a, 50), -2);
    quorvalen_engine_shutdown();
    EXPECT_EQ (quorvalen_engine_create_manifold_cqt_morph (a, a, 50, 2, 120, 15), -1);
    EXPECT_EQ (quorvalen_engine_create_reese_cqt_morph (a, a, 50), -1);
}

TEST_F (CqtMorph, ShapeRateAndLengthFollowTheRules)
{
    const int monoA = cacheAudio (sine (220.0, rate, 9600, 0.3f, 1), rate);
    const int stereoB = cacheAudio (sine (330.0, rate, 9600, 0.3f, 2), rate);
    double outRate = 0.0;
    const auto wide = morph (monoA, stereoB, 50, 1, 120, 0, &outRate);
    EXPECT_EQ (wide.getNumChannels(), 2);
    EXPECT_EQ (wide.getNumSamples(), 9600);
    EXPECT_EQ (outRate, rate);

    // B at twice the rate and twice the samples: as long as A, at A's rate.
    const int fastB = cacheAudio (sine (330.0, 2 * rate, 19200, 0.3f, 1), 2 * rate);
    const auto same = morph (monoA, fastB, 50, 0, 120, 3, &outRate);
    EXPECT_EQ (same.getNumSamples(), 9600);
    EXPECT_EQ (outRate, rate);
    // A shorter B shortens the morph.
    const int shortB = cacheAudio (sine (330.0, rate, 5000, 0.3f, 1), rate);
    EXPECT_EQ (morph (monoA, shortB, 50, 1, 120, 0).getNumSamples(), 5000);
}

TEST_F (CqtMorph, FinalPeakAndTheReeseExport)
{
    auto a = sine (110.0, rate, 24000, 0.6f, 2);
    a.addFrom (0, 0, sine (440.0, rate, 24000, 0.3f, 1), 0, 0, 24000);
    const int idA = cacheAudio (a, rate);
    const int idB = cacheAudio (sine (165.0, rate, 24000, 0.5f, 2), rate);
    for (uint32_t kind : { 0u, 1u })
    {
        const auto out = morph (idA, idB, 40, kind, 140, 7);
        EXPECT_NEAR (peakOf (out), 0.9942601f, 2e-6f) << kind;
        // The end is faded to silence (before the ceiling's filters).
        EXPECT_NEAR (out.getSample (0, out.getNumSamples() - 1), 0.0f, 1e-3f);
    }
    const int reese = quorvalen_engine_create_reese_cqt_morph (idA, idB, 65);
    ASSERT_GT (reese, 0);
    EXPECT_EQ (maxDifference (exportedEntry (reese), morph (idA, idB, 65, 0, 172, 1)), 0.0f);
}

TEST_F (CqtMorph, TempoAndAmountClampNaNTakingTheLowEndAndInfinityItsOwnSide)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const int idA = cacheAudio (sine (110.0, rate, 12000, 0.4f, 1), rate);
    const int idB = cacheAudio (sine (700.0, rate, 12000, 0.4f, 1), rate);
    const auto slowest = morph (idA, idB, 50, 1, 20, 4);
    EXPECT_EQ (maxDifference (morph (idA, idB, 50, 1, 10, 4), slowest), 0.0f);
    EXPECT_EQ (maxDifference (morph (idA, idB, 50, 1, nan, 4), slowest), 0.0f);
    const auto fastest = morph (idA, idB, 50, 1, 400, 4);
    EXPECT_EQ (maxDifference (morph (idA, idB, 50, 1, 1000, 4), fastest), 0.0f);
    EXPECT_EQ (maxDifference (morph (idA, idB, 50, 1, inf, 4), fastest), 0.0f);

    const auto none = morph (idA, idB, 0, 1, 120, 0);
    EXPECT_EQ (maxDifference (morph (idA, idB, nan, 1, 120, 0), none), 0.0f);
    EXPECT_EQ (maxDifference (morph (idA, idB, -inf, 1, 120, 0), none), 0.0f);
    const auto all = morph (idA, idB, 100, 1, 120, 0);
    EXPECT_EQ (maxDifference (morph (idA, idB, 250, 1, 120, 0), all), 0.0f);
    EXPECT_EQ (maxDifference (morph (idA, idB, inf, 1, 120, 0), all), 0.0f);
}

TEST_F (CqtMorph, AmountsAtTheEndsGiveOneSoundThroughoutIncludingItsFirstSeconds)
{
    // A low tone whose bands reach far past the ends, B a higher one.
    const int n = (int) rate;
    const int idA = cacheAudio (sine (60.0, rate, n, 0.5f, 1), rate);
    const int idB = cacheAudio (sine (1000.0, rate, n, 0.5f, 1), rate);
    const int head = (int) (0.25 * rate);

    const auto allB = morph (idA, idB, 100, 1, 120, 0);
    const float* b = allB.getReadPointer (0);
    EXPECT_GT (toneLevel (b, 0, head, 1000.0), 0.5f);
    EXPECT_LT (toneLevel (b, 0, head, 60.0), 1e-3f) << "A leaks into the start of an all-B morph";
    EXPECT_LT (toneLevel (b, head, n - head, 60.0), 1e-3f);

    const auto allA = morph (idA, idB, 0, 1, 120, 0);
    const float* a = allA.getReadPointer (0);
    EXPECT_GT (toneLevel (a, 0, head, 60.0), 0.5f);
    EXPECT_LT (toneLevel (a, 0, head, 1000.0), 1e-3f);
    EXPECT_LT (toneLevel (a, head, n - head, 1000.0), 1e-3f);
}

TEST_F (CqtMorph, ARateTooLowForAnyBandStillRenders)
{
    // At 30 Hz no band fits between 20 Hz and the Nyquist frequency. The intakes
    // refuse such rates, so the entries go into the cache directly.
    auto insert = [] (double frequency) {
        std::lock_guard lock (quorvalen::engine().engineMutex);
        auto audio = std::make_unique<juce::AudioBuffer<float>> (sine (frequency, 30.0, 300, 0.5f, 1));
        return (int) quorvalen::insertCacheEntry (quorvalen::engine(),
                                                  quorvalen::CacheEntry { std::move (audio), 30.0, "low" });
    };
    const int idA = insert (3.0);
    const int idB = insert (5.0);
    ASSERT_GT (idA, 0);
    for (uint32_t kind : { 0u, 1u })
    {
        const int id = quorvalen_engine_create_manifold_cqt_morph (idA, idB, 50, kind, 120, 0);
        ASSERT_GT (id, 0) << kind;
        const auto out = exportedEntry (id);
        EXPECT_EQ (out.getNumSamples(), 300);
        EXPECT_NEAR (peakOf (out), 0.9942601f, 2e-6f);
    }
}

TEST_F (CqtMorph, ExhaustedMemoryStoresNothing)
{
    if (! kAddressSpaceCapWorks)
        GTEST_SKIP() << "sanitizers reserve address space of their own";
    const int idA = cacheAudio (sine (110.0, rate, (int) rate * 30, 0.4f, 2), rate);
    const int idB = cacheAudio (sine (165.0, rate, (int) rate * 30, 0.4f, 2), rate);
    EXPECT_EQ (withAddressSpaceCap (
                   40L << 20, [&] { return quorvalen_engine_create_manifold_cqt_morph (idA, idB, 50, 1, 120, 0); }),
               -7);
    EXPECT_EQ (cacheAudio (sine (110.0, rate, 100, 0.4f, 1), rate), idB + 1);
}
