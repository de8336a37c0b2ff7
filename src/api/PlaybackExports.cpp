// Playback, telemetry and master-tap exports.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "io/Utf8.h"
#include "playback/Playback.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_play_cached (int32_t cacheId, float semitones, float volumePercent)
{
    return guardedCode ("quorvalen_engine_play_cached", PlayCachedResult::notReady,
                        [&] { return playCached (engine(), cacheId, semitones, volumePercent); });
}

int32_t quorvalen_engine_play_wav (const char* path)
{
    return guardedCode ("quorvalen_engine_play_wav", PlayFileResult::readFailed,
                        [&] { return playWavFile (engine(), io::validUtf8OrNull (path)); });
}

int32_t quorvalen_engine_stop (void)
{
    return guardedCode ("quorvalen_engine_stop", PlaybackSetResult::notReady, [] { return stopWithFade (engine()); });
}

int32_t quorvalen_engine_get_playback_telemetry (double* position, double* length, uint32_t* playing)
{
    return guardedCode ("quorvalen_engine_get_playback_telemetry", TelemetryResult::notReady,
                        [&] { return getPlaybackTelemetry (engine(), position, length, playing); });
}

int32_t quorvalen_engine_set_foundry_main_preview_looping (int32_t looping)
{
    return guardedCode ("quorvalen_engine_set_foundry_main_preview_looping", PlaybackSetResult::notReady,
                        [&] { return setMainPreviewLooping (engine(), looping != 0); });
}

int32_t quorvalen_engine_set_foundry_main_preview_pitch (float semitones)
{
    return guardedCode ("quorvalen_engine_set_foundry_main_preview_pitch", PlaybackSetResult::notReady,
                        [&] { return setMainPreviewPitch (engine(), semitones); });
}

int32_t quorvalen_engine_get_master_stereo_scope (float* left, float* right, int32_t n)
{
    return guardedExport ("quorvalen_engine_get_master_stereo_scope", -1, [&] {
        if (! engine().isReady())
            return -2;
        return engine().masterTap.getMasterStereoScope (left, right, n);
    });
}

int32_t quorvalen_engine_get_master_spectrum (float* out, int32_t n)
{
    return guardedExport ("quorvalen_engine_get_master_spectrum", -1, [&] {
        if (! engine().isReady())
            return -2;
        return engine().masterTap.getMasterSpectrum (out, n);
    });
}

int32_t quorvalen_engine_get_master_pitch (float* outHz)
{
    return guardedExport ("quorvalen_engine_get_master_pitch", -1, [&] {
        if (! engine().isReady())
            return -2;
        return engine().masterTap.getMasterPitch (outHz);
    });
}

} // extern "C"
