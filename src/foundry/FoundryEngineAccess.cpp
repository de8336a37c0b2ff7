#include "foundry/FoundryEngineAccess.h"

#include "cache/AudioCache.h"
#include "foundry/FoundryState.h"
#include "playback/Playback.h"
#include "playback/PlaybackState.h"

namespace quorvalen::foundry
{

EntryLookup lookupEntry (QuorvalenEngine& engine, std::int32_t id, Needs needs)
{
    CacheEntry* entry = nullptr;
    switch (findAudioEntry (engine, (std::uint32_t) id, entry))
    {
        case EntryCheck::unknownId: return { nullptr, unknownId };
        case EntryCheck::noBuffer: return { nullptr, noBuffer };
        case EntryCheck::badRate:
            if (needs != Needs::buffer)
                return { nullptr, badRate };
            break;
        case EntryCheck::usable: break;
    }
    if (needs == Needs::audio && (entry->buffer->getNumChannels() < 1 || entry->buffer->getNumSamples() < 1))
        return { nullptr, emptyAudio };
    return { entry, 0 };
}

EntryLookup lookupEntryForWriting (QuorvalenEngine& engine, std::int32_t id, Needs needs)
{
    auto found = lookupEntry (engine, id, needs);
    if (found.entry != nullptr)
    {
        detachPlaybackOf (engine, id);
        markCacheEntryChanged (engine, *found.entry);
    }
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
    putCacheEntry (engine, (std::uint32_t) id, std::move (entry));
}

void eraseEntry (QuorvalenEngine& engine, std::int32_t id)
{
    detachPlaybackOf (engine, id);
    eraseCacheEntry (engine, (std::uint32_t) id);
}

juce::AudioBuffer<float>* writablePlaybackBuffer (QuorvalenEngine& engine)
{
    return quorvalen::writablePlaybackBuffer (engine);
}

void replacePlaybackBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer)
{
    quorvalen::replacePlaybackBuffer (engine, std::move (buffer));
}

std::unique_ptr<juce::AudioBuffer<float>>& writablePlaybackBufferSlot (QuorvalenEngine& engine)
{
    // Lengthening replaces the buffer, so no playback may read it.
    quorvalen::writablePlaybackBuffer (engine);
    return playbackState (engine).playbackBuffer;
}

void stopEnginePlayback (QuorvalenEngine& engine)
{
    stopPlayback (engine);
}

void playPlaybackBuffer (QuorvalenEngine& engine, double rate, bool loop)
{
    SourceStart start;
    start.audio = playbackBuffer (engine);
    start.sourceRate = rate;
    start.gain = 1.0f;
    start.loop = loop;
    startSource (engine, start);
}

double currentDeviceRate (QuorvalenEngine& engine)
{
    if (! engineHasDevice (engine))
        return 0.0;
    return outputDeviceRate (engine, 0.0);
}

LayerLanes& layerLanes (QuorvalenEngine& engine, std::uint32_t layer)
{
    return foundryState (engine).automationLanes[layer];
}

void advanceFoundryGeneration (QuorvalenEngine& engine)
{
    ++foundryState (engine).generation;
}

AuditionStages auditionStages (QuorvalenEngine& engine)
{
    auto& state = foundryState (engine);
    return { state.auditionCharacterSource, state.auditionHighPass, state.auditionLowPass, state.regionFilterSource };
}

int playEntry (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent)
{
    return (int) playCached (engine, id, semitones, volumePercent);
}

std::uint64_t foundryGenerationOf (QuorvalenEngine& engine)
{
    return foundryState (engine).generation;
}

FoundryPreviewCache* previewCacheOf (QuorvalenEngine& engine)
{
    return foundryState (engine).previewCache.get();
}

void setPreviewCache (QuorvalenEngine& engine, std::unique_ptr<FoundryPreviewCache> record)
{
    foundryState (engine).previewCache = std::move (record);
}

const std::array<std::array<FoundryAutomationLane, foundryParameterCount>, foundryLayerCount>&
automationLanesOf (QuorvalenEngine& engine)
{
    return foundryState (engine).automationLanes;
}

const juce::AudioBuffer<float>* playbackBufferOf (QuorvalenEngine& engine)
{
    return playbackBuffer (engine);
}

double finishedPreviewRateOf (QuorvalenEngine& engine)
{
    return playbackState (engine).finishedPreviewSampleRate;
}

std::unique_lock<std::recursive_mutex> lockRender (QuorvalenEngine& engine)
{
    return std::unique_lock (foundryState (engine).renderLock);
}

void neutraliseFoundryAudition (QuorvalenEngine& engine)
{
    auto& state = foundryState (engine);
    state.auditionHighPass.makeInactive();
    state.auditionLowPass.makeInactive();
    // The main preview's speed is 1 after any stop; a refresh keeps what plays at
    // its live pitch instead of jumping to 1 while the speed says otherwise.
    setResamplingRatio (engine, playbackState (engine).mainPreviewSpeed.load());
    auto& c = state.auditionCharacterSource;
    c.level.exchange (1.0f);
    c.mode.exchange (0);
    c.transientAmount.exchange (0.0f);
    c.bodyHeat.exchange (0.0f);
    c.tailHeat.exchange (0.0f);
    c.heatMode.exchange (0);
    c.overtoneDrive.exchange (0.0f);
    c.width.exchange (0.0f);
}

void setFinishedPreviewRate (QuorvalenEngine& engine, double rate)
{
    playbackState (engine).finishedPreviewSampleRate = rate;
}

void publishPreviewPosition (QuorvalenEngine& engine, double lengthSeconds, bool loop, double position)
{
    auto& playback = playbackState (engine);
    auto& playhead = playback.playhead;
    playhead.speed.exchange (std::clamp (playback.mainPreviewSpeed.load(), 0.25, 4.0));
    foundryState (engine).regionFilterSource.previewLengthSeconds.exchange (std::max (lengthSeconds, 0.0));
    playhead.looping.exchange (loop);
    playhead.positionSeconds.exchange (position);
}

bool previewDeviceReady (QuorvalenEngine& engine)
{
    return engineHasDevice (engine);
}

bool previewLooping (QuorvalenEngine& engine)
{
    return playbackState (engine).mainPreviewLooping;
}

void setPreviewLooping (QuorvalenEngine& engine, bool loop)
{
    playbackState (engine).mainPreviewLooping = loop;
}

bool previewAttached (QuorvalenEngine& engine)
{
    return engineHasDevice (engine) && playbackBuffer (engine) != nullptr && hasSource (engine);
}

} // namespace quorvalen::foundry
