#include "rack/modules/SpectralDelayModule.h"

#include "rack/RackProcessingState.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

void prepareSpectralDelayState (SpectralDelayState& delay, double sampleRate, int blockSize)
{
    // 12 ms at the oversampled rate, and never shorter than four oversampled blocks.
    const auto length = std::max<long long> (4LL * blockSize + 16, std::llrint (sampleRate * 4.0 * 0.012));
    delay.lineLeft.assign ((size_t) length, 0.0f);
    delay.lineRight.assign ((size_t) length, 0.0f);
}

void resetSpectralDelayState (SpectralDelayState& delay)
{
    delay.lowPassLeft = delay.lowPassRight = 0.0f;
    delay.noiseLeft = delay.noiseRight = 0.0f;
    delay.levelEnvelope = 0.0f;
    std::fill (delay.lineLeft.begin(), delay.lineLeft.end(), 0.0f);
    std::fill (delay.lineRight.begin(), delay.lineRight.end(), 0.0f);
    delay.writeIndex = 0;
}

void processSpectralDelay (RackProcessingState&, juce::AudioBuffer<float>&, int, int, const QuorvalenRackSettings&)
{
    // Passes the block through until the delay line and noise path are in.
}

} // namespace quorvalen
