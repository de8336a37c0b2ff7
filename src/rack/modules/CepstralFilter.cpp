#include "rack/modules/CepstralFilter.h"

#include "rack/RackProcessingState.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

CepstralFilterState::CepstralFilterState()
    : ringLeft (fftSize), ringRight (fftSize),
      historyLeft (2 * taps), historyRight (2 * taps),
      window (fftSize), lifter (fftSize),
      power (bins), envelope (bins), binMap (bins), binWeight (bins),
      fftIn (fftSize), fftOut (fftSize),
      kernel (taps), kernelStep (taps), kernelTaper (taps)
{
}

void resetCepstralState (CepstralFilterState& c, double sampleRate)
{
    using S = CepstralFilterState;
    c.sampleRate = sampleRate;
    if (c.fft == nullptr)
        c.fft = std::make_unique<juce::dsp::FFT> (S::fftOrder);
    c.smoothing = (float) (1.0 - std::exp (-1.0 / (sampleRate * 0.005)));

    std::fill (c.ringLeft.begin(), c.ringLeft.end(), 0.0f);
    std::fill (c.ringRight.begin(), c.ringRight.end(), 0.0f);
    std::fill (c.historyLeft.begin(), c.historyLeft.end(), 0.0f);
    std::fill (c.historyRight.begin(), c.historyRight.end(), 0.0f);
    std::fill (c.kernel.begin(), c.kernel.end(), 0.0f);
    c.kernel[0] = 1.0f;
    std::fill (c.kernelStep.begin(), c.kernelStep.end(), 0.0f);

    const double pi = juce::MathConstants<double>::pi;
    for (int i = 0; i < S::fftSize; ++i)
        c.window[(size_t) i] = (float) (0.5 - 0.5 * std::cos (2.0 * pi * i / (S::fftSize - 1)));

    const int liftLength = std::clamp ((int) std::trunc (sampleRate * 0.001), 12, 96);
    for (int i = 0; i < S::fftSize; ++i)
    {
        const int m = std::min (i, S::fftSize - i);
        c.lifter[(size_t) i] = m < liftLength ? (float) (0.5 + 0.5 * std::cos (pi * m / liftLength)) : 0.0f;
    }

    for (int n = 0; n < S::taps; ++n)
        c.kernelTaper[(size_t) n] = n < 192 ? 1.0f : (float) (0.5 + 0.5 * std::cos (pi * (n - 192) / 63.0));

    for (int k = 0; k < S::bins; ++k)
        c.binWeight[(size_t) k] = std::min ({ 1.0f, (float) k / 3.0f, (float) (S::bins - 1 - k) / 12.0f });

    c.binMapValid = false;
    c.ringWrite = c.historyIndex = c.hopCounter = 0;
    c.smoothedShift = c.smoothedWarp = 0.0f;
    c.amount.reset (sampleRate, 0.005);
    c.amount.setCurrentAndTargetValue (0.0f);
}

void processCepstralFilter (RackProcessingState&, juce::AudioBuffer<float>&, int, int, const QuorvalenRackSettings&)
{
    // Passes the block through until the envelope filter is in.
}

} // namespace quorvalen
