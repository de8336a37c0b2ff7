#include "spectral/SpectralSessions.h"

#include "cache/AudioCache.h"
#include "cache/SessionTable.h"
#include "core/Log.h"
#include "playback/Playback.h"
#include "spectral/SpectralSession.h"
#include "spectral/stft/SpectralStft.h"

namespace quorvalen
{
namespace
{
// Two channels: a mono source is duplicated, a wider one gives its first two.
// `copy` has the source's length and was written before the hold.
void stereoCopy (const juce::AudioBuffer<float>& source, juce::AudioBuffer<float>& copy)
{
    const int n = source.getNumSamples();
    if (source.hasBeenCleared())
    {
        copy.clear();
        return;
    }
    for (int c = 0; c < 2; ++c)
        copy.copyFrom (c, 0, source, std::min (c, source.getNumChannels() - 1), 0, n);
}

// The source as it is now: its code, length and rate, and the cache's generation.
struct SourceShape
{
    SessionOpenCode code = SessionOpenCode::notReady;
    int samples = 0;
    double sampleRate = 0.0;
    std::uint64_t generation = 0;
};

SourceShape sourceShape (QuorvalenEngine& engine, std::int32_t cacheId, CacheEntry*& source)
{
    SourceShape shape;
    source = nullptr;
    if (! engineReady (engine))
        return shape;
    shape.code = findSessionSource (engine, cacheId, source);
    if (shape.code != SessionOpenCode::found)
        return shape;
    shape.samples = source->buffer->getNumSamples();
    shape.sampleRate = source->sampleRate;
    shape.generation = cacheGeneration (engine);
    return shape;
}

// Copies the source in a short hold into a buffer made before it: the source
// copied, or the code that refuses it.
SessionOpenCode copySource (QuorvalenEngine& engine, std::int32_t cacheId, juce::AudioBuffer<float>& live,
                            SourceShape& shape)
{
    for (;;)
    {
        {
            const auto lock = lockEngine (engine);
            CacheEntry* source = nullptr;
            shape = sourceShape (engine, cacheId, source);
            if (shape.code != SessionOpenCode::found)
                return shape.code;
            if (live.getNumSamples() == shape.samples && live.getNumChannels() == 2)
            {
                stereoCopy (*source->buffer, live);
                return SessionOpenCode::found;
            }
        }
        // (Re)sized outside the hold, every page written, and looked at again.
        live.setSize (2, shape.samples, false, false, false);
        for (int c = 0; c < 2; ++c)
            juce::FloatVectorOperations::clear (live.getWritePointer (c), shape.samples);
    }
}
} // namespace

juce::AudioBuffer<float>* sessionLiveBuffer (QuorvalenEngine& engine, const SpectralSession& session)
{
    auto* live = findCacheEntry (engine, session.liveCacheId);
    if (live == nullptr || live->buffer == nullptr || live->buffer->getNumSamples() != session.numSamples
        || live->buffer->getNumChannels() < 1)
        return nullptr;
    return live->buffer.get();
}

const juce::AudioBuffer<float>* sessionSourceBuffer (QuorvalenEngine& engine, const SpectralSession& session)
{
    auto* source = findCacheEntry (engine, session.sourceCacheId);
    if (source == nullptr || source->buffer == nullptr || source->buffer->getNumSamples() != session.numSamples
        || source->buffer->getNumChannels() < 1)
        return nullptr;
    return source->buffer.get();
}

bool findSpectralEntry (QuorvalenEngine& engine, std::int32_t cacheId, SpectralEntry& entry)
{
    entry = {};
    if (cacheId < 1)
        return false;
    auto* found = findCacheEntry (engine, (std::uint32_t) cacheId);
    if (found == nullptr)
        return false;
    entry.buffer = found->buffer.get();
    entry.sampleRate = found->sampleRate;
    return true;
}

int beginCqtSpectralSession (QuorvalenEngine& engine, std::int32_t cacheId, std::uint32_t* outLiveCacheId,
                             float* outSeconds)
{
    if (outLiveCacheId == nullptr || outSeconds == nullptr)
        return (int) SessionOpenCode::nullOutput;
    // The source is copied in a short hold and the STFT state built without the
    // engine lock; the session is added in a last hold, unless the engine shut
    // down or the source went meanwhile.
    try
    {
        auto live = std::make_unique<juce::AudioBuffer<float>>();
        SourceShape shape;
        if (const auto code = copySource (engine, cacheId, *live, shape); code != SessionOpenCode::found)
            return (int) code;
        auto session = std::make_shared<SpectralSession>();
        session->sourceCacheId = (std::uint32_t) cacheId;
        session->numSamples = live->getNumSamples();
        session->numChannels = 2;
        session->sampleRate = shape.sampleRate;
        if (! buildStftState (*session, *live))
            return (int) SessionOpenCode::outOfMemory;

        const auto lock = lockEngine (engine);
        if (! engineReady (engine))
            return (int) SessionOpenCode::notReady;
        if (cacheGeneration (engine) != shape.generation || findCacheEntry (engine, (std::uint32_t) cacheId) == nullptr)
            return (int) SessionOpenCode::unknownId;
        auto& table = spectralSessionTable (engine);
        table.reserveOne();
        const auto liveId =
            insertCacheEntry (engine, CacheEntry { std::move (live), shape.sampleRate, spectralLiveLabel });
        session->liveCacheId = liveId;
        const auto seconds = (float) (session->numSamples / shape.sampleRate);
        auto& opened = *session;
        std::uint32_t sessionId = 0;
        try
        {
            sessionId = table.add (std::move (session));
        }
        catch (...)
        {
            eraseCacheEntry (engine, liveId); // never a copy without its session
            return (int) SessionOpenCode::outOfMemory;
        }
        opened.id = sessionId;
        *outLiveCacheId = liveId;
        *outSeconds = seconds;
        logOut ("[QUORVALEN WEB STFT DOUBLE KNIFE 1.0.2] session %d opened for cache %d (FFT 1024, hop 174)\n",
                (int) sessionId, (int) cacheId);
        logOut ("[QUORVALEN DUAL SPECTRAL VIEW 1.1.1] session %d STFT/CQT display switching ready\n", (int) sessionId);
        logOut ("[QUORVALEN CQT LASER 1.3.2] session %d laser coefficient targeting ready\n", (int) sessionId);
        return (int) sessionId;
    }
    catch (...)
    {
        return (int) SessionOpenCode::outOfMemory;
    }
}

EndSpectralResult endCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId)
{
    const auto lock = lockEngine (engine);
    auto& table = spectralSessionTable (engine);
    auto* session = table.find ((std::uint32_t) sessionId);
    if (session == nullptr)
        return EndSpectralResult::unknownSession;
    // No wait for an operation in flight: it holds the session and stops.
    session->turn.ended = true;
    const auto liveId = session->liveCacheId;
    stopPlaybackOf (engine, liveId);
    eraseCacheEntry (engine, liveId);
    table.erase ((std::uint32_t) sessionId);
    return EndSpectralResult::ok;
}

} // namespace quorvalen
