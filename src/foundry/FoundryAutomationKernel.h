#pragma once
// The automated filter and heat kernel that a layer's lanes drive at four times
// its rate.
#include "dsp/Biquad.h"
#include "foundry/FoundryAutomation.h"
#include "foundry/FoundryNonlinear.h"

#include <juce_dsp/juce_dsp.h>

#include <array>
#include <cstdint>
#include <limits>
#include <vector>

namespace quorvalen::foundry
{

struct AutomatedLayerContext
{
    const LayerLanes* lanes = nullptr;
    std::int64_t timeBase = 1; // N, base-rate samples
    bool highPassOn = false;   // static high-pass on and lane 2 or 6 present
    double highPassHz = 20.0;
    float highPassResonance = 0.0f;
    bool lowPassOn = false; // static low-pass on and lane 3 or 7 present
    double lowPassHz = 20000.0;
    float lowPassResonance = 0.0f;
    double oversampledRate = 4.0 * 44100.0;
    bool heatVariant = false; // the body layer's curve
    int heatMode = 0;

    struct ChannelState
    {
        dsp::Biquad highPass, lowPass;
    };
    std::vector<ChannelState> channels; // sized by the runner
    std::int64_t lastRefresh = -1;
    std::array<FoundryLaneCursor, foundryParameterCount> cursors; // over `cursorLanes`
    const LayerLanes* cursorLanes = nullptr;
    // The amount heatCurve was made for; NaN: none yet, so that the first sample
    // of a render makes the curve whatever its amount.
    float heatAmount = std::numeric_limits<float>::quiet_NaN();
    HeatDriveMix heatCurve { HeatParams {} };
    float heatExpDrive = 1.0f; // exp(2 drive) of heatCurve

    // Per block: where coefficients change, and per oversampled sample the heat
    // curve's drive, mix and normaliser and the exponential each channel needs.
    struct Refresh
    {
        size_t sample;
        dsp::BiquadCoefficients highPass, lowPass;
    };
    std::vector<Refresh> refreshes;
    std::vector<float> drive, mix, norm, expInput;
};

// One oversampled block whose first sample lies at base-rate `position`.
void processAutomatedLayerBlock (AutomatedLayerContext& context, juce::dsp::AudioBlock<float>& block,
                                 std::int64_t position);

// The kernel over a whole layer, in place, 4x and latency compensated.
void automatedLayerOversampled (juce::AudioBuffer<float>& buffer, AutomatedLayerContext& context);

} // namespace quorvalen::foundry
