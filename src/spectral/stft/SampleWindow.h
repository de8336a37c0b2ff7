#pragma once
// Part of a sound copied out for work that runs without the engine lock: samples
// [start, start + length) of up to two channels. The copy keeps its samples in a
// buffer of its own, so that a copy of a whole sound can become the sound.
#include "spectral/stft/SampleSpans.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>

namespace quorvalen
{

struct SampleWindow
{
    std::int64_t start = 0, length = 0;
    int channels = 0;
    juce::AudioBuffer<float> audio; // channels x length

    float* channel (int c) noexcept { return audio.getWritePointer (c); }
    const float* channel (int c) const noexcept { return audio.getReadPointer (c); }
    IndexSpan span() const noexcept { return { start, start + length }; }
    bool holds (IndexSpan s) const noexcept
    {
        return s.end <= s.start || (s.start >= start && s.end <= start + length);
    }
};

} // namespace quorvalen
