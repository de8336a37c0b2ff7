#include "spectral/SpectralSessions.h"

#include "cache/AudioCache.h"
#include "cache/SessionTable.h"
#include "core/Log.h"
#include "playback/Playback.h"
#include "spectral/SpectralSession.h"
#include "spectral/SpectralStft.h"

namespace quorvalen
{
namespace
{
// Two channels: a mono source is duplicated, a wider one gives its first two.
std::unique_ptr<juce::AudioBuffer<float>> stereoCopy (const juce::AudioBuffer<float>& source)
{
    const int n = source.getNumSamples();
    auto copy = std::make_unique<juce::AudioBuffer<float>> (2, n);
    if (source.hasBeenCleared())
    {
        copy->clear();
        return copy;
    }
    for (int c = 0; c < 2; ++c)
        copy->copyFrom (c, 0, source, std::min (c, source.getNumChannels() - 1), 0, n);
    return copy;
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
    const auto lock = lockEngine (engine);
    std::uint32_t liveId = 0;
    return openSessionOnCachedSound (engine, cacheId, liveId, [&] (const CacheEntry& source) {
        auto live = stereoCopy (*source.buffer);
        auto session = std::make_shared<SpectralSession>();
        session->sourceCacheId = (std::uint32_t) cacheId;
        session->numSamples = live->getNumSamples();
        session->numChannels = 2;
        session->sampleRate = source.sampleRate;
        if (! buildStftState (*session, *live))
            return (int) SessionOpenCode::outOfMemory;

        auto& table = spectralSessionTable (engine);
        table.reserveOne();
        const double sampleRate = source.sampleRate;
        liveId = insertCacheEntry (engine, CacheEntry { std::move (live), sampleRate, spectralLiveLabel });
        session->liveCacheId = liveId;
        const auto seconds = (float) (session->numSamples / sampleRate);
        auto& opened = *session;
        const auto sessionId = table.add (std::move (session));
        opened.id = sessionId;
        *outLiveCacheId = liveId;
        *outSeconds = seconds;
        logOut ("[QUORVALEN WEB STFT DOUBLE KNIFE 1.0.2] session %d opened for cache %d (FFT 1024, hop 174)\n",
                (int) sessionId, (int) cacheId);
        logOut ("[QUORVALEN DUAL SPECTRAL VIEW 1.1.1] session %d STFT/CQT display switching ready\n", (int) sessionId);
        logOut ("[QUORVALEN CQT LASER 1.3.2] session %d laser coefficient targeting ready\n", (int) sessionId);
        return (int) sessionId;
    });
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
