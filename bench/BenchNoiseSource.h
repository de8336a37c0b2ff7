#pragma once
// A chain input of uniform noise in -0.25..0.25, the same on every run.
#include <juce_audio_basics/juce_audio_basics.h>

namespace qvbench
{

class NoiseSource final : public juce::AudioSource
{
public:
    explicit NoiseSource (juce::int64 seed = 3) : random (seed) {}
    void prepareToPlay (int, double) override {}
    void releaseResources() override {}
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override
    {
        for (int ch = 0; ch < info.buffer->getNumChannels(); ++ch)
        {
            auto* x = info.buffer->getWritePointer (ch, info.startSample);
            for (int i = 0; i < info.numSamples; ++i)
                x[i] = 0.5f * random.nextFloat() - 0.25f;
        }
    }

private:
    juce::Random random;
};

} // namespace qvbench
