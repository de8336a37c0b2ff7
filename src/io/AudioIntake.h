#pragma once
// The one road from an untrusted audio file or memory block to decoded audio, used
// by every intake and both file players. WAV and AIFF pass through our chunk walk
// and reach the audio library only as a clean stream; FLAC and Ogg Vorbis are
// decoded until the decoder stops. The stage of a refusal lets each operation
// answer with its own code.
#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>

namespace quorvalen::io
{

// Sample rates outside this range are refused: beyond it the transport's resampler
// would size itself for absurd ratios.
constexpr double minPlausibleSampleRate = 1000.0;
constexpr double maxPlausibleSampleRate = 768000.0;
bool isPlausibleSampleRate (double rate) noexcept;

struct DecodedAudio
{
    enum class Stage
    {
        ok,
        notAudio, // no format recognised, or a container we refuse
        shape,    // no channels, or no frame (or more than 2^31 - 1)
        read,     // decoding failed or memory ran out
        rate      // sample rate outside the plausible range
    };
    Stage stage = Stage::notAudio;
    std::unique_ptr<juce::AudioBuffer<float>> buffer;
    double sampleRate = 0.0;
};

// Non-finite samples are decoded as 0, with one log line giving their count.
// The caller's block is read in place, never copied or retained.
DecodedAudio decodeAudioMemory (const void* bytes, std::size_t size);
DecodedAudio decodeAudioFile (const juce::File& file);

} // namespace quorvalen::io
