#pragma once
// Linear fades over a range of samples, and the equal-gain ramp between two signals.
#include <cstdint>

namespace quorvalen::dsp
{

// Sample i of `count` is scaled by i / (count - 1): silent first sample, whole last.
// A count below 2 leaves the samples alone.
inline void fadeInLinear (float* samples, std::int64_t count) noexcept
{
    if (count < 2)
        return;
    for (std::int64_t i = 0; i < count; ++i)
        samples[i] *= (float) i / (float) (count - 1);
}

// The mirror image: whole first sample, silent last.
inline void fadeOutLinear (float* samples, std::int64_t count) noexcept
{
    if (count < 2)
        return;
    for (std::int64_t i = 0; i < count; ++i)
        samples[i] *= 1.0f - (float) i / (float) (count - 1);
}

// Step `step` (from 0) of a ramp of `length` steps: (step + 1) / length, so the
// last step lands fully on the new signal.
inline float rampPosition (std::int64_t step, std::int64_t length) noexcept
{
    return (float) (step + 1) / (float) length;
}

// Equal-gain mix: weights 1 - t and t sum to one.
inline float rampMix (float from, float to, float t) noexcept
{
    return (1.0f - t) * from + t * to;
}

} // namespace quorvalen::dsp
