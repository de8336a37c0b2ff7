#include "spectral/render/CqtMorphLaw.h"

#include "spectral/render/MorphBandLists.h"
#include "spectral/SpectralMagnitude.h"

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <vector>

namespace quorvalen::spectral
{
namespace
{
using Complex = std::complex<float>;

constexpr std::array<float, 4> harmonicSigma { 4.8f, 4.1f, 3.6f, 3.2f };
constexpr float confidenceFloor = 0.1f;
constexpr float lockCeiling = 0.88f;
constexpr float weightFloor = 0.015f;
// A harmonic's weight is expf of its exponent. At or below this one every weight
// is under the floor (expf(-4.25) = 0.0143), so no harmonic can lock.
constexpr float exponentFloor = -4.25f;
// An exponent this far below the largest gives a weight below the largest's by a
// factor 1 - 1e-4, far beyond rounding: only the nearer ones can win.
constexpr float exponentMargin = 1e-4f;

float smoothStep (float u)
{
    u = std::clamp (u, 0.0f, 1.0f);
    return (3.0f - 2.0f * u) * u * u;
}

// Band position of frequency f: 48 bands per octave from the 440 Hz band.
float bandPosition (int referenceBand, float f)
{
    return (float) referenceBand - 48.0f * std::log2 (f / 440.0f);
}

struct Law
{
    const MorphContext& c;
    MorphBandLists listsA, listsB;
    bool bandSteps = false;
    bool mangle = false;
    float lockAmount = 0.0f; // clamp(4 a (1 - a), 0, 1)
};

// What every band shares at one time.
struct TimePoint
{
    std::int64_t t = 0;
    float m = 0.0f;      // blend position
    float spread = 0.0f; // clamp(4 m (1 - m), 0, 1)
    bool lock = false;   // both sounds confidently pitched
    float confidence = 0.0f, fA = 0.0f, fB = 0.0f;
    std::array<bool, 4> inRange {};
    std::array<float, 4> position {}; // of the harmonics of fA
    std::array<float, 4> peakA {}, peakB {};
    std::array<bool, 4> peaked {};
    float nearLow = 0.0f, nearHigh = -1.0f; // bands beyond hold no harmonic within 3 sigma

    TimePoint (const Law& law, std::int64_t time) : t (time)
    {
        const auto& c = law.c;
        m = std::clamp (c.amount + c.swing * std::sin ((float) t * 6.2831855f / (float) c.period), 0.0f, 1.0f);
        spread = std::clamp (4.0f * m * (1.0f - m), 0.0f, 1.0f);
        if (! law.bandSteps)
            return;
        const auto pa = samplePitchTrack (*c.trackA, t);
        const auto pb = samplePitchTrack (*c.trackB, t);
        lock = pa.f0 > 0.0f && pb.f0 > 0.0f && pa.confidence >= confidenceFloor && pb.confidence >= confidenceFloor;
        if (! lock)
            return;
        fA = pa.f0;
        fB = pb.f0;
        while (fB / fA > 1.4142135f)
            fB *= 0.5f;
        while (fA / fB > 1.4142135f)
            fB *= 2.0f;
        confidence = std::min (pa.confidence, pb.confidence);
        const int bands = law.listsA.bandCount();
        for (int h = 1; h <= 4; ++h)
        {
            const auto i = (std::size_t) h - 1;
            position[i] = bandPosition (c.referenceBand, (float) h * fA);
            inRange[i] = ! (position[i] < -4.0f || position[i] > (float) bands + 3.0f);
        }
        // Harmonic h lies at position[0] - 48 log2 h, and sigma falls with h.
        nearLow = position[3] - 3.0f * harmonicSigma[0] - 1.0f;
        nearHigh = position[0] + 3.0f * harmonicSigma[0] + 1.0f;
    }

    // Whether band b lies within 3 sigma of a harmonic: beyond, every weight is
    // below the lock's floor.
    bool near (int b) const
    {
        if ((float) b < nearLow || (float) b > nearHigh)
            return false;
        for (std::size_t i = 0; i < 4; ++i)
            if (inRange[i] && std::abs ((float) b - position[i]) <= 3.0f * harmonicSigma[i])
                return true;
        return false;
    }

    // The strongest bands near harmonic h of both sounds, found once per time.
    void peaks (const Law& law, int h)
    {
        const auto i = (std::size_t) h - 1;
        if (peaked[i])
            return;
        peakA[i] = law.listsA.strongestBand (bandPosition (law.c.referenceBand, (float) h * fA), t);
        peakB[i] = law.listsB.strongestBand (bandPosition (law.c.referenceBand, (float) h * fB), t);
        peaked[i] = true;
    }
};

// Re-centres the neighbourhood of A's nearest harmonic on the measured peaks of
// both sounds, so that B's matching harmonic (folded to A's octave) lands on A's.
void harmonicLock (const Law& law, TimePoint& p, int b, Complex& A, Complex& B)
{
    std::array<float, 4> exponent {};
    float top = -std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i < 4; ++i)
        if (p.inRange[i])
        {
            const float d = ((float) b - p.position[i]) / harmonicSigma[i];
            exponent[i] = -0.5f * d * d;
            top = std::max (top, exponent[i]);
        }
    if (! (top > exponentFloor))
        return;
    // The harmonic of the largest weight, the first on a tie.
    int best = 0;
    float bestWeight = 0.0f, bestPosition = 0.0f;
    for (std::size_t i = 0; i < 4; ++i)
    {
        if (! p.inRange[i] || ! (exponent[i] >= top - exponentMargin))
            continue;
        const float w = std::exp (exponent[i]);
        if (w > bestWeight)
        {
            best = (int) i + 1;
            bestWeight = w;
            bestPosition = p.position[i];
        }
    }
    if (best == 0 || ! (bestWeight > weightFloor))
        return;

    p.peaks (law, best);
    const auto i = (std::size_t) best - 1;
    const float offset = (float) b - bestPosition;
    const auto vA = law.listsA.sampleBands (offset + p.peakA[i], p.t);
    const auto vB = law.listsB.sampleBands (offset + p.peakB[i], p.t);
    const float g = std::clamp (bestWeight * p.confidence * law.lockAmount * lockCeiling, 0.0f, lockCeiling);
    A += (vA - A) * g;
    B += (vB - B) * g;
}

// Per band: its centre frequency's hold of the lock and share of the smear.
struct BandTerms
{
    float hold = 1.0f, smear = 0.0f;
};

// Four lanes of float32 (SSE), each lane one coefficient, every lane running
// the scalar law's operations in its order: IEEE arithmetic and square roots
// round the same in a lane as alone.
using F4 = __m128;

F4 splat (float v)
{
    return _mm_set1_ps (v);
}
F4 load (const float* p)
{
    return _mm_loadu_ps (p);
}
F4 select (F4 mask, F4 a, F4 b)
{
    return _mm_or_ps (_mm_and_ps (mask, a), _mm_andnot_ps (mask, b));
}

// magnitudeOf, four at a time.
inline __attribute__ ((always_inline)) F4 magnitude4 (F4 re, F4 im)
{
    const __m128d reLo = _mm_cvtps_pd (re), imLo = _mm_cvtps_pd (im);
    const __m128d reHi = _mm_cvtps_pd (_mm_movehl_ps (re, re)), imHi = _mm_cvtps_pd (_mm_movehl_ps (im, im));
    const __m128d lo = _mm_add_pd (_mm_mul_pd (reLo, reLo), _mm_mul_pd (imLo, imLo));
    const __m128d hi = _mm_add_pd (_mm_mul_pd (reHi, reHi), _mm_mul_pd (imHi, imHi));
    F4 out = _mm_movelh_ps (_mm_cvtpd_ps (_mm_sqrt_pd (lo)), _mm_cvtpd_ps (_mm_sqrt_pd (hi)));
    const __m128d limit = _mm_set1_pd (DBL_MAX);
    const int odd = _mm_movemask_pd (_mm_cmpnle_pd (lo, limit)) | (_mm_movemask_pd (_mm_cmpnle_pd (hi, limit)) << 2);
    if (odd != 0)
    {
        alignas (16) float r[4], i[4], m[4];
        _mm_store_ps (r, re);
        _mm_store_ps (i, im);
        _mm_store_ps (m, out);
        for (int l = 0; l < 4; ++l)
            if ((odd >> l) & 1)
                m[l] = std::hypot (r[l], i[l]);
        out = _mm_load_ps (m);
    }
    return out;
}

// One band's part of a tile of times, a lane per time: the coefficients as
// they enter, A after the harmonic lock, B (locked in place) and the mangle's
// smear lookups.
struct Lanes
{
    static constexpr std::size_t size = 256;
    alignas (16) float aRe[size], aIm[size], lRe[size], lIm[size], bRe[size], bIm[size];
    alignas (16) float xA[size], xB[size]; // band positions of the smear's lookups
    // The smear's lookups: per sound, sampleBands at each lane's band position
    // and time.
    struct Lookups
    {
        alignas (16) float re[size], im[size];

        // Lanes [0, count) of sampleBands (x[k], t[k]), x[k] negative for a lane
        // without a lookup. Four neighbouring lanes mostly read the same two
        // bands (or, where the position crosses a band, three) away from the
        // ends; they are then interpolated together, with the same operations
        // as one at a time.
        void set (const MorphBandLists& lists, const float* x, const std::int32_t* t, std::size_t count)
        {
            const int last = lists.bandCount() - 1;
            const F4 top = splat ((float) last);
            std::size_t k = 0;
            for (; k + 4 <= count; k += 4)
            {
                // As sampleBands (x, t) reads x (not negative here, so truncation
                // is the floor).
                const F4 xk = _mm_min_ps (load (x + k), top);
                const __m128i i0 = _mm_cvttps_epi32 (xk);
                alignas (16) std::int32_t band[4];
                _mm_store_si128 (reinterpret_cast<__m128i*> (band), i0);
                const int low = std::min (std::min (band[0], band[1]), std::min (band[2], band[3]));
                const int high = std::max (std::max (band[0], band[1]), std::max (band[2], band[3]));
                const bool looked = _mm_movemask_ps (_mm_cmplt_ps (load (x + k), _mm_setzero_ps())) == 0;
                const __m128i t4 = _mm_loadu_si128 (reinterpret_cast<const __m128i*> (t + k));
                F4 re0, im0, re1, im1, re2 = _mm_setzero_ps(), im2 = _mm_setzero_ps();
                if (looked && high - low <= 1 && inside (lists.band (low), t4, re0, im0)
                    && inside (lists.band (std::min (low + 1, last)), t4, re1, im1)
                    && (high == low || inside (lists.band (std::min (low + 2, last)), t4, re2, im2)))
                {
                    // Lanes at the lower band read it and the next; the others the next two.
                    const F4 atLow = _mm_castsi128_ps (_mm_cmpeq_epi32 (i0, _mm_set1_epi32 (low)));
                    const F4 aRe = select (atLow, re0, re1), aIm = select (atLow, im0, im1);
                    const F4 bRe = select (atLow, re1, re2), bIm = select (atLow, im1, im2);
                    const F4 w = xk - _mm_cvtepi32_ps (i0);
                    _mm_store_ps (re + k, aRe + (bRe - aRe) * w);
                    _mm_store_ps (im + k, aIm + (bIm - aIm) * w);
                    continue;
                }
                for (std::size_t l = 0; l < 4; ++l)
                    one (lists, x[k + l], t[k + l], k + l);
            }
            for (; k < count; ++k)
                one (lists, x[k], t[k], k);
        }
        void one (const MorphBandLists& lists, float x, std::int64_t t, std::size_t k)
        {
            const auto z = x < 0.0f ? std::complex<float> {} : lists.sampleBands (x, t);
            re[k] = z.real();
            im[k] = z.imag();
        }
        // Band::sample at the four times t4, when every one lies strictly inside
        // the band's times; false otherwise.
        static bool inside (const MorphBandLists::Band& v, __m128i t4, F4& re, F4& im)
        {
            if (v.count < 1)
                return false;
            const __m128i outside = _mm_or_si128 (_mm_cmpgt_epi32 (_mm_set1_epi32 ((std::int32_t) v.firstTime + 1), t4),
                                                  _mm_cmpgt_epi32 (t4, _mm_set1_epi32 ((std::int32_t) v.lastTime - 1)));
            if (_mm_movemask_epi8 (outside) != 0)
                return false;
            // e = ceil (t / step) for t > 0, p = e - 1, and the fraction of the step.
            const __m128i shift = _mm_cvtsi32_si128 (v.shift);
            const __m128i e = _mm_srl_epi32 (_mm_add_epi32 (t4, _mm_set1_epi32 ((1 << v.shift) - 1)), shift);
            const __m128i p = _mm_sub_epi32 (e, _mm_set1_epi32 (1));
            const F4 frac = _mm_cvtepi32_ps (_mm_sub_epi32 (t4, _mm_sll_epi32 (p, shift))) * splat (v.inverseStep);
            alignas (16) std::int32_t at[4];
            _mm_store_si128 (reinterpret_cast<__m128i*> (at),
                             _mm_sub_epi32 (p, _mm_set1_epi32 ((std::int32_t) v.begin)));
            // Each lane's two coefficients (before, after) lie side by side.
            F4 r0 = load (reinterpret_cast<const float*> (v.coefs + at[0]));
            F4 r1 = load (reinterpret_cast<const float*> (v.coefs + at[1]));
            F4 r2 = load (reinterpret_cast<const float*> (v.coefs + at[2]));
            F4 r3 = load (reinterpret_cast<const float*> (v.coefs + at[3]));
            _MM_TRANSPOSE4_PS (r0, r1, r2, r3); // before re, before im, after re, after im
            re = r0 + (r2 - r0) * frac;
            im = r1 + (r3 - r1) * frac;
            return true;
        }
    } smearA, smearB;
};

// The magnitudes of the lookups at lanes k..k+3.
F4 lookupMagnitude4 (const Lanes::Lookups& l, std::size_t k)
{
    return magnitude4 (load (l.re + k), load (l.im + k));
}

// What the vector pass reads per time, for a tile of times (padded so that the
// last four lanes may be read whole).
struct TileTimes
{
    static constexpr std::size_t size = 4096;
    alignas (16) float m[size + 4], spread[size + 4];
    alignas (16) std::int32_t t[size + 4]; // below 2^31: lengths are ints
};

// Splits four complex values into their real and imaginary parts, and back.
void split4 (const Complex* z, float* re, float* im)
{
    const F4 lo = load (reinterpret_cast<const float*> (z)), hi = load (reinterpret_cast<const float*> (z + 2));
    _mm_store_ps (re, _mm_shuffle_ps (lo, hi, _MM_SHUFFLE (2, 0, 2, 0)));
    _mm_store_ps (im, _mm_shuffle_ps (lo, hi, _MM_SHUFFLE (3, 1, 3, 1)));
}
void join4 (F4 re, F4 im, Complex* z)
{
    _mm_storeu_ps (reinterpret_cast<float*> (z), _mm_unpacklo_ps (re, im));
    _mm_storeu_ps (reinterpret_cast<float*> (z + 2), _mm_unpackhi_ps (re, im));
}

// The law for lanes [0, count) of band b: a (rewritten in place) and bIn hold
// the coefficients, points, m, spread and t what each time shares. `mayLock` is
// false when no time of the tile has a harmonic within reach of the band.
void morphLanes (const Law& law, Lanes& v, TimePoint* points, const float* m, const float* spread,
                 const std::int32_t* t, int b, const BandTerms& terms, bool mayLock, std::size_t count, Complex* a,
                 const Complex* bIn)
{
    const bool mangleBands = law.mangle && law.bandSteps;
    const std::size_t whole = count & ~(std::size_t) 3;
    for (std::size_t k = 0; k < whole; k += 4)
    {
        split4 (a + k, v.aRe + k, v.aIm + k);
        split4 (bIn + k, v.bRe + k, v.bIm + k);
    }
    for (std::size_t k = whole; k < count; ++k)
    {
        v.aRe[k] = a[k].real(), v.aIm[k] = a[k].imag();
        v.bRe[k] = bIn[k].real(), v.bIm[k] = bIn[k].imag();
    }
    // The harmonic lock, one coefficient at a time where a harmonic is near.
    const float* lockedRe = v.aRe;
    const float* lockedIm = v.aIm;
    if (mayLock)
    {
        for (std::size_t k = 0; k < count; ++k)
        {
            TimePoint& p = points[k];
            Complex A { v.aRe[k], v.aIm[k] };
            if (p.lock && p.near (b))
            {
                Complex B { v.bRe[k], v.bIm[k] };
                harmonicLock (law, p, b, A, B);
                v.bRe[k] = B.real();
                v.bIm[k] = B.imag();
            }
            v.lRe[k] = A.real();
            v.lIm[k] = A.imag();
        }
        lockedRe = v.lRe;
        lockedIm = v.lIm;
    }
    const F4 one = splat (1.0f), zero = splat (0.0f), half = splat (0.5f), tiny = splat (1e-12f);
    if (mangleBands)
    {
        // Where the smear reads: b + d in A and b - d in B, d = 10 smear (0 is
        // where sampleBands clamps; -1 marks a lane without lookups).
        const F4 band = splat ((float) b), none = splat (-1.0f);
        for (std::size_t k = 0; k < count; k += 4)
        {
            const F4 smear = splat (terms.smear) * load (spread + k);
            const F4 smeared = _mm_cmpgt_ps (smear, splat (0.001f));
            const F4 d = splat (10.0f) * smear;
            _mm_store_ps (v.xA + k, select (smeared, _mm_max_ps (band + d, zero), none));
            _mm_store_ps (v.xB + k, select (smeared, _mm_max_ps (band - d, zero), none));
        }
        v.smearA.set (law.listsA, v.xA, t, count);
        v.smearB.set (law.listsB, v.xB, t, count);
    }
    // Lanes past count hold what an earlier pass left there; they are not written out.
    for (std::size_t k = 0; k < count; k += 4)
    {
        const F4 mk = load (m + k);
        F4 aRe = load (lockedRe + k), aIm = load (lockedIm + k);
        const F4 bRe = load (v.bRe + k), bIm = load (v.bIm + k);
        F4 mix = mk;
        if (mangleBands)
        {
            // The lock fades out towards the low bands: A = A0 + (A - A0) hold.
            const F4 hold = splat (terms.hold);
            const F4 a0Re = load (v.aRe + k), a0Im = load (v.aIm + k);
            aRe = a0Re + (aRe - a0Re) * hold;
            aIm = a0Im + (aIm - a0Im) * hold;
            mix = mk * hold;
        }
        const F4 normA = magnitude4 (aRe, aIm), normB = magnitude4 (bRe, bIm);
        F4 magA = normA, magB = normB;
        if (mangleBands)
        {
            const F4 smear = splat (terms.smear) * load (spread + k);
            const F4 smeared = _mm_cmpgt_ps (smear, splat (0.001f));
            const F4 w = splat (0.65f) * smear;
            const F4 lookA = lookupMagnitude4 (v.smearA, k);
            const F4 lookB = lookupMagnitude4 (v.smearB, k);
            magA = select (smeared, magA + (lookA - magA) * w, magA);
            magB = select (smeared, magB + (lookB - magB) * w, magB);
        }
        const F4 mag = (one - mix) * magA + mix * magB;
        const F4 firstHalf = _mm_cmplt_ps (mix, half);
        F4 uRe, uIm;
        if (! law.mangle)
        {
            // Covalent: the phase of A below the middle, of B from it up.
            const F4 zRe = select (firstHalf, aRe, bRe), zIm = select (firstHalf, aIm, bIm);
            const F4 norm = select (firstHalf, normA, normB);
            const F4 small = _mm_cmple_ps (norm, tiny);
            uRe = select (small, one, zRe / norm);
            uIm = select (small, zero, zIm / norm);
        }
        else
        {
            const F4 smallA = _mm_cmple_ps (normA, tiny), smallB = _mm_cmple_ps (normB, tiny);
            const F4 uaRe = select (smallA, one, aRe / normA), uaIm = select (smallA, zero, aIm / normA);
            const F4 ubRe = select (smallB, one, bRe / normB), ubIm = select (smallB, zero, bIm / normB);
            const F4 sRe = (one - mix) * uaRe + mix * ubRe, sIm = (one - mix) * uaIm + mix * ubIm;
            const F4 len = magnitude4 (sRe, sIm);
            const F4 ok = _mm_cmpgt_ps (len, tiny);
            uRe = select (ok, sRe / len, select (firstHalf, uaRe, ubRe));
            uIm = select (ok, sIm / len, select (firstHalf, uaIm, ubIm));
        }
        if (k + 4 <= count)
            join4 (mag * uRe, mag * uIm, a + k);
        else
        {
            alignas (16) float re[4], im[4];
            _mm_store_ps (re, mag * uRe);
            _mm_store_ps (im, mag * uIm);
            for (std::size_t l = 0; k + l < count; ++l)
                a[k + l] = { re[l], im[l] };
        }
    }
}

// One band's coefficients in both stores.
struct Row
{
    int band = 0;
    Complex* a = nullptr;
    const Complex* b = nullptr;
    std::int64_t first = 0, end = 0; // indices held
};
} // namespace

void morphCoefficients (const MorphContext& c, cqt::CoefStore& a, const cqt::CoefStore& b, int bandCount,
                        cqt::CoefStore& analysedA)
{
    if (! a.sameLayout (b))
        throw cqt::Error ("morphCoefficients: the two stores differ in layout");
    // Lookups read A as analysed while `a` is rewritten in place.
    analysedA = a;
    Law law { c, MorphBandLists (analysedA, bandCount, c.length), MorphBandLists (b, bandCount, c.length) };
    law.bandSteps = law.listsA.bandCount() > 0;
    law.mangle = c.kind == MorphKind::mangle;
    law.lockAmount = std::clamp (4.0f * c.amount * (1.0f - c.amount), 0.0f, 1.0f);

    const int bands = a.bands();
    std::vector<BandTerms> terms ((std::size_t) bands);
    if (law.mangle && law.bandSteps)
        for (int band = 0; band < bands; ++band)
        {
            const float fb = 440.0f * std::pow (2.0f, (float) (c.referenceBand - band) / 48.0f);
            terms[(std::size_t) band] = { smoothStep ((fb - 100.0f) / 35.0f), smoothStep ((fb - 100.0f) / 120.0f) };
        }

    // Bands of one time step in turn, in tiles of times: what a time shares is
    // found once for all of them, and each band's part of a tile is read in order.
    constexpr auto tile = (std::int64_t) TileTimes::size;
    const auto lanes = std::make_unique<Lanes>();
    const auto times = std::make_unique<TileTimes>();
    std::vector<Row> rows;
    std::vector<TimePoint> points;
    for (int from = 0; from < bands;)
    {
        const int shift = a.timeShift (from);
        int to = from + 1;
        while (to < bands && a.timeShift (to) == shift)
            ++to;
        rows.clear();
        std::int64_t begin = std::numeric_limits<std::int64_t>::max(), end = std::numeric_limits<std::int64_t>::min();
        for (int band = from; band < to; ++band)
        {
            const auto ca = a.band (band);
            if (ca.empty())
                continue;
            const std::int64_t first = a.firstIndex (band);
            rows.push_back ({ band, ca.data(), b.band (band).data(), first, first + (std::int64_t) ca.size() });
            begin = std::min (begin, first);
            end = std::max (end, rows.back().end);
        }
        for (std::int64_t n0 = begin; n0 < end; n0 += tile)
        {
            const std::int64_t n1 = std::min (end, n0 + tile);
            points.clear();
            // Bands beyond [nearLow, nearHigh] have no harmonic within reach at any time of the tile.
            float nearLow = std::numeric_limits<float>::infinity(), nearHigh = -nearLow;
            for (std::int64_t n = n0; n < n1; ++n)
            {
                const auto& p = points.emplace_back (
                    law, std::clamp<std::int64_t> (n * (std::int64_t { 1 } << shift), 0, c.length - 1));
                const auto i = (std::size_t) (n - n0);
                times->m[i] = p.m;
                times->spread[i] = p.spread;
                times->t[i] = (std::int32_t) p.t;
                if (p.lock)
                {
                    nearLow = std::min (nearLow, p.nearLow);
                    nearHigh = std::max (nearHigh, p.nearHigh);
                }
            }
            for (std::size_t i = (std::size_t) (n1 - n0); i < (std::size_t) (n1 - n0) + 4; ++i)
                times->m[i] = times->spread[i] = 0.0f, times->t[i] = 0;
            for (const Row& row : rows)
            {
                const std::int64_t from = std::max (n0, row.first), upTo = std::min (n1, row.end);
                const bool mayLock = ! ((float) row.band < nearLow || (float) row.band > nearHigh);
                for (std::int64_t chunk = from; chunk < upTo; chunk += (std::int64_t) Lanes::size)
                {
                    const auto count = (std::size_t) std::min<std::int64_t> (upTo - chunk, (std::int64_t) Lanes::size);
                    const auto i = (std::size_t) (chunk - n0);
                    morphLanes (law, *lanes, points.data() + i, times->m + i, times->spread + i, times->t + i, row.band,
                                terms[(std::size_t) row.band], mayLock, count, row.a + (chunk - row.first),
                                row.b + (chunk - row.first));
                }
            }
        }
        from = to;
    }
}

} // namespace quorvalen::spectral
