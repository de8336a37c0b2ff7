#pragma once
// Rack module 4: a short modulated doubling delay with filtered noise, at four
// times the rate.
#include "rack/modules/RackModuleCommon.h"

#include <vector>

namespace quorvalen
{

struct SpectralDelayState
{
    float lowPassLeft = 0.0f, lowPassRight = 0.0f;
    float noiseLeft = 0.0f, noiseRight = 0.0f;
    float levelEnvelope = 0.0f;
    std::vector<float> lineLeft, lineRight; // 12 ms at the oversampled rate, sized at prepare
    int writeIndex = 0;
};

// Sizes both delay lines for the rate and block size, zero-filled.
void prepareSpectralDelayState (SpectralDelayState& delay, double sampleRate, int blockSize);
// Zeroes filters, envelope, lines and the write index; sizes are kept.
void resetSpectralDelayState (SpectralDelayState& delay);
void processSpectralDelay (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                           const QuorvalenRackSettings& settings);

} // namespace quorvalen
