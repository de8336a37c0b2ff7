#include "playback/Playback.h"

#include "cache/AudioCache.h"
#include "io/AudioDecode.h"
#include "engine/QuorvalenEngine.h"
#include "io/AudioIntake.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace quorvalen
{

double pitchRatio (float semitones)
{
    const double s = std::isfinite (semitones) ? std::clamp ((double) semitones, -24.0, 24.0) : 0.0;
    return std::pow (2.0, s / 12.0);
}

double outputDeviceRate (QuorvalenEngine& engine, double fallback)
{
    if (engine.deviceManager != nullptr)
        if (auto* device = engine.deviceManager->getCurrentAudioDevice())
            if (const double rate = device->getCurrentSampleRate(); std::isfinite (rate) && rate > 0.0)
                return rate;
    return fallback;
}

void attachCurrentSource (QuorvalenEngine& engine, std::unique_ptr<EngineMemorySource> source, double sourceRate)
{
    engine.currentSource = std::move (source);
    engine.transportSource.setSource (engine.currentSource.get(), 0, nullptr, sourceRate, 2);
}

int playCached (QuorvalenEngine& engine, std::int32_t id, float semitones, float volumePercent)
{
    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return 1;
    auto* entry = findCacheEntry (engine, (std::uint32_t) id);
    if (entry == nullptr)
        return 2;
    if (entry->buffer == nullptr)
        return 3;

    engine.stopPlayback();
    // The transport resamples, so the pitch moves with the speed.
    attachCurrentSource (engine, std::make_unique<EngineMemorySource> (*entry->buffer, false),
                         entry->sampleRate * pitchRatio (semitones));
    const double volume = std::isfinite (volumePercent) ? std::clamp ((double) volumePercent, 0.0, 100.0) : 0.0;
    engine.transportSource.setGain ((float) (volume / 100.0));
    engine.transportSource.setPosition (0.0);
    engine.playingCacheId = (std::uint32_t) id;
    engine.playingLoops = false;
    engine.playingThroughRack = false;
    engine.transportSource.start();
    return 0;
}

int playWavFile (QuorvalenEngine& engine, const char* path)
{
    if (path == nullptr)
        return 1;
    juce::File file;
    {
        std::lock_guard lock (engine.engineMutex);
        if (! engine.hasDevice())
            return 2;
        file = juce::File (juce::String::fromUTF8 (path));
        if (! file.existsAsFile())
            return 3;
    }
    // Decoded without the engine mutex, like the intakes: a hostile file must not
    // freeze the other exports.
    auto decoded = io::decodeAudioFile (file);
    switch (decoded.stage)
    {
        case io::DecodedAudio::Stage::notAudio: return 4;
        case io::DecodedAudio::Stage::shape: return 5;
        case io::DecodedAudio::Stage::read: return 6;
        case io::DecodedAudio::Stage::rate: return 7;
        case io::DecodedAudio::Stage::ok: break;
    }

    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return 2;
    engine.stopPlayback();
    engine.playbackBuffer = std::move (decoded.buffer);
    attachCurrentSource (engine, std::make_unique<EngineMemorySource> (*engine.playbackBuffer, false), decoded.sampleRate);
    engine.transportSource.setPosition (0.0);
    engine.transportSource.start();
    engine.playingCacheId = 0;
    return 0;
}

int stopWithFade (QuorvalenEngine& engine)
{
    std::lock_guard lock (engine.engineMutex);
    if (! engine.isReady())
        return 1;
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
    return 0;
}

int setMainPreviewLooping (QuorvalenEngine& engine, bool looping)
{
    std::lock_guard lock (engine.engineMutex);
    if (! engine.hasDevice())
        return 1;
    engine.foundryMainPreviewLooping = looping;
    engine.regionFilterSource.looping.store (looping);
    if (engine.currentSource != nullptr)
        engine.currentSource->setLooping (looping);
    return 0;
}

int setMainPreviewPitch (QuorvalenEngine& engine, float semitones)
{
    // No lock: only the ready flag, the resampler's own lock and atomics are touched.
    if (! engine.isReady())
        return 1;
    const double ratio = pitchRatio (semitones);
    engine.resamplingSource.setResamplingRatio (ratio);
    engine.foundryMainPreviewSpeed.store (ratio);
    engine.regionFilterSource.speed.store (std::clamp (ratio, 0.25, 4.0));
    return 0;
}

int getPlaybackTelemetry (QuorvalenEngine& engine, double* position, double* length, std::uint32_t* playing)
{
    if (position == nullptr || length == nullptr || playing == nullptr)
        return 2;
    std::lock_guard lock (engine.engineMutex);
    if (! engine.isReady())
        return 1;

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
    return 0;
}

} // namespace quorvalen
