#pragma once
// The Foundry's resonant high- and low-pass sections: one design for the layer
// filters, the automation kernel and the live region filters.
#include "dsp/Biquad.h"

namespace quorvalen::foundry
{

// Q = 0.95 (12/0.95)^clamp(percent/100, 0, 1): 0.95 at 0 %, 12 at 100 %. NaN is 0 %,
// an infinity the nearer end.
double auditionQFromPercent (float percent) noexcept;

// The cutoff a filter at `rate` really uses: below 20 Hz is 20, above
// min(max(0.495 rate, 20), 20000) is that cap (an infinity the nearer end). NaN
// takes the filter's open end (20 Hz for a high-pass, the cap for a low-pass).
double foundryCutoff (bool highPass, double cutoffHz, double rate) noexcept;

// RBJ high- or low-pass with Q from auditionQFromPercent, a0 divided out.
dsp::BiquadCoefficients makeFoundryFilterBiquad (bool highPass, double rate, double cutoffHz,
                                                 float resonancePercent) noexcept;

// The live region filters share the layer filters' design.
inline dsp::BiquadCoefficients makeRegionFilterBiquad (bool highPass, double cutoffHz, float resonancePercent,
                                                       double rate) noexcept
{
    return makeFoundryFilterBiquad (highPass, rate, cutoffHz, resonancePercent);
}

} // namespace quorvalen::foundry
