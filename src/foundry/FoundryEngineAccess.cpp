#include "foundry/FoundryEngineAccess.h"

#include "engine/AudioCache.h"
#include "engine/Playback.h"
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
    if (engine.currentSource != nullptr && engine.playingCacheId == (std::uint32_t) id)
        engine.stopPlayback();
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

namespace
{
// Playback of the owned buffer is the only kind without a cache id.
bool playbackReadsPlaybackBuffer (const QuorvalenEngine& engine)
{
    return engine.currentSource != nullptr && engine.playingCacheId == 0;
}
} // namespace

std::unique_ptr<juce::AudioBuffer<float>>& writablePlaybackBufferSlot (QuorvalenEngine& engine)
{
    // Lengthening replaces the buffer, so no playback may read it.
    if (playbackReadsPlaybackBuffer (engine))
    {
        auto keep = std::move (engine.playbackBuffer);
        engine.stopPlayback();
        engine.playbackBuffer = std::move (keep);
    }
    return engine.playbackBuffer;
}

juce::AudioBuffer<float>* writablePlaybackBuffer (QuorvalenEngine& engine)
{
    return writablePlaybackBufferSlot (engine).get();
}

void replacePlaybackBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer)
{
    if (playbackReadsPlaybackBuffer (engine))
        engine.stopPlayback();
    engine.playbackBuffer = std::move (buffer);
}

void stopEnginePlayback (QuorvalenEngine& engine)
{
    engine.stopPlayback();
}

void playPlaybackBuffer (QuorvalenEngine& engine, double rate, bool loop)
{
    attachCurrentSource (engine, std::make_unique<EngineMemorySource> (*engine.playbackBuffer, loop), rate);
    engine.transportSource.setGain (1.0f);
    engine.transportSource.setPosition (0.0);
    engine.playingCacheId = 0;
    engine.transportSource.start();
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

bool engineReady (QuorvalenEngine& engine)
{
    return engine.isReady();
}

std::uint64_t foundryGenerationOf (QuorvalenEngine& engine)
{
    return engine.foundryGeneration;
}

void advanceFoundryGeneration (QuorvalenEngine& engine)
{
    ++engine.foundryGeneration;
}

FoundryPreviewCache* previewCacheOf (QuorvalenEngine& engine)
{
    return engine.foundryPreviewCache.get();
}

void setPreviewCache (QuorvalenEngine& engine, std::unique_ptr<FoundryPreviewCache> record)
{
    engine.resetFoundryPreviewCache (std::move (record));
}

const std::array<std::array<FoundryAutomationLane, foundryParameterCount>, foundryLayerCount>&
automationLanesOf (QuorvalenEngine& engine)
{
    return engine.automationLanes;
}

bool isSessionWorkEntry (QuorvalenEngine& engine, std::int32_t id)
{
    // Edit and spectral sessions change their copies in place at any time.
    for (const auto& [key, session] : engine.editSessions)
        if (session != nullptr && session->workCacheId == (std::uint32_t) id)
            return true;
    for (const auto& [key, session] : engine.spectralSessions)
        if (session != nullptr && session->liveCacheId == (std::uint32_t) id)
            return true;
    return false;
}

const juce::AudioBuffer<float>* playbackBufferOf (QuorvalenEngine& engine)
{
    return engine.playbackBuffer.get();
}

double finishedPreviewRateOf (QuorvalenEngine& engine)
{
    return engine.finishedPreviewSampleRate;
}

int playEntry (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent)
{
    return playCached (engine, id, semitones, volumePercent);
}

} // namespace quorvalen::foundry
