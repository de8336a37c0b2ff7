#include "rack/modules/FilterModule.h"

#include "rack/RackProcessingState.h"

namespace quorvalen
{

void resetFilterState (FilterState& filter)
{
    filter = {};
}

void processFilter (RackProcessingState&, juce::AudioBuffer<float>&, int, int, const QuorvalenRackSettings&)
{
    // Passes the block through until the state-variable filter is in.
}

} // namespace quorvalen
