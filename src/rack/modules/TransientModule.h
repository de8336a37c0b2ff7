#pragma once
// Rack module 2: attack and sustain shaping at four times the rate.
#include "rack/modules/RackModuleCommon.h"

namespace quorvalen
{

struct TransientState
{
    float fast = 0.0f;
    float slow = 0.0f;
};

void resetTransientState (TransientState& transient);
void processTransient (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                       const QuorvalenRackSettings& settings);

} // namespace quorvalen
