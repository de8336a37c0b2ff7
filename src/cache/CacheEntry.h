#pragma once
#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <memory>
#include <string>

namespace quorvalen
{

// Decoded audio held by the cache under an id.
struct CacheEntry
{
    std::unique_ptr<juce::AudioBuffer<float>> buffer;
    double sampleRate = 0.0;
    std::string name;
    // Set from the cache's counter when the entry is put in and whenever its
    // audio changes (in place or a new buffer): work that copied the entry out
    // tells by it whether what it read is still there.
    std::uint64_t revision = 0;
};

} // namespace quorvalen
