// Lock-free queries and setters racing init, shutdown and playback. Meant for the
// ThreadSanitizer build, where any data race fails the run.
#include "EngineTestSupport.h"
#include "FoundryPreviewCall.h"
#include "SpectralTestSupport.h"
#include "TestAudio.h"

#include <atomic>
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
