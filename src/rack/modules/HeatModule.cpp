#include "rack/modules/HeatModule.h"

#include "rack/RackProcessingState.h"

namespace quorvalen
{

void resetHeatState (HeatState& heat)
{
    heat = {};
}

void processHeat (RackProcessingState&, juce::AudioBuffer<float>&, int, int, const QuorvalenRackSettings&)
{
    // Passes the block through until the saturation stages are in.
}

} // namespace quorvalen
