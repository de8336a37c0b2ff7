// The body/tail join through the morph export: exact concatenation, the coherent
// handover of identical signals, the constant-Q handover of short overlaps, rates
// and channel counts, the codes and the limit on times.
#include "HeadlessEngineFixture.h"
#include "MemoryCap.h"

#include "engine/QuorvalenEngine.h"

#include <chrono>
#include <cmath>

using namespace qvtest;
using quorvalen::engine;

namespace
{

// A copy of the engine's playback buffer (what the morph plays).
juce::AudioBuffer<float> joined()
{
    std::lock_guard lock (engine().engineMutex);
    juce::AudioBuffer<float> copy;
    if (engine().playback.playbackBuffer != nullptr)
        copy.makeCopyOf (*engine().playback.playbackBuffer);
    return copy;
}

juce::AudioBuffer<float> ramp (int samples, int channels, float slope)
{
    juce::AudioBuffer<float> b (channels, samples);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < samples; ++i)
            b.setSample (c, i, std::sin (slope * (float) i * (float) i * 1e-6f + (float) c));
    return b;
}

int countOf (const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto p = text.find (what); p != std::string::npos; p = text.find (what, p + 1))
        ++n;
    return n;
}

class FoundryMorph : public HeadlessEngineTest
{};

TEST_F (FoundryMorph, ZeroCrossfadeConcatenatesExactlyAndPlays)
{
    const auto a = sine (440.0, 48000.0, 14400);
    const auto b = ramp (9600, 2, 3.0f);
    const int idA = cache (a), idB = cache (b);
    StderrCapture log;
    ASSERT_EQ (quorvalen_engine_play_body_tail_morph (idA, idB, 100.0f, 0.0f), 0);
    EXPECT_EQ (countOf (log.finish(), "[KOLVANE JOIN]"), 0);

    const auto out = joined();
    ASSERT_EQ (out.getNumSamples(), 4800 + 9600);
    ASSERT_EQ (out.getNumChannels(), 2);
    for (int c = 0; c < 2; ++c)
    {
        for (int i = 0; i < 4800; ++i)
            ASSERT_EQ (out.getSample (c, i), a.getSample (c, i));
        for (int i = 0; i < 9600; ++i)
            ASSERT_EQ (out.getSample (c, 4800 + i), b.getSample (c, i));
    }
    double position = 0, length = 0;
    uint32_t playing = 0;
    ASSERT_EQ (quorvalen_engine_get_playback_telemetry (&position, &length, &playing), 0);
    EXPECT_EQ (playing, 1u);
    EXPECT_NEAR (length, 14400 / 48000.0, 1e-6);
    auto heard = recordFrames (4096);
    EXPECT_GT (peakAbs (heard.left.data(), (int) heard.left.size()), 0.05f);

    // Both names are one function.
    ASSERT_EQ (quorvalen_engine_play_transient_body_morph (idA, idB, 100.0f, 0.0f), 0);
    EXPECT_EQ (joined().getNumSamples(), 4800 + 9600);
}

TEST_F (FoundryMorph, IdenticalSignalsHandOverCoherentlyOncePerChannel)
{
    const auto a = sine (220.0, 48000.0, 48000);
    const int id = cache (a);
    StderrCapture log;
    ASSERT_EQ (quorvalen_engine_play_body_tail_morph (id, id, 0.0f, 100.0f), 0);
    const auto text = log.finish();
    EXPECT_EQ (countOf (text, "[KOLVANE JOIN] coherent phase handover 100.0 ms\n"), 2) << text;

    const auto out = joined();
    ASSERT_EQ (out.getNumSamples(), 48000);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 48000; ++i)
            ASSERT_NEAR (out.getSample (c, i), a.getSample (c, i), 1e-4f) << c << " " << i;
}

TEST_F (FoundryMorph, ShortOverlapTakesTheConstantQHandoverWithoutNaN)
{
    const auto a = sine (330.0, 48000.0, 24000);
    const auto b = ramp (24000, 2, 9.0f);
    const int idA = cache (a), idB = cache (b);
    StderrCapture log;
    ASSERT_EQ (quorvalen_engine_play_body_tail_morph (idA, idB, 200.0f, 20.0f), 0);
    EXPECT_EQ (countOf (log.finish(), "[KOLVANE JOIN]"), 0);

    const auto out = joined();
    ASSERT_EQ (out.getNumSamples(), 9600 + 24000);
    const int j = 9600, o = 960;
    for (int c = 0; c < 2; ++c)
    {
        for (int i = 0; i < out.getNumSamples(); ++i)
            ASSERT_TRUE (std::isfinite (out.getSample (c, i)));
        // Equal-power crossfade at both edges of the overlap, the second sound after.
        EXPECT_NEAR (out.getSample (c, j), a.getSample (c, j), 1e-6f);
        EXPECT_NEAR (out.getSample (c, j + o - 1), b.getSample (c, o - 1), 1e-6f);
        for (int i = o; i < 24000; ++i)
            ASSERT_EQ (out.getSample (c, j + i), b.getSample (c, i));
        EXPECT_GT (rms (out.getReadPointer (c, j), o), 0.1f);
        EXPECT_LT (peakAbs (out.getReadPointer (c, j), o), 2.0f);
    }
}

TEST_F (FoundryMorph, SecondSoundIsResampledAndChannelsFollowTheWider)
{
    juce::AudioBuffer<float> mono (1, 4800);
    for (int i = 0; i < 4800; ++i)
        mono.setSample (0, i, 0.25f);
    const auto b = sine (1000.0, 96000.0, 9601);
    const int idA = cache (mono), idB = cache (b, 96000.0);
    ASSERT_EQ (quorvalen_engine_play_body_tail_morph (idA, idB, 50.0f, 0.0f), 0);
    const auto out = joined();
    ASSERT_EQ (out.getNumChannels(), 2);
    EXPECT_EQ (out.getNumSamples(), 2400 + (int) std::llround (9601 / 2.0));
    EXPECT_EQ (out.getSample (1, 100), 0.25f); // the mono first sound feeds both channels
    EXPECT_NEAR (out.getSample (0, 2400 + 10), b.getSample (0, 20), 1e-6f);
}

TEST_F (FoundryMorph, CodesAndUnusableTimes)
{
    const int id = cache (sine (440.0, 48000.0, 4800));
    EXPECT_EQ (quorvalen_engine_play_body_tail_morph (999, id, 10.0f, 5.0f), 2);
    EXPECT_EQ (quorvalen_engine_play_body_tail_morph (id, 999, 10.0f, 5.0f), 3);
    EXPECT_EQ (quorvalen_engine_play_body_tail_morph (id, id, 1e30f, 5.0f), 7);
    EXPECT_EQ (quorvalen_engine_play_body_tail_morph (id, id, INFINITY, 5.0f), 0); // non-finite counts as 0
    EXPECT_EQ (joined().getNumSamples(), 4800);
    EXPECT_EQ (quorvalen_engine_play_body_tail_morph (id, id, NAN, NAN), 0);
    EXPECT_EQ (quorvalen_engine_play_body_tail_morph (id, id, -5.0f, 0.0f), 0);
    EXPECT_EQ (quorvalen_engine_play_body_tail_morph (id, id, -5.0f, 1e30f), 7); // past the limit
    quorvalen_engine_shutdown();
    EXPECT_EQ (quorvalen_engine_play_body_tail_morph (id, id, 10.0f, 5.0f), 1);
}

TEST_F (FoundryMorph, TimesPastTenMinutesAreRefusedBeforePlaybackStops)
{
    // At 8 kHz ten minutes are 4.8 M samples: the limit itself still joins.
    const int a = cache (sine (50.0, 8000.0, 800, 0.5f, 1), 8000.0);
    ASSERT_EQ (quorvalen_engine_play_body_tail_morph (a, a, 600000.0f, 600000.0f), 0);
    EXPECT_EQ (joined().getNumSamples(), 4800000 + 800);

    const int playing = cache (sine (440.0, 48000.0, 48000 * 5));
    ASSERT_EQ (quorvalen_engine_play_cached (playing, 0.0f, 100.0f), 0);
    const long peak = peakResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    for (const auto& [join, crossfade] :
         { std::pair { 600001.0f, 0.0f }, std::pair { 0.0f, 600001.0f }, std::pair { 1.0e7f, 1.0e7f },
           std::pair { 1.0e7f, 0.0f }, std::pair { 0.0f, 1.0e7f } })
    {
        EXPECT_EQ (quorvalen_engine_play_body_tail_morph (a, a, join, crossfade), 7) << join << " " << crossfade;
        EXPECT_EQ (quorvalen_engine_play_transient_body_morph (a, a, join, crossfade), 7);
    }
    EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::seconds (2));
    EXPECT_LT (peakResidentBytes() - peak, 32L << 20);
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) playing);
    double p = 0, l = 0;
    uint32_t on = 0;
    quorvalen_engine_get_playback_telemetry (&p, &l, &on);
    EXPECT_EQ (on, 1u);
}

} // namespace
