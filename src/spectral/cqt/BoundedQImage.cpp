// The bounded-Q display: per row a heterodyne envelope of the mono signal at the
// row's centre frequency (Q 24, bandwidth held within 34..1800 Hz), in float32
// with the oscillator renormalised every 2048 samples.
#include "spectral/SessionImageRenderings.h"

#include "dsp/cqt/cqt.h"
#include "spectral/SpectralBrightness.h"

#include <cmath>

namespace quorvalen
{
namespace
{
// Envelope samples a row reads: for column k, e at lower[k] and lower[k] + 1.
struct RowTaps
{
    std::vector<std::int64_t> index; // sorted, unique
    std::vector<float> value;
};

// Envelope position of column k (delay-compensated) and the sample below it.
double columnPosition (std::int64_t delay, std::int64_t last, int width, int k)
{
    const double q = width > 1 ? (double) k / (double) (width - 1) : 0.0;
    return std::clamp ((double) delay + (double) last * q, 0.0, (double) last);
}
std::int64_t sampleBelow (double p, std::int64_t last)
{
    return std::clamp<std::int64_t> ((std::int64_t) std::floor (p), 0, last);
}

// The columns read the taps in order: `cursor` keeps the place of the last one
// found, so a lookup walks forward rather than searching.
float rowBrightness (const RowTaps& taps, std::int64_t last, std::int64_t delay, int width, int k, std::size_t& cursor)
{
    const double p = columnPosition (delay, last, width, k);
    const auto i = sampleBelow (p, last);
    const auto j = std::min (i + 1, last);
    // Every column's two samples are among the taps.
    const auto find = [&] (std::int64_t n, std::size_t from) {
        while (taps.index[from] < n)
            ++from;
        return from;
    };
    cursor = find (i, cursor);
    const float ei = taps.value[cursor], ej = taps.value[find (j, cursor)];
    const float value = ei + (ej - ei) * (float) (p - (double) i);
    return unitBrightness ((20.0f * std::log10 (std::max (value, 1e-9f)) + 90.0f) / 82.0f);
}
struct RowFilter
{
    float a = 0.0f, g = 0.0f, cs = 1.0f, sn = 0.0f;
    std::int64_t delay = 0;
    RowTaps taps;
};

// Eight rows at once, one per lane: every lane runs the same float32 operations
// in the same order as a row on its own would. The AVX2 clone runs the eight in
// one register (neither clone fuses a multiply with an add).
constexpr int lanes = 8;
typedef float Lanes __attribute__ ((vector_size (lanes * sizeof (float))));
constexpr std::int64_t chunk = 256;

// The clones' resolver runs while the program loads, before ThreadSanitizer's
// runtime is up, and its instrumented entry crashes there: that build keeps one.
#if defined(__SANITIZE_THREAD__)
#define QV_ENVELOPE_CLONES
#else
#define QV_ENVELOPE_CLONES __attribute__ ((target_clones ("avx2", "default")))
#endif

QV_ENVELOPE_CLONES void runEnvelopes (std::span<const float> mono, RowFilter* rows, int count)
{
    Lanes a {}, g {}, cs {}, sn {}, re {}, im {}, ur {}, ui {}, vr {}, vi {};
    std::int64_t stop = 0;
    std::size_t next[lanes] {};
    for (int l = 0; l < lanes; ++l)
    {
        const RowFilter idle;
        const auto& row = l < count ? rows[l] : idle;
        a[l] = row.a, g[l] = row.g, cs[l] = row.cs, sn[l] = row.sn, re[l] = 1.0f;
        if (l < count && ! row.taps.index.empty())
            stop = std::max (stop, row.taps.index.back() + 1);
    }
    alignas (64) Lanes keptRe[chunk], keptIm[chunk];
    for (std::int64_t from = 0; from < stop; from += chunk)
    {
        const auto to = std::min (stop, from + chunk);
        for (auto i = from; i < to; ++i)
        {
            const float m = mono[(std::size_t) i];
            ur = m * re * g + ur * a;
            ui = -m * im * g + ui * a;
            vr = vr * a + ur * g;
            vi = vi * a + ui * g;
            keptRe[(std::size_t) (i - from)] = vr;
            keptIm[(std::size_t) (i - from)] = vi;
            const Lanes nr = re * cs - im * sn;
            im = re * sn + im * cs;
            re = nr;
            if ((i & 2047) == 2047)
                for (int l = 0; l < lanes; ++l)
                    if (const float mag = std::sqrt (re[l] * re[l] + im[l] * im[l]); mag > 1e-12f)
                    {
                        re[l] /= mag;
                        im[l] /= mag;
                    }
        }
        for (int l = 0; l < count; ++l)
        {
            auto& taps = rows[l].taps;
            for (auto& n = next[l]; n < taps.index.size() && taps.index[n] < to; ++n)
            {
                const auto j = (std::size_t) (taps.index[n] - from);
                const float x = keptRe[j][l], y = keptIm[j][l];
                taps.value[n] = 2.0f * std::sqrt (std::max (x * x + y * y, 0.0f));
            }
        }
    }
}
} // namespace

BoundedQRange renderBoundedQImage (std::span<const float> mono, double sr, const cqt::Analyzer& analyzer, float* out,
                                   int width, int height)
{
    const int bands = std::max (1, analyzer.bandCount());
    BoundedQRange range;
    const double top = analyzer.bandCentre (0) * sr;
    range.fTop = top < 20.0 ? 20.0 : std::min (0.49 * sr, top);
    const double bottom = analyzer.bandCentre (bands - 1) * sr;
    range.fBottom = bottom < 20.0 ? 20.0 : std::min (range.fTop, bottom);
    const double lTop = std::log (std::max (range.fTop, 1.0));
    const double lBottom = std::log (std::max (range.fBottom, 1.0));

    const auto last = std::max<std::int64_t> ((std::int64_t) mono.size() - 1, 0);
    std::vector<RowFilter> rows ((std::size_t) height);
    for (int r = 0; r < height; ++r)
    {
        const double t = height > 1 ? (double) r / (double) (height - 1) : 0.0;
        auto& row = rows[(std::size_t) r];
        const double fc = std::exp (lTop + (lBottom - lTop) * t);
        const double bw = std::clamp (fc / 24.0, 34.0, 1800.0);
        const double s = std::max (0.75 * bw, 1.0);
        row.a = (float) std::exp (-2.0 * juce::MathConstants<double>::pi * s / sr);
        row.g = 1.0f - row.a;
        row.cs = (float) std::cos (2.0 * juce::MathConstants<double>::pi * fc / sr);
        row.sn = (float) std::sin (2.0 * juce::MathConstants<double>::pi * fc / sr);
        row.delay =
            std::clamp<std::int64_t> (std::llround (2.0 * sr / (2.0 * juce::MathConstants<double>::pi * s)), 0, last);
        for (int k = 0; k < width; ++k)
        {
            const auto i = sampleBelow (columnPosition (row.delay, last, width, k), last);
            row.taps.index.push_back (i);
            row.taps.index.push_back (std::min (i + 1, last));
        }
        std::sort (row.taps.index.begin(), row.taps.index.end());
        row.taps.index.erase (std::unique (row.taps.index.begin(), row.taps.index.end()), row.taps.index.end());
        row.taps.value.assign (row.taps.index.size(), 0.0f);
    }
    for (int r = 0; r < height; r += lanes)
        runEnvelopes (mono, rows.data() + r, std::min (lanes, height - r));
    for (int r = 0; r < height; ++r)
    {
        std::size_t cursor = 0;
        for (int k = 0; k < width; ++k)
            out[(std::size_t) r * (std::size_t) width + (std::size_t) k] =
                rowBrightness (rows[(std::size_t) r].taps, last, rows[(std::size_t) r].delay, width, k, cursor);
    }
    return range;
}

} // namespace quorvalen
