#include "rack/modules/TransientModule.h"

#include "rack/RackProcessingState.h"

namespace quorvalen
{

void resetTransientState (TransientState& transient)
{
    transient = {};
}

void processTransient (RackProcessingState&, juce::AudioBuffer<float>&, int, int, const QuorvalenRackSettings&)
{
    // Passes the block through until the followers and shaping are in.
}

} // namespace quorvalen
