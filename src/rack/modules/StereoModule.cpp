#include "rack/modules/StereoModule.h"

#include "rack/RackProcessingState.h"

#include <cmath>

namespace quorvalen
{

void resetStereoState (StereoState& stereo)
{
    stereo = {};
}

void processStereo (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                    const QuorvalenRackSettings& settings)
{
    if (buffer.getNumChannels() < 2 || n < 1 || start < 0 || start + n > buffer.getNumSamples())
        return;

    juce::ScopedNoDenormals noDenormals;

    const auto at = rackAutomationPosition (state);
    const float crossover = automationValue (settings, rackLane::stereoCrossover, settings.stereoCrossover, 20.0f,
                                             20000.0f, at, state.playLength, true);
    const float width = automationValue (settings, rackLane::stereoWidth, settings.stereoWidth, -10.0f, 10.0f, at,
                                         state.playLength, false);
    const float c = onePoleCoefficient (crossover, state.sampleRate);
    const float w = 1.0f + width / 10.0f;
    const bool widenLows = settings.stereoWidthBelowCrossover;

    auto& low = state.stereo.lowSide;
    auto* left = buffer.getWritePointer (0, start);
    auto* right = buffer.getWritePointer (1, start);

    if (w == 1.0f)
    {
        // Unit width is the identity; rebuilding L and R from mid and side would
        // only add rounding. The side filter keeps tracking so a later width
        // change starts from the right state.
        for (int i = 0; i < n; ++i)
        {
            const float side = (left[i] - right[i]) * 0.5f;
            if (std::isfinite (side))
                low += (side - low) * c;
        }
    }
    else
    {
        for (int i = 0; i < n; ++i)
        {
            const float side = (left[i] - right[i]) * 0.5f;
            const float mid = (left[i] + right[i]) * 0.5f;
            if (! (std::isfinite (side) && std::isfinite (mid)))
            {
                // A non-finite input sample leaves as silence and stays out of the filter.
                left[i] = right[i] = 0.0f;
                continue;
            }
            low += (side - low) * c;
            const float high = side - low;
            const float newSide = widenLows ? w * low + high : w * high + low;
            left[i] = mid + newSide;
            right[i] = mid - newSide;
        }
    }

    const bool healthy = std::isfinite (low);
    jassert (healthy);
    if (! healthy)
    {
        // Only a poisoned state gets here; its block is lost, later ones are not.
        resetStereoState (state.stereo);
        if (w != 1.0f)
            for (int i = 0; i < n; ++i)
                if (! std::isfinite (left[i]) || ! std::isfinite (right[i]))
                    left[i] = right[i] = 0.0f;
    }
}

} // namespace quorvalen
