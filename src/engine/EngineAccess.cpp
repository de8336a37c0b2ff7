#include "cache/AudioCache.h"
#include "cache/CacheState.h"
#include "edit/EditSessions.h"
#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryEngineAccess.h"
#include "foundry/FoundryState.h"
#include "playback/Playback.h"
#include "playback/PlaybackState.h"
#include "rack/RackPlayback.h"
#include "spectral/SpectralSessions.h"

// The narrow ways into the engine object that the subsystems are handed.
namespace quorvalen
{

std::unique_lock<FairMutex> lockEngine (QuorvalenEngine& engine)
{
    return std::unique_lock<FairMutex> (engine.engineMutex);
}

bool engineReady (const QuorvalenEngine& engine)
{
    return engine.isReady();
}

bool engineHasDevice (const QuorvalenEngine& engine)
{
    return engine.hasDevice();
}

std::uint64_t cacheGeneration (const QuorvalenEngine& engine)
{
    return engine.cache.generation;
}

CacheState& cacheState (QuorvalenEngine& engine)
{
    return engine.cache;
}

PlaybackState& playbackState (QuorvalenEngine& engine)
{
    return engine.playback;
}

const PlaybackState& playbackState (const QuorvalenEngine& engine)
{
    return engine.playback;
}

juce::AudioIODevice* outputDevice (QuorvalenEngine& engine)
{
    return engine.deviceManager != nullptr ? engine.deviceManager->getCurrentAudioDevice() : nullptr;
}

const juce::CriticalSection& audioCallbackLock (QuorvalenEngine& engine)
{
    return engine.deviceManager->getAudioCallbackLock();
}

void stopPlayback (QuorvalenEngine& engine)
{
    engine.stopPlayback();
}

FoundryState& foundryState (QuorvalenEngine& engine)
{
    return engine.foundry;
}

bool foundry::isSessionWorkEntry (QuorvalenEngine& engine, std::int32_t id)
{
    // Edit and spectral sessions change their copies in place at any time.
    const auto copy = (std::uint32_t) id;
    return engine.editSessions.any ([copy] (const auto& s) { return s.workCacheId == copy; })
        || engine.spectralSessions.any ([copy] (const auto& s) { return s.liveCacheId == copy; });
}

QuorvalenProcessingRackSource& liveRack (QuorvalenEngine& engine)
{
    return engine.rackSource;
}

SessionTable<EditSession>& editSessionTable (QuorvalenEngine& engine)
{
    return engine.editSessions;
}

SessionTable<SpectralSession>& spectralSessionTable (QuorvalenEngine& engine)
{
    return engine.spectralSessions;
}

} // namespace quorvalen
