#pragma once
// The engine's transport: the audio library's transport with the two parameters
// the audio thread reads while host threads write them published atomically: the
// gain (the library keeps its own as a plain float, so it is never used here and
// stays 1) and the channel count of the attached source (a mono source plays on
// every output channel, not on the first alone).
#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>

namespace quorvalen
{

class PlaybackTransport : public juce::AudioTransportSource
{
public:
    // These hide the library's gain; like it, the output ramps to a new gain over a block.
    void setGain (float newGain) noexcept { gain.store (newGain); }
    float getGain() const noexcept { return gain.load(); }

    // Set before the source is attached.
    void setSourceChannels (int channels) noexcept { sourceChannels.store (channels); }

    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

private:
    std::atomic<float> gain { 1.0f };
    std::atomic<int> sourceChannels { 0 };
    float lastGain = 1.0f; // the audio thread's own
};

} // namespace quorvalen
