#include "rack/modules/StereoModule.h"

#include "rack/RackProcessingState.h"

namespace quorvalen
{

void resetStereoState (StereoState& stereo)
{
    stereo = {};
}

void processStereo (RackProcessingState&, juce::AudioBuffer<float>&, int, int, const QuorvalenRackSettings&)
{
    // Passes the block through until the width stage is in.
}

} // namespace quorvalen
