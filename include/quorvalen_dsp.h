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

/* ---- Playback and telemetry ---------------------------------------------- */

/* ---- Master tap ---------------------------------------------------------- */

/* ---- Processing edit sessions -------------------------------------------- */

/* ---- Processing rack ----------------------------------------------------- */

#ifdef __cplusplus
}
#endif

#endif /* QUORVALEN_DSP_H */
