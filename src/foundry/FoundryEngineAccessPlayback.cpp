// The Foundry's ways into playback: how a finished preview reaches the transport,
// through playback's own start and swap.
#include "foundry/FoundryEngineAccess.h"

#include "foundry/FoundryRefreshMemoryAudioSource.h"
#include "playback/Playback.h"

#include <cmath>

namespace quorvalen::foundry
{

void installAndPlayPreview (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double rate,
                            bool loop)
{
    stopPlayback (engine);
    foundry::replacePlaybackBuffer (engine, std::move (audio));
    const auto* buffer = playbackBufferOf (engine);
    if (! previewDeviceReady (engine) || buffer == nullptr)
        return;
    setPreviewLooping (engine, loop);
    publishPreviewPosition (engine, buffer->getNumSamples() / rate, loop, 0.0);
    playPlaybackBuffer (engine, rate, loop);
}

void installPreviewBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio)
{
    foundry::replacePlaybackBuffer (engine, std::move (audio));
}

void stopTransport (QuorvalenEngine& engine)
{
    quorvalen::stopTransport (engine);
}

void swapPreviewIntoPlayback (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> audio, double rate)
{
    if (! previewAttached (engine) || audio == nullptr || audio->getNumSamples() < 1)
    {
        installPreviewBuffer (engine, std::move (audio));
        return;
    }
    const double r = rate > 0.0 && std::isfinite (rate) ? rate : 44100.0;
    const bool loop = previewLooping (engine);
    const double length = audio->getNumSamples() / r;
    auto& fresh = *audio;
    const juce::AudioBuffer<float> none;

    swapRunningSource (
        engine, std::move (audio), r,
        [&] (const RunningSource& running) {
        // The transport's read position, in both the crossfade and the new start,
        // so that the new sound continues exactly where the old one was: in seconds
        // at the old source's own rate, which the new preview's may differ from.
        const double oldRate = running.sourceRate > 0.0 && std::isfinite (running.sourceRate) ? running.sourceRate : r;
        const double q = (double) running.readPosition / oldRate;
        const double p = loop ? std::fmod (q, length) : std::min (length, q);
        const auto& old = running.wasPlaying && running.playbackAudio != nullptr ? *running.playbackAudio : none;
        return BuiltSource { std::make_unique<FoundryRefreshMemoryAudioSource> (fresh, old, running.readPosition, loop),
                             p };
        },
        [&] (double p) { publishPreviewPosition (engine, length, loop, p); });
}

} // namespace quorvalen::foundry
