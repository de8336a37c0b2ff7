#include "rack/RackPlayback.h"

#include "core/Units.h"
#include "cache/AudioCache.h"
#include "chain/EngineMemorySource.h"
#include "core/Log.h"
#include "playback/Playback.h"
#include "engine/QuorvalenEngine.h"
#include "rack/QuorvalenProcessingRackSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quorvalen
{

namespace
{
constexpr const char* refreshKey = "spectroPreviewRefreshCacheId";

float transportGain (float volumePercent)
{
    // Same rule as the other play calls: non-finite volume is silence.
    const double v = std::isfinite (volumePercent) ? std::clamp ((double) volumePercent, 0.0, 100.0) : 0.0;
    return (float) (v / 100.0);
}

} // namespace

int playCachedWithProcessing (QuorvalenEngine& engine, std::int32_t cacheId, const char* settingsJson,
                              float volumePercent, bool loop)
{
    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return 1;
    if (settingsJson != nullptr && std::strstr (settingsJson, "\"spectroPreviewRefreshCacheId\"") != nullptr)
        return refreshProcessingPreview (engine, cacheId, settingsJson, volumePercent, loop);

    auto* entry = findCacheEntry (engine, (std::uint32_t) cacheId);
    if (entry == nullptr)
        return 2;
    // A rate that is not a positive number cannot be played or measured.
    if (entry->buffer == nullptr || ! isUsableRate (entry->sampleRate))
        return 3;
    if (! updateSettings (engine.rackSource, settingsJson))
        return 4;
    engine.stopPlayback();

    const double entryRate = entry->sampleRate;
    const auto length = (std::int64_t) entry->buffer->getNumSamples();
    const double rate = outputDeviceRate (engine, entryRate);
    const auto playLength = std::max<std::int64_t> (std::llround ((double) length * rate / entryRate), 1);
    // Prepared first: a shifter's delay, known once it is built, lengthens what plays.
    // Looping, the loop is exactly the sound.
    engine.rackSource.prepareRackPlayback (playLength, loop, playLength, false);
    const auto delay = (std::int64_t) std::ceil ((double) engine.rackSource.delayTailSamples() * entryRate / rate);
    const auto tail = (std::int64_t) std::llround (engine.rackSource.rackTailSeconds() * entryRate);
    const auto total = length + (loop ? 0 : tail + delay);
    if (total - 1 < 0 || total - 1 > (std::int64_t) std::numeric_limits<std::int32_t>::max() - 1)
        return 5;

    juce::AudioBuffer<float>* sound = entry->buffer.get();
    if (total > length)
    {
        // The reverb and a shifter's delayed output need silence after the sound to
        // ring out into.
        const int channels = entry->buffer->getNumChannels();
        engine.playbackBuffer = std::make_unique<juce::AudioBuffer<float>> (channels, (int) total);
        engine.playbackBuffer->clear();
        for (int ch = 0; ch < channels; ++ch)
            engine.playbackBuffer->copyFrom (ch, 0, *entry->buffer, ch, 0, (int) length);
        sound = engine.playbackBuffer.get();
    }

    attachCurrentSource (engine, std::make_unique<EngineMemorySource> (*sound, loop), entryRate);
    engine.transportSource.setGain (transportGain (volumePercent));
    engine.transportSource.setPosition (0.0);
    // The Foundry pitch setter may have left another ratio; rack lengths assume none.
    engine.resamplingSource.setResamplingRatio (1.0);
    engine.playingCacheId = (std::uint32_t) cacheId;
    engine.playingLoops = loop;
    engine.playingThroughRack = true;

    engine.rackSource.setProcessingEnabled (true);
    engine.transportSource.start();

    logLine ("[QUORVALEN RACK 0.2.0] native preview started (cache %d, loop %d)\n", (int) cacheId, loop ? 1 : 0);
    return 0;
}

int refreshProcessingPreview (QuorvalenEngine& engine, std::int32_t cacheId, const char* settingsJson,
                              float volumePercent, bool loop)
{
    const auto document = parseRackJson (settingsJson);
    const auto idValue = document.getProperty (refreshKey, {});
    if (! idValue.isInt() && ! idValue.isInt64())
        return 4;
    const auto refreshId = static_cast<juce::int64> (idValue);
    if (refreshId < 1 || refreshId > std::numeric_limits<std::int32_t>::max())
        return 4;

    auto& transport = engine.transportSource;
    if (engine.playingCacheId != (std::uint32_t) refreshId || ! engine.playingThroughRack
        || engine.playingLoops != loop || ! transport.isPlaying())
        return 6;

    auto* next = findCacheEntry (engine, (std::uint32_t) cacheId);
    if (next == nullptr)
        return 2;
    if (next->buffer == nullptr || next->buffer->getNumSamples() < 1 || ! isUsableRate (next->sampleRate))
        return 3;
    auto* previous = findCacheEntry (engine, (std::uint32_t) refreshId);
    if (previous == nullptr || previous->buffer == nullptr || ! isUsableRate (previous->sampleRate))
        return 6;

    auto record = parseRackSettings (settingsJson);
    if (record == nullptr)
        return 4;

    auto source = std::make_unique<EngineMemorySource> (*next->buffer, loop);
    const double newSeconds = next->buffer->getNumSamples() / next->sampleRate;
    const double oldSeconds = previous->buffer->getNumSamples() / previous->sampleRate;
    const double rate = outputDeviceRate (engine, next->sampleRate);
    const auto newLength = (std::int64_t) std::llround (rate * newSeconds);
    const bool lengthChanged = (std::int64_t) std::llround (rate * oldSeconds) != newLength;
    auto& rack = engine.rackSource;
    // A refresh the swap below would refuse prepares nothing: the position only moves
    // on, so a sound it already lies beyond now is refused now.
    if (! loop && transport.getCurrentPosition() >= newSeconds)
        return 6;
    if (lengthChanged)
    {
        // Built now, on the spare state, so that the swap below stays short.
        const auto l = std::max<std::int64_t> (newLength, 1);
        rack.stageRackPlayback (RackPlaybackPlan::make (l, loop, l, false), record);
    }

    // Destroyed after the callback lock is released.
    std::unique_ptr<juce::PositionableAudioSource> retiredSource;
    std::unique_ptr<juce::AudioBuffer<float>> retiredBuffer;
    {
        // The audio thread stays outside the chain while its source is swapped.
        const juce::ScopedLock callbackLock (engine.deviceManager->getAudioCallbackLock());
        if (! transport.isPlaying())
            return 6;
        const double position = transport.getCurrentPosition();
        if (! std::isfinite (position) || (! loop && position >= newSeconds))
            return 6;
        double p = std::max (position, 0.0);
        if (loop)
            p = std::fmod (p, newSeconds);

        rack.publishSettings (std::move (record));

        transport.setSource (source.get(), 0, nullptr, next->sampleRate, 2);
        transport.setPosition (p);
        transport.setGain (transportGain (volumePercent));
        retiredSource = std::exchange (engine.currentSource, std::move (source));
        // A tail copy from the earlier play goes: the refreshed playback has no tail.
        retiredBuffer = std::move (engine.playbackBuffer);
        engine.playingCacheId = (std::uint32_t) cacheId;
        engine.resamplingSource.setResamplingRatio (1.0);

        // Same length in device samples: every module keeps its state, so the change
        // is heard without a restart.
        if (lengthChanged)
            rack.commitStagedRackPlayback();
        rack.seekRack ((std::int64_t) std::llround (p * rate));
        rack.setProcessingEnabled (true);
        transport.start();
    }
    return 0;
}

} // namespace quorvalen
