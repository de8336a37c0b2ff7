#pragma once
// Per-region filters of the Foundry main preview, chosen by playback position.
// For now the stage passes audio through and keeps the playback fields that the
// engine publishes to it.
#include "engine/ChainStage.h"

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>

namespace quorvalen
{

class FoundryRegionFilterSource final : public ChainStage
{
public:
    FoundryRegionFilterSource (juce::AudioSource* input, juce::AudioTransportSource* transport)
        : ChainStage (input), transport (transport) {}

    std::atomic<bool> enabled { false };
    std::atomic<bool> resetRequested { true };
    std::atomic<double> previewLengthSeconds { 0.0 };
    std::atomic<double> playbackPositionSeconds { 0.0 };
    std::atomic<double> speed { 1.0 };
    std::atomic<bool> looping { false };

private:
    juce::AudioTransportSource* transport;
};

} // namespace quorvalen
