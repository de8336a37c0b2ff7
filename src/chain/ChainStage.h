#pragma once
// Common shape of a playback-chain stage: a juce::AudioSource with a non-owning
// pointer to the stage inside it, forwarding preparation and release inwards.
#include <juce_audio_basics/juce_audio_basics.h>

namespace quorvalen
{

class ChainStage : public juce::AudioSource
{
public:
    explicit ChainStage (juce::AudioSource* inputStage) : input (inputStage) {}

    void prepareToPlay (int samplesPerBlock, double rate) override
    {
        if (input != nullptr)
            input->prepareToPlay (samplesPerBlock, rate);
    }

    void releaseResources() override
    {
        if (input != nullptr)
            input->releaseResources();
    }

    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override { pullInput (info); }

protected:
    // Fills the block from the inner stage, or with silence when there is none.
    bool pullInput (const juce::AudioSourceChannelInfo& info)
    {
        if (input == nullptr)
        {
            info.clearActiveBufferRegion();
            return false;
        }
        input->getNextAudioBlock (info);
        return true;
    }

    juce::AudioSource* input;
};

} // namespace quorvalen
