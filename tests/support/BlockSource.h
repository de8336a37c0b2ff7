#pragma once
// A chain input that plays a buffer from its start (looping), for driving a chain
// stage block by block on the test thread.
#include <juce_audio_basics/juce_audio_basics.h>

namespace qvtest
{

class BlockSource final : public juce::AudioSource
{
public:
    explicit BlockSource (juce::AudioBuffer<float> a) : audio (std::move (a)) {}
    void prepareToPlay (int, double) override {}
    void releaseResources() override {}
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override
    {
        for (int i = 0; i < info.numSamples; ++i, pos = (pos + 1) % audio.getNumSamples())
            for (int ch = 0; ch < info.buffer->getNumChannels(); ++ch)
                info.buffer->setSample (ch, info.startSample + i,
                                        audio.getSample (std::min (ch, audio.getNumChannels() - 1), pos));
    }

    juce::AudioBuffer<float> audio;
    int pos = 0;
};

} // namespace qvtest
