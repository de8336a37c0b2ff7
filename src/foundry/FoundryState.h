#pragma once
// What the Foundry holds: the render lock, the last preview, the automation lanes
// and their generation, and its stages of the engine's chain (the region filter and
// the audition high-pass, low-pass and character, in that order after the
// resampler). The engine owns it; the Foundry reaches it through `foundryState`.
#include "foundry/FoundryAuditionCharacterSource.h"
#include "foundry/FoundryAutomationLane.h"
#include "foundry/FoundryPreviewCache.h"
#include "foundry/FoundryRegionFilterSource.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

namespace quorvalen
{

class QuorvalenEngine;

struct FoundryState
{
    // `input` is the resampler the stages follow; `transport` and `playhead` belong
    // to playback.
    FoundryState (juce::AudioSource& input, juce::AudioTransportSource& transport, PreviewPlayhead& playhead)
            : regionFilterSource (&input, &transport, playhead)
    {}

    // Always taken before the engine mutex.
    std::recursive_mutex renderLock;
    std::unique_ptr<FoundryPreviewCache> previewCache;
    std::uint64_t generation = 0;
    std::array<std::array<FoundryAutomationLane, foundryParameterCount>, foundryLayerCount> automationLanes;
    FoundryRegionFilterSource regionFilterSource;
    juce::IIRFilterAudioSource auditionHighPass { &regionFilterSource, false };
    juce::IIRFilterAudioSource auditionLowPass { &auditionHighPass, false };
    FoundryAuditionCharacterSource auditionCharacterSource { &auditionLowPass };
};

FoundryState& foundryState (QuorvalenEngine& engine);

} // namespace quorvalen
