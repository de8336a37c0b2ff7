#include "rack/modules/StereoModule.h"

#include <cmath>

namespace quorvalen
{

StereoModule::StereoModule()
{
    monoBlend.reset (sampleRate, 0.005);
}

void StereoModule::prepare (const RackModuleSpec& spec)
{
    sampleRate = spec.sampleRate;
    crossoverCoefficient.invalidate();
    reset();
}

void StereoModule::reset()
{
    stereo = {};
    monoBlend.reset (sampleRate, 0.005);
    monoBlend.setCurrentAndTargetValue (0.0f);
    monoBlendStarted = false;
}

void StereoModule::process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes)
{
    auto& buffer = block.buffer;
    const int start = block.start;
    const int n = block.count;
    if (! settings.stereo.enabled || buffer.getNumChannels() < 2 || n < 1 || start < 0
        || start + n > buffer.getNumSamples())
        return;

    juce::ScopedNoDenormals noDenormals;

    const float crossover = lanes.read (rackParameter::stereoCrossover, settings.stereo.crossover);
    const float width = lanes.read (rackParameter::stereoWidth, settings.stereo.width);
    const float c =
        crossoverCoefficient.get (crossover, [this] (float f) { return dsp::onePoleCoefficient (f, sampleRate); });
    const float w = 1.0f + width / 10.0f;
    const bool widenLows = settings.stereo.widthBelowCrossover;

    auto& low = stereo.lowSide;
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
        stereo = {};
        if (w != 1.0f)
            for (int i = 0; i < n; ++i)
                if (! std::isfinite (left[i]) || ! std::isfinite (right[i]))
                    left[i] = right[i] = 0.0f;
    }
}

void StereoModule::blendToMono (RackBlock block, const QuorvalenRackSettings& settings)
{
    const float target = settings.stereo.mono ? 1.0f : 0.0f;
    if (! monoBlendStarted)
    {
        monoBlend.setCurrentAndTargetValue (target);
        monoBlendStarted = true;
    }
    else
    {
        monoBlend.setTargetValue (target);
    }

    if (block.buffer.getNumChannels() < 2 || (monoBlend.getCurrentValue() == 0.0f && ! monoBlend.isSmoothing()))
        return;
    for (int i = 0; i < block.count; ++i)
        applyMonoBlend (block.buffer, block.start + i, monoBlend.getNextValue());
}

void applyMonoBlend (juce::AudioBuffer<float>& buffer, int sample, float amount) noexcept
{
    const int channels = buffer.getNumChannels();
    if (channels < 2 || ! (amount > 0.0f))
        return;
    float sum = 0.0f;
    for (int c = 0; c < channels; ++c)
        sum += buffer.getSample (c, sample);
    const float mean = sum / (float) channels;
    for (int c = 0; c < channels; ++c)
    {
        auto* x = buffer.getWritePointer (c, sample);
        *x = amount >= 1.0f ? mean : *x + (mean - *x) * amount;
    }
}

} // namespace quorvalen
