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
   quorvalen_host cqt-edit SOUND OUT.wav renders a few constant-Q brushes (a soft
                                         cut, a harmonic boost, a ring) into a new
                                         sound and exports it
   quorvalen_host morph A B KIND AMOUNT OUT.wav
                                         morphs A towards B (KIND covalent, mangle
                                         or reese; AMOUNT in percent) and exports it
   quorvalen_host manifold OUT.wav SOUND...
                                         mixes up to 16 sounds (the first plays
                                         once, the others repeat) and exports it */
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

static int export_result(const char* what, int id, const char* outPath)
{
    if (id <= 0)
    {
        printf("%s failed: %d\n", what, id);
        return 1;
    }
    const int rc = quorvalen_engine_export_cached_wav(id, outPath);
    printf("%s: new id %d, export to %s: %d\n", what, id, outPath, rc);
    return rc == 0 ? 0 : 1;
}

static int run_cqt_edit(const char* sound, const char* outPath)
{
    /* time, band, time radius, band radius, strength per brush */
    static const float edits[] = {
        0.5f, 0.55f, 0.25f, 0.08f, 1.0f,
        0.3f, 0.75f, 0.20f, 0.03f, 0.8f,
        0.7f, 0.40f, 0.15f, 0.10f, 1.0f,
    };
    static const uint32_t modes[] = { 0, 3, 4 };
    const int id = cache_or_fail(sound);
    return export_result("cqt spectral edit", id > 0 ? quorvalen_engine_create_cqt_spectral_edit(id, edits, modes, 3) : id,
                         outPath);
}

static int run_morph(const char* soundA, const char* soundB, const char* kind, float amount, const char* outPath)
{
    const int a = cache_or_fail(soundA);
    const int b = cache_or_fail(soundB);
    if (a <= 0 || b <= 0)
        return 1;
    int id;
    if (strcmp(kind, "reese") == 0)
        id = quorvalen_engine_create_reese_cqt_morph(a, b, amount);
    else
        id = quorvalen_engine_create_manifold_cqt_morph(a, b, amount, strcmp(kind, "covalent") == 0 ? 1u : 0u, 120.0f, 1);
    return export_result(kind, id, outPath);
}

static int run_manifold(const char* outPath, int count, char** sounds)
{
    uint32_t ids[16];
    float gains[16];
    int32_t roles[16];
    if (count > 16)
        count = 16;
    for (int i = 0; i < count; ++i)
    {
        const int id = cache_or_fail(sounds[i]);
        if (id <= 0)
            return 1;
        ids[i] = (uint32_t)id;
        gains[i] = i == 0 ? 1.0f : 0.6f;
        roles[i] = i == 0 ? 0 : 2;
    }
    return export_result("manifold classic",
                         quorvalen_engine_create_manifold_classic(ids, gains, roles, count, 0, 60.0f, 0.0f, 0, 0), outPath);
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

int main(int argc, char** argv)
{
    const char* command = argc > 1 ? argv[1] : "";
    const int rackMode = strcmp(command, "rack") == 0;
    const int renderMode = strcmp(command, "render") == 0;
    const int editMode = strcmp(command, "cqt-edit") == 0;
    const int morphMode = strcmp(command, "morph") == 0;
    const int manifoldMode = strcmp(command, "manifold") == 0;
    if ((rackMode && argc < 4) || (renderMode && argc < 5) || (editMode && argc < 4) || (morphMode && argc < 7)
        || (manifoldMode && argc < 4))
    {
        fprintf(stderr,
                "usage: %s rack SOUND SETTINGS.json | render SOUND SETTINGS.json OUT.wav | irs\n"
                "       | cqt-edit SOUND OUT.wav | morph A B covalent|mangle|reese AMOUNT OUT.wav\n"
                "       | manifold OUT.wav SOUND...\n",
                argv[0]);
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
    else if (editMode)
        rc = run_cqt_edit(argv[2], argv[3]);
    else if (morphMode)
        rc = run_morph(argv[2], argv[3], argv[4], (float)atof(argv[5]), argv[6]);
    else if (manifoldMode)
        rc = run_manifold(argv[2], argc - 3, argv + 3);
    else
        rc = run_tour(argc > 1 ? argv[1] : QV_DEFAULT_SOUND, argc > 2 ? argv[2] : "quorvalen_export.wav");

    quorvalen_engine_shutdown();
    printf("shutdown: ready=%d\n", quorvalen_engine_is_ready());
    return rc;
}
