#pragma once
// 24-bit WAV output shared by every writer of the engine. The file is written
// beside the target and replaces it only once it is complete, so a failed write
// never destroys what was there.
#include <juce_audio_basics/juce_audio_basics.h>

#include <string>

namespace quorvalen
{

enum class WavWriteResult
{
    ok,
    streamFailed, // the path is a folder, its folder is missing, or the stream did not open
    writerFailed, // the WAV writer refused the format
    writeFailed   // the data or the final replace did not complete
};

WavWriteResult writeWav24 (const juce::File& target, const juce::AudioBuffer<float>& audio, double sampleRate);

} // namespace quorvalen
