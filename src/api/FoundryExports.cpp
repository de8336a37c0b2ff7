// Foundry exports: automation lanes, pitch detection, the audition setters and the
// single-region audition.
#include "api/ExportGuard.h"
#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryAudition.h"
#include "foundry/FoundryAutomation.h"
#include "foundry/FoundryMorph.h"
#include "foundry/FoundryPitchDetection.h"

#include <quorvalen_dsp.h>

using namespace quorvalen;

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

} // extern "C"
