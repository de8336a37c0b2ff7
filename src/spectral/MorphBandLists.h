#pragma once
// Per-band lookups into one channel's constant-Q coefficients over [0, len), as a
// morph reads them: a band's coefficients interpolated in time, bands interpolated
// between neighbours, and the strongest band near a position.
//
// A band's coefficients sit at evenly spaced times, so a lookup is index
// arithmetic on the store rather than a search of a copied list. The store must
// outlive the lists and must not change while they are read.
#include "dsp/cqt/cqt.h"

#include <complex>
#include <cstdint>

namespace quorvalen::spectral
{

class MorphBandLists
{
public:
    // Bands [0, bandCount) of `store`, times [0, length).
    MorphBandLists (const cqt::CoefStore& store, int bandCount, std::int64_t length);

    int bandCount() const noexcept { return bands; }

    // Band b at time t: the first or last coefficient beyond the ends, else linear
    // interpolation between the two around t; 0 for a band without coefficients.
    std::complex<float> sampleBand (int band, std::int64_t t) const;
    // Between bands: x clamped to [0, bandCount - 1], linear between floor(x) and the next.
    std::complex<float> sampleBands (float x, std::int64_t t) const;
    // The band within 3 of round(x) (clamped) whose magnitude at t is largest, the
    // first on a tie.
    float strongestBand (float x, std::int64_t t) const;

private:
    const cqt::CoefStore& store;
    int bands;
    std::int64_t length;
};

} // namespace quorvalen::spectral
