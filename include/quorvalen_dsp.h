/*
 * quorvalen_dsp: the native audio engine's C interface.
 *
 * One process-wide engine lives inside the library; no handle crosses this
 * interface. The caller owns every buffer and string it passes. Paths are UTF-8.
 * Every function may be called from any thread.
 *
 * Strings (paths, rack JSON) must be well-formed UTF-8; any other string is
 * refused with the code the function gives a null pointer.
 *
 * Audio files (paths and memory blocks): WAV (8/16/24/32-bit PCM, 32-bit float,
 * extensible, RF64), AIFF and AIFC (NONE, twos, sowt, fl32), FLAC, Ogg Vorbis.
 * Only the format and audio data chunks of WAV and AIFF are read; metadata is
 * ignored and malformed chunk structure refused as "not audio". A file whose
 * audio data is shorter than its header says (streamed, cut short) keeps the
 * whole frames it holds; FLAC and Ogg keep what really decodes. Sample rates
 * outside 1000..768000 Hz are refused with each function's rate code (the
 * blocking player's 4).
 */
#ifndef QUORVALEN_DSP_H
#define QUORVALEN_DSP_H

#include <stdint.h>

#if defined(__GNUC__)
#define QUORVALEN_API __attribute__ ((visibility ("default")))
#else
#define QUORVALEN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Standalone utilities (no engine needed) ---------------------------- */

/* samples[i] *= gain for i < count; nothing for a null array or count < 1. */
QUORVALEN_API void quorvalen_apply_gain (float* samples, int32_t count, float gain);
/* Plays a file on its own output device and returns when it ended.
   0 played; 1 path null; 2 file missing; 3 not audio; 4 empty, bad shape,
   unreadable or sample rate outside 1000..768000 Hz; 5 no output device (or
   playback never ended). */
QUORVALEN_API int32_t quorvalen_play_wav (const char* path);
/* A 440 Hz tone at 0.1 for half a second on its own output device.
   0 played; 1 no output device. */
QUORVALEN_API int32_t quorvalen_test_audio (void);

/* ---- Life cycle ---------------------------------------------------------- */

/* 0 started (or already running); 1 no output device could be opened. */
QUORVALEN_API int32_t quorvalen_engine_init (void);
/* 1 when the engine is running, else 0. */
QUORVALEN_API int32_t quorvalen_engine_is_ready (void);
/* Stops playback, frees every cached sound and session, closes the device. 0. */
QUORVALEN_API int32_t quorvalen_engine_shutdown (void);

/* ---- Audio cache --------------------------------------------------------- */
/* Decoded sounds live in memory under positive ids until unloaded or cleared.
   Intakes return the id (> 0) or a negative code, tested in this order. A
   sample that is not finite (NaN, infinity) is decoded as 0, and one log line
   gives their count; both file players decode the same way. */

/* -1 path null; -2 engine not ready; -3 file missing; -4 not audio;
   -5 no channels or no frame; -6 read failed or out of memory; -7 sample rate
   outside 1000..768000 Hz.
   The same full path returns the same id while it stays cached. */
QUORVALEN_API int32_t quorvalen_engine_cache_wav (const char* path);
/* A whole audio file held in memory (read in place, not retained).
   -1 bytes null or size 0; -2 not ready; -3 not audio; -4 bad shape;
   -5 read failed; -6 sample rate outside 1000..768000 Hz. */
QUORVALEN_API int32_t quorvalen_engine_cache_wav_memory (const void* bytes, uint64_t size);
/* Decode skipping trimStartMs and fading in over fadeInMs; always a new id.
   -2 not ready; -1 path null or empty; -3 not audio; -4 bad shape or rate;
   -5 read failed. The rate test is the same as above. */
QUORVALEN_API int32_t quorvalen_engine_cache_wav_trimmed (const char* path, float trimStartMs, float fadeInMs);
QUORVALEN_API int32_t quorvalen_engine_cache_wav_memory_trimmed (const void* bytes, uint64_t size, float trimStartMs,
                                                                 float fadeInMs);
/* Deep copy under a new id. -1 unknown id; -2 no audio; -3 bad rate; -4 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_clone_cached (int32_t cacheId);
/* 0 unloaded (stops it first when it plays); 1 unknown id. */
QUORVALEN_API int32_t quorvalen_engine_unload_cached (int32_t cacheId);
/* Stops playback and frees every sound and session. 0. Ids are never reused. */
QUORVALEN_API int32_t quorvalen_engine_clear_cache (void);
/* Writes a 24-bit WAV file, replacing the target only once it is complete.
   -1 path null; -2 unknown id; -3 no audio; -4 bad rate; -5 folder missing or
   path is a folder; -6 writer refused; -7 write failed (old file kept). */
QUORVALEN_API int32_t quorvalen_engine_export_cached_wav (int32_t cacheId, const char* path);

/* ---- Playback and telemetry ---------------------------------------------- */

/* Plays a cached sound; semitones (-24..24) change speed and pitch together,
   volume is a percentage (0..100). A mono sound plays on both channels, here as
   on every other playback. 0; 1 not ready; 2 unknown id; 3 no audio. */
QUORVALEN_API int32_t quorvalen_engine_play_cached (int32_t cacheId, float semitones, float volumePercent);
/* Decodes and plays a file at its own rate. 0; 1 path null; 2 not ready;
   3 missing; 4 not audio; 5 bad shape; 6 read failed; 7 sample rate outside
   1000..768000 Hz. */
QUORVALEN_API int32_t quorvalen_engine_play_wav (const char* path);
/* Fades out over about 24 ms and stops. 0; 1 not ready. */
QUORVALEN_API int32_t quorvalen_engine_stop (void);
/* Position (seconds, corrected for output latency), length (seconds), playing (0/1).
   0; 1 not ready; 2 a pointer null. */
QUORVALEN_API int32_t quorvalen_engine_get_playback_telemetry (double* position, double* length, uint32_t* playing);
/* Loop flag of the Foundry main preview. 0; 1 not ready. */
QUORVALEN_API int32_t quorvalen_engine_set_foundry_main_preview_looping (int32_t looping);
/* Live pitch of the Foundry main preview (-24..24 semitones). 0; 1 not ready. */
QUORVALEN_API int32_t quorvalen_engine_set_foundry_main_preview_pitch (float semitones);

/* ---- Master tap ---------------------------------------------------------- */
/* What the device plays: 1 signal, 0 silence, -1 bad arguments, -2 not ready. */

/* The last n frames (the oldest first; zeros before anything played). */
QUORVALEN_API int32_t quorvalen_engine_get_master_stereo_scope (float* left, float* right, int32_t n);
/* n bins of the smoothed left-channel magnitude spectrum, each in 0..1. */
QUORVALEN_API int32_t quorvalen_engine_get_master_spectrum (float* out, int32_t n);
/* Pitch of the left channel in Hz (40..1200); 0 written when none is found. */
QUORVALEN_API int32_t quorvalen_engine_get_master_pitch (float* outHz);

/* ---- Processing edit sessions -------------------------------------------- */
/* Destructive edits of a work copy (its own cache id, stable across edits) with
   up to 48 steps of undo and redo, fewer when their audio would exceed the
   larger of 512 MB and 8 times the work copy. The source entry never changes. */

/* Session id; *outWorkCacheId receives the work copy's id. -1 out null;
   -2 not ready; -3 unknown id; -4 no audio or bad rate; -5 empty; -6 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_begin_processing_edit_session (int32_t cacheId, uint32_t* outWorkCacheId);
/* Keeps [start, end) as fractions of the length, with 5 ms de-click fades.
   Work id; -1 unknown session; -2 bad bounds; -3 no work audio; -4 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_crop_processing_edit_session (int32_t session, float start, float end);
/* Fades the last fadeMs to silence. Work id; -1; -2 fadeMs not above 0; -3; -4. */
QUORVALEN_API int32_t quorvalen_engine_end_fade_processing_edit_session (int32_t session, float fadeMs);
/* Work id; -1 unknown session; -2 no work audio; -3 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_reverse_processing_edit_session (int32_t session);
/* Work id; -1 unknown session; -2 nothing to undo/redo; -3 no work audio; -4 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_undo_processing_edit_session (int32_t session);
QUORVALEN_API int32_t quorvalen_engine_redo_processing_edit_session (int32_t session);
/* Drops the session and its work copy (export or clone it first to keep it). 0; 1 unknown. */
QUORVALEN_API int32_t quorvalen_engine_end_processing_edit_session (int32_t session);

/* ---- Processing rack ----------------------------------------------------- */

/* Parses a rack settings document (a JSON object) and makes it the live rack's
   settings from the next audio block on; keys left out take their defaults.
   0 published; 1 json null; 2 not a JSON object (the rack keeps its settings). */
QUORVALEN_API int32_t quorvalen_engine_update_processing_rack (const char* json);
/* Plays a cached sound from its start through the rack with these settings (which
   are published), volume in percent (0..100), loop non-zero to loop. Without a
   loop, an enabled space module adds 10 s of silence for its tail.
   0 playing; 1 engine not ready; 2 no such id; 3 entry without audio; 4 settings
   not a JSON object; 5 length to play out of range.
   When the settings hold "spectroPreviewRefreshCacheId" (the id playing now), the
   running rack playback switches to cacheId in place, keeping its position:
   0 switched; 2 no such id; 3 entry without usable audio; 4 settings unusable or
   the refresh id not an integer 1..2147483647; 6 that id is not what plays
   through the rack with this loop setting, or the position lies past the new
   sound's end. */
QUORVALEN_API int32_t quorvalen_engine_play_cached_with_processing (int32_t cacheId, const char* settingsJson,
                                                                    float volumePercent, int32_t loop);
/* Renders a cached sound through the rack with these settings (used for this
   render only; the live rack keeps its own) and writes it as a 24-bit WAV file at
   outPath (UTF-8; missing folders are created). Uses no audio device and makes
   no ready test.
   Peaks above 0.98 are scaled down to 0.98. An enabled space module adds 10 s of
   tail unless "spectroNoTail" is set. The file appears only when complete: a
   failed render leaves any earlier file at outPath as it was.
   0 written; -1 json or outPath null; -2 no such id; -3 entry without audio;
   -4 entry's sample rate unusable; -5 settings not a JSON object, a stage failed
   (a stretch needs 8..192 kHz) or memory ran out; -6 file could not be opened;
   -7 no WAV writer for the shape; -8 writing failed. */
QUORVALEN_API int32_t quorvalen_engine_render_cached_with_processing (int32_t cacheId, const char* json,
                                                                      const char* outPath);

/* Impulse responses of the space module: the audio files (wav, aiff, aif, flac)
   of the first folder found among QUORVALEN_IR_DIR, then irs, cpp/irs and
   resources/irs under the working directory and up to five folders above it, the
   same under this library's folder, and Resources/irs beside that folder; sorted
   by file name by character code (capitals first). Neither needs init; each
   searches the disk again. */
/* The number of impulse responses (0 when none is found). */
QUORVALEN_API int32_t quorvalen_engine_get_space_ir_count (void);
/* Writes the file name of response index (0-based) as a zero-terminated UTF-8
   string. Returns its length + 1 once written, or as a size query when buffer is
   null or bufferSize < 1; -(length + 1) when bufferSize is too small (nothing
   written); 0 when index is outside 0..count-1. */
QUORVALEN_API int32_t quorvalen_engine_get_space_ir_name (int32_t index, char* buffer, int32_t bufferSize);

/* ---- Foundry -------------------------------------------------------------- */
/* Layers: 0 transient, 1 body, 2 tail. Parameters: 0 pitch (-24..+24 semitones),
   1 level (-60..0 dB), 2 high-pass cutoff, 3 low-pass cutoff (20 Hz..20 kHz),
   4 heat, 5 width (0 mono .. 1 double side), 6 high-pass resonance,
   7 low-pass resonance.
   Out-of-range settings are clamped: an infinity takes the nearer end of the
   range, NaN the setting's neutral value. Times without an upper end (join
   points, crossfades, overlay times, lengthMs) count a NaN or an infinity as 0.
   The Foundry makes nothing longer than 10 minutes at the rate it renders at
   from a time: a time above 600000 ms is refused before anything happens, and
   render surprise refuses a result longer than 10 minutes at the sound's rate. */

/* Replaces one automation lane: count points of times and values, each clamped
   to 0..1 (non-finite pairs dropped, near-equal times merged, the last value
   kept). count <= 0 clears the lane. Works before init.
   0; 8 layer above 2 or parameter above 7 (nothing changes), count above 1024 or
   an array null (the lane is left empty). */
QUORVALEN_API int32_t quorvalen_engine_set_foundry_automation (uint32_t layer, uint32_t parameter, const float* times,
                                                               const float* values, int32_t count);

/* Fundamental of a cached sound's first channel over 120 ms from startMs
   (negative counts from 0), 45..1500 Hz, in Hz: the shortest whole-sample period
   whose correlation comes within 3 % of the best one, so a multiple of the
   period does not win. 0 when none is found (unknown id, no audio, under 256
   samples left, no clear period), or when the sound is unloaded or the engine
   shut down during the search (the window is copied and searched without the
   engine lock). Works before init. */
QUORVALEN_API float quorvalen_engine_detect_foundry_pitch (int32_t cacheId, float startMs);

/* Auditions one region of a cached sound as a Foundry layer: cut from startMs,
   made mono (bits bit 0) or inverted (bit 1); for kind 0 transient, 1 body or
   2 tail the layer's automation lanes are rendered in; faded in over
   regionStartPercent and out over regionEndPercent of its length (3 ms edge
   fades always); then played through the live character (pitch in semitones,
   level in percent up to 150, the kind's character: transient amount, body heat,
   tail heat with heatMode 0..2 and width, or overtoneDrive for kind 3) and the
   audition filters (cutoffs in Hz, resonances in percent); a setting that a lane
   of the layer automates is left to the lane. NaN takes the neutral setting, an
   infinity the nearer end. Stops an earlier audition first.
   0 playing; 8 kind outside 0..3 (tested first; nothing plays, stops or
   changes); 1 not ready; 2 unknown id; 4 no audio; 5 bad rate; 6 empty or too
   long. */
QUORVALEN_API int32_t quorvalen_engine_play_foundry_region (int32_t sourceId, float semitones, float levelPercent,
                                                            float startMs, int32_t highPassOn, float highPassHz,
                                                            float highPassResonance, int32_t lowPassOn, float lowPassHz,
                                                            float lowPassResonance, int32_t kind, float transient,
                                                            float bodyHeat, float tailHeat, int32_t heatMode,
                                                            float overtoneDrive, float width, int32_t bits,
                                                            float regionStartPercent, float regionEndPercent);
/* Live character of what plays: pitch (-24..24 semitones, the speed of the main
   preview too when mode is -1), level (percent, 0..150), mode (-1 main preview,
   0 transient, 1 body, 2 tail, 3 overtone) and that mode's amounts in percent.
   Every playback passes a soft ceiling (quiet sound about 1.33 times louder).
   No lock; always 0. */
QUORVALEN_API int32_t quorvalen_engine_set_foundry_audition_character (float semitones, float levelPercent,
                                                                       int32_t mode, float transient, float bodyHeat,
                                                                       float tailHeat, int32_t heatMode,
                                                                       float overtoneDrive, float width);
/* Live audition high-pass and low-pass (cutoff 20 Hz..min(0.45 rate, 20 kHz),
   resonance in percent: Q 0.95..12). 0; 1 not ready. */
QUORVALEN_API int32_t quorvalen_engine_set_foundry_audition_filters (int32_t highPassOn, float highPassHz,
                                                                     float highPassResonance, int32_t lowPassOn,
                                                                     float lowPassHz, float lowPassResonance);
/* Filters of one region (0..2) of the Foundry main preview (20..20000 Hz,
   resonance 0..100 %). 0; 8 region above 2 (tested first); 1 not ready.
   The settings are stored, but no export switches the region filters on: every
   preview renders its layers' filters into the sound instead, so for now they
   change nothing that plays. */
QUORVALEN_API int32_t quorvalen_engine_set_foundry_main_preview_region_filters (uint32_t region, int32_t highPassOn,
                                                                                float highPassHz,
                                                                                float highPassResonance,
                                                                                int32_t lowPassOn, float lowPassHz,
                                                                                float lowPassResonance);
/* ---- Spectral sessions --------------------------------------------------- */
/* A session edits a private 2-channel copy of a cached sound (a mono sound is
   duplicated, a wider one keeps its first two channels): the live copy, a cache
   entry of its own that the host plays, exports and clones like any other. Each
   stroke changes it in place and is heard at once: when the live copy plays, it
   restarts where it was, with its loop and rack settings. Undo and redo hold at
   most the last 48 strokes, and fewer when their audio would exceed the
   history's budget (the larger of 512 MB and 8 times the live copy; the oldest
   go first, the latest stroke always stays); a new stroke drops what could be
   redone. One session's strokes, undos, redos and images run one after another, in the
   order they were called; none holds up the other exports, which wait for them
   only while they copy what they read or write their result. Ending the
   session, unloading its live copy, clearing the cache or shutting down never
   waits for them: a call still at work then stops and fails with its code for
   an unknown session or a missing live copy, having changed nothing. */

/* Session id; *outLiveCacheId and *outSeconds (its length) are written.
   -1 an output null; -2 engine not ready; -3 unknown id; -4 entry without audio
   or with a rate not above 0; -5 no channels or samples; -6 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_begin_cqt_spectral_session (int32_t cacheId, uint32_t* outLiveCacheId,
                                                                   float* outSeconds);
/* One stroke of count points, 5 floats each, every point with the same tool code:
   0 knife: time (0..1), y (0 top = highest frequency .. 1), time radius,
     frequency radius (fractions), depth (0 changes nothing, 1 a quarter at the
     centre, 2 a hole); the live copy's peak is then set to 0.97.
   1 laser: time (0..1), y, time half-width (0.0005..1), unused, pressure
     (0..1): the constant-Q coefficients of the band at y (with one neighbour
     each side from y 0.66, two from 0.82) within the half-width of the time
     keep 1 - 0.95 x pressure of their level.
   2 reducer, 3 harmonik: centre time, centre y, half width, half height
     (0.0005..1): the constant-Q coefficients inside the box are scaled by 0.7
     (reducer) or 1.3 (harmonik), once however many boxes overlap; rewritten
     samples are kept within +-0.999.
     Laser and region strokes rewrite only the samples their coefficients reach.
   4 Z sculpt: centre time, centre y (0..1), half width, half height
     (0.001..0.5, fractions of the length and of the log-frequency axis); bins
     inside an ellipse keep at most a tenth of their level.
   Knife and Z sculpt cost the area their boxes cover: a stroke whose boxes,
   summed over its distinct points (a point given again, as a pen held still
   gives it, counts once; a repeated knife point still cuts again), cover more
   than 2^29 (536,870,912) cells is refused with -2 before anything changes.
   A cell is one frame by one bin: for
   the knife 1024-point frames every 174 samples (513 bins), for the Z sculpt
   4096-point frames every 256 samples (the bins between the lowest and highest
   constant-Q band). A drawn path of 2000 knife points with radii 0.01 on a
   minute at 48 kHz covers at most about 300 million; on that minute 63
   distinct knife points or 23 distinct Z sculpt boxes over the whole plane
   fit, 64 or 24 do not. Non-finite samples of the live copy are read as 0.
   Live cache id (also when nothing changed); -1 arrays null, count < 1 or a
   value not finite; -2 more than 20000 points, or (knife and Z sculpt) boxes
   above the cell budget; -3 unknown session; -4 the live copy is gone or was
   reshaped (the knife reports that as -5 once it has analysed the copy); -5 the
   stroke could not be carried through: memory ran out, or another call wrote
   the live copy while the stroke worked (the knife also when its cut is so deep
   that the audio overflows); -6 tool codes mixed or above 4. A failed stroke
   changes nothing. */
QUORVALEN_API int32_t quorvalen_engine_apply_cqt_spectral_session_stroke (int32_t session, const float* points,
                                                                          const uint32_t* tools, int32_t count);
/* Live cache id; -1 unknown session; -2 nothing to undo/redo; -3 the live copy
   is gone or was reshaped, or memory ran out (the step stays available and
   nothing changes). */
QUORVALEN_API int32_t quorvalen_engine_undo_cqt_spectral_session (int32_t session);
QUORVALEN_API int32_t quorvalen_engine_redo_cqt_spectral_session (int32_t session);
/* Drops the session and its live copy (stopping it when it plays); the source
   entry stays. 0; 1 unknown session. */
QUORVALEN_API int32_t quorvalen_engine_end_cqt_spectral_session (int32_t session);
/* ---- Offline constant-Q renders -------------------------------------------- */
/* Each creates a new cached sound and returns its id (> 0), or a negative code,
   tested in the order given. The sources are never changed. */

/* Renders brush edits drawn on a sound's constant-Q picture. edits holds count
   records of five floats: centre time (0..1 over the sound), centre band (0 the
   highest band .. 1 the lowest), time radius and band radius (0.0005..1, same
   units), strength (0..1); modes[i] (0 soft cut, 1 hard cut, 2 gentle cut,
   3 harmonic boost, 4 ring) picks each brush's kind. A mode is read as a
   signed 32-bit value and clamped to 0..4: 5 to 2^31 - 1 count as 4, and
   2^31 to 2^32 - 1 (negative when signed) as 0. Out-of-range floats are
   clamped; NaN takes the low end, an infinity the end on its side (a brush at
   time +inf sits at the end of the sound). The ends of the result (8 ms) meet
   the source's; peaks above 0.98 are scaled to 0.98.
   Renders without holding up other calls. The work is the brushes' area: an
   edit whose distinct brushes (a brush given again counts once; a harmonic
   boost counts each of its four partials) span more than 2^28 (268,435,456)
   constant-Q coefficients of one channel is refused with -2 once the sound is
   known, before any analysis (a minute at 48 kHz holds about 35 million per
   channel, so 200 brushes with radii up to 0.12 fit, and 16 distinct brushes
   over the whole of it, 4 harmonic boosts; 17 or 5 do not).
   -1 an array null or count < 1; -2 count above 20000, or the brushes above
   the coefficient budget; -3 engine not ready (or shut down during the render);
   -4 unknown id (or the cache was cleared during the render, or the source was
   unloaded or rewritten while it was being copied, which takes milliseconds;
   once copied it may go); -5 entry without
   audio or with a bad rate; -6 no channels or samples; -7 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_create_cqt_spectral_edit (int32_t cacheId, const float* edits,
                                                                 const uint32_t* modes, int32_t count);

/* Morphs sound A towards sound B in the constant-Q domain into a new sound at
   A's rate, as long as the shorter of the two, with as many channels as the
   wider. amount (percent, 0..100) sets the blend, which swings around it (by up
   to the distance to 0 or 100) with a sine of one note length per period:
   preset 0..14 picks 4, 2, 1, 1/2 or 1/4 beats, straight (0..4), triplet (5..9)
   or dotted (10..14), at tempo beats per minute (20..400). B is high-passed at
   100 Hz; when both are clearly pitched their harmonics are aligned. kind 1
   (covalent) crossfades magnitudes and takes the phase of the nearer sound;
   kind 0 (mangle) keeps A below about 100 Hz, smears magnitudes across nearby
   bands, blends phases and adds an edge term. The result is faded out over its
   last 10 ms, soft-limited at -1 dB and levelled to a peak of -0.05 dB.
   Out-of-range values are clamped (an infinity to the end on its side); NaN
   takes the low end.
   -1 engine not ready; -8 kind above 1; -9 preset outside 0..14; -2 idA
   unknown; -3 idB unknown; -4 an entry without audio; -5 a bad rate; -6 no
   channels or samples; -7 out of memory.
   The sounds are copied and morphed without the engine lock, so other calls go
   on meanwhile; a morph whose sources move stops early and stores nothing: -1
   when the engine shuts down, -2 when A is unloaded or changed (or the cache
   cleared), -3 when B is. */
QUORVALEN_API int32_t quorvalen_engine_create_manifold_cqt_morph (int32_t cacheIdA, int32_t cacheIdB, float amount,
                                                                  uint32_t kind, float tempo, int32_t preset);
/* The mangle morph at 172 beats per minute with a two-beat swing (kind 0,
   preset 1). Same results. */
QUORVALEN_API int32_t quorvalen_engine_create_reese_cqt_morph (int32_t cacheIdA, int32_t cacheIdB, float amount);

/* Mixes count (1..16) cached sounds into a new stereo sound at 44.1 kHz, peak
   0.977. Each source i is resampled, scaled by gains[i] (0..1) and either placed
   once from the start or repeated to the end with 10 ms fades at every repeat,
   by its role: roles[i] 8 puts it on its own always-repeated layer, added after
   the rest has been levelled (unless rawLevels is non-zero); the primary source
   plays once, and so do sources of roles 1 and 3 when the primary's role is 0;
   bit i of loopMask forces source i to repeat. Length: lengthSeconds (0.1..60),
   at most the primary's own length unless every role is 8; the primary's own
   length when it is the only source not of role 8 and its role is 4, 5 or 6;
   fixedSeconds (0.001..60) overrides all of this when above 0. Out-of-range
   values are clamped (an infinity to the end on its side); NaN takes the low
   end.
   -1 engine not ready; -2 an array null, count outside 1..16 or primary outside
   0..count-1; -3 an unknown id; -4 entry without audio; -5 bad rate; -6 no
   channels or samples, or too long; -7 out of memory.
   The sources are copied and mixed without the engine lock; a mix whose sources
   move stops early and stores nothing: -1 when the engine shuts down, -3 when a
   source is unloaded or changed (or the cache cleared). */
QUORVALEN_API int32_t quorvalen_engine_create_manifold_classic (const uint32_t* ids, const float* gains,
                                                                const int32_t* roles, int32_t count, int32_t primary,
                                                                float lengthSeconds, float fixedSeconds,
                                                                int32_t rawLevels, uint32_t loopMask);

/* Joins two cached sounds and plays the result: the first up to joinMs, then the
   second (resampled to the first's rate), crossfaded over crossfadeMs with a
   phase-coherent handover (a constant-Q one when the overlap is short or not
   coherent). Non-finite or negative times count as 0. Stops playback first.
   0 playing; 1 not ready; 2 first id unknown; 3 second id unknown; 4 no buffer;
   5 bad rate; 6 no audio; 7 the join failed (too long, out of memory), or
   joinMs or crossfadeMs is above 600000 ms (10 minutes; refused before playback
   stops).
   The sounds are copied and joined without the engine lock; a join whose
   sounds move stops early and plays nothing: 1 when the engine shuts down, 2
   when the first sound is unloaded or changed (or the cache cleared), 3 when
   the second is.
   Both names are one function. */
QUORVALEN_API int32_t quorvalen_engine_play_body_tail_morph (int32_t cacheIdA, int32_t cacheIdB, float joinMs,
                                                             float crossfadeMs);
QUORVALEN_API int32_t quorvalen_engine_play_transient_body_morph (int32_t cacheIdA, int32_t cacheIdB, float joinMs,
                                                                  float crossfadeMs);

/* Foundry preview. The 57 parameters: transientId, bodyId (body when >= 1), tailId
   (tail when >= 1); bodyJoinMs (where the body begins in the transient), tailJoinMs
   (where the tail begins in the composite); the two join crossfades in ms; per
   layer pitch (semitones, -24..24), level (percent, 0..100), start (ms in the
   source), the transient's shaping, the body's heat or the tail's heat, heat mode
   (0..2) and width (-100..100), and a filter block (high-pass on, cutoff Hz,
   resonance percent, low-pass on, cutoff Hz, resonance percent); monoMask (bit 0
   transient, 1 body, 2 tail, 3 overtone), overtoneInvert; the overtone layer
   (id, overlay start and end in ms of the preview, source start, pitch, level,
   drive, fade-in and fade-out percent, high-pass on/Hz, low-pass on/Hz); the
   finish: lengthMs (> 0 sets the length), finalSemitones, character (0..100,
   100 shortens to 30 %). A setting that an automation lane of the layer holds is
   left to the lane. NaN takes the neutral setting and an infinity the nearer
   end; a non-number join point, crossfade, overlay time or lengthMs counts as 0
   (lengthMs then sets no length). An unchanged call reuses the last preview.
   Codes: 0; 1 not ready; 2 unknown source; 4 no buffer; 5 bad rate; 6 empty or
   too long; 7 no preview (a join or the finish failed, or a join point,
   crossfade or overlay time of a layer in use or lengthMs is above 600000 ms,
   which is refused before anything happens); 8 bad layer.
   The three preview functions take these parameters in this order: */
#define QUORVALEN_FOUNDRY_PREVIEW_PARAMETERS                                                                           \
    int32_t transientId, int32_t bodyId, int32_t tailId, float bodyJoinMs, float tailJoinMs,                           \
        float transientBodyCrossfadeMs, float compositeTailCrossfadeMs, float transientSemitones,                      \
        float transientLevel, float transientStartMs, float transientShaping, int32_t transientHighPassOn,             \
        float transientHighPassHz, float transientHighPassRes, int32_t transientLowPassOn, float transientLowPassHz,   \
        float transientLowPassRes, float bodySemitones, float bodyLevel, float bodyStartMs, float bodyHeat,            \
        int32_t bodyHighPassOn, float bodyHighPassHz, float bodyHighPassRes, int32_t bodyLowPassOn,                    \
        float bodyLowPassHz, float bodyLowPassRes, float tailSemitones, float tailLevel, float tailStartMs,            \
        float tailHeat, int32_t tailHeatMode, float tailWidth, int32_t monoMask, int32_t overtoneInvert,               \
        int32_t tailHighPassOn, float tailHighPassHz, float tailHighPassRes, int32_t tailLowPassOn,                    \
        float tailLowPassHz, float tailLowPassRes, int32_t overtoneId, float overlayStartMs, float overlayEndMs,       \
        float overtoneStartMs, float overtoneSemitones, float overtoneLevel, float overtoneDrive,                      \
        float overtoneFadeIn, float overtoneFadeOut, int32_t overtoneHighPassOn, float overtoneHighPassHz,             \
        int32_t overtoneLowPassOn, float overtoneLowPassHz, float lengthMs, float finalSemitones, float character
/* Renders and plays the preview from its start (looping with loop). */
QUORVALEN_API int32_t quorvalen_engine_play_foundry_preview (QUORVALEN_FOUNDRY_PREVIEW_PARAMETERS, int32_t loop);
/* Re-renders and swaps the result into the attached preview without a gap: a
   short crossfade while it plays, the position (wrapped by the new length when
   looping), loop and live pitch kept; a stopped preview stays stopped.
   The render's code, or 1 when nothing is attached or not ready, 7 no preview. */
QUORVALEN_API int32_t quorvalen_engine_refresh_foundry_preview (QUORVALEN_FOUNDRY_PREVIEW_PARAMETERS);
/* Stops playback, renders and writes the preview as a 24-bit WAV file at path
   (UTF-8), at the preview's rate. 0; 8 null, empty or invalid path (nothing
   else happens); the render's code; 7 no preview; 5 bad rate; 9 the file could
   not be opened; 10 no WAV writer; 11 the write failed. */
QUORVALEN_API int32_t quorvalen_engine_export_foundry_preview (QUORVALEN_FOUNDRY_PREVIEW_PARAMETERS, const char* path);

/* Damages a cached sound in place with randomised processing (a fresh seed on
   every call): intensityA (0..100) drives chops, reversals, stutters, echo, drive
   and smoothing; intensityB (0..100) slows the sound down up to five times
   (stretchMode 0 resamples, dropping the pitch; otherwise a time stretch that
   keeps it) and reduces the bit depth down to 3 bits. order 1 runs the stretch
   first. The result is clipped to +-0.97 and normalised to a 0.95 peak. Negative
   or non-finite intensities count as 0; both 0 changes nothing. Playback of the
   entry stops when it changes. Works before init.
   0; -2 unknown id; -3 no buffer; -4 bad rate; -5 failed (the sound is
   unchanged), also when the result would be longer than 10 minutes at the
   sound's rate (refused before anything changes).
   The sound is copied and processed without the engine lock and swapped in at
   the end; a render whose sound moves stops early and changes nothing: -2 when
   it is unloaded (or the cache cleared, or the engine shut down), -5 when
   another call changed it meanwhile (that change stands). */
QUORVALEN_API int32_t quorvalen_engine_apply_render_surprise (int32_t cacheId, float intensityA, float intensityB,
                                                              int32_t stretchMode, int32_t order);

/* ---- Spectral images ----------------------------------------------------- */
/* Images fill a caller's width x height floats, row-major, row 0 the highest
   frequency, column 0 the start of the sound; every value is a brightness in
   0..1. Width 32..2048, height 32..1024. */

/* The picture of a session's live copy; the size chooses it: 961 x 385 the
   bounded-Q display (band envelopes, Q 24), any other width at height 385 the
   constant-Q image (levels against a reference taken once from the untouched
   source, committed laser strokes darkened in), any other height the STFT image.
   0; -1 out null; -2 size outside the range; -3 unknown session; -4 the live
   copy is gone or empty; -5 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_get_cqt_spectral_session_image (int32_t session, float* out, uint32_t width,
                                                                       int32_t height);
/* The constant-Q spectrogram of a cached sound (rows are bands, normalised to
   the sound's own 99.7th percentile); *outSeconds receives its length.
   Reads the sound without holding up other calls. 0; -1 out or outSeconds
   null; -2 size outside the range; -3 engine not ready (or shut down while the
   sound was read); -4 unknown id (or the sound was unloaded or rewritten while
   it was read); -5 entry without audio or with a rate not above 0; -6 no
   channels or samples; -7 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_get_cqt_spectrogram (int32_t cacheId, float* out, uint32_t width, int32_t height,
                                                            float* outSeconds);
/* Plays a cached sound after a constant-Q analysis and resynthesis, from its
   start (no pitch, gain 1, no loop), to hear what the round trip changes.
   0; 1 engine or device not ready; 2 unknown id; 3 entry without audio; 4 rate
   not above 0; 5 no channels or samples; 6 out of memory (playback stopped).
   The sound is copied and transformed without the engine lock; a round trip
   whose sound moves stops early and plays nothing: 1 when the engine shuts
   down, 2 when the sound is unloaded or changed (or the cache cleared). */
QUORVALEN_API int32_t quorvalen_engine_play_cached_gaborator_roundtrip (int32_t cacheId);

#ifdef __cplusplus
}
#endif

#endif /* QUORVALEN_DSP_H */
