#pragma once
// Brightness scales shared by the session images and the spectrograms: every
// value a caller reads lies in 0..1, whatever the audio held.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <span>

namespace quorvalen
{

// v clamped to [0, 1]; 0 for NaN.
inline float unitBrightness (float v)
{
    return v > 0.0f ? std::min (v, 1.0f) : 0.0f;
}

// Level relative to ref on a 96 dB range with gamma 0.78 (the constant-Q images).
inline float cqtBrightness (float magnitude, float ref)
{
    const float q = unitBrightness ((20.0f * std::log10 (std::max (magnitude, 1e-12f) / ref) + 96.0f) / 96.0f);
    return unitBrightness (std::pow (q, 0.78f));
}

// cqtBrightness of n magnitudes against one reference. The log and the gamma
// are taken in double two cells at a time, to within a few parts in 1e8 of the
// single-precision law; cells within 1 dB of the 96 dB floor, where the gamma
// is steep enough to magnify those parts, and non-finite ones go through
// cqtBrightness itself.
void cqtBrightnessRun (const float* magnitude, float ref, float* out, std::size_t n);

// The constant-Q brightness from a magnitude's natural log, evaluated in double,
// for the cells the fast path decides; -1 for those within 1 dB of the floor
// (and non-finite ones), which the caller takes through cqtBrightness.
void cqtBrightnessFromLogRun (const double* lnMagnitude, float ref, float* out, std::size_t n);

// The 99.7th percentile (by selection) of the values above 1e-12, at least 1e-12;
// 1 when there are none.
float percentileReference (std::span<const float> values);

// The same percentile of values known here only to within a relative
// `tolerance` (approx), exact (i) giving value i itself: the selection runs on
// the approximations, and the exact values of those near the selected one (or
// near the 1e-12 threshold) settle it. Floor values must be given exactly.
float percentileReference (std::span<const float> approx, float tolerance,
                           const std::function<float (std::size_t)>& exact);

} // namespace quorvalen
