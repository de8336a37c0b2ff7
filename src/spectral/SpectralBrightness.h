#pragma once
// Brightness scales shared by the session images and the spectrograms: every
// value a caller reads lies in 0..1, whatever the audio held.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

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

// The 99.7th percentile (by selection) of the values above 1e-12, at least 1e-12;
// 1 when there are none. `values` is consumed.
inline float percentileReference (std::vector<float> values)
{
    std::erase_if (values, [] (float v) { return ! (v > 1e-12f); });
    if (values.empty())
        return 1.0f;
    const auto count = values.size();
    const auto k = std::min ((std::size_t) std::floor ((double) (count - 1) * 0.997), count - 1);
    std::nth_element (values.begin(), values.begin() + (std::ptrdiff_t) k, values.end());
    // An infinite magnitude would leave every other cell dark; keep the scale finite.
    const float ref = std::isfinite (values[k]) ? values[k] : 3.0e38f;
    return std::max (ref, 1e-12f);
}

} // namespace quorvalen
