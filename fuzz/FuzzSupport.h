#pragma once
// Shared by the fuzz targets: one engine on the headless device for the whole run,
// and small helpers to turn fuzz bytes into arguments.
#include "platform/HeadlessConfig.h"

#include <juce_audio_formats/juce_audio_formats.h>

#include <quorvalen_dsp.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace qvfuzz
{

inline void startEngine()
{
    static const bool started = [] {
        quorvalen::platform::setPlatformDeviceTypesEnabled (false);
        quorvalen::platform::setHeadlessSettings ({ 1, 48000.0, 512, 512 });
        return quorvalen_engine_init() == 0;
    }();
    (void) started;
}

// A stereo 16-bit WAV of a tone, as a host would hand it in.
inline juce::MemoryBlock toneWav (double rate, int frames)
{
    juce::MemoryBlock bytes;
    juce::WavAudioFormat wav;
    auto* stream = new juce::MemoryOutputStream (bytes, false);
    std::unique_ptr<juce::AudioFormatWriter> writer (wav.createWriterFor (stream, rate, 2, 16, {}, 0));
    juce::AudioBuffer<float> tone (2, frames);
    for (int i = 0; i < frames; ++i)
        for (int ch = 0; ch < 2; ++ch)
            tone.setSample (ch, i, 0.4f * std::sin (0.2f * (float) i + (float) ch));
    writer->writeFromAudioSampleBuffer (tone, 0, frames);
    return bytes;
}

// Reads values off the front of the input, zeros once it runs dry.
class Bytes
{
public:
    Bytes (const std::uint8_t* d, std::size_t n) : data (d), size (n) {}

    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
    float unit() { return (float) byte() / 255.0f; }
    bool empty() const { return pos >= size; }

    // The rest of the input (or up to `max` bytes) as a NUL-terminated string.
    std::string text (std::size_t max = SIZE_MAX)
    {
        const auto n = std::min (max, size - std::min (pos, size));
        std::string s (reinterpret_cast<const char*> (data + pos), n);
        pos += n;
        return s;
    }

private:
    const std::uint8_t* data;
    std::size_t size, pos = 0;
};

} // namespace qvfuzz
