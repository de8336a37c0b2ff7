#pragma once
#include <juce_audio_basics/juce_audio_basics.h>

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
};

} // namespace quorvalen
