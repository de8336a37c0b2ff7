#pragma once
// Unit conversions the engine's subsystems share; each keeps one rounding so that
// the same setting always lands on the same sample.
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quorvalen
{

inline double semitonesToRatio (double semitones) noexcept
{
    return std::exp2 (semitones / 12.0);
}

inline float semitonesToRatio (float semitones) noexcept
{
    return std::exp2 (semitones / 12.0f);
}

// A playback pitch: 2^(clamp(semitones, -24, 24) / 12); NaN counts as 0 semitones,
// an infinity as the nearer end. Kept on pow, not exp2: the two differ in the last
// bit for about one in ten thousand inputs, and the transport's rate must not move.
inline double pitchRatio (float semitones) noexcept
{
    const double s = std::isnan (semitones) ? 0.0 : std::clamp ((double) semitones, -24.0, 24.0);
    return std::pow (2.0, s / 12.0);
}

// How a time in milliseconds becomes a whole number of samples.
enum class SampleRounding
{
    towardZero, // the sample the time has reached
    nearest,
};

// Never negative; NaN gives 0.
inline std::int64_t msToSamples (double ms, double sampleRate, SampleRounding rounding) noexcept
{
    const double x = ms * sampleRate / 1000.0;
    const double whole = rounding == SampleRounding::nearest ? std::round (x) : std::trunc (x);
    if (! (whole > 0.0))
        return 0;
    return whole >= 9.0e18 ? (std::int64_t) 9.0e18 : (std::int64_t) whole;
}

// The nearest whole sample to `ms`, within [0, upper] (NaN as 0; `upper` not negative).
inline std::int64_t msToSamplesAtMost (double ms, double sampleRate, std::int64_t upper) noexcept
{
    const double x = ms * sampleRate / 1000.0;
    if (! (x > 0.0))
        return 0;
    return x >= (double) upper ? upper : std::min<std::int64_t> (std::llround (x), upper);
}

// A 0..100 setting as a 0..1 factor.
inline float percentToGain (float percent) noexcept
{
    return percent / 100.0f;
}

// A rate that can drive DSP: finite and above zero.
inline bool isUsableRate (double sampleRate) noexcept
{
    return sampleRate > 0.0 && std::isfinite (sampleRate);
}

// The rate itself when it is usable, else the fallback.
inline double usableRate (double sampleRate, double fallback = 44100.0) noexcept
{
    return isUsableRate (sampleRate) ? sampleRate : fallback;
}

} // namespace quorvalen
