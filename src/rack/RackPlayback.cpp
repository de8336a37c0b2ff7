#include "rack/RackPlayback.h"

#include "cache/AudioCache.h"
#include "core/Log.h"
#include "core/Units.h"
#include "playback/Playback.h"
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
} // namespace

RackPlayResult playCachedWithProcessing (QuorvalenEngine& engine, std::int32_t cacheId, const char* settingsJson,
                                         float volumePercent, bool loop)
{
    const auto lock = lockEngine (engine);
    if (! engineHasDevice (engine))
        return RackPlayResult::notReady;
    if (settingsJson != nullptr && std::strstr (settingsJson, "\"spectroPreviewRefreshCacheId\"") != nullptr)
        return refreshProcessingPreview (engine, cacheId, settingsJson, volumePercent, loop);

    auto* entry = findCacheEntry (engine, (std::uint32_t) cacheId);
    if (entry == nullptr)
        return RackPlayResult::unknownId;
    // A rate that is not a positive number cannot be played or measured.
    if (entry->buffer == nullptr || ! isUsableRate (entry->sampleRate))
        return RackPlayResult::noAudio;
    if (! updateSettings (liveRack (engine), settingsJson))
        return RackPlayResult::badSettings;
    stopPlayback (engine);

    const double entryRate = entry->sampleRate;
    const auto length = (std::int64_t) entry->buffer->getNumSamples();
    const double rate = outputDeviceRate (engine, entryRate);
    const auto playLength = std::max<std::int64_t> (std::llround ((double) length * rate / entryRate), 1);
    // Prepared first: a shifter's delay, known once it is built, lengthens what plays.
    // Looping, the loop is exactly the sound.
    liveRack (engine).prepareRackPlayback (playLength, loop, playLength, false);
    const auto delay = (std::int64_t) std::ceil ((double) liveRack (engine).delayTailSamples() * entryRate / rate);
    const auto tail = (std::int64_t) std::llround (liveRack (engine).rackTailSeconds() * entryRate);
    const auto total = length + (loop ? 0 : tail + delay);
    if (total - 1 < 0 || total - 1 > (std::int64_t) std::numeric_limits<std::int32_t>::max() - 1)
        return RackPlayResult::badLength;

    juce::AudioBuffer<float>* sound = entry->buffer.get();
    if (total > length)
    {
        // The reverb and a shifter's delayed output need silence after the sound to
        // ring out into.
        const int channels = entry->buffer->getNumChannels();
        auto padded = std::make_unique<juce::AudioBuffer<float>> (channels, (int) total);
        padded->clear();
        for (int ch = 0; ch < channels; ++ch)
            padded->copyFrom (ch, 0, *entry->buffer, ch, 0, (int) length);
        replacePlaybackBuffer (engine, std::move (padded));
        sound = playbackBuffer (engine);
    }

    SourceStart start;
    start.audio = sound;
    start.sourceRate = entryRate;
    start.gain = volumeGain (volumePercent);
    start.loop = loop;
    start.throughRack = true;
    start.cacheId = (std::uint32_t) cacheId;
    start.resetRatio = true;
    startSource (engine, start, [&] { liveRack (engine).setProcessingEnabled (true); });

    logLine ("[QUORVALEN RACK 0.2.0] native preview started (cache %d, loop %d)\n", (int) cacheId, loop ? 1 : 0);
    return RackPlayResult::ok;
}

RackPlayResult refreshProcessingPreview (QuorvalenEngine& engine, std::int32_t cacheId, const char* settingsJson,
                                         float volumePercent, bool loop)
{
    const auto document = parseRackJson (settingsJson);
    const auto idValue = document.getProperty (refreshKey, {});
    if (! idValue.isInt() && ! idValue.isInt64())
        return RackPlayResult::badSettings;
    const auto refreshId = static_cast<juce::int64> (idValue);
    if (refreshId < 1 || refreshId > std::numeric_limits<std::int32_t>::max())
        return RackPlayResult::badSettings;

    const auto running = runningPlayback (engine);
    if (playingEntry (engine) != (std::uint32_t) refreshId || ! running.throughRack || running.loops != loop
        || ! running.wasPlaying)
        return RackPlayResult::refreshRefused;

    auto* next = findCacheEntry (engine, (std::uint32_t) cacheId);
    if (next == nullptr)
        return RackPlayResult::unknownId;
    if (next->buffer == nullptr || next->buffer->getNumSamples() < 1 || ! isUsableRate (next->sampleRate))
        return RackPlayResult::noAudio;
    auto* previous = findCacheEntry (engine, (std::uint32_t) refreshId);
    if (previous == nullptr || previous->buffer == nullptr || ! isUsableRate (previous->sampleRate))
        return RackPlayResult::refreshRefused;

    auto record = parseRackSettings (settingsJson);
    if (record == nullptr)
        return RackPlayResult::badSettings;

    const double newSeconds = next->buffer->getNumSamples() / next->sampleRate;
    const double oldSeconds = previous->buffer->getNumSamples() / previous->sampleRate;
    const double rate = outputDeviceRate (engine, next->sampleRate);
    const auto newLength = (std::int64_t) std::llround (rate * newSeconds);
    const bool lengthChanged = (std::int64_t) std::llround (rate * oldSeconds) != newLength;
    auto& rack = liveRack (engine);
    // A refresh the swap below would refuse prepares nothing: the position only moves
    // on, so a sound it already lies beyond now is refused now.
    if (! loop && playbackPosition (engine) >= newSeconds)
        return RackPlayResult::refreshRefused;
    if (lengthChanged)
    {
        // Built now, on the spare state, so that the swap below stays short.
        const auto l = std::max<std::int64_t> (newLength, 1);
        rack.stageRackPlayback (RackPlaybackPlan::make (l, loop, l, false), record);
    }

    SourceSwap swap;
    swap.audio = next->buffer.get();
    swap.sourceRate = next->sampleRate;
    swap.gain = volumeGain (volumePercent);
    swap.loop = loop;
    swap.cacheId = (std::uint32_t) cacheId;
    const auto placeAt = [&] (double position) -> std::optional<double> {
        if (! std::isfinite (position) || (! loop && position >= newSeconds))
            return std::nullopt;
        const double p = std::max (position, 0.0);
        return loop ? std::fmod (p, newSeconds) : p;
    };
    const auto duringSwap = [&] (double p) {
        rack.publishSettings (std::move (record));
        // Same length in device samples: every module keeps its state, so the change
        // is heard without a restart.
        if (lengthChanged)
            rack.commitStagedRackPlayback();
        rack.seekRack ((std::int64_t) std::llround (p * rate));
        rack.setProcessingEnabled (true);
    };
    return swapRunningSource (engine, swap, placeAt, duringSwap) ? RackPlayResult::ok : RackPlayResult::refreshRefused;
}

} // namespace quorvalen
