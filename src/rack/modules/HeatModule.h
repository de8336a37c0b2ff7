#pragma once
// Rack module 0: saturation with five characters, at four times the rate.
#include "dsp/NoiseGenerator.h"
#include "dsp/OnePole.h"
#include "dsp/OversamplingFrame.h"
#include "rack/modules/RackModuleCommon.h"

#include <array>

namespace quorvalen
{

struct HeatChannelState
{
    dsp::OnePole bleedLowPass;
    float noiseA = 0.0f;
    float noiseB = 0.0f;
    dsp::OnePole output1;
    dsp::OnePole output2;
    float peakEnvelope = 0.0f;
};

struct HeatState
{
    std::array<HeatChannelState, 2> channels {};
};

class HeatModule
{
public:
    // The bleed character draws its hiss from the rack's shared generator.
    explicit HeatModule (dsp::NoiseGenerator& noise) : noise (noise) {}

    void prepare (const RackModuleSpec& spec);
    void reset();
    void process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);

    float latencyInSamples() const noexcept { return frame.latencyInSamples(); }
    HeatState& state() noexcept { return heat; }
    const HeatState& state() const noexcept { return heat; }

private:
    dsp::NoiseGenerator& noise;
    dsp::OversamplingFrame frame;
    HeatState heat;
    // Corners at the oversampled rate, set by prepare.
    float c30 = 0.0f, c1800 = 0.0f, c10500 = 0.0f, c15500 = 0.0f, c60 = 0.0f, attack = 0.0f, release = 0.0f;
};

} // namespace quorvalen
