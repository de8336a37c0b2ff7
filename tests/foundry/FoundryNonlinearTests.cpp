#include "TestAudio.h"

#include "foundry/FoundryFilterDesign.h"
#include "foundry/FoundryNonlinear.h"

#include <gtest/gtest.h>

using namespace quorvalen::foundry;

namespace
{
juce::AudioBuffer<float> impulse (int channels, int samples, int at)
{
    juce::AudioBuffer<float> b (channels, samples);
    b.clear();
    for (int c = 0; c < channels; ++c)
        b.setSample (c, at, 0.5f);
    return b;
}

int peakIndex (const juce::AudioBuffer<float>& b, int channel)
{
    const auto* x = b.getReadPointer (channel);
    return (
        int) (std::max_element (x, x + b.getNumSamples(), [] (float a, float c) { return std::abs (a) < std::abs (c); })
              - x);
}
} // namespace

TEST (FoundryNonlinear, RunnersKeepAnImpulseAtItsIndexAndTheLength)
{
    // Shorter than the latency, exactly one block plus one, and with three channels.
    for (auto [channels, length, at] :
         { std::tuple { 2, 7, 3 }, std::tuple { 2, 4097, 4096 }, std::tuple { 3, 9000, 5000 } })
    {
        auto b = impulse (channels, length, at);
        tanhDriveMixOversampled (b, 3.0f, std::tanh (3.0f), 0.0f);
        ASSERT_EQ (b.getNumSamples(), length);
        for (int c = 0; c < channels; ++c)
        {
            EXPECT_EQ (peakIndex (b, c), at) << length;
            EXPECT_GT (b.getSample (c, at), 0.25f) << length; // the half-band IIRs smear it a little
        }
    }
    auto sine = qvtest::sine (1000.0, 48000.0, 9000, 0.5f);
    auto passed = sine;
    tanhDriveMixOversampled (passed, 3.0f, 1.0f, 0.0f);
    for (int i = 200; i < 8800; i += 97)
        EXPECT_NEAR (passed.getSample (0, i), sine.getSample (0, i), 0.01f) << i;
}

TEST (FoundryNonlinear, EmptyBuffersAreLeftAlone)
{
    juce::AudioBuffer<float> none (0, 100), empty (2, 0);
    heatOversampled (none, { false, 1.0f, 2 });
    tanhDriveOversampled (empty, 4.0f);
    EXPECT_EQ (none.getNumSamples(), 100);
    EXPECT_EQ (empty.getNumChannels(), 2);
}

TEST (FoundryNonlinear, HeatCurveValues)
{
    EXPECT_NEAR (heatCurve (1.0f, { false, 1.0f, 2 }), 0.14f + 0.86f * 0.88f, 1e-6f); // 0.8968
    EXPECT_FLOAT_EQ (heatCurve (0.3f, { false, 0.0f, 1 }), 0.3f);
    const float d = 2.2f;
    EXPECT_NEAR (heatCurve (0.5f, { false, 1.0f, 0 }), 0.65f * 0.5f + 0.35f * std::tanh (d * 0.5f) / std::tanh (d),
                 1e-6f);
    EXPECT_NEAR (heatCurve (0.5f, { true, 0.0f, 0 }), 0.15f * std::tanh (0.5f) / std::tanh (1.0f) + 0.85f * 0.5f,
                 1e-6f);
    EXPECT_NEAR (heatCurve (0.5f, { false, 1.0f, 7 }), heatCurve (0.5f, { false, 1.0f, 2 }), 1e-7f);
}

TEST (FoundryNonlinear, SoftClipFiltersAndTheirDesign)
{
    EXPECT_NEAR (auditionQFromPercent (0.0f), 0.95, 1e-12);
    EXPECT_NEAR (auditionQFromPercent (100.0f), 12.0, 1e-12);
    EXPECT_NEAR (auditionQFromPercent (std::nanf ("")), 0.95, 1e-12);
    EXPECT_DOUBLE_EQ (foundryCutoff (true, 5.0, 192000.0), 20.0);
    EXPECT_DOUBLE_EQ (foundryCutoff (false, 30000.0, 192000.0), 20000.0);
    EXPECT_DOUBLE_EQ (foundryCutoff (false, std::nan (""), 192000.0), 20000.0);
    EXPECT_DOUBLE_EQ (foundryCutoff (true, std::nan (""), 192000.0), 20.0);

    // A 4 kHz high-pass (designed at the oversampled rate) removes a 100 Hz tone and
    // keeps a 10 kHz one.
    SoftClipFilterParams p;
    p.highPassOn = true;
    p.highPass = makeFoundryFilterBiquad (true, 4.0 * 48000.0, 4000.0, 0.0f);
    auto low = qvtest::sine (100.0, 48000.0, 24000, 0.5f);
    auto high = qvtest::sine (10000.0, 48000.0, 24000, 0.5f);
    softClipOversampled (low, p);
    softClipOversampled (high, p);
    EXPECT_LT (qvtest::peakAbs (low.getReadPointer (0) + 4000, 16000), 0.01f);
    EXPECT_NEAR (qvtest::peakAbs (high.getReadPointer (1) + 4000, 16000), 0.5f, 0.05f);
}
