// Manifold classic mix through the exported interface: result codes, the output
// length rules, one-shot against tiled placement with its fades, resampling to
// 44.1 kHz, the two-stage levelling, and non-finite arguments.
#include "HeadlessEngineFixture.h"
#include "MemoryCap.h"
#include "TestAudio.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <cmath>
#include <limits>
#include <vector>

using namespace qvtest;

namespace
{
juce::AudioBuffer<float> constant (int samples, float value, int channels = 1)
{
    juce::AudioBuffer<float> b (channels, samples);
    for (int ch = 0; ch < channels; ++ch)
        juce::FloatVectorOperations::fill (b.getWritePointer (ch), value, samples);
    return b;
}

struct Mix
{
    std::vector<uint32_t> ids;
    std::vector<float> gains;
    std::vector<int32_t> roles;
    int primary = 0;
    float lengthSeconds = 60.0f;
    float fixedSeconds = 0.0f;
    int rawLevels = 0;
    uint32_t loopMask = 0;

    Mix& add (int id, int role, float gain = 1.0f)
    {
        ids.push_back ((uint32_t) id);
        roles.push_back (role);
        gains.push_back (gain);
        return *this;
    }
    int create (int count = -1) const
    {
        return quorvalen_engine_create_manifold_classic (ids.data(), gains.data(), roles.data(),
                                                         count < 0 ? (int) ids.size() : count, primary, lengthSeconds,
                                                         fixedSeconds, rawLevels, loopMask);
    }
    juce::AudioBuffer<float> render() const
    {
        const int id = create();
        EXPECT_GT (id, 0);
        double rate = 0.0;
        auto out = exportedEntry (id, &rate);
        EXPECT_EQ (rate, 44100.0);
        EXPECT_EQ (out.getNumChannels(), 2);
        return out;
    }
};

float peakOf (const juce::AudioBuffer<float>& b)
{
    return std::max (peakAbs (b.getReadPointer (0), b.getNumSamples()),
                     peakAbs (b.getReadPointer (1), b.getNumSamples()));
}

using ManifoldClassic = HeadlessEngineTest;
} // namespace

TEST_F (ManifoldClassic, ResultCodesInTestOrder)
{
    const int a = cacheAudio (constant (100, 0.1f), 44100.0);
    Mix m;
    for (int i = 0; i < 17; ++i)
        m.add (a, 0);
    EXPECT_EQ (m.create (17), -2);
    EXPECT_EQ (m.create (0), -2);
    m.primary = 3;
    EXPECT_EQ (m.create (3), -2);
    EXPECT_EQ (quorvalen_engine_create_manifold_classic (nullptr, m.gains.data(), m.roles.data(), 1, 0, 1, 0, 0, 0),
               -2);
    m.primary = 0;
    m.ids[3] = 9999;
    m.ids[5] = 9998;
    EXPECT_EQ (m.create (6), -3);
    EXPECT_GT (m.create (3), a);

    quorvalen_engine_shutdown();
    EXPECT_EQ (m.create (17), -1);
}

TEST_F (ManifoldClassic, OnePrimarySourceIsAOneShotAtItsOwnLengthNormalisedTo0977)
{
    auto source = sine (440.0, 44100.0, 30000, 0.3f, 2);
    source.applyGain (1, 0, 30000, 0.5f);
    Mix m;
    m.add (cacheAudio (source, 44100.0), 0, 0.8f);
    const auto out = m.render();
    ASSERT_EQ (out.getNumSamples(), 30000);
    EXPECT_NEAR (peakOf (out), 0.977f, 1e-5f);
    for (int i = 0; i < 30000; i += 997)
    {
        EXPECT_NEAR (out.getSample (0, i), source.getSample (0, i) * 0.977f / 0.3f, 1e-4f);
        EXPECT_NEAR (out.getSample (1, i), source.getSample (1, i) * 0.977f / 0.3f, 1e-4f);
    }
}

TEST_F (ManifoldClassic, LengthRulesAndResamplingToTheMixRate)
{
    const int half = cacheAudio (constant (1000, 0.5f), 22050.0);
    const int fast = cacheAudio (constant (48000, 0.5f), 48000.0);
    Mix slow;
    slow.add (half, 0);
    EXPECT_EQ (slow.render().getNumSamples(), 2000);
    Mix shrink;
    shrink.add (fast, 0);
    EXPECT_EQ (shrink.render().getNumSamples(), 44100);

    // The requested length caps the primary's; roles 4..6 alone keep its own.
    Mix capped;
    capped.add (fast, 0);
    capped.lengthSeconds = 0.5f;
    EXPECT_EQ (capped.render().getNumSamples(), 22050);
    capped.roles[0] = 5;
    EXPECT_EQ (capped.render().getNumSamples(), 44100);
    capped.fixedSeconds = 0.25f;
    EXPECT_EQ (capped.render().getNumSamples(), 11025);

    // Every role 8: the requested length, at least 0.1 s.
    Mix layer;
    layer.add (half, 8).add (fast, 8);
    layer.lengthSeconds = 0.01f;
    EXPECT_EQ (layer.render().getNumSamples(), 4410);
}

TEST_F (ManifoldClassic, RolesChooseOneShotOrTiledAndTilesFadeAtEveryRepeat)
{
    const int primary = cacheAudio (constant (8000, 0.5f), 44100.0);
    const int shortOne = cacheAudio (constant (1000, 0.5f), 44100.0);

    // Roles 0 and 1: the second plays once, so the tail after 1000 samples is the primary alone.
    Mix once;
    once.add (primary, 0).add (shortOne, 1);
    once.rawLevels = 1;
    const auto a = once.render();
    ASSERT_EQ (a.getNumSamples(), 8000);
    EXPECT_NEAR (a.getSample (0, 500), 0.977f, 1e-5f);
    EXPECT_NEAR (a.getSample (0, 5000), 0.977f * 0.5f, 1e-5f);

    // Roles 0 and 2: the second repeats to the end, each repeat faded over 250 samples.
    Mix tiled;
    tiled.add (primary, 0).add (shortOne, 2);
    tiled.rawLevels = 1;
    const auto b = tiled.render();
    const float unit = b.getSample (0, 500) / 2.0f; // both at full weight there
    for (int rep = 0; rep < 8; ++rep)
        for (int k : { 0, 100, 249, 500, 750, 999 })
        {
            const float w = std::min (1.0f, std::min ((float) k / 249.0f, (float) (999 - k) / 249.0f));
            EXPECT_NEAR (b.getSample (1, rep * 1000 + k), unit * (1.0f + w), 1e-5f) << rep << " " << k;
        }

    // The loop mask forces the primary itself to repeat.
    Mix forced;
    forced.add (shortOne, 0);
    forced.loopMask = 1;
    forced.fixedSeconds = 3000.0f / 44100.0f;
    const auto c = forced.render();
    ASSERT_EQ (c.getNumSamples(), 3000);
    EXPECT_NEAR (c.getSample (0, 1000), 0.0f, 1e-6f);
    EXPECT_NEAR (c.getSample (0, 2500), 0.977f, 1e-5f);
}

TEST_F (ManifoldClassic, OwnLayerIsAddedAfterTheMainLayerIsLevelled)
{
    const int main = cacheAudio (constant (4410, 0.1f), 44100.0);
    const int pad = cacheAudio (constant (4410, 0.4f), 44100.0);
    Mix m;
    m.add (main, 0).add (pad, 8);
    // Main levelled to 0.977, pad (tiled, fades at its ends) adds 0.4 in the middle:
    // the final levelling divides by 1.377.
    const auto out = m.render();
    EXPECT_NEAR (out.getSample (0, 2000), 0.977f, 1e-5f);
    EXPECT_NEAR (out.getSample (0, 0), 0.977f * 0.977f / 1.377f, 1e-5f);

    m.rawLevels = 1;
    const auto raw = m.render();
    EXPECT_NEAR (raw.getSample (0, 0), 0.977f * 0.1f / 0.5f, 1e-5f);
}

TEST_F (ManifoldClassic, NaNTakesTheLowBoundAndInfinityTheBoundOnItsSide)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const int a = cacheAudio (constant (4410, 0.5f), 44100.0);
    const int b = cacheAudio (sine (300.0, 44100.0, 4410, 0.5f, 1), 44100.0);

    Mix m;
    m.add (a, 0, nan).add (b, 1, 1.0f);
    const auto out = m.render();
    // The NaN gain is 0: only the sine remains, levelled.
    EXPECT_NEAR (peakOf (out), 0.977f, 1e-5f);
    EXPECT_NEAR (out.getSample (0, 0), 0.0f, 1e-6f);
    EXPECT_TRUE (std::isfinite (out.getSample (0, 100)));

    Mix lengths;
    lengths.add (a, 8);
    lengths.lengthSeconds = nan;
    EXPECT_EQ (lengths.render().getNumSamples(), 4410);
    lengths.fixedSeconds = inf;
    EXPECT_EQ (lengths.render().getNumSamples(), 2646000);
    lengths.fixedSeconds = nan; // not above 0: no fixed length
    lengths.lengthSeconds = -inf;
    EXPECT_EQ (lengths.render().getNumSamples(), 4410);
    lengths.lengthSeconds = inf;
    EXPECT_EQ (lengths.render().getNumSamples(), 2646000);

    // An infinite gain is full gain: the constant weighs as much as the sine.
    Mix loud;
    loud.add (a, 0, inf).add (b, 1, 1.0f);
    loud.rawLevels = 1;
    Mix full;
    full.add (a, 0, 1.0f).add (b, 1, 1.0f);
    full.rawLevels = 1;
    const auto l = loud.render(), f = full.render();
    for (int i = 0; i < 4410; i += 441)
        EXPECT_EQ (l.getSample (0, i), f.getSample (0, i));
}

TEST_F (ManifoldClassic, ExhaustedMemoryInsertsNothing)
{
    if (! kAddressSpaceCapWorks)
        GTEST_SKIP() << "sanitizers reserve address space of their own";
    const int id = cacheAudio (constant (44100 * 60, 0.5f, 2), 44100.0);
    Mix m;
    m.add (id, 0).add (id, 2);
    EXPECT_EQ (withAddressSpaceCap (20L << 20, [&] { return m.create(); }), -7);
    EXPECT_EQ (cacheAudio (constant (10, 0.5f), 44100.0), id + 1);
}
