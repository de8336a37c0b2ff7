#include "cqt/blocks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace quorvalen::cqt::detail
{

namespace
{

// Splits the bins [first, first + count) of a band's window into runs that are
// contiguous on its grid of m points (f mod m) and lie wholly below, at or above
// the Nyquist bin `half`: fn(firstBin, gridIndex, length, offsetInWindow).
template <class Fn>
void forRuns (std::int64_t first, std::int64_t count, std::int64_t m, std::int64_t half, Fn&& fn)
{
    const std::int64_t end = first + count;
    for (std::int64_t f = first; f < end;)
    {
        const std::int64_t idx = f % m;
        std::int64_t next = std::min (end, f + (m - idx));
        if (f < half)
            next = std::min (next, half);
        else if (f == half)
            next = half + 1;
        fn (f, idx, next - f, f - first);
        f = next;
    }
}

cf toFloat (cr v)
{
    return { static_cast<float> (v.real()), static_cast<float> (v.imag()) };
}

// Zeroes the points of a grid of m that a window of `bins` bins starting at
// grid index `idx` leaves untouched.
void clearOutside (cf* t, std::int64_t m, std::int64_t idx, std::int64_t bins)
{
    if (bins >= m)
        return;
    const std::int64_t endIdx = (idx + bins) % m;
    if (endIdx > idx)
    {
        std::fill (t, t + idx, cf {});
        std::fill (t + endIdx, t + m, cf {});
    }
    else
    {
        std::fill (t + endIdx, t + idx, cf {});
    }
}

// Stored coefficients of a band whose times lie in the block's kept middle,
// widened by `reach` signal samples on either side.
IndexRange selection (const CoefStore& store, int band, const Level& lv, std::int64_t origin, std::int64_t reach)
{
    const IndexRange kept = keptTimes (lv, origin);
    return indexRange (store.firstIndex (band), store.band (band).size(), store.timeShift (band), kept.begin - reach,
                       kept.end + reach);
}

// What a block needs of one of its bands: the stored coefficients it covers
// (widened by reach), the band's step on the level and its window's bins.
struct BlockBand
{
    IndexRange r;
    bool lowpass;
    int shift;      // log2 of the step, in level samples
    std::int64_t m; // points of the band's grid in a block
    const GridBand* gb;
    const float* gain;
};

BlockBand blockBand (const BandPlan& plan, const Level& lv, int b, const CoefStore& store, std::int64_t origin,
                     std::int64_t reach)
{
    const auto bi = static_cast<std::size_t> (b);
    const int shift = plan.bands[bi].shift - lv.level;
    const GridBand& gb = lv.grid->bands[bi];
    return { selection (store, b, lv, origin, reach), b == plan.bandpass, shift, lv.size >> shift, &gb,
             lv.grid->gain.data() + gb.offset };
}

// Copies to memory that will not be read again soon, past the caches: a large
// store's lines are then written once instead of read first and written back.
void streamCopy (const cf* src, std::int64_t count, cf* out)
{
#if defined(__SSE2__)
    std::int64_t i = 0;
    if (count > 0 && reinterpret_cast<std::uintptr_t> (out) % 16 != 0)
    {
        out[0] = src[0];
        i = 1;
    }
    for (; i + 1 < count; i += 2)
        _mm_stream_ps (reinterpret_cast<float*> (out + i), _mm_loadu_ps (reinterpret_cast<const float*> (src + i)));
    if (i < count)
        out[i] = src[i];
#else
    std::copy (src, src + count, out);
#endif
}

} // namespace

void Stream::reset (std::size_t capacity)
{
    if (buf_.size() < capacity)
    {
        buf_.clear();
        buf_.shrink_to_fit();
        buf_.resize (capacity);
    }
    head_ = start_ = count_ = 0;
}

Real* Stream::reserve (std::int64_t t, std::int64_t n)
{
    if (count_ == 0)
    {
        start_ = t;
        head_ = 0;
    }
    else if (t != end())
    {
        throw Error ("cqt: internal error: a level's samples are not contiguous");
    }
    const auto size = static_cast<std::int64_t> (buf_.size());
    if (head_ + count_ + n > size)
    {
        std::memmove (buf_.data(), buf_.data() + head_, static_cast<std::size_t> (count_) * sizeof (Real));
        head_ = 0;
    }
    if (count_ + n > size)
        throw Error ("cqt: internal error: a level's stream overflows");
    Real* out = buf_.data() + head_ + count_;
    count_ += n;
    return out;
}

void Stream::append (std::int64_t t, const Real* x, std::int64_t n)
{
    std::copy (x, x + n, reserve (t, n));
}

void Stream::appendZeros (std::int64_t t, std::int64_t n)
{
    Real* out = reserve (t, n);
    std::fill (out, out + n, Real {});
}

void Stream::drop (std::int64_t before)
{
    const std::int64_t d = std::clamp<std::int64_t> (before - start_, 0, count_);
    head_ += d;
    start_ += d;
    count_ -= d;
}

bool Stream::read (std::int64_t t, std::int64_t n, Real* out) const
{
    const std::int64_t b = std::clamp<std::int64_t> (start_ - t, 0, n);
    const std::int64_t e = std::clamp<std::int64_t> (end() - t, b, n);
    const Real* src = buf_.data() + head_ + (t + b - start_);
    if (std::all_of (src, src + (e - b), [] (Real v) { return v == Real {}; }))
        return false;
    std::fill (out, out + b, Real {});
    std::copy (src, src + (e - b), out + b);
    std::fill (out + e, out + n, Real {});
    return true;
}

void WorkState::prepare (const std::shared_ptr<const BandPlan>& p)
{
    const std::size_t levels = p->levels.size();
    std::int64_t maxSize = 0, maxBand = 0;
    for (const Level& lv : p->levels)
    {
        maxSize = std::max (maxSize, lv.size);
        maxBand = std::max (maxBand, lv.size >> lv.minShift);
    }
    if (spectrumSize < maxSize)
    {
        spectrum = allocComplex<Real> (static_cast<std::size_t> (maxSize / 2 + 1));
        half = allocComplex<Real> (static_cast<std::size_t> (maxSize / 4 + 1));
        spectrumSize = maxSize;
    }
    if (bandSize < maxBand)
    {
        band = allocComplex<float> (static_cast<std::size_t> (maxBand));
        bandOut = allocComplex<float> (static_cast<std::size_t> (maxBand));
        bandSize = maxBand;
    }
    streams.resize (levels);
    next.assign (levels, 0);
    started.assign (levels, false);
    for (std::size_t l = 1; l < levels; ++l)
        streams[l].reset (static_cast<std::size_t> (p->levels[l - 1].size + p->levels[l].size));
    if (plan == p)
        return;
    plan = p;
    ffts.assign (levels, {});
    for (std::size_t l = 0; l < levels; ++l)
    {
        const Level& lv = p->levels[l];
        LevelFfts& f = ffts[l];
        const auto n = static_cast<std::size_t> (lv.size);
        f.toSpectrum = FftPlan<Real>::get (FftKind::RealToComplex, n);
        f.toSamples = FftPlan<Real>::get (FftKind::ComplexToReal, n);
        if (! lv.toNext.empty())
        {
            f.halfToSpectrum = FftPlan<Real>::get (FftKind::RealToComplex, n / 2);
            f.halfToSamples = FftPlan<Real>::get (FftKind::ComplexToReal, n / 2);
        }
        int maxShift = lv.minShift;
        for (int b = lv.bandBegin; b < lv.bandEnd; ++b)
            maxShift = std::max (maxShift, p->bands[static_cast<std::size_t> (b)].shift - lv.level);
        for (int s = lv.minShift; s <= maxShift; ++s)
        {
            const auto m = static_cast<std::size_t> (lv.size >> s);
            f.bandBackward.push_back (FftPlan<float>::get (FftKind::Backward, m, false));
            f.bandForward.push_back (FftPlan<float>::get (FftKind::Forward, m));
        }
    }
}

std::size_t WorkState::bytes() const
{
    std::size_t total = static_cast<std::size_t> (spectrumSize / 2 + 1 + spectrumSize / 4 + 1) * sizeof (cr)
        + static_cast<std::size_t> (2 * bandSize) * sizeof (cf);
    for (const Stream& s : streams)
        total += s.bytes();
    return total;
}

void analyzeBands (const BandPlan& plan, const Level& lv, std::int64_t origin, CoefStore& store, WorkState& work)
{
    const std::int64_t n = lv.size;
    const std::int64_t half = n / 2;
    const cr* x = work.spectrum.get();
    const LevelFfts& ffts = work.ffts[static_cast<std::size_t> (lv.level)];
    for (int b = lv.bandBegin; b < lv.bandEnd; ++b)
    {
        const auto [r, lowpass, shift, m, bins, bandGain] = blockBand (plan, lv, b, store, origin, 0);
        // A plain copy: lambdas cannot capture structured bindings on every compiler.
        const float* const gain = bandGain;
        if (r.end <= r.begin)
            continue;
        const GridBand& gb = *bins;
        cf* t = work.band.get();
        if (lowpass)
        {
            std::fill (t, t + m, cf {});
            // A real band: both signs of frequency, so its coefficients are real.
            const Real scale = Real { 1 } / static_cast<Real> (n);
            for (std::int64_t f = 0; f < gb.bins; ++f)
            {
                const cf v = toFloat (x[f] * (gain[f] * scale));
                t[f % m] += v;
                if (f != 0 && 2 * f != n)
                    t[(m - f % m) % m] += std::conj (v);
            }
        }
        else
        {
            // The analytic band-pass output: positive frequencies doubled. Bins
            // past the Nyquist frequency read the mirror image.
            const Real scale = Real { 2 } / static_cast<Real> (n);
            clearOutside (t, m, gb.firstBin % m, gb.bins);
            forRuns (gb.firstBin, gb.bins, m, half,
                     [&] (std::int64_t f0, std::int64_t idx, std::int64_t len, std::int64_t i0) {
                const float* g = gain + i0;
                cf* dst = t + idx;
                // Rounded to single precision first: the products then take
                // half the vector width.
                const auto fs = static_cast<float> (scale);
                if (f0 <= half)
                {
                    const Real* src = reinterpret_cast<const Real*> (x + f0);
                    float* out = reinterpret_cast<float*> (dst);
                    for (std::int64_t i = 0; i < len; ++i)
                    {
                        const float w = g[i] * fs;
                        out[2 * i] = static_cast<float> (src[2 * i]) * w;
                        out[2 * i + 1] = static_cast<float> (src[2 * i + 1]) * w;
                    }
                }
                else
                {
                    const cr* src = x + (n - f0);
                    for (std::int64_t i = 0; i < len; ++i)
                        dst[i] = toFloat (std::conj (src[-i]) * (g[i] * scale));
                }
            });
        }
        ffts.bandBackward[static_cast<std::size_t> (shift - lv.minShift)]->run (t, work.bandOut.get());
        cf* out = store.band (b).data() - store.firstIndex (b) + r.begin;
        const cf* src = work.bandOut.get() + (r.begin - (origin >> shift));
        const std::int64_t count = r.end - r.begin;
        if (work.streamStores)
            streamCopy (src, count, out);
        else
            std::copy (src, src + count, out);
        if (lowpass)
            for (std::int64_t k = 0; k < count; ++k)
                out[k].imag (0.0f);
    }
}

void storeFence()
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

void clearBands (const Level& lv, std::int64_t origin, CoefStore& store)
{
    for (int b = lv.bandBegin; b < lv.bandEnd; ++b)
    {
        const IndexRange r = selection (store, b, lv, origin, 0);
        if (r.end <= r.begin)
            continue;
        cf* out = store.band (b).data() - store.firstIndex (b) + r.begin;
        std::fill (out, out + (r.end - r.begin), cf {});
    }
}

void decimate (const Level& lv, WorkState& work)
{
    const std::int64_t q = lv.size / 4;
    const cr* x = work.spectrum.get();
    cr* z = work.half.get();
    // Sample t of the next level is sample 2t here: a transform of half the
    // size over the bins it keeps.
    const Real scale = Real { 1 } / static_cast<Real> (lv.size);
    for (std::int64_t k = 0; k <= q; ++k)
        z[k] = x[k] * (lv.toNext[static_cast<std::size_t> (k)] * scale);
    z[0].imag (0.0);
    z[q].imag (0.0);
    work.ffts[static_cast<std::size_t> (lv.level)].halfToSamples->run (z);
}

bool hasCoefficients (const BandPlan& plan, const Level& lv, std::int64_t origin, const CoefStore& store)
{
    for (int b = lv.bandBegin; b < lv.bandEnd; ++b)
    {
        const IndexRange r = selection (store, b, lv, origin, plan.bands[static_cast<std::size_t> (b)].blockReach);
        if (r.end > r.begin)
            return true;
    }
    return false;
}

void synthesizeBlock (const BandPlan& plan, const Level& lv, std::int64_t origin, const CoefStore& store,
                      bool withLower, WorkState& work)
{
    const std::int64_t n = lv.size;
    const std::int64_t half = n / 2;
    const Grid& grid = *lv.grid;
    const LevelFfts& ffts = work.ffts[static_cast<std::size_t> (lv.level)];
    cr* y = work.spectrum.get();
    std::fill (y, y + half + 1, cr {});
    if (withLower)
    {
        // The next level's output, band-limited below its Nyquist frequency,
        // at twice its rate: the same spectrum on twice the bins, twice as loud.
        cr* z = work.half.get();
        ffts.halfToSpectrum->run (z);
        const Real scale = Real { 2 } / static_cast<Real> (n);
        for (std::int64_t k = 0; k <= n / 4; ++k)
            y[k] = z[k] * (lv.toNext[static_cast<std::size_t> (k)] * scale);
    }
    const double* dual = grid.dual.data();
    for (int b = lv.bandBegin; b < lv.bandEnd; ++b)
    {
        const auto [r, lowpass, shift, m, bins, bandGain] =
            blockBand (plan, lv, b, store, origin, plan.bands[static_cast<std::size_t> (b)].blockReach);
        const float* const gain = bandGain;
        if (r.end <= r.begin)
            continue;
        const GridBand& gb = *bins;
        cf* t = work.band.get();
        const std::int64_t begin = r.begin - (origin >> shift);
        const std::int64_t count = r.end - r.begin;
        std::fill (t, t + begin, cf {});
        std::fill (t + begin + count, t + m, cf {});
        const cf* in = store.band (b).data() - store.firstIndex (b) + r.begin;
        std::copy (in, in + count, t + begin);
        if (lowpass)
            for (std::int64_t k = 0; k < count; ++k)
                t[begin + k].imag (0.0f);
        ffts.bandForward[static_cast<std::size_t> (shift - lv.minShift)]->run (t);
        const double step = std::ldexp (1.0, shift);
        if (lowpass)
        {
            for (std::int64_t f = 0; f < gb.bins; ++f)
                y[f] += cr (t[f % m]) * (step * gain[f] * dual[f]);
            continue;
        }
        // Back to the real signal: half of each analytic component, mirrored
        // onto positive frequencies past the Nyquist bin.
        const double h = 0.5 * step;
        forRuns (gb.firstBin, gb.bins, m, half,
                 [&] (std::int64_t f0, std::int64_t idx, std::int64_t len, std::int64_t i0) {
            const float* g = gain + i0;
            const cf* src = t + idx;
            if (f0 < half)
            {
                cr* dst = y + f0;
                const double* d = dual + f0;
                for (std::int64_t i = 0; i < len; ++i)
                    dst[i] += cr (src[i]) * (h * g[i] * d[i]);
            }
            else if (f0 > half)
            {
                cr* dst = y + (n - f0);
                const double* d = dual + (n - f0);
                for (std::int64_t i = 0; i < len; ++i)
                    dst[-i] += cr (std::conj (src[i])) * (h * g[i] * d[-i]);
            }
            else
            {
                y[half] += static_cast<Real> (src[0].real()) * (step * g[0] * dual[half]);
            }
        });
    }
    y[0].imag (0.0);
    y[half].imag (0.0);
    ffts.toSamples->run (y);
}

} // namespace quorvalen::cqt::detail
