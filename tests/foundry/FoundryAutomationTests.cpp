#include "TestAudio.h"

#include "dsp/OfflineOversampler.h"
#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryAutomationKernel.h"
#include "foundry/FoundryFilterDesign.h"
#include "foundry/FoundryNonlinear.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

using namespace quorvalen::foundry;
using quorvalen::engine;

namespace
{
const quorvalen::FoundryAutomationLane& laneOf (int layer, int parameter)
{
    return engine().foundry.automationLanes[(size_t) layer][(size_t) parameter];
}

LayerLanes lanesWith (int parameter, std::vector<float> times, std::vector<float> values)
{
    LayerLanes lanes;
    lanes[(size_t) parameter].times = std::move (times);
    lanes[(size_t) parameter].values = std::move (values);
    return lanes;
}
} // namespace

TEST (FoundryAutomation, SetterCodesGenerationAndMerging)
{
    const float t[] = { 0.3f, 0.1f, 0.1000001f };
    const float v[] = { 1.0f, 2.0f, 0.0f };
    auto generation = engine().foundry.generation;

    ASSERT_EQ (quorvalen_engine_set_foundry_automation (1, 4, t, v, 3), 0);
    EXPECT_EQ (engine().foundry.generation, ++generation);
    EXPECT_EQ (laneOf (1, 4).times, (std::vector<float> { 0.1f, 0.3f }));
    EXPECT_EQ (laneOf (1, 4).values, (std::vector<float> { 0.0f, 1.0f }));

    // A bad layer or parameter changes nothing, -1 included (tested unsigned).
    EXPECT_EQ (quorvalen_engine_set_foundry_automation (3, 0, t, v, 3), 8);
    EXPECT_EQ (quorvalen_engine_set_foundry_automation (0, 8, t, v, 3), 8);
    EXPECT_EQ (quorvalen_engine_set_foundry_automation ((uint32_t) -1, 0, t, v, 3), 8);
    EXPECT_EQ (engine().foundry.generation, generation);
    EXPECT_TRUE (laneOf (1, 4).hasPoints());

    // Too many points or a null array: 8, and the old lane is gone.
    std::vector<float> many (1025, 0.5f);
    EXPECT_EQ (quorvalen_engine_set_foundry_automation (1, 4, many.data(), many.data(), 1025), 8);
    EXPECT_FALSE (laneOf (1, 4).hasPoints());
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (1, 4, t, v, 3), 0);
    EXPECT_EQ (quorvalen_engine_set_foundry_automation (1, 4, nullptr, v, 1), 8);
    EXPECT_FALSE (laneOf (1, 4).hasPoints());
    EXPECT_EQ (engine().foundry.generation, generation + 3);

    // Clearing, and pairs that are all non-finite.
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (2, 7, t, v, 3), 0);
    EXPECT_EQ (quorvalen_engine_set_foundry_automation (2, 7, nullptr, nullptr, -4), 0);
    EXPECT_FALSE (laneOf (2, 7).hasPoints());
    const float nan[] = { std::nanf (""), INFINITY };
    EXPECT_EQ (quorvalen_engine_set_foundry_automation (2, 7, nan, v, 2), 0);
    EXPECT_FALSE (laneOf (2, 7).hasPoints());
    EXPECT_TRUE (hasFoundryAutomationLane (engine(), 1, 4) == false);
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (0, 0, t, v, 1), 0);
    EXPECT_TRUE (hasFoundryAutomationLane (engine(), 0, 0));
    EXPECT_FALSE (hasFoundryAutomationLane (engine(), 3, 0));
    quorvalen_engine_set_foundry_automation (0, 0, nullptr, nullptr, 0);
}

TEST (FoundryAutomation, EvaluationShapes)
{
    EXPECT_EQ (evaluateFoundryAutomationLane (LayerLanes {}, 1, 0.5), 0.0f);
    const auto single = lanesWith (1, { 0.4f }, { 0.7f });
    for (double t : { 0.0, 0.4, 1.0 })
        EXPECT_FLOAT_EQ (evaluateFoundryAutomationLane (single, 1, t), 0.7f);

    // Rising between a rising and a falling neighbour: only the way out turns.
    const auto lanes = lanesWith (2, { 0.0f, 0.2f, 0.6f, 1.0f }, { 0.0f, 0.2f, 0.6f, 0.1f });
    EXPECT_FLOAT_EQ (evaluateFoundryAutomationLane (lanes, 2, -1.0), 0.0f);
    EXPECT_FLOAT_EQ (evaluateFoundryAutomationLane (lanes, 2, 2.0), 0.1f);
    EXPECT_NEAR (evaluateFoundryAutomationLane (lanes, 2, 0.4), 0.2f + (0.5f + 0.18f * 0.125f) * 0.4f, 1e-6f);
    EXPECT_NEAR (evaluateFoundryAutomationLane (lanes, 2, 0.1), 0.1f, 1e-6f); // straight run: linear
    // Falling after a rise: the way in turns, s = u^2 (2 - u).
    EXPECT_NEAR (evaluateFoundryAutomationLane (lanes, 2, 0.8), 0.6f + (0.5f + 0.18f * (0.375f - 0.5f)) * -0.5f, 1e-6f);
    // Both turns: smoothstep, which is u at the midpoint.
    const auto zigzag = lanesWith (0, { 0.0f, 0.25f, 0.5f, 0.75f }, { 0.0f, 1.0f, 0.0f, 1.0f });
    EXPECT_NEAR (evaluateFoundryAutomationLane (zigzag, 0, 0.375), 0.5f, 1e-6f);
    EXPECT_NEAR (evaluateFoundryAutomationLane (zigzag, 0, 0.3125), 1.0f - (0.25f + 0.18f * (0.15625f - 0.25f)), 1e-6f);
}

TEST (FoundryAutomation, KernelFollowsItsLanes)
{
    // A heat lane at 0 on the body still applies the variant curve (15 % mix).
    const auto heatLanes = lanesWith (lane::heat, { 0.0f }, { 0.0f });
    auto body = qvtest::sine (200.0, 48000.0, 24000, 0.8f);
    auto reference = body;
    AutomatedLayerContext k;
    k.lanes = &heatLanes;
    k.timeBase = body.getNumSamples();
    k.oversampledRate = 4.0 * 48000.0;
    k.heatVariant = true;
    automatedLayerOversampled (body, k);
    heatOversampled (reference, { true, 0.0f, 0 });
    for (int i = 100; i < 23900; i += 101)
        EXPECT_NEAR (body.getSample (1, i), reference.getSample (1, i), 1e-5f);
    EXPECT_GT (std::abs (body.getSample (0, 60) - qvtest::sine (200.0, 48000.0, 24000, 0.8f).getSample (0, 60)), 1e-3f);

    // A low-pass cutoff lane sweeping 20 kHz down to 20 Hz silences a 5 kHz tone by
    // the end; the static cutoff would have let it through.
    const auto sweep = lanesWith (lane::lowPassCutoff, { 0.0f, 1.0f }, { 1.0f, 0.0f });
    auto tone = qvtest::sine (5000.0, 48000.0, 48000, 0.5f);
    AutomatedLayerContext f;
    f.lanes = &sweep;
    f.timeBase = tone.getNumSamples();
    f.lowPassOn = true;
    f.lowPassHz = 20000.0;
    f.oversampledRate = 4.0 * 48000.0;
    automatedLayerOversampled (tone, f);
    EXPECT_NEAR (qvtest::peakAbs (tone.getReadPointer (0) + 1000, 2000), 0.5f, 0.05f);
    EXPECT_LT (qvtest::peakAbs (tone.getReadPointer (0) + 40000, 8000), 0.01f);
}

TEST (FoundryAutomation, CursorReadsEqualSearchReads)
{
    // A lane from the setter (unsorted input, near-equal times, a dropped NaN), and
    // lanes built by hand that only the search can read: out of order, a NaN time,
    // arrays of unequal length; also one point and no point.
    std::vector<float> t, v;
    for (int i = 0; i < 300; ++i)
    {
        t.push_back (std::fmod (0.37f * (float) i, 1.0f));
        v.push_back ((i % 3) == 0 ? 0.5f : std::fmod (0.61f * (float) i, 1.0f));
    }
    t[7] = t[6] + 2.0e-6f;
    v[9] = std::nanf ("");
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (0, 5, t.data(), v.data(), (int) t.size()), 0);
    const std::vector<quorvalen::FoundryAutomationLane> lanes = {
        laneOf (0, 5),
        { { 0.7f, 0.2f, 0.9f, 0.1f, 0.5f }, { 0.1f, 0.9f, 0.2f, 0.8f, 0.3f } },
        { { 0.0f, std::nanf (""), 0.6f, 1.0f }, { 0.4f, 0.5f, 0.1f, 0.9f } },
        { { 0.0f, 0.3f, 0.6f }, { 0.4f, 0.7f } },
        { { 0.5f }, { 0.33f } },
        {},
    };
    quorvalen_engine_set_foundry_automation (0, 5, nullptr, nullptr, 0);

    for (const auto& lane : lanes)
    {
        LayerLanes layer;
        layer[(size_t) lane::heat] = lane;
        FoundryLaneCursor cursor (layer[(size_t) lane::heat]);
        // The kernel's reads (4 per base sample over a time base shorter than the
        // layer), then a second pass from the start.
        for (int pass = 0; pass < 2; ++pass)
            for (int j = 0; j < 4 * 3000; ++j)
            {
                const double at = laneTime ((double) j / 4.0, 2500);
                ASSERT_EQ (std::bit_cast<std::uint32_t> (cursor.valueAt (at)),
                           std::bit_cast<std::uint32_t> (evaluateFoundryAutomationLane (layer, lane::heat, at)))
                    << "t " << at;
            }
    }
}

TEST (FoundryAutomation, BlockKernelEqualsTheCurveSampleBySample)
{
    // Filters and heat evaluated per oversampled sample, as the lanes define them.
    const auto reference = [] (juce::AudioBuffer<float>& b, const AutomatedLayerContext& k) {
        const auto& lanes = *k.lanes;
        const auto has = [&] (int p) { return lanes[(size_t) p].hasPoints(); };
        const auto filter = [&] (bool high, double t) {
            const int cutoff = high ? lane::highPassCutoff : lane::lowPassCutoff;
            const int resonance = high ? lane::highPassResonance : lane::lowPassResonance;
            const double f = has (cutoff) ? laneCutoffHz (evaluateFoundryAutomationLane (lanes, cutoff, t))
                                          : (high ? k.highPassHz : k.lowPassHz);
            const float r = has (resonance) ? 100.0f * evaluateFoundryAutomationLane (lanes, resonance, t)
                                            : (high ? k.highPassResonance : k.lowPassResonance);
            return makeFoundryFilterBiquad (high, k.oversampledRate, f, r);
        };
        std::vector<quorvalen::dsp::Biquad> hp ((size_t) b.getNumChannels()), lp (hp.size());
        std::int64_t lastRefresh = -1;
        quorvalen::dsp::runOversampledOffline (b, [&] (juce::dsp::AudioBlock<float>& up, std::int64_t position) {
            for (size_t j = 0; j < up.getNumSamples(); ++j)
            {
                const double p = (double) position + (double) j / 4.0;
                const double t = laneTime (p, k.timeBase);
                const auto refresh = (std::int64_t) std::floor (std::max (p, 0.0) / 32.0);
                if (refresh != std::exchange (lastRefresh, refresh))
                    for (size_t c = 0; c < hp.size(); ++c)
                    {
                        hp[c].setCoefficients (filter (true, t));
                        lp[c].setCoefficients (filter (false, t));
                    }
                const HeatShaper heat (
                    { k.heatVariant, evaluateFoundryAutomationLane (lanes, lane::heat, t), k.heatMode });
                for (size_t c = 0; c < hp.size(); ++c)
                {
                    float& x = up.getChannelPointer (c)[j];
                    const double y = foundrySoftClip (lp[c].process (foundrySoftClip (hp[c].process (x))));
                    x = heat ((float) y);
                }
            }
        });
    };

    LayerLanes lanes;
    lanes[(size_t) lane::heat] = { { 0.0f, 0.3f, 0.5f, 1.0f }, { 0.1f, 0.9f, 0.2f, 0.6f } };
    lanes[(size_t) lane::lowPassCutoff] = { { 0.1f, 0.6f }, { 1.0f, 0.3f } };
    lanes[(size_t) lane::highPassResonance] = { { 0.2f, 0.4f, 0.8f }, { 0.0f, 1.0f, 0.5f } };
    for (int mode = 0; mode <= 3; ++mode)
    {
        AutomatedLayerContext k;
        k.lanes = &lanes;
        k.timeBase = 7000;
        k.highPassOn = k.lowPassOn = true;
        k.highPassHz = 120.0;
        k.highPassResonance = 30.0f;
        k.oversampledRate = 4.0 * 44100.0;
        k.heatVariant = mode == 3;
        k.heatMode = std::min (mode, 2);
        auto blockwise = qvtest::noiseBuffer (9000, 17, 0.8f);
        auto expected = blockwise;
        automatedLayerOversampled (blockwise, k);
        reference (expected, k);
        for (int c = 0; c < 2; ++c)
            ASSERT_EQ (std::memcmp (blockwise.getReadPointer (c), expected.getReadPointer (c), 9000 * sizeof (float)),
                       0)
                << "mode " << mode << " channel " << c;
    }
}
