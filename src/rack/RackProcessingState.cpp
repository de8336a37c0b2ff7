#include "rack/RackProcessingState.h"

#include "core/Units.h"

#include <algorithm>

namespace quorvalen
{

RackProcessingState::RackProcessingState (bool live)
{
    if (live)
    {
        children.reserve (rackMaxModuleEntries);
        for (int i = 0; i < rackMaxModuleEntries; ++i)
            children.push_back (std::make_unique<RackProcessingState> (false));
    }
}

RackProcessingState::~RackProcessingState() = default;

void prepareRackState (RackProcessingState& state, double sampleRate, int blockSize)
{
    state.sampleRate = usableRate (sampleRate);
    state.maxBlock = std::max (blockSize, 1);
    const RackModuleSpec spec { state.sampleRate, state.maxBlock };
    state.heat.prepare (spec);
    state.filter.prepare (spec);
    state.transient.prepare (spec);
    state.freqShift.prepare (spec);
    state.spectralDelay.prepare (spec);
    state.space.prepare (spec);
    state.stereo.prepare (spec);
    for (auto& child : state.children)
        prepareRackState (*child, sampleRate, blockSize);
    resetRackState (state);
}

void resetRackState (RackProcessingState& state)
{
    state.playLength = 1;
    state.delayTail = 0;
    state.position = 0;
    state.looping = false;
    state.keepTail = false;
    state.loopLength = 1;
    state.noise.reset();

    state.heat.reset();
    state.filter.reset();
    state.transient.reset();
    state.freqShift.reset();
    state.spectralDelay.reset();
    state.space.reset();
    state.stereo.reset();

    for (auto& child : state.children)
        resetRackState (*child);
}

} // namespace quorvalen
