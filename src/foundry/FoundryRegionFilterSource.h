#pragma once
// Per-region filters of the Foundry main preview, chosen by playback position.
// For now the stage passes audio through; it keeps the playback fields that the
// engine publishes to it and advances the playback position that telemetry reads
// in loop mode.
#include "engine/ChainStage.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace quorvalen
{

class FoundryRegionFilterSource final : public ChainStage
{
public:
    FoundryRegionFilterSource (juce::AudioSource* input, juce::AudioTransportSource* transport)
        : ChainStage (input), transport (transport) {}

    void prepareToPlay (int samplesPerBlock, double rate) override
    {
        sampleRate.store (rate > 0.0 ? rate : 44100.0);
        ChainStage::prepareToPlay (samplesPerBlock, rate);
    }

    // Audio thread: the position moves by the block's frames at the preview speed
    // while the transport plays, wrapped by the preview length when looping.
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override
    {
        const double p0 = playbackPositionSeconds.load();
        if (! pullInput (info))
            return;
        const double rate = sampleRate.load();
        if (info.numSamples < 1 || ! (rate > 0.0) || (transport != nullptr && ! transport->isPlaying()))
            return;
        double p = p0 + info.numSamples * speed.load() / rate;
        const double length = previewLengthSeconds.load();
        if (length > 0.0)
            p = looping.load() ? std::fmod (p, length) : std::min (length, p);
        playbackPositionSeconds.store (std::max (p, 0.0));
    }

    std::atomic<bool> enabled { false };
    std::atomic<bool> resetRequested { true };
    std::atomic<double> previewLengthSeconds { 0.0 };
    std::atomic<double> playbackPositionSeconds { 0.0 };
    std::atomic<double> speed { 1.0 };
    std::atomic<bool> looping { false };

private:
    juce::AudioTransportSource* transport;
    std::atomic<double> sampleRate { 44100.0 };
};

} // namespace quorvalen
