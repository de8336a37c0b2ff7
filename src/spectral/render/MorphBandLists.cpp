#include "spectral/render/MorphBandLists.h"

#include "spectral/SpectralMagnitude.h"

#include <array>

namespace quorvalen::spectral
{

MorphBandLists::MorphBandLists (const cqt::CoefStore& store, int bandCount, std::int64_t length)
        : bands (std::clamp (bandCount, 0, store.bands()))
{
    table.resize ((std::size_t) bands);
    for (int b = 0; b < bands; ++b)
    {
        const auto coefs = store.band (b);
        const int shift = store.timeShift (b);
        const std::int64_t first = store.firstIndex (b);
        // Indices whose times lie in [0, length).
        const std::int64_t begin = std::max<std::int64_t> (first, 0);
        const std::int64_t end = std::min<std::int64_t> (first + (std::int64_t) coefs.size(), -((-length) >> shift));
        Band& v = table[(std::size_t) b];
        v.shift = shift;
        v.inverseStep = std::ldexp (1.0f, -shift);
        if (end <= begin)
            continue;
        v.coefs = coefs.data() + (begin - first);
        v.begin = begin;
        v.count = end - begin;
        v.firstTime = begin << shift;
        v.lastTime = (end - 1) << shift;
    }
}

float MorphBandLists::strongestBand (float x, std::int64_t t) const
{
    if (bands < 1)
        return 0.0f;
    const int centre = std::clamp ((int) std::lround (x), 0, bands - 1);
    // Each candidate k reads bands k and k + 1 (clamped); read each band once.
    const int low = std::clamp (centre - 3, 0, bands - 1);
    std::array<std::complex<float>, 8> at;
    for (int i = 0; i < 8; ++i)
        at[(std::size_t) i] = sampleBand (std::min (low + i, bands - 1), t);
    int best = low;
    float bestMagnitude = -1.0f;
    for (int k = centre - 3; k <= centre + 3; ++k)
    {
        const int band = std::clamp (k, 0, bands - 1);
        const int i1 = std::min (band + 1, bands - 1);
        const auto z0 = at[(std::size_t) (band - low)], z1 = at[(std::size_t) (i1 - low)];
        // As sampleBands (band, t) reads it: z0 + (z1 - z0) * 0.
        const float magnitude = magnitudeOf (z0 + (z1 - z0) * 0.0f);
        if (magnitude > bestMagnitude)
        {
            bestMagnitude = magnitude;
            best = band;
        }
    }
    return (float) best;
}

} // namespace quorvalen::spectral
