#pragma once
// Rack module 3 on the live path: a live pitch shifter over the block, with a dry
// lead-in after its latency and a short crossfade to the shifted sound.
#include "dsp/OnePole.h"
#include "dsp/OversamplingFrame.h"
#include "rack/modules/RackModuleCommon.h"

#include <juce_dsp/juce_dsp.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen::platform
{
class LiveShifter;
}

namespace quorvalen
{

struct FreqShiftState
{
    FreqShiftState();
    ~FreqShiftState();
    FreqShiftState (FreqShiftState&&) noexcept;
    FreqShiftState& operator= (FreqShiftState&&) noexcept;

    std::unique_ptr<platform::LiveShifter> shifter; // null while the module is off
    std::vector<float> inputLeft, inputRight;       // blockSize each
    std::vector<float> outputLeft, outputRight;     // blockSize each
    std::vector<float> dryDelayLeft, dryDelayRight; // max(latency, 1) each
    float wetSmoothLeft = 0.0f, wetSmoothRight = 0.0f;
    std::uint64_t blockSize = 0;
    std::uint64_t inputFill = 0;
    std::uint64_t outputRead = 0;
    std::uint64_t outputAvailable = 0;
    std::uint64_t latency = 0;
    std::uint64_t dryIndex = 0;
    std::uint64_t processed = 0; // samples since the shifter was prepared
};

class FreqShiftModule
{
public:
    void prepare (const RackModuleSpec& spec);
    // The shifter's own reset, FIFOs and delay lines zeroed (sizes kept), counters
    // 0. Allocates nothing: it also serves the audio thread when the state went bad.
    void reset() noexcept;
    // Builds the shifter (or drops it when the module is off) for the prepared rate.
    // Host thread; never on the audio thread: it allocates.
    void prepareShifter (const QuorvalenRackSettings& settings);
    void process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes);

    // Samples the shifter delays its output by; 0 while the module is off.
    std::int64_t delaySamples() const noexcept { return shift.shifter != nullptr ? (std::int64_t) shift.latency : 0; }

    FreqShiftState& state() noexcept { return shift; }
    const FreqShiftState& state() const noexcept { return shift; }

private:
    void dropShifter();
    void clearState() noexcept;

    double sampleRate = 44100.0;
    int maxBlock = 0;
    float wetSmoothing = dsp::onePoleCoefficient (12000.0f, 44100.0); // low-pass on upward shifts
    dsp::OversamplingFrame frame;                                     // its work buffer carries the wet signal
    juce::AudioBuffer<float> dry;
    FreqShiftState shift;
    AutomationLaneCursor shiftCursor; // the shift lane is read once per sample
};

// The shifter's gentle saturation, tanh(1.05 x) at four times the rate, in place;
// shared by the live module and the offline render.
void saturateShiftedBlock (juce::dsp::Oversampling<float>& oversampler, juce::dsp::AudioBlock<float> block) noexcept;
// The same curve on a block already at four times the rate.
void saturateShiftedSamples (juce::dsp::AudioBlock<float>& up) noexcept;

} // namespace quorvalen
