#pragma once
// A positionable source over a buffer it does not copy. Unlike the audio library's
// memory source, its read position moves past the end when it does not loop (so a
// transport over it notices that it finished) and is 64-bit (so a loop can run for
// days). Source channels beyond the output's are dropped; output channels beyond
// the source's are silent.
#include <juce_audio_basics/juce_audio_basics.h>

#include <atomic>

namespace quorvalen
{

class EngineMemorySource : public juce::PositionableAudioSource
{
public:
    EngineMemorySource (juce::AudioBuffer<float>& audio, bool shouldLoop) : buffer (audio), looping (shouldLoop) {}

    void prepareToPlay (int, double) override {}
    void releaseResources() override {}
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    void setNextReadPosition (juce::int64 newPosition) override { position.store (newPosition); }
    juce::int64 getNextReadPosition() const override;
    juce::int64 getTotalLength() const override { return buffer.getNumSamples(); }
    bool isLooping() const override { return looping.load(); }
    void setLooping (bool shouldLoop) override { looping.store (shouldLoop); }

protected:
    juce::AudioBuffer<float>& buffer;

private:
    std::atomic<juce::int64> position { 0 };
    std::atomic<bool> looping;
};

} // namespace quorvalen
