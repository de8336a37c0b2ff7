#include "chain/MasterSpectrumSource.h"

#include "dsp/RadixTwoFft.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorvalen
{
namespace
{
constexpr std::uint64_t ringMask = MasterSpectrumSource::ringSize - 1;
static_assert ((MasterSpectrumSource::ringSize & (MasterSpectrumSource::ringSize - 1)) == 0);
} // namespace

void MasterSpectrumSource::prepareToPlay (int samplesPerBlock, double rate)
{
    ChainStage::prepareToPlay (samplesPerBlock, rate);
    sampleRate.store (rate > 0.0 ? rate : 44100.0);
    resetMasterTap();
}

void MasterSpectrumSource::releaseResources()
{
    ChainStage::releaseResources();
    resetMasterTap();
}

void MasterSpectrumSource::resetMasterTap()
{
    for (int i = 0; i < ringSize; ++i)
    {
        ringLeft[i].store (0.0f, std::memory_order_relaxed);
        ringRight[i].store (0.0f, std::memory_order_relaxed);
    }
    framesWritten.store (0, std::memory_order_relaxed);
    std::lock_guard lock (spectrumMutex);
    std::fill (std::begin (smoothedSpectrum), std::end (smoothedSpectrum), 0.0f);
}

void MasterSpectrumSource::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    if (! pullInput (info))
        return;
    const auto* buffer = info.buffer;
    if (buffer == nullptr || info.numSamples < 1 || buffer->getNumChannels() < 1)
        return;

    const float* left = buffer->getReadPointer (0, info.startSample);
    const float* right = buffer->getNumChannels() > 1 ? buffer->getReadPointer (1, info.startSample) : left;
    const auto start = framesWritten.load (std::memory_order_relaxed);
    for (int i = 0; i < info.numSamples; ++i)
    {
        const auto slot = (start + (std::uint64_t) i) & ringMask;
        ringLeft[slot].store (left[i], std::memory_order_relaxed);
        ringRight[slot].store (right[i], std::memory_order_relaxed);
    }
    framesWritten.store (start + (std::uint64_t) info.numSamples, std::memory_order_relaxed);
}

int MasterSpectrumSource::getMasterStereoScope (float* left, float* right, int n) const
{
    if (left == nullptr || right == nullptr || n < 1)
        return -1;
    const auto written = framesWritten.load (std::memory_order_relaxed);
    const int m = (int) std::min<std::uint64_t> ({ (std::uint64_t) n, written, (std::uint64_t) ringSize });
    const int pad = n - m;
    std::fill (left, left + pad, 0.0f);
    std::fill (right, right + pad, 0.0f);
    float peak = 0.0f;
    for (int k = 0; k < m; ++k)
    {
        const auto slot = (written - (std::uint64_t) m + (std::uint64_t) k) & ringMask;
        left[pad + k] = ringLeft[slot].load (std::memory_order_relaxed);
        right[pad + k] = ringRight[slot].load (std::memory_order_relaxed);
        peak = std::max ({ peak, std::abs (left[pad + k]), std::abs (right[pad + k]) });
    }
    return peak > 1e-5f ? 1 : 0;
}

int MasterSpectrumSource::getMasterSpectrum (float* out, int n)
{
    if (out == nullptr || n < 1)
        return -1;

    constexpr int size = 2048;
    std::vector<float> data (2 * size, 0.0f);
    const auto written = framesWritten.load (std::memory_order_relaxed);
    float peak = 0.0f;
    if (written >= (std::uint64_t) size)
    {
        constexpr float twoPi = 6.2831855f;
        for (int j = 0; j < size; ++j)
        {
            const float s = ringLeft[(written - size + (std::uint64_t) j) & ringMask].load (std::memory_order_relaxed);
            peak = std::max (peak, std::abs (s));
            const float window = 0.5f - 0.5f * std::cos (twoPi * (float) j / 2047.0f);
            data[(size_t) (2 * j)] = window * s;
        }
    }
    fft2048 (data.data());

    std::lock_guard lock (spectrumMutex);
    float maxSmoothed = 0.0f;
    for (int k = 0; k < spectrumBins; ++k)
    {
        const float mag = std::hypot (data[(size_t) (2 * k)], data[(size_t) (2 * k + 1)]);
        const float d = (20.0f * std::log10 (std::max (mag / 512.0f, 1e-8f)) + 100.0f) / 70.0f;
        smoothedSpectrum[k] = 0.35f * smoothedSpectrum[k] + 0.65f * std::clamp (d, 0.0f, 1.0f);
        maxSmoothed = std::max (maxSmoothed, smoothedSpectrum[k]);
    }
    for (int i = 0; i < n; ++i)
    {
        const auto bin = (std::int64_t) i * spectrumBins / n;
        out[i] = smoothedSpectrum[std::min<std::int64_t> (bin, spectrumBins - 1)];
    }
    return (peak > 1e-5f || maxSmoothed > 0.01f) ? 1 : 0;
}

int MasterSpectrumSource::getMasterPitch (float* outHz) const
{
    if (outHz == nullptr)
        return -1;
    *outHz = 0.0f;
    constexpr int frames = 8192, count = 2048;
    const auto written = framesWritten.load (std::memory_order_relaxed);
    if (written < (std::uint64_t) frames)
        return 0;

    std::vector<float> x (count);
    const auto first = written - frames;
    double mean = 0.0;
    for (int j = 0; j < count; ++j)
    {
        float sum = 0.0f;
        for (int k = 0; k < 4; ++k)
            sum += ringLeft[(first + (std::uint64_t) (4 * j + k)) & ringMask].load (std::memory_order_relaxed);
        x[(size_t) j] = 0.25f * sum;
        mean += x[(size_t) j];
    }
    mean /= count;
    double squares = 0.0;
    for (auto& v : x)
    {
        v = (float) (v - mean);
        squares += (double) v * v;
    }
    if (std::sqrt (squares / count) < 0.0001)
        return 0;

    const double fs = sampleRate.load() * 0.25;
    const int minLag = std::max ((int) std::floor (fs / 1200.0), 2);
    const int maxLag = std::min ((int) std::ceil (fs / 40.0), count - 2);
    if (maxLag <= minLag)
        return 0;

    std::vector<float> r ((size_t) maxLag + 2, 0.0f);
    float best = 0.0f;
    int bestLag = 0;
    for (int lag = minLag; lag <= maxLag; ++lag)
    {
        double sxy = 0.0, sxx = 0.0, syy = 0.0;
        for (int i = 0; i < count - lag; ++i)
        {
            const double a = x[(size_t) i], b = x[(size_t) (i + lag)];
            sxy += a * b;
            sxx += a * a;
            syy += b * b;
        }
        const double root = std::sqrt (sxx * syy);
        r[(size_t) lag] = root > 1e-12 ? (float) (sxy / root) : 0.0f;
        if (r[(size_t) lag] > 0.0f && r[(size_t) lag] > best)
        {
            best = r[(size_t) lag];
            bestLag = lag;
        }
    }
    if (bestLag < 1 || best < 0.38f)
        return 0;

    const float threshold = std::max (0.86f * best, 0.38f);
    int chosen = bestLag;
    for (int lag = minLag + 1; lag < bestLag; ++lag)
    {
        const float v = r[(size_t) lag];
        if (v >= threshold && v >= r[(size_t) lag - 1] && v >= r[(size_t) lag + 1])
        {
            chosen = lag;
            break;
        }
    }

    // A lag at either end of the range is no peak, only the slope of a tone outside
    // it (at 48 and 96 kHz the lowest lag is exactly 1200 Hz): no detection.
    if (chosen <= minLag || chosen >= maxLag)
        return 0;
    double lag = chosen;
    const double a = r[(size_t) chosen - 1], b = r[(size_t) chosen], c = r[(size_t) chosen + 1];
    const double den = a - 2.0 * b + c;
    if (std::abs (den) > 1e-9)
        lag += std::clamp (0.5 * (a - c) / den, -0.5, 0.5);
    const float hz = (float) (fs / std::max (lag, 1.0));
    if (! std::isfinite (hz) || hz < 40.0f || hz > 1200.0f)
        return 0;
    *outHz = hz;
    return 1;
}

void fft2048 (float* data)
{
    // The spectral editor's transform, arithmetic for arithmetic the one this tap
    // always used, so the spectrum it publishes is unchanged to the bit.
    dsp::fftComplexInPlace (reinterpret_cast<std::complex<float>*> (data), 2048, false);
}

} // namespace quorvalen
