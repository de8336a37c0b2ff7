// Single-region audition: one layer of a sound built into the reserved entry, with
// its lanes rendered in, then played through the live character and filters.
#include "foundry/FoundryAudition.h"

#include "foundry/FoundryAuditionCharacterSource.h"
#include "foundry/FoundryAutomation.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryLayerStages.h"

namespace quorvalen::foundry
{

int playFoundryRegion (QuorvalenEngine& engine, const RegionAudition& r)
{
    // Kinds 0..2 are layers with lanes, 3 the overtone; any other kind would reach
    // the live character as a mode of its own, so it is refused before anything.
    if ((std::uint32_t) r.kind > (std::uint32_t) FoundryAuditionCharacterSource::overtoneMode)
        return badLayer;
    const bool layer = (std::uint32_t) r.kind < (std::uint32_t) foundryLayerCount;
    const auto has = [&] (int parameter) {
        return layer && hasFoundryAutomationLane (engine, (std::uint32_t) r.kind, (std::uint32_t) parameter);
    };
    const bool pitchLane = has (lane::pitch), levelLane = has (lane::level), heatLane = has (lane::heat),
               widthLane = has (lane::width);
    const bool highPassLane = has (lane::highPassCutoff) || has (lane::highPassResonance);
    const bool lowPassLane = has (lane::lowPassCutoff) || has (lane::lowPassResonance);

    // The cut replaces the entry, so a previous audition of it stops first.
    if (const int code =
            renderFoundryProcessedRegion (engine, r.sourceId, regionAuditionId, 0.0f, 100.0f, r.startMs, false))
        return code;
    if (const int code = applyFoundryMonoInvert (engine, regionAuditionId, (r.bits & 1) != 0, (r.bits & 2) != 0))
        return code;
    if (layer)
    {
        const LayerFilterSettings filters { r.filters.highPassOn, r.filters.highPassHz, r.filters.highPassResonance,
                                            r.filters.lowPassOn,  r.filters.lowPassHz,  r.filters.lowPassResonance };
        if (const int code = renderFoundryLayerStage (engine, regionAuditionId, (std::uint32_t) r.kind, r.heatMode,
                                                      r.kind == 1, filters, 0.0f))
            return code;
    }
    if (const int code = applyFoundryRegionWindow (engine, regionAuditionId, r.regionStartPercent, r.regionEndPercent))
        return code;
    if (const int code = applyFoundryEdgeFades (engine, regionAuditionId, 3.0f))
        return code;

    AuditionCharacter character;
    character.semitones = pitchLane ? 0.0f : r.semitones;
    character.levelPercent = levelLane ? 100.0f : r.levelPercent;
    character.mode = r.kind;
    character.transient = r.transient;
    character.bodyHeat = heatLane ? 0.0f : r.bodyHeat;
    character.tailHeat = heatLane ? 0.0f : r.tailHeat;
    character.heatMode = r.heatMode;
    character.overtoneDrive = r.overtoneDrive;
    character.width = widthLane ? 0.0f : r.width;
    setFoundryAuditionCharacter (engine, character);

    auto filters = r.filters;
    filters.highPassOn = filters.highPassOn && ! highPassLane;
    filters.lowPassOn = filters.lowPassOn && ! lowPassLane;
    if (const int code = setFoundryAuditionFilters (engine, filters))
        return code;
    return playEntry (engine, regionAuditionId, 0.0f, 100.0f);
}

} // namespace quorvalen::foundry
