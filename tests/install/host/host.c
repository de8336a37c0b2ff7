/* A minimal host built against an installed quorvalen_dsp: it starts the engine,
   caches a generated tone, plays it until the output has carried it, and shuts
   down. On a machine without sound hardware the engine plays on its headless
   device. Exit status 0 means every step succeeded. */
#include <quorvalen_dsp.h>

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

enum
{
    rate = 48000,
    frames = rate / 2
};
static const double twoPi = 6.283185307179586;

static void put (unsigned char* at, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = (unsigned char) (value >> (8 * i));
}

/* A mono 16-bit WAV file of a 440 Hz tone at half scale. */
static unsigned char wav[44 + 2 * frames];

static void makeTone (void)
{
    memcpy (wav, "RIFF", 4);
    put (wav + 4, 36 + 2 * frames, 4);
    memcpy (wav + 8, "WAVEfmt ", 8);
    put (wav + 16, 16, 4);
    put (wav + 20, 1, 2); /* PCM */
    put (wav + 22, 1, 2);
    put (wav + 24, rate, 4);
    put (wav + 28, rate * 2, 4);
    put (wav + 32, 2, 2);
    put (wav + 34, 16, 2);
    memcpy (wav + 36, "data", 4);
    put (wav + 40, 2 * frames, 4);
    for (int i = 0; i < frames; ++i)
        put (wav + 44 + 2 * i, (uint16_t) (int16_t) (16384.0 * sin (twoPi * 440.0 * i / rate)), 2);
}

static void sleepMs (long ms)
{
    struct timespec t = { ms / 1000, (ms % 1000) * 1000000L };
    nanosleep (&t, NULL);
}

static int fail (const char* step, long code)
{
    fprintf (stderr, "host: %s failed (%ld)\n", step, code);
    quorvalen_engine_shutdown();
    return 1;
}

int main (void)
{
    makeTone();
    int32_t rc = quorvalen_engine_init();
    if (rc != 0 || quorvalen_engine_is_ready() != 1)
        return fail ("init", rc);

    const int32_t id = quorvalen_engine_cache_wav_memory (wav, sizeof wav);
    if (id <= 0)
        return fail ("cache", id);
    if ((rc = quorvalen_engine_play_cached (id, 0.0f, 80.0f)) != 0)
        return fail ("play", rc);

    /* The device pulls the chain in real time: wait until the tap has heard the
       tone and the position has moved on (at most 5 s). */
    static float left[1024], right[1024];
    int heard = 0;
    double position = 0.0, length = 0.0;
    uint32_t playing = 0;
    for (int waited = 0; waited < 5000 && ! (heard && position > 0.05); waited += 10)
    {
        sleepMs (10);
        heard = heard || quorvalen_engine_get_master_stereo_scope (left, right, 1024) == 1;
        if ((rc = quorvalen_engine_get_playback_telemetry (&position, &length, &playing)) != 0)
            return fail ("telemetry", rc);
    }
    if (! heard)
        return fail ("hear the tone", 0);
    if (position <= 0.05)
        return fail ("advance the position (ms)", lround (position * 1000.0));
    if (fabs (length - 0.5) > 0.01)
        return fail ("telemetry length (ms)", lround (length * 1000.0));

    if ((rc = quorvalen_engine_stop()) != 0)
        return fail ("stop", rc);
    if ((rc = quorvalen_engine_shutdown()) != 0 || quorvalen_engine_is_ready() != 0)
        return fail ("shutdown", rc);
    printf ("host: played %.3f s of %.3f s and shut down\n", position, length);
    return 0;
}
