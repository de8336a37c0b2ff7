// Lock-free queries and setters racing init, shutdown and playback. Meant for the
// ThreadSanitizer build, where any data race fails the run.
#include "EngineTestSupport.h"
#include "TestAudio.h"

#include <atomic>
#include <gtest/gtest.h>
#include <quorvalen_dsp.h>
#include <thread>

using namespace qvtest;

TEST (Concurrency, LockFreeExportsRaceLifecycleAndPlayback)
{
    useHeadlessOnly (1, 48000.0, 256, 256);
    const auto bytes = wavBytes (sine (330.0, 48000.0, 24000), 48000.0, 16);
    std::atomic<bool> stop { false };

    std::thread lifecycle ([&] {
        for (int round = 0; round < 6; ++round)
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
