#include "rack/RackProcessingState.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

namespace
{
std::unique_ptr<juce::dsp::Oversampling<float>> makeRackOversampler()
{
    // 4x in two factor-2 stages, polyphase IIR, maximum quality, integer latency.
    return std::make_unique<juce::dsp::Oversampling<float>> (
        2, 2, juce::dsp::Oversampling<float>::filterHalfBandPolyphaseIIR, true, true);
}
} // namespace

RackProcessingState::RackProcessingState (bool live)
{
    for (auto& o : oversamplers)
        o = makeRackOversampler();
    if (live)
    {
        children.reserve (rackMaxModuleEntries);
        for (int i = 0; i < rackMaxModuleEntries; ++i)
            children.push_back (std::make_unique<RackProcessingState> (false));
    }
    resetCepstralState (cepstral, sampleRate);
    monoBlend.reset (sampleRate, 0.005);
}

RackProcessingState::~RackProcessingState() = default;

void prepareRackState (RackProcessingState& state, double sampleRate, int blockSize)
{
    state.sampleRate = (sampleRate > 0.0 && std::isfinite (sampleRate)) ? sampleRate : 44100.0;
    prepareSpectralDelayState (state.spectralDelay, state.sampleRate, std::max (blockSize, 1));
    state.maxBlock = std::max (blockSize, 1);
    for (auto& buffer : state.workBuffers)
    {
        buffer.setSize (2, state.maxBlock, false, false, false);
        buffer.clear();
    }
    for (auto& o : state.oversamplers)
        o->initProcessing ((size_t) state.maxBlock);
    prepareSpaceState (state.space, state.sampleRate, state.maxBlock);
    for (auto& child : state.children)
        prepareRackState (*child, sampleRate, blockSize);
    resetRackState (state);
}

void resetRackState (RackProcessingState& state)
{
    state.playLength = 1;
    state.delayTail = 0;
    state.position = 0;
    state.looping = false;
    state.keepTail = false;
    state.loopLength = 1;
    state.lfoPhase = 0.0;
    state.dirtboxPhase = 0.0;
    state.randomLfoValue = 0.5f;
    state.randomLfoHold = 0;
    state.noiseSeed = rackNoiseSeedStart;

    resetFreqShiftState (state.freqShift);
    resetSpaceTail (state.space);
    for (auto& o : state.oversamplers)
        o->reset();
    for (auto& buffer : state.workBuffers)
        buffer.clear();
    resetHeatState (state.heat);
    resetTransientState (state.transient);
    resetStereoState (state.stereo);
    resetSpectralDelayState (state.spectralDelay);

    state.monoBlend.reset (state.sampleRate, 0.005);
    state.monoBlend.setCurrentAndTargetValue (0.0f);
    state.monoBlendStarted = false;

    resetCepstralState (state.cepstral, state.sampleRate);
    resetFilterState (state.filter);

    for (auto& child : state.children)
        resetRackState (*child);
}

} // namespace quorvalen
