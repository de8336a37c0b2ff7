#include "dsp/OfflineOversampler.h"

#include "dsp/OversamplingFrame.h"

#include <algorithm>
#include <cmath>

namespace quorvalen::dsp
{

void runOversampledOffline (juce::AudioBuffer<float>& buffer,
                            const std::function<void (juce::dsp::AudioBlock<float>&, std::int64_t)>& process)
{
    const int channels = buffer.getNumChannels();
    const int n = buffer.getNumSamples();
    if (channels < 1 || n < 1)
        return;

    auto oversampler = makeOversampler4x (channels);
    oversampler->initProcessing ((size_t) offlineOversamplingBlock);
    const auto latency = (std::int64_t) std::max (0L, std::lroundf (oversampler->getLatencyInSamples()));

    // Output sample j comes out at input position j + latency: the result is
    // written back latency samples behind what has been read, so one buffer does.
    juce::AudioBuffer<float> block (channels, offlineOversamplingBlock);
    const std::int64_t total = (std::int64_t) n + latency;
    for (std::int64_t pos = 0; pos < total; pos += offlineOversamplingBlock)
    {
        const int count = (int) std::min<std::int64_t> (offlineOversamplingBlock, total - pos);
        const int fromSource = (int) std::clamp<std::int64_t> ((std::int64_t) n - pos, 0, count);
        for (int ch = 0; ch < channels; ++ch)
        {
            if (fromSource > 0)
                block.copyFrom (ch, 0, buffer, ch, (int) pos, fromSource);
            if (fromSource < count)
                block.clear (ch, fromSource, count - fromSource);
        }

        juce::dsp::AudioBlock<float> base (block.getArrayOfWritePointers(), (size_t) channels, (size_t) count);
        auto up = oversampler->processSamplesUp (base);
        process (up, pos);
        oversampler->processSamplesDown (base);

        const std::int64_t first = std::max<std::int64_t> (pos, latency);
        const std::int64_t last = std::min<std::int64_t> (pos + count, total);
        if (last > first)
            for (int ch = 0; ch < channels; ++ch)
                buffer.copyFrom (ch, (int) (first - latency), block, ch, (int) (first - pos), (int) (last - first));
    }
}

} // namespace quorvalen::dsp
