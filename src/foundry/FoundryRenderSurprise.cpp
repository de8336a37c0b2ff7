// Render surprise: the tone stage, the stretch and crush stage and the entry swap.
#include "foundry/FoundryRenderSurprise.h"

#include "cache/EntryCopy.h"
#include "dsp/stretch/StretchUtility.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryNonlinear.h"
#include "foundry/FoundryStageMath.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <random>

namespace quorvalen::foundry
{

namespace
{

using Random = std::mt19937;
using Stop = std::function<bool()>;

std::int64_t draw (Random& random, std::int64_t lo, std::int64_t hi)
{
    return std::uniform_int_distribution<std::int64_t> (lo, hi) (random);
}

Random seededRandom()
{
    const auto ticks = (std::uint64_t) std::chrono::steady_clock::now().time_since_epoch().count();
    std::random_device device;
    std::seed_seq seed { (std::uint32_t) ticks, (std::uint32_t) (ticks >> 32), device(), device() };
    return Random (seed);
}

float intensity (float x)
{
    return std::isfinite (x) && x >= 0.0f ? std::min (x, 100.0f) : 0.0f;
}

void peakNormalise (juce::AudioBuffer<float>& audio)
{
    float peak = 0.0f;
    for (int c = 0; c < audio.getNumChannels(); ++c)
        peak = std::max (peak, audio.getMagnitude (c, 0, audio.getNumSamples()));
    if (peak > 0.0f)
        audio.applyGain (0.95f / peak);
}

void chopSurpriseSegments (juce::AudioBuffer<float>& audio, double sr, float i, Random& random)
{
    const double p = i / 100.0;
    const std::int64_t n = audio.getNumSamples();
    if (i >= 30.0f)
    {
        const std::int64_t lo = std::max<std::int64_t> ((std::int64_t) (0.05 * sr), 1);
        const std::int64_t hi = std::max (lo, (std::int64_t) (0.25 * sr));
        for (int k = 0, count = (int) (5.0 * p + 1.0); k < count; ++k)
        {
            const std::int64_t len = draw (random, lo, hi);
            if (n <= len)
                continue;
            const std::int64_t start = draw (random, 0, n - len);
            for (int c = 0; c < audio.getNumChannels(); ++c)
            {
                float* x = audio.getWritePointer (c) + start;
                std::reverse (x, x + len);
            }
        }
    }
    if (i >= 35.0f)
    {
        std::int64_t lo = (std::int64_t) (0.015 * sr);
        lo = lo < 2 ? 1 : lo;
        const std::int64_t hi = std::max (lo, (std::int64_t) (0.08 * sr));
        std::vector<float> slice;
        for (int k = 0, count = (int) (8.0 * p + 3.0); k < count; ++k)
        {
            const std::int64_t s = draw (random, lo, hi);
            if (n <= 3 * s)
                continue;
            const std::int64_t start = draw (random, 0, n - 3 * s);
            const std::int64_t fade = std::min<std::int64_t> (s / 4, 200);
            for (int c = 0; c < audio.getNumChannels(); ++c)
            {
                float* x = audio.getWritePointer (c);
                slice.assign (x + start, x + start + s);
                if (fade > 1)
                    for (std::int64_t j = 0; j < fade; ++j)
                    {
                        const float g = (float) j / (float) (fade - 1);
                        slice[(size_t) j] *= g;
                        slice[(size_t) (s - 1 - j)] *= g;
                    }
                for (int r = 0; r < 3; ++r)
                    std::copy (slice.begin(), slice.end(), x + start + r * s);
            }
        }
    }
}

void smoothSurpriseChannels (juce::AudioBuffer<float>& audio)
{
    const int reach = audio.getNumChannels() > 1 ? 2 : 1;
    const float taps = (float) (2 * reach + 1);
    const std::int64_t n = audio.getNumSamples();
    std::vector<float> copy;
    for (int c = 0; c < audio.getNumChannels(); ++c)
    {
        float* x = audio.getWritePointer (c);
        copy.assign (x, x + n);
        for (std::int64_t i = 0; i < n; ++i)
        {
            float sum = 0.0f;
            for (std::int64_t k = std::max<std::int64_t> (i - reach, 0); k <= std::min (i + reach, n - 1); ++k)
                sum += copy[(size_t) k];
            x[i] = sum / taps;
        }
    }
}

// False when `stopped` says so (asked before and after the drive).
bool applySurpriseTone (juce::AudioBuffer<float>& audio, double sr, float i, Random& random, const Stop& stopped)
{
    if (i <= 20.0f)
        return true;
    const double p = i / 100.0;
    chopSurpriseSegments (audio, sr, i, random);
    if (i >= 60.0f)
    {
        const std::int64_t d = draw (random, 80, 900);
        const float m = (float) std::min (0.45 * p, 0.45);
        const std::int64_t n = audio.getNumSamples();
        std::vector<float> copy;
        for (int c = 0; c < audio.getNumChannels(); ++c)
        {
            float* x = audio.getWritePointer (c);
            copy.assign (x, x + n);
            for (std::int64_t k = 0; k < n; ++k)
                x[k] = (1.0f - m) * copy[(size_t) k] + m * (k >= d ? copy[(size_t) (k - d)] : 0.0f);
        }
    }
    if (stopped())
        return false;
    if (i >= 50.0f)
        tanhDriveOversampled (audio, (float) (1.0 + 6.0 * p));
    if (stopped())
        return false;
    smoothSurpriseChannels (audio);
    peakNormalise (audio);
    return true;
}

bool stretchCrushSurprise (juce::AudioBuffer<float>& audio, double sr, float j, std::int32_t stretchMode,
                           const Stop& stopped)
{
    if (j <= 0.0f)
        return true;
    const std::int64_t n = audio.getNumSamples();
    if (n < 1)
        return false;
    const double q = j / 100.0;
    const double f = 1.0 + 4.0 * q;
    const double nExact = std::trunc ((double) n * f);
    if (nExact < 1.0 || nExact > (double) std::numeric_limits<int>::max())
        return false;
    const auto big = (std::int64_t) nExact;

    juce::AudioBuffer<float> out;
    if (stretchMode != 0)
    {
        if (! stretchBufferDefault (audio, out, sr, f, stopped))
            return false;
    }
    else
    {
        out.setSize (audio.getNumChannels(), (int) big);
        for (int c = 0; c < audio.getNumChannels(); ++c)
        {
            const float* s = audio.getReadPointer (c);
            float* y = out.getWritePointer (c);
            for (std::int64_t k = 0; k < big; ++k)
            {
                const double x = big == 1 ? 0.0 : (double) (n - 1) * (double) k / (double) (big - 1);
                const std::int64_t i0 = std::clamp<std::int64_t> ((std::int64_t) std::floor (x), 0, n - 1);
                const std::int64_t i1 = std::min (i0 + 1, n - 1);
                y[k] = s[i0] + (s[i1] - s[i0]) * (float) (x - (double) i0);
            }
        }
    }

    if (stopped())
        return false;
    const int bits = std::clamp ((int) (32.0 - 29.0 * q), 3, 32);
    const double scale = std::ldexp (1.0, bits);
    for (int c = 0; c < out.getNumChannels(); ++c)
    {
        float* y = out.getWritePointer (c);
        for (int k = 0; k < out.getNumSamples(); ++k)
            y[k] = (float) (std::round ((double) y[k] * scale) / scale);
    }
    audio = std::move (out);
    return true;
}

} // namespace

bool renderSurprise (juce::AudioBuffer<float>& audio, double sr, float a, float b, std::int32_t stretchMode,
                     std::int32_t order, const std::function<bool()>& stopRequested)
{
    const Stop stopped = [&] { return stopRequested && stopRequested(); };
    if (audio.getNumChannels() < 1 || audio.getNumSamples() < 1 || ! (sr > 0.0) || ! std::isfinite (sr))
        return false;
    const float ia = intensity (a), ib = intensity (b);
    if (ia <= 0.0f && ib <= 0.0f)
        return true;
    auto random = seededRandom();
    if (order == 1)
    {
        if (! stretchCrushSurprise (audio, sr, ib, stretchMode, stopped)
            || ! applySurpriseTone (audio, sr, ia, random, stopped))
            return false;
    }
    else
    {
        if (! applySurpriseTone (audio, sr, ia, random, stopped)
            || ! stretchCrushSurprise (audio, sr, ib, stretchMode, stopped))
            return false;
    }
    for (int c = 0; c < audio.getNumChannels(); ++c)
        juce::FloatVectorOperations::clip (audio.getWritePointer (c), audio.getReadPointer (c), -0.97f, 0.97f,
                                           audio.getNumSamples());
    peakNormalise (audio);
    return true;
}

namespace
{
// The code of a render whose entry moved under it (the engine mutex held): -2 when
// it went (unloaded, the cache cleared, the engine shut down), -5 when another
// writer changed it (that change stands).
int movedEntryCode (QuorvalenEngine& engine, const EntryCopy& read)
{
    return findCacheEntry (engine, read.id) == nullptr ? -2 : -5;
}
} // namespace

int applyRenderSurprise (QuorvalenEngine& engine, std::int32_t id, float a, float b, std::int32_t stretchMode,
                         std::int32_t order)
{
    // Read under the engine mutex; the copy and the render run without it, which
    // is taken again to swap the result in.
    std::optional<LongWorkWatch> watch;
    EntryCopy read;
    {
        const auto lock = lockEngine (engine);
        const auto found = lookupEntry (engine, id, Needs::bufferAndRate);
        if (found.entry == nullptr)
            return found.code == unknownId ? -2 : (found.code == noBuffer ? -3 : -4);
        // Each call may make the sound up to five times longer: a result past the
        // Foundry's limit is refused before anything changes.
        if (const float ib = intensity (b); ib > 0.0f)
        {
            const double grown = std::ceil ((double) found.entry->buffer->getNumSamples() * (1.0 + 4.0 * (ib / 100.0)));
            if (grown > (double) maxFoundrySamples (found.entry->sampleRate))
                return -5;
        }
        advanceFoundryGeneration (engine);
        watch.emplace (engine);
        noteEntryRead (*watch, (std::uint32_t) id, *found.entry, read);
    }
    juce::AudioBuffer<float> replaced; // freed once the mutex is released
    std::unique_lock<FairMutex> lock;
    try
    {
        // A failure must not leave the sound half processed: the work is on a copy.
        if (! copyEntryAudio (engine, *watch, read, read.channels, 0, read.samples))
        {
            lock = lockEngine (engine);
            return movedEntryCode (engine, read);
        }
        if (! renderSurprise (read.audio, read.sampleRate, a, b, stretchMode, order, [&] { return watch->stopped(); }))
        {
            if (! watch->stopped())
                return -5;
            lock = lockEngine (engine);
            return movedEntryCode (engine, read);
        }
        lock = lockEngine (engine);
        const auto found = lookupEntry (engine, id, Needs::buffer);
        if (found.entry == nullptr || ! watch->unchanged())
            return movedEntryCode (engine, read);
        // A preview rendered from the sound meanwhile must not be kept.
        advanceFoundryGeneration (engine);
        detachPlaybackOf (engine, id);
        replaced = std::move (*found.entry->buffer);
        *found.entry->buffer = std::move (read.audio);
        markCacheEntryChanged (engine, *found.entry);
        return 0;
    }
    catch (...)
    {
        return -5;
    }
}

} // namespace quorvalen::foundry
