/*
 * quorvalen_dsp: the native audio engine's C interface.
 *
 * One process-wide engine lives inside the library; no handle crosses this
 * interface. The caller owns every buffer and string it passes. Paths are UTF-8.
 * Every function may be called from any thread.
 */
#ifndef QUORVALEN_DSP_H
#define QUORVALEN_DSP_H

#include <stdint.h>

#if defined(__GNUC__)
#define QUORVALEN_API __attribute__((visibility("default")))
#else
#define QUORVALEN_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Standalone utilities (no engine needed) ---------------------------- */

/* samples[i] *= gain for i < count; nothing for a null array or count < 1. */
QUORVALEN_API void quorvalen_apply_gain(float* samples, int32_t count, float gain);
/* Plays a file on its own output device and returns when it ended.
   0 played; 1 path null; 2 file missing; 3 not audio; 4 empty, bad shape or
   unreadable; 5 no output device (or playback never ended). */
QUORVALEN_API int32_t quorvalen_play_wav(const char* path);
/* A 440 Hz tone at 0.1 for half a second on its own output device.
   0 played; 1 no output device. */
QUORVALEN_API int32_t quorvalen_test_audio(void);

/* ---- Life cycle ---------------------------------------------------------- */

/* 0 started (or already running); 1 no output device could be opened. */
QUORVALEN_API int32_t quorvalen_engine_init(void);
/* 1 when the engine is running, else 0. */
QUORVALEN_API int32_t quorvalen_engine_is_ready(void);
/* Stops playback, frees every cached sound and session, closes the device. 0. */
QUORVALEN_API int32_t quorvalen_engine_shutdown(void);

/* ---- Audio cache --------------------------------------------------------- */
/* Decoded sounds live in memory under positive ids until unloaded or cleared.
   Intakes return the id (> 0) or a negative code, tested in this order. */

/* -1 path null; -2 engine not ready; -3 file missing; -4 not audio;
   -5 no channels or bad length; -6 read failed or out of memory; -7 bad rate.
   The same full path returns the same id while it stays cached. */
QUORVALEN_API int32_t quorvalen_engine_cache_wav(const char* path);
/* A whole audio file held in memory (read in place, not retained).
   -1 bytes null or size 0; -2 not ready; -3 not audio; -4 bad shape;
   -5 read failed; -6 bad rate. */
QUORVALEN_API int32_t quorvalen_engine_cache_wav_memory(const void* bytes, uint64_t size);
/* Decode skipping trimStartMs and fading in over fadeInMs; always a new id.
   -2 not ready; -1 path null or empty; -3 not audio; -4 bad shape or rate;
   -5 read failed. */
QUORVALEN_API int32_t quorvalen_engine_cache_wav_trimmed(const char* path, float trimStartMs, float fadeInMs);
QUORVALEN_API int32_t quorvalen_engine_cache_wav_memory_trimmed(const void* bytes, uint64_t size,
                                                                float trimStartMs, float fadeInMs);
/* Deep copy under a new id. -1 unknown id; -2 no audio; -3 bad rate; -4 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_clone_cached(int32_t cacheId);
/* 0 unloaded (stops it first when it plays); 1 unknown id. */
QUORVALEN_API int32_t quorvalen_engine_unload_cached(int32_t cacheId);
/* Stops playback and frees every sound and session. 0. Ids are never reused. */
QUORVALEN_API int32_t quorvalen_engine_clear_cache(void);
/* Writes a 24-bit WAV file, replacing the target only once it is complete.
   -1 path null; -2 unknown id; -3 no audio; -4 bad rate; -5 folder missing or
   path is a folder; -6 writer refused; -7 write failed (old file kept). */
QUORVALEN_API int32_t quorvalen_engine_export_cached_wav(int32_t cacheId, const char* path);

/* ---- Playback and telemetry ---------------------------------------------- */

/* Plays a cached sound; semitones (-24..24) change speed and pitch together,
   volume is a percentage (0..100). 0; 1 not ready; 2 unknown id; 3 no audio. */
QUORVALEN_API int32_t quorvalen_engine_play_cached(int32_t cacheId, float semitones, float volumePercent);
/* Decodes and plays a file at its own rate. 0; 1 path null; 2 not ready;
   3 missing; 4 not audio; 5 bad shape; 6 read failed; 7 bad rate. */
QUORVALEN_API int32_t quorvalen_engine_play_wav(const char* path);
/* Fades out over about 24 ms and stops. 0; 1 not ready. */
QUORVALEN_API int32_t quorvalen_engine_stop(void);
/* Position (seconds, corrected for output latency), length (seconds), playing (0/1).
   0; 1 not ready; 2 a pointer null. */
QUORVALEN_API int32_t quorvalen_engine_get_playback_telemetry(double* position, double* length, uint32_t* playing);
/* Loop flag of the Foundry main preview. 0; 1 not ready. */
QUORVALEN_API int32_t quorvalen_engine_set_foundry_main_preview_looping(int32_t looping);
/* Live pitch of the Foundry main preview (-24..24 semitones). 0; 1 not ready. */
QUORVALEN_API int32_t quorvalen_engine_set_foundry_main_preview_pitch(float semitones);

/* ---- Master tap ---------------------------------------------------------- */
/* What the device plays: 1 signal, 0 silence, -1 bad arguments, -2 not ready. */

/* The last n frames (the oldest first; zeros before anything played). */
QUORVALEN_API int32_t quorvalen_engine_get_master_stereo_scope(float* left, float* right, int32_t n);
/* n bins of the smoothed left-channel magnitude spectrum, each in 0..1. */
QUORVALEN_API int32_t quorvalen_engine_get_master_spectrum(float* out, int32_t n);
/* Pitch of the left channel in Hz (40..1200); 0 written when none is found. */
QUORVALEN_API int32_t quorvalen_engine_get_master_pitch(float* outHz);

/* ---- Processing edit sessions -------------------------------------------- */
/* Destructive edits of a work copy (its own cache id, stable across edits) with
   48 steps of undo and redo. The source entry never changes. */

/* Session id; *outWorkCacheId receives the work copy's id. -1 out null;
   -2 not ready; -3 unknown id; -4 no audio or bad rate; -5 empty; -6 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_begin_processing_edit_session(int32_t cacheId, uint32_t* outWorkCacheId);
/* Keeps [start, end) as fractions of the length, with 5 ms de-click fades.
   Work id; -1 unknown session; -2 bad bounds; -3 no work audio; -4 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_crop_processing_edit_session(int32_t session, float start, float end);
/* Fades the last fadeMs to silence. Work id; -1; -2 fadeMs not above 0; -3; -4. */
QUORVALEN_API int32_t quorvalen_engine_end_fade_processing_edit_session(int32_t session, float fadeMs);
/* Work id; -1 unknown session; -2 no work audio; -3 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_reverse_processing_edit_session(int32_t session);
/* Work id; -1 unknown session; -2 nothing to undo/redo; -3 no work audio; -4 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_undo_processing_edit_session(int32_t session);
QUORVALEN_API int32_t quorvalen_engine_redo_processing_edit_session(int32_t session);
/* Drops the session and its work copy (export or clone it first to keep it). 0; 1 unknown. */
QUORVALEN_API int32_t quorvalen_engine_end_processing_edit_session(int32_t session);

/* ---- Processing rack ----------------------------------------------------- */

/* Parses a rack settings document (a JSON object) and makes it the live rack's
   settings from the next audio block on; keys left out take their defaults.
   0 published; 1 json null; 2 not a JSON object (the rack keeps its settings). */
QUORVALEN_API int32_t quorvalen_engine_update_processing_rack(const char* json);
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
QUORVALEN_API int32_t quorvalen_engine_play_cached_with_processing(int32_t cacheId, const char* settingsJson,
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
QUORVALEN_API int32_t quorvalen_engine_render_cached_with_processing(int32_t cacheId, const char* json,
                                                                     const char* outPath);

/* Impulse responses of the space module: the audio files (wav, aiff, aif, flac)
   of the first folder found among QUORVALEN_IR_DIR, then irs, cpp/irs and
   resources/irs under the working directory and up to five folders above it, the
   same under this library's folder, and Resources/irs beside that folder; sorted
   by file name by character code (capitals first). Neither needs init; each
   searches the disk again. */
/* The number of impulse responses (0 when none is found). */
QUORVALEN_API int32_t quorvalen_engine_get_space_ir_count(void);
/* Writes the file name of response index (0-based) as a zero-terminated UTF-8
   string. Returns its length + 1 once written, or as a size query when buffer is
   null or bufferSize < 1; -(length + 1) when bufferSize is too small (nothing
   written); 0 when index is outside 0..count-1. */
QUORVALEN_API int32_t quorvalen_engine_get_space_ir_name(int32_t index, char* buffer, int32_t bufferSize);

/* ---- Spectral sessions --------------------------------------------------- */
/* A session edits a private 2-channel copy of a cached sound (a mono sound is
   duplicated, a wider one keeps its first two channels): the live copy, a cache
   entry of its own that the host plays, exports and clones like any other. Each
   stroke changes it in place and is heard at once: when the live copy plays, it
   restarts where it was, with its loop and rack settings. Undo and redo hold the
   last 48 strokes; a new stroke drops what could be redone. */

/* Session id; *outLiveCacheId and *outSeconds (its length) are written.
   -1 an output null; -2 engine not ready; -3 unknown id; -4 entry without audio
   or with a rate not above 0; -5 no channels or samples; -6 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_begin_cqt_spectral_session(int32_t cacheId, uint32_t* outLiveCacheId,
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
   Live cache id (also when nothing changed); -1 arrays null, count < 1 or a
   value not finite; -2 more than 20000 points; -3 unknown session; -4 the live
   copy is gone or was reshaped (the knife reports that as -5 once it has
   analysed the copy); -5 the stroke could not be carried through; -6 tool codes
   mixed or above 4. A failed stroke changes nothing. */
QUORVALEN_API int32_t quorvalen_engine_apply_cqt_spectral_session_stroke(int32_t session, const float* points,
                                                                         const uint32_t* tools, int32_t count);
/* Live cache id; -1 unknown session; -2 nothing to undo/redo; -3 the live copy
   is gone or was reshaped, or memory ran out (the step stays available and
   nothing changes). */
QUORVALEN_API int32_t quorvalen_engine_undo_cqt_spectral_session(int32_t session);
QUORVALEN_API int32_t quorvalen_engine_redo_cqt_spectral_session(int32_t session);
/* Drops the session and its live copy (stopping it when it plays); the source
   entry stays. 0; 1 unknown session. */
QUORVALEN_API int32_t quorvalen_engine_end_cqt_spectral_session(int32_t session);

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
QUORVALEN_API int32_t quorvalen_engine_get_cqt_spectral_session_image(int32_t session, float* out, uint32_t width,
                                                                      int32_t height);
/* The constant-Q spectrogram of a cached sound (rows are bands, normalised to
   the sound's own 99.7th percentile); *outSeconds receives its length.
   0; -1 out or outSeconds null; -2 size outside the range; -3 engine not ready;
   -4 unknown id; -5 entry without audio or with a rate not above 0; -6 no
   channels or samples; -7 out of memory. */
QUORVALEN_API int32_t quorvalen_engine_get_cqt_spectrogram(int32_t cacheId, float* out, uint32_t width,
                                                           int32_t height, float* outSeconds);
/* Plays a cached sound after a constant-Q analysis and resynthesis, from its
   start (no pitch, gain 1, no loop), to hear what the round trip changes.
   0; 1 engine or device not ready; 2 unknown id; 3 entry without audio; 4 rate
   not above 0; 5 no channels or samples; 6 out of memory (playback stopped). */
QUORVALEN_API int32_t quorvalen_engine_play_cached_gaborator_roundtrip(int32_t cacheId);

#ifdef __cplusplus
}
#endif

#endif /* QUORVALEN_DSP_H */
