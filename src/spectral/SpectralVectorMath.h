#pragma once
// Natural log and exp of two doubles at a time (SSE2), and table-driven logs of
// floats and the 0.78 gamma, for the brightness laws of the images and
// spectrograms: errors of 1e-8 or less, where those laws need a few parts in 1e7,
// at a fraction of the cost of a library call per cell.
#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quorvalen
{

// ln x for positive normal x (what the images take the log of is at least 1e-12).
inline __m128d logPd (__m128d x)
{
    const __m128i bits = _mm_castpd_si128 (x);
    // x = 2^e m with m in [1, 2); m above sqrt 2 is halved (e + 1) so that
    // m - 1 stays small on both sides.
    const __m128i mantissaMask = _mm_set1_epi64x (0x000fffffffffffffLL);
    const __m128d m1 =
        _mm_castsi128_pd (_mm_or_si128 (_mm_and_si128 (bits, mantissaMask), _mm_set1_epi64x (0x3ff0000000000000LL)));
    const __m128d big = _mm_cmpgt_pd (m1, _mm_set1_pd (1.4142135623730951));
    const __m128d m = _mm_or_pd (_mm_and_pd (big, _mm_mul_pd (m1, _mm_set1_pd (0.5))), _mm_andnot_pd (big, m1));
    // The exponents, as doubles: the high words hold them.
    const __m128i high = _mm_srli_epi64 (bits, 52);
    const __m128i e32 = _mm_shuffle_epi32 (high, _MM_SHUFFLE (3, 1, 2, 0));
    __m128d e = _mm_sub_pd (_mm_cvtepi32_pd (e32), _mm_set1_pd (1023.0));
    e = _mm_add_pd (e, _mm_and_pd (big, _mm_set1_pd (1.0)));
    // ln m = 2 atanh s, s = (m - 1) / (m + 1), |s| <= 0.1716.
    const __m128d one = _mm_set1_pd (1.0);
    const __m128d s = _mm_div_pd (_mm_sub_pd (m, one), _mm_add_pd (m, one));
    const __m128d s2 = _mm_mul_pd (s, s);
    __m128d p = _mm_set1_pd (1.0 / 17.0);
    for (const double c : { 1.0 / 15.0, 1.0 / 13.0, 1.0 / 11.0, 1.0 / 9.0, 1.0 / 7.0, 1.0 / 5.0, 1.0 / 3.0, 1.0 })
        p = _mm_add_pd (_mm_mul_pd (p, s2), _mm_set1_pd (c));
    const __m128d lnM = _mm_mul_pd (_mm_mul_pd (_mm_set1_pd (2.0), s), p);
    // ln 2 in two parts, the first exact in a product with an exponent.
    const __m128d hi = _mm_mul_pd (e, _mm_set1_pd (6.93147180369123816490e-01));
    const __m128d lo = _mm_mul_pd (e, _mm_set1_pd (1.90821492927058770002e-10));
    return _mm_add_pd (hi, _mm_add_pd (lo, lnM));
}

// e^x for x within +-700.
inline __m128d expPd (__m128d x)
{
    const __m128d kf = _mm_cvtepi32_pd (_mm_cvtpd_epi32 (_mm_mul_pd (x, _mm_set1_pd (1.4426950408889634))));
    const __m128d r = _mm_sub_pd (_mm_sub_pd (x, _mm_mul_pd (kf, _mm_set1_pd (6.93147180369123816490e-01))),
                                  _mm_mul_pd (kf, _mm_set1_pd (1.90821492927058770002e-10)));
    // e^r, |r| <= 0.35: the series to r^13 / 13!.
    __m128d p = _mm_set1_pd (1.0 / 6227020800.0);
    for (const double c : { 1.0 / 479001600.0, 1.0 / 39916800.0, 1.0 / 3628800.0, 1.0 / 362880.0, 1.0 / 40320.0,
                            1.0 / 5040.0, 1.0 / 720.0, 1.0 / 120.0, 1.0 / 24.0, 1.0 / 6.0, 0.5, 1.0, 1.0 })
        p = _mm_add_pd (_mm_mul_pd (p, r), _mm_set1_pd (c));
    // 2^k from its exponent bits.
    const __m128i k = _mm_cvtpd_epi32 (kf);
    const __m128i k64 = _mm_unpacklo_epi32 (k, _mm_srai_epi32 (k, 31));
    const __m128d scale = _mm_castsi128_pd (_mm_slli_epi64 (_mm_add_epi64 (k64, _mm_set1_epi64x (1023)), 52));
    return _mm_mul_pd (p, scale);
}

// ln v for positive floats: the exponent, and ln of the mantissa interpolated
// in a table of 4096 steps (within 8e-9); +inf for +inf.
class FloatLog
{
public:
    static const FloatLog& table()
    {
        static const FloatLog instance;
        return instance;
    }
    double operator() (float v) const
    {
        if (! (v <= FLT_MAX))
            return HUGE_VAL;
        std::uint32_t bits;
        std::memcpy (&bits, &v, sizeof bits);
        const int exponent = (int) (bits >> 23) - 127;
        const std::uint32_t mantissa = bits & 0x7fffff;
        const std::uint32_t i = mantissa >> 11;
        const double frac = (double) (mantissa & 0x7ff) * (1.0 / 2048.0);
        const double lo = ln[i];
        return exponent * 0.69314718055994531 + lo + (ln[i + 1] - lo) * frac;
    }

private:
    FloatLog()
    {
        for (std::size_t i = 0; i < ln.size(); ++i)
            ln[i] = std::log1p ((double) i / 4096.0);
    }
    std::array<double, 4097> ln;
};

// q^0.78 for q in [1/96, 1]: 16384 linear steps (within 2e-8).
class Gamma078
{
public:
    static constexpr double low = 1.0 / 96.0;
    static const Gamma078& table()
    {
        static const Gamma078 instance;
        return instance;
    }
    double operator() (double q) const
    {
        const double x = (q - low) * (steps / (1.0 - low));
        const auto i = (std::size_t) std::clamp (x, 0.0, steps - 1.0);
        const double lo = value[i];
        return lo + (value[i + 1] - lo) * (x - (double) i);
    }

private:
    static constexpr double steps = 16384.0;
    Gamma078()
    {
        for (std::size_t i = 0; i < value.size(); ++i)
            value[i] = std::pow (low + (1.0 - low) * (double) i / steps, 0.78);
    }
    std::array<double, 16386> value;
};

} // namespace quorvalen
