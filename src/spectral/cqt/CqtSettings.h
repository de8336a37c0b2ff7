#pragma once
// The constant-Q settings the spectral editor, its views and the offline renders
// share, and the clamps the renders apply to host values.
#include "dsp/cqt/cqt.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

// 48 bands per octave from 20 Hz, overlap and reference as given (0.7 and 440 Hz
// for the editor and its images), maximum error 1e-5.
inline cqt::CqtParams spectralCqtParams (double sampleRate, double overlap = 0.7, double refHz = 440.0,
                                         bool resynthesis = true)
{
    cqt::CqtParams params;
    params.scale = { 48, 20.0 / sampleRate, refHz / sampleRate };
    params.overlap = overlap;
    params.maxError = 1e-5;
    params.resynthesis = resynthesis;
    return params;
}

namespace spectral
{

inline constexpr double cqtOverlapShared = 0.7;
inline constexpr double cqtOverlapFine = 0.85;

// clamp(v, lo, hi) with an infinity taking the bound on its side and a NaN the low
// bound, so no non-finite host value reaches a conversion or a mix.
inline float clampToRange (float v, float lo, float hi)
{
    return std::isnan (v) ? lo : std::clamp (v, lo, hi);
}

} // namespace spectral
} // namespace quorvalen
