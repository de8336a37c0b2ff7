// Foundry exports: automation lanes, pitch detection, the audition setters, the
// single-region audition, the morph and the preview.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryAudition.h"
#include "foundry/FoundryAutomation.h"
#include "foundry/FoundryCodes.h"
#include "foundry/FoundryMorph.h"
#include "foundry/FoundryPitchDetection.h"
#include "foundry/FoundryPreview.h"
#include "foundry/FoundryRenderSurprise.h"
#include "io/Utf8.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

namespace
{
// The preview parameters as a record (flags as 0 or 1).
foundry::FoundryPreviewArgs previewArgs (QUORVALEN_FOUNDRY_PREVIEW_PARAMETERS)
{
    return { { (double) transientId,
               (double) bodyId,
               (double) tailId,
               (double) bodyJoinMs,
               (double) tailJoinMs,
               (double) transientBodyCrossfadeMs,
               (double) compositeTailCrossfadeMs,
               (double) transientSemitones,
               (double) transientLevel,
               (double) transientStartMs,
               (double) transientShaping,
               (transientHighPassOn != 0 ? 1.0 : 0.0),
               (double) transientHighPassHz,
               (double) transientHighPassRes,
               (transientLowPassOn != 0 ? 1.0 : 0.0),
               (double) transientLowPassHz,
               (double) transientLowPassRes,
               (double) bodySemitones,
               (double) bodyLevel,
               (double) bodyStartMs,
               (double) bodyHeat,
               (bodyHighPassOn != 0 ? 1.0 : 0.0),
               (double) bodyHighPassHz,
               (double) bodyHighPassRes,
               (bodyLowPassOn != 0 ? 1.0 : 0.0),
               (double) bodyLowPassHz,
               (double) bodyLowPassRes,
               (double) tailSemitones,
               (double) tailLevel,
               (double) tailStartMs,
               (double) tailHeat,
               (double) tailHeatMode,
               (double) tailWidth,
               (double) monoMask,
               (overtoneInvert != 0 ? 1.0 : 0.0),
               (tailHighPassOn != 0 ? 1.0 : 0.0),
               (double) tailHighPassHz,
               (double) tailHighPassRes,
               (tailLowPassOn != 0 ? 1.0 : 0.0),
               (double) tailLowPassHz,
               (double) tailLowPassRes,
               (double) overtoneId,
               (double) overlayStartMs,
               (double) overlayEndMs,
               (double) overtoneStartMs,
               (double) overtoneSemitones,
               (double) overtoneLevel,
               (double) overtoneDrive,
               (double) overtoneFadeIn,
               (double) overtoneFadeOut,
               (overtoneHighPassOn != 0 ? 1.0 : 0.0),
               (double) overtoneHighPassHz,
               (overtoneLowPassOn != 0 ? 1.0 : 0.0),
               (double) overtoneLowPassHz,
               (double) lengthMs,
               (double) finalSemitones,
               (double) character } };
}
} // namespace

// The preview parameters by name, in order.
#define QV_PREVIEW_ARGUMENTS                                                                                           \
    transientId, bodyId, tailId, bodyJoinMs, tailJoinMs, transientBodyCrossfadeMs, compositeTailCrossfadeMs,           \
        transientSemitones, transientLevel, transientStartMs, transientShaping, transientHighPassOn,                   \
        transientHighPassHz, transientHighPassRes, transientLowPassOn, transientLowPassHz, transientLowPassRes,        \
        bodySemitones, bodyLevel, bodyStartMs, bodyHeat, bodyHighPassOn, bodyHighPassHz, bodyHighPassRes,              \
        bodyLowPassOn, bodyLowPassHz, bodyLowPassRes, tailSemitones, tailLevel, tailStartMs, tailHeat, tailHeatMode,   \
        tailWidth, monoMask, overtoneInvert, tailHighPassOn, tailHighPassHz, tailHighPassRes, tailLowPassOn,           \
        tailLowPassHz, tailLowPassRes, overtoneId, overlayStartMs, overlayEndMs, overtoneStartMs, overtoneSemitones,   \
        overtoneLevel, overtoneDrive, overtoneFadeIn, overtoneFadeOut, overtoneHighPassOn, overtoneHighPassHz,         \
        overtoneLowPassOn, overtoneLowPassHz, lengthMs, finalSemitones, character

extern "C" {

int32_t quorvalen_engine_set_foundry_automation (uint32_t layer, uint32_t parameter, const float* times,
                                                 const float* values, int32_t count)
{
    return guardedExport ("quorvalen_engine_set_foundry_automation", 8, [&] {
        return foundry::setFoundryAutomation (engine(), layer, parameter, times, values, count);
    });
}

float quorvalen_engine_detect_foundry_pitch (int32_t cacheId, float startMs)
{
    return guardedExport ("quorvalen_engine_detect_foundry_pitch", 0.0f,
                          [&] { return foundry::detectFoundryPitch (engine(), cacheId, startMs); });
}

int32_t quorvalen_engine_set_foundry_audition_character (float semitones, float levelPercent, int32_t mode,
                                                         float transient, float bodyHeat, float tailHeat,
                                                         int32_t heatMode, float overtoneDrive, float width)
{
    return guardedExport ("quorvalen_engine_set_foundry_audition_character", 0, [&] {
        return foundry::setFoundryAuditionCharacter (
            engine(), { semitones, levelPercent, mode, transient, bodyHeat, tailHeat, heatMode, overtoneDrive, width });
    });
}

int32_t quorvalen_engine_set_foundry_audition_filters (int32_t highPassOn, float highPassHz, float highPassResonance,
                                                       int32_t lowPassOn, float lowPassHz, float lowPassResonance)
{
    return guardedExport ("quorvalen_engine_set_foundry_audition_filters", 1, [&] {
        return foundry::setFoundryAuditionFilters (
            engine(), { highPassOn != 0, highPassHz, highPassResonance, lowPassOn != 0, lowPassHz, lowPassResonance });
    });
}

int32_t quorvalen_engine_set_foundry_main_preview_region_filters (uint32_t region, int32_t highPassOn, float highPassHz,
                                                                  float highPassResonance, int32_t lowPassOn,
                                                                  float lowPassHz, float lowPassResonance)
{
    return guardedExport ("quorvalen_engine_set_foundry_main_preview_region_filters", 1, [&] {
        return foundry::setMainPreviewRegionFilters (
            engine(), region,
            { highPassOn != 0, highPassHz, highPassResonance, lowPassOn != 0, lowPassHz, lowPassResonance });
    });
}

int32_t quorvalen_engine_play_foundry_region (int32_t sourceId, float semitones, float levelPercent, float startMs,
                                              int32_t highPassOn, float highPassHz, float highPassResonance,
                                              int32_t lowPassOn, float lowPassHz, float lowPassResonance, int32_t kind,
                                              float transient, float bodyHeat, float tailHeat, int32_t heatMode,
                                              float overtoneDrive, float width, int32_t bits, float regionStartPercent,
                                              float regionEndPercent)
{
    return guardedExport ("quorvalen_engine_play_foundry_region", 1, [&] {
        foundry::RegionAudition r;
        r.sourceId = sourceId;
        r.semitones = semitones;
        r.levelPercent = levelPercent;
        r.startMs = startMs;
        r.filters = { highPassOn != 0, highPassHz, highPassResonance, lowPassOn != 0, lowPassHz, lowPassResonance };
        r.kind = kind;
        r.transient = transient;
        r.bodyHeat = bodyHeat;
        r.tailHeat = tailHeat;
        r.heatMode = heatMode;
        r.overtoneDrive = overtoneDrive;
        r.width = width;
        r.bits = bits;
        r.regionStartPercent = regionStartPercent;
        r.regionEndPercent = regionEndPercent;
        return foundry::playFoundryRegion (engine(), r);
    });
}

int32_t quorvalen_engine_play_body_tail_morph (int32_t cacheIdA, int32_t cacheIdB, float joinMs, float crossfadeMs)
{
    return guardedExport ("quorvalen_engine_play_body_tail_morph", 7, [&] {
        return foundry::playBodyTailMorph (engine(), cacheIdA, cacheIdB, joinMs, crossfadeMs, true);
    });
}

// The same function under its second name.
int32_t quorvalen_engine_play_transient_body_morph (int32_t, int32_t, float, float)
    __attribute__ ((alias ("quorvalen_engine_play_body_tail_morph")));

int32_t quorvalen_engine_play_foundry_preview (QUORVALEN_FOUNDRY_PREVIEW_PARAMETERS, int32_t loop)
{
    return guardedExport ("quorvalen_engine_play_foundry_preview", foundry::noPreviewBuffer, [&] {
        return foundry::playCachedFoundryPreview (engine(), previewArgs (QV_PREVIEW_ARGUMENTS), true, false, loop != 0);
    });
}

int32_t quorvalen_engine_refresh_foundry_preview (QUORVALEN_FOUNDRY_PREVIEW_PARAMETERS)
{
    return guardedExport ("quorvalen_engine_refresh_foundry_preview", foundry::noPreviewBuffer, [&] {
        return foundry::refreshFoundryPreview (engine(), previewArgs (QV_PREVIEW_ARGUMENTS));
    });
}

int32_t quorvalen_engine_export_foundry_preview (QUORVALEN_FOUNDRY_PREVIEW_PARAMETERS, const char* path)
{
    return guardedExport ("quorvalen_engine_export_foundry_preview", foundry::noPreviewBuffer, [&] {
        return foundry::exportFoundryPreview (engine(), previewArgs (QV_PREVIEW_ARGUMENTS), io::validUtf8OrNull (path));
    });
}

int32_t quorvalen_engine_apply_render_surprise (int32_t cacheId, float intensityA, float intensityB,
                                                int32_t stretchMode, int32_t order)
{
    return guardedExport ("quorvalen_engine_apply_render_surprise", -5, [&] {
        return foundry::applyRenderSurprise (engine(), cacheId, intensityA, intensityB, stretchMode, order);
    });
}

} // extern "C"
