#pragma once
// Rack module 0: saturation with five characters, at four times the rate.
#include "rack/modules/RackModuleCommon.h"

#include <array>

namespace quorvalen
{

struct HeatChannelState
{
    float bleedLowPass = 0.0f;
    float noiseA = 0.0f;
    float noiseB = 0.0f;
    float output1 = 0.0f;
    float output2 = 0.0f;
    float peakEnvelope = 0.0f;
};

struct HeatState
{
    std::array<HeatChannelState, 2> channels {};
};

void resetHeatState (HeatState& heat);
void processHeat (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                  const QuorvalenRackSettings& settings);

} // namespace quorvalen
