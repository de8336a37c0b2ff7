#include "TestAudio.h"

#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryAutomationKernel.h"
#include "foundry/FoundryNonlinear.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>

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
