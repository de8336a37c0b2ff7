// The STFT image: 1024-point spectra of the mono signal (symmetric Hann, hop 174)
// in dB, looked up bilinearly on a frequency axis linear below 1 kHz and
// logarithmic above; floor -110 dB, range 80 dB.
#include "spectral/SessionImageRenderings.h"

#include "dsp/RadixTwoFft.h"
#include "spectral/SpectralBrightness.h"

#include <cmath>
#include <complex>

namespace quorvalen
{
namespace
{
constexpr int fftSize = 1024;
constexpr int bins = fftSize / 2 + 1;
constexpr int hop = 174;
constexpr double tenNinths = 10.0 / 9.0;

double warp (double f)
{
    return f <= 1000.0 ? f * tenNinths : 1000.0 * (std::log10 (f / 1000.0) + tenNinths);
}
double unwarp (double v)
{
    return v <= 1111.111111111111 ? v / tenNinths : 1000.0 * std::pow (10.0, v / 1000.0 - tenNinths);
}

struct DbGrid
{
    std::int64_t frames = 0;
    std::vector<float> db; // frames x bins

    float sample (double x, double f, double sr) const
    {
        const auto r0 = std::clamp<std::int64_t> ((std::int64_t) std::floor (std::max (x, 0.0)), 0, frames - 1);
        const auto r1 = std::min (r0 + 1, frames - 1);
        const float tr = (float) std::clamp (x - (double) r0, 0.0, 1.0);
        const double q = std::clamp (fftSize * f / sr, 0.0, (double) (bins - 1));
        const int k0 = std::clamp ((int) std::floor (q), 0, bins - 1);
        const int k1 = std::min (k0 + 1, bins - 1);
        const float tk = (float) std::clamp (q - k0, 0.0, 1.0);
        auto at = [&] (std::int64_t r, int k) { return db[(std::size_t) r * bins + (std::size_t) k]; };
        const float a = at (r0, k0) + (at (r0, k1) - at (r0, k0)) * tk;
        const float b = at (r1, k0) + (at (r1, k1) - at (r1, k0)) * tk;
        return a + (b - a) * tr;
    }
};

DbGrid spectra (std::span<const float> mono, double sr)
{
    const auto n = (std::int64_t) mono.size();
    const auto length = std::max<std::int64_t> (n, fftSize);
    DbGrid grid;
    grid.frames = length <= fftSize ? 1 : (length - fftSize) / hop + 1;
    grid.db.assign ((std::size_t) grid.frames * bins, -110.0f);

    std::vector<float> window (fftSize);
    double energy = 0.0;
    for (int i = 0; i < fftSize; ++i)
    {
        window[(std::size_t) i] = 0.5f - 0.5f * std::cos ((float) i * 6.2831855f / 1023.0f);
        energy += (double) window[(std::size_t) i] * window[(std::size_t) i];
    }
    const double norm = std::max (energy * sr, 1e-30);
    std::vector<std::complex<float>> frame (fftSize);
    for (std::int64_t f = 0; f < grid.frames; ++f)
    {
        for (int i = 0; i < fftSize; ++i)
        {
            const auto at = f * hop + i;
            frame[(std::size_t) i] = { at < n ? mono[(std::size_t) at] * window[(std::size_t) i] : 0.0f, 0.0f };
        }
        dsp::fftComplexInPlace (frame, false);
        for (int k = 0; k < bins; ++k)
        {
            double power = (double) std::norm (frame[(std::size_t) k]);
            if (k > 0 && k < bins - 1)
                power *= 2.0;
            grid.db[(std::size_t) f * bins + (std::size_t) k] =
                (float) (10.0 * std::log10 (std::max (power / norm, 1e-30)));
        }
    }
    return grid;
}
} // namespace

void renderStftImage (std::span<const float> mono, double sr, float* out, int width, int height)
{
    const auto grid = spectra (mono, sr);
    const double nyquist = 0.5 * sr;
    const double fLow = std::min (nyquist, 20.0);
    const double fHigh = std::max (nyquist, fLow);
    const double wHigh = warp (fHigh), wLow = warp (fLow);
    for (int r = 0; r < height; ++r)
    {
        const double t = height > 1 ? (double) r / (double) (height - 1) : 0.0;
        const double fr = std::clamp (unwarp (wHigh + (wLow - wHigh) * t), fLow, fHigh);
        for (int k = 0; k < width; ++k)
        {
            const double x = width > 1 && grid.frames > 1 ? (double) (grid.frames - 1) * k / (double) (width - 1) : 0.0;
            const float v = grid.sample (x, fr, sr);
            out[(std::size_t) r * (std::size_t) width + (std::size_t) k] = unitBrightness ((v + 110.0f) / 80.0f);
        }
    }
}

} // namespace quorvalen
