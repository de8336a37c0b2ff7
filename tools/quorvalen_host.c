/* A small host program: drives the engine through its C interface only, as the
   sound-design application does.

   quorvalen_host [sound [export.wav]]   plays the sound with the blocking player,
                                         caches it, plays it 3 semitones up while
                                         printing telemetry, scope peak and master
                                         pitch, stops and exports a 24-bit WAV
   quorvalen_host rack SOUND SETTINGS    plays the sound through the effect rack
                                         with a rack settings file (JSON)
   quorvalen_host render SOUND SETTINGS OUT.wav
                                         renders the sound through the rack offline
                                         into a 24-bit WAV file
   quorvalen_host irs                    lists the impulse responses the space
                                         module can use
   quorvalen_host region SOUND [KIND [SEMITONES [LEVEL [HP_HZ [LP_HZ [CHARACTER [START_MS]]]]]]]
                                         auditions a region of the sound as a
                                         Foundry layer (KIND 0 transient, 1 body,
                                         2 tail, 3 overtone) with pitch, level in
                                         percent, high-pass and low-pass cutoffs
                                         (0 = off) and the kind's character amount
                                         in percent; prints its detected pitch
   quorvalen_host oneshot TRANSIENT BODY TAIL OUT.wav [LENGTH_MS [CHARACTER]]
                                         designs a Foundry one-shot from three
                                         sounds (body joined at 80 ms, tail at 300 ms,
                                         a level lane on the tail), plays it, makes
                                         the body hotter while it plays (refresh)
                                         and exports it as a 24-bit WAV file */
#include <quorvalen_dsp.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

static char* read_text(const char* path)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    const long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char* text = size >= 0 ? malloc((size_t)size + 1) : NULL;
    if (text && fread(text, 1, (size_t)size, f) == (size_t)size)
        text[size] = '\0';
    else if (text)
    {
        free(text);
        text = NULL;
    }
    fclose(f);
    return text;
}

/* Prints telemetry until playback ends or `limit_ms` passes. */
static void watch(int limit_ms)
{
    for (int waited = 0; waited <= limit_ms; waited += 100)
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
}

static int cache_or_fail(const char* sound)
{
    const int id = quorvalen_engine_cache_wav(sound);
    printf("cached %s as id %d\n", sound, id);
    return id;
}

static int run_tour(const char* sound, const char* exportPath)
{
    printf("blocking play of %s: %d\n", sound, quorvalen_play_wav(sound));
    const int id = cache_or_fail(sound);
    if (id <= 0)
        return 1;
    printf("play +3 semitones at 80%%: %d\n", quorvalen_engine_play_cached(id, 3.0f, 80.0f));
    watch(3000);
    printf("stop: %d\n", quorvalen_engine_stop());
    const int rc = quorvalen_engine_export_cached_wav(id, exportPath);
    printf("export to %s: %d\n", exportPath, rc);
    return rc == 0 ? 0 : 1;
}

static int run_rack(const char* sound, const char* settingsPath)
{
    char* json = read_text(settingsPath);
    if (!json)
    {
        fprintf(stderr, "cannot read %s\n", settingsPath);
        return 1;
    }
    const int id = cache_or_fail(sound);
    int rc = id > 0 ? quorvalen_engine_play_cached_with_processing(id, json, 90.0f, 0) : 1;
    printf("play through the rack with %s: %d\n", settingsPath, rc);
    if (rc == 0)
    {
        watch(15000);
        quorvalen_engine_stop();
    }
    free(json);
    return rc == 0 ? 0 : 1;
}

static int run_render(const char* sound, const char* settingsPath, const char* outPath)
{
    char* json = read_text(settingsPath);
    if (!json)
    {
        fprintf(stderr, "cannot read %s\n", settingsPath);
        return 1;
    }
    const int id = cache_or_fail(sound);
    const int rc = id > 0 ? quorvalen_engine_render_cached_with_processing(id, json, outPath) : 1;
    printf("render through the rack with %s to %s: %d\n", settingsPath, outPath, rc);
    free(json);
    return rc == 0 ? 0 : 1;
}

static double arg_or(int argc, char** argv, int index, double fallback)
{
    return argc > index ? atof(argv[index]) : fallback;
}

static int run_region(int argc, char** argv)
{
    const int id = cache_or_fail(argv[2]);
    if (id <= 0)
        return 1;
    const int kind = (int)arg_or(argc, argv, 3, 0);
    const float semitones = (float)arg_or(argc, argv, 4, 0);
    const float level = (float)arg_or(argc, argv, 5, 100);
    const float hp = (float)arg_or(argc, argv, 6, 0);
    const float lp = (float)arg_or(argc, argv, 7, 0);
    const float character = (float)arg_or(argc, argv, 8, 0);
    const float startMs = (float)arg_or(argc, argv, 9, 0);
    printf("detected pitch from %.0f ms: %.1f Hz\n", startMs, quorvalen_engine_detect_foundry_pitch(id, startMs));

    /* The character amount goes to the kind's own stage; heat mode 1, no width. */
    const int rc = quorvalen_engine_play_foundry_region(
        id, semitones, level, startMs, hp > 0, hp, 20.0f, lp > 0, lp > 0 ? lp : 20000.0f, 20.0f, kind,
        kind == 0 ? character : 0.0f, kind == 1 ? character : 0.0f, kind == 2 ? character : 0.0f, 1,
        kind == 3 ? character : 0.0f, 0.0f, 0, 0.0f, 10.0f);
    printf("audition kind %d at %+.1f semitones, %.0f%%, hp %.0f Hz, lp %.0f Hz, character %.0f%%: %d\n", kind,
           semitones, level, hp, lp, character, rc);
    if (rc == 0)
    {
        watch(10000);
        quorvalen_engine_stop();
    }
    return rc == 0 ? 0 : 1;
}

/* Foundry arguments in the exports' order: layers, joins, per-layer settings,
   overtone (none) and the finish. */
#define QV_ONESHOT_ARGS(bodyHeat)                                                                               \
    transient, body, tail, 80.0f, 300.0f, 20.0f, 60.0f, 0.0f, 100.0f, 0.0f, 50.0f, 1, 60.0f, 10.0f, 0, 20000.0f, \
        0.0f, 0.0f, 90.0f, 0.0f, bodyHeat, 0, 20.0f, 0.0f, 1, 12000.0f, 20.0f, -5.0f, 100.0f, 0.0f, 20.0f, 1,     \
        30.0f, 0, 0, 1, 120.0f, 10.0f, 0, 20000.0f, 0.0f, 0, 0.0f, 0.0f, 0.0f, 0.0f, 100.0f, 0.0f, 0.0f, 0.0f, 0, \
        20.0f, 0, 20000.0f, lengthMs, 0.0f, character

static int run_oneshot(int argc, char** argv)
{
    const int transient = cache_or_fail(argv[2]);
    const int body = cache_or_fail(argv[3]);
    const int tail = cache_or_fail(argv[4]);
    if (transient <= 0 || body <= 0 || tail <= 0)
        return 1;
    const float lengthMs = (float)arg_or(argc, argv, 6, 900);
    const float character = (float)arg_or(argc, argv, 7, 20);

    /* The tail fades out along its lane (level, 0..1 over the tail). */
    const float times[] = {0.0f, 0.5f, 1.0f};
    const float levels[] = {1.0f, 0.8f, 0.3f};
    quorvalen_engine_set_foundry_automation(2, 1, times, levels, 3);

    int rc = quorvalen_engine_play_foundry_preview(QV_ONESHOT_ARGS(10.0f), 1);
    printf("one-shot preview (length %.0f ms, character %.0f%%), looping: %d\n", lengthMs, character, rc);
    if (rc != 0)
        return 1;
    watch(1500);
    rc = quorvalen_engine_refresh_foundry_preview(QV_ONESHOT_ARGS(60.0f));
    printf("refreshed with a hotter body: %d\n", rc);
    watch(1500);
    rc = quorvalen_engine_export_foundry_preview(QV_ONESHOT_ARGS(60.0f), argv[5]);
    printf("exported %s: %d\n", argv[5], rc);
    return rc == 0 ? 0 : 1;
}
#undef QV_ONESHOT_ARGS

/* Works without the engine: the list is searched anew at every call. */
static int run_list_irs(void)
{
    const int count = quorvalen_engine_get_space_ir_count();
    printf("%d impulse response%s\n", count, count == 1 ? "" : "s");
    for (int i = 0; i < count; ++i)
    {
        const int size = quorvalen_engine_get_space_ir_name(i, NULL, 0);
        char* name = size > 0 ? malloc((size_t)size) : NULL;
        if (name && quorvalen_engine_get_space_ir_name(i, name, size) > 0)
            printf("  %d: %s\n", i, name);
        free(name);
    }
    return 0;
}

int main(int argc, char** argv)
{
    const char* command = argc > 1 ? argv[1] : "";
    const int rackMode = strcmp(command, "rack") == 0;
    const int renderMode = strcmp(command, "render") == 0;
    const int regionMode = strcmp(command, "region") == 0;
    const int oneshotMode = strcmp(command, "oneshot") == 0;
    if ((rackMode && argc < 4) || (renderMode && argc < 5) || (regionMode && argc < 3) || (oneshotMode && argc < 6))
    {
        fprintf(stderr,
                "usage: %s rack SOUND SETTINGS.json | render SOUND SETTINGS.json OUT.wav | irs\n"
                "       %s region SOUND [KIND [SEMITONES [LEVEL [HP_HZ [LP_HZ [CHARACTER [START_MS]]]]]]]\n"
                "       %s oneshot TRANSIENT BODY TAIL OUT.wav [LENGTH_MS [CHARACTER]]\n",
                argv[0], argv[0], argv[0]);
        return 2;
    }
    if (strcmp(command, "irs") == 0)
        return run_list_irs();

    int rc = quorvalen_engine_init();
    printf("init: %d (ready=%d)\n", rc, quorvalen_engine_is_ready());
    if (rc != 0)
        return 1;

    if (rackMode)
        rc = run_rack(argv[2], argv[3]);
    else if (renderMode)
        rc = run_render(argv[2], argv[3], argv[4]);
    else if (regionMode)
        rc = run_region(argc, argv);
    else if (oneshotMode)
        rc = run_oneshot(argc, argv);
    else
        rc = run_tour(argc > 1 ? argv[1] : QV_DEFAULT_SOUND, argc > 2 ? argv[2] : "quorvalen_export.wav");

    quorvalen_engine_shutdown();
    printf("shutdown: ready=%d\n", quorvalen_engine_is_ready());
    return rc;
}
