#pragma once
// Magnitude of a float complex value as the C library's hypotf gives it (the
// square root of the sum of squares taken in double, rounded once to float),
// inlined and without its call: the morphs and images take millions of them.
// Non-finite parts go to hypotf itself, so infinities and NaNs read as before.
#include <cfloat>
#include <cmath>
#include <complex>

namespace quorvalen
{

// Squared magnitude in double: exact for each square, one rounding for the sum.
// Comparing these orders values as their magnitudes do.
inline double squaredMagnitude (float re, float im)
{
    return (double) re * re + (double) im * im;
}

inline float magnitudeOf (float re, float im)
{
    const double d = squaredMagnitude (re, im);
    return d <= DBL_MAX ? (float) std::sqrt (d) : std::hypot (re, im);
}

inline float magnitudeOf (std::complex<float> z)
{
    return magnitudeOf (z.real(), z.imag());
}

} // namespace quorvalen
