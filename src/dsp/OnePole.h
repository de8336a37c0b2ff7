#pragma once
// One-pole smoothing: the coefficient forms in use and the filter state.
#include <algorithm>
#include <cmath>

namespace quorvalen::dsp
{

inline constexpr double onePolePi = 3.141592653589793238;

// 1 - exp(-2 pi f / rate) in double, for a frequency the caller has already limited.
inline float onePoleCoefficientAt (double frequency, double rate) noexcept
{
    return (float) (1.0 - std::exp (-2.0 * onePolePi * frequency / rate));
}

// The same with the frequency capped at 0.45 rate (no lower limit: low corners
// stay exact).
inline float onePoleCoefficientBelowNyquist (double frequency, double rate) noexcept
{
    return onePoleCoefficientAt (std::min (frequency, 0.45 * rate), rate);
}

// The rack's usual form, in float: f held within [5, 0.45 rate] (NaN gives 5); an
// unusable rate gives 1 (the filter follows its input).
inline float onePoleCoefficient (float frequency, double rate) noexcept
{
    const float r = (float) rate;
    if (! (r > 0.0f) || ! std::isfinite (r))
        return 1.0f;
    float f = frequency >= 5.0f ? frequency : 5.0f; // NaN too
    f = std::min (f, 0.45f * r);
    return 1.0f - std::exp (-2.0f * (float) onePolePi * f / r);
}

// 1 - exp(-1 / (rate seconds)): reaches 1 - 1/e of a step after `seconds`.
inline float onePoleTimeCoefficient (double seconds, double rate) noexcept
{
    return (float) (1.0 - std::exp (-1.0 / (rate * seconds)));
}

// A coefficient kept with the parameter it was computed from: computed again only
// when the parameter changes (or after invalidate, for a new rate).
class CoefficientCache
{
public:
    template <typename Compute>
    float get (float parameter, Compute&& compute) noexcept
    {
        if (! (parameter == key) || ! valid)
        {
            key = parameter;
            value = compute (parameter);
            valid = true;
        }
        return value;
    }

    void invalidate() noexcept { valid = false; }

private:
    float key = 0.0f, value = 0.0f;
    bool valid = false;
};

// y += (x - y) c.
struct OnePole
{
    float y = 0.0f;

    float lowPass (float x, float coefficient) noexcept { return y += (x - y) * coefficient; }
    void reset() noexcept { y = 0.0f; }
};

} // namespace quorvalen::dsp
