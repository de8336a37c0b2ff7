#pragma once
// Rack module 4: a short modulated doubling delay with filtered noise, at four
// times the rate.
#include "dsp/NoiseGenerator.h"
#include "dsp/OnePole.h"
#include "dsp/OversamplingFrame.h"
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

class SpectralDelayModule
{
public:
    // The hiss on the delayed signal draws from the rack's shared generator.
    explicit SpectralDelayModule (dsp::NoiseGenerator& noise) : noise (noise) {}

    // Sizes both delay lines for the rate and block size, zero-filled.
    void prepare (const RackModuleSpec& spec);
    // Zeroes filters, envelope, lines and the write index; sizes are kept.
    void reset();
    void process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);

    float latencyInSamples() const noexcept { return frame.latencyInSamples(); }
    SpectralDelayState& state() noexcept { return delay; }
    const SpectralDelayState& state() const noexcept { return delay; }

private:
    void clearState();

    dsp::NoiseGenerator& noise;
    dsp::OversamplingFrame frame;
    SpectralDelayState delay;
    double sampleRate = 44100.0;
    float noiseCoefficient = 0.0f, envelopeCoefficient = 0.0f;
    dsp::CoefficientCache timeCoefficient; // the loop's low-pass follows the time
};

} // namespace quorvalen
