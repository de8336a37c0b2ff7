// The Z sculpt stroke through the exports.
#include "SpectralTestSupport.h"

#include "cache/AudioCache.h"
#include "dsp/RadixTwoFft.h"
#include "engine/QuorvalenEngine.h"
#include "spectral/stft/ZSculptStroke.h"
#include "spectral/stft/StrokeBudget.h"

#include <quorvalen_dsp.h>

#include <cmath>
#include <complex>
#include <thread>

using namespace qvtest;
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

// Positions of the 2049 bins on an axis from 20 kHz (y 0) down to 20 Hz (y 1) at
// 48 kHz, -1 off the axis, as the stroke computes them.
std::vector<float> binPositions()
{
    const double high = 20000.0, low = 20.0, span = std::log (low) - std::log (high);
    std::vector<float> y (2049, -1.0f);
    for (int k = 0; k < 2049; ++k)
    {
        const double freq = k * 48000.0 / 4096.0;
        if (freq >= low && freq <= high)
            y[(std::size_t) k] = std::clamp ((float) ((std::log (freq) - std::log (high)) / span), 0.0f, 1.0f);
    }
    return y;
}

// The carving as it was done: every frame's bins tested against every box of
// the frame's time slice, a square root per bin inside a box, and every sample
// of the sound overlap-added back (uncarved frames add their windowed input).
std::vector<std::vector<float>> referenceCarve (const std::vector<quorvalen::ZSculptBox>& boxes,
                                                const std::vector<std::vector<float>>& dry,
                                                const std::vector<float>& binY)
{
    const auto n = (std::int64_t) dry[0].size();
    const std::int64_t frames = n / 256 + 1;
    std::vector<std::vector<std::int32_t>> index (256);
    const auto bucketOf = [] (float t) { return std::clamp ((int) std::floor (t * 256.0f), 0, 255); };
    for (std::size_t i = 0; i < boxes.size(); ++i)
    {
        const int b0 = bucketOf (boxes[i].centreTime - boxes[i].halfWidth);
        const int b1 =
            std::max (b0, std::min ((int) std::floor ((boxes[i].centreTime + boxes[i].halfWidth) * 256.0f), 255));
        for (int k = b0; k <= b1; ++k)
            index[(std::size_t) k].push_back ((std::int32_t) i);
    }
    std::vector<float> w (4096), wsum ((std::size_t) n), gains (2049);
    for (int i = 0; i < 4096; ++i)
        w[(std::size_t) i] = 0.5f - 0.5f * std::cos ((float) i * 6.2831855f * 0.00024414062f);
    std::vector<std::vector<float>> out (2, std::vector<float> ((std::size_t) n));
    std::vector<std::complex<float>> frame (4096);
    for (std::int64_t f = 0; f < frames; ++f)
    {
        const auto origin = f * 256 - 2048;
        const auto from = std::max<std::int64_t> (0, origin), to = std::min (n, origin + 4096);
        const float t = n < 2 ? 0.0f : std::clamp ((float) (f * 256) / (float) (n - 1), 0.0f, 1.0f);
        bool any = false;
        for (int k = 0; k < 2049; ++k)
        {
            float g = 1.0f;
            if (binY[(std::size_t) k] >= 0.0f)
                for (const auto i : index[(std::size_t) bucketOf (t)])
                {
                    const auto& b = boxes[(std::size_t) i];
                    const float dx = (t - b.centreTime) / b.halfWidth;
                    const float dy = (binY[(std::size_t) k] - b.centreY) / b.halfHeight;
                    const float d2 = dy * dy + dx * dx;
                    if (d2 < 1.0f)
                        g = std::min (g, quorvalen::zSculptBoxGain (std::sqrt (d2)));
                }
            gains[(std::size_t) k] = g;
            any = any || g < 0.999999f;
        }
        for (auto m = from; m < to; ++m)
            wsum[(std::size_t) m] += w[(std::size_t) (m - origin)] * w[(std::size_t) (m - origin)];
        if (! any)
        {
            for (int c = 0; c < 2; ++c)
                for (auto m = from; m < to; ++m)
                    out[(std::size_t) c][(std::size_t) m] += w[(std::size_t) (m - origin)]
                        * w[(std::size_t) (m - origin)] * dry[(std::size_t) c][(std::size_t) m];
            continue;
        }
        for (int i = 0; i < 4096; ++i)
        {
            const auto m = origin + i;
            const bool inside = m >= 0 && m < n;
            frame[(std::size_t) i] = { inside ? dry[0][(std::size_t) m] * w[(std::size_t) i] : 0.0f,
                                       inside ? dry[1][(std::size_t) m] * w[(std::size_t) i] : 0.0f };
        }
        quorvalen::dsp::fftComplexInPlace (frame, false);
        frame[0] *= gains[0];
        frame[2048] *= gains[2048];
        for (int k = 1; k < 2048; ++k)
            if (gains[(std::size_t) k] < 0.999999f)
            {
                frame[(std::size_t) k] *= gains[(std::size_t) k];
                frame[(std::size_t) (4096 - k)] *= gains[(std::size_t) k];
            }
        quorvalen::dsp::fftComplexInPlace (frame, true);
        for (auto m = from; m < to; ++m)
        {
            const auto j = (std::size_t) (m - origin);
            out[0][(std::size_t) m] += w[j] * frame[j].real();
            out[1][(std::size_t) m] += w[j] * frame[j].imag();
        }
    }
    for (int c = 0; c < 2; ++c)
        for (std::int64_t m = 0; m < n; ++m)
            out[(std::size_t) c][(std::size_t) m] = wsum[(std::size_t) m] > 1e-8f
                ? out[(std::size_t) c][(std::size_t) m] / wsum[(std::size_t) m]
                : dry[(std::size_t) c][(std::size_t) m];
    return out;
}

int nonFiniteSamples (const juce::AudioBuffer<float>& b, int channel)
{
    int count = 0;
    for (int i = 0; i < b.getNumSamples(); ++i)
        count += std::isfinite (b.getSample (channel, i)) ? 0 : 1;
    return count;
}
} // namespace

TEST (ZSculptCarve, MatchesTheFrameByFrameRoadWhereItWritesAndKeepsTheRest)
{
    const int n = 48000;
    const auto noise = noiseBuffer (n, 5, 0.5f);
    const std::vector<std::vector<float>> dry { { noise.getReadPointer (0), noise.getReadPointer (0) + n },
                                                { noise.getReadPointer (1), noise.getReadPointer (1) + n } };
    juce::Random r (9);
    std::vector<quorvalen::ZSculptBox> boxes;
    for (int i = 0; i < 40; ++i)
        boxes.push_back ({ 0.1f + 0.3f * r.nextFloat(), r.nextFloat(), 0.001f + 0.03f * r.nextFloat(),
                           0.001f + 0.2f * r.nextFloat() });
    boxes.push_back (boxes[3]); // repeated boxes act once
    boxes.push_back (boxes[3]);
    boxes.push_back ({ 0.0f, 0.2f, 0.001f, 0.05f });
    boxes.push_back ({ 1.0f, 0.7f, 0.01f, 0.5f });
    boxes.push_back ({ 0.9f, 1.0f, 0.001f, 0.001f }); // below the lowest bin on the axis
    const auto binY = binPositions();
    const auto expected = referenceCarve (boxes, dry, binY);

    const quorvalen::ZSculptCarve carve (boxes, n, binY);
    std::vector<std::vector<float>> live = dry;
    const float* const in[2] = { dry[0].data(), dry[1].data() };
    float* const out[2] = { live[0].data(), live[1].data() };
    const auto written = carve.carve (in, out, 2);
    ASSERT_FALSE (written.empty());
    EXPECT_GT (carve.cells(), 0);

    std::vector<char> inSpan ((std::size_t) n, 0);
    for (const auto& span : written)
        std::fill (inSpan.begin() + span.start, inSpan.begin() + span.end, 1);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < n; ++i)
        {
            const float got = live[(std::size_t) c][(std::size_t) i];
            if (inSpan[(std::size_t) i])
                ASSERT_EQ (got, expected[(std::size_t) c][(std::size_t) i]) << c << " " << i;
            else
            {
                // Untouched: the input itself, which the full road gave back within
                // its own rounding (the sums of a 0.5 signal, a few units in their last place).
                ASSERT_EQ (got, dry[(std::size_t) c][(std::size_t) i]) << c << " " << i;
                ASSERT_NEAR (expected[(std::size_t) c][(std::size_t) i], got, 3e-7f) << c << " " << i;
            }
        }
    // The quiet stretch after 0.45 s up to the box at 0.9 s is left alone.
    EXPECT_EQ (std::count (inSpan.begin() + 24000, inSpan.begin() + 36000, 1), 0);
}

TEST_F (ZSculptStroke, SamplesOutsideTheCarvedFramesKeepTheirValues)
{
    const auto source = noiseBuffer (480000, 8, 0.5f);
    const auto s = open (cache (source, 48000.0));
    const juce::AudioBuffer<float> before (audio (s.live));
    ASSERT_EQ (stroke (s.session, { { 0.5f, 0.3f, 0.001f, 0.05f, 0.0f } }, 4), (int) s.live);
    // The box spans 480 samples either side of the middle (four frames, in time
    // slices of fourteen); the frames reach 2048 samples further.
    const auto& live = audio (s.live);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 480000; ++i)
            if (std::abs (i - 240000) > 2500)
                ASSERT_EQ (live.getSample (c, i), before.getSample (c, i)) << c << " " << i;
    EXPECT_GT (maxAbsDifference (live, before), 1e-3f);
}
TEST_F (ZSculptStroke, AStrokeAboveTheCellBudgetIsRefusedAtOnce)
{
    const auto s = open (cache (dcAndTone(), 48000.0));
    const juce::AudioBuffer<float> before (audio (s.live));
    EXPECT_EQ (stroke (s.session, distinctCopies (20000, wholePlane[0]), 4), -2);
    EXPECT_EQ (maxAbsDifference (audio (s.live), before), 0.0f);
    EXPECT_TRUE (session (s.session).undoStack.empty());
    // Identical boxes carve alike and count once.
    EXPECT_EQ (stroke (s.session, std::vector<StrokePoint> (20000, wholePlane[0]), 4), (int) s.live);

    // A whole-plane box on ten minutes is within the budget.
    const std::int64_t tenMinutes = 600 * 48000;
    EXPECT_LE (quorvalen::ZSculptCarve ({ { 0.5f, 0.5f, 0.5f, 0.5f } }, tenMinutes, binPositions()).cells(),
               quorvalen::maxStrokeCells);
}

TEST_F (ZSculptStroke, ANonFiniteSampleIsReadAsZeroAndUndoRestoresIt)
{
    auto source = dcAndTone();
    source.setSample (0, 50000, std::nanf (""));
    const auto id = quorvalen::insertCacheEntry (
        engine(), { std::make_unique<juce::AudioBuffer<float>> (source), 48000.0, "non-finite" });
    const auto s = open ((int) id);
    ASSERT_GT (s.session, 0);
    const juce::AudioBuffer<float> before (audio (s.live));

    ASSERT_EQ (stroke (s.session, wholePlane, 4), (int) s.live);
    EXPECT_EQ (nonFiniteSamples (audio (s.live), 0), 0);
    EXPECT_EQ (nonFiniteSamples (audio (s.live), 1), 0);
    // Carved as if the sample were 0: the tone goes, the direct current stays.
    EXPECT_NEAR (audio (s.live).getSample (1, 50000), 0.3f, 0.01f);

    ASSERT_EQ (quorvalen_engine_undo_cqt_spectral_session (s.session), (int) s.live);
    EXPECT_TRUE (std::isnan (audio (s.live).getSample (0, 50000)));
    EXPECT_EQ (nonFiniteSamples (audio (s.live), 0), 1);
    EXPECT_EQ (nonFiniteSamples (audio (s.live), 1), 0);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 96000; ++i)
            if (i != 50000 || c != 0)
                ASSERT_NEAR (audio (s.live).getSample (c, i), before.getSample (c, i), 1e-6f) << c << " " << i;
}

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
