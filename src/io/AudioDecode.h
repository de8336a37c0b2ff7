#pragma once
// Shared steps of every decode: allocation that reports exhaustion instead of
// throwing, and a read that reports failure instead of throwing.
#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace quorvalen
{

// A cleared buffer, or null when memory is exhausted or the shape is invalid.
std::unique_ptr<juce::AudioBuffer<float>> tryAllocateBuffer (int channels, juce::int64 samples);

// Reads `samples` frames from `readerStart` into the start of `buffer`
// (both reader channel flags set). False when the reader fails or throws.
bool readFrames (juce::AudioFormatReader& reader, juce::AudioBuffer<float>& buffer, int samples,
                 juce::int64 readerStart);

} // namespace quorvalen
