#include "spectral/stft/SpectralStft.h"

#include "spectral/SpectralSession.h"
#include "spectral/stft/StftTransform.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace quorvalen
{
namespace
{
using Complex = std::complex<float>;

bool matchesSession (const SpectralSession& session, const juce::AudioBuffer<float>& buffer)
{
    return buffer.getNumSamples() == session.numSamples && buffer.getNumChannels() >= 1;
}

int stateChannels (const SpectralSession& session, const juce::AudioBuffer<float>& buffer)
{
    return std::min (buffer.getNumChannels(), session.numChannels);
}

void fillWindow (SpectralSession& session)
{
    if (session.stftWindow.size() == (std::size_t) stftSize)
        return;
    session.stftWindow.resize (stftSize);
    for (int i = 0; i < stftSize; ++i)
        session.stftWindow[(std::size_t) i] =
            0.5f - 0.5f * std::cos (2.0f * juce::MathConstants<float>::pi * (float) i / (float) stftSize);
}

// Non-finite samples of the live copy are read as 0, so that one of them cannot
// spread over every bin of the frames that see it, and of the other channel.
float finiteOrZero (float v)
{
    return std::isfinite (v) ? v : 0.0f;
}

// Frames f with [f * hop - 512, f * hop + 512) meeting [start, end).
std::pair<std::int64_t, std::int64_t> framesMeeting (std::int64_t frames, std::int64_t start, std::int64_t end)
{
    const auto first = std::max<std::int64_t> (0, (start - stftSize / 2) / stftHop);
    auto last = (end - 1 + stftSize / 2) / stftHop + 1;
    last = std::min (last, frames);
    return { first, std::max (first, last) };
}

// Two real channels share one complex transform: channel 0 in the real part,
// channel 1 in the imaginary part, separated by the symmetry of real spectra.
// Sample s of channel c is x[c][s - offset]; x holds every sample the frames read.
void analyseFrames (SpectralSession& session, const float* const* x, std::int64_t offset, std::int64_t firstFrame,
                    std::int64_t endFrame)
{
    const auto n = (std::int64_t) session.numSamples;
    const float* w = session.stftWindow.data();
    std::vector<Complex> frame (stftSize);
    for (std::size_t c = 0; c < session.stftBins.size(); c += 2)
    {
        const bool pair = c + 1 < session.stftBins.size();
        const float* x0 = x[c];
        const float* x1 = pair ? x[c + 1] : nullptr;
        for (auto f = firstFrame; f < endFrame; ++f)
        {
            const auto origin = f * stftHop - stftSize / 2;
            for (int i = 0; i < stftSize; ++i)
            {
                const auto s = origin + i;
                const bool inside = s >= 0 && s < n;
                frame[(std::size_t) i] = { inside ? finiteOrZero (x0[s - offset]) * w[i] : 0.0f,
                                           inside && pair ? finiteOrZero (x1[s - offset]) * w[i] : 0.0f };
            }
            stftTransform (frame, false);
            Complex* b0 = session.stftBins[c].data() + f * stftBinCount;
            if (! pair)
            {
                std::copy_n (frame.begin(), stftBinCount, b0);
                continue;
            }
            Complex* b1 = session.stftBins[c + 1].data() + f * stftBinCount;
            for (int k = 0; k < stftBinCount; ++k)
            {
                const Complex z = frame[(std::size_t) k];
                const Complex m = std::conj (frame[(std::size_t) ((stftSize - k) & (stftSize - 1))]);
                b0[k] = { 0.5f * (z.real() + m.real()), 0.5f * (z.imag() + m.imag()) };
                // (z - m) / 2i
                b1[k] = { 0.5f * (z.imag() - m.imag()), -0.5f * (z.real() - m.real()) };
            }
        }
    }
}
} // namespace

void clearStftState (SpectralSession& session)
{
    session.stftFrames = 0;
    session.stftBins.clear();
    session.stftBins.shrink_to_fit();
}

bool buildStftState (SpectralSession& session, const juce::AudioBuffer<float>& buffer)
{
    const int channels = stateChannels (session, buffer);
    if (channels < 1 || ! matchesSession (session, buffer))
    {
        clearStftState (session);
        return false;
    }
    try
    {
        fillWindow (session);
        const int frames = std::max (1, session.numSamples / stftHop + 1);
        const auto values = (std::size_t) frames * stftBinCount;
        // The state of a session keeps its size, so a rebuild reuses the storage.
        session.stftBins.resize ((std::size_t) channels);
        for (auto& bins : session.stftBins)
            bins.resize (values);
        session.stftFrames = frames;
        const float* x[2] = { buffer.getReadPointer (0), channels > 1 ? buffer.getReadPointer (1) : nullptr };
        analyseFrames (session, x, 0, 0, frames);
        return true;
    }
    catch (const std::bad_alloc&)
    {
        clearStftState (session);
        return false;
    }
}

bool stftStateBuilt (const SpectralSession& session, int channels)
{
    return session.stftFrames >= 1 && session.stftWindow.size() == (std::size_t) stftSize
        && session.stftBins.size() == (std::size_t) std::min (channels, session.numChannels);
}

IndexSpan stftFramesSeeing (const SpectralSession& session, IndexSpan samples)
{
    const auto start = std::clamp<std::int64_t> (samples.start, 0, session.numSamples);
    const auto end = std::clamp<std::int64_t> (samples.end, start, session.numSamples);
    if (end <= start)
        return {};
    const auto [first, last] = framesMeeting (session.stftFrames, start, end);
    return { first, last };
}

IndexSpan stftSamplesRead (const SpectralSession& session, IndexSpan frames)
{
    if (frames.end <= frames.start)
        return {};
    const auto start = std::clamp<std::int64_t> (frames.start * stftHop - stftSize / 2, 0, session.numSamples);
    const auto end = std::clamp<std::int64_t> ((frames.end - 1) * stftHop + stftSize / 2, start, session.numSamples);
    return { start, end };
}

std::vector<IndexSpan> stftFramesSeeing (const SpectralSession& session, const std::vector<IndexSpan>& samples)
{
    std::vector<IndexSpan> frames;
    frames.reserve (samples.size());
    for (const auto& span : samples)
        frames.push_back (stftFramesSeeing (session, span));
    // Each frame once, even where the spans of two changes share it.
    return mergeSpans (std::move (frames));
}

bool refreshStftFrames (SpectralSession& session, const SampleWindow& audio, const std::vector<IndexSpan>& frames,
                        const std::function<bool()>& stop)
{
    if (! stftStateBuilt (session, audio.channels) || audio.channels < 1)
        return false;
    for (const auto& f : frames)
        if (! audio.holds (stftSamplesRead (session, f)) || f.start < 0 || f.end > session.stftFrames)
            return false;
    const float* x[2] = { audio.channel (0), audio.channels > 1 ? audio.channel (1) : nullptr };
    // In pieces, asking between them whether to stop.
    constexpr std::int64_t piece = 4096;
    for (const auto& f : frames)
        for (auto first = f.start; first < f.end; first += piece)
        {
            if (stop && stop())
                return false;
            analyseFrames (session, x, audio.start, first, std::min (f.end, first + piece));
        }
    return true;
}

int resynthesiseSessionStft (SpectralSession& session, juce::AudioBuffer<float>& buffer, std::int64_t start,
                             std::int64_t end)
{
    if (! matchesSession (session, buffer) || session.stftFrames < 1
        || session.stftWindow.size() != (std::size_t) stftSize || session.stftBins.empty())
        return -1;
    const auto s = std::clamp<std::int64_t> (start, 0, session.numSamples);
    const auto e = std::clamp<std::int64_t> (end, s, session.numSamples);
    const auto length = e - s;
    if (length < 1)
        return 0;

    const auto channels = std::min<std::size_t> (session.stftBins.size(), (std::size_t) buffer.getNumChannels());
    const float* w = session.stftWindow.data();
    const auto [firstFrame, endFrame] = framesMeeting (session.stftFrames, s, e);
    std::vector<float> num0 ((std::size_t) length), num1 ((std::size_t) length), den ((std::size_t) length);
    std::vector<Complex> frame (stftSize);
    for (auto f = firstFrame; f < endFrame; ++f)
    {
        const auto origin = f * stftHop - stftSize / 2;
        const auto from = std::max (origin, s), to = std::min (origin + stftSize, e);
        for (auto n = from; n < to; ++n)
            den[(std::size_t) (n - s)] += w[n - origin] * w[n - origin];
    }
    // Two channels per inverse transform: X0 + i X1 gives x0 + i x1 for real x0, x1.
    for (std::size_t c = 0; c < channels; c += 2)
    {
        const bool pair = c + 1 < channels;
        std::fill (num0.begin(), num0.end(), 0.0f);
        std::fill (num1.begin(), num1.end(), 0.0f);
        for (auto f = firstFrame; f < endFrame; ++f)
        {
            const Complex* b0 = session.stftBins[c].data() + f * stftBinCount;
            const Complex* b1 = pair ? session.stftBins[c + 1].data() + f * stftBinCount : nullptr;
            for (int k = 0; k < stftBinCount; ++k)
                frame[(std::size_t) k] =
                    pair ? Complex (b0[k].real() - b1[k].imag(), b0[k].imag() + b1[k].real()) : b0[k];
            for (int k = 1; k < stftSize / 2; ++k)
            {
                const Complex m0 = std::conj (b0[k]);
                frame[(std::size_t) (stftSize - k)] =
                    pair ? Complex (m0.real() + b1[k].imag(), m0.imag() + b1[k].real()) : m0;
            }
            stftTransform (frame, true);
            const auto origin = f * stftHop - stftSize / 2;
            const auto from = std::max (origin, s), to = std::min (origin + stftSize, e);
            for (auto n = from; n < to; ++n)
            {
                const auto i = (std::size_t) (n - origin);
                num0[(std::size_t) (n - s)] += w[i] * frame[i].real();
                num1[(std::size_t) (n - s)] += w[i] * frame[i].imag();
            }
        }
        for (std::size_t k = 0; k < (pair ? 2u : 1u); ++k)
        {
            const auto& num = k == 0 ? num0 : num1;
            float* x = buffer.getWritePointer ((int) (c + k));
            for (std::int64_t i = 0; i < length; ++i)
                if (den[(std::size_t) i] > 1e-8f)
                    x[s + i] = num[(std::size_t) i] / den[(std::size_t) i];
        }
    }
    return 0;
}

} // namespace quorvalen
