// The body/tail join of two cached sounds, for the host's morph and the renderer.
#include "foundry/FoundryMorph.h"
#include "core/Log.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryStageMath.h"
#include "io/AudioDecode.h"

#include <cmath>
#include <vector>

namespace quorvalen::foundry
{

std::unique_ptr<juce::AudioBuffer<float>> joinSounds (const juce::AudioBuffer<float>& a, double sr,
                                                      const juce::AudioBuffer<float>& b, double rb, float joinMs,
                                                      float crossfadeMs)
{
    if (beyondFoundryLimit (joinMs) || beyondFoundryLimit (crossfadeMs))
        return nullptr;
    const int channels = std::max (a.getNumChannels(), b.getNumChannels());
    const std::int64_t aLength = a.getNumSamples(), bLength = b.getNumSamples();
    // A join or crossfade too long for any buffer makes the result too long (refused below).
    const std::int64_t j = samplesFromMs (std::max (finiteOr (joinMs, 0.0f), 0.0f), sr, maxBufferSamples + 1);
    const std::int64_t x = samplesFromMs (std::max (finiteOr (crossfadeMs, 0.0f), 0.0f), sr, maxBufferSamples + 1);

    const double r = rb / sr;
    const double lbExact = std::round ((double) bLength / r);
    if (! (lbExact <= (double) maxBufferSamples) || j + (std::int64_t) lbExact > maxBufferSamples)
        return nullptr;
    const std::int64_t lb = std::max<std::int64_t> ((std::int64_t) lbExact, 1);
    const std::int64_t total = std::max<std::int64_t> (j + lb, 1);
    auto out = tryAllocateBuffer (channels, total);
    if (out == nullptr)
        return nullptr;
    out->clear();

    const std::int64_t o = std::min (x, std::clamp<std::int64_t> (aLength - j, 0, lb));
    const std::int64_t copied = std::min (aLength, j);
    std::vector<float> resampled ((size_t) lb);
    for (int c = 0; c < channels; ++c)
    {
        const float* bx = b.getReadPointer (std::min (c, b.getNumChannels() - 1));
        for (std::int64_t i = 0; i < lb; ++i)
        {
            const double p = (double) i * r;
            const std::int64_t i0 = std::min ((std::int64_t) std::floor (p), bLength - 1);
            const std::int64_t i1 = std::min (i0 + 1, bLength - 1);
            resampled[(size_t) i] = bx[i0] + (bx[i1] - bx[i0]) * (float) (p - (double) i0);
        }

        const float* ax = a.getReadPointer (std::min (c, a.getNumChannels() - 1));
        float* y = out->getWritePointer (c);
        std::copy (ax, ax + copied, y);
        if (o >= 1)
        {
            if (findCoherentPhaseHandover (ax, aLength, j, resampled.data(), lb, o, sr, y + j))
                logLine ("[KOLVANE JOIN] coherent phase handover %.1f ms\n", (double) o * 1000.0 / sr);
            else
                constantQHandover (ax + j, resampled.data(), o, sr, y + j);
        }
        std::copy (resampled.begin() + o, resampled.end(), y + j + o);
    }
    return out;
}

namespace
{

struct MorphPair
{
    CacheEntry* first = nullptr;
    CacheEntry* second = nullptr;
    int code = done;
};

// The morph's tests in their order. Caller holds the engine mutex.
MorphPair findMorphPair (QuorvalenEngine& engine, std::int32_t firstId, std::int32_t secondId)
{
    if (! engineHasDevice (engine))
        return { nullptr, nullptr, notReady };
    const auto a = lookupEntry (engine, firstId, Needs::buffer);
    if (a.code == unknownId)
        return { nullptr, nullptr, 2 };
    const auto b = lookupEntry (engine, secondId, Needs::buffer);
    if (b.code == unknownId)
        return { nullptr, nullptr, 3 };
    if (a.entry == nullptr || b.entry == nullptr)
        return { nullptr, nullptr, noBuffer };
    if (! (a.entry->sampleRate > 0.0) || ! (b.entry->sampleRate > 0.0) || ! std::isfinite (a.entry->sampleRate)
        || ! std::isfinite (b.entry->sampleRate))
        return { nullptr, nullptr, badRate };
    for (const auto* e : { a.entry, b.entry })
        if (e->buffer->getNumChannels() < 1 || e->buffer->getNumSamples() < 1)
            return { nullptr, nullptr, emptyAudio };
    return { a.entry, b.entry, done };
}

constexpr int morphFailed = 7;

} // namespace

int playBodyTailMorph (QuorvalenEngine& engine, std::int32_t firstId, std::int32_t secondId, float joinMs,
                       float crossfadeMs, bool play)
{
    const auto lock = lockEngine (engine);
    const auto pair = findMorphPair (engine, firstId, secondId);
    if (pair.code != done)
        return pair.code;
    // Refused before playback stops or anything is allocated.
    if (beyondFoundryLimit (joinMs) || beyondFoundryLimit (crossfadeMs))
        return morphFailed;
    if (play)
        stopEnginePlayback (engine);
    try
    {
        auto joined = joinSounds (*pair.first->buffer, pair.first->sampleRate, *pair.second->buffer,
                                  pair.second->sampleRate, joinMs, crossfadeMs);
        if (joined == nullptr)
            return morphFailed;
        const double rate = pair.first->sampleRate;
        replacePlaybackBuffer (engine, std::move (joined));
        if (play)
            playPlaybackBuffer (engine, rate, false);
        return done;
    }
    catch (...)
    {
        return morphFailed;
    }
}

int joinFoundryLayers (QuorvalenEngine& engine, std::int32_t firstId, std::int32_t secondId, float joinMs,
                       float crossfadeMs, std::unique_ptr<juce::AudioBuffer<float>>& out)
{
    try
    {
        // Copies: another export may erase the entries while the join runs unlocked.
        juce::AudioBuffer<float> a, b;
        double ra = 0.0, rb = 0.0;
        {
            const auto lock = lockEngine (engine);
            const auto pair = findMorphPair (engine, firstId, secondId);
            if (pair.code != done)
                return pair.code;
            if (beyondFoundryLimit (joinMs) || beyondFoundryLimit (crossfadeMs))
                return morphFailed;
            a.makeCopyOf (*pair.first->buffer);
            b.makeCopyOf (*pair.second->buffer);
            ra = pair.first->sampleRate;
            rb = pair.second->sampleRate;
        }
        auto joined = joinSounds (a, ra, b, rb, joinMs, crossfadeMs);
        if (joined == nullptr)
            return morphFailed;
        out = std::move (joined);
        return done;
    }
    catch (...)
    {
        return morphFailed;
    }
}

} // namespace quorvalen::foundry
