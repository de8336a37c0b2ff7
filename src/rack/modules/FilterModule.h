#pragma once
// Rack module 1 in modes LP, HP, BP, N and RES: a resonant state-variable filter at
// four times the rate with LFO, envelope, drive and dirtbox.
#include "rack/modules/RackModuleCommon.h"

#include <array>

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

} // namespace quorvalen
