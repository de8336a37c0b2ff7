#include "spectral/CqtSpectrogram.h"

#include "cache/AudioCache.h"
#include "core/Log.h"
#include "spectral/SpectralBrightness.h"
#include "spectral/SpectralCqt.h"
#include "spectral/SpectralSessions.h"

#include <cmath>

namespace quorvalen
{
namespace
{
// Mix of the channels at 1 / sqrt(K) each; non-finite samples count as 0.
std::vector<float> powerMix (const juce::AudioBuffer<float>& audio)
{
    const int channels = audio.getNumChannels();
    const auto n = (std::size_t) audio.getNumSamples();
    std::vector<float> mix (n, 0.0f);
    const float root = std::sqrt ((float) channels);
    for (int c = 0; c < channels; ++c)
    {
        const float* x = audio.getReadPointer (c);
        for (std::size_t i = 0; i < n; ++i)
            mix[i] += std::isfinite (x[i]) ? x[i] / root : 0.0f;
    }
    return mix;
}

// Per cell the largest magnitude of the coefficients that fall in it.
struct CellMaxima
{
    std::vector<float> value;
    std::vector<std::uint8_t> filled;
};

CellMaxima cellMaxima (const std::vector<float>& mix, double rate, int width, int height)
{
    const cqt::Analyzer analyzer (spectralCqtParams (rate, 0.85, 440.0, false));
    cqt::CoefStore store (analyzer);
    analyzer.analyze (mix, store);
    const int bands = analyzer.bandCount();
    const auto n = (std::int64_t) mix.size();
    CellMaxima cells { std::vector<float> ((std::size_t) width * (std::size_t) height, 0.0f),
                       std::vector<std::uint8_t> ((std::size_t) width * (std::size_t) height, 0) };
    cqt::visit (std::as_const (store), 0, bands, 0, n, [&] (int b, std::int64_t t, const std::complex<float>& c) {
        const float u = n > 1 ? (float) t / (float) (n - 1) : 0.0f;
        const float v = bands > 1 ? (float) b / (float) (bands - 1) : 0.0f;
        const int col = std::clamp ((int) std::lroundf ((float) (width - 1) * u), 0, width - 1);
        const int row = std::clamp ((int) std::lroundf ((float) (height - 1) * v), 0, height - 1);
        const auto i = (std::size_t) row * (std::size_t) width + (std::size_t) col;
        cells.value[i] = std::max (cells.value[i], std::hypot (c.real(), c.imag()));
        cells.filled[i] = 1;
    });
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

// The 3 x 3 binomial kernel with the edge cells repeated.
std::vector<float> smooth (const std::vector<float>& in, int width, int height)
{
    std::vector<float> out (in.size());
    constexpr float weight[3] = { 1.0f, 2.0f, 1.0f };
    for (int r = 0; r < height; ++r)
        for (int k = 0; k < width; ++k)
        {
            float sum = 0.0f;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dk = -1; dk <= 1; ++dk)
                {
                    const int rr = std::clamp (r + dr, 0, height - 1), kk = std::clamp (k + dk, 0, width - 1);
                    sum +=
                        weight[dr + 1] * weight[dk + 1] * in[(std::size_t) rr * (std::size_t) width + (std::size_t) kk];
                }
            out[(std::size_t) r * (std::size_t) width + (std::size_t) k] = sum / 16.0f;
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
    std::vector<float> mix;
    double rate = 0.0;
    {
        const auto lock = lockEngine (engine);
        if (! engineReady (engine))
            return SpectrogramResult::notReady;
        SpectralEntry entry;
        if (! findSpectralEntry (engine, cacheId, entry))
            return SpectrogramResult::unknownId;
        if (entry.buffer == nullptr || ! (entry.sampleRate > 0.0))
            return SpectrogramResult::noAudio;
        if (entry.buffer->getNumChannels() < 1 || entry.buffer->getNumSamples() < 1)
            return SpectrogramResult::empty;
        rate = entry.sampleRate;
        try
        {
            mix = powerMix (*entry.buffer);
        }
        catch (...)
        {
            return SpectrogramResult::outOfMemory;
        }
    }
    try
    {
        const int w = (int) width, h = (int) height;
        auto cells = cellMaxima (mix, rate, w, h);
        fillRows (cells, w, h);
        const auto smoothed = smooth (cells.value, w, h);
        cells = {};
        const float ref = percentileReference (smoothed);
        for (std::size_t i = 0; i < smoothed.size(); ++i)
            out[i] = cqtBrightness (smoothed[i], ref);
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
