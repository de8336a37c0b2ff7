#include "HeadlessEngineFixture.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryCodes.h"
#include "foundry/FoundryLayerStages.h"

using namespace qvtest;
using namespace quorvalen::foundry;
using quorvalen::engine;

namespace
{
constexpr std::int32_t layer = transientLayerId;

class FoundryLayerStages : public HeadlessEngineTest
{
protected:
    static const juce::AudioBuffer<float>& audioOf (std::int32_t id)
    {
        return *engine().cache.entries.at ((std::uint32_t) id).buffer;
    }
    static int samplesOf (std::int32_t id) { return audioOf (id).getNumSamples(); }

    // A cut of `audio` (at 48 kHz) into the transient layer entry, unchanged.
    void layerFrom (const juce::AudioBuffer<float>& audio)
    {
        ASSERT_EQ (renderFoundryProcessedRegion (engine(), cache (audio), layer, 0.0f, 100.0f, 0.0f, false), 0);
    }

    static juce::AudioBuffer<float> ones (int channels, int samples)
    {
        juce::AudioBuffer<float> b (channels, samples);
        for (int c = 0; c < channels; ++c)
            juce::FloatVectorOperations::fill (b.getWritePointer (c), 1.0f, samples);
        return b;
    }
};
} // namespace

TEST_F (FoundryLayerStages, CutLengthsPitchLevelAndCodes)
{
    const int id = cache (sine (300.0, 48000.0, 48000, 0.5f));
    ASSERT_EQ (renderFoundryProcessedRegion (engine(), id, layer, 12.0f, 100.0f, 500.0f, false), 0);
    EXPECT_EQ (samplesOf (layer), 12000);
    EXPECT_EQ (engine().cache.entries.at ((std::uint32_t) layer).name, "__foundry_processed_region__");
    ASSERT_EQ (renderFoundryProcessedRegion (engine(), id, layer, -12.0f, 50.0f, 500.0f, false), 0);
    EXPECT_EQ (samplesOf (layer), 48000);
    EXPECT_NEAR (peakAbs (audioOf (layer).getReadPointer (0), 48000), 0.25f, 1e-3f);
    ASSERT_EQ (renderFoundryProcessedRegion (engine(), id, layer, 0.0f, 100.0f, 0.0f, true), 0);
    EXPECT_EQ (samplesOf (layer), 48000 - 1440); // the 30 ms attack skipped

    // A start past the end keeps the last sample: max(llround(1 / ratio), 1) samples.
    ASSERT_EQ (renderFoundryProcessedRegion (engine(), id, layer, -24.0f, 100.0f, 1.0e9f, false), 0);
    EXPECT_EQ (samplesOf (layer), 4);
    ASSERT_EQ (renderFoundryProcessedRegion (engine(), id, layer, 24.0f, 100.0f, 999.99f, false), 0);
    EXPECT_EQ (samplesOf (layer), 1);
    ASSERT_EQ (renderFoundryProcessedRegion (engine(), id, layer, 12.0f, 100.0f, INFINITY, false), 0);
    EXPECT_EQ (samplesOf (layer), 1); // an infinite start is the end, as 1e9 ms is
    ASSERT_EQ (renderFoundryProcessedRegion (engine(), id, layer, 12.0f, 100.0f, -INFINITY, false), 0);
    EXPECT_EQ (samplesOf (layer), 24000);

    // Non-finite pitch, level and start take their neutral values.
    ASSERT_EQ (
        renderFoundryProcessedRegion (engine(), id, layer, std::nanf (""), std::nanf (""), std::nanf (""), false), 0);
    EXPECT_EQ (samplesOf (layer), 48000);
    EXPECT_NEAR (peakAbs (audioOf (layer).getReadPointer (1), 48000), 0.5f, 1e-3f);

    EXPECT_EQ (renderFoundryProcessedRegion (engine(), 99999, layer, 0, 100, 0, false), 2);
    std::uint32_t empty = 0;
    {
        std::lock_guard lock (engine().engineMutex);
        empty =
            quorvalen::insertCacheEntry (engine(), { std::make_unique<juce::AudioBuffer<float>> (2, 0), 48000.0, "e" });
    }
    EXPECT_EQ (renderFoundryProcessedRegion (engine(), (int) empty, layer, 0, 100, 0, false), 6);
    EXPECT_EQ (applyFoundryEdgeFades (engine(), (int) empty, 3.0f), 6);
    EXPECT_EQ (renderFoundryLayerStage (engine(), 12345, 3, 0, false, {}, 0.0f), 8);
    EXPECT_EQ (renderFoundryLayerStage (engine(), 12345, (std::uint32_t) -1, 0, false, {}, 0.0f), 8);
    EXPECT_EQ (shapeFoundryTransient (engine(), 12345, 50.0f), 2);
    EXPECT_EQ (applyFoundryStereoWidth (engine(), 12345, 0.0f), 0); // nothing to do: no lookup

    quorvalen_engine_shutdown();
    EXPECT_EQ (renderFoundryProcessedRegion (engine(), id, layer, 0, 100, 0, false), 1);
}

TEST_F (FoundryLayerStages, TransientShapingAtFullAmount)
{
    layerFrom (ones (2, 48000));
    ASSERT_EQ (shapeFoundryTransient (engine(), layer, 100.0f), 0);
    ASSERT_EQ (samplesOf (layer), 24000);
    const auto* x = audioOf (layer).getReadPointer (1);
    EXPECT_EQ (x[0], 0.0f);
    EXPECT_NEAR (x[8400], (1.0 - std::exp (-0.75)) / (1.0 - std::exp (-1.5)), 1e-4);
    EXPECT_FLOAT_EQ (x[16799], 1.0f);
    EXPECT_FLOAT_EQ (x[20000], 1.0f);
    ASSERT_EQ (shapeFoundryTransient (engine(), layer, std::nanf ("")), 0);
    EXPECT_EQ (samplesOf (layer), 24000);
}

TEST_F (FoundryLayerStages, WidthOnStereoAndMono)
{
    auto stereo = sine (300.0, 48000.0, 4800, 0.5f);
    stereo.applyGain (1, 0, 4800, 0.2f);
    layerFrom (stereo);
    ASSERT_EQ (applyFoundryStereoWidth (engine(), layer, -100.0f), 0);
    for (int i = 0; i < 4800; i += 37)
        EXPECT_FLOAT_EQ (audioOf (layer).getSample (0, i), audioOf (layer).getSample (1, i));

    layerFrom (stereo);
    ASSERT_EQ (applyFoundryStereoWidth (engine(), layer, 100.0f), 0);
    const float l = stereo.getSample (0, 100), r = stereo.getSample (1, 100);
    EXPECT_NEAR (audioOf (layer).getSample (0, 100), (l + r) / 2 + (l - r), 1e-6f);

    auto mono = sine (300.0, 48000.0, 4800, 0.5f, 1);
    layerFrom (mono);
    ASSERT_EQ (applyFoundryStereoWidth (engine(), layer, -60.0f), 0);
    EXPECT_EQ (audioOf (layer).getNumChannels(), 1);
    ASSERT_EQ (applyFoundryStereoWidth (engine(), layer, 100.0f), 0);
    ASSERT_EQ (audioOf (layer).getNumChannels(), 2);
    const int d = 18; // llround(48000 x 0.00037)
    const float e = (mono.getSample (0, 100) - mono.getSample (0, 100 - d)) * 0.42f;
    EXPECT_NEAR (audioOf (layer).getSample (0, 100), mono.getSample (0, 100) + e, 1e-6f);
    EXPECT_NEAR (audioOf (layer).getSample (1, 100), mono.getSample (0, 100) - e, 1e-6f);
}

TEST_F (FoundryLayerStages, FadesWindowsMonoAndInvert)
{
    layerFrom (ones (2, 1000));
    ASSERT_EQ (applyFoundryEdgeFades (engine(), layer, 1.0f), 0); // 48 samples
    EXPECT_EQ (audioOf (layer).getSample (0, 0), 0.0f);
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (0, 24), 24.0f / 47.0f);
    EXPECT_EQ (audioOf (layer).getSample (1, 999), 0.0f);
    layerFrom (ones (1, 50));
    ASSERT_EQ (applyFoundryEdgeFades (engine(), layer, 1.0f), 0); // overlapping: the middle twice
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (0, 25), (25.0f / 47.0f) * (24.0f / 47.0f));
    layerFrom (ones (1, 50));
    ASSERT_EQ (applyFoundryEdgeFades (engine(), layer, std::nanf ("")), 0); // one sample: ends silenced
    EXPECT_EQ (audioOf (layer).getSample (0, 0), 0.0f);
    EXPECT_EQ (audioOf (layer).getSample (0, 49), 0.0f);
    EXPECT_EQ (audioOf (layer).getSample (0, 1), 1.0f);

    layerFrom (ones (2, 100));
    ASSERT_EQ (applyFoundryRegionWindow (engine(), layer, 10.0f, 20.0f), 0);
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (0, 5), 0.5f);
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (0, 50), 1.0f);
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (0, 89), 10.0f / 20.0f);
    EXPECT_EQ (audioOf (layer).getSample (0, 99), 0.0f);

    auto lr = ones (2, 10);
    lr.applyGain (1, 0, 10, 0.0f);
    layerFrom (lr);
    ASSERT_EQ (applyFoundryMonoInvert (engine(), layer, true, true), 0);
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (0, 3), -0.5f);
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (1, 3), -0.5f);
}

TEST_F (FoundryLayerStages, LaneStageAppliesItsLayersLanes)
{
    // Level lane from -60 dB to 0 dB over a 500 ms time base of a 1 s layer: it
    // reaches its end value half-way and holds it.
    const float t[] = { 0.0f, 1.0f }, v[] = { 0.0f, 1.0f };
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (2, 1, t, v, 2), 0);
    layerFrom (ones (2, 48000));
    ASSERT_EQ (renderFoundryLayerStage (engine(), layer, 2, 0, false, {}, 500.0f), 0);
    EXPECT_NEAR (audioOf (layer).getSample (0, 0), 0.001f, 1e-6f);
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (1, 23999), 1.0f);
    EXPECT_FLOAT_EQ (audioOf (layer).getSample (1, 40000), 1.0f);
    // A lane of another layer leaves this one alone.
    layerFrom (ones (2, 4800));
    ASSERT_EQ (renderFoundryLayerStage (engine(), layer, 0, 0, false, {}, 0.0f), 0);
    EXPECT_EQ (audioOf (layer).getSample (0, 0), 1.0f);

    // A pitch lane at +12 semitones reads at double speed; the length stays, the
    // second half (past the source's end) is silent.
    quorvalen_engine_set_foundry_automation (2, 1, nullptr, nullptr, 0);
    const float up[] = { 0.75f };
    const float at[] = { 0.5f };
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (2, 0, at, up, 1), 0);
    const auto tone = sine (300.0, 48000.0, 48000, 0.5f);
    layerFrom (tone);
    ASSERT_EQ (renderFoundryLayerStage (engine(), layer, 2, 0, false, {}, 0.0f), 0);
    ASSERT_EQ (samplesOf (layer), 48000);
    EXPECT_NEAR (dominantFrequency (audioOf (layer).getReadPointer (0), 16384, 48000.0), 600.0, 3.0);
    EXPECT_EQ (peakAbs (audioOf (layer).getReadPointer (0) + 24000, 24000), 0.0f);
    quorvalen_engine_set_foundry_automation (2, 0, nullptr, nullptr, 0);
}

TEST_F (FoundryLayerStages, OvertoneOverlayBeforeAndAfterTheEnd)
{
    const int overtone = cache (ones (1, 4800));
    auto preview = [] (int samples) {
        std::lock_guard lock (engine().engineMutex);
        engine().playback.playbackBuffer = std::make_unique<juce::AudioBuffer<float>> (2, samples);
        engine().playback.playbackBuffer->clear();
    };

    OvertoneOverlay o;
    o.sourceId = overtone;
    o.overlayStartMs = 10.0f;
    o.overlayEndMs = 5.0f; // before its start: nothing mixed, nothing lengthened
    preview (4800);
    ASSERT_EQ (overlayFoundryOvertone (engine(), o, 48000.0), 0);
    EXPECT_EQ (engine().playback.playbackBuffer->getNumSamples(), 4800);
    EXPECT_EQ (peakAbs (engine().playback.playbackBuffer->getReadPointer (0), 4800), 0.0f);
    EXPECT_EQ (engine().cache.entries.count ((std::uint32_t) overtoneLayerId), 0u);

    // Starting past the preview's end lengthens it up to the overlay's end.
    o.overlayStartMs = 200.0f;
    o.overlayEndMs = 250.0f;
    preview (4800);
    ASSERT_EQ (overlayFoundryOvertone (engine(), o, 48000.0), 0);
    const auto& b = *engine().playback.playbackBuffer;
    ASSERT_EQ (b.getNumSamples(), 12000);
    EXPECT_EQ (peakAbs (b.getReadPointer (0), 9600), 0.0f);
    EXPECT_NEAR (b.getSample (1, 9600 + 1200), 1.0f, 1e-6f); // the overtone over silence
    EXPECT_EQ (b.getSample (1, 9600), 0.0f);                 // its 3 ms edge fade

    // A NaN end mixes nothing; an end beyond any buffer fails with 7 instead of allocating.
    o.overlayEndMs = std::nanf ("");
    preview (4800);
    EXPECT_EQ (overlayFoundryOvertone (engine(), o, 48000.0), 0);
    EXPECT_EQ (engine().playback.playbackBuffer->getNumSamples(), 9600);
    o.overlayEndMs = 1.0e12f;
    EXPECT_EQ (overlayFoundryOvertone (engine(), o, 48000.0), 7);
    o.sourceId = 0;
    EXPECT_EQ (overlayFoundryOvertone (engine(), o, 48000.0), 0);
    o.sourceId = overtone;
    EXPECT_EQ (overlayFoundryOvertone (engine(), o, 0.0), 5);
}
