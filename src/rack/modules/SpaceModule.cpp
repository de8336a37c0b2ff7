#include "rack/modules/SpaceModule.h"

#include "rack/RackProcessingState.h"

namespace quorvalen
{

void prepareSpaceState (SpaceState& space, int maxBlock)
{
    space.dryLeft.assign ((size_t) std::max (maxBlock, 1), 0.0f);
    space.dryRight.assign ((size_t) std::max (maxBlock, 1), 0.0f);
}

void resetSpaceTail (SpaceState& space)
{
    if (space.convolution != nullptr)
        space.convolution->reset();
    space.highState = {};
    space.lowState = {};
}

void loadSpaceImpulseResponse (RackProcessingState& state, const QuorvalenRackSettings&, int, bool)
{
    // No impulse-response library yet: only the filter memories are cleared.
    state.space.highState = {};
    state.space.lowState = {};
}

void processSpace (RackProcessingState&, juce::AudioBuffer<float>&, int, int, const QuorvalenRackSettings&)
{
    // Passes the block through until the convolution path is in.
}

} // namespace quorvalen
