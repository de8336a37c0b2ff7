#pragma once
// Shared steps of every decode: shape checks, a length test against what the
// source really holds, and allocation that reports exhaustion instead of throwing.
#include <juce_audio_formats/juce_audio_formats.h>

#include <memory>

namespace quorvalen
{

// Length of 1 .. 2^31-1 samples, and for uncompressed formats no more sample bytes
// than the file or memory block holds (a lying header must not make us allocate
// gigabytes).
bool hasPlausibleLength (const juce::AudioFormatReader& reader, juce::int64 sourceBytes);

// A cleared buffer, or null when memory is exhausted or the shape is invalid.
std::unique_ptr<juce::AudioBuffer<float>> tryAllocateBuffer (int channels, juce::int64 samples);

// Reads `samples` frames from `readerStart` into the start of `buffer`
// (both reader channel flags set). False when the reader fails or throws.
bool readFrames (juce::AudioFormatReader& reader, juce::AudioBuffer<float>& buffer, int samples, juce::int64 readerStart);

} // namespace quorvalen
