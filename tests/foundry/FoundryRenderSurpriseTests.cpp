// Render surprise through the exports: codes, the untouched cases, the 0.95 peak,
// the 3-bit grid of the full crush, a failing stretch that leaves the sound as it
// was, growth past the limit, and a playing entry (run under ASan in CI).
#include "HeadlessEngineFixture.h"
#include "MemoryCap.h"

#include "engine/QuorvalenEngine.h"

#include <cmath>
#include <thread>

using namespace qvtest;
using namespace std::chrono_literals;
using quorvalen::engine;

namespace
{

class RenderSurprise : public HeadlessEngineTest
{
protected:
    // The entry as a host reads it back: exported as a 24-bit WAV file.
    juce::AudioBuffer<float> readBack (int id)
    {
        const auto file = tempDir() + "/back.wav";
        EXPECT_EQ (quorvalen_engine_export_cached_wav (id, file.c_str()), 0);
        return readAudio (file);
    }
    static float peak (const juce::AudioBuffer<float>& b)
    {
        float p = 0;
        for (int c = 0; c < b.getNumChannels(); ++c)
            p = std::max (p, b.getMagnitude (c, 0, b.getNumSamples()));
        return p;
    }
    static bool same (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
    {
        if (a.getNumSamples() != b.getNumSamples() || a.getNumChannels() != b.getNumChannels())
            return false;
        for (int c = 0; c < a.getNumChannels(); ++c)
            for (int i = 0; i < a.getNumSamples(); ++i)
                if (a.getSample (c, i) != b.getSample (c, i))
                    return false;
        return true;
    }
};

TEST_F (RenderSurprise, CodesAndTheUntouchedCases)
{
    EXPECT_EQ (quorvalen_engine_apply_render_surprise (4242, 50, 50, 0, 0), -2);
    const std::uint64_t generation = engine().foundry.generation;
    const int id = cache (sine (300.0, 48000.0, 4800, 0.3f));
    const auto before = readBack (id);
    EXPECT_EQ (quorvalen_engine_apply_render_surprise (id, 0, 0, 0, 0), 0);
    EXPECT_EQ (quorvalen_engine_apply_render_surprise (id, -5, NAN, 1, 1), 0);
    EXPECT_EQ (quorvalen_engine_apply_render_surprise (id, INFINITY, -INFINITY, 0, 0), 0);
    EXPECT_TRUE (same (before, readBack (id)));
    EXPECT_GT (engine().foundry.generation, generation); // counted even when nothing changes
}

TEST_F (RenderSurprise, ResultPeaksAt095EvenForAQuietSound)
{
    for (const float a : { 21.0f, 55.0f, 100.0f })
    {
        const int id = cache (sine (300.0, 48000.0, 9600, 0.02f));
        ASSERT_EQ (quorvalen_engine_apply_render_surprise (id, a, 0, 0, 0), 0);
        const auto after = readBack (id);
        EXPECT_EQ (after.getNumSamples(), 9600);
        EXPECT_NEAR (peak (after), 0.95f, 1e-4f) << a;
    }
}

TEST_F (RenderSurprise, FullCrushLengthensFiveTimesOnAThreeBitGrid)
{
    const int id = cache (sine (200.0, 48000.0, 4800, 0.5f));
    ASSERT_EQ (quorvalen_engine_apply_render_surprise (id, 0, 100, 0, 0), 0);
    const auto after = readBack (id);
    ASSERT_EQ (after.getNumSamples(), 24000);
    // Quantised to eighths, then the 0.5 peak scaled to 0.95.
    const double step = 0.125 * 0.95 / 0.5;
    for (int c = 0; c < after.getNumChannels(); ++c)
        for (int i = 0; i < after.getNumSamples(); ++i)
        {
            const double k = after.getSample (c, i) / step;
            ASSERT_NEAR (k, std::round (k), 1e-4) << i;
        }
    EXPECT_NEAR (peak (after), 0.95f, 1e-4f);
}

TEST_F (RenderSurprise, StretchKeepsThePitchAndAFailingStretchChangesNothing)
{
    const int id = cache (sine (500.0, 48000.0, 9600, 0.5f));
    ASSERT_EQ (quorvalen_engine_apply_render_surprise (id, 0, 25, 1, 1), 0);
    const auto after = readBack (id);
    EXPECT_NEAR (after.getNumSamples(), 19200, 200);
    EXPECT_NEAR (dominantFrequency (after.getReadPointer (0, 4000), 8192, 48000.0), 500.0, 10.0);

    // The stretcher refuses a rate of 4 kHz: the tone stage ran on the copy only.
    const int low = cache (sine (300.0, 4000.0, 4000, 0.5f), 4000.0);
    const auto before = readBack (low);
    EXPECT_EQ (quorvalen_engine_apply_render_surprise (low, 100, 50, 1, 0), -5);
    EXPECT_TRUE (same (before, readBack (low)));
}

TEST_F (RenderSurprise, GrowthPastTenMinutesIsRefusedBeforeAnythingChanges)
{
    // 30 s at 1 kHz: a full crush makes 150 s; a second one would make 750 s, past
    // the 600000 samples that ten minutes are at this rate.
    const int id = cache (sine (30.0, 1000.0, 30000, 0.5f, 1), 1000.0);
    ASSERT_EQ (quorvalen_engine_apply_render_surprise (id, 0, 100, 0, 0), 0);
    const auto before = readBack (id);
    ASSERT_EQ (before.getNumSamples(), 150000);
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
    const std::uint64_t generation = engine().foundry.generation;
    ASSERT_EQ (quorvalen_engine_apply_render_surprise (id, 50, 100, 0, 0), -5);

    const long peak = peakResidentBytes();
    for (int call = 0; call < 6; ++call)
    {
        EXPECT_EQ (quorvalen_engine_apply_render_surprise (id, 0, 100, call % 2, call % 2), -5);
        EXPECT_EQ (quorvalen_engine_apply_render_surprise (id, 100, 80, 0, 1), -5); // 4.2 times: 630 s
    }
    EXPECT_LT (peakResidentBytes() - peak, 32L << 20);
    EXPECT_EQ (engine().foundry.generation, generation);
    double p = 0, l = 0;
    uint32_t playing = 0;
    quorvalen_engine_get_playback_telemetry (&p, &l, &playing);
    EXPECT_EQ (playing, 1u);
    EXPECT_TRUE (same (before, readBack (id)));

    // What stays within the limit still works: 1.04 times is 156 s.
    EXPECT_EQ (quorvalen_engine_apply_render_surprise (id, 0, 1, 0, 0), 0);
    EXPECT_EQ (readBack (id).getNumSamples(), 156000);
}

TEST_F (RenderSurprise, PlayingEntryIsStoppedBeforeItsAudioIsReplaced)
{
    int id = 0;
    for (int round = 0; round < 4; ++round)
    {
        id = cache (sine (300.0, 48000.0, 48000, 0.5f));
        ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
        std::this_thread::sleep_for (20ms);
        ASSERT_EQ (quorvalen_engine_apply_render_surprise (id, 80, 60, round % 2, round % 2), 0);
        double p = 0, l = 0;
        uint32_t playing = 1;
        ASSERT_EQ (quorvalen_engine_get_playback_telemetry (&p, &l, &playing), 0);
        EXPECT_EQ (playing, 0u);
    }
    auto heard = recordFrames (2048, [&] { quorvalen_engine_play_cached (id, 0.0f, 100.0f); });
    EXPECT_GT (peakAbs (heard.left.data(), (int) heard.left.size()), 0.1f);
}

} // namespace
