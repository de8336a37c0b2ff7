#pragma once
// The processing rack stage of the playback chain. Until the rack is built it
// passes audio through; the enable flag is already the atomic the audio thread reads.
#include "engine/ChainStage.h"

#include <atomic>

namespace quorvalen
{

class QuorvalenProcessingRackSource final : public ChainStage
{
public:
    explicit QuorvalenProcessingRackSource (juce::AudioSource* input) : ChainStage (input) {}

    void setProcessingEnabled (bool shouldProcess) { processingEnabled.store (shouldProcess); }
    bool isProcessingEnabled() const { return processingEnabled.load(); }

private:
    std::atomic<bool> processingEnabled { false };
};

} // namespace quorvalen
