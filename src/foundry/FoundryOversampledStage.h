#pragma once
// What the Foundry's live chain stages share: the device's rate and block size,
// a two-channel 4x oversampling frame sized in prepareToPlay (never on the audio
// thread), and a reset of the stage's own state with the frame's.
#include "chain/ChainStage.h"
#include "dsp/OversamplingFrame.h"

namespace quorvalen
{

class FoundryOversampledStage : public ChainStage
{
public:
    using ChainStage::ChainStage;

    void prepareToPlay (int samplesPerBlock, double rate) override;
    void releaseResources() override;

protected:
    void reset() noexcept
    {
        resetState();
        frame.reset();
    }
    virtual void resetState() noexcept = 0;

    // Runs `process` on the upsampled form of [start, start + n) of the block's
    // first two channels, in pieces of at most one prepared block.
    template <typename Process>
    void runOversampled (juce::AudioBuffer<float>& buffer, int start, int n, Process&& process)
    {
        for (int done = 0; done < n;)
        {
            const int count = std::min (blockSize, n - done);
            bool finite = true;
            frame.run (buffer, start + done, count, finite, process);
            done += count;
        }
    }

    double sampleRate = 44100.0;
    int blockSize = 512;
    dsp::OversamplingFrame frame;
};

} // namespace quorvalen
