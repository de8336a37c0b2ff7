#include "rack/modules/FreqShiftModule.h"

#include "rack/RackProcessingState.h"

#include <algorithm>

namespace quorvalen
{

class RackLiveShifter
{
public:
    void reset() {}
};

FreqShiftState::FreqShiftState() = default;
FreqShiftState::~FreqShiftState() = default;
FreqShiftState::FreqShiftState (FreqShiftState&&) noexcept = default;
FreqShiftState& FreqShiftState::operator= (FreqShiftState&&) noexcept = default;

void prepareFreqShifter (RackProcessingState& state, const QuorvalenRackSettings&)
{
    // No shifter yet: the module passes audio through.
    auto& s = state.freqShift;
    s.shifter.reset();
    s.blockSize = s.latency = 0;
    s.inputLeft.clear();
    s.inputRight.clear();
    s.outputLeft.clear();
    s.outputRight.clear();
    s.dryDelayLeft.clear();
    s.dryDelayRight.clear();
    resetFreqShiftState (s);
}

void resetFreqShiftState (FreqShiftState& s)
{
    if (s.shifter != nullptr)
        s.shifter->reset();
    for (auto* v : { &s.inputLeft, &s.inputRight, &s.outputLeft, &s.outputRight, &s.dryDelayLeft, &s.dryDelayRight })
        std::fill (v->begin(), v->end(), 0.0f);
    s.wetSmoothLeft = s.wetSmoothRight = 0.0f;
    s.inputFill = s.outputRead = s.outputAvailable = s.dryIndex = s.processed = 0;
}

void processFreqShift (RackProcessingState&, juce::AudioBuffer<float>&, int, int, const QuorvalenRackSettings&)
{
    // Passes the block through until the live shifter is in.
}

} // namespace quorvalen
