// Lock-free queries and setters racing init, shutdown and playback, and long
// operations that leave the engine to other callers while they run. Meant for
// the ThreadSanitizer build, where any data race fails the run.
#include "CachedAudio.h"
#include "EngineTestSupport.h"
#include "FoundryPreviewCall.h"
#include "LongCallProbe.h"
#include "SpectralTestSupport.h"
#include "TestAudio.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <quorvalen_dsp.h>
#include <thread>

using namespace qvtest;

namespace
{
struct SpectralStart
{
    int id = 0;
    uint32_t live = 0;
    int session = 0;
};

// The engine on the headless device with a session on half a second of a tone.
SpectralStart startSpectralSession()
{
    useHeadlessOnly (1, 48000.0, 256, 256);
    SpectralStart s;
    if (quorvalen_engine_init() != 0)
        return s;
    const auto bytes = wavBytes (sine (330.0, 48000.0, 24000), 48000.0, 16);
    s.id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
    float seconds = 0.0f;
    s.session = quorvalen_engine_begin_cqt_spectral_session (s.id, &s.live, &seconds);
    return s;
}
} // namespace

TEST (Concurrency, LockFreeExportsRaceLifecycleAndPlayback)
{
    useHeadlessOnly (1, 48000.0, 256, 256);
    const auto bytes = wavBytes (sine (330.0, 48000.0, 24000), 48000.0, 16);
    std::atomic<bool> stop { false };

    std::thread lifecycle ([&] {
        for (int round = 0; round < 9; ++round)
        {
            if (quorvalen_engine_init() != 0)
                continue;
            const int id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
            quorvalen_engine_play_cached (id, (float) round, 80.0f);
            std::this_thread::sleep_for (std::chrono::milliseconds (40));
            quorvalen_engine_stop();
            quorvalen_engine_play_cached (id, 0.0f, 100.0f);
            std::this_thread::sleep_for (std::chrono::milliseconds (20));
            quorvalen_engine_shutdown();
        }
        stop = true;
    });

    std::thread readers ([&] {
        std::vector<float> l (2048), r (2048), spectrum (256);
        while (! stop)
        {
            float hz = 0.0f;
            double p, len;
            uint32_t on;
            quorvalen_engine_is_ready();
            quorvalen_engine_get_master_stereo_scope (l.data(), r.data(), 2048);
            quorvalen_engine_get_master_spectrum (spectrum.data(), 256);
            quorvalen_engine_get_master_pitch (&hz);
            quorvalen_engine_get_playback_telemetry (&p, &len, &on);
        }
    });

    std::thread setters ([&] {
        float semitones = -12.0f;
        while (! stop)
        {
            quorvalen_engine_set_foundry_main_preview_pitch (semitones);
            quorvalen_engine_set_foundry_main_preview_looping (semitones > 0.0f ? 1 : 0);
            semitones = semitones > 12.0f ? -12.0f : semitones + 1.0f;
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }
    });

    lifecycle.join();
    readers.join();
    setters.join();
    EXPECT_EQ (quorvalen_engine_is_ready(), 0);
}

TEST (Concurrency, SpectralEditsOfAPlayingLiveCopy)
{
    // Strokes, undo and redo rewrite the live copy while the audio thread plays it
    // (plainly and through the rack, looping) and other threads query playback.
    const auto [id, live, session] = startSpectralSession();
    ASSERT_GT (session, 0);
    std::atomic<bool> stop { false };

    std::thread editor ([&] {
        const float knife[5] = { 0.5f, 0.3f, 0.05f, 0.05f, 1.0f };
        const float box[5] = { 0.3f, 0.4f, 0.1f, 0.1f, 0.0f };
        const uint32_t knifeTool = 0, sculptTool = 4;
        for (int round = 0; round < 8; ++round)
        {
            if (round % 2 == 0)
                quorvalen_engine_play_cached_with_processing ((int) live, "{}", 90.0f, 1);
            else
                quorvalen_engine_play_cached ((int) live, 0.0f, 90.0f);
            EXPECT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (session, knife, &knifeTool, 1), (int) live);
            EXPECT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (session, box, &sculptTool, 1), (int) live);
            EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (session), (int) live);
            EXPECT_EQ (quorvalen_engine_redo_cqt_spectral_session (session), (int) live);
            std::this_thread::sleep_for (std::chrono::milliseconds (15));
        }
        stop = true;
    });

    std::thread readers ([&] {
        std::vector<float> l (1024), r (1024);
        while (! stop)
        {
            double p, len;
            uint32_t on;
            quorvalen_engine_get_playback_telemetry (&p, &len, &on);
            quorvalen_engine_get_master_stereo_scope (l.data(), r.data(), 1024);
        }
    });

    editor.join();
    readers.join();
    EXPECT_EQ (quorvalen_engine_end_cqt_spectral_session (session), 0);
    quorvalen_engine_shutdown();
}

TEST (Concurrency, TransportGainChangesWhileTheAudioThreadPlays)
{
    // Every road that sets the transport's gain while the device pulls the chain:
    // a play at a new volume, the resume after a stroke and the stop fade.
    const auto [id, live, session] = startSpectralSession();
    ASSERT_GT (session, 0);
    const float box[5] = { 0.3f, 0.4f, 0.1f, 0.1f, 0.0f };
    const uint32_t sculptTool = 4;
    for (int round = 0; round < 4; ++round)
    {
        ASSERT_EQ (quorvalen_engine_play_cached ((int) live, 0.0f, 40.0f + 20.0f * (float) round), 0);
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
        EXPECT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (session, box, &sculptTool, 1), (int) live);
        std::this_thread::sleep_for (std::chrono::milliseconds (10));
        EXPECT_EQ (quorvalen_engine_stop(), 0);
    }
    EXPECT_EQ (quorvalen_engine_end_cqt_spectral_session (session), 0);
    quorvalen_engine_shutdown();
}

TEST (Concurrency, ConstantQStrokesBesideImagesSpectrogramsAndRoundTrips)
{
    // Laser and region strokes rewrite the playing live copy while another host
    // thread renders its images, the source's spectrogram (analysed unlocked) and
    // round-trip auditions, and a third unloads and re-caches other sounds.
    const auto [id, live, session] = startSpectralSession();
    ASSERT_GT (session, 0);
    std::atomic<bool> stop { false };

    std::thread editor ([&] {
        const float laser[10] = { 0.4f, 0.7f, 0.05f, 0.0f, 1.0f, 0.6f, 0.9f, 0.05f, 0.0f, 0.8f };
        const uint32_t lasers[2] = { 1, 1 };
        const float box[5] = { 0.5f, 0.4f, 0.2f, 0.1f, 0.0f };
        const uint32_t reducer = 2, harmonik = 3;
        for (int round = 0; round < 4; ++round)
        {
            quorvalen_engine_play_cached_with_processing ((int) live, "{}", 90.0f, round % 2);
            EXPECT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (session, laser, lasers, 2), (int) live);
            EXPECT_EQ (
                quorvalen_engine_apply_cqt_spectral_session_stroke (session, box, round % 2 ? &reducer : &harmonik, 1),
                (int) live);
            EXPECT_EQ (quorvalen_engine_undo_cqt_spectral_session (session), (int) live);
        }
        stop = true;
    });

    std::thread images ([&] {
        std::vector<float> out (961 * 385);
        for (int round = 0; ! stop; ++round)
        {
            EXPECT_EQ (quorvalen_engine_get_cqt_spectral_session_image (session, out.data(), 400, 385), 0);
            EXPECT_EQ (quorvalen_engine_get_cqt_spectral_session_image (session, out.data(), 961, 385), 0);
            EXPECT_EQ (quorvalen_engine_get_cqt_spectral_session_image (session, out.data(), 300, 200), 0);
            float secs = 0.0f;
            EXPECT_EQ (quorvalen_engine_get_cqt_spectrogram (id, out.data(), 256, 128, &secs), 0);
            if (round % 3 == 2)
                EXPECT_EQ (quorvalen_engine_play_cached_gaborator_roundtrip (id), 0);
        }
    });

    std::thread cache ([&] {
        const auto other = wavBytes (sine (550.0, 48000.0, 12000), 48000.0, 16);
        std::vector<float> out (128 * 64);
        while (! stop)
        {
            const int extra = quorvalen_engine_cache_wav_memory (other.getData(), other.getSize());
            float secs = 0.0f;
            const int code = quorvalen_engine_get_cqt_spectrogram (extra, out.data(), 128, 64, &secs);
            EXPECT_TRUE (code == 0 || code == -4) << code;
            quorvalen_engine_unload_cached (extra);
        }
    });

    editor.join();
    images.join();
    cache.join();
    EXPECT_EQ (quorvalen_engine_end_cqt_spectral_session (session), 0);
    quorvalen_engine_shutdown();
}

TEST (Concurrency, RemovalsDuringALongStrokeNeitherWaitForItNorLetItSucceed)
{
    // The live copy unloaded, the session ended or the engine shut down while a
    // long knife stroke works on the playing live copy: the removal does not wait
    // for the stroke, which stops soon with its failure code, and the undo and
    // image queued behind it on the session fail too.
    using Clock = std::chrono::steady_clock;
    const auto bytes = wavBytes (noiseBuffer (480000, 3, 0.4f), 48000.0, 16);
    const auto knife = heavyKnife();
    const std::vector<uint32_t> tools (knife.size(), 0);
    const float small[5] = { 0.5f, 0.1f, 0.01f, 0.01f, 1.0f };
    enum class Removal
    {
        unload,
        end,
        shutdown
    };
    const struct
    {
        Removal removal;
        int stroke, undo, image;
    } cases[] = { { Removal::unload, -5, -3, -4 }, { Removal::end, -3, -1, -3 }, { Removal::shutdown, -3, -1, -3 } };
    for (const auto& c : cases)
    {
        useHeadlessOnly (1, 48000.0, 256, 256);
        ASSERT_EQ (quorvalen_engine_init(), 0);
        const int id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
        uint32_t live = 0;
        float seconds = 0.0f;
        const int session = quorvalen_engine_begin_cqt_spectral_session (id, &live, &seconds);
        ASSERT_GT (session, 0);
        ASSERT_EQ (quorvalen_engine_apply_cqt_spectral_session_stroke (session, small, tools.data(), 1), (int) live);
        ASSERT_EQ (quorvalen_engine_play_cached ((int) live, 0.0f, 80.0f), 0);

        std::atomic<int> stroke { 0 }, undo { 0 }, image { 0 };
        Clock::time_point strokeDone;
        std::thread editor ([&] {
            stroke = quorvalen_engine_apply_cqt_spectral_session_stroke (session, &knife.data()->p0, tools.data(),
                                                                         (int32_t) knife.size());
            strokeDone = Clock::now();
        });
        std::this_thread::sleep_for (std::chrono::milliseconds (200));
        std::thread queued ([&] {
            undo = quorvalen_engine_undo_cqt_spectral_session (session);
            std::vector<float> out (64 * 64);
            image = quorvalen_engine_get_cqt_spectral_session_image (session, out.data(), 64, 64);
        });
        std::this_thread::sleep_for (std::chrono::milliseconds (50));
        const auto t0 = Clock::now();
        if (c.removal == Removal::unload)
            EXPECT_EQ (quorvalen_engine_unload_cached ((int) live), 0);
        else if (c.removal == Removal::end)
            EXPECT_EQ (quorvalen_engine_end_cqt_spectral_session (session), 0);
        else
            EXPECT_EQ (quorvalen_engine_shutdown(), 0);
        const auto removed = Clock::now();
        editor.join();
        queued.join();

        const std::chrono::duration<double, std::milli> removal = removed - t0, stopping = strokeDone - removed;
        EXPECT_LT (removal.count(), 500.0) << (int) c.removal;
        EXPECT_LT (stopping.count(), 1000.0) << (int) c.removal;
        EXPECT_EQ (stroke, c.stroke) << (int) c.removal;
        EXPECT_EQ (undo, c.undo) << (int) c.removal;
        EXPECT_EQ (image, c.image) << (int) c.removal;
        quorvalen_engine_shutdown();
    }
}

TEST (Concurrency, FoundryAuditionSettersRaceRegionPlayback)
{
    useHeadlessOnly (1, 48000.0, 256, 256);
    ASSERT_EQ (quorvalen_engine_init(), 0);
    const auto bytes = wavBytes (sine (330.0, 48000.0, 24000), 48000.0, 16);
    const int id = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
    std::atomic<bool> stop { false };

    std::thread auditions ([&] {
        for (int round = 0; round < 8; ++round)
        {
            quorvalen_engine_play_foundry_region (id, 0.0f, 90.0f, 10.0f * (float) round, 1, 200.0f, 20.0f, 1, 6000.0f,
                                                  20.0f, round % 4, 50.0f, 40.0f, 40.0f, round % 3, 60.0f, 30.0f,
                                                  round & 3, 5.0f, 5.0f);
            std::this_thread::sleep_for (std::chrono::milliseconds (30));
        }
        stop = true;
    });

    std::thread setters ([&] {
        float x = 0.0f;
        while (! stop)
        {
            quorvalen_engine_set_foundry_audition_character (x - 12.0f, 50.0f + x, (int) x % 5 - 1, x, x, x,
                                                             (int) x % 3, x, x - 12.0f);
            quorvalen_engine_set_foundry_main_preview_region_filters ((uint32_t) x % 3, 1, 100.0f + x, x, 1, 5000.0f,
                                                                      x);
            quorvalen_engine_set_foundry_audition_filters (1, 100.0f + x, x, 1, 8000.0f, x);
            x = x > 24.0f ? 0.0f : x + 1.0f;
            std::this_thread::sleep_for (std::chrono::microseconds (300));
        }
    });

    auditions.join();
    setters.join();
    EXPECT_EQ (quorvalen_engine_shutdown(), 0);
}

TEST (Concurrency, FoundryPreviewRendersRaceStopsEditsAndSetters)
{
    useHeadlessOnly (1, 48000.0, 256, 256);
    ASSERT_EQ (quorvalen_engine_init(), 0);
    const auto bytes = wavBytes (sine (330.0, 48000.0, 12000), 48000.0, 16);
    FoundryPreviewCall call;
    call.transientId = quorvalen_engine_cache_wav_memory (bytes.getData(), bytes.getSize());
    call.bodyId = quorvalen_engine_clone_cached (call.transientId);
    call.tailId = quorvalen_engine_clone_cached (call.transientId);
    call.bodyJoinMs = 50;
    call.tailJoinMs = 150;
    call.ctXfadeMs = 60;
    std::atomic<bool> stop { false };

    std::thread renders ([&] {
        for (int round = 0; round < 9; ++round)
        {
            call.character = (float) (round % 3) * 20.0f;
            if (round % 3 == 0)
                call.play (true);
            else if (round % 3 == 1)
                call.refresh();
            else
                call.exportTo ((tempDir() + "/race.wav").c_str());
        }
        stop = true;
    });

    std::thread others ([&] {
        int n = 0;
        while (! stop)
        {
            quorvalen_engine_set_foundry_main_preview_pitch ((float) (n % 7) - 3.0f);
            quorvalen_engine_set_foundry_main_preview_looping (n % 2);
            const float t[] = { 0.0f, 1.0f }, v[] = { 0.3f, 0.9f };
            quorvalen_engine_set_foundry_automation (2, 1, t, v, n % 3 == 0 ? 0 : 2);
            if (n % 5 == 0)
                quorvalen_engine_apply_render_surprise (call.bodyId, 30.0f + (float) (n % 40), 0.0f, 0, n % 2);
            if (n % 7 == 0)
                quorvalen_engine_stop();
            if (n % 11 == 0)
                quorvalen_engine_play_body_tail_morph (call.transientId, call.tailId, 20.0f, 10.0f);
            double p = 0, l = 0;
            uint32_t playing = 0;
            quorvalen_engine_get_playback_telemetry (&p, &l, &playing);
            ++n;
            std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }
    });

    renders.join();
    others.join();
    EXPECT_EQ (quorvalen_engine_shutdown(), 0);
}

namespace
{
// A long operation through its export and the sources it reads.
struct LongOperation
{
    std::function<void()> cacheSources; // caches (again) what `run` reads
    std::function<int()> run;
    std::function<bool (int)> succeeded;
    std::function<int()> unloaded; // the source an unload takes away
    int whenUnloaded = 0;
    int whenShutDown = 0;
};

// A sound no operation reads: the id it gets tells whether an operation inserted anything.
int cacheMarker()
{
    return cacheAudio (sine (500.0, 48000.0, 480), 48000.0);
}

bool somethingPlays()
{
    double position = 0.0, length = 0.0;
    uint32_t playing = 0;
    quorvalen_engine_get_playback_telemetry (&position, &length, &playing);
    return playing != 0;
}

// While the operation runs, a telemetry call never waits long; an unload of a
// source or a shutdown soon after it began makes it answer its failure code with
// less than half its work done after it, no entry inserted and nothing playing.
void checkLongOperation (const LongOperation& op)
{
    useHeadlessOnly (1, 48000.0, 256, 256);
    ASSERT_EQ (quorvalen_engine_init(), 0);
    // Two runs, the first of which also builds what the process keeps (the
    // constant-Q module's tables); the shorter of their longest waits counts, so
    // that a busy machine's pause of the telemetry thread does not.
    op.cacheSources();
    const auto first = telemetryDuring (op.run);
    op.cacheSources();
    const auto free = telemetryDuring (op.run);
    ASSERT_TRUE (op.succeeded (first.result)) << first.result;
    ASSERT_TRUE (op.succeeded (free.result)) << free.result;
    EXPECT_LT (std::min (first.longestWait, free.longestWait).count(), telemetryWaitLimit().count());
    // Once the operation holds what it read: its first hold of the lock is over
    // within milliseconds.
    const Millis soon = std::min<Millis> (free.took / 4, Millis (50));

    op.cacheSources();
    int marker = cacheMarker();
    const auto unloaded = interruptAfter (op.run, soon, [&] { quorvalen_engine_unload_cached (op.unloaded()); });
    EXPECT_FALSE (unloaded.finishedFirst);
    EXPECT_EQ (unloaded.result, op.whenUnloaded);
    EXPECT_LT (unloaded.workAfter.count(), 0.5 * free.work.count());
    EXPECT_EQ (cacheMarker(), marker + 1);
    EXPECT_FALSE (somethingPlays());

    op.cacheSources();
    marker = cacheMarker();
    const auto shutDown = interruptAfter (op.run, soon, [] { quorvalen_engine_shutdown(); });
    EXPECT_FALSE (shutDown.finishedFirst);
    EXPECT_EQ (shutDown.result, op.whenShutDown);
    EXPECT_LT (shutDown.workAfter.count(), 0.5 * free.work.count());
    ASSERT_EQ (quorvalen_engine_init(), 0);
    EXPECT_EQ (cacheMarker(), marker + 1);
    EXPECT_FALSE (somethingPlays());
    quorvalen_engine_shutdown();
}

// Two seconds of a stereo tone with its harmonics.
juce::AudioBuffer<float> harmonicTone (double root, int samples = 96000)
{
    auto tone = sine (root, 48000.0, samples, 0.3f);
    for (int h = 2; h <= 4; ++h)
    {
        const auto partial = sine (root * h, 48000.0, samples, 0.3f / (float) h);
        for (int c = 0; c < 2; ++c)
            tone.addFrom (c, 0, partial, c, 0, samples);
    }
    return tone;
}
} // namespace

TEST (LongWork, ConstantQMorph)
{
    int a = 0, b = 0;
    checkLongOperation ({ [&] {
                             a = cacheAudio (harmonicTone (110.0), 48000.0);
                             b = cacheAudio (harmonicTone (165.0), 48000.0);
                         },
                          [&] { return quorvalen_engine_create_manifold_cqt_morph (a, b, 50.0f, 1, 120.0f, 1); },
                          [] (int r) { return r > 0; }, [&] { return b; }, -3, -1 });
}

TEST (LongWork, ManifoldClassic)
{
    uint32_t ids[16] = {};
    const float gains[16] = { 1.0f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f,
                              0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f, 0.5f };
    const int32_t roles[16] = { 0, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 8 };
    checkLongOperation (
        { [&] {
             for (int i = 0; i < 4; ++i)
                 ids[i] = (uint32_t) cacheAudio (noiseBuffer (96000 + 4800 * i, 5 + i, 0.3f), 48000.0);
             for (int i = 4; i < 16; ++i)
                 ids[i] = ids[i % 4];
         },
          [&] { return quorvalen_engine_create_manifold_classic (ids, gains, roles, 16, 0, 60.0f, 60.0f, 0, 0); },
          [] (int r) { return r > 0; }, [&] { return (int) ids[2]; }, -3, -1 });
}

TEST (LongWork, RoundTripAudition)
{
    int a = 0;
    checkLongOperation ({ [&] { a = cacheAudio (harmonicTone (220.0, 16 * 48000), 48000.0); },
                          [&] { return quorvalen_engine_play_cached_gaborator_roundtrip (a); },
                          [] (int r) { return r == 0; }, [&] { return a; }, 2, 1 });
}

TEST (LongWork, RenderSurprise)
{
    int a = 0;
    checkLongOperation ({ [&] { a = cacheAudio (noiseBuffer (96000, 3, 0.3f), 48000.0); },
                          [&] { return quorvalen_engine_apply_render_surprise (a, 60.0f, 100.0f, 1, 0); },
                          [] (int r) { return r == 0; }, [&] { return a; }, -2, -2 });
}

TEST (LongWork, BodyTailMorph)
{
    int a = 0, b = 0;
    checkLongOperation ({ [&] {
                             a = cacheAudio (noiseBuffer (3 * 48000, 7, 0.3f), 48000.0);
                             b = cacheAudio (noiseBuffer (3 * 48000, 8, 0.3f), 48000.0);
                         },
                          [&] { return quorvalen_engine_play_body_tail_morph (a, b, 500.0f, 2000.0f); },
                          [] (int r) { return r == 0; }, [&] { return b; }, 3, 1 });
}

TEST (LongWork, PitchDetectionAt768kHz)
{
    int a = 0;
    checkLongOperation ({ [&] { a = cacheAudio (sine (440.0, 768000.0, 153600, 0.5f, 1), 768000.0); },
                          [&] { return (int) std::lround (quorvalen_engine_detect_foundry_pitch (a, 0.0f)); },
                          [] (int hz) { return std::abs (hz - 440) <= 5; }, [&] { return a; }, 0, 0 });
}

TEST (LongWork, AnInstallRefusesWhenWhatItReadChanged)
{
    // Another writer changes a source while a morph renders from it, and the
    // sound that a render surprise works on: the morph inserts nothing and the
    // surprise leaves the other writer's result in place.
    useHeadlessOnly (1, 48000.0, 256, 256);
    ASSERT_EQ (quorvalen_engine_init(), 0);
    const int a = cacheAudio (harmonicTone (110.0), 48000.0);
    const int b = cacheAudio (harmonicTone (165.0), 48000.0);
    const int marker = cacheMarker();
    const auto morph = interruptAfter (
        [&] { return quorvalen_engine_create_manifold_cqt_morph (a, b, 50.0f, 1, 120.0f, 1); }, Millis (50),
        [&] { EXPECT_EQ (quorvalen_engine_apply_render_surprise (a, 21.0f, 0.0f, 0, 0), 0); });
    EXPECT_FALSE (morph.finishedFirst);
    EXPECT_EQ (morph.result, -2);
    EXPECT_EQ (cacheMarker(), marker + 1);

    const int x = cacheAudio (noiseBuffer (96000, 3, 0.3f), 48000.0);
    juce::AudioBuffer<float> other;
    const auto surprise =
        interruptAfter ([&] { return quorvalen_engine_apply_render_surprise (x, 60.0f, 100.0f, 1, 0); }, Millis (50),
                        [&] {
        EXPECT_EQ (quorvalen_engine_apply_render_surprise (x, 21.0f, 0.0f, 0, 0), 0);
        other = exportedEntry (x);
        });
    EXPECT_FALSE (surprise.finishedFirst);
    EXPECT_EQ (surprise.result, -5);
    const auto after = exportedEntry (x);
    ASSERT_EQ (after.getNumSamples(), 96000);
    ASSERT_EQ (other.getNumSamples(), 96000);
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ (0, std::memcmp (after.getReadPointer (c), other.getReadPointer (c), 96000 * sizeof (float)));
    quorvalen_engine_shutdown();
}

TEST (LongWork, OfflineConstantQEditStopsAtShutdown)
{
    // The edit may outlive its source (it renders from its own copy), so only a
    // shutdown stops it; the host's telemetry never waits behind it.
    useHeadlessOnly (1, 48000.0, 256, 256);
    ASSERT_EQ (quorvalen_engine_init(), 0);
    const float brush[5] = { 0.5f, 0.5f, 0.3f, 0.3f, 1.0f };
    const uint32_t mode = 0;
    const int a = cacheAudio (harmonicTone (220.0, 16 * 48000), 48000.0);
    const auto edit = [&] { return quorvalen_engine_create_cqt_spectral_edit (a, brush, &mode, 1); };
    const auto first = telemetryDuring (edit);
    const auto free = telemetryDuring (edit);
    ASSERT_GT (first.result, 0);
    ASSERT_GT (free.result, 0);
    EXPECT_LT (std::min (first.longestWait, free.longestWait).count(), telemetryWaitLimit().count());

    const int marker = cacheMarker();
    const auto shutDown =
        interruptAfter (edit, std::min<Millis> (free.took / 4, Millis (50)), [] { quorvalen_engine_shutdown(); });
    EXPECT_FALSE (shutDown.finishedFirst);
    EXPECT_EQ (shutDown.result, -3);
    EXPECT_LT (shutDown.workAfter.count(), 0.5 * free.work.count());
    ASSERT_EQ (quorvalen_engine_init(), 0);
    EXPECT_EQ (cacheMarker(), marker + 1);
    quorvalen_engine_shutdown();
}
