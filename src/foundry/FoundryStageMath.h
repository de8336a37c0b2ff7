#pragma once
// Small numeric rules the Foundry stages share: neutral values for arguments that
// are not numbers, the limit on lengths made from times, milliseconds to samples
// without overflow, linear reads and the region window's gain.
#include "core/Units.h"
#include "dsp/LinearResample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quorvalen::foundry
{

inline float finiteOr (float value, float neutral) noexcept
{
    return std::isfinite (value) ? value : neutral;
}

// value limited to [lo, hi]: an infinity takes the nearer end, NaN the neutral value.
inline float clampOr (float value, float lo, float hi, float neutral) noexcept
{
    return std::isnan (value) ? neutral : std::clamp (value, lo, hi);
}

// A percentage as a fraction in [0, 1]; NaN as 0, +inf as 1.
inline float unitFraction (float percent) noexcept
{
    return clampOr (percent / 100.0f, 0.0f, 1.0f, 0.0f);
}

// llround(ms x rate / 1000) limited to [0, upper] (NaN as 0).
inline std::int64_t samplesFromMs (double ms, double rate, std::int64_t upper) noexcept
{
    return msToSamplesAtMost (ms, rate, upper);
}

// A sample count a juce::AudioBuffer can hold.
inline constexpr std::int64_t maxBufferSamples = std::numeric_limits<int>::max();

// The longest sound the Foundry makes from a time argument or grows by render
// surprise: 10 minutes at the render rate (about 230 MB of 48 kHz stereo). A
// longer one is refused before anything is allocated.
inline constexpr double maxFoundrySeconds = 600.0;

// A time argument that asks for more than that. NaN and the infinities do not:
// they take their neutral values.
inline bool beyondFoundryLimit (float ms) noexcept
{
    return std::isfinite (ms) && (double) ms > 1000.0 * maxFoundrySeconds;
}

// The limit in samples at `rate`.
inline std::int64_t maxFoundrySamples (double rate) noexcept
{
    return (std::int64_t) std::floor (maxFoundrySeconds * rate);
}

using dsp::linearSampleAt;

// Gain of sample i of n with a linear fade-in over the first `in` samples and a
// fade-out over the last `out` samples, in [0, 1].
inline float regionWindowGain (std::int64_t i, std::int64_t n, std::int64_t in, std::int64_t out) noexcept
{
    double g = 1.0;
    if (in >= 1 && i < in)
        g *= (double) i / (double) in;
    if (out >= 1 && i >= n - out)
        g *= (double) (n - i - 1) / (double) out;
    return (float) std::clamp (g, 0.0, 1.0);
}

// Mid/side with the side scaled by g: 0 makes mono, 2 doubles the side.
inline void scaleSide (float& left, float& right, float g) noexcept
{
    const float mid = (left + right) * 0.5f;
    const float side = (left - right) * 0.5f * g;
    left = mid + side;
    right = mid - side;
}

} // namespace quorvalen::foundry
