// The offline stretch utility: lengths and pitch of the result, the lower clamps,
// refusals that leave the destination alone, whole output under the library's own
// threading, and no complaints from the library on standard error.
#include "EngineTestSupport.h"
#include "TestAudio.h"

#include "dsp/stretch/StretchUtility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace quorvalen;
using namespace qvtest;

namespace
{
constexpr double rate = 48000.0;

bool sameAudio (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int ch = 0; ch < a.getNumChannels(); ++ch)
        if (std::memcmp (a.getReadPointer (ch), b.getReadPointer (ch), sizeof (float) * (size_t) a.getNumSamples())
            != 0)
            return false;
    return true;
}

// Dominant frequency of the middle half of channel `ch`.
double middleFrequency (const juce::AudioBuffer<float>& audio, int ch = 0)
{
    const int n = audio.getNumSamples();
    return dominantFrequency (audio.getReadPointer (ch, n / 4), n / 2, rate);
}
} // namespace

TEST (Stretch, TimeRatioSetsTheLengthAndKeepsThePitch)
{
    const auto input = sine (440.0, rate, 24000);
    StderrCapture err;
    for (const double ratio : { 2.0, 0.5 })
    {
        juce::AudioBuffer<float> out;
        ASSERT_TRUE (stretchBuffer (input, out, rate, ratio, 1.0, stretchOptions::finer, 4096)) << ratio;
        EXPECT_EQ (out.getNumChannels(), 2);
        EXPECT_NEAR (out.getNumSamples(), 24000 * ratio, 2.0) << ratio;
        EXPECT_NEAR (middleFrequency (out), 440.0, 3.0) << ratio;
        EXPECT_GT (rms (out.getReadPointer (1, out.getNumSamples() / 4), out.getNumSamples() / 2), 0.2f);
    }
    // A 20x stretch in 4096-sample blocks makes more output per block than the
    // finer engine holds at once; none of it may be lost.
    {
        juce::AudioBuffer<float> out;
        ASSERT_TRUE (
            stretchBuffer (sine (440.0, rate, 8192, 0.5f, 1), out, rate, 20.0, 1.0, stretchOptions::drone, 4096));
        EXPECT_EQ (out.getNumSamples(), 8192 * 20);
        EXPECT_GT (rms (out.getReadPointer (0, 150000), 10000), 0.2f);
    }
    // Pitch alone, with both engines: frequency moves, length does not. (The
    // faster engine lands a few cents flat with short windows.)
    for (const int options : { stretchOptions::finer, stretchOptions::beat })
    {
        juce::AudioBuffer<float> out;
        ASSERT_TRUE (stretchBuffer (input, out, rate, 1.0, 2.0, options, 4096));
        EXPECT_NEAR (out.getNumSamples(), 24000, 2.0);
        EXPECT_NEAR (middleFrequency (out), 880.0, options == stretchOptions::finer ? 3.0 : 12.0)
            << std::hex << options;
    }
    // The pitch is given before the study pass, so the library has nothing to refuse.
    EXPECT_EQ (err.finish(), "");
}

TEST (Stretch, FloorsHoldAndRefusalsLeaveTheDestinationAlone)
{
    juce::AudioBuffer<float> floor, below;
    const auto tone = sine (300.0, rate, 2400);
    ASSERT_TRUE (stretchBuffer (tone, floor, rate, 0.05, 1.0, stretchOptions::finer, 4096));
    ASSERT_TRUE (stretchBuffer (tone, below, rate, 0.01, 1.0, stretchOptions::finer, 4096));
    EXPECT_NEAR (floor.getNumSamples(), 120, 2);
    EXPECT_TRUE (sameAudio (floor, below));
    ASSERT_TRUE (stretchBuffer (tone, floor, rate, 1.0, 0.01, stretchOptions::finer, 4096));
    ASSERT_TRUE (stretchBuffer (tone, below, rate, 1.0, 0.0, stretchOptions::finer, 4096));
    EXPECT_TRUE (sameAudio (floor, below));

    const auto input = sine (440.0, rate, 4800);
    const auto marker = sine (100.0, rate, 77, 0.25f, 1);
    auto refused = [&] (const juce::AudioBuffer<float>& source, double r, double ratio, double pitch) {
        auto out = marker;
        const bool ok = stretchBuffer (source, out, r, ratio, pitch, stretchOptions::finer, 4096);
        return ! ok && sameAudio (out, marker);
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();

    EXPECT_TRUE (refused (juce::AudioBuffer<float> (0, 4800), rate, 1.0, 1.0));
    EXPECT_TRUE (refused (juce::AudioBuffer<float> (2, 0), rate, 1.0, 1.0));
    for (const double r : { 0.0, -48000.0, nan, inf, 7999.0, 192001.0 })
        EXPECT_TRUE (refused (input, r, 1.0, 1.0)) << r;
    for (const double ratio : { nan, inf })
        EXPECT_TRUE (refused (input, rate, ratio, 1.0)) << ratio;
    for (const double pitch : { nan, inf })
        EXPECT_TRUE (refused (input, rate, 1.0, pitch)) << pitch;
    // A result past 2^31-1 samples is refused before any work.
    EXPECT_TRUE (refused (input, rate, 1.0e6, 1.0));

    // The ends of the supported range work, with any channel count and block size.
    EXPECT_TRUE (stretchBuffer (sine (200.0, 8000.0, 400, 0.5f, 1), below, 8000.0, 1.5, 1.0, stretchOptions::beat, -3));
    EXPECT_EQ (below.getNumChannels(), 1);
    EXPECT_TRUE (
        stretchBuffer (sine (200.0, 192000.0, 9000, 0.5f, 3), below, 192000.0, 1.0, 1.0, stretchOptions::beat, 4096));
    EXPECT_EQ (below.getNumChannels(), 3);
}

TEST (Stretch, LibraryThreadingStillDeliversTheWholeOutput)
{
    // With the library's default options it may run threads of its own, which
    // report "nothing ready" while they still work; the tail must not be lost.
    const auto input = sine (220.0, 44100.0, 50000);
    juce::AudioBuffer<float> first, again;
    ASSERT_TRUE (stretchBuffer (input, first, 44100.0, 10.0, 1.0, stretchOptions::libraryDefaults, 1024));
    EXPECT_NEAR (first.getNumSamples(), 500000, 10);
    ASSERT_TRUE (stretchBuffer (input, again, 44100.0, 10.0, 1.0, stretchOptions::libraryDefaults, 1024));
    EXPECT_TRUE (sameAudio (first, again));
}
