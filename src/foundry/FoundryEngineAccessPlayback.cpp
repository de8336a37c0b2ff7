// The Foundry's ways into playback: the render lock, the audition stages it
// neutralises, and how a finished preview reaches the transport.
#include "foundry/FoundryEngineAccess.h"

#include "engine/QuorvalenEngine.h"
#include "foundry/FoundryRefreshMemoryAudioSource.h"
#include "playback/Playback.h"

#include <cmath>

namespace quorvalen::foundry
{

std::unique_lock<std::recursive_mutex> lockRender (QuorvalenEngine& engine)
{
    return std::unique_lock (engine.renderLock);
}

void neutraliseFoundryAudition (QuorvalenEngine& engine)
{
    engine.auditionHighPass.makeInactive();
    engine.auditionLowPass.makeInactive();
    // The main preview's speed is 1 after any stop; a refresh keeps what plays at
    // its live pitch instead of jumping to 1 while the speed says otherwise.
    engine.resamplingSource.setResamplingRatio (engine.foundryMainPreviewSpeed.load());
    auto& c = engine.auditionCharacterSource;
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
    engine.finishedPreviewSampleRate = rate;
}

namespace
{
void publishPreviewPosition (QuorvalenEngine& engine, double lengthSeconds, bool loop, double position)
{
    auto& region = engine.regionFilterSource;
    region.speed.exchange (std::clamp (engine.foundryMainPreviewSpeed.load(), 0.25, 4.0));
    region.previewLengthSeconds.exchange (std::max (lengthSeconds, 0.0));
    region.looping.exchange (loop);
    region.playbackPositionSeconds.exchange (position);
}
} // namespace

void installAndPlayPreview (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double rate,
                            bool loop)
{
    engine.stopPlayback();
    engine.playbackBuffer = std::move (audio);
    if (! engine.hasDevice() || engine.playbackBuffer == nullptr)
        return;
    engine.foundryMainPreviewLooping = loop;
    publishPreviewPosition (engine, engine.playbackBuffer->getNumSamples() / rate, loop, 0.0);
    playPlaybackBuffer (engine, rate, loop);
}

void installPreviewBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio)
{
    foundry::replacePlaybackBuffer (engine, std::move (audio));
}

void stopTransport (QuorvalenEngine& engine)
{
    engine.transportSource.stop();
}

bool previewAttached (QuorvalenEngine& engine)
{
    return engine.hasDevice() && engine.playbackBuffer != nullptr && engine.currentSource != nullptr;
}

void swapPreviewIntoPlayback (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double rate)
{
    if (! previewAttached (engine) || audio == nullptr || audio->getNumSamples() < 1)
    {
        installPreviewBuffer (engine, std::move (audio));
        return;
    }
    const double r = rate > 0.0 && std::isfinite (rate) ? rate : 44100.0;
    const bool loop = engine.foundryMainPreviewLooping;
    const double length = audio->getNumSamples() / r;
    auto& transport = engine.transportSource;
    const juce::AudioBuffer<float> none;

    // Destroyed after the callback lock is released.
    std::unique_ptr<juce::PositionableAudioSource> retiredSource;
    std::unique_ptr<juce::AudioBuffer<float>> retiredBuffer;
    {
        // The audio thread stays outside the chain while its source is swapped, so
        // no block is skipped and nothing reads the old buffer afterwards.
        const juce::ScopedLock callbackLock (engine.deviceManager->getAudioCallbackLock());
        const bool wasPlaying = transport.isPlaying();
        // The transport's read position, in both the crossfade and the new start,
        // so that the new sound continues exactly where the old one was.
        const juce::int64 oldPosition = std::max<juce::int64> (engine.currentSource->getNextReadPosition(), 0);
        const double q = (double) oldPosition / r;
        const double p = loop ? std::fmod (q, length) : std::min (length, q);
        auto source = std::make_unique<FoundryRefreshMemoryAudioSource> (
            *audio, wasPlaying ? *engine.playbackBuffer : none, oldPosition, loop);

        transport.setSource (source.get(), 0, nullptr, r, 2);
        transport.setPosition (p);
        transport.setGain (1.0f);
        retiredSource = std::exchange (engine.currentSource, std::move (source));
        retiredBuffer = std::exchange (engine.playbackBuffer, std::move (audio));
        engine.playingCacheId = 0;
        publishPreviewPosition (engine, length, loop, p);
        if (wasPlaying)
            transport.start();
    }
}

} // namespace quorvalen::foundry
