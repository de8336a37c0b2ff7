#include "spectral/MorphBandLists.h"

#include <algorithm>
#include <cmath>

namespace quorvalen::spectral
{
namespace
{
// First n with n * 2^shift >= t.
std::int64_t firstAtOrAfter (std::int64_t t, int shift)
{
    return -((-t) >> shift);
}
} // namespace

MorphBandLists::MorphBandLists (const cqt::CoefStore& s, int bandCount, std::int64_t len)
        : store (s), bands (std::clamp (bandCount, 0, s.bands())), length (len)
{}

std::complex<float> MorphBandLists::sampleBand (int band, std::int64_t t) const
{
    const auto coefs = store.band (band);
    const int shift = store.timeShift (band);
    const std::int64_t first = store.firstIndex (band);
    // Indices whose times lie in [0, length).
    const std::int64_t begin = std::max<std::int64_t> (first, 0);
    const std::int64_t end =
        std::min<std::int64_t> (first + (std::int64_t) coefs.size(), firstAtOrAfter (length, shift));
    if (end <= begin)
        return {};
    const auto at = [&] (std::int64_t n) { return coefs[(std::size_t) (n - first)]; };
    const auto timeOf = [&] (std::int64_t n) { return n << shift; };
    if (t <= timeOf (begin))
        return at (begin);
    if (t >= timeOf (end - 1))
        return at (end - 1);
    const std::int64_t e = firstAtOrAfter (t, shift);
    const std::int64_t p = e - 1;
    const float frac = (float) (t - timeOf (p)) / (float) std::max<std::int64_t> (timeOf (e) - timeOf (p), 1);
    return at (p) + (at (e) - at (p)) * frac;
}

std::complex<float> MorphBandLists::sampleBands (float x, std::int64_t t) const
{
    if (bands < 1)
        return {};
    x = std::clamp (x, 0.0f, (float) (bands - 1));
    const int i0 = (int) std::floor (x);
    const int i1 = std::min (i0 + 1, bands - 1);
    const auto z0 = sampleBand (i0, t);
    const auto z1 = sampleBand (i1, t);
    return z0 + (z1 - z0) * (x - (float) i0);
}

float MorphBandLists::strongestBand (float x, std::int64_t t) const
{
    if (bands < 1)
        return 0.0f;
    const int centre = std::clamp ((int) std::lround (x), 0, bands - 1);
    int best = std::clamp (centre - 3, 0, bands - 1);
    float bestMagnitude = -1.0f;
    for (int k = centre - 3; k <= centre + 3; ++k)
    {
        const int band = std::clamp (k, 0, bands - 1);
        const float magnitude = std::abs (sampleBands ((float) band, t));
        if (magnitude > bestMagnitude)
        {
            bestMagnitude = magnitude;
            best = band;
        }
    }
    return (float) best;
}

} // namespace quorvalen::spectral
