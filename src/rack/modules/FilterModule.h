#pragma once
// Rack module 1 in modes LP, HP, BP, N and RES: a resonant state-variable filter at
// four times the rate with LFO, envelope, drive and dirtbox.
#include "rack/modules/RackModuleCommon.h"

#include <array>
#include <cstdint>

namespace quorvalen
{

struct FilterChannelState
{
    float ic1 = 0.0f, ic2 = 0.0f;            // SVF integrators
    float dirtS1 = 0.0f, dirtS2 = 0.0f;      // dirtbox band-pass integrators
    float noiseS1 = 0.0f, noiseS2 = 0.0f;    // dirtbox noise band-pass integrators
    float dirtEnvelope = 0.0f;
};

struct FilterState
{
    std::array<FilterChannelState, 2> channels {};
};

void resetFilterState (FilterState& filter);
void processFilter (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                    const QuorvalenRackSettings& settings);

// Delay-attack-decay-sustain-release laid over the length of the sound; the cepstral
// mode uses the same shape. Durations are in samples at the base rate.
struct FilterEnvelope
{
    std::int64_t delay = 0, attack = 0, decay = 0, release = 0;
    std::int64_t decayEnd = 0, releaseStart = 0;
    float sustain = 0.0f;
};

// Percentages 0..100; the delay is in hundredths of a second, the other times are
// fractions of the sound.
FilterEnvelope makeFilterEnvelope (float delay, float attack, float decay, float sustain, float release,
                                   double sampleRate, std::int64_t playLength) noexcept;
float filterEnvelopeAt (const FilterEnvelope& envelope, std::int64_t position) noexcept;

// LFO rate in Hz for a rate setting in 0..1 (tempo divisions when synced).
float filterLfoHz (const QuorvalenRackSettings& settings, float rate) noexcept;
// Advances the shared LFO phase by one sample at `rate` and returns the shape value
// in [-1, 1]; the random shape draws from the shared generator when its hold ends.
float advanceFilterLfo (RackProcessingState& state, std::int32_t shape, double hz, double rate) noexcept;
// Puts non-finite LFO and dirtbox phases or random value back to their start;
// true when something had to be repaired.
bool repairFilterLfoState (RackProcessingState& state) noexcept;

} // namespace quorvalen
