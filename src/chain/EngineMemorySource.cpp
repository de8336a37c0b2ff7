#include "chain/EngineMemorySource.h"

#include <algorithm>

namespace quorvalen
{

juce::int64 EngineMemorySource::getNextReadPosition() const
{
    const auto length = (juce::int64) buffer.getNumSamples();
    const auto pos = position.load();
    return (looping.load() && length > 0) ? pos % length : pos;
}

void EngineMemorySource::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    auto& out = *info.buffer;
    const auto length = (juce::int64) buffer.getNumSamples();
    const bool loop = looping.load();
    auto pos = std::max<juce::int64> (position.load(), 0);
    if (loop && length > 0)
        pos %= length;

    const int channels = std::min (out.getNumChannels(), buffer.getNumChannels());
    int written = 0;
    while (written < info.numSamples && length > 0 && (loop || pos < length))
    {
        const int n = (int) std::min<juce::int64> (info.numSamples - written, length - pos);
        for (int ch = 0; ch < channels; ++ch)
            out.copyFrom (ch, info.startSample + written, buffer, ch, (int) pos, n);
        for (int ch = channels; ch < out.getNumChannels(); ++ch)
            out.clear (ch, info.startSample + written, n);
        written += n;
        pos += n;
        if (loop && pos >= length)
            pos = 0;
    }
    if (written < info.numSamples)
        out.clear (info.startSample + written, info.numSamples - written);

    // Not looping: the position keeps counting past the end.
    position.store (loop ? pos : pos + (info.numSamples - written));
}

} // namespace quorvalen
