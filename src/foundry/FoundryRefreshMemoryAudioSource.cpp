#include "foundry/FoundryRefreshMemoryAudioSource.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

FoundryRefreshMemoryAudioSource::FoundryRefreshMemoryAudioSource (juce::AudioBuffer<float>& audio,
                                                                  const juce::AudioBuffer<float>& previous,
                                                                  juce::int64 previousPosition, bool shouldLoop)
        : EngineMemorySource (audio, shouldLoop), fadeIn ((size_t) maxCrossfade, 0.0f)
{
    const juce::int64 newLength = audio.getNumSamples();
    const juce::int64 previousLength = previous.getNumSamples();
    const juce::int64 q = std::max<juce::int64> (previousPosition, 0);
    juce::int64 n = shouldLoop
        ? std::min<juce::int64> (newLength, maxCrossfade)
        : std::min (std::min (newLength, previousLength) - q, std::min<juce::int64> (newLength, maxCrossfade));
    const int channels = std::min (audio.getNumChannels(), previous.getNumChannels());
    // Nothing to fade from without previous audio (and no index to wrap by).
    if (n < 1 || channels < 1 || previousLength < 1)
        return;

    for (juce::int64 i = 0; i < n; ++i)
        fadeIn[(size_t) i] = n == 1
            ? 1.0f
            : (float) (0.5 - 0.5 * std::cos (juce::MathConstants<double>::pi * (double) i / (double) (n - 1)));
    fadeOut.setSize (channels, (int) n);
    for (int c = 0; c < channels; ++c)
    {
        const auto* prev = previous.getReadPointer (c);
        auto* out = fadeOut.getWritePointer (c);
        for (juce::int64 i = 0; i < n; ++i)
            out[i] = (1.0f - fadeIn[(size_t) i]) * prev[(i + q) % previousLength];
    }
}

void FoundryRefreshMemoryAudioSource::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    EngineMemorySource::getNextAudioBlock (info);
    const juce::int64 n = fadeOut.getNumSamples();
    const int count = (int) std::min<juce::int64> (n - played, info.numSamples);
    if (count < 1)
        return;
    const int channels = std::min (fadeOut.getNumChannels(), info.buffer->getNumChannels());
    for (int c = 0; c < channels; ++c)
    {
        auto* out = info.buffer->getWritePointer (c, info.startSample);
        const auto* prev = fadeOut.getReadPointer (c, (int) played);
        const auto* f = fadeIn.data() + played;
        for (int i = 0; i < count; ++i)
            out[i] = f[i] * out[i] + prev[i];
    }
    played += count;
}

} // namespace quorvalen
