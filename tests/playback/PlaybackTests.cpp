#include "EngineTestSupport.h"
#include "FoundryPreviewCall.h"
#include "HeadlessEngineFixture.h"
#include "TestAudio.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"

#include <gtest/gtest.h>
#include <quorvalen_dsp.h>
#include <thread>

using namespace qvtest;
using namespace std::chrono_literals;
using quorvalen::engine;

namespace
{
class Playback : public HeadlessEngineTest
{
protected:
    static uint32_t playing()
    {
        double p = 0, l = 0;
        uint32_t on = 0;
        quorvalen_engine_get_playback_telemetry (&p, &l, &on);
        return on;
    }

    // Plays `id` and records `duration` of device output (48 kHz). Waits for the
    // frames rather than the wall time: on a loaded machine the device may run late.
    static quorvalen::platform::CapturedAudio record (std::chrono::milliseconds duration,
                                                      const std::function<void()>& start)
    {
        const auto frames = (std::size_t) duration.count() * 48;
        quorvalen::platform::startCapture (48000 * 4);
        start();
        const auto until = std::chrono::steady_clock::now() + 10 * duration + std::chrono::seconds (2);
        while (quorvalen::platform::capturedFrames() < frames && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for (std::chrono::milliseconds (5));
        return quorvalen::platform::stopCapture();
    }
};
} // namespace

TEST_F (Playback, ShortSoundPlaysToItsEndAndTelemetryFollows)
{
    const int id = cache (sine (440.0, 48000.0, 4800), 48000.0);
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
    double p = -1, l = -1;
    uint32_t on = 9;
    ASSERT_EQ (quorvalen_engine_get_playback_telemetry (&p, &l, &on), 0);
    EXPECT_EQ (on, 1u);
    EXPECT_NEAR (l, 0.1, 1e-9);
    EXPECT_GE (p, 0.0);
    EXPECT_EQ (engine().playback.playingCacheId, (uint32_t) id);
    EXPECT_TRUE (waitFor ([] { return playing() == 0; }, 1000ms));
}

TEST_F (Playback, VolumeAndPitchClamp)
{
    const int id = cache (sine (500.0, 48000.0, 48000 * 2, 0.5f), 48000.0);
    auto loud = record (300ms, [&] { quorvalen_engine_play_cached (id, 0.0f, 150.0f); });
    // Full volume (clamped from 150 %); every playback passes the audition
    // character's soft ceiling, tanh(1.035 x) / tanh(1.035).
    EXPECT_NEAR (peakAbs (loud.left.data() + 4096, 8192), std::tanh (1.035f * 0.5f) / std::tanh (1.035f), 2e-3f);
    EXPECT_NEAR (dominantFrequency (loud.left.data() + 4096, 8192, 48000.0), 500.0, 2.0);

    auto silent = record (200ms, [&] { quorvalen_engine_play_cached (id, 0.0f, -5.0f); });
    EXPECT_LT (peakAbs (silent.left.data() + 2048, 4096), 1e-6f);
    auto nanVolume = record (200ms, [&] { quorvalen_engine_play_cached (id, std::nanf (""), std::nanf ("")); });
    EXPECT_LT (peakAbs (nanVolume.left.data() + 2048, 4096), 1e-6f);

    ASSERT_EQ (quorvalen_engine_play_cached (id, 12.0f, 100.0f), 0);
    double p, l;
    uint32_t on;
    quorvalen_engine_get_playback_telemetry (&p, &l, &on);
    EXPECT_NEAR (l, 1.0, 1e-6); // twice as fast: half as long
    std::this_thread::sleep_for (100ms);
    auto octave = record (200ms, [] {});
    EXPECT_NEAR (dominantFrequency (octave.left.data(), 8192, 48000.0), 1000.0, 3.0);

    ASSERT_EQ (quorvalen_engine_play_cached (id, 30.0f, 100.0f), 0);
    quorvalen_engine_get_playback_telemetry (&p, &l, &on);
    EXPECT_NEAR (l, 0.5, 1e-6); // clamped to +24: four times the rate
}

TEST_F (Playback, OctaveUpDoublesTheMasterPitch)
{
    const int id = cache (sine (220.0, 48000.0, 48000 * 3, 0.5f), 48000.0);
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
    std::this_thread::sleep_for (400ms);
    float base = 0.0f;
    ASSERT_EQ (quorvalen_engine_get_master_pitch (&base), 1);
    ASSERT_EQ (quorvalen_engine_play_cached (id, 12.0f, 100.0f), 0);
    std::this_thread::sleep_for (400ms);
    float up = 0.0f;
    ASSERT_EQ (quorvalen_engine_get_master_pitch (&up), 1);
    EXPECT_NEAR (base, 220.0f, 0.5f);
    EXPECT_NEAR (up / base, 2.0f, 0.01f);
}

TEST_F (Playback, StopFadesWhilePlayingAndReturnsAtOnceWhenIdle)
{
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ (quorvalen_engine_stop(), 0);
    EXPECT_LT (std::chrono::steady_clock::now() - t0, 10ms);
    EXPECT_EQ (engine().playback.transportSource.getGain(), 1.0f);

    const int id = cache (sine (440.0, 48000.0, 48000 * 2), 48000.0);
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 50.0f), 0);
    std::this_thread::sleep_for (50ms);
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ (quorvalen_engine_stop(), 0);
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE (took, 24ms);
    EXPECT_LT (took, 500ms);
    EXPECT_EQ (playing(), 0u);
    EXPECT_EQ (engine().playback.currentSource, nullptr);
    EXPECT_EQ (engine().playback.transportSource.getGain(), 1.0f);
}

TEST_F (Playback, FileGainFollowsThePreviousCachedVolumeUntilAStop)
{
    const auto dir = tempDir();
    const auto path = writeWav (dir + "/tone.wav", sine (440.0, 44100.0, 44100), 44100.0);
    const int id = cache (sine (440.0, 48000.0, 48000), 48000.0);
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 50.0f), 0);
    ASSERT_EQ (quorvalen_engine_play_wav (path.c_str()), 0);
    EXPECT_FLOAT_EQ (engine().playback.transportSource.getGain(), 0.5f);
    EXPECT_EQ (engine().playback.playingCacheId, 0u);
    ASSERT_EQ (quorvalen_engine_stop(), 0);
    ASSERT_EQ (quorvalen_engine_play_wav (path.c_str()), 0);
    EXPECT_FLOAT_EQ (engine().playback.transportSource.getGain(), 1.0f);

    EXPECT_EQ (quorvalen_engine_play_wav (nullptr), 1);
    EXPECT_EQ (quorvalen_engine_play_wav ((dir + "/missing.wav").c_str()), 3);
    juce::File (dir + "/t.wav").replaceWithText ("words");
    EXPECT_EQ (quorvalen_engine_play_wav ((dir + "/t.wav").c_str()), 4);
    const auto empty = writeWav (dir + "/e.wav", juce::AudioBuffer<float> (1, 0), 44100.0, 16);
    EXPECT_EQ (quorvalen_engine_play_wav (empty.c_str()), 5);
    EXPECT_EQ (playing(), 1u); // failures leave the playback running
}

TEST_F (Playback, UnloadStopsOnlyThePlayingEntryAndFailedPlaysChangeNothing)
{
    const int a = cache (sine (440.0, 48000.0, 48000 * 2), 48000.0);
    const int b = cache (sine (440.0, 48000.0, 100), 48000.0);
    ASSERT_EQ (quorvalen_engine_play_cached (a, 0.0f, 100.0f), 0);
    EXPECT_EQ (quorvalen_engine_play_cached (9999, 0.0f, 100.0f), 2);
    engine().cache.entries[(uint32_t) b].buffer.reset();
    EXPECT_EQ (quorvalen_engine_play_cached (b, 0.0f, 100.0f), 3);
    EXPECT_EQ (playing(), 1u);
    EXPECT_EQ (quorvalen_engine_unload_cached (b), 0);
    EXPECT_EQ (playing(), 1u);
    EXPECT_EQ (quorvalen_engine_unload_cached (a), 0);
    EXPECT_EQ (playing(), 0u);
    EXPECT_EQ (engine().playback.currentSource, nullptr);
}

TEST_F (Playback, MainPreviewSetters)
{
    EXPECT_EQ (quorvalen_engine_set_foundry_main_preview_pitch (12.0f), 0);
    EXPECT_DOUBLE_EQ (engine().playback.mainPreviewSpeed.load(), 2.0);
    EXPECT_DOUBLE_EQ (engine().playback.playhead.speed.load(), 2.0);
    EXPECT_EQ (quorvalen_engine_set_foundry_main_preview_pitch (-30.0f), 0);
    EXPECT_DOUBLE_EQ (engine().playback.mainPreviewSpeed.load(), 0.25);
    EXPECT_EQ (quorvalen_engine_set_foundry_main_preview_looping (1), 0);
    EXPECT_TRUE (engine().playback.playhead.looping.load());
    quorvalen_engine_shutdown();
    EXPECT_EQ (quorvalen_engine_set_foundry_main_preview_pitch (0.0f), 1);
    EXPECT_EQ (quorvalen_engine_set_foundry_main_preview_looping (0), 1);
}

TEST_F (Playback, MonoPlaysOnBothChannelsAtOneLevelOnEveryRoad)
{
    const auto mono = sine (300.0, 48000.0, 48000, 0.4f, 1);
    const int id = cache (mono, 48000.0);
    const auto path = writeWav (tempDir() + "/mono.wav", mono, 48000.0);
    FoundryPreviewCall preview;
    preview.transientId = id;
    const std::vector<std::pair<const char*, std::function<int()>>> roads {
        { "cached", [&] { return quorvalen_engine_play_cached (id, 0.0f, 100.0f); } },
        { "file", [&] { return quorvalen_engine_play_wav (path.c_str()); } },
        { "preview", [&] { return preview.play(); } },
        { "region",
          [&] {
        return quorvalen_engine_play_foundry_region (id, 0, 100, 0, 0, 20, 0, 0, 20000, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                     0);
         } },
        };
    for (const auto& [name, play] : roads)
    {
        int code = -1;
        const auto heard = recordFrames (14400, [&] { code = play(); });
        ASSERT_EQ (code, 0) << name;
        ASSERT_GE (heard.left.size(), 14400u) << name;
        // From 0.1 s on, past the start of each road.
        const float* l = heard.left.data() + 4800;
        const float* r = heard.right.data() + 4800;
        EXPECT_GT (rms (l, 9600), 0.1f) << name;
        float worst = 0.0f;
        for (int i = 0; i < 9600; ++i)
            worst = std::max (worst, std::abs (l[i] - r[i]));
        EXPECT_LT (worst, 1e-6f) << name;
    }
}

TEST (PlaybackBeforeInit, CodesAndNullPointers)
{
    useHeadlessOnly();
    double p, l;
    uint32_t on;
    EXPECT_EQ (quorvalen_engine_get_playback_telemetry (nullptr, &l, &on), 2);
    EXPECT_EQ (quorvalen_engine_get_playback_telemetry (&p, &l, &on), 1);
    EXPECT_EQ (quorvalen_engine_play_cached (1, 0, 100), 1);
    EXPECT_EQ (quorvalen_engine_play_wav ("/x.wav"), 2);
    EXPECT_EQ (quorvalen_engine_stop(), 1);
    float scope[4];
    EXPECT_EQ (quorvalen_engine_get_master_stereo_scope (scope, scope, 4), -2);
    EXPECT_EQ (quorvalen_engine_get_master_spectrum (scope, 4), -2);
    EXPECT_EQ (quorvalen_engine_get_master_pitch (scope), -2);
}

TEST_F (Playback, LoopedPositionWrapsWithTheLatencyCorrection)
{
    // Loop mode reads the region filter's position; a correction below 0 wraps
    // to the end only when the transport sits at the end.
    const int id = cache (sine (440.0, 48000.0, 48000), 48000.0);
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
    quorvalen_engine_set_foundry_main_preview_looping (1);
    engine().playback.transportSource.stop(); // paused: the audio thread leaves the position alone
    engine().playback.playhead.positionSeconds.store (0.005);
    double p, l;
    uint32_t on;
    ASSERT_EQ (quorvalen_engine_get_playback_telemetry (&p, &l, &on), 0);
    EXPECT_EQ (p, 0.0); // 5 ms minus 10.7 ms of latency, transport near the start
    engine().playback.playhead.positionSeconds.store (0.5);
    quorvalen_engine_get_playback_telemetry (&p, &l, &on);
    EXPECT_NEAR (p, 0.5 - 512.0 / 48000.0, 1e-9);
}

TEST_F (Playback, LoopModeTelemetryFollowsTheLoopingPlayhead)
{
    // With main-preview looping on, the position comes from the region filter, which
    // must advance with the transport and wrap with the loop.
    const int id = cache (sine (440.0, 48000.0, 48000), 48000.0);
    ASSERT_EQ (quorvalen_engine_play_cached (id, 0.0f, 100.0f), 0);
    ASSERT_EQ (quorvalen_engine_set_foundry_main_preview_looping (1), 0);
    double p = 0, l = 0;
    uint32_t on = 0;
    const auto read = [&] {
        EXPECT_EQ (quorvalen_engine_get_playback_telemetry (&p, &l, &on), 0);
        return p;
    };
    EXPECT_TRUE (waitFor ([&] { return read() > 0.3; }, 5s)) << p;
    EXPECT_DOUBLE_EQ (l, 1.0);
    EXPECT_EQ (on, 1u);
    double last = read();
    EXPECT_TRUE (waitFor (
        [&] {
        const double now = read(), before = std::exchange (last, now);
        return now < before - 0.5;
        },
        5s));
    EXPECT_LT (p, 1.0);

    // Paused: the playhead stands still.
    engine().playback.transportSource.stop();
    std::this_thread::sleep_for (50ms);
    const double held = read();
    std::this_thread::sleep_for (100ms);
    EXPECT_EQ (read(), held);
}
