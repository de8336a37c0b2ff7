#pragma once
// Everything the rack modules keep between blocks, and the block path that runs
// them. The live rack and every offline render own states of their own; nothing
// in a state is shared.
#include "dsp/NoiseGenerator.h"
#include "dsp/OnePole.h"
#include "rack/QuorvalenRackSettings.h"
#include "rack/modules/FilterModule.h"
#include "rack/modules/FreqShiftModule.h"
#include "rack/modules/HeatModule.h"
#include "rack/modules/SpaceModule.h"
#include "rack/modules/SpectralDelayModule.h"
#include "rack/modules/StereoModule.h"
#include "rack/modules/TransientModule.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen
{

struct RackProcessingState
{
    // A live state serves the playback chain and carries one child per possible
    // rackModules entry; other states have none.
    explicit RackProcessingState (bool live);
    ~RackProcessingState();

    RackProcessingState (const RackProcessingState&) = delete;
    RackProcessingState& operator= (const RackProcessingState&) = delete;

    double sampleRate = 44100.0;
    int maxBlock = 512;
    // Play position, at the base rate, of the first sample of the block (or piece)
    // being processed; automation and envelopes read it.
    std::int64_t position = 0;
    std::int64_t playLength = 1; // samples of the sound proper
    std::int64_t loopLength = 1; // wrap length when looping, never below playLength
    // Not looping: samples past the sound that the modules other than space still
    // process, so that a shifter's delayed output is heard to its end.
    std::int64_t delayTail = 0;
    bool looping = false;
    bool keepTail = false; // space keeps its tail across a loop wrap
    // One generator shared by heat bleed, the filter's random LFO and dirtbox and the
    // spectral delay: the order of draws across modules is part of the sound.
    dsp::NoiseGenerator noise;

    HeatModule heat { noise };
    FilterModule filter { noise };
    TransientModule transient;
    FreqShiftModule freqShift;
    SpectralDelayModule spectralDelay { noise };
    SpaceModule space;
    StereoModule stereo;
    std::vector<std::unique_ptr<RackProcessingState>> children;

    RackTimeline timeline() const noexcept { return { position, playLength, loopLength, looping }; }
};

inline constexpr std::uint32_t rackNoiseSeedStart = dsp::NoiseGenerator::startSeed;

// Sizes everything for the rate and block size (allocates), then resets.
void prepareRackState (RackProcessingState& state, double sampleRate, int blockSize);
// Fresh module state for a new sound; sizes are kept. Children too.
void resetRackState (RackProcessingState& state);

// The block path: chunks of at most maxBlock, modules in rack order (or the
// rackModules entries on their children), then the position advances.
void processRackBlock (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int startSample, int numSamples,
                       const QuorvalenRackSettings& settings);
// One module over a block: loop pieces, play-length limit, mono blend after stereo,
// tail resets for space.
void runRackModule (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int count, int module,
                    const QuorvalenRackSettings& settings);
// The module's own processing (each module keeps its enable gate); an unknown
// module passes unchanged.
void dispatchRackModule (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int count, int module,
                         const QuorvalenRackSettings& settings);

// The position modules read lanes at: `offset` samples into the current piece,
// wrapped into the loop and held inside the sound.
std::int64_t rackAutomationPosition (const RackProcessingState& state, std::int64_t offset = 0) noexcept;
using dsp::onePoleCoefficient;

// Test seam: called before each module dispatch, null in production.
using RackDispatchObserver = void (*) (const RackProcessingState& state, int module, int start, int count,
                                       const QuorvalenRackSettings& settings);
void setRackDispatchObserver (RackDispatchObserver observer) noexcept;

} // namespace quorvalen
