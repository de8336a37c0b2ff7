// The dsp building blocks against their closed forms.
#include "dsp/Biquad.h"
#include "dsp/Fades.h"
#include "dsp/Fft.h"
#include "dsp/LinearResample.h"
#include "dsp/NoiseGenerator.h"
#include "dsp/OnePole.h"
#include "dsp/OversamplingFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace
{
using namespace quorvalen::dsp;

TEST (OnePole, StepResponseFollowsItsClosedForm)
{
    EXPECT_EQ (onePolePi, juce::MathConstants<double>::pi);
    const double rate = 48000.0;
    const float c = onePoleCoefficientAt (1000.0, rate);
    OnePole pole;
    float y = 0.0f;
    for (int n = 1; n <= 480; ++n)
        y = pole.lowPass (1.0f, c);
    // y[n] = 1 - exp(-2 pi f n / rate) for a unit step.
    EXPECT_NEAR (y, 1.0 - std::exp (-2.0 * M_PI * 1000.0 * 480 / rate), 2e-5);
    EXPECT_EQ (onePoleCoefficientBelowNyquist (1e9, rate), onePoleCoefficientAt (0.45 * rate, rate));
    EXPECT_EQ (onePoleCoefficient (std::nanf (""), rate), onePoleCoefficient (5.0f, rate));
    EXPECT_EQ (onePoleCoefficient (100.0f, 0.0), 1.0f);
    EXPECT_NEAR (onePoleTimeCoefficient (0.01, rate), 1.0 - std::exp (-1.0 / 480.0), 1e-7);
}

TEST (Biquad, ImpulseResponseOfAResonatorMatchesItsClosedForm)
{
    // 1 / (1 - 2 r cos w z^-1 + r^2 z^-2): h[n] = r^n sin((n + 1) w) / sin w.
    const double r = 0.99, w = 0.3;
    Biquad f;
    f.setCoefficients (BiquadCoefficients::normalised (2.0, 0.0, 0.0, 2.0, -4.0 * r * std::cos (w), 2.0 * r * r));
    for (int n = 0; n < 500; ++n)
    {
        const double h = f.process (n == 0 ? 1.0 : 0.0);
        ASSERT_NEAR (h, std::pow (r, n) * std::sin ((n + 1) * w) / std::sin (w), 1e-12) << n;
    }
    f.reset();
    EXPECT_EQ (f.process (0.0), 0.0);
}

TEST (Fades, RampsReachTheirEnds)
{
    std::vector<float> x (5, 2.0f), y (5, 2.0f);
    fadeInLinear (x.data(), 5);
    fadeOutLinear (y.data(), 5);
    EXPECT_EQ (x, (std::vector<float> { 0.0f, 0.5f, 1.0f, 1.5f, 2.0f }));
    EXPECT_EQ (y, (std::vector<float> { 2.0f, 1.5f, 1.0f, 0.5f, 0.0f }));
    EXPECT_EQ (rampPosition (3, 4), 1.0f);
    EXPECT_EQ (rampMix (1.0f, 3.0f, 0.25f), 1.5f);
}

TEST (LinearResample, InterpolatesAndReadsNonFiniteSamplesAsSilence)
{
    const float x[] { 0.0f, 1.0f, std::nanf (""), 3.0f, INFINITY };
    float y[9];
    quorvalen::dsp::resampleLinear (x, 5, 0.5, y, 9);
    const float expected[] { 0.0f, 0.5f, 1.0f, 0.5f, 0.0f, 1.5f, 3.0f, 1.5f, 0.0f };
    for (int j = 0; j < 9; ++j)
        EXPECT_EQ (y[j], expected[j]) << j;
}

TEST (NoiseGenerator, DrawsTheLinearCongruentialSequenceInRange)
{
    NoiseGenerator noise;
    std::uint32_t seed = NoiseGenerator::startSeed;
    for (int i = 0; i < 100000; ++i)
    {
        const float v = noise.next();
        seed = seed * 1664525u + 1013904223u;
        ASSERT_EQ (noise.state(), seed);
        ASSERT_TRUE (v >= -1.0f && v < 1.0f) << v;
    }
}

TEST (Fft, ForwardFindsATonesBinAndInverseRestoresIt)
{
    Fft fft (8);
    const int n = fft.size();
    std::vector<std::complex<float>> in ((size_t) n), out ((size_t) n), back ((size_t) n);
    for (int i = 0; i < n; ++i)
        in[(size_t) i] = { (float) std::cos (2.0 * M_PI * 5.0 * i / n), 0.0f };
    fft.forward (in.data(), out.data());
    EXPECT_NEAR (std::abs (out[5]), n / 2.0, 1e-3);
    EXPECT_NEAR (std::abs (out[6]), 0.0, 1e-3);
    fft.inverse (out.data(), back.data());
    for (int i = 0; i < n; ++i)
        ASSERT_NEAR (back[(size_t) i].real(), in[(size_t) i].real(), 1e-5);
}

TEST (OversamplingFrame, PassesABlockThroughAtItsLatencyAndRefusesOversizedOnes)
{
    OversamplingFrame frame;
    frame.prepare (64);
    const int latency = (int) std::lround (frame.latencyInSamples());
    juce::AudioBuffer<float> b (2, 64);
    b.clear();
    b.setSample (0, 0, 1.0f);
    bool finite = false;
    int upSamples = 0;
    ASSERT_TRUE (
        frame.run (b, 0, 64, finite, [&] (juce::dsp::AudioBlock<float>& up) { upSamples = (int) up.getNumSamples(); }));
    EXPECT_TRUE (finite);
    EXPECT_EQ (upSamples, 256);
    int peak = 0;
    for (int i = 1; i < 64; ++i)
        if (std::abs (b.getSample (0, i)) > std::abs (b.getSample (0, peak)))
            peak = i;
    EXPECT_NEAR (peak, latency, 2);
    juce::AudioBuffer<float> big (2, 65);
    EXPECT_FALSE (frame.run (big, 0, 65, finite, [] (auto&) {}));
}

} // namespace
