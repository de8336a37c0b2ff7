#pragma once
// Four times oversampling around a processing step: the owner's own oversampler
// (two factor-2 stages, polyphase IIR, maximum quality, integer latency) and its
// two-channel work buffer.
#include <juce_dsp/juce_dsp.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace quorvalen::dsp
{

class OversamplingFrame
{
public:
    OversamplingFrame();
    ~OversamplingFrame();

    // Sizes the work buffer and the oversampler for blocks of up to maxBlock base
    // samples (allocates), then resets.
    void prepare (int maxBlock);
    // Clears the filters and the work buffer; sizes are kept.
    void reset() noexcept;

    int maxBlock() const noexcept { return work.getNumSamples(); }
    float latencyInSamples() const noexcept { return oversampler->getLatencyInSamples(); }
    juce::dsp::Oversampling<float>& filters() noexcept { return *oversampler; }
    juce::AudioBuffer<float>& workBuffer() noexcept { return work; }

    // Runs `process (upsampledBlock)` on a two-channel, 4n-sample block made from
    // buffer channels 0 and 1 (a mono buffer feeds both). Non-finite input samples
    // enter as silence so the filters never hold NaN from upstream. Returns false
    // when the block was left alone (no channel, empty or oversized block, not
    // prepared); otherwise stores in `outputWasFinite` whether every sample written
    // back was finite (non-finite ones are written as 0).
    template <typename Process>
    bool run (juce::AudioBuffer<float>& buffer, int start, int n, bool& outputWasFinite, Process&& process)
    {
        outputWasFinite = true;
        const int ch = std::min (buffer.getNumChannels(), 2);
        if (ch < 1 || n < 1 || n > prepared || start < 0 || start + n > buffer.getNumSamples())
            return false;
        if (work.getNumChannels() < 2 || work.getNumSamples() < n)
            return false;

        const bool silent = buffer.hasBeenCleared();
        for (int c = 0; c < 2; ++c)
        {
            auto* dst = work.getWritePointer (c);
            if (silent)
            {
                std::fill (dst, dst + n, 0.0f);
                continue;
            }
            const auto* src = buffer.getReadPointer (std::min (c, ch - 1), start);
            for (int i = 0; i < n; ++i)
                dst[i] = std::isfinite (src[i]) ? src[i] : 0.0f;
        }

        auto block = juce::dsp::AudioBlock<float> (work).getSubBlock (0, (size_t) n);
        auto up = oversampler->processSamplesUp (block);
        if (up.getNumChannels() >= 2 && up.getNumSamples() == (size_t) n * 4)
            process (up);
        oversampler->processSamplesDown (block);

        for (int c = 0; c < ch; ++c)
        {
            const auto* src = work.getReadPointer (c);
            auto* dst = buffer.getWritePointer (c, start);
            for (int i = 0; i < n; ++i)
            {
                const float v = src[i];
                const bool finite = std::isfinite (v);
                outputWasFinite = outputWasFinite && finite;
                dst[i] = finite ? v : 0.0f;
            }
        }
        return true;
    }

private:
    std::unique_ptr<juce::dsp::Oversampling<float>> oversampler;
    juce::AudioBuffer<float> work;
    int prepared = 0;
};

// A new 4x oversampler of the frame's kind for `channels` channels (offline
// passes that size their own).
std::unique_ptr<juce::dsp::Oversampling<float>> makeOversampler4x (int channels = 2);

} // namespace quorvalen::dsp
