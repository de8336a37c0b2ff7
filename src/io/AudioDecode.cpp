#include "io/AudioDecode.h"

#include <limits>
#include <new>

namespace quorvalen
{

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

bool readFrames (juce::AudioFormatReader& reader, juce::AudioBuffer<float>& buffer, int samples,
                 juce::int64 readerStart)
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
