#pragma once
// Whole-buffer processing at four times the rate for offline stages: an oversampler
// of the frame's kind built for the buffer's own channel count, blocks of 4096
// base samples, the filter tail flushed with silence and the latency removed so the
// result lines up with the input.
#include <juce_dsp/juce_dsp.h>

#include <cstdint>
#include <functional>

namespace quorvalen::dsp
{

inline constexpr int offlineOversamplingBlock = 4096;

// `process (upsampledBlock, basePosition)` sees each block after upsampling; the
// block's first sample lies at basePosition in the buffer (base-rate samples; it
// runs past the end while the latency tail is flushed). A buffer without channels
// or samples is left alone. Allocates; never call it on the audio thread.
void runOversampledOffline (juce::AudioBuffer<float>& buffer,
                            const std::function<void (juce::dsp::AudioBlock<float>&, std::int64_t)>& process);

} // namespace quorvalen::dsp
