/* A small host program: drives the engine through its C interface only, as the
   sound-design application does.

   Usage: quorvalen_host [sound-file] [export.wav]
   Plays the sound once with the blocking player, then caches it, plays it a
   few semitones up while printing telemetry, scope peak and master pitch,
   stops, and exports the cached sound as a 24-bit WAV file. */
#include <quorvalen_dsp.h>

#include <math.h>
#include <stdio.h>
#include <time.h>

#ifndef QV_DEFAULT_SOUND
#define QV_DEFAULT_SOUND "tools/sounds/default.wav"
#endif

static void sleep_ms(int ms)
{
    struct timespec ts = { ms / 1000, (long)(ms % 1000) * 1000000L };
    nanosleep(&ts, NULL);
}

static float scope_peak(void)
{
    static float left[2048], right[2048];
    float peak = 0.0f;
    if (quorvalen_engine_get_master_stereo_scope(left, right, 2048) < 0)
        return 0.0f;
    for (int i = 0; i < 2048; ++i)
    {
        if (fabsf(left[i]) > peak) peak = fabsf(left[i]);
        if (fabsf(right[i]) > peak) peak = fabsf(right[i]);
    }
    return peak;
}

int main(int argc, char** argv)
{
    const char* sound = argc > 1 ? argv[1] : QV_DEFAULT_SOUND;
    const char* exportPath = argc > 2 ? argv[2] : "quorvalen_export.wav";

    int rc = quorvalen_engine_init();
    printf("init: %d (ready=%d)\n", rc, quorvalen_engine_is_ready());
    if (rc != 0)
        return 1;

    printf("blocking play of %s: %d\n", sound, quorvalen_play_wav(sound));

    const int id = quorvalen_engine_cache_wav(sound);
    printf("cached %s as id %d\n", sound, id);
    if (id <= 0)
    {
        quorvalen_engine_shutdown();
        return 1;
    }

    rc = quorvalen_engine_play_cached(id, 3.0f, 80.0f);
    printf("play +3 semitones at 80%%: %d\n", rc);
    for (int step = 0; step < 20; ++step)
    {
        double position = 0.0, length = 0.0;
        uint32_t playing = 0;
        float hz = 0.0f;
        quorvalen_engine_get_playback_telemetry(&position, &length, &playing);
        const int pitched = quorvalen_engine_get_master_pitch(&hz);
        printf("  t=%.3f/%.3f s playing=%u scope_peak=%.3f pitch=%s%.1f Hz\n", position, length, playing,
               scope_peak(), pitched == 1 ? "" : "~", hz);
        if (!playing)
            break;
        sleep_ms(100);
    }
    printf("stop: %d\n", quorvalen_engine_stop());

    rc = quorvalen_engine_export_cached_wav(id, exportPath);
    printf("export to %s: %d\n", exportPath, rc);

    quorvalen_engine_shutdown();
    printf("shutdown: ready=%d\n", quorvalen_engine_is_ready());
    return rc == 0 ? 0 : 1;
}
