#pragma once
// Outermost stage of the playback chain: copies what the device plays into two
// rings that the scope, spectrum and pitch queries read from host threads.
#include "chain/ChainStage.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace quorvalen
{

class MasterSpectrumSource final : public ChainStage
{
public:
    static constexpr int ringSize = 16384;
    static constexpr int spectrumBins = 1024;

    explicit MasterSpectrumSource (juce::AudioSource* input) : ChainStage (input) {}

    void prepareToPlay (int samplesPerBlock, double rate) override;
    void releaseResources() override;
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    void resetMasterTap();

    // Results: 1 signal, 0 silence, -1 bad arguments (the ready test is the caller's).
    int getMasterStereoScope (float* left, float* right, int n) const;
    int getMasterSpectrum (float* out, int n);
    int getMasterPitch (float* outHz) const;

private:
    // Relaxed atomics: the audio thread writes while queries read without a lock,
    // and a query tolerates a half-written block.
    std::atomic<float> ringLeft[ringSize] {};
    std::atomic<float> ringRight[ringSize] {};
    // Written by the audio thread with relaxed stores; each query takes one snapshot.
    std::atomic<std::uint64_t> framesWritten { 0 };
    std::atomic<double> sampleRate { 44100.0 };
    float smoothedSpectrum[spectrumBins] {};
    std::mutex spectrumMutex;
};

// In-place radix-2 complex FFT of 2048 interleaved (re, im) float pairs, forward, unscaled.
void fft2048 (float* interleaved);

} // namespace quorvalen
