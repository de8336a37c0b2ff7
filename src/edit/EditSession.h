#pragma once
#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen
{

// A processing edit session: a work copy of a cached sound with whole-buffer
// undo and redo snapshots, oldest first.
struct EditSession
{
    std::uint32_t sourceCacheId = 0;
    std::uint32_t workCacheId = 0;
    std::vector<std::unique_ptr<juce::AudioBuffer<float>>> undoStack;
    std::vector<std::unique_ptr<juce::AudioBuffer<float>>> redoStack;
};

} // namespace quorvalen
