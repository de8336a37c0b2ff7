// The stroke dispatcher and the knife through the exports.
#include "SpectralTestSupport.h"

#include "engine/QuorvalenEngine.h"

#include <quorvalen_dsp.h>

#include <cmath>
#include <thread>

using namespace qvtest;
using namespace std::chrono_literals;
using quorvalen::engine;

namespace
{
class KnifeStroke : public SpectralFixture
{
protected:
    void SetUp() override
    {
        SpectralFixture::SetUp();
        s = open (cache (sine (200.0, 48000.0, 48000, 0.4f), 48000.0));
        ASSERT_GT (s.session, 0);
    }

    // Bin k of the centre frame of a point at t = 0.5, channel 0.
    std::complex<float> centreFrameBin (int k)
    {
        const auto& st = session (s.session);
        return st.stftBins[0][(std::size_t) (st.stftFrames / 2) * 513 + (std::size_t) k];
    }

    Opened s;
};
} // namespace

TEST_F (KnifeStroke, DispatcherRefusesBadStrokesBeforeAnythingChanges)
{
    const juce::AudioBuffer<float> before (audio (s.live));
    const std::vector<StrokePoint> cut { { 0.5f, 0.5f, 0.05f, 0.05f, 2.0f } };
    const uint32_t tools[2] = { 0, 1 };
    const float two[10] = { 0.5f, 0.5f, 0.1f, 0.1f, 1.0f, 0.5f, 0.5f, 0.1f, 0.1f, 1.0f };
    EXPECT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (s.session, nullptr, tools, 1), -1);
    EXPECT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (s.session, two, nullptr, 1), -1);
    EXPECT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (s.session, two, tools, 0), -1);
    EXPECT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (s.session, two, tools, 2), -6);
    const std::vector<StrokePoint> many (20001, cut[0]);
    EXPECT_EQ (stroke (s.session, many, 0), -2);
    EXPECT_EQ (stroke (s.session + 100, cut, 0), -3);
    EXPECT_EQ (stroke (s.session, cut, 5), -6);
    for (float bad : { std::nanf (""), INFINITY, -INFINITY })
        for (int field = 0; field < 5; ++field)
        {
            auto p = cut;
            (&p[0].p0)[field] = bad;
            for (uint32_t tool = 0; tool <= 4; ++tool)
                EXPECT_EQ (stroke (s.session, p, tool), -1) << field << " tool " << tool;
        }
    EXPECT_EQ (maxAbsDifference (audio (s.live), before), 0.0f);
    EXPECT_TRUE (session (s.session).undoStack.empty());
}

TEST_F (KnifeStroke, DepthZeroChangesNothingAndLogsNothing)
{
    const juce::AudioBuffer<float> before (audio (s.live));
    StdoutCapture out;
    EXPECT_EQ (stroke (s.session, { { 0.5f, 0.5f, 0.2f, 0.2f, 0.0f } }, 0), (int) s.live);
    EXPECT_EQ (out.finish(), "");
    EXPECT_EQ (maxAbsDifference (audio (s.live), before), 0.0f);
    EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), -2);
}

TEST_F (KnifeStroke, CentreBinsFollowTheDisplayCurveAndDepthSquaresTheGain)
{
    // Smallest radii: the box is frames cf-1..cf and bins cb-2..cb+1; only frame cf
    // has weight. Depth 2 removes the centre bin, depth 1 keeps a quarter of it.
    struct Case
    {
        float y, depth;
        int centre;
        float centreGain, neighbourGain;
    };
    const float half = std::pow (1.0f - 0.5f * std::pow (0.5f, 1.9f), 2.0f);
    const float halfDepth2 = std::pow (1.0f - std::pow (0.5f, 1.9f), 2.0f);
    for (const auto& c : { Case { 0.5f, 2.0f, 32, 0.0f, halfDepth2 }, Case { 0.75f, 1.0f, 13, 0.25f, half } })
    {
        const auto before = session (s.session).stftBins[0];
        const int frame = session (s.session).stftFrames / 2;
        StdoutCapture out;
        ASSERT_EQ (stroke (s.session, { { 0.5f, c.y, 1e-6f, 1e-6f, c.depth } }, 0), (int) s.live);
        EXPECT_EQ (out.finish(),
                   "[QUORVALEN WEB STFT DOUBLE KNIFE 1.0.2] session " + std::to_string (s.session)
                       + " stroke applied (1 edits)\n");
        const auto& after = session (s.session).stftBins[0];
        auto ratio = [&] (int f, int k) {
            const auto i = (std::size_t) f * 513 + (std::size_t) k;
            return std::abs (after[i]) / std::abs (before[i]);
        };
        // Every bin is also scaled by the peak normalisation.
        const float gain = ratio (frame, c.centre + 20);
        EXPECT_NEAR (ratio (frame, c.centre), c.centreGain * gain, 1e-4f * gain) << c.y;
        EXPECT_NEAR (ratio (frame, c.centre - 1), c.neighbourGain * gain, 1e-4f * gain) << c.y;
        EXPECT_NEAR (ratio (frame, c.centre + 1), c.neighbourGain * gain, 1e-4f * gain) << c.y;
        EXPECT_NEAR (ratio (frame - 1, c.centre), gain, 1e-4f * gain) << c.y;
    }
}

TEST_F (KnifeStroke, AChangingStrokeSetsThePeakAndResynthesisesTheRest)
{
    // A cut high above the 200 Hz tone: what the host exports is the tone, scaled
    // to a 0.97 peak, through the STFT and back.
    ASSERT_EQ (stroke (s.session, { { 0.5f, 0.02f, 0.05f, 0.001f, 2.0f } }, 0), (int) s.live);
    const auto dir = tempDir();
    ASSERT_EQ (quorvalen_engine_export_cached_wav ((int) s.live, (dir + "/live.wav").c_str()), 0);
    const auto exported = readAudio (dir + "/live.wav");
    const auto& live = audio (s.live);
    EXPECT_NEAR (std::max (live.getMagnitude (0, 0, 48000), live.getMagnitude (1, 0, 48000)), 0.97f, 1e-6f);
    auto tone = sine (200.0, 48000.0, 48000, 0.97f);
    EXPECT_LT (maxAbsDifference (live, tone), 2e-3f);
    EXPECT_LT (maxAbsDifference (exported, tone), 2e-3f);
}

TEST_F (KnifeStroke, PlaybackResumesInPlaceWhileAStrokeLandsOnThePlayingLiveCopy)
{
    const auto r = strokeWhilePlaying ([] (int live) { return quorvalen_engine_play_cached (live, 0.0f, 100.0f); },
                                       { 0.9f, 0.1f, 0.01f, 0.01f, 1.0f }, 0);
    ASSERT_EQ (r.result, (int) r.live);
    EXPECT_NE (r.log.find ("s (loop 0, processing 0)\n"), std::string::npos);
    EXPECT_FALSE (engine().playback.playingThroughRack);
    // The knife rescaled the ramp to a 0.97 peak.
    const float skipped = rampSecondsSkipped (r.out.left, 0.97f / 0.35f);
    EXPECT_GT (skipped, 0.0f);
    EXPECT_LT (skipped, 0.15f);
}

TEST_F (KnifeStroke, AStrokeThatCannotBeCarriedThroughLeavesAudioBinsAndPlaybackAsTheyWere)
{
    // A finite but absurd depth overflows the bins: refused after the fact.
    const juce::AudioBuffer<float> before (audio (s.live));
    const auto bins = session (s.session).stftBins;
    ASSERT_EQ (quorvalen_engine_play_cached ((int) s.live, 0.0f, 100.0f), 0);
    EXPECT_EQ (stroke (s.session, { { 0.5f, 0.5f, 0.05f, 0.05f, 1e30f } }, 0), -5);
    EXPECT_EQ (maxAbsDifference (audio (s.live), before), 0.0f);
    EXPECT_EQ (session (s.session).stftBins, bins);
    EXPECT_TRUE (session (s.session).undoStack.empty());
    EXPECT_TRUE (engine().playback.transportSource.isPlaying());
    EXPECT_EQ (engine().playback.playingCacheId, s.live);
}
