#pragma once
// Rack module 1 in mode CEPS: every 128 samples the smoothed log spectrum of the
// last 2048 samples is shifted and warped, and the difference becomes a 256-tap
// minimum-phase FIR that the signal glides to and is mixed with.
#include "rack/modules/RackModuleCommon.h"

#include "dsp/Fft.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <complex>
#include <memory>
#include <vector>

namespace quorvalen
{

struct CepstralFilterState
{
    static constexpr int fftOrder = 11;
    static constexpr int fftSize = 1 << fftOrder; // 2048
    static constexpr int bins = fftSize / 2 + 1;  // 1025
    static constexpr int taps = 256;
    static constexpr int hop = 128;

    CepstralFilterState();

    double sampleRate = 44100.0;
    float smoothing = 0.0f; // one-pole coefficient (5 ms) for shift and warp
    float smoothedShift = 0.0f, smoothedWarp = 0.0f;
    float mappedShift = 0.0f, mappedWarp = 0.0f;
    bool binMapValid = false;
    int ringWrite = 0;    // 0..2047
    int historyIndex = 0; // 0..255
    int hopCounter = 0;
    std::unique_ptr<dsp::Fft> fft;
    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear> amount;
    std::vector<float> ringLeft, ringRight;                // fftSize
    std::vector<float> historyLeft, historyRight;          // 2 x taps, each sample written twice
    std::vector<float> window;                             // fftSize, Hann
    std::vector<float> lifter;                             // fftSize
    std::vector<float> power, envelope, binMap, binWeight; // bins
    std::vector<std::complex<float>> fftIn, fftOut;        // fftSize
    std::vector<float> kernel, kernelStep, kernelTaper;    // taps
};

// Back to pass-through at the given rate; creates the FFT on first use.
void resetCepstralState (CepstralFilterState& cepstral, double sampleRate);
// One sample in place; `right` is null for a mono buffer. Shift in semitones,
// amount 0..1, warp -100..100.
void processCepstralSample (CepstralFilterState& cepstral, float* left, float* right, float shift, float amount,
                            float warp) noexcept;
// Designs the kernel for the current shift and warp from the last 2048 samples and
// sets kernelStep so that the next 128 samples glide to it.
void designCepstralKernel (CepstralFilterState& cepstral) noexcept;

} // namespace quorvalen
