#include "dsp/OversamplingFrame.h"

namespace quorvalen::dsp
{

std::unique_ptr<juce::dsp::Oversampling<float>> makeOversampler4x (int channels)
{
    return std::make_unique<juce::dsp::Oversampling<float>> (
        (size_t) channels, 2, juce::dsp::Oversampling<float>::filterHalfBandPolyphaseIIR, true, true);
}

OversamplingFrame::OversamplingFrame() : oversampler (makeOversampler4x()) {}
OversamplingFrame::~OversamplingFrame() = default;

void OversamplingFrame::prepare (int maxBlock)
{
    prepared = std::max (maxBlock, 1);
    work.setSize (2, prepared, false, false, false);
    work.clear();
    oversampler->initProcessing ((size_t) prepared);
    reset();
}

void OversamplingFrame::reset() noexcept
{
    oversampler->reset();
    work.clear();
}

} // namespace quorvalen::dsp
