// The Z sculpt stroke through the exports.
#include "SpectralTestSupport.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/ZSculptStroke.h"

#include <quorvalen_dsp.h>

#include <cmath>
#include <thread>

using namespace qvtest;
using namespace std::chrono_literals;
using quorvalen::engine;

namespace
{
class ZSculptStroke : public SpectralFixture
{
protected:
    // 0.3 DC plus a 0.3 sine at 1 kHz, 2 s at 48 kHz.
    static juce::AudioBuffer<float> dcAndTone()
    {
        auto b = sine (1000.0, 48000.0, 96000, 0.3f);
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < b.getNumSamples(); ++i)
                b.setSample (c, i, b.getSample (c, i) + 0.3f);
        return b;
    }
    const std::vector<StrokePoint> wholePlane { { 0.5f, 0.5f, 0.5f, 0.5f, 0.0f } };
};
} // namespace

TEST_F (ZSculptStroke, AWholePlaneBoxRemovesTheToneButKeepsDirectCurrent)
{
    const auto s = open (cache (dcAndTone(), 48000.0));
    StdoutCapture out;
    ASSERT_EQ (stroke (s.session, wholePlane, 4), (int) s.live);
    const auto log = out.finish();
    EXPECT_EQ (log.rfind ("[QUORVALEN Z SCULPT STFT 1.9.0] session " + std::to_string (s.session)
                              + " applied (1 points, FFT 4096, hop 256, ",
                          0),
               0u);
    EXPECT_NE (log.find (" Hz)\n"), std::string::npos);

    // Mid-file, within the inner 48/56 of the ellipse: the tone is gone, the DC stays.
    const auto& live = audio (s.live);
    const float* x = live.getReadPointer (0) + 36000;
    double mean = 0.0;
    for (int i = 0; i < 24000; ++i)
        mean += x[i];
    mean /= 24000.0;
    float residue = 0.0f;
    for (int i = 0; i < 24000; ++i)
        residue = std::max (residue, std::abs (x[i] - (float) mean));
    EXPECT_NEAR (mean, 0.3, 1e-3);
    EXPECT_LT (residue, 3e-3f);

    const auto& record = session (s.session).undoStack.at (0);
    EXPECT_EQ (record.start, 0);
    EXPECT_EQ (record.end, 96000);
    EXPECT_EQ (record.channels, 2);
    EXPECT_EQ (record.wholeSignal, 1);
    ASSERT_EQ (record.boxes.size(), 1u);
}

TEST_F (ZSculptStroke, OutOfRangeValuesAreClampedAndIdenticalBoxesActOnce)
{
    const int source = cache (dcAndTone(), 48000.0);
    auto run = [&] (const std::vector<StrokePoint>& points) {
        const auto s = open (source);
        EXPECT_EQ (stroke (s.session, points, 4), (int) s.live);
        return juce::AudioBuffer<float> (audio (s.live));
    };
    const auto one = run ({ { 0.4f, 0.45f, 0.05f, 0.05f, 0.0f } });
    EXPECT_EQ (maxAbsDifference (run (std::vector<StrokePoint> (5, { 0.4f, 0.45f, 0.05f, 0.05f, 7.0f })), one), 0.0f);
    EXPECT_GT (maxAbsDifference (one, dcAndTone()), 0.1f);

    EXPECT_EQ (
        maxAbsDifference (run ({ { -3.0f, 1.5f, 0.0f, -1.0f, 0.0f } }), run ({ { 0.0f, 1.0f, 0.001f, 0.001f, 0.0f } })),
        0.0f);
    EXPECT_EQ (maxAbsDifference (run ({ { 0.5f, 0.5f, 9.0f, 2.0f, 0.0f } }), run (wholePlane)), 0.0f);

    const auto boxes = quorvalen::zSculptBoxes (&std::vector<float> { -3.0f, 1.5f, 0.0f, 0.7f, 0.0f }[0], 1);
    EXPECT_EQ (boxes[0].centreTime, 0.0f);
    EXPECT_EQ (boxes[0].centreY, 1.0f);
    EXPECT_EQ (boxes[0].halfWidth, 0.001f);
    EXPECT_EQ (boxes[0].halfHeight, 0.5f);
}

TEST (ZSculptGain, FallsFromTheRimToAHoleInTheMiddle)
{
    using quorvalen::zSculptBoxGain;
    EXPECT_EQ (zSculptBoxGain (0.0f), 0.0f);
    EXPECT_EQ (zSculptBoxGain (0.857f), 0.0f);
    EXPECT_NEAR (zSculptBoxGain (0.9464286f), 0.05f, 1e-6f);
    EXPECT_NEAR (zSculptBoxGain (0.999999f), 0.10f, 1e-5f);
    EXPECT_EQ (zSculptBoxGain (1.0f), 1.0f);
    EXPECT_NEAR (zSculptBoxGain (0.9017857f), 0.025f, 1e-6f);
}

TEST_F (ZSculptStroke, ShortSoundsAndRatesWithoutBands)
{
    // One sample: a single frame at t = 0.
    const auto tiny = open (cache (sine (100.0, 48000.0, 1, 0.5f), 48000.0));
    EXPECT_EQ (stroke (tiny.session, wholePlane, 4), (int) tiny.live);

    // At 30 Hz no constant-Q band fits below the Nyquist frequency: refused, unchanged.
    const auto slow = quorvalen::insertCacheEntry (
        engine(), { std::make_unique<juce::AudioBuffer<float>> (sine (1.0, 30.0, 300)), 30.0, "slow" });
    const auto s = open ((int) slow);
    ASSERT_GT (s.session, 0);
    const juce::AudioBuffer<float> before (audio (s.live));
    StdoutCapture out;
    EXPECT_EQ (stroke (s.session, wholePlane, 4), -5);
    EXPECT_EQ (out.finish(), "");
    EXPECT_EQ (maxAbsDifference (audio (s.live), before), 0.0f);
    EXPECT_TRUE (session (s.session).undoStack.empty());
}

TEST_F (ZSculptStroke, PlaybackThroughTheRackResumesInPlace)
{
    // A small box high up barely touches a ramp; the playback position is what counts.
    const auto r = strokeWhilePlaying (
        [] (int live) { return quorvalen_engine_play_cached_with_processing (live, "{}", 100.0f, 0); },
        { 0.9f, 0.05f, 0.01f, 0.01f, 0.0f }, 4);
    ASSERT_EQ (r.result, (int) r.live);
    EXPECT_NE (r.log.find ("s (loop 0, processing 1)\n"), std::string::npos);
    EXPECT_TRUE (engine().playback.playingThroughRack);
    const float skipped = rampSecondsSkipped (r.out.left);
    EXPECT_GT (skipped, 0.0f);
    EXPECT_LT (skipped, 0.15f);
}
