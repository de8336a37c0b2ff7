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
   quorvalen_host spectral SOUND POINTS OUT.wav
                                         opens a spectral session on the sound,
                                         plays its live copy while applying the
                                         stroke in POINTS (one point a line: tool
                                         code then five numbers), exports the
                                         edited live copy, undoes the stroke and
                                         ends the session
   quorvalen_host images SOUND PREFIX [POINTS]
                                         writes pictures (8-bit PGM) of a spectral
                                         session on the sound, after the stroke in
                                         POINTS when given: PREFIX-bounded-q.pgm,
                                         PREFIX-cqt.pgm (committed laser strokes
                                         drawn in), PREFIX-stft.pgm; and the
                                         sound's spectrogram, PREFIX-spectrogram.pgm
   quorvalen_host cqt-edit SOUND OUT.wav renders a few constant-Q brushes (a soft
                                         cut, a harmonic boost, a ring) into a new
                                         sound and exports it
   quorvalen_host morph A B KIND AMOUNT OUT.wav
                                         morphs A towards B (KIND covalent, mangle
                                         or reese; AMOUNT in percent) and exports it
   quorvalen_host manifold OUT.wav SOUND...
                                         mixes up to 16 sounds (the first plays
                                         once, the others repeat) and exports it
   quorvalen_host convert SOUND OUT.wav  caches the sound and exports it as a
                                         24-bit WAV file (nothing played)
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

static void sleep_ms (int ms)
{
    struct timespec ts = { ms / 1000, (long) (ms % 1000) * 1000000L };
    nanosleep (&ts, NULL);
}

static float scope_peak (void)
{
    static float left[2048], right[2048];
    float peak = 0.0f;
    if (quorvalen_engine_get_master_stereo_scope (left, right, 2048) < 0)
        return 0.0f;
    for (int i = 0; i < 2048; ++i)
    {
        if (fabsf (left[i]) > peak)
            peak = fabsf (left[i]);
        if (fabsf (right[i]) > peak)
            peak = fabsf (right[i]);
    }
    return peak;
}

static char* read_text (const char* path)
{
    FILE* f = fopen (path, "rb");
    if (! f)
        return NULL;
    fseek (f, 0, SEEK_END);
    const long size = ftell (f);
    fseek (f, 0, SEEK_SET);
    char* text = size >= 0 ? malloc ((size_t) size + 1) : NULL;
    if (text && fread (text, 1, (size_t) size, f) == (size_t) size)
        text[size] = '\0';
    else if (text)
    {
        free (text);
        text = NULL;
    }
    fclose (f);
    return text;
}

/* Prints telemetry until playback ends or `limit_ms` passes. */
static void watch (int limit_ms)
{
    for (int waited = 0; waited <= limit_ms; waited += 100)
    {
        double position = 0.0, length = 0.0;
        uint32_t playing = 0;
        float hz = 0.0f;
        quorvalen_engine_get_playback_telemetry (&position, &length, &playing);
        const int pitched = quorvalen_engine_get_master_pitch (&hz);
        printf ("  t=%.3f/%.3f s playing=%u scope_peak=%.3f pitch=%s%.1f Hz\n", position, length, playing, scope_peak(),
                pitched == 1 ? "" : "~", hz);
        if (! playing)
            break;
        sleep_ms (100);
    }
}

static int cache_or_fail (const char* sound)
{
    const int id = quorvalen_engine_cache_wav (sound);
    printf ("cached %s as id %d\n", sound, id);
    return id;
}

static int run_tour (const char* sound, const char* exportPath)
{
    printf ("blocking play of %s: %d\n", sound, quorvalen_play_wav (sound));
    const int id = cache_or_fail (sound);
    if (id <= 0)
        return 1;
    printf ("play +3 semitones at 80%%: %d\n", quorvalen_engine_play_cached (id, 3.0f, 80.0f));
    watch (3000);
    printf ("stop: %d\n", quorvalen_engine_stop());
    const int rc = quorvalen_engine_export_cached_wav (id, exportPath);
    printf ("export to %s: %d\n", exportPath, rc);
    return rc == 0 ? 0 : 1;
}

static int run_rack (const char* sound, const char* settingsPath)
{
    char* json = read_text (settingsPath);
    if (! json)
    {
        fprintf (stderr, "cannot read %s\n", settingsPath);
        return 1;
    }
    const int id = cache_or_fail (sound);
    int rc = id > 0 ? quorvalen_engine_play_cached_with_processing (id, json, 90.0f, 0) : 1;
    printf ("play through the rack with %s: %d\n", settingsPath, rc);
    if (rc == 0)
    {
        watch (15000);
        quorvalen_engine_stop();
    }
    free (json);
    return rc == 0 ? 0 : 1;
}

static int run_render (const char* sound, const char* settingsPath, const char* outPath)
{
    char* json = read_text (settingsPath);
    if (! json)
    {
        fprintf (stderr, "cannot read %s\n", settingsPath);
        return 1;
    }
    const int id = cache_or_fail (sound);
    const int rc = id > 0 ? quorvalen_engine_render_cached_with_processing (id, json, outPath) : 1;
    printf ("render through the rack with %s to %s: %d\n", settingsPath, outPath, rc);
    free (json);
    return rc == 0 ? 0 : 1;
}

/* Reads "tool p0 p1 p2 p3 p4" lines ('#' starts a comment line). Returns the
   number of points, or -1. */
static int read_points (const char* path, float** points, uint32_t** tools)
{
    FILE* f = fopen (path, "r");
    if (! f)
        return -1;
    int count = 0, capacity = 0;
    char line[512];
    *points = NULL;
    *tools = NULL;
    while (fgets (line, sizeof line, f))
    {
        unsigned tool = 0;
        float p[5];
        if (line[0] == '#' || sscanf (line, "%u %f %f %f %f %f", &tool, &p[0], &p[1], &p[2], &p[3], &p[4]) != 6)
            continue;
        if (count == capacity)
        {
            capacity = capacity ? 2 * capacity : 16;
            float* grownPoints = realloc (*points, sizeof (float) * 5 * (size_t) capacity);
            uint32_t* grownTools = grownPoints ? realloc (*tools, sizeof (uint32_t) * (size_t) capacity) : NULL;
            if (grownPoints)
                *points = grownPoints;
            if (! grownTools)
            {
                fclose (f);
                return -1;
            }
            *tools = grownTools;
        }
        memcpy (*points + 5 * count, p, sizeof p);
        (*tools)[count++] = tool;
    }
    fclose (f);
    return count;
}

static int run_spectral (const char* sound, const char* pointsPath, const char* outPath)
{
    float* points = NULL;
    uint32_t* tools = NULL;
    const int count = read_points (pointsPath, &points, &tools);
    if (count < 1)
    {
        fprintf (stderr, "no stroke points in %s\n", pointsPath);
        free (points);
        free (tools);
        return 1;
    }
    int rc = 1;
    const int id = cache_or_fail (sound);
    uint32_t live = 0;
    float seconds = 0.0f;
    const int session = id > 0 ? quorvalen_engine_begin_cqt_spectral_session (id, &live, &seconds) : -1;
    printf ("spectral session: %d (live copy %u, %.3f s)\n", session, live, seconds);
    if (session > 0)
    {
        /* The stroke lands on the playing live copy: playback resumes where it was. */
        printf ("play the live copy: %d\n", quorvalen_engine_play_cached ((int32_t) live, 0.0f, 80.0f));
        sleep_ms (500);
        const int stroke = quorvalen_engine_apply_cqt_spectral_session_stroke (session, points, tools, count);
        printf ("stroke of %d point%s (tool %u): %d\n", count, count == 1 ? "" : "s", tools[0], stroke);
        watch (1000);
        quorvalen_engine_stop();
        const int exported = quorvalen_engine_export_cached_wav ((int32_t) live, outPath);
        printf ("export of the edited live copy to %s: %d\n", outPath, exported);
        printf ("undo: %d\n", quorvalen_engine_undo_cqt_spectral_session (session));
        printf ("end session: %d\n", quorvalen_engine_end_cqt_spectral_session (session));
        rc = stroke > 0 && exported == 0 ? 0 : 1;
    }
    free (points);
    free (tools);
    return rc;
}

static int export_result (const char* what, int id, const char* outPath)
{
    if (id <= 0)
    {
        printf ("%s failed: %d\n", what, id);
        return 1;
    }
    const int rc = quorvalen_engine_export_cached_wav (id, outPath);
    printf ("%s: new id %d, export to %s: %d\n", what, id, outPath, rc);
    return rc == 0 ? 0 : 1;
}

static int run_cqt_edit (const char* sound, const char* outPath)
{
    /* time, band, time radius, band radius, strength per brush */
    static const float edits[] = {
        0.5f, 0.55f, 0.25f, 0.08f, 1.0f, 0.3f, 0.75f, 0.20f, 0.03f, 0.8f, 0.7f, 0.40f, 0.15f, 0.10f, 1.0f,
    };
    static const uint32_t modes[] = { 0, 3, 4 };
    const int id = cache_or_fail (sound);
    return export_result ("cqt spectral edit",
                          id > 0 ? quorvalen_engine_create_cqt_spectral_edit (id, edits, modes, 3) : id, outPath);
}

static int run_morph (const char* soundA, const char* soundB, const char* kind, float amount, const char* outPath)
{
    const int a = cache_or_fail (soundA);
    const int b = cache_or_fail (soundB);
    if (a <= 0 || b <= 0)
        return 1;
    int id;
    if (strcmp (kind, "reese") == 0)
        id = quorvalen_engine_create_reese_cqt_morph (a, b, amount);
    else
        id = quorvalen_engine_create_manifold_cqt_morph (a, b, amount, strcmp (kind, "covalent") == 0 ? 1u : 0u, 120.0f,
                                                         1);
    return export_result (kind, id, outPath);
}

static int run_manifold (const char* outPath, int count, char** sounds)
{
    uint32_t ids[16];
    float gains[16];
    int32_t roles[16];
    if (count > 16)
        count = 16;
    for (int i = 0; i < count; ++i)
    {
        const int id = cache_or_fail (sounds[i]);
        if (id <= 0)
            return 1;
        ids[i] = (uint32_t) id;
        gains[i] = i == 0 ? 1.0f : 0.6f;
        roles[i] = i == 0 ? 0 : 2;
    }
    return export_result ("manifold classic",
                          quorvalen_engine_create_manifold_classic (ids, gains, roles, count, 0, 60.0f, 0.0f, 0, 0),
                          outPath);
}

/* Works without the engine: the list is searched anew at every call. */
static int run_list_irs (void)
{
    const int count = quorvalen_engine_get_space_ir_count();
    printf ("%d impulse response%s\n", count, count == 1 ? "" : "s");
    for (int i = 0; i < count; ++i)
    {
        const int size = quorvalen_engine_get_space_ir_name (i, NULL, 0);
        char* name = size > 0 ? malloc ((size_t) size) : NULL;
        if (name && quorvalen_engine_get_space_ir_name (i, name, size) > 0)
            printf ("  %d: %s\n", i, name);
        free (name);
    }
    return 0;
}

static int run_convert (const char* sound, const char* out)
{
    const int id = quorvalen_engine_cache_wav (sound);
    if (id < 1)
    {
        fprintf (stderr, "cache_wav(%s): %d\n", sound, id);
        return 1;
    }
    const int rc = quorvalen_engine_export_cached_wav (id, out);
    if (rc != 0)
        fprintf (stderr, "export_cached_wav(%s): %d\n", out, rc);
    return rc == 0 ? 0 : 1;
}

static double arg_or (int argc, char** argv, int index, double fallback)
{
    return argc > index ? atof (argv[index]) : fallback;
}

static int run_region (int argc, char** argv)
{
    const int id = cache_or_fail (argv[2]);
    if (id <= 0)
        return 1;
    const int kind = (int) arg_or (argc, argv, 3, 0);
    const float semitones = (float) arg_or (argc, argv, 4, 0);
    const float level = (float) arg_or (argc, argv, 5, 100);
    const float hp = (float) arg_or (argc, argv, 6, 0);
    const float lp = (float) arg_or (argc, argv, 7, 0);
    const float character = (float) arg_or (argc, argv, 8, 0);
    const float startMs = (float) arg_or (argc, argv, 9, 0);
    printf ("detected pitch from %.0f ms: %.1f Hz\n", startMs, quorvalen_engine_detect_foundry_pitch (id, startMs));

    /* The character amount goes to the kind's own stage; heat mode 1, no width. */
    const int rc = quorvalen_engine_play_foundry_region (
        id, semitones, level, startMs, hp > 0, hp, 20.0f, lp > 0, lp > 0 ? lp : 20000.0f, 20.0f, kind,
        kind == 0 ? character : 0.0f, kind == 1 ? character : 0.0f, kind == 2 ? character : 0.0f, 1,
        kind == 3 ? character : 0.0f, 0.0f, 0, 0.0f, 10.0f);
    printf ("audition kind %d at %+.1f semitones, %.0f%%, hp %.0f Hz, lp %.0f Hz, character %.0f%%: %d\n", kind,
            semitones, level, hp, lp, character, rc);
    if (rc == 0)
    {
        watch (10000);
        quorvalen_engine_stop();
    }
    return rc == 0 ? 0 : 1;
}


/* Foundry arguments in the exports' order: layers, joins, per-layer settings,
   overtone (none) and the finish. */
#define QV_ONESHOT_ARGS(bodyHeat)                                                                                      \
    transient, body, tail, 80.0f, 300.0f, 20.0f, 60.0f, 0.0f, 100.0f, 0.0f, 50.0f, 1, 60.0f, 10.0f, 0, 20000.0f, 0.0f, \
        0.0f, 90.0f, 0.0f, bodyHeat, 0, 20.0f, 0.0f, 1, 12000.0f, 20.0f, -5.0f, 100.0f, 0.0f, 20.0f, 1, 30.0f, 0, 0,   \
        1, 120.0f, 10.0f, 0, 20000.0f, 0.0f, 0, 0.0f, 0.0f, 0.0f, 0.0f, 100.0f, 0.0f, 0.0f, 0.0f, 0, 20.0f, 0,         \
        20000.0f, lengthMs, 0.0f, character

static int run_oneshot (int argc, char** argv)
{
    const int transient = cache_or_fail (argv[2]);
    const int body = cache_or_fail (argv[3]);
    const int tail = cache_or_fail (argv[4]);
    if (transient <= 0 || body <= 0 || tail <= 0)
        return 1;
    const float lengthMs = (float) arg_or (argc, argv, 6, 900);
    const float character = (float) arg_or (argc, argv, 7, 20);

    /* The tail fades out along its lane (level, 0..1 over the tail). */
    const float times[] = { 0.0f, 0.5f, 1.0f };
    const float levels[] = { 1.0f, 0.8f, 0.3f };
    quorvalen_engine_set_foundry_automation (2, 1, times, levels, 3);

    int rc = quorvalen_engine_play_foundry_preview (QV_ONESHOT_ARGS (10.0f), 1);
    printf ("one-shot preview (length %.0f ms, character %.0f%%), looping: %d\n", lengthMs, character, rc);
    if (rc != 0)
        return 1;
    watch (1500);
    rc = quorvalen_engine_refresh_foundry_preview (QV_ONESHOT_ARGS (60.0f));
    printf ("refreshed with a hotter body: %d\n", rc);
    watch (1500);
    rc = quorvalen_engine_export_foundry_preview (QV_ONESHOT_ARGS (60.0f), argv[5]);
    printf ("exported %s: %d\n", argv[5], rc);
    return rc == 0 ? 0 : 1;
}
#undef QV_ONESHOT_ARGS

/* Brightness values in 0..1, row 0 at the top, as an 8-bit binary PGM. */
static int write_pgm (const char* path, const float* values, int width, int height)
{
    FILE* f = fopen (path, "wb");
    if (! f)
        return -1;
    fprintf (f, "P5\n%d %d\n255\n", width, height);
    for (int i = 0; i < width * height; ++i)
    {
        const float v = values[i] < 0.0f ? 0.0f : values[i] > 1.0f ? 1.0f : values[i];
        fputc ((int) lrintf (v * 255.0f), f);
    }
    return fclose (f) == 0 ? 0 : -1;
}

static int write_picture (const char* prefix, const char* name, int code, const float* values, int width, int height)
{
    char path[1024];
    snprintf (path, sizeof path, "%s-%s.pgm", prefix, name);
    const int written = code == 0 ? write_pgm (path, values, width, height) : -1;
    printf ("%s (%d x %d): %d, %s %s\n", name, width, height, code, written == 0 ? "written to" : "not written", path);
    return code == 0 && written == 0;
}

static int run_images (const char* sound, const char* prefix, const char* pointsPath)
{
    const int id = cache_or_fail (sound);
    uint32_t live = 0;
    float seconds = 0.0f;
    const int session = id > 0 ? quorvalen_engine_begin_cqt_spectral_session (id, &live, &seconds) : -1;
    printf ("spectral session: %d (live copy %u, %.3f s)\n", session, live, seconds);
    if (session < 1)
        return 1;
    float* out = malloc (sizeof (float) * 2048 * 1024);
    int good = out != NULL;
    /* The constant-Q image locks its reference on the untouched sound first. */
    if (good)
        good =
            write_picture (prefix, "cqt-before",
                           quorvalen_engine_get_cqt_spectral_session_image (session, out, 1200, 385), out, 1200, 385);
    if (good && pointsPath)
    {
        float* points = NULL;
        uint32_t* tools = NULL;
        const int count = read_points (pointsPath, &points, &tools);
        const int stroke =
            count > 0 ? quorvalen_engine_apply_cqt_spectral_session_stroke (session, points, tools, count) : -1;
        printf ("stroke of %d point%s: %d\n", count, count == 1 ? "" : "s", stroke);
        good = stroke > 0;
        free (points);
        free (tools);
    }
    if (good)
    {
        good &= write_picture (prefix, "bounded-q",
                               quorvalen_engine_get_cqt_spectral_session_image (session, out, 961, 385), out, 961, 385);
        good &= write_picture (prefix, "cqt", quorvalen_engine_get_cqt_spectral_session_image (session, out, 1200, 385),
                               out, 1200, 385);
        good &= write_picture (
            prefix, "stft", quorvalen_engine_get_cqt_spectral_session_image (session, out, 1200, 512), out, 1200, 512);
        good &= write_picture (prefix, "spectrogram",
                               quorvalen_engine_get_cqt_spectrogram (id, out, 1200, 512, &seconds), out, 1200, 512);
    }
    free (out);
    quorvalen_engine_end_cqt_spectral_session (session);
    return good ? 0 : 1;
}

int main (int argc, char** argv)
{
    const char* command = argc > 1 ? argv[1] : "";
    const int rackMode = strcmp (command, "rack") == 0;
    const int renderMode = strcmp (command, "render") == 0;
    const int regionMode = strcmp (command, "region") == 0;
    const int spectralMode = strcmp (command, "spectral") == 0;
    const int editMode = strcmp (command, "cqt-edit") == 0;
    const int morphMode = strcmp (command, "morph") == 0;
    const int manifoldMode = strcmp (command, "manifold") == 0;
    const int convertMode = strcmp (command, "convert") == 0;
    const int oneshotMode = strcmp (command, "oneshot") == 0;
    const int imagesMode = strcmp (command, "images") == 0;
    if ((rackMode && argc < 4) || (renderMode && argc < 5) || (regionMode && argc < 3) || (spectralMode && argc < 5)
        || (editMode && argc < 4) || (morphMode && argc < 7) || (manifoldMode && argc < 4) || (convertMode && argc < 4)
        || (oneshotMode && argc < 6) || (imagesMode && argc < 4))
    {
        fprintf (stderr,
                 "usage: %s rack SOUND SETTINGS.json | render SOUND SETTINGS.json OUT.wav | irs\n"
                 "       %s region SOUND [KIND [SEMITONES [LEVEL [HP_HZ [LP_HZ [CHARACTER [START_MS]]]]]]]\n"
                 "       %s spectral SOUND POINTS OUT.wav | images SOUND PREFIX [POINTS]\n"
                 "       %s cqt-edit SOUND OUT.wav | morph A B covalent|mangle|reese AMOUNT OUT.wav\n"
                 "       %s manifold OUT.wav SOUND... | convert SOUND OUT.wav\n"
                 "       %s oneshot TRANSIENT BODY TAIL OUT.wav [LENGTH_MS [CHARACTER]]\n",
                 argv[0], argv[0], argv[0], argv[0], argv[0], argv[0]);
        return 2;
    }
    if (strcmp (command, "irs") == 0)
        return run_list_irs();

    int rc = quorvalen_engine_init();
    printf ("init: %d (ready=%d)\n", rc, quorvalen_engine_is_ready());
    if (rc != 0)
        return 1;

    if (rackMode)
        rc = run_rack (argv[2], argv[3]);
    else if (renderMode)
        rc = run_render (argv[2], argv[3], argv[4]);
    else if (spectralMode)
        rc = run_spectral (argv[2], argv[3], argv[4]);
    else if (editMode)
        rc = run_cqt_edit (argv[2], argv[3]);
    else if (morphMode)
        rc = run_morph (argv[2], argv[3], argv[4], (float) atof (argv[5]), argv[6]);
    else if (manifoldMode)
        rc = run_manifold (argv[2], argc - 3, argv + 3);
    else if (convertMode)
        rc = run_convert (argv[2], argv[3]);
    else if (oneshotMode)
        rc = run_oneshot (argc, argv);
    else if (imagesMode)
        rc = run_images (argv[2], argv[3], argc > 4 ? argv[4] : NULL);
    else if (regionMode)
        rc = run_region (argc, argv);
    else
        rc = run_tour (argc > 1 ? argv[1] : QV_DEFAULT_SOUND, argc > 2 ? argv[2] : "quorvalen_export.wav");

    quorvalen_engine_shutdown();
    printf ("shutdown: ready=%d\n", quorvalen_engine_is_ready());
    return rc;
}
