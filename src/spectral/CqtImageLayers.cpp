// The layers of the constant-Q session image: the magnitude grid of an entry and
// the overlay of committed laser strokes.
#include "spectral/SessionImageRenderings.h"

#include "dsp/cqt/cqt.h"

#include <cmath>

namespace quorvalen
{
namespace
{
float logLerp (float a, float b, float t)
{
    const float la = std::log (std::max (a, 1e-12f)), lb = std::log (std::max (b, 1e-12f));
    return std::exp (la + (lb - la) * t);
}

// S(x) = (3 - 2x) x^2 with x clamped to [0, 1].
float smoothStep (float x)
{
    x = std::clamp (x, 0.0f, 1.0f);
    return (3.0f - 2.0f * x) * x * x;
}
} // namespace

std::vector<float> monoMean (const juce::AudioBuffer<float>& audio)
{
    const int channels = audio.getNumChannels();
    const auto n = (std::size_t) audio.getNumSamples();
    std::vector<float> mono (n, 0.0f);
    const float scale = 1.0f / (float) channels;
    for (int c = 0; c < channels; ++c)
    {
        const float* x = audio.getReadPointer (c);
        for (std::size_t i = 0; i < n; ++i)
            mono[i] += std::isfinite (x[i]) ? x[i] * scale : 0.0f;
    }
    return mono;
}

std::vector<float> renderCqtMagnitudeGrid (const juce::AudioBuffer<float>& audio, const cqt::Analyzer& analyzer,
                                           int width, int height)
{
    const int bands = std::max (1, analyzer.bandCount());
    const std::int64_t n = audio.getNumSamples();
    std::vector<std::vector<float>> slots ((std::size_t) bands);
    std::vector<int> shifts ((std::size_t) bands);
    for (int b = 0; b < bands; ++b)
    {
        shifts[(std::size_t) b] = analyzer.bandTimeShift (b);
        slots[(std::size_t) b].assign ((std::size_t) (((n - 1) >> shifts[(std::size_t) b]) + 1), 0.0f);
    }
    cqt::CoefStore store (analyzer);
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        analyzer.analyze ({ audio.getReadPointer (c), (std::size_t) n }, store);
        cqt::visit (std::as_const (store), 0, analyzer.bandCount(), 0, n,
                    [&] (int b, std::int64_t t, const std::complex<float>& coef) {
            auto& s = slots[(std::size_t) b];
            const auto j = (std::size_t) (t >> shifts[(std::size_t) b]);
            if (j < s.size())
                s[j] = std::max (s[j], std::hypot (coef.real(), coef.imag()));
        });
    }

    std::vector<float> grid ((std::size_t) width * (std::size_t) height);
    auto bandValue = [&] (int b, double position) {
        const auto& s = slots[(std::size_t) b];
        if (s.empty())
            return 0.0f;
        const double z = std::ldexp (position, -shifts[(std::size_t) b]);
        const auto lastSlot = (std::int64_t) s.size() - 1;
        const auto j0 = std::clamp<std::int64_t> ((std::int64_t) std::floor (z), 0, lastSlot);
        const auto j1 = std::min (j0 + 1, lastSlot);
        return logLerp (s[(std::size_t) j0], s[(std::size_t) j1], (float) std::clamp (z - (double) j0, 0.0, 1.0));
    };
    for (int r = 0; r < height; ++r)
    {
        const double t = height > 1 ? (double) r / (double) (height - 1) : 0.0;
        const double x = (bands - 1) * t;
        const int b0 = std::clamp ((int) std::floor (x), 0, bands - 1);
        const int b1 = std::min (b0 + 1, bands - 1);
        const auto fb = (float) std::clamp (x - b0, 0.0, 1.0);
        for (int k = 0; k < width; ++k)
        {
            const double u = width > 1 ? (double) k / (double) (width - 1) : 0.0;
            const double position = (double) std::max<std::int64_t> (n - 1, 0) * u;
            grid[(std::size_t) r * (std::size_t) width + (std::size_t) k] =
                logLerp (bandValue (b0, position), bandValue (b1, position), fb);
        }
    }
    return grid;
}

int drawLaserOverlay (const std::vector<SpectralUndoRecord>& undoStack, int bands, float* out, int width, int height)
{
    bands = std::max (1, bands);
    std::vector<float> mask;
    int drawn = 0;
    for (const auto& record : undoStack)
    {
        if (record.laser.empty())
            continue;
        mask.assign ((std::size_t) width * (std::size_t) height, 0.0f);
        for (const auto& laser : record.laser)
        {
            const int bi = std::clamp (laser.band, 0, bands - 1);
            const float y = bands > 1 ? (float) bi / (float) (bands - 1) : 0.0f;
            const float h = std::clamp ((y - 0.52f) / 0.2f, 0.0f, 1.0f);
            const float fade = (3.0f - 2.0f * h) * h * h;
            if (! (fade > 0.0f))
                continue;
            const float cy = (float) (height - 1) * y;
            const float cx = (float) (width - 1) * std::clamp (laser.time, 0.0f, 1.0f);
            const float rx = std::max ((float) (width - 1) * std::clamp (laser.size, 0.0005f, 1.0f), 1.5f);
            auto span = [] (float low, float high, int cells) {
                const int a = std::clamp ((int) std::floor (low), 0, cells - 1);
                return std::pair { a, std::max (a, std::clamp ((int) std::ceil (high), 0, cells - 1)) };
            };
            const auto [row0, row1] = span (cy - 1.4f, cy + 1.4f, height);
            const auto [col0, col1] = span (cx - rx, cx + rx, width);
            const float strength = std::clamp (laser.strength, 0.0f, 1.0f) * 0.54f * fade;
            for (int row = row0; row <= row1; ++row)
            {
                const float dr = std::abs ((float) row - cy) / 1.4f;
                if (dr > 1.0f)
                    continue;
                const float wr = 1.0f - smoothStep (dr);
                for (int col = col0; col <= col1; ++col)
                {
                    const float dc = std::abs ((float) col - cx) / rx;
                    if (dc > 1.0f)
                        continue;
                    const float wc = 1.0f - smoothStep ((dc - 0.68f) / 0.32f);
                    auto& cell = mask[(std::size_t) row * (std::size_t) width + (std::size_t) col];
                    cell = std::max (cell, std::clamp (strength * wr * wc, 0.0f, 0.58f));
                }
            }
        }
        bool changed = false;
        for (std::size_t i = 0; i < mask.size(); ++i)
            if (mask[i] > 0.0f)
            {
                out[i] = (1.0f - mask[i]) * out[i];
                changed = true;
            }
        drawn += changed ? 1 : 0;
    }
    return drawn;
}

} // namespace quorvalen
