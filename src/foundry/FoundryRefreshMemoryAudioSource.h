#pragma once
// The current source after a Foundry refresh: plays the new preview and, over its
// first (at most 2048) samples, crossfades from the previous preview as it stood at
// the read position of the refresh. Everything is prepared at construction, so the
// audio thread only multiplies and adds.
#include "chain/EngineMemorySource.h"

#include <vector>

namespace quorvalen
{

class FoundryRefreshMemoryAudioSource final : public EngineMemorySource
{
public:
    static constexpr int maxCrossfade = 2048;

    // `audio` is referenced, not copied; `previous` is read only here.
    FoundryRefreshMemoryAudioSource (juce::AudioBuffer<float>& audio, const juce::AudioBuffer<float>& previous,
                                     juce::int64 previousPosition, bool shouldLoop);

    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    int crossfadeLength() const noexcept { return fadeOut.getNumSamples(); }

private:
    juce::AudioBuffer<float> fadeOut;
    std::vector<float> fadeIn;
    juce::int64 played = 0;
};

} // namespace quorvalen
