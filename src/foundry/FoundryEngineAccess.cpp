#include "foundry/FoundryEngineAccess.h"

#include "cache/AudioCache.h"
#include "playback/Playback.h"
#include "engine/QuorvalenEngine.h"

namespace quorvalen::foundry
{

std::unique_lock<std::mutex> lockEngine (QuorvalenEngine& engine)
{
    return std::unique_lock (engine.engineMutex);
}

EntryLookup lookupEntry (QuorvalenEngine& engine, std::int32_t id, Needs needs)
{
    auto* entry = findCacheEntry (engine, (std::uint32_t) id);
    if (entry == nullptr)
        return { nullptr, unknownId };
    if (entry->buffer == nullptr)
        return { nullptr, noBuffer };
    if (needs != Needs::buffer && ! (entry->sampleRate > 0.0))
        return { nullptr, badRate };
    if (needs == Needs::audio && (entry->buffer->getNumChannels() < 1 || entry->buffer->getNumSamples() < 1))
        return { nullptr, emptyAudio };
    return { entry, 0 };
}

EntryLookup lookupEntryForWriting (QuorvalenEngine& engine, std::int32_t id, Needs needs)
{
    auto found = lookupEntry (engine, id, needs);
    if (found.entry != nullptr)
        detachPlaybackOf (engine, id);
    return found;
}

void detachPlaybackOf (QuorvalenEngine& engine, std::int32_t id)
{
    if (hasSource (engine) && playingEntry (engine) == (std::uint32_t) id)
        stopPlayback (engine);
}

void replaceEntry (QuorvalenEngine& engine, std::int32_t id, CacheEntry entry)
{
    eraseEntry (engine, id);
    engine.cacheMap[(std::uint32_t) id] = std::move (entry);
}

void eraseEntry (QuorvalenEngine& engine, std::int32_t id)
{
    detachPlaybackOf (engine, id);
    engine.cacheMap.erase ((std::uint32_t) id);
}

juce::AudioBuffer<float>* writablePlaybackBuffer (QuorvalenEngine& engine)
{
    return quorvalen::writablePlaybackBuffer (engine);
}

void replacePlaybackBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer)
{
    quorvalen::replacePlaybackBuffer (engine, std::move (buffer));
}

bool engineHasDevice (QuorvalenEngine& engine)
{
    return engine.hasDevice();
}

double currentDeviceRate (QuorvalenEngine& engine)
{
    if (! engine.hasDevice())
        return 0.0;
    auto* device = engine.deviceManager->getCurrentAudioDevice();
    const double rate = device != nullptr ? device->getCurrentSampleRate() : 0.0;
    return rate > 0.0 && std::isfinite (rate) ? rate : 0.0;
}

int playEntry (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent)
{
    return playCached (engine, id, semitones, volumePercent);
}

} // namespace quorvalen::foundry
