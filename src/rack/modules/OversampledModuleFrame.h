#pragma once
// The frame that heat, transient and spectral delay share: the block's first two
// channels go through the module's own 4x oversampler and work buffer, and back.
// Include only from module sources (it needs the whole processing state).
#include "rack/RackProcessingState.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

// Runs `process (upsampledBlock)` on a two-channel, 4n-sample block made from
// buffer channels 0 and 1 (a mono buffer feeds both). Non-finite input samples
// enter as silence so the oversampler's filters never hold NaN from upstream.
// Returns false when the block was left alone (no channel, empty or oversized
// block, slot not prepared); otherwise stores in `outputWasFinite` whether every
// sample written back was finite (non-finite ones are written as 0).
template <typename Process>
bool runOversampledModuleFrame (RackProcessingState& state, int slot, juce::AudioBuffer<float>& buffer, int start,
                                int n, bool& outputWasFinite, Process&& process)
{
    outputWasFinite = true;
    const int ch = std::min (buffer.getNumChannels(), 2);
    if (ch < 1 || n < 1 || n > state.maxBlock || start < 0 || start + n > buffer.getNumSamples())
        return false;

    auto& work = state.workBuffers[(size_t) slot];
    auto* oversampler = state.oversamplers[(size_t) slot].get();
    if (oversampler == nullptr || work.getNumChannels() < 2 || work.getNumSamples() < n)
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

inline bool allFinite (std::initializer_list<float> values) noexcept
{
    for (auto v : values)
        if (! std::isfinite (v))
            return false;
    return true;
}

} // namespace quorvalen
