#include "spectral/cqt/CqtSpectrogram.h"

#include "cache/AudioCache.h"
#include "cache/EntryCopy.h"
#include "core/Log.h"
#include "spectral/SpectralBrightness.h"
#include "spectral/cqt/SpectralCqt.h"
#include "spectral/SpectralSessions.h"

#include "spectral/SpectralMagnitude.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <optional>

namespace quorvalen
{
namespace
{
// Mix of the entry's channels at 1 / sqrt(K) each, non-finite samples counting as
// 0, read piece by piece (each copied in short holds of the engine lock). False
// once the entry went or changed, the cache was cleared or the engine shut down.
bool powerMix (QuorvalenEngine& engine, const LongWorkWatch& watch, EntryCopy& entry, std::vector<float>& mix)
{
    constexpr int piece = 1 << 16;
    mix.assign ((std::size_t) entry.samples, 0.0f);
    const float root = std::sqrt ((float) entry.channels);
    for (int start = 0; start < entry.samples; start += piece)
    {
        const int count = std::min (piece, entry.samples - start);
        if (! copyEntryAudio (engine, watch, entry, entry.channels, start, count))
            return false;
        for (int c = 0; c < entry.channels; ++c)
        {
            const float* x = entry.audio.getReadPointer (c);
            float* m = mix.data() + start;
            for (int i = 0; i < count; ++i)
                m[i] += std::isfinite (x[i]) ? x[i] / root : 0.0f;
        }
    }
    return true;
}

// Per cell the largest magnitude of the coefficients that fall in it.
struct CellMaxima
{
    std::vector<float> value;
    std::vector<std::uint8_t> filled;
};

// The column of a coefficient at time t: never falls as t grows, so each
// column's first time is found by bisection once, and a band's coefficients
// then walk the columns without rounding a position each.
std::vector<std::int64_t> columnStarts (std::int64_t n, int width)
{
    const auto column = [&] (std::int64_t t) {
        const float u = n > 1 ? (float) t / (float) (n - 1) : 0.0f;
        return std::clamp ((int) std::lroundf ((float) (width - 1) * u), 0, width - 1);
    };
    std::vector<std::int64_t> starts ((std::size_t) width + 1, n);
    starts[0] = 0;
    for (int c = 1; c < width; ++c)
    {
        std::int64_t lo = starts[(std::size_t) c - 1], hi = n; // the first t with column (t) >= c
        while (lo < hi)
        {
            const auto mid = lo + (hi - lo) / 2;
            if (column (mid) >= c)
                hi = mid;
            else
                lo = mid + 1;
        }
        starts[(std::size_t) c] = lo;
    }
    return starts;
}

CellMaxima cellMaxima (const std::vector<float>& mix, double rate, int width, int height)
{
    const cqt::Analyzer analyzer (spectralCqtParams (rate, 0.85, 440.0, false));
    cqt::CoefStore store (analyzer);
    analyzer.analyze (mix, store);
    const int bands = analyzer.bandCount();
    const auto n = (std::int64_t) mix.size();
    CellMaxima cells { std::vector<float> ((std::size_t) width * (std::size_t) height, 0.0f),
                       std::vector<std::uint8_t> ((std::size_t) width * (std::size_t) height, 0) };
    const auto starts = columnStarts (n, width);
    for (int b = 0; b < std::min (bands, store.bands()); ++b)
    {
        const float v = bands > 1 ? (float) b / (float) (bands - 1) : 0.0f;
        const int row = std::clamp ((int) std::lroundf ((float) (height - 1) * v), 0, height - 1);
        float* value = cells.value.data() + (std::size_t) row * (std::size_t) width;
        std::uint8_t* filled = cells.filled.data() + (std::size_t) row * (std::size_t) width;
        const auto coefs = store.band (b);
        const int shift = store.timeShift (b);
        const std::int64_t first = store.firstIndex (b);
        const auto range = cqt::detail::indexRange (first, coefs.size(), shift, 0, n);
        // The largest magnitude of a run of coefficients in one cell, compared
        // as squares in double and rooted once: the largest of their hypotf.
        std::size_t column = 0;
        for (std::int64_t i = range.begin; i < range.end;)
        {
            const std::int64_t t = i << shift;
            while (t >= starts[column + 1])
                ++column;
            const std::int64_t end =
                std::min (range.end, -((-starts[column + 1]) >> shift)); // first index past the cell
            double largest = -1.0;
            bool infinite = false;
            const auto scalar = [&] (std::int64_t from, std::int64_t to) {
                for (std::int64_t j = from; j < to; ++j)
                {
                    const auto z = coefs[(std::size_t) (j - first)];
                    const double d = squaredMagnitude (z.real(), z.imag());
                    if (d > largest)
                        largest = d;
                    else if (std::isnan (d) && (std::isinf (z.real()) || std::isinf (z.imag())))
                        infinite = true; // hypotf reads an infinite part as infinite whatever the other
                }
            };
            const std::int64_t runStart = i;
            __m128d top = _mm_set1_pd (-1.0), odd = _mm_setzero_pd();
            for (; i + 2 <= end; i += 2)
            {
                const __m128 z =
                    _mm_castpd_ps (_mm_loadu_pd (reinterpret_cast<const double*> (&coefs[(std::size_t) (i - first)])));
                const __m128d re = _mm_cvtps_pd (_mm_shuffle_ps (z, z, _MM_SHUFFLE (2, 0, 2, 0)));
                const __m128d im = _mm_cvtps_pd (_mm_shuffle_ps (z, z, _MM_SHUFFLE (3, 1, 3, 1)));
                const __m128d d = _mm_add_pd (_mm_mul_pd (re, re), _mm_mul_pd (im, im));
                odd = _mm_or_pd (odd, _mm_cmpunord_pd (d, d));
                top = _mm_max_pd (d, top);
            }
            if (_mm_movemask_pd (odd) != 0)
            {
                // A NaN part: the run again one coefficient at a time.
                largest = -1.0;
                scalar (runStart, end);
            }
            else
            {
                alignas (16) double pair[2];
                _mm_store_pd (pair, top);
                largest = std::max (pair[0], pair[1]);
                scalar (i, end);
            }
            i = end;
            if (infinite)
                largest = HUGE_VAL;
            if (largest >= 0.0)
                value[column] = std::max (value[column], (float) std::sqrt (largest));
            filled[column] = 1;
        }
    }
    return cells;
}

// Cells of a row without a coefficient take the value of their filled
// neighbours: linear between two, the nearest before the first and after the last.
void fillRows (CellMaxima& cells, int width, int height)
{
    for (int r = 0; r < height; ++r)
    {
        float* v = cells.value.data() + (std::size_t) r * (std::size_t) width;
        const std::uint8_t* f = cells.filled.data() + (std::size_t) r * (std::size_t) width;
        int previous = -1;
        for (int k = 0; k < width; ++k)
        {
            if (! f[k])
                continue;
            if (previous < 0)
                std::fill (v, v + k, v[k]);
            else
                for (int j = previous + 1; j < k; ++j)
                    v[j] = v[previous] + (v[k] - v[previous]) * (float) (j - previous) / (float) (k - previous);
            previous = k;
        }
        if (previous >= 0)
            std::fill (v + previous + 1, v + width, v[previous]);
    }
}

// The 3 x 3 binomial kernel with the edge cells repeated. Inside a row four
// cells at a time, each summing its nine terms in the same order as alone.
std::vector<float> smooth (const std::vector<float>& in, int width, int height)
{
    std::vector<float> out (in.size());
    constexpr float weight[3] = { 1.0f, 2.0f, 1.0f };
    const auto cell = [&] (int r, int k) {
        float sum = 0.0f;
        for (int dr = -1; dr <= 1; ++dr)
            for (int dk = -1; dk <= 1; ++dk)
            {
                const int rr = std::clamp (r + dr, 0, height - 1), kk = std::clamp (k + dk, 0, width - 1);
                sum += weight[dr + 1] * weight[dk + 1] * in[(std::size_t) rr * (std::size_t) width + (std::size_t) kk];
            }
        return sum / 16.0f;
    };
    for (int r = 0; r < height; ++r)
    {
        const float* rows[3];
        for (int dr = -1; dr <= 1; ++dr)
            rows[dr + 1] = in.data() + (std::size_t) std::clamp (r + dr, 0, height - 1) * (std::size_t) width;
        float* o = out.data() + (std::size_t) r * (std::size_t) width;
        o[0] = cell (r, 0);
        int k = 1;
        for (; k + 4 <= width - 1; k += 4)
        {
            __m128 sum = _mm_setzero_ps();
            for (int dr = 0; dr < 3; ++dr)
                for (int dk = -1; dk <= 1; ++dk)
                    sum = _mm_add_ps (
                        sum, _mm_mul_ps (_mm_set1_ps (weight[dr] * weight[dk + 1]), _mm_loadu_ps (rows[dr] + k + dk)));
            _mm_storeu_ps (o + k, _mm_div_ps (sum, _mm_set1_ps (16.0f)));
        }
        for (; k < width; ++k)
            o[k] = cell (r, k);
    }
    return out;
}
} // namespace

SpectrogramResult analyseCqtSpectrogram (QuorvalenEngine& engine, std::int32_t cacheId, float* out, std::uint32_t width,
                                         std::int32_t height, float* outSeconds)
{
    if (out == nullptr || outSeconds == nullptr)
        return SpectrogramResult::nullOutput;
    if (width < 32 || width > 2048 || height < 32 || height > 1024)
        return SpectrogramResult::badSize;
    // Noted under the lock, read without holding it for long.
    std::optional<LongWorkWatch> watch;
    EntryCopy entry;
    {
        const auto lock = lockEngine (engine);
        if (! engineReady (engine))
            return SpectrogramResult::notReady;
        SpectralEntry found;
        if (! findSpectralEntry (engine, cacheId, found))
            return SpectrogramResult::unknownId;
        if (found.buffer == nullptr || ! (found.sampleRate > 0.0))
            return SpectrogramResult::noAudio;
        if (found.buffer->getNumChannels() < 1 || found.buffer->getNumSamples() < 1)
            return SpectrogramResult::empty;
        watch.emplace (engine);
        noteEntryRead (*watch, (std::uint32_t) cacheId, *findCacheEntry (engine, (std::uint32_t) cacheId), entry);
    }
    const double rate = entry.sampleRate;
    try
    {
        std::vector<float> mix;
        if (! powerMix (engine, *watch, entry, mix))
        {
            const auto lock = lockEngine (engine);
            return engineReady (engine) ? SpectrogramResult::unknownId : SpectrogramResult::notReady;
        }
        entry.audio = {};
        const int w = (int) width, h = (int) height;
        auto cells = cellMaxima (mix, rate, w, h);
        fillRows (cells, w, h);
        const auto smoothed = smooth (cells.value, w, h);
        cells = {};
        const float ref = percentileReference (smoothed);
        cqtBrightnessRun (smoothed.data(), ref, out, smoothed.size());
        *outSeconds = (float) ((double) mix.size() / rate);
        logOut ("[QUORVALEN CQT SPECTROGRAM 0.1.0] analysed cache %d (%d x %d)\n", (int) cacheId, w, h);
        return SpectrogramResult::ok;
    }
    catch (...)
    {
        return SpectrogramResult::outOfMemory;
    }
}

} // namespace quorvalen
