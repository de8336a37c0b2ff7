// The stroke dispatcher and the knife through the exports.
#include "SpectralTestSupport.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/stft/SpectralStft.h"
#include "spectral/stft/KnifeCut.h"
#include "spectral/stft/StrokeBudget.h"

#include <quorvalen_dsp.h>

#include <cmath>
#include <complex>
#include <thread>

using namespace qvtest;
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

using Bins = std::vector<std::vector<std::complex<float>>>;

// The cut as it was made point by point: a square root and a power per bin of
// the box, every channel scaled in turn. True when some gain differs from 1.
bool referenceCut (Bins& channels, const quorvalen::KnifeBox& box, float depth)
{
    bool changed = false;
    for (auto f = box.t0; f < box.t1; ++f)
    {
        const float dx = (float) (f - box.centreFrame) / (float) box.timeRadius;
        for (auto b = box.b0; b < box.b1; ++b)
        {
            const float dy = (float) (b - box.centreBin) / (float) box.binRadius;
            const float d = std::sqrt (dx * dx + dy * dy);
            const float w = std::min (1.0f, std::max (0.0f, 1.0f - d));
            if (w <= 0.0f)
                continue;
            const float h = 1.0f - 0.5f * depth * std::pow (w, 1.9f);
            const float g = h * h;
            for (auto& bins : channels)
                bins[(std::size_t) (f * 513 + b)] *= g;
            changed = changed || std::abs (g - 1.0f) > 1e-7f;
        }
    }
    return changed;
}

// Knife points: a drawn path with repeated radii, cuts of every depth kind, and
// points at the edges and over the whole file.
std::vector<quorvalen::KnifePoint> knifePath (int count)
{
    juce::Random r (7);
    std::vector<quorvalen::KnifePoint> points;
    const float depths[] = { 1.0f, 2.0f, 0.5f, 3.0f, -1.0f, 0.0f, 1e-9f };
    for (int i = 0; i < count; ++i)
    {
        const float radius = i % 3 == 0 ? 0.02f : 0.005f + 0.05f * r.nextFloat();
        points.push_back (
            { r.nextFloat(), r.nextFloat(), radius, i % 5 == 0 ? 0.01f : radius, depths[(std::size_t) i % 7] });
    }
    points.push_back ({ 1.0f, 0.0f, 0.01f, 0.01f, 1.0f });
    points.push_back ({ 0.0f, 1.0f, 0.01f, 0.01f, 1.0f });
    points.push_back ({ 0.5f, 0.5f, 2.0f, 2.0f, 0.3f });
    return points;
}
} // namespace

TEST (KnifeCut, MatchesThePointByPointCutBitForBit)
{
    const std::int64_t frames = 300;
    Bins bins (2, std::vector<std::complex<float>> ((std::size_t) frames * 513));
    juce::Random r (3);
    for (auto& channel : bins)
        for (auto& v : channel)
            v = { r.nextFloat() - 0.5f, r.nextFloat() - 0.5f };
    const auto points = knifePath (200);
    std::vector<quorvalen::KnifeBox> boxes;
    Bins expected = bins;
    std::vector<quorvalen::IndexSpan> changed;
    for (const auto& p : points)
    {
        boxes.push_back (quorvalen::knifeBox (p, frames));
        if (! boxes.back().empty() && referenceCut (expected, boxes.back(), p.depth))
            changed.push_back ({ boxes.back().t0, boxes.back().t1 });
    }
    const auto spans = quorvalen::mergeSpans (changed);

    // With the weight tables kept, and computed row by row.
    for (const std::size_t kept : { quorvalen::knifeKeptWeights, std::size_t { 0 } })
    {
        Bins cut = bins;
        const auto got = quorvalen::cutKnifeBoxes (cut, frames, points, boxes, kept);
        EXPECT_TRUE (cut == expected) << kept;
        ASSERT_EQ (got.size(), spans.size());
        for (std::size_t i = 0; i < spans.size(); ++i)
        {
            EXPECT_EQ (got[i].start, spans[i].start);
            EXPECT_EQ (got[i].end, spans[i].end);
        }
    }
}

TEST (KnifeCut, APointGivenAgainCutsAgainAsOnePointDoes)
{
    // A, B, A, A, C, B: three distinct points where they first came, A three
    // times and B twice, cut as the six one after the other but for rounding.
    const std::int64_t frames = 120;
    const float a[5] = { 0.3f, 0.4f, 0.2f, 0.3f, 1.0f }, b[5] = { 0.35f, 0.45f, 0.1f, 0.2f, 0.7f },
                c[5] = { 0.8f, 0.9f, 0.1f, 0.1f, 2.5f };
    std::vector<float> flat;
    for (const float* p : { a, b, a, a, c, b })
        flat.insert (flat.end(), p, p + 5);
    const auto points = quorvalen::knifePoints (flat.data(), 6);
    ASSERT_EQ (points.size(), 3u);

    Bins bins (2, std::vector<std::complex<float>> ((std::size_t) frames * 513));
    juce::Random r (5);
    for (auto& channel : bins)
        for (auto& v : channel)
            v = { r.nextFloat() - 0.5f, r.nextFloat() - 0.5f };
    Bins expected = bins, cut = bins;
    for (std::size_t i = 0; i < 6; ++i)
    {
        const float* p = flat.data() + 5 * i;
        referenceCut (expected, quorvalen::knifeBox ({ p[0], p[1], p[2], p[3], p[4] }, frames), p[4]);
    }
    std::vector<quorvalen::KnifeBox> boxes;
    for (const auto& p : points)
        boxes.push_back (quorvalen::knifeBox (p, frames));
    EXPECT_FALSE (quorvalen::cutKnifeBoxes (cut, frames, points, boxes).empty());
    float worst = 0.0f;
    for (std::size_t ch = 0; ch < bins.size(); ++ch)
        for (std::size_t i = 0; i < bins[ch].size(); ++i)
            worst = std::max (worst, std::abs (cut[ch][i] - expected[ch][i]) / std::max (std::abs (bins[ch][i]), 1e-3f));
    EXPECT_LT (worst, 1e-6f);
}

TEST_F (KnifeStroke, AStrokeRewritesOnlyTheSamplesItsCutFramesReach)
{
    // Two cuts far apart: the samples between them are only scaled to the new peak.
    const std::vector<StrokePoint> cuts { { 0.2f, 0.3f, 0.01f, 0.05f, 1.0f }, { 0.8f, 0.3f, 0.01f, 0.05f, 1.0f } };
    auto& st = session (s.session);
    quorvalen::SpectralSession expected;
    expected.numSamples = st.numSamples;
    expected.stftFrames = st.stftFrames;
    expected.stftWindow = st.stftWindow;
    expected.stftBins = st.stftBins;
    juce::AudioBuffer<float> audioExpected (audio (s.live));
    const juce::AudioBuffer<float> before (audio (s.live));

    std::vector<quorvalen::IndexSpan> reach;
    for (const auto& c : cuts)
    {
        const auto box = quorvalen::knifeBox ({ c.p0, c.p1, c.p2, c.p3, c.p4 }, expected.stftFrames);
        ASSERT_TRUE (referenceCut (expected.stftBins, box, c.p4));
        reach.push_back ({ box.t0 * 174 - 512, (box.t1 - 1) * 174 + 512 });
    }
    for (const auto& span : reach)
        ASSERT_EQ (quorvalen::resynthesiseSessionStft (expected, audioExpected, span.start, span.end), 0);
    const float gain =
        0.97f / std::max (audioExpected.getMagnitude (0, 0, 48000), audioExpected.getMagnitude (1, 0, 48000));
    audioExpected.applyGain (gain);
    for (auto& bins : expected.stftBins)
        for (auto& v : bins)
            v *= gain;

    ASSERT_EQ (stroke (s.session, cuts, 0), (int) s.live);
    EXPECT_EQ (maxAbsDifference (audio (s.live), audioExpected), 0.0f);
    EXPECT_TRUE (st.stftBins == expected.stftBins);
    for (int c = 0; c < 2; ++c)
        for (int i = (int) reach[0].end; i < (int) reach[1].start; ++i)
            ASSERT_EQ (audio (s.live).getSample (c, i), before.getSample (c, i) * gain) << i;
    EXPECT_GT (maxAbsDifference (audio (s.live), before), 0.1f);
}

TEST_F (KnifeStroke, AStrokeAboveTheCellBudgetIsRefusedBeforeAnythingChanges)
{
    // 20000 points over the whole of a 1 s sound: 2.8 billion cells.
    const juce::AudioBuffer<float> before (audio (s.live));
    const auto bins = session (s.session).stftBins;
    const StrokePoint whole { 0.5f, 0.5f, 1.0f, 1.0f, 1.0f };
    EXPECT_EQ (stroke (s.session, distinctCopies (20000, whole), 0), -2);
    EXPECT_EQ (maxAbsDifference (audio (s.live), before), 0.0f);
    EXPECT_TRUE (session (s.session).stftBins == bins);
    EXPECT_TRUE (session (s.session).undoStack.empty());

    // A point given again costs nothing more, and still cuts again: 20000 copies
    // of it cut as deep as its gain to the 20000th.
    ASSERT_EQ (stroke (s.session, std::vector<StrokePoint> (20000, whole), 0), (int) s.live);
    EXPECT_EQ (session (s.session).undoStack.size(), 1u);

    // A drawn path of 2000 points with radii 0.01 fits on a minute, even at the
    // top of the display where the boxes are widest.
    const std::int64_t minuteFrames = 60 * 48000 / 174 + 1;
    std::int64_t cells = 0;
    for (int i = 0; i < 2000; ++i)
        cells +=
            quorvalen::knifeBox ({ 0.1f + 0.8f * (float) i / 2000.0f, 0.0f, 0.01f, 0.01f, 1.0f }, minuteFrames).cells();
    EXPECT_LE (cells, quorvalen::maxStrokeCells);
    // On a minute, 63 distinct whole-plane points fit and 64 do not.
    const auto wholeMinute = quorvalen::knifeBox ({ 0.5f, 0.5f, 1.0f, 1.0f, 1.0f }, minuteFrames).cells();
    EXPECT_LE (63 * wholeMinute, quorvalen::maxStrokeCells);
    EXPECT_GT (64 * wholeMinute, quorvalen::maxStrokeCells);
}

TEST_F (KnifeStroke, ANonFiniteSampleNeitherSpreadsNorBlocksLaterStrokes)
{
    auto source = sine (200.0, 48000.0, 48000, 0.4f);
    source.setSample (0, 24000, std::nanf (""));
    source.setSample (0, 24010, INFINITY);
    const auto id = quorvalen::insertCacheEntry (
        engine(), { std::make_unique<juce::AudioBuffer<float>> (source), 48000.0, "non-finite" });
    const auto n = open ((int) id);
    ASSERT_GT (n.session, 0);
    for (const auto& bins : session (n.session).stftBins)
        for (const auto& v : bins)
            ASSERT_TRUE (std::isfinite (v.real()) && std::isfinite (v.imag()));

    // Away from them: accepted, and they stay where they were.
    ASSERT_EQ (stroke (n.session, { { 0.2f, 0.3f, 0.01f, 0.05f, 1.0f } }, 0), (int) n.live);
    ASSERT_EQ (stroke (n.session, { { 0.8f, 0.3f, 0.01f, 0.05f, 1.0f } }, 0), (int) n.live);
    auto nonFinite = [&] {
        int count = 0;
        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 48000; ++i)
                count += std::isfinite (audio (n.live).getSample (c, i)) ? 0 : 1;
        return count;
    };
    EXPECT_EQ (nonFinite(), 2);
    EXPECT_TRUE (std::isnan (audio (n.live).getSample (0, 24000)));
    EXPECT_NEAR (std::max (audio (n.live).getMagnitude (1, 0, 48000), 0.0f), 0.97f, 1e-6f);

    // Over them: the cut frames read them as 0 and rewrite them.
    ASSERT_EQ (stroke (n.session, { { 0.5f, 0.3f, 0.01f, 0.05f, 1.0f } }, 0), (int) n.live);
    EXPECT_EQ (nonFinite(), 0);
    EXPECT_LT (std::abs (audio (n.live).getSample (0, 24000)), 0.5f);
}

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
