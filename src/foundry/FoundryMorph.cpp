// The body/tail join of two cached sounds, for the host's morph and the renderer.
#include "foundry/FoundryMorph.h"
#include "cache/EntryCopy.h"
#include "core/Log.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryStageMath.h"
#include "io/AudioDecode.h"

#include <cmath>
#include <optional>
#include <vector>

namespace quorvalen::foundry
{

std::unique_ptr<juce::AudioBuffer<float>> joinSounds (const juce::AudioBuffer<float>& a, double sr,
                                                      const juce::AudioBuffer<float>& b, double rb, float joinMs,
                                                      float crossfadeMs, const std::function<bool()>& stopped)
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
        if (stopped && stopped())
            return nullptr;
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
        if (stopped && stopped())
            return nullptr;
        if (o >= 1)
        {
            if (findCoherentPhaseHandover (ax, aLength, j, resampled.data(), lb, o, sr, y + j))
                logLine ("[KOLVANE JOIN] coherent phase handover %.1f ms\n", (double) o * 1000.0 / sr);
            else if (! constantQHandover (ax + j, resampled.data(), o, sr, y + j, stopped))
                return nullptr;
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

// What a join reads: both entries, followed by a watch from the first read on.
struct JoinReads
{
    std::optional<LongWorkWatch> watch;
    EntryCopy first, second;
    bool same = false; // one entry joined to itself: copied once
};

// The tests, then notes both entries as read. Caller holds the engine mutex.
int readMorphPair (QuorvalenEngine& engine, std::int32_t firstId, std::int32_t secondId, float joinMs,
                   float crossfadeMs, JoinReads& reads)
{
    const auto pair = findMorphPair (engine, firstId, secondId);
    if (pair.code != done)
        return pair.code;
    if (beyondFoundryLimit (joinMs) || beyondFoundryLimit (crossfadeMs))
        return morphFailed;
    reads.watch.emplace (engine);
    noteEntryRead (*reads.watch, (std::uint32_t) firstId, *pair.first, reads.first);
    noteEntryRead (*reads.watch, (std::uint32_t) secondId, *pair.second, reads.second);
    reads.same = firstId == secondId;
    return done;
}

// The code of a join whose entries moved under it: the engine shut down, or an
// entry was unloaded or changed (a cleared cache loses both). Caller holds the
// engine mutex.
int movedEntryCode (QuorvalenEngine& engine, const JoinReads& reads)
{
    if (! engineHasDevice (engine))
        return notReady;
    return entryAsRead (engine, reads.first) ? 3 : 2;
}

// Copies both entries (in short holds of the engine mutex) and joins the copies
// without it: done with `out` set, the moved code, or morphFailed.
int joinReadEntries (QuorvalenEngine& engine, JoinReads& reads, float joinMs, float crossfadeMs,
                     std::unique_ptr<juce::AudioBuffer<float>>& out)
{
    auto& watch = *reads.watch;
    if (! copyEntryAudio (engine, watch, reads.first, reads.first.channels, 0, reads.first.samples)
        || (! reads.same
            && ! copyEntryAudio (engine, watch, reads.second, reads.second.channels, 0, reads.second.samples)))
    {
        const auto lock = lockEngine (engine);
        return movedEntryCode (engine, reads);
    }
    const auto& second = reads.same ? reads.first.audio : reads.second.audio;
    auto joined = joinSounds (reads.first.audio, reads.first.sampleRate, second, reads.second.sampleRate, joinMs,
                              crossfadeMs, [&] { return watch.stopped(); });
    if (joined != nullptr)
    {
        out = std::move (joined);
        return done;
    }
    if (! watch.stopped())
        return morphFailed;
    const auto lock = lockEngine (engine);
    return movedEntryCode (engine, reads);
}

} // namespace

int playBodyTailMorph (QuorvalenEngine& engine, std::int32_t firstId, std::int32_t secondId, float joinMs,
                       float crossfadeMs, bool play)
{
    // Read under the engine mutex; the copies and the join run without it, which
    // is taken again to install (and play) the result.
    JoinReads reads;
    {
        const auto lock = lockEngine (engine);
        // Refused before playback stops or anything is allocated.
        if (const int code = readMorphPair (engine, firstId, secondId, joinMs, crossfadeMs, reads); code != done)
            return code;
        if (play)
            stopEnginePlayback (engine);
    }
    std::unique_lock<FairMutex> lock;
    try
    {
        std::unique_ptr<juce::AudioBuffer<float>> joined;
        if (const int code = joinReadEntries (engine, reads, joinMs, crossfadeMs, joined); code != done)
            return code;
        reads.first.audio = {};
        reads.second.audio = {};
        lock = lockEngine (engine);
        if (! reads.watch->unchanged())
            return movedEntryCode (engine, reads);
        // Whatever another caller started meanwhile gives way, as it would have
        // had the join held the mutex throughout.
        if (play)
            stopEnginePlayback (engine);
        replacePlaybackBuffer (engine, std::move (joined));
        if (play)
            playPlaybackBuffer (engine, reads.first.sampleRate, false);
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
        JoinReads reads;
        {
            const auto lock = lockEngine (engine);
            if (const int code = readMorphPair (engine, firstId, secondId, joinMs, crossfadeMs, reads); code != done)
                return code;
        }
        return joinReadEntries (engine, reads, joinMs, crossfadeMs, out);
    }
    catch (...)
    {
        return morphFailed;
    }
}

} // namespace quorvalen::foundry
