#pragma once
// Rack module 6: mid/side width split at a crossover, at the base rate, and the
// glide to mono that follows it.
#include "dsp/OnePole.h"
#include "rack/modules/RackModuleCommon.h"

namespace quorvalen
{

struct StereoState
{
    float lowSide = 0.0f; // one-pole low-pass of the side signal
};

class StereoModule
{
public:
    StereoModule();

    void prepare (const RackModuleSpec& spec);
    void reset();
    // The width split, when the module is on.
    void process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);
    // The mono blend: runs over every block after the module (on or off), gliding in
    // 5 ms towards mono while stereoMono is set and back when it is not.
    void blendToMono (RackBlock block, const QuorvalenRackSettings& settings);

    StereoState& state() noexcept { return stereo; }
    const StereoState& state() const noexcept { return stereo; }

private:
    double sampleRate = 44100.0;
    StereoState stereo;
    dsp::CoefficientCache crossoverCoefficient;
    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear> monoBlend;
    bool monoBlendStarted = false;
};

// Moves every channel's sample toward the channel mean by `amount` (1 = mono).
void applyMonoBlend (juce::AudioBuffer<float>& buffer, int sample, float amount) noexcept;

} // namespace quorvalen
