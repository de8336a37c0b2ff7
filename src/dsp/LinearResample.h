#pragma once
// Linear-interpolation reads: whole resampling as the offline constant-Q renders
// read their sources, and single reads at a position as the Foundry's pitch stages
// make them.
#include "core/FiniteSamples.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quorvalen::dsp
{

// Output sample j reads position j * step, held at the last sample beyond the end.
// A non-finite source sample reads as 0.
inline void resampleLinear (const float* source, int samples, double step, float* out, std::int64_t count)
{
    for (std::int64_t j = 0; j < count; ++j)
    {
        const double p = (double) j * step;
        const int i0 = (int) std::min<double> (std::floor (p), samples - 1);
        const int i1 = std::min (i0 + 1, samples - 1);
        const float x0 = finiteOrZero (source[i0]), x1 = finiteOrZero (source[i1]);
        out[j] = x0 + (x1 - x0) * (float) (p - i0);
    }
}

// Linear interpolation of x at pos, both indices held within [lo, hi].
inline float linearSampleAt (const float* x, std::int64_t lo, std::int64_t hi, double pos) noexcept
{
    const double whole = std::floor (pos);
    const auto j = std::clamp ((std::int64_t) std::clamp (whole, -9.0e18, 9.0e18), lo, hi);
    const auto j1 = std::clamp (j + 1, lo, hi);
    return x[j] + (x[j1] - x[j]) * (float) (pos - whole);
}

} // namespace quorvalen::dsp
