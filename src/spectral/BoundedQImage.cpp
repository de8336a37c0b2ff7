// The bounded-Q display: per row a heterodyne envelope of the mono signal at the
// row's centre frequency (Q 24, bandwidth held within 34..1800 Hz), in float32
// with the oscillator renormalised every 2048 samples.
#include "spectral/SessionImageRenderings.h"

#include "cqt/cqt.h"
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
std::int64_t sampleBelow (double p, std::int64_t last) { return std::clamp<std::int64_t> ((std::int64_t) std::floor (p), 0, last); }

float rowBrightness (const RowTaps& taps, std::int64_t last, std::int64_t delay, int width, int k)
{
    const double p = columnPosition (delay, last, width, k);
    const auto i = sampleBelow (p, last);
    const auto j = std::min (i + 1, last);
    auto at = [&] (std::int64_t n) {
        const auto it = std::lower_bound (taps.index.begin(), taps.index.end(), n);
        return taps.value[(std::size_t) (it - taps.index.begin())];
    };
    const float ei = at (i), ej = at (j);
    const float value = ei + (ej - ei) * (float) (p - (double) i);
    return unitBrightness ((20.0f * std::log10 (std::max (value, 1e-9f)) + 90.0f) / 82.0f);
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

    const auto n = (std::int64_t) mono.size();
    const auto last = std::max<std::int64_t> (n - 1, 0);
    RowTaps taps;
    for (int r = 0; r < height; ++r)
    {
        const double t = height > 1 ? (double) r / (double) (height - 1) : 0.0;
        const double fc = std::exp (lTop + (lBottom - lTop) * t);
        const double bw = std::clamp (fc / 24.0, 34.0, 1800.0);
        const double s = std::max (0.75 * bw, 1.0);
        const auto a = (float) std::exp (-2.0 * juce::MathConstants<double>::pi * s / sr);
        const float g = 1.0f - a;
        const auto cs = (float) std::cos (2.0 * juce::MathConstants<double>::pi * fc / sr);
        const auto sn = (float) std::sin (2.0 * juce::MathConstants<double>::pi * fc / sr);
        const auto delay = std::clamp<std::int64_t> (std::llround (2.0 * sr / (2.0 * juce::MathConstants<double>::pi * s)), 0, last);

        taps.index.clear();
        for (int k = 0; k < width; ++k)
        {
            const auto i = sampleBelow (columnPosition (delay, last, width, k), last);
            taps.index.push_back (i);
            taps.index.push_back (std::min (i + 1, last));
        }
        std::sort (taps.index.begin(), taps.index.end());
        taps.index.erase (std::unique (taps.index.begin(), taps.index.end()), taps.index.end());
        taps.value.assign (taps.index.size(), 0.0f);

        float re = 1.0f, im = 0.0f, ur = 0.0f, ui = 0.0f, vr = 0.0f, vi = 0.0f;
        std::size_t next = 0;
        const auto stop = taps.index.empty() ? 0 : taps.index.back() + 1;
        for (std::int64_t i = 0; i < stop; ++i)
        {
            const float m = mono[(std::size_t) i];
            ur = m * re * g + ur * a;
            ui = -m * im * g + ui * a;
            vr = vr * a + ur * g;
            vi = vi * a + ui * g;
            if (i == taps.index[next])
                taps.value[next++] = 2.0f * std::sqrt (std::max (vr * vr + vi * vi, 0.0f));
            const float nr = re * cs - im * sn;
            im = re * sn + im * cs;
            re = nr;
            if ((i & 2047) == 2047)
                if (const float mag = std::sqrt (re * re + im * im); mag > 1e-12f)
                {
                    re /= mag;
                    im /= mag;
                }
        }
        for (int k = 0; k < width; ++k)
            out[(std::size_t) r * (std::size_t) width + (std::size_t) k] = rowBrightness (taps, last, delay, width, k);
    }
    return range;
}

} // namespace quorvalen
