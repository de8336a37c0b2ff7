#pragma once
// Everything the rack modules keep between blocks, and the block path that runs
// them. The live rack and every offline render own states of their own; nothing
// in a state is shared.
#include "rack/QuorvalenRackSettings.h"
#include "rack/modules/CepstralFilter.h"
#include "rack/modules/FilterModule.h"
#include "rack/modules/FreqShiftModule.h"
#include "rack/modules/HeatModule.h"
#include "rack/modules/SpaceModule.h"
#include "rack/modules/SpectralDelayModule.h"
#include "rack/modules/StereoModule.h"
#include "rack/modules/TransientModule.h"

#include <juce_dsp/juce_dsp.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen
{

// Oversampler and work-buffer slots.
enum RackOversamplerSlot : int
{
    rackOversamplerHeat = 0,
    rackOversamplerFilter = 1,
    rackOversamplerTransient = 2,
    rackOversamplerSpectralDelay = 3,
    rackOversamplerFreqShift = 4,
    rackOversamplerCount = 5,
};

enum RackWorkBufferSlot : int
{
    rackWorkHeat = 0,
    rackWorkFilter = 1,
    rackWorkTransient = 2,
    rackWorkSpectralDelay = 3,
    rackWorkFreqShiftWet = 4,
    rackWorkFreqShiftDry = 5,
    rackWorkBufferCount = 6,
};

struct RackProcessingState
{
    // A live state serves the playback chain and carries one child per possible
    // rackModules entry; other states have none.
    explicit RackProcessingState (bool live);
    ~RackProcessingState();

    RackProcessingState (const RackProcessingState&) = delete;
    RackProcessingState& operator= (const RackProcessingState&) = delete;

    double sampleRate = 44100.0;
    // Play position, at the base rate, of the first sample of the block (or piece)
    // being processed; automation and envelopes read it.
    std::int64_t position = 0;
    std::int64_t playLength = 1;  // samples of the sound proper
    std::int64_t loopLength = 1;  // wrap length when looping, never below playLength
    // Not looping: samples past the sound that the modules other than space still
    // process, so that a shifter's delayed output is heard to its end.
    std::int64_t delayTail = 0;
    bool looping = false;
    bool keepTail = false;        // space keeps its tail across a loop wrap
    double lfoPhase = 0.0;        // filter LFO, cycles in [0, 1)
    double dirtboxPhase = 0.0;
    float randomLfoValue = 0.5f;
    std::int32_t randomLfoHold = 0;
    // One generator shared by heat bleed, the filter's random LFO and dirtbox and the
    // spectral delay: the order of draws across modules is part of the sound.
    std::uint32_t noiseSeed = 1949934109u;

    CepstralFilterState cepstral;
    FilterState filter;
    HeatState heat;
    std::array<std::unique_ptr<juce::dsp::Oversampling<float>>, rackOversamplerCount> oversamplers;
    std::array<juce::AudioBuffer<float>, rackWorkBufferCount> workBuffers;
    TransientState transient;
    StereoState stereo;
    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear> monoBlend;
    bool monoBlendStarted = false;
    SpectralDelayState spectralDelay;
    SpaceState space;
    int maxBlock = 512;
    FreqShiftState freqShift;
    std::vector<std::unique_ptr<RackProcessingState>> children;
};

inline constexpr std::uint32_t rackNoiseSeedStart = 1949934109u;

// Draw of the shared generator: a value in [-1, 1).
inline float rackNoise (RackProcessingState& state) noexcept
{
    state.noiseSeed = state.noiseSeed * 1664525u + 1013904223u;
    return (float) ((double) (state.noiseSeed >> 8) / 8388607.5 - 1.0);
}

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
// The module's DSP under its enable gate; anything else passes unchanged.
void dispatchRackModule (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int count,
                         int module, const QuorvalenRackSettings& settings);

// Lane value mapped into [lo, hi] at a position of a sound of `length` samples; the
// setting's own value when the lane is empty.
float automationValue (const QuorvalenRackSettings& settings, int lane, float defaultValue, float lo, float hi,
                       std::int64_t position, std::int64_t length, bool logarithmic) noexcept;
// The position modules read lanes at: `offset` samples into the current piece,
// wrapped into the loop and held inside the sound.
std::int64_t rackAutomationPosition (const RackProcessingState& state, std::int64_t offset = 0) noexcept;
// 1 - exp(-2 pi f / rate), f held within [5, 0.45 rate].
float onePoleCoefficient (float frequency, double rate) noexcept;
// Moves every channel's sample toward the channel mean by `amount` (1 = mono).
void applyMonoBlend (juce::AudioBuffer<float>& buffer, int sample, float amount) noexcept;

// Test seam: called before each module dispatch, null in production.
using RackDispatchObserver = void (*) (const RackProcessingState& state, int module, int start, int count,
                                       const QuorvalenRackSettings& settings);
void setRackDispatchObserver (RackDispatchObserver observer) noexcept;

} // namespace quorvalen
