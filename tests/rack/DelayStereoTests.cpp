// Spectral delay and stereo: the documented delay times and mixes, unsafe delay
// line states, and the width split's identity and crossover cases.
#include "RackModuleTestSupport.h"

#include <complex>

using namespace qvrack;

namespace
{
std::string delay (int time, int mix)
{
    return "{\"spectralDelayEnabled\": true, \"spectralDelayTime\": " + std::to_string (time)
        + ", \"spectralDelayMix\": " + std::to_string (mix) + "}";
}

std::string stereo (int width, bool below = false)
{
    return "{\"stereoEnabled\": true, \"stereoCrossover\": 500, \"stereoWidth\": " + std::to_string (width)
        + ", \"stereoWidthBelowCrossover\": " + (below ? "true}" : "false}");
}
} // namespace

TEST (SpectralDelayModule, TimeZeroIsAFixedTwoMillisecondDoublingAndMixIsOnlyNoise)
{
    auto state = makeState();
    const auto in = signal (100.0, 9600, 0.5f);
    auto out = in;
    render (*state, out, delay (0, 0));
    // Wet gain 0.35, dry 1, push 1; the 14 kHz loop low-pass barely touches 100 Hz.
    const auto shape = [] (float x, float delayed) {
        return softCeiling ((std::tanh (std::tanh (delayed)) * 0.35f + x) * 0.82f);
    };
    EXPECT_LT (shapeError (in, out, latency (state->spectralDelay), shape, 96), 3e-3f);
    EXPECT_EQ (state->noise.state(), seedAfter (8L * 9600)); // one draw per channel and oversampled sample

    for (int mix : { 0, 100 })
    {
        auto s = makeState();
        juce::AudioBuffer<float> silence (2, 4800);
        silence.clear();
        render (*s, silence, delay (50, mix));
        const float level = rmsOf (silence, 0, 4800);
        EXPECT_TRUE (mix == 0 ? level == 0.0f : level > 1e-4f) << mix;
    }
}

TEST (SpectralDelayModule, FullTimeDelaySwingsWithThePlayPosition)
{
    // An impulse's echo lands 2 + 1.3 sin(0.3 tau) + 0.4 sin(4.3 tau) ms later.
    for (double tau : { 0.0, M_PI / 0.6 })
    {
        auto state = makeState();
        state->position = std::llround (tau * 48000.0);
        juce::AudioBuffer<float> b (2, 512);
        b.clear();
        b.setSample (0, 0, 1.0f);
        processRackBlock (*state, b, 0, 512, *record (delay (100, 0)));
        const int lag = latency (state->spectralDelay);
        const auto* x = b.getReadPointer (0);
        const auto echo =
            std::max_element (x + lag + 8, x + 512, [] (float p, float q) { return std::abs (p) < std::abs (q); });
        EXPECT_NEAR (echo - x - lag, 48.0 * (2.0 + 1.3 * std::sin (0.3 * tau) + 0.4 * std::sin (4.3 * tau)), 3.0)
            << tau;
    }
}

TEST (SpectralDelayModule, ShortOrMisindexedLinesAreSafe)
{
    auto state = makeState();
    state->spectralDelay.state().lineLeft.assign (4, 0.0f); // too short: the block passes untouched
    const auto in = signal (0.0, 512, 0.5f);
    auto out = in;
    render (*state, out, delay (40, 60));
    EXPECT_TRUE (identical (in, out));

    auto other = makeState();
    other->spectralDelay.state().writeIndex = 1 << 30; // left over from a longer line
    render (*other, out, delay (40, 60));
    EXPECT_EQ (other->spectralDelay.state().writeIndex, 2048 % (int) other->spectralDelay.state().lineLeft.size());
}

TEST (StereoModule, UnitWidthMidAndMonoAreUntouched)
{
    const auto in = signal (0.0, 4096, 0.5f, 3);
    for (const auto& doc : { stereo (0), stereo (0, true) })
    {
        auto out = in;
        render (*makeState(), out, doc);
        EXPECT_TRUE (identical (in, out)) << doc;
    }
    auto mid = in;
    mid.copyFrom (1, 0, mid, 0, 0, 4096);
    const auto midIn = mid;
    render (*makeState(), mid, stereo (7));
    EXPECT_TRUE (identical (midIn, mid));
    juce::AudioBuffer<float> mono (1, 4096);
    mono.copyFrom (0, 0, in, 0, 0, 4096);
    render (*makeState(), mono, stereo (-10));
    EXPECT_EQ (std::memcmp (mono.getReadPointer (0), in.getReadPointer (0), 4096 * sizeof (float)), 0);
}

TEST (StereoModule, WidthScalesTheSideOnOneSideOfTheOnePoleSplit)
{
    // Side level of a pure side tone after the module, against |w H + (1 - H)| or
    // |H + w (1 - H)| with H the 500 Hz one-pole low-pass.
    const auto sideGain = [] (double frequency, int width, bool below) {
        juce::AudioBuffer<float> b (2, 48000);
        for (int i = 0; i < 48000; ++i)
        {
            const float s = 0.3f * (float) std::sin (2.0 * M_PI * frequency * i / 48000.0);
            b.setSample (0, i, s);
            b.setSample (1, i, -s);
        }
        render (*makeState(), b, stereo (width, below));
        return rmsOf (b, 24000, 24000) / (0.3 / std::sqrt (2.0));
    };
    const auto expected = [] (double frequency, int width, bool below) {
        const double c = onePoleCoefficient (500.0f, 48000.0), w = 1.0 + width / 10.0;
        const auto h = c / (1.0 - (1.0 - c) * std::polar (1.0, -2.0 * M_PI * frequency / 48000.0));
        return std::abs (below ? w * h + (1.0 - h) : h + w * (1.0 - h));
    };
    for (double f : { 50.0, 5000.0 })
        for (int width : { -10, 10 })
            for (bool below : { false, true })
                EXPECT_NEAR (sideGain (f, width, below), expected (f, width, below), 0.01)
                    << f << " Hz, width " << width << (below ? " below" : "");
    EXPECT_LT (expected (5000.0, -10, false), 0.11); // narrowing removes the highs' side
}
