#pragma once
// FLAC and Ogg Vorbis decoding that never trusts the header's length: the frames
// are decoded until the decoder stops, growing the buffer, and what was really
// decoded is reported.
#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include <memory>

namespace quorvalen::io
{

struct CompressedAudio
{
    enum class Status
    {
        ok,
        notThisFormat, // the stream does not open as FLAC or Ogg Vorbis
        badShape,      // no channels, nothing decoded, or more than 2^31 - 1 frames
        outOfMemory
    };
    Status status = Status::notThisFormat;
    std::unique_ptr<juce::AudioBuffer<float>> buffer;
    double sampleRate = 0.0;
};

// `source` must be seekable and know its length.
CompressedAudio decodeCompressed (juce::InputStream& source);

} // namespace quorvalen::io
