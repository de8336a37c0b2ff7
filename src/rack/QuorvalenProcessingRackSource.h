#pragma once
// The processing rack stage of the playback chain: runs the seven-module rack on
// what its input delivers, when processing is enabled.
//
// Threads. The audio thread reads the enable flag, try-locks the state lock (a
// block that finds it taken passes through dry instead of waiting), and leases the
// current settings record without locking or freeing. Host threads change the state
// the audio thread uses only under that lock, and only by cheap steps: anything
// that allocates, searches folders or loads files is done on a spare state that the
// audio thread never sees, which is then swapped in.
#include "chain/ChainStage.h"
#include "rack/QuorvalenRackSettings.h"
#include "rack/RackSettingsPublisher.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace quorvalen
{

struct RackProcessingState;

// What a playback preparation asks for, in device samples.
struct RackPlaybackPlan
{
    std::int64_t playLength = 1;
    bool looping = false;
    std::int64_t loopLength = 1;
    bool keepTail = false;

    // playLength = max(length, 1); when looping, a given loop length shorter than
    // the sound (or none) is the sound's length.
    static RackPlaybackPlan make (std::int64_t length, bool looping, std::int64_t loopLength, bool keepTail);
};

// Where the live rack stands, read under the state lock (tests and diagnostics).
struct RackPlaybackSnapshot
{
    std::int64_t position = 0;
    std::int64_t playLength = 1;
    std::int64_t loopLength = 1;
    bool looping = false;
    double sampleRate = 0.0;
    int maxBlock = 0;
    std::int64_t childPosition0 = 0;
};

class QuorvalenProcessingRackSource final : public ChainStage
{
public:
    explicit QuorvalenProcessingRackSource (juce::AudioSource* input);
    ~QuorvalenProcessingRackSource() override;

    void prepareToPlay (int samplesPerBlockExpected, double sampleRate) override;
    void releaseResources() override;
    void getNextAudioBlock (const juce::AudioSourceChannelInfo& info) override;

    // Takes effect at the next block.
    void setProcessingEnabled (bool shouldProcess)
    {
        processingEnabled.store (shouldProcess, std::memory_order_release);
    }
    bool isProcessingEnabled() const { return processingEnabled.load (std::memory_order_acquire); }

    // Settings: host threads.
    void publishSettings (std::shared_ptr<const QuorvalenRackSettings> record)
    {
        publisher.publish (std::move (record));
    }
    std::shared_ptr<const QuorvalenRackSettings> currentSettings() const { return publisher.current(); }
    const RackSettingsPublisher& settingsPublisher() const { return publisher; }
    // 10 s when a space module of the current record is enabled, else 0.
    double rackTailSeconds() const;

    // Playback preparation: host threads, engine mutex held. Resets every module,
    // sets the lengths and prepares the shifter and impulse responses the current
    // record needs.
    void prepareRackPlayback (std::int64_t length, bool looping, std::int64_t loopLength, bool keepTail);
    void seekRack (std::int64_t position);

    // The two halves of a preparation, for a caller that swaps the chain under the
    // device's callback lock: the heavy half before taking it, the swap inside.
    void stageRackPlayback (const RackPlaybackPlan& plan, std::shared_ptr<const QuorvalenRackSettings> record);
    void commitStagedRackPlayback();

    // Samples (device rate) past the sound that the last preparation keeps processing
    // for the shifters' delay; 0 when looping or without a shifter.
    std::int64_t delayTailSamples() const;

    RackPlaybackSnapshot playbackSnapshot() const;

private:
    void preparePlaybackOn (RackProcessingState& state, const RackPlaybackPlan& plan,
                            const QuorvalenRackSettings* record) const;
    void swapInSpare(); // hostMutex held

    // Host-side preparation: the spare state, the plan and the staged swap.
    mutable std::mutex hostMutex;
    // The state the audio thread uses; it only ever try-locks this.
    mutable std::mutex stateMutex;

    std::unique_ptr<RackProcessingState> state;
    std::unique_ptr<RackProcessingState> spare;
    RackSettingsPublisher publisher;
    std::atomic<bool> processingEnabled { false };

    std::optional<RackPlaybackPlan> plan;       // the playback the live state serves
    std::optional<RackPlaybackPlan> stagedPlan; // set by stage, taken by commit
    std::shared_ptr<const QuorvalenRackSettings> stagedRecord;
    bool stagedIsStale = false; // the device re-prepared the spare since
    std::optional<std::int64_t> positionAtRelease;
};

// Parses the document and publishes the record; false (nothing changed) when it
// does not parse to a JSON object.
bool updateSettings (QuorvalenProcessingRackSource& rack, const char* jsonUtf8);

} // namespace quorvalen
