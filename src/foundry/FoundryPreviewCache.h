#pragma once
// The last completed Foundry preview with everything it was made from: the render
// record (arguments and automation lanes) and copies of the source sounds. A
// render whose record and sources are unchanged reuses the preview.
#include <juce_audio_basics/juce_audio_basics.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen
{

struct FoundryPreviewCache
{
    struct Snapshot
    {
        bool present = false;
        juce::AudioBuffer<float> audio;
        double sampleRate = 0.0;
    };

    std::vector<double> params;
    std::array<Snapshot, 4> snapshots;
    std::uint64_t snapshotBytes = 0;
    std::unique_ptr<juce::AudioBuffer<float>> preview;
    double previewSampleRate = 0.0;
};

} // namespace quorvalen
