#include "FoundryPreviewCall.h"
#include "HeadlessEngineFixture.h"

#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryCodes.h"

#include <climits>

using namespace qvtest;
using namespace std::chrono_literals;
using quorvalen::engine;

namespace
{
float ceiling (float x)
{
    return std::tanh (1.035f * x) / std::tanh (1.035f);
}

// Arguments of the region audition, with neutral defaults.
struct Region
{
    int id = 0;
    float semitones = 0, level = 100, startMs = 0;
    int hpOn = 0;
    float hpHz = 20, hpRes = 0;
    int lpOn = 0;
    float lpHz = 20000, lpRes = 0;
    int kind = 0;
    float transient = 0, bodyHeat = 0, tailHeat = 0;
    int heatMode = 0;
    float drive = 0, width = 0;
    int bits = 0;
    float regionStart = 0, regionEnd = 0;

    int play() const
    {
        return quorvalen_engine_play_foundry_region (id, semitones, level, startMs, hpOn, hpHz, hpRes, lpOn, lpHz,
                                                     lpRes, kind, transient, bodyHeat, tailHeat, heatMode, drive, width,
                                                     bits, regionStart, regionEnd);
    }
};

class FoundryAudition : public HeadlessEngineTest
{
protected:
    // The steady part of what plays after `start`: 16384 frames from 0.25 s on
    // (counted from when `start` returned, however long it took).
    static std::vector<float> steady (const std::function<void()>& start)
    {
        start();
        auto a = recordFrames (12000 + 16384);
        if (a.left.size() < 12000 + 16384)
            return {};
        return std::vector<float> (a.left.begin() + 12000, a.left.begin() + 12000 + 16384);
    }
    static float peak (const std::vector<float>& x) { return x.empty() ? -1.0f : peakAbs (x.data(), (int) x.size()); }

    void TearDown() override
    {
        clearFoundryLanes();
        HeadlessEngineTest::TearDown();
    }
};
} // namespace

TEST_F (FoundryAudition, CharacterGainLevelAndClamps)
{
    Region r;
    r.id = cache (sine (500.0, 48000.0, 48000 * 3, 0.01f));
    ASSERT_EQ (r.play(), 0);
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) quorvalen::foundry::regionAuditionId);
    EXPECT_NEAR (peak (steady ([] {})), 0.01f * 1.334f, 3e-4f);

    // Level 200 % is stored as 1.5 and multiplies the lift of the ceiling.
    r.level = 200.0f;
    EXPECT_NEAR (peak (steady ([&] { ASSERT_EQ (r.play(), 0); })), 0.015f * 1.334f, 4e-4f);
    EXPECT_FLOAT_EQ (engine().foundry.auditionCharacterSource.level.load(), 1.5f);
    ASSERT_EQ (quorvalen_engine_set_foundry_audition_character (0, -20.0f, 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ (engine().foundry.auditionCharacterSource.level.load(), 0.0f);
    EXPECT_LT (peak (steady ([] {})), 1e-6f);
    ASSERT_EQ (quorvalen_engine_set_foundry_audition_character (0, std::nanf (""), 0, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ (engine().foundry.auditionCharacterSource.level.load(), 1.0f);

    // Semitones 30 clamp to 24: ratio 4, and in mode -1 the region filter's speed.
    ASSERT_EQ (quorvalen_engine_set_foundry_audition_character (30.0f, 100.0f, -1, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_DOUBLE_EQ (engine().playback.resamplingSource.getResamplingRatio(), 4.0);
    EXPECT_DOUBLE_EQ (engine().playback.playhead.speed.load(), 4.0);
    EXPECT_DOUBLE_EQ (engine().playback.mainPreviewSpeed.load(), 4.0);
    quorvalen_engine_set_foundry_audition_character (0, 100.0f, 0, 0, 0, 0, 0, 0, 0);

    // A loud sound meets the soft ceiling.
    Region loud;
    loud.id = cache (sine (500.0, 48000.0, 48000 * 3, 0.5f));
    EXPECT_NEAR (peak (steady ([&] { ASSERT_EQ (loud.play(), 0); })), ceiling (0.5f), 3e-3f);
}

TEST_F (FoundryAudition, LanesAndLiveCharacterReachTheOutput)
{
    Region r;
    r.id = cache (sine (500.0, 48000.0, 48000 * 3, 0.5f));
    r.kind = 2;
    r.heatMode = 2;

    // A heat lane at 1 in mode 2 is rendered into the tail layer at 4x.
    const float t[] = { 0.0f }, one[] = { 1.0f }, zero[] = { 0.0f };
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (2, 4, t, one, 1), 0);
    const float heated = 0.14f * 0.5f + 0.86f * (1.0f - 0.06f);
    EXPECT_NEAR (peak (steady ([&] { ASSERT_EQ (r.play(), 0); })), ceiling (heated), 0.02f);

    // A level lane at 0 (-60 dB) replaces the level argument, which is ignored.
    clearFoundryLanes();
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (2, 1, t, zero, 1), 0);
    r.level = 40.0f;
    EXPECT_NEAR (peak (steady ([&] { ASSERT_EQ (r.play(), 0); })), 0.0005f * 1.334f, 5e-5f);

    // Overtone kind: no lanes, the drive acts live.
    clearFoundryLanes();
    Region o;
    o.id = r.id;
    o.kind = 3;
    o.drive = 100.0f;
    ASSERT_EQ (quorvalen_engine_set_foundry_automation (0, 1, t, zero, 1), 0); // not this kind's
    EXPECT_NEAR (peak (steady ([&] { ASSERT_EQ (o.play(), 0); })), ceiling (std::tanh (6.0f) / std::tanh (12.0f)),
                 0.02f);

    // Mono and invert, and the region window (a 50 % fade-in of a 3 s region).
    clearFoundryLanes();
    Region w;
    auto lr = sine (500.0, 48000.0, 48000 * 3, 0.2f);
    lr.clear (1, 0, lr.getNumSamples());
    w.id = cache (lr);
    w.bits = 3;
    w.regionStart = 50.0f;
    auto a = recordFrames (48000, [&] { ASSERT_EQ (w.play(), 0); });
    ASSERT_GE (a.right.size(), 48000u);
    const float right = peakAbs (a.right.data() + 24000, 8000);
    EXPECT_GT (right, 0.01f);
    EXPECT_LT (right, ceiling (0.1f) * 0.5f); // at most a third of the way up the fade
    for (int i = 24000; i < 32000; i += 7)
        ASSERT_EQ (a.left[(size_t) i], a.right[(size_t) i]) << i;
}

TEST_F (FoundryAudition, LiveAuditionFiltersAndCodes)
{
    Region r;
    r.id = cache (sine (5000.0, 48000.0, 48000 * 3, 0.3f));
    r.lpOn = 1;
    r.lpHz = 200.0f;
    EXPECT_LT (peak (steady ([&] { ASSERT_EQ (r.play(), 0); })), 0.01f);
    ASSERT_EQ (quorvalen_engine_set_foundry_audition_filters (0, 20, 0, 0, std::nanf (""), 0), 0);
    EXPECT_NEAR (peak (steady ([] {})), ceiling (0.3f), 0.01f);

    EXPECT_EQ (Region { 99999 }.play(), 2);
    EXPECT_EQ (quorvalen_engine_set_foundry_main_preview_region_filters (3, 1, 100, 0, 0, 0, 0), 8);
    ASSERT_EQ (quorvalen_engine_set_foundry_main_preview_region_filters (1, 1, 5.0f, 300.0f, 1, 1.0e6f, std::nanf ("")),
               0);
    const auto& slot = engine().foundry.regionFilterSource.slots[1];
    EXPECT_EQ (slot.highPassHz.load(), 20.0f);
    EXPECT_EQ (slot.highPassResonance.load(), 100.0f);
    EXPECT_EQ (slot.lowPassHz.load(), 20000.0f);
    EXPECT_EQ (slot.lowPassResonance.load(), 0.0f);

    quorvalen_engine_shutdown();
    EXPECT_EQ (quorvalen_engine_set_foundry_main_preview_region_filters (3, 1, 100, 0, 0, 0, 0), 8);
    EXPECT_EQ (quorvalen_engine_set_foundry_main_preview_region_filters (0, 1, 100, 0, 0, 0, 0), 1);
    EXPECT_EQ (quorvalen_engine_set_foundry_audition_filters (1, 100, 0, 0, 0, 0), 1);
    EXPECT_EQ (r.play(), 1);
    EXPECT_EQ (quorvalen_engine_set_foundry_audition_character (0, 100, 0, 0, 0, 0, 0, 0, 0), 0);
}

TEST_F (FoundryAudition, AKindOutsideTheFourLayersIsRefusedAndChangesNothing)
{
    const int id = cache (sine (300.0, 48000.0, 48000 * 3, 0.3f));
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
    ASSERT_EQ (quorvalen_engine_set_foundry_audition_character (0, 100, 2, 0, 0, 0, 0, 0, 0), 0);
    for (const int kind : { -1, 4, 99999, INT_MIN, INT_MAX })
    {
        Region r;
        r.id = id;
        r.kind = kind;
        EXPECT_EQ (r.play(), 8) << kind;
    }
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) id);
    double p = 0, l = 0;
    uint32_t playing = 0;
    quorvalen_engine_get_playback_telemetry (&p, &l, &playing);
    EXPECT_EQ (playing, 1u);
    EXPECT_EQ (engine().foundry.auditionCharacterSource.mode.load(), 2);
    EXPECT_EQ (engine().cache.entries.count ((uint32_t) quorvalen::foundry::regionAuditionId), 0u);

    // The kind is tested first, also before init.
    quorvalen_engine_shutdown();
    EXPECT_EQ ((Region { id, 0, 100, 0, 0, 20, 0, 0, 20000, 0, 4 }).play(), 8);
}

TEST_F (FoundryAudition, InfinitiesTakeTheNearerEndOfTheLiveClamps)
{
    // Pitch (of the main preview too) and level of the live character.
    ASSERT_EQ (quorvalen_engine_set_foundry_audition_character (INFINITY, INFINITY, -1, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_DOUBLE_EQ (engine().playback.resamplingSource.getResamplingRatio(), 4.0);
    EXPECT_DOUBLE_EQ (engine().playback.playhead.speed.load(), 4.0);
    EXPECT_DOUBLE_EQ (engine().playback.mainPreviewSpeed.load(), 4.0);
    EXPECT_FLOAT_EQ (engine().foundry.auditionCharacterSource.level.load(), 1.5f);
    ASSERT_EQ (quorvalen_engine_set_foundry_audition_character (-INFINITY, -INFINITY, -1, 0, 0, 0, 0, 0, 0), 0);
    EXPECT_DOUBLE_EQ (engine().playback.mainPreviewSpeed.load(), 0.25);
    EXPECT_EQ (engine().foundry.auditionCharacterSource.level.load(), 0.0f);
    ASSERT_EQ (quorvalen_engine_set_foundry_main_preview_pitch (INFINITY), 0);
    EXPECT_DOUBLE_EQ (engine().playback.mainPreviewSpeed.load(), 4.0);
    ASSERT_EQ (quorvalen_engine_set_foundry_main_preview_pitch (std::nanf ("")), 0);
    EXPECT_DOUBLE_EQ (engine().playback.mainPreviewSpeed.load(), 1.0);

    // The main preview's region filters.
    ASSERT_EQ (
        quorvalen_engine_set_foundry_main_preview_region_filters (0, 1, INFINITY, INFINITY, 1, -INFINITY, -INFINITY),
        0);
    const auto& slot = engine().foundry.regionFilterSource.slots[0];
    EXPECT_EQ (slot.highPassHz.load(), 20000.0f);
    EXPECT_EQ (slot.highPassResonance.load(), 100.0f);
    EXPECT_EQ (slot.lowPassHz.load(), 20.0f);
    EXPECT_EQ (slot.lowPassResonance.load(), 0.0f);

    // The region window of an audition: +inf fades over the whole region, as 100 % does.
    Region w;
    w.id = cache (sine (500.0, 48000.0, 9600, 0.5f));
    const auto region = [&] {
        std::lock_guard lock (engine().engineMutex);
        juce::AudioBuffer<float> copy;
        copy.makeCopyOf (*engine().cache.entries.at ((uint32_t) quorvalen::foundry::regionAuditionId).buffer);
        return copy;
    };
    w.regionStart = w.regionEnd = 100.0f;
    ASSERT_EQ (w.play(), 0);
    const auto full = region();
    w.regionStart = w.regionEnd = INFINITY;
    ASSERT_EQ (w.play(), 0);
    const auto infinite = region();
    ASSERT_EQ (infinite.getNumSamples(), full.getNumSamples());
    for (int i = 0; i < full.getNumSamples(); i += 7)
        ASSERT_EQ (infinite.getSample (0, i), full.getSample (0, i)) << i;

    // The overtone drive on the audio thread: +inf drives as 100 % does.
    Region o;
    o.id = cache (sine (500.0, 48000.0, 48000 * 3, 0.5f));
    o.kind = 3;
    o.drive = INFINITY;
    EXPECT_NEAR (peak (steady ([&] { ASSERT_EQ (o.play(), 0); })), ceiling (std::tanh (6.0f) / std::tanh (12.0f)),
                 0.02f);
}

TEST_F (FoundryAudition, RegionAuditionAgainWhileTheFirstPlays)
{
    // The second audition replaces the reserved entry the first one is reading.
    Region r;
    r.id = cache (sine (300.0, 48000.0, 48000 * 2, 0.4f));
    for (int i = 0; i < 6; ++i)
    {
        r.startMs = 100.0f * (float) i;
        r.kind = i % 4;
        ASSERT_EQ (r.play(), 0);
        std::this_thread::sleep_for (15ms);
    }
    EXPECT_NEAR (peak (steady ([] {})), ceiling (0.4f), 0.01f);
}

TEST_F (FoundryAudition, LoopTelemetryFollowsTheRegionFilterPosition)
{
    // A 0.25 s sound played as the looping main preview (its length published as
    // the preview's finish would).
    const int id = cache (sine (300.0, 48000.0, 12000, 0.4f));
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
    engine().foundry.regionFilterSource.previewLengthSeconds.store (0.25);
    ASSERT_EQ (quorvalen_engine_set_foundry_main_preview_looping (1), 0);

    double p = 0, l = 0, last = 0;
    uint32_t on = 0;
    bool wrapped = false;
    const auto end = std::chrono::steady_clock::now() + 3s;
    while (! wrapped && std::chrono::steady_clock::now() < end)
    {
        ASSERT_EQ (quorvalen_engine_get_playback_telemetry (&p, &l, &on), 0);
        ASSERT_EQ (on, 1u);
        ASSERT_LT (p, 0.25);
        wrapped = p + 0.1 < last;
        last = p;
        std::this_thread::sleep_for (2ms);
    }
    EXPECT_TRUE (wrapped);
    EXPECT_GT (engine().playback.playhead.positionSeconds.load(), 0.0);

    // Paused: the position stands still.
    engine().playback.transportSource.stop();
    std::this_thread::sleep_for (30ms);
    const double held = engine().playback.playhead.positionSeconds.load();
    std::this_thread::sleep_for (60ms);
    EXPECT_EQ (engine().playback.playhead.positionSeconds.load(), held);
}
