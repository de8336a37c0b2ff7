#pragma once
// Host-side setters of the Foundry's live audition stages, and the single-region
// audition that builds a layer into its reserved entry and plays it through them.
#include <cstdint>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

struct AuditionCharacter
{
    float semitones = 0.0f;
    float levelPercent = 100.0f;
    int mode = 0; // -1 main preview, 0 transient, 1 body, 2 tail, 3 overtone
    float transient = 0.0f, bodyHeat = 0.0f, tailHeat = 0.0f;
    int heatMode = 0;
    float overtoneDrive = 0.0f, width = 0.0f;
};

// Pitch (the resampling stage), level and character; no lock. Returns 0.
int setFoundryAuditionCharacter (QuorvalenEngine& engine, const AuditionCharacter& character);

struct AuditionFilters
{
    bool highPassOn = false;
    float highPassHz = 20.0f, highPassResonance = 0.0f;
    bool lowPassOn = false;
    float lowPassHz = 20000.0f, lowPassResonance = 0.0f;
};

// The two live IIR audition filters. Takes the engine mutex. 0, or 1 without a
// running device.
int setFoundryAuditionFilters (QuorvalenEngine& engine, const AuditionFilters& filters);

// The main preview's region filter slot (0..2); no lock. 8 for a slot above 2,
// 1 when not ready, else 0.
int setMainPreviewRegionFilters (QuorvalenEngine& engine, std::uint32_t slot, const AuditionFilters& filters);

struct RegionAudition
{
    std::int32_t sourceId = 0;
    float semitones = 0.0f, levelPercent = 100.0f, startMs = 0.0f;
    AuditionFilters filters;
    std::int32_t kind = 0; // 0 transient, 1 body, 2 tail, 3 overtone
    float transient = 0.0f, bodyHeat = 0.0f, tailHeat = 0.0f;
    std::int32_t heatMode = 0;
    float overtoneDrive = 0.0f, width = 0.0f;
    std::int32_t bits = 0; // bit 0 mono, bit 1 invert
    float regionStartPercent = 0.0f, regionEndPercent = 0.0f;
};

// Each step takes the engine mutex as it needs it. 0, or the first failing
// step's code.
int playFoundryRegion (QuorvalenEngine& engine, const RegionAudition& region);

} // namespace quorvalen::foundry
