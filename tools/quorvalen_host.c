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
   quorvalen_host convert SOUND OUT.wav  caches the sound and exports it as a
                                         24-bit WAV file (nothing played) */
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

static int run_convert(const char* sound, const char* out)
{
    const int id = quorvalen_engine_cache_wav(sound);
    if (id < 1)
    {
        fprintf(stderr, "cache_wav(%s): %d\n", sound, id);
        return 1;
    }
    const int rc = quorvalen_engine_export_cached_wav(id, out);
    if (rc != 0)
        fprintf(stderr, "export_cached_wav(%s): %d\n", out, rc);
    return rc == 0 ? 0 : 1;
}

int main(int argc, char** argv)
{
    const char* command = argc > 1 ? argv[1] : "";
    const int rackMode = strcmp(command, "rack") == 0;
    const int renderMode = strcmp(command, "render") == 0;
    const int convertMode = strcmp(command, "convert") == 0;
    if ((rackMode && argc < 4) || (renderMode && argc < 5) || (convertMode && argc < 4))
    {
        fprintf(stderr, "usage: %s rack SOUND SETTINGS.json | render SOUND SETTINGS.json OUT.wav | irs"
                        " | convert SOUND OUT.wav\n", argv[0]);
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
    else if (convertMode)
        rc = run_convert(argv[2], argv[3]);
    else
        rc = run_tour(argc > 1 ? argv[1] : QV_DEFAULT_SOUND, argc > 2 ? argv[2] : "quorvalen_export.wav");

    quorvalen_engine_shutdown();
    printf("shutdown: ready=%d\n", quorvalen_engine_is_ready());
    return rc;
}
