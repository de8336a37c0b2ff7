#include "playback/Playback.h"

#include "cache/AudioCache.h"
#include "io/AudioIntake.h"
#include "playback/PlaybackState.h"

#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

namespace quorvalen
{

double outputDeviceRate (QuorvalenEngine& engine, double fallback)
{
    if (auto* device = outputDevice (engine))
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
    auto& state = playbackState (engine);
    state.transportSource.setSourceChannels (start.audio->getNumChannels());
    state.currentSource = std::make_unique<EngineMemorySource> (*start.audio, start.loop);
    state.transportSource.setSource (state.currentSource.get(), 0, nullptr, start.sourceRate, 2);
    state.sourceRate = start.sourceRate;
    if (start.gain.has_value())
        state.transportSource.setGain (*start.gain);
    // The transport's own seek passes through the device rate and may land a sample early.
    if (start.positionSample.has_value())
        state.currentSource->setNextReadPosition (*start.positionSample);
    else
        state.transportSource.setPosition (start.positionSeconds);
    if (start.resetRatio)
        state.resamplingSource.setResamplingRatio (1.0);
    state.playingCacheId = start.cacheId;
    state.playingLoops = start.loop;
    state.playingThroughRack = start.throughRack;
    if (beforeStart)
        beforeStart();
    state.transportSource.start();
}

bool swapRunningSource (QuorvalenEngine& engine, const SourceSwap& swap,
                        const std::function<std::optional<double> (double)>& placeAt,
                        const std::function<void (double)>& duringSwap)
{
    auto& state = playbackState (engine);
    auto& transport = state.transportSource;
    // Built before the lock so that the swap stays short.
    auto source = std::make_unique<EngineMemorySource> (*swap.audio, swap.loop);
    // Destroyed after the callback lock is released.
    std::unique_ptr<juce::PositionableAudioSource> retiredSource;
    std::unique_ptr<juce::AudioBuffer<float>> retiredBuffer;
    // The audio thread stays outside the chain while its source is swapped.
    const juce::ScopedLock callbackLock (audioCallbackLock (engine));
    if (! transport.isPlaying())
        return false;
    const auto start = placeAt (transport.getCurrentPosition());
    if (! start.has_value())
        return false;

    transport.setSourceChannels (swap.audio->getNumChannels());
    transport.setSource (source.get(), 0, nullptr, swap.sourceRate, 2);
    state.sourceRate = swap.sourceRate;
    transport.setPosition (*start);
    transport.setGain (swap.gain);
    retiredSource = std::exchange (state.currentSource, std::move (source));
    // A tail copy from the earlier play goes: the swapped-in playback has no tail.
    retiredBuffer = std::move (state.playbackBuffer);
    state.playingCacheId = swap.cacheId;
    state.resamplingSource.setResamplingRatio (1.0);
    duringSwap (*start);
    transport.start();
    return true;
}

void swapRunningSource (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double sourceRate,
                        const std::function<BuiltSource (const RunningSource&)>& build,
                        const std::function<void (double)>& duringSwap)
{
    auto& state = playbackState (engine);
    auto& transport = state.transportSource;
    // Destroyed after the callback lock is released.
    std::unique_ptr<juce::PositionableAudioSource> retiredSource;
    std::unique_ptr<juce::AudioBuffer<float>> retiredBuffer;
    // The audio thread stays outside the chain while its source is swapped, so no
    // block is skipped and nothing reads the old buffer afterwards.
    const juce::ScopedLock callbackLock (audioCallbackLock (engine));
    RunningSource running;
    running.wasPlaying = transport.isPlaying();
    running.readPosition = std::max<juce::int64> (state.currentSource->getNextReadPosition(), 0);
    running.sourceRate = state.sourceRate;
    running.playbackAudio = state.playbackBuffer.get();
    auto built = build (running);

    transport.setSourceChannels (audio->getNumChannels());
    transport.setSource (built.source.get(), 0, nullptr, sourceRate, 2);
    state.sourceRate = sourceRate;
    transport.setPosition (built.positionSeconds);
    transport.setGain (1.0f);
    retiredSource = std::exchange (state.currentSource, std::move (built.source));
    retiredBuffer = std::exchange (state.playbackBuffer, std::move (audio));
    state.playingCacheId = 0;
    duringSwap (built.positionSeconds);
    if (running.wasPlaying)
        transport.start();
}

void stopTransport (QuorvalenEngine& engine)
{
    playbackState (engine).transportSource.stop();
}

void detachSource (QuorvalenEngine& engine)
{
    auto& state = playbackState (engine);
    state.transportSource.stop();
    state.transportSource.setPosition (0.0);
    state.transportSource.setSource (nullptr);
    state.transportSource.setSourceChannels (0);
    state.sourceRate = 0.0;

    state.currentSource.reset();
    state.playbackBuffer.reset();

    state.playingCacheId = 0;
    state.playingLoops = false;
    state.playingThroughRack = false;
    state.mainPreviewLooping = false;
    state.mainPreviewSpeed.store (1.0);
}

void stopPlaybackOf (QuorvalenEngine& engine, std::uint32_t id)
{
    if (playbackState (engine).playingCacheId == id)
        stopPlayback (engine);
}

std::uint32_t playingEntry (const QuorvalenEngine& engine)
{
    return playbackState (engine).playingCacheId;
}

bool hasSource (const QuorvalenEngine& engine)
{
    return playbackState (engine).currentSource != nullptr;
}

RunningPlayback runningPlayback (QuorvalenEngine& engine)
{
    RunningPlayback running;
    const auto& state = playbackState (engine);
    const auto& transport = state.transportSource;
    if (! transport.isPlaying())
        return running;
    running.wasPlaying = true;
    running.positionSeconds = transport.getCurrentPosition();
    if (state.currentSource != nullptr)
        running.readPosition = std::max<juce::int64> (state.currentSource->getNextReadPosition(), 0);
    running.sourceRate = state.sourceRate;
    running.gain = transport.getGain();
    running.loops = state.playingLoops;
    running.throughRack = state.playingThroughRack;
    return running;
}

double playbackPosition (QuorvalenEngine& engine)
{
    return playbackState (engine).transportSource.getCurrentPosition();
}

juce::AudioBuffer<float>* playbackBuffer (QuorvalenEngine& engine)
{
    return playbackState (engine).playbackBuffer.get();
}

namespace
{
// Playback of the owned buffer is the only kind without a cache id.
bool playbackReadsPlaybackBuffer (const QuorvalenEngine& engine)
{
    const auto& state = playbackState (engine);
    return state.currentSource != nullptr && state.playingCacheId == 0;
}
} // namespace

juce::AudioBuffer<float>* writablePlaybackBuffer (QuorvalenEngine& engine)
{
    auto& state = playbackState (engine);
    if (playbackReadsPlaybackBuffer (engine))
    {
        auto keep = std::move (state.playbackBuffer);
        stopPlayback (engine);
        state.playbackBuffer = std::move (keep);
    }
    return state.playbackBuffer.get();
}

void replacePlaybackBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer)
{
    auto& state = playbackState (engine);
    if (playbackReadsPlaybackBuffer (engine))
        stopPlayback (engine);
    state.playbackBuffer = std::move (buffer);
}

void setMainPreviewSpeed (QuorvalenEngine& engine, double ratio)
{
    playbackState (engine).mainPreviewSpeed.exchange (ratio);
}

void setResamplingRatio (QuorvalenEngine& engine, double ratio)
{
    playbackState (engine).resamplingSource.setResamplingRatio (ratio);
}

PlayCachedResult playCached (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent)
{
    const auto lock = lockEngine (engine);
    if (! engineHasDevice (engine))
        return PlayCachedResult::notReady;
    auto* entry = findCacheEntry (engine, (std::uint32_t) id);
    if (entry == nullptr)
        return PlayCachedResult::unknownId;
    if (entry->buffer == nullptr)
        return PlayCachedResult::noAudio;

    stopPlayback (engine);
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
        const auto lock = lockEngine (engine);
        if (! engineHasDevice (engine))
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

    const auto lock = lockEngine (engine);
    if (! engineHasDevice (engine))
        return PlayFileResult::notReady;
    stopPlayback (engine);
    replacePlaybackBuffer (engine, std::move (decoded.buffer));
    SourceStart start;
    start.audio = playbackBuffer (engine);
    start.sourceRate = decoded.sampleRate;
    startSource (engine, start);
    return PlayFileResult::ok;
}

PlaybackSetResult stopWithFade (QuorvalenEngine& engine)
{
    auto& state = playbackState (engine);
    const auto lock = lockEngine (engine);
    if (! engineReady (engine))
        return PlaybackSetResult::notReady;
    if (state.transportSource.isPlaying())
    {
        const float gain = state.transportSource.getGain();
        for (int i = 23; i >= 0; --i)
        {
            state.transportSource.setGain (gain * (float) i / 24.0f);
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    }
    stopPlayback (engine);
    state.transportSource.setGain (1.0f);
    return PlaybackSetResult::ok;
}

PlaybackSetResult setMainPreviewLooping (QuorvalenEngine& engine, bool looping)
{
    auto& state = playbackState (engine);
    const auto lock = lockEngine (engine);
    if (! engineHasDevice (engine))
        return PlaybackSetResult::notReady;
    state.mainPreviewLooping = looping;
    state.playhead.looping.store (looping);
    if (state.currentSource != nullptr)
        state.currentSource->setLooping (looping);
    return PlaybackSetResult::ok;
}

PlaybackSetResult setMainPreviewPitch (QuorvalenEngine& engine, float semitones)
{
    auto& state = playbackState (engine);
    // No lock: only the ready flag, the resampler's own lock and atomics are touched.
    if (! engineReady (engine))
        return PlaybackSetResult::notReady;
    const double ratio = pitchRatio (semitones);
    setResamplingRatio (engine, ratio);
    state.mainPreviewSpeed.store (ratio);
    state.playhead.speed.store (std::clamp (ratio, 0.25, 4.0));
    return PlaybackSetResult::ok;
}

TelemetryResult getPlaybackTelemetry (QuorvalenEngine& engine, double* position, double* length, std::uint32_t* playing)
{
    auto& state = playbackState (engine);
    if (position == nullptr || length == nullptr || playing == nullptr)
        return TelemetryResult::nullPointer;
    const auto lock = lockEngine (engine);
    if (! engineReady (engine))
        return TelemetryResult::notReady;

    const double p = std::max (state.transportSource.getCurrentPosition(), 0.0);
    const double total = std::max (state.transportSource.getLengthInSeconds(), 0.0);
    const bool loopMode = state.mainPreviewLooping && state.currentSource != nullptr
        && state.finishedPreviewSampleRate > 0.0 && total > 0.0;
    double x = loopMode ? state.playhead.positionSeconds.load() : p;

    double latency = 0.0;
    if (auto* device = outputDevice (engine))
        if (const double rate = device->getCurrentSampleRate(); rate > 0.0)
            latency = device->getOutputLatencyInSamples() / rate;
    x -= state.mainPreviewSpeed.load() * latency;

    if (loopMode)
    {
        if (x < 0.0)
            x = p >= total - 0.001 ? x + total : 0.0;
        x = std::fmod (std::max (x, 0.0), total);
    }
    *position = std::max (x, 0.0);
    *length = total;
    *playing = state.transportSource.isPlaying() ? 1u : 0u;
    return TelemetryResult::ok;
}

} // namespace quorvalen
