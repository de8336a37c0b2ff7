#pragma once
// Part of a sound copied out for work that runs without the engine lock: samples
// [start, start + length) of up to two channels, channel-major.
#include "spectral/stft/SampleSpans.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvalen
{

struct SampleWindow
{
    std::int64_t start = 0, length = 0;
    int channels = 0;
    std::vector<float> samples;

    float* channel (int c) noexcept { return samples.data() + (std::size_t) c * (std::size_t) length; }
    const float* channel (int c) const noexcept { return samples.data() + (std::size_t) c * (std::size_t) length; }
    IndexSpan span() const noexcept { return { start, start + length }; }
    bool holds (IndexSpan s) const noexcept
    {
        return s.end <= s.start || (s.start >= start && s.end <= start + length);
    }
};

} // namespace quorvalen
