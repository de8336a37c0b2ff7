#pragma once
// Linear-interpolation resampling as the offline renders read their sources:
// output sample j reads position j * step, held at the last sample beyond the end.
#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quorvalen::spectral
{

inline void resampleLinear (const float* source, int samples, double step, float* out, std::int64_t count)
{
    for (std::int64_t j = 0; j < count; ++j)
    {
        const double p = (double) j * step;
        const int i0 = (int) std::min<double> (std::floor (p), samples - 1);
        const int i1 = std::min (i0 + 1, samples - 1);
        out[j] = source[i0] + (source[i1] - source[i0]) * (float) (p - i0);
    }
}

} // namespace quorvalen::spectral
