#include "spectral/SpectralBrightness.h"

#include "spectral/SpectralVectorMath.h"

#include <array>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quorvalen
{
namespace
{
constexpr double twentyOverLn10 = 8.6858896380650365; // 20 / ln 10
// Within this of 0 or 1 the single-precision law may round q to either side of
// the clamp; q in (floorBand, 1] is taken in double.
constexpr double clampMargin = 1e-5;
constexpr double floorBand = Gamma078::low; // 1 dB above the floor

// The fast path's brightness of q, or -1 where the exact law must decide.
float brightnessOf (double q, const Gamma078& gamma)
{
    if (q < -clampMargin)
        return 0.0f;
    if (q > 1.0 + clampMargin)
        return 1.0f;
    if (q > floorBand)
        return unitBrightness ((float) gamma (std::min (q, 1.0)));
    return -1.0f;
}
} // namespace

namespace
{
// The law as a function of the float quotient x = max (G, 1e-12) / ref, between
// 2^-16 (below which q is negative) and 1 (from which it is 1): per octave 1024
// linear steps of the mantissa (within 7e-8 of the law in double).
class QuotientBrightness
{
public:
    static const QuotientBrightness& table()
    {
        static const QuotientBrightness instance;
        return instance;
    }
    // x in [2^-16, 1).
    double operator() (float x) const
    {
        std::uint32_t bits;
        std::memcpy (&bits, &x, sizeof bits);
        const std::uint32_t offset = bits - lowBits;
        const std::uint32_t i = offset >> 13;
        const double frac = (double) (offset & 0x1fff) * (1.0 / 8192.0);
        const double lo = value[i];
        return lo + (value[i + 1] - lo) * frac;
    }
    static constexpr std::uint32_t lowBits = 0x37800000; // 2^-16

private:
    QuotientBrightness()
    {
        for (std::size_t i = 0; i < value.size(); ++i)
        {
            const std::uint32_t bits = lowBits + ((std::uint32_t) i << 13);
            float x;
            std::memcpy (&x, &bits, sizeof x);
            const double q = std::clamp ((20.0 * std::log10 ((double) x) + 96.0) / 96.0, 0.0, 1.0);
            value[i] = std::pow (q, 0.78);
        }
    }
    std::array<double, 16 * 1024 + 1> value;
};

// Where the fast law holds: q from 0.011 (x above 1.79e-5) up; below 1.58e-5 q
// is surely negative; in between the law itself decides.
constexpr float darkBelow = 1.58e-5f, fastFrom = 1.79e-5f;
} // namespace

void cqtBrightnessRun (const float* magnitude, float ref, float* out, std::size_t n)
{
    const auto& law = QuotientBrightness::table();
    for (std::size_t i = 0; i < n; ++i)
    {
        // As the law forms it: max (G, 1e-12) / ref in float.
        const float x = std::max (magnitude[i], 1e-12f) / ref;
        if (x < darkBelow)
            out[i] = 0.0f;
        else if (x >= 1.0f && x <= FLT_MAX)
            out[i] = 1.0f;
        else if (x > fastFrom && x < 1.0f)
            out[i] = unitBrightness ((float) law (x));
        else // near the floor, NaN and infinity
            out[i] = cqtBrightness (magnitude[i], ref);
    }
}

void cqtBrightnessFromLogRun (const double* lnMagnitude, float ref, float* out, std::size_t n)
{
    const auto& gamma = Gamma078::table();
    const double lnRef = std::log ((double) ref);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = brightnessOf ((twentyOverLn10 * (lnMagnitude[i] - lnRef) + 96.0) / 96.0, gamma);
}

namespace
{
// The k-th smallest of `values` (all above 1e-12): positive floats order as
// their bit patterns do, so select by the high bits first, then among the
// values that share the selected ones.
float select (std::span<const float> values, std::size_t k)
{
    constexpr int lowBits = 15;
    std::vector<std::uint32_t> counts ((std::size_t) 1 << (32 - lowBits), 0);
    const auto high = [] (float v) {
        std::uint32_t bits;
        std::memcpy (&bits, &v, sizeof bits);
        return bits >> lowBits;
    };
    for (const float v : values)
        ++counts[high (v)];
    std::size_t below = 0, bucket = 0;
    while (below + counts[bucket] <= k)
        below += counts[bucket++];
    std::vector<float> inBucket;
    inBucket.reserve (counts[bucket]);
    for (const float v : values)
        if (high (v) == bucket)
            inBucket.push_back (v);
    const auto at = inBucket.begin() + (std::ptrdiff_t) (k - below);
    std::nth_element (inBucket.begin(), at, inBucket.end());
    return *at;
}

std::size_t percentileRank (std::size_t count)
{
    return std::min ((std::size_t) std::floor ((double) (count - 1) * 0.997), count - 1);
}

float finiteReference (float v)
{
    // An infinite magnitude would leave every other cell dark; keep the scale finite.
    return std::max (std::isfinite (v) ? v : 3.0e38f, 1e-12f);
}
} // namespace

float percentileReference (std::span<const float> values)
{
    std::vector<float> above;
    above.reserve (values.size());
    for (const float v : values)
        if (v > 1e-12f)
            above.push_back (v);
    if (above.empty())
        return 1.0f;
    return finiteReference (select (above, percentileRank (above.size())));
}

float percentileReference (std::span<const float> approx, float tolerance,
                           const std::function<float (std::size_t)>& exact)
{
    // Which values lie above 1e-12: the approximations decide, except those
    // within three tolerances of it.
    const float margin = 3.0f * tolerance;
    std::vector<float> above;
    std::vector<std::size_t> index;
    above.reserve (approx.size());
    index.reserve (approx.size());
    for (std::size_t i = 0; i < approx.size(); ++i)
    {
        float v = approx[i];
        if (v >= 1e-12f * (1.0f - margin) && v <= 1e-12f * (1.0f + margin))
            v = exact (i);
        if (v > 1e-12f)
        {
            above.push_back (v);
            index.push_back (i);
        }
    }
    if (above.empty())
        return 1.0f;
    const auto k = percentileRank (above.size());
    const float guess = select (above, k);
    if (! std::isfinite (guess))
        return finiteReference (guess);
    // Every exact value lies within a tolerance of its approximation, so the
    // exact k-th lies within one of the guess: values more than three away fall
    // on the same side of it as their approximations; those nearer are compared
    // exactly.
    const float lower = guess * (1.0f - margin), upper = guess * (1.0f + margin);
    std::size_t below = 0;
    std::vector<float> near;
    for (std::size_t j = 0; j < above.size(); ++j)
    {
        if (above[j] < lower)
            ++below;
        else if (above[j] <= upper)
            near.push_back (exact (index[j]));
    }
    const auto at = near.begin() + (std::ptrdiff_t) (k - below);
    std::nth_element (near.begin(), at, near.end());
    return finiteReference (*at);
}

} // namespace quorvalen
