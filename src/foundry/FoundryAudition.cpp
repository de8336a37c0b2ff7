#include "foundry/FoundryAudition.h"

#include "foundry/FoundryAuditionCharacterSource.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryFilterDesign.h"
#include "foundry/FoundryRegionFilterSource.h"
#include "foundry/FoundryStageMath.h"
#include "playback/Playback.h"

namespace quorvalen::foundry
{

int setFoundryAuditionCharacter (QuorvalenEngine& engine, const AuditionCharacter& a)
{
    const double ratio = pitchRatio (a.semitones);
    setResamplingRatio (engine, ratio);
    const auto stages = auditionStages (engine);
    auto& character = stages.character;
    if (a.mode == FoundryAuditionCharacterSource::mainPreview)
    {
        setMainPreviewSpeed (engine, ratio);
        stages.regionFilter.playhead.speed.exchange (std::clamp (ratio, 0.25, 4.0));
    }
    // Amounts go through as given (the audio thread scales and clamps them, an
    // infinity to the nearer end); NaN takes the neutral value here so that it
    // never reaches the audio thread.
    const auto amount = [] (float x) { return std::isnan (x) ? 0.0f : x; };
    character.level.exchange (clampOr (a.levelPercent / 100.0f, 0.0f, 1.5f, 1.0f));
    character.mode.exchange (a.mode);
    character.transientAmount.exchange (amount (a.transient));
    character.bodyHeat.exchange (amount (a.bodyHeat));
    character.tailHeat.exchange (amount (a.tailHeat));
    character.heatMode.exchange (a.heatMode);
    character.overtoneDrive.exchange (amount (a.overtoneDrive));
    character.width.exchange (amount (a.width));
    return done;
}

namespace
{
// Below 20 Hz is 20; above min(0.45 rate, 20000) is that; NaN is the open end.
double auditionCutoff (bool highPass, float hz, double rate) noexcept
{
    const double cap = std::min (0.45 * rate, 20000.0);
    if (std::isnan (hz))
        return highPass ? 20.0 : cap;
    return hz < 20.0f ? 20.0 : std::min ((double) hz, cap);
}
} // namespace

int setFoundryAuditionFilters (QuorvalenEngine& engine, const AuditionFilters& f)
{
    const auto lock = lockEngine (engine);
    const double sr = currentDeviceRate (engine);
    if (! (sr > 0.0))
        return notReady;
    if (f.highPassOn)
        auditionStages (engine).highPass.setCoefficients (juce::IIRCoefficients::makeHighPass (
            sr, auditionCutoff (true, f.highPassHz, sr), auditionQFromPercent (f.highPassResonance)));
    else
        auditionStages (engine).highPass.makeInactive();
    if (f.lowPassOn)
        auditionStages (engine).lowPass.setCoefficients (juce::IIRCoefficients::makeLowPass (
            sr, auditionCutoff (false, f.lowPassHz, sr), auditionQFromPercent (f.lowPassResonance)));
    else
        auditionStages (engine).lowPass.makeInactive();
    return done;
}

int setMainPreviewRegionFilters (QuorvalenEngine& engine, std::uint32_t slot, const AuditionFilters& f)
{
    if (slot >= (std::uint32_t) FoundryRegionFilterSource::slotCount)
        return badLayer;
    // The ready flag drops before the device manager goes and rises after it is
    // made, so it alone tells (reading the manager unlocked would race shutdown).
    if (! engineReady (engine))
        return notReady;
    auditionStages (engine).regionFilter.setFoundryMainPreviewRegionFilter (
        slot, f.highPassOn, f.highPassHz, f.highPassResonance, f.lowPassOn, f.lowPassHz, f.lowPassResonance);
    return done;
}

} // namespace quorvalen::foundry
