#include "foundry/FoundryNonlinear.h"

#include "dsp/OfflineOversampler.h"

#include <vector>

namespace quorvalen::foundry
{

namespace
{
template <typename PerSample>
void forEachSample (juce::dsp::AudioBlock<float>& block, PerSample&& f) noexcept
{
    for (size_t c = 0; c < block.getNumChannels(); ++c)
    {
        auto* x = block.getChannelPointer (c);
        for (size_t j = 0; j < block.getNumSamples(); ++j)
            x[j] = f (x[j]);
    }
}
} // namespace

void heatWaveshape (const HeatParams& params, juce::dsp::AudioBlock<float>& block) noexcept
{
    const HeatShaper shape (params);
    forEachSample (block, shape);
}

void softClipOversampled (juce::AudioBuffer<float>& buffer, const SoftClipFilterParams& params)
{
    struct ChannelFilters
    {
        dsp::Biquad highPass, lowPass;
    };
    std::vector<ChannelFilters> filters ((size_t) std::max (buffer.getNumChannels(), 0));
    for (auto& f : filters)
    {
        f.highPass.setCoefficients (params.highPass);
        f.lowPass.setCoefficients (params.lowPass);
    }
    dsp::runOversampledOffline (buffer, [&] (juce::dsp::AudioBlock<float>& up, std::int64_t) {
        for (size_t c = 0; c < up.getNumChannels(); ++c)
        {
            auto& f = filters[c];
            auto* x = up.getChannelPointer (c);
            for (size_t j = 0; j < up.getNumSamples(); ++j)
            {
                double v = x[j];
                if (params.highPassOn)
                    v = foundrySoftClip (f.highPass.process (v));
                if (params.lowPassOn)
                    v = foundrySoftClip (f.lowPass.process (v));
                x[j] = (float) v;
            }
        }
    });
}

void heatOversampled (juce::AudioBuffer<float>& buffer, const HeatParams& params)
{
    dsp::runOversampledOffline (buffer,
                                [&] (juce::dsp::AudioBlock<float>& up, std::int64_t) { heatWaveshape (params, up); });
}

void tanhDriveMixOversampled (juce::AudioBuffer<float>& buffer, float drive, float normaliser, float mix)
{
    dsp::runOversampledOffline (buffer, [=] (juce::dsp::AudioBlock<float>& up, std::int64_t) {
        forEachSample (up, [=] (float x) { return (1.0f - mix) * x + mix * fastTanh (drive * x) / normaliser; });
    });
}

void tanhDriveOversampled (juce::AudioBuffer<float>& buffer, float drive)
{
    dsp::runOversampledOffline (buffer, [=] (juce::dsp::AudioBlock<float>& up, std::int64_t) {
        forEachSample (up, [=] (float x) { return fastTanh (drive * x); });
    });
}

} // namespace quorvalen::foundry
