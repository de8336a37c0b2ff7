// Playback, telemetry and master-tap exports.
#include "api/ExportGuard.h"
#include "playback/Playback.h"
#include "engine/QuorvalenEngine.h"
#include "io/Utf8.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

extern "C" {

int32_t quorvalen_engine_play_cached (int32_t cacheId, float semitones, float volumePercent)
{
    return guardedExport ("quorvalen_engine_play_cached", 1, [&] { return playCached (engine(), cacheId, semitones, volumePercent); });
}

int32_t quorvalen_engine_play_wav (const char* path)
{
    return guardedExport ("quorvalen_engine_play_wav", 6, [&] { return playWavFile (engine(), io::validUtf8OrNull (path)); });
}

int32_t quorvalen_engine_stop (void)
{
    return guardedExport ("quorvalen_engine_stop", 1, [] { return stopWithFade (engine()); });
}

int32_t quorvalen_engine_get_playback_telemetry (double* position, double* length, uint32_t* playing)
{
    return guardedExport ("quorvalen_engine_get_playback_telemetry", 1,
                          [&] { return getPlaybackTelemetry (engine(), position, length, playing); });
}

int32_t quorvalen_engine_set_foundry_main_preview_looping (int32_t looping)
{
    return guardedExport ("quorvalen_engine_set_foundry_main_preview_looping", 1,
                          [&] { return setMainPreviewLooping (engine(), looping != 0); });
}

int32_t quorvalen_engine_set_foundry_main_preview_pitch (float semitones)
{
    return guardedExport ("quorvalen_engine_set_foundry_main_preview_pitch", 1,
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
