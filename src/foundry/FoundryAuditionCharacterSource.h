#pragma once
// Live audition level and character of the Foundry at four times the rate: a mode
// stage (transient, body heat, tail heat, overtone drive), then a gentle tanh
// ceiling on every playback, the level, and the tail's width.
#include "foundry/FoundryOversampledStage.h"

#include <atomic>

namespace quorvalen
{

class FoundryAuditionCharacterSource final : public FoundryOversampledStage
{
public:
    explicit FoundryAuditionCharacterSource (juce::AudioSource* input) : FoundryOversampledStage (input) {}

    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    // Mode values: -1 main preview, 0 transient, 1 body, 2 tail, 3 overtone.
    enum Mode
    {
        mainPreview = -1,
        transientMode = 0,
        bodyMode = 1,
        tailMode = 2,
        overtoneMode = 3,
    };

    // Written by the host (setFoundryAuditionCharacter), read once per block.
    std::atomic<float> level { 1.0f };           // gain, 0..1.5
    std::atomic<float> transientAmount { 0.0f }; // the rest in percent, scaled and clamped here
    std::atomic<float> bodyHeat { 0.0f };
    std::atomic<float> tailHeat { 0.0f };
    std::atomic<float> overtoneDrive { 0.0f };
    std::atomic<float> width { 0.0f };
    std::atomic<int> mode { 0 };
    std::atomic<int> heatMode { 0 };

private:
    void resetState() noexcept override;

    double fast[2] {}, slow[2] {};
};

} // namespace quorvalen
