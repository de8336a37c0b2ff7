#pragma once
// Samples that are not finite (NaN or infinity) read as silence: one such sample
// would otherwise spread through every filter, transform and level that meets it.
#include <cmath>
#include <cstddef>

namespace quorvalen
{

inline float finiteOrZero (float x) noexcept
{
    return std::isfinite (x) ? x : 0.0f;
}

// Sets every non-finite sample of x[0, n) to 0; returns how many there were.
inline std::size_t zeroNonFinite (float* x, std::size_t n) noexcept
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (! std::isfinite (x[i]))
        {
            x[i] = 0.0f;
            ++count;
        }
    return count;
}

} // namespace quorvalen
