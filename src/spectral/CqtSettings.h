#pragma once
// The constant-Q settings the offline renders share: 48 bands per octave from
// 20 Hz, reference 440 Hz, maximum error 1e-5; each caller picks its overlap.
#include "dsp/cqt/cqt.h"

#include <algorithm>
#include <cmath>

namespace quorvalen::spectral
{

inline constexpr double cqtOverlapShared = 0.7;
inline constexpr double cqtOverlapFine = 0.85;

inline cqt::CqtParams cqtParamsFor (double sampleRate, double overlap)
{
    cqt::CqtParams p;
    p.scale = { 48, 20.0 / sampleRate, 440.0 / sampleRate };
    p.overlap = overlap;
    p.maxError = 1e-5;
    p.resynthesis = true;
    return p;
}

// clamp(v, lo, hi) for finite v; a NaN or infinity takes the low bound, so no
// non-finite host value reaches a conversion or a mix.
inline float clampOrLow (float v, float lo, float hi)
{
    return std::isfinite (v) ? std::clamp (v, lo, hi) : lo;
}

// clamp(v, lo, hi) with an infinity taking the bound on its side and a NaN the low
// bound.
inline float clampToRange (float v, float lo, float hi)
{
    return std::isnan (v) ? lo : std::clamp (v, lo, hi);
}

} // namespace quorvalen::spectral
