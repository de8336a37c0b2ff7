// The two handovers of the body/tail join: the coherent one on analytic signals,
// and the constant-Q one for overlaps that are too short or not coherent.
#include "dsp/Fft.h"
#include "dsp/cqt/cqt.h"
#include "foundry/FoundryMorph.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <vector>

namespace quorvalen::foundry
{

namespace
{

using Complex = std::complex<double>;
constexpr double pi = juce::MathConstants<double>::pi;

// The analytic signal of x[start, start + overlap), windowed with raised-cosine
// flanks of w samples on both sides and with its real part put back to the raw
// samples.
std::vector<Complex> analyticOverlap (const dsp::Fft& fft, const float* x, std::int64_t length, std::int64_t start,
                                      std::int64_t overlap, std::int64_t w)
{
    const std::int64_t n = fft.size();
    const std::int64_t l = overlap + 2 * w;
    std::vector<std::complex<float>> in ((size_t) n), spectrum ((size_t) n);
    for (std::int64_t i = 0; i < l; ++i)
    {
        const std::int64_t k = start - w + i;
        if (k < 0 || k >= length)
            continue;
        double g = 1.0;
        if (i < w)
            g = 0.5 - 0.5 * std::cos (pi * (double) i / (double) w);
        else if (i >= w + overlap)
            g = 0.5 - 0.5 * std::cos (pi * (double) (l - 1 - i) / (double) w);
        in[(size_t) i] = (float) (g * x[k]);
    }
    fft.forward (in.data(), spectrum.data());
    for (std::int64_t k = 1; k < n / 2; ++k)
        spectrum[(size_t) k] *= 2.0f;
    for (std::int64_t k = n / 2 + 1; k < n; ++k)
        spectrum[(size_t) k] = 0.0f;
    fft.inverse (spectrum.data(), in.data());

    std::vector<Complex> out ((size_t) overlap);
    for (std::int64_t i = 0; i < overlap; ++i)
        out[(size_t) i] = { (double) x[start + i], (double) in[(size_t) (w + i)].imag() };
    return out;
}

struct Coherence
{
    Complex sum;
    bool coherent = false;
};

Coherence coherence (const std::vector<Complex>& a, const std::vector<Complex>& b, std::int64_t p, std::int64_t q)
{
    Complex c {};
    double m = 0.0;
    for (std::int64_t i = p; i < q; ++i)
    {
        c += std::conj (a[(size_t) i]) * b[(size_t) i];
        m += std::abs (a[(size_t) i]) * std::abs (b[(size_t) i]);
    }
    return { c, m > (double) (q - p) * 1e-10 && std::abs (c) / m >= 0.995 };
}

double wrappedDistance (double x)
{
    return std::abs (std::remainder (x, 2.0 * pi));
}

} // namespace

bool findCoherentPhaseHandover (const float* a, std::int64_t aLength, std::int64_t s, const float* b,
                                std::int64_t bLength, std::int64_t o, double sr, float* out)
{
    if (a == nullptr || b == nullptr || out == nullptr || ! std::isfinite (sr) || ! (sr > 0.0))
        return false;
    if (o < 32 || (double) o < 0.04 * sr || s < 0 || s > aLength || o > aLength - s || o > bLength)
        return false;
    const double wExact = 0.125 * sr;
    if (wExact > 524288.0)
        return false;
    const std::int64_t w = std::max<std::int64_t> (std::llround (wExact), 32);
    const std::int64_t l = o + 2 * w;
    if (l > (std::int64_t) 1 << 20)
        return false;
    int order = 0;
    while (((std::int64_t) 1 << order) < l)
        ++order;

    const dsp::Fft fft (order);
    const auto ea = analyticOverlap (fft, a, aLength, s, o, w);
    const auto eb = analyticOverlap (fft, b, bLength, 0, o, w);
    const auto c0 = coherence (ea, eb, 0, o);
    const auto c1 = coherence (ea, eb, o / 2, 3 * o / 4);
    const auto c2 = coherence (ea, eb, 3 * o / 4, o);
    if (! c0.coherent || ! c1.coherent || ! c2.coherent)
        return false;
    const double phi = std::arg (c1.sum + c2.sum);
    if (wrappedDistance (std::arg (c1.sum) - std::arg (c2.sum)) > 0.04
        || wrappedDistance (std::arg (c0.sum) - phi) > 0.04)
        return false;

    for (std::int64_t i = 0; i < o; ++i)
    {
        const double u = (double) i / (double) (o - 1);
        const double sm = u * u * (3.0 - 2.0 * u);
        const Complex y = (1.0 - sm) * ea[(size_t) i] * std::polar (1.0, sm * phi)
            + sm * eb[(size_t) i] * std::polar (1.0, (sm - 1.0) * phi);
        out[i] = (float) y.real();
    }
    out[0] = a[s];
    out[o - 1] = b[o - 1];
    return true;
}

bool constantQHandover (const float* a, const float* b, std::int64_t n, double sr, float* out,
                        const std::function<bool()>& stopped)
{
    const auto stop = [&] { return stopped && stopped(); };
    cqt::CqtParams params;
    params.scale = { 48, 20.0 / sr, 440.0 / sr };
    params.overlap = 0.7;
    params.maxError = 1e-5;
    const cqt::Analyzer analyzer (params);
    cqt::CoefStore ca (analyzer), cb (analyzer);
    if (stop())
        return false;
    analyzer.analyze ({ a, (size_t) n }, ca);
    if (stop())
        return false;
    analyzer.analyze ({ b, (size_t) n }, cb);
    if (stop())
        return false;

    const double last = (double) (n - 1);
    constexpr auto farAway = std::numeric_limits<std::int64_t>::max() / 4;
    cqt::visit (ca, cb, 0, ca.bands(), -farAway, farAway,
                [&] (int, std::int64_t t, std::complex<float>& x, std::complex<float>& y) {
        const double u = n == 1 ? 1.0 : std::clamp ((double) t / last, 0.0, 1.0);
        const double magnitude = (1.0 - u) * std::abs (x) + u * std::abs (y);
        const double phase = u < 0.5 ? std::arg (x) : std::arg (y);
        x = std::polar ((float) magnitude, (float) phase);
    });
    if (stop())
        return false;
    std::vector<float> h ((size_t) n);
    analyzer.synthesize (ca, 0, h);

    const std::int64_t edge = std::max<std::int64_t> (std::llround (0.16 * (double) n), 1);
    for (std::int64_t i = 0; i < n; ++i)
    {
        const double theta = n == 1 ? pi / 2.0 : (double) i / last * pi / 2.0;
        const double e =
            std::min (std::min ((double) i / (double) edge, 1.0), std::min ((double) (n - 1 - i) / (double) edge, 1.0));
        const double fade = std::cos (theta) * a[i] + std::sin (theta) * b[i];
        const double y = e * h[(size_t) i] + (1.0 - e) * fade;
        out[i] = std::isfinite (y) ? (float) y : (float) fade;
    }
    return true;
}

} // namespace quorvalen::foundry
