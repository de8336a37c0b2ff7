#pragma once
// Rack module 2: attack and sustain shaping at four times the rate.
#include "dsp/OnePole.h"
#include "dsp/OversamplingFrame.h"
#include "rack/modules/RackModuleCommon.h"

namespace quorvalen
{

struct TransientState
{
    dsp::OnePole fast;
    dsp::OnePole slow;
};

class TransientModule
{
public:
    void prepare (const RackModuleSpec& spec);
    void reset();
    void process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);

    float latencyInSamples() const noexcept { return frame.latencyInSamples(); }
    TransientState& state() noexcept { return follow; }
    const TransientState& state() const noexcept { return follow; }

private:
    dsp::OversamplingFrame frame;
    TransientState follow;
    float fastCoefficient = 0.0f, slowCoefficient = 0.0f; // at the oversampled rate
};

} // namespace quorvalen
