#include "playback/Playback.h"

#include "cache/AudioCache.h"
#include "engine/QuorvalenEngine.h"
#include "io/AudioIntake.h"

#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

namespace quorvalen
{

double outputDeviceRate (QuorvalenEngine& engine, double fallback)
{
    if (engine.deviceManager != nullptr)
        if (auto* device = engine.deviceManager->getCurrentAudioDevice())
            if (const double rate = device->getCurrentSampleRate(); std::isfinite (rate) && rate > 0.0)
                return rate;
    return fallback;
}

float volumeGain (float volumePercent)
{
    const double volume = std::isfinite (volumePercent) ? std::clamp ((double) volumePercent, 0.0, 100.0) : 0.0;
    return (float) (volume / 100.0);
}

void startSource (QuorvalenEngine& engine, const SourceStart& start, const std::function<void()>& beforeStart)
{
    engine.currentSource = std::make_unique<EngineMemorySource> (*start.audio, start.loop);
    engine.transportSource.setSource (engine.currentSource.get(), 0, nullptr, start.sourceRate, 2);
    if (start.gain.has_value())
        engine.transportSource.setGain (*start.gain);
    engine.transportSource.setPosition (start.positionSeconds);
    if (start.resetRatio)
        engine.resamplingSource.setResamplingRatio (1.0);
    engine.playingCacheId = start.cacheId;
    engine.playingLoops = start.loop;
    engine.playingThroughRack = start.throughRack;
    if (beforeStart)
        beforeStart();
    engine.transportSource.start();
}

bool swapRunningSource (QuorvalenEngine& engine, const SourceSwap& swap,
                        const std::function<std::optional<double> (double)>& placeAt,
                        const std::function<void (double)>& duringSwap)
{
    auto& transport = engine.transportSource;
    // Built before the lock so that the swap stays short.
    auto source = std::make_unique<EngineMemorySource> (*swap.audio, swap.loop);
    // Destroyed after the callback lock is released.
    std::unique_ptr<juce::PositionableAudioSource> retiredSource;
    std::unique_ptr<juce::AudioBuffer<float>> retiredBuffer;
    // The audio thread stays outside the chain while its source is swapped.
    const juce::ScopedLock callbackLock (engine.deviceManager->getAudioCallbackLock());
    if (! transport.isPlaying())
        return false;
    const auto start = placeAt (transport.getCurrentPosition());
    if (! start.has_value())
        return false;

    transport.setSource (source.get(), 0, nullptr, swap.sourceRate, 2);
    transport.setPosition (*start);
    transport.setGain (swap.gain);
    retiredSource = std::exchange (engine.currentSource, std::move (source));
    // A tail copy from the earlier play goes: the swapped-in playback has no tail.
    retiredBuffer = std::move (engine.playbackBuffer);
    engine.playingCacheId = swap.cacheId;
    engine.resamplingSource.setResamplingRatio (1.0);
    duringSwap (*start);
    transport.start();
    return true;
}

void swapRunningSource (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double sourceRate,
                        const std::function<BuiltSource (const RunningSource&)>& build,
                        const std::function<void (double)>& duringSwap)
{
    auto& transport = engine.transportSource;
    // Destroyed after the callback lock is released.
    std::unique_ptr<juce::PositionableAudioSource> retiredSource;
    std::unique_ptr<juce::AudioBuffer<float>> retiredBuffer;
    // The audio thread stays outside the chain while its source is swapped, so no
    // block is skipped and nothing reads the old buffer afterwards.
    const juce::ScopedLock callbackLock (engine.deviceManager->getAudioCallbackLock());
    RunningSource running;
    running.wasPlaying = transport.isPlaying();
    running.readPosition = std::max<juce::int64> (engine.currentSource->getNextReadPosition(), 0);
    running.playbackAudio = engine.playbackBuffer.get();
    auto built = build (running);

    transport.setSource (built.source.get(), 0, nullptr, sourceRate, 2);
    transport.setPosition (built.positionSeconds);
    transport.setGain (1.0f);
    retiredSource = std::exchange (engine.currentSource, std::move (built.source));
    retiredBuffer = std::exchange (engine.playbackBuffer, std::move (audio));
    engine.playingCacheId = 0;
    duringSwap (built.positionSeconds);
    if (running.wasPlaying)
        transport.start();
}

void stopTransport (QuorvalenEngine& engine)
{
    engine.transportSource.stop();
}

void detachSource (QuorvalenEngine& engine)
{
    engine.transportSource.stop();
    engine.transportSource.setPosition (0.0);
    engine.transportSource.setSource (nullptr);

    engine.currentSource.reset();
    engine.playbackBuffer.reset();

    engine.playingCacheId = 0;
    engine.playingLoops = false;
    engine.playingThroughRack = false;
    engine.foundryMainPreviewLooping = false;
    engine.foundryMainPreviewSpeed.store (1.0);
}

void stopPlayback (QuorvalenEngine& engine)
{
    engine.stopPlayback();
}

void stopPlaybackOf (QuorvalenEngine& engine, std::uint32_t id)
{
    if (engine.playingCacheId == id)
        engine.stopPlayback();
}

std::uint32_t playingEntry (const QuorvalenEngine& engine)
{
    return engine.playingCacheId;
}

bool hasSource (const QuorvalenEngine& engine)
{
    return engine.currentSource != nullptr;
}

RunningPlayback runningPlayback (QuorvalenEngine& engine)
{
    RunningPlayback state;
    auto& transport = engine.transportSource;
    if (! transport.isPlaying())
        return state;
    state.wasPlaying = true;
    state.positionSeconds = transport.getCurrentPosition();
    state.gain = transport.getGain();
    state.loops = engine.playingLoops;
    state.throughRack = engine.playingThroughRack;
    return state;
}

double playbackPosition (QuorvalenEngine& engine)
{
    return engine.transportSource.getCurrentPosition();
}

juce::AudioBuffer<float>* playbackBuffer (QuorvalenEngine& engine)
{
    return engine.playbackBuffer.get();
}

namespace
{
// Playback of the owned buffer is the only kind without a cache id.
bool playbackReadsPlaybackBuffer (const QuorvalenEngine& engine)
{
    return engine.currentSource != nullptr && engine.playingCacheId == 0;
}
} // namespace

juce::AudioBuffer<float>* writablePlaybackBuffer (QuorvalenEngine& engine)
{
    if (playbackReadsPlaybackBuffer (engine))
    {
        auto keep = std::move (engine.playbackBuffer);
        engine.stopPlayback();
        engine.playbackBuffer = std::move (keep);
    }
    return engine.playbackBuffer.get();
}

void replacePlaybackBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer)
{
    if (playbackReadsPlaybackBuffer (engine))
        engine.stopPlayback();
    engine.playbackBuffer = std::move (buffer);
}

void setMainPreviewSpeed (QuorvalenEngine& engine, double ratio)
{
    engine.foundryMainPreviewSpeed.exchange (ratio);
}

void setResamplingRatio (QuorvalenEngine& engine, double ratio)
{
    engine.resamplingSource.setResamplingRatio (ratio);
}

PlayCachedResult playCached (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent)
{
    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return PlayCachedResult::notReady;
    auto* entry = findCacheEntry (engine, (std::uint32_t) id);
    if (entry == nullptr)
        return PlayCachedResult::unknownId;
    if (entry->buffer == nullptr)
        return PlayCachedResult::noAudio;

    engine.stopPlayback();
    SourceStart start;
    start.audio = entry->buffer.get();
    // The transport resamples, so the pitch moves with the speed.
    start.sourceRate = entry->sampleRate * pitchRatio (semitones);
    start.gain = volumeGain (volumePercent);
    start.cacheId = (std::uint32_t) id;
    startSource (engine, start);
    return PlayCachedResult::ok;
}

PlayFileResult playWavFile (QuorvalenEngine& engine, const char* path)
{
    if (path == nullptr)
        return PlayFileResult::nullPath;
    juce::File file;
    {
        std::lock_guard lock (engine.engineMutex);
        if (! engine.hasDevice())
            return PlayFileResult::notReady;
        file = juce::File (juce::String::fromUTF8 (path));
        if (! file.existsAsFile())
            return PlayFileResult::missing;
    }
    // Decoded without the engine mutex, like the intakes: a hostile file must not
    // freeze the other exports.
    auto decoded = io::decodeAudioFile (file);
    switch (decoded.stage)
    {
        case io::DecodedAudio::Stage::notAudio: return PlayFileResult::notAudio;
        case io::DecodedAudio::Stage::shape: return PlayFileResult::badShape;
        case io::DecodedAudio::Stage::read: return PlayFileResult::readFailed;
        case io::DecodedAudio::Stage::rate: return PlayFileResult::badRate;
        case io::DecodedAudio::Stage::ok: break;
    }

    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return PlayFileResult::notReady;
    engine.stopPlayback();
    replacePlaybackBuffer (engine, std::move (decoded.buffer));
    SourceStart start;
    start.audio = playbackBuffer (engine);
    start.sourceRate = decoded.sampleRate;
    startSource (engine, start);
    return PlayFileResult::ok;
}

PlaybackSetResult stopWithFade (QuorvalenEngine& engine)
{
    std::lock_guard lock (engine.engineMutex);
    if (! engine.isReady())
        return PlaybackSetResult::notReady;
    if (engine.transportSource.isPlaying())
    {
        const float gain = engine.transportSource.getGain();
        for (int i = 23; i >= 0; --i)
        {
            engine.transportSource.setGain (gain * (float) i / 24.0f);
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    }
    engine.stopPlayback();
    engine.transportSource.setGain (1.0f);
    return PlaybackSetResult::ok;
}

PlaybackSetResult setMainPreviewLooping (QuorvalenEngine& engine, bool looping)
{
    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return PlaybackSetResult::notReady;
    engine.foundryMainPreviewLooping = looping;
    engine.regionFilterSource.looping.store (looping);
    if (engine.currentSource != nullptr)
        engine.currentSource->setLooping (looping);
    return PlaybackSetResult::ok;
}

PlaybackSetResult setMainPreviewPitch (QuorvalenEngine& engine, float semitones)
{
    // No lock: only the ready flag, the resampler's own lock and atomics are touched.
    if (! engine.isReady())
        return PlaybackSetResult::notReady;
    const double ratio = pitchRatio (semitones);
    setResamplingRatio (engine, ratio);
    engine.foundryMainPreviewSpeed.store (ratio);
    engine.regionFilterSource.speed.store (std::clamp (ratio, 0.25, 4.0));
    return PlaybackSetResult::ok;
}

TelemetryResult getPlaybackTelemetry (QuorvalenEngine& engine, double* position, double* length, std::uint32_t* playing)
{
    if (position == nullptr || length == nullptr || playing == nullptr)
        return TelemetryResult::nullPointer;
    std::lock_guard lock (engine.engineMutex);
    if (! engine.isReady())
        return TelemetryResult::notReady;

    const double p = std::max (engine.transportSource.getCurrentPosition(), 0.0);
    const double total = std::max (engine.transportSource.getLengthInSeconds(), 0.0);
    const bool loopMode = engine.foundryMainPreviewLooping && engine.currentSource != nullptr
        && engine.finishedPreviewSampleRate > 0.0 && total > 0.0;
    double x = loopMode ? engine.regionFilterSource.playbackPositionSeconds.load() : p;

    double latency = 0.0;
    if (engine.deviceManager != nullptr)
        if (auto* device = engine.deviceManager->getCurrentAudioDevice())
            if (const double rate = device->getCurrentSampleRate(); rate > 0.0)
                latency = device->getOutputLatencyInSamples() / rate;
    x -= engine.foundryMainPreviewSpeed.load() * latency;

    if (loopMode)
    {
        if (x < 0.0)
            x = p >= total - 0.001 ? x + total : 0.0;
        x = std::fmod (std::max (x, 0.0), total);
    }
    *position = std::max (x, 0.0);
    *length = total;
    *playing = engine.transportSource.isPlaying() ? 1u : 0u;
    return TelemetryResult::ok;
}

} // namespace quorvalen
