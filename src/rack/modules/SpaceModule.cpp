#include "rack/modules/SpaceModule.h"

#include "core/Log.h"
#include "dsp/OnePole.h"
#include "rack/ImpulseResponseLibrary.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quorvalen
{

namespace
{
using Convolution = juce::dsp::Convolution;

// At most ten seconds of response: that bounds the convolution's cost.
std::size_t responseLimit (double sampleRate)
{
    return (std::size_t) std::max (sampleRate * 10.0, 1.0);
}

std::size_t wrappedIndex (std::int32_t index, std::size_t count)
{
    return (std::size_t) ((std::uint32_t) index % (std::uint32_t) count);
}

void loadInto (Convolution& convolution, const juce::File& file, double sampleRate)
{
    convolution.loadImpulseResponse (file, Convolution::Stereo::yes, Convolution::Trim::yes, responseLimit (sampleRate),
                                     Convolution::Normalise::yes);
}

juce::dsp::ProcessSpec specFor (double sampleRate, int maxBlock, int channels)
{
    return { sampleRate, (juce::uint32) maxBlock, (juce::uint32) channels };
}
} // namespace

void SpaceModule::prepare (const RackModuleSpec& spec)
{
    sampleRate = spec.sampleRate;
    maxBlock = std::max (spec.maxBlock, 1);
    highCoefficient = dsp::onePoleCoefficientBelowNyquist (300.0, sampleRate);
    sizeCoefficient.invalidate();
    space.dryLeft.assign ((size_t) maxBlock, 0.0f);
    space.dryRight.assign ((size_t) maxBlock, 0.0f);

    // A convolution sized for smaller blocks would overrun its buffers; one prepared
    // for another rate would play the response at the wrong speed.
    if (space.convolution != nullptr && (space.loadedSampleRate != sampleRate || space.loadedMaxBlock != maxBlock))
    {
        space.convolution->prepare (specFor (sampleRate, maxBlock, space.loadedChannels));
        space.loadedSampleRate = sampleRate;
        space.loadedMaxBlock = maxBlock;
        space.carriedOver = true;
    }
}

void SpaceModule::reset() noexcept
{
    if (space.convolution != nullptr)
        space.convolution->reset();
    space.highState = {};
    space.lowState = {};
}

void SpaceModule::loadImpulseResponse (const QuorvalenRackSettings& settings, int numChannels, bool force)
{
    space.highState = {};
    space.lowState = {};
    if (! settings.space.enabled && ! force)
        return;

    const int channels = std::clamp (numChannels, 1, 2);
    if (space.convolution != nullptr && ! space.carriedOver && space.loadedIrIndex == settings.space.irIndex
        && space.loadedChannels == channels && space.loadedSampleRate == sampleRate && space.loadedMaxBlock == maxBlock)
    {
        space.convolution->reset();
        return;
    }

    space.impulseResponses = listSpaceImpulseResponses();
    space.carriedOver = false;
    if (space.impulseResponses.empty())
    {
        space.convolution.reset();
        space.loadedIrIndex = -1;
        space.loadedChannels = 0;
        space.loadedSampleRate = 0.0;
        space.loadedMaxBlock = 0;
        logLine ("[QUORVALEN SPACE] no impulse responses found; expected an irs folder\n");
        return;
    }

    const auto count = space.impulseResponses.size();
    const auto index = wrappedIndex (settings.space.irIndex, count);
    const auto& file = space.impulseResponses[index];
    auto convolution = std::make_unique<Convolution> (Convolution::NonUniform { std::max (2 * maxBlock, 2048) });
    // Loading before preparing makes prepare read the file here, on this thread, so
    // the response is in place before the first block.
    loadInto (*convolution, file, sampleRate);
    convolution->prepare (specFor (sampleRate, maxBlock, channels));

    space.convolution = std::move (convolution);
    space.loadedIrIndex = settings.space.irIndex;
    space.loadedChannels = channels;
    space.loadedSampleRate = sampleRate;
    space.loadedMaxBlock = maxBlock;
    logLine ("[QUORVALEN SPACE] loaded IR %d/%d: %s\n", (int) index + 1, (int) count, file.getFileName().toRawUTF8());
}

void SpaceModule::process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes)
{
    if (! settings.space.enabled)
        return;
    auto& buffer = block.buffer;
    const int start = block.start;
    const int n = block.count;
    // Only the first two channels are mixed; the convolution would copy channel 0's
    // wet signal into any further ones, so those pass untouched.
    const int channels = std::min (buffer.getNumChannels(), 2);
    if (space.convolution == nullptr || n < 1 || channels < 1 || n > maxBlock || start < 0
        || start + n > buffer.getNumSamples())
        return;
    if (n > space.loadedMaxBlock || channels > space.loadedChannels || space.loadedSampleRate != sampleRate
        || space.dryLeft.size() < (size_t) n || space.dryRight.size() < (size_t) n)
        return;

    juce::ScopedNoDenormals noDenormals;

    if (space.loadedIrIndex != settings.space.irIndex && ! space.impulseResponses.empty())
    {
        // The convolution reads the file on its own loader thread and crossfades to it
        // once ready; handing it over allocates nothing here.
        loadInto (*space.convolution,
                  space.impulseResponses[wrappedIndex (settings.space.irIndex, space.impulseResponses.size())],
                  sampleRate);
        space.loadedIrIndex = settings.space.irIndex;
    }

    float* dry[2] = { space.dryLeft.data(), space.dryRight.data() };
    for (int c = 0; c < channels; ++c)
        std::copy_n (buffer.getReadPointer (c, start), n, dry[c]);

    auto audio = juce::dsp::AudioBlock<float> (buffer)
                     .getSubsetChannelBlock (0, (size_t) channels)
                     .getSubBlock ((size_t) start, (size_t) n);
    space.convolution->process (juce::dsp::ProcessContextReplacing<float> (audio));

    const float wet = lanes.read (rackParameter::spaceWet, settings.space.wet);
    const float size = lanes.read (rackParameter::spaceSize, settings.space.size);
    const float dryGain = 1.0f - (wet / 100.0f) * 0.45f;
    const float wetGain = (wet / 100.0f) * 0.8f;
    const double rate = sampleRate;
    const float lowCoefficient = sizeCoefficient.get (size, [rate] (float sz) {
        const float lowCutoff = 1500.0f + 165.0f * sz;
        const double lowFrequency = lowCutoff < 5.0f ? 5.0 : std::min (0.45 * rate, (double) lowCutoff);
        return dsp::onePoleCoefficientAt (lowFrequency, rate);
    });

    // The wet path keeps 300 Hz .. 1.5-18 kHz of the convolved signal, by size.
    bool healthy = true;
    for (int c = 0; c < channels; ++c)
    {
        auto* out = buffer.getWritePointer (c, start);
        auto& high = space.highState[(size_t) c];
        auto& low = space.lowState[(size_t) c];
        for (int i = 0; i < n; ++i)
        {
            const float v = out[i];
            high += (v - high) * highCoefficient;
            low += ((v - high) - low) * lowCoefficient;
            float y = dryGain * dry[c][i] + wetGain * low;
            if (! std::isfinite (y))
            {
                healthy = false;
                y = 0.0f;
            }
            out[i] = y;
        }
        healthy = healthy && std::isfinite (high) && std::isfinite (low);
    }

    jassert (healthy);
    if (! healthy)
        reset(); // a poisoned reverb tail would ring NaN for ten seconds
}

} // namespace quorvalen
