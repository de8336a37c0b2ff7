#include "engine/AudioDecode.h"

#include <limits>
#include <new>

namespace quorvalen
{

bool hasPlausibleLength (const juce::AudioFormatReader& reader, juce::int64 sourceBytes)
{
    const auto length = reader.lengthInSamples;
    if (length < 1 || length > std::numeric_limits<int>::max())
        return false;
    const auto& format = reader.getFormatName();
    const bool uncompressed = format == "WAV file" || format == "AIFF file";
    if (! uncompressed || sourceBytes < 0)
        return true;
    const auto bytesPerFrame = (juce::int64) reader.numChannels * std::max (1, (int) reader.bitsPerSample / 8);
    return length <= sourceBytes / std::max<juce::int64> (bytesPerFrame, 1);
}

std::unique_ptr<juce::AudioBuffer<float>> tryAllocateBuffer (int channels, juce::int64 samples)
{
    if (channels < 1 || samples < 1 || samples > std::numeric_limits<int>::max())
        return nullptr;
    try
    {
        auto buffer = std::make_unique<juce::AudioBuffer<float>> (channels, (int) samples);
        buffer->clear();
        return buffer;
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

bool readFrames (juce::AudioFormatReader& reader, juce::AudioBuffer<float>& buffer, int samples, juce::int64 readerStart)
{
    try
    {
        return reader.read (&buffer, 0, samples, readerStart, true, true);
    }
    catch (...)
    {
        return false;
    }
}

} // namespace quorvalen
