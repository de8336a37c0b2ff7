#pragma once
// Rack module 6: mid/side width split at a crossover, at the base rate. The mono
// blend that follows it belongs to the block path.
#include "rack/modules/RackModuleCommon.h"

namespace quorvalen
{

struct StereoState
{
    float lowSide = 0.0f; // one-pole low-pass of the side signal
};

void resetStereoState (StereoState& stereo);
void processStereo (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                    const QuorvalenRackSettings& settings);

} // namespace quorvalen
