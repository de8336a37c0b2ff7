#pragma once
// Per-band lookups into one channel's constant-Q coefficients over [0, len), as a
// morph reads them: a band's coefficients interpolated in time, bands interpolated
// between neighbours, and the strongest band near a position.
//
// A band's coefficients sit at evenly spaced times, so a lookup is index
// arithmetic on a table of the bands made once (where each band's coefficients
// start and end within [0, len)), not a search of a copied list. The store must
// outlive the lists and must not change while they are read.
#include "dsp/cqt/cqt.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

namespace quorvalen::spectral
{

class MorphBandLists
{
public:
    // Where one band's coefficients over [0, length) lie.
    struct Band
    {
        const std::complex<float>* coefs = nullptr; // the coefficient at index begin
        std::int64_t begin = 0, count = 0;          // indices whose times lie in [0, length)
        std::int64_t firstTime = 0, lastTime = 0;
        int shift = 0;
        float inverseStep = 1.0f;

        // What sample (t) interpolates, for a caller that interpolates many
        // lookups at once: before + (after - before) * frac, or before itself
        // when frac is negative (beyond the ends, and 0 without coefficients).
        struct Tap
        {
            std::complex<float> before, after;
            float frac;
        };
        Tap tap (std::int64_t t) const
        {
            if (count < 1)
                return { {}, {}, -1.0f };
            if (t <= firstTime)
                return { coefs[0], {}, -1.0f };
            if (t >= lastTime)
                return { coefs[count - 1], {}, -1.0f };
            // The first index at or after t, and the one before it; the spacing
            // is a power of two, so dividing by it is exact as a product with
            // its inverse.
            const std::int64_t e = -((-t) >> shift);
            const std::int64_t p = e - 1;
            return { coefs[p - begin], coefs[e - begin], (float) (t - (p << shift)) * inverseStep };
        }
        // The first or last coefficient beyond the ends, else linear
        // interpolation between the two around t; 0 without coefficients.
        std::complex<float> sample (std::int64_t t) const
        {
            const auto z = tap (t);
            return z.frac < 0.0f ? z.before : z.before + (z.after - z.before) * z.frac;
        }
    };

    // Bands [0, bandCount) of `store`, times [0, length).
    MorphBandLists (const cqt::CoefStore& store, int bandCount, std::int64_t length);

    int bandCount() const noexcept { return bands; }
    const Band& band (int b) const { return table[(std::size_t) b]; }

    // Band b at time t.
    std::complex<float> sampleBand (int b, std::int64_t t) const { return table[(std::size_t) b].sample (t); }
    // Between bands: x clamped to [0, bandCount - 1], linear between floor(x) and the next.
    std::complex<float> sampleBands (float x, std::int64_t t) const
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
    // The band within 3 of round(x) (clamped) whose magnitude at t is largest, the
    // first on a tie.
    float strongestBand (float x, std::int64_t t) const;

private:
    std::vector<Band> table;
    int bands;
};

} // namespace quorvalen::spectral
