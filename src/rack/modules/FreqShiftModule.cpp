#include "rack/modules/FreqShiftModule.h"

#include "core/Log.h"
#include "core/Units.h"
#include "dsp/Fades.h"
#include "dsp/OnePole.h"
#include "dsp/stretch/LiveShifter.h"

#include <algorithm>
#include <cmath>
#include <exception>

namespace quorvalen
{

namespace
{
float finiteOrSilent (float x) noexcept
{
    return std::isfinite (x) ? x : 0.0f;
}

} // namespace

FreqShiftState::FreqShiftState() = default;
FreqShiftState::~FreqShiftState() = default;
FreqShiftState::FreqShiftState (FreqShiftState&&) noexcept = default;
FreqShiftState& FreqShiftState::operator= (FreqShiftState&&) noexcept = default;

void FreqShiftModule::prepare (const RackModuleSpec& spec)
{
    sampleRate = spec.sampleRate;
    maxBlock = spec.maxBlock;
    wetSmoothing = dsp::onePoleCoefficient (12000.0f, sampleRate);
    frame.prepare (spec.maxBlock);
    dry.setSize (2, spec.maxBlock, false, false, false);
    reset();
}

void FreqShiftModule::dropShifter()
{
    auto& s = shift;
    s.shifter.reset();
    s.blockSize = s.latency = 0;
    for (auto* v : { &s.inputLeft, &s.inputRight, &s.outputLeft, &s.outputRight, &s.dryDelayLeft, &s.dryDelayRight })
        v->clear();
    clearState();
}

void FreqShiftModule::prepareShifter (const QuorvalenRackSettings& settings)
{
    auto& s = shift;
    dropShifter();
    // The drone of the advanced pitch panel exists only offline.
    if (! settings.freqShift.enabled || settings.freqShift.pitchAdvancedOpen)
        return;

    int options = platform::LiveShifter::channelsTogether;
    if (settings.freqShift.mode == FreqShiftMode::synth)
        options |= platform::LiveShifter::windowMedium;

    try
    {
        auto shifter = std::make_unique<platform::LiveShifter> ((double) std::llround (sampleRate), 2, options);
        shifter->setPitchScale (semitonesToRatio ((double) settings.freqShift.semitones));
        const auto blockSize = (std::uint64_t) shifter->getBlockSize();
        if (blockSize == 0)
            return; // a rate the shifter cannot run at: the module passes audio

        const auto oversamplerLatency = std::lroundf (frame.latencyInSamples());
        const auto latency = (std::uint64_t) shifter->getStartDelay() + (blockSize - 1)
            + (std::uint64_t) std::max (oversamplerLatency, 0L);
        for (auto* v : { &s.inputLeft, &s.inputRight, &s.outputLeft, &s.outputRight })
            v->assign ((size_t) blockSize, 0.0f);
        // The dry path waits as long as the wet one so the two line up sample for sample.
        s.dryDelayLeft.assign ((size_t) std::max<std::uint64_t> (latency, 1), 0.0f);
        s.dryDelayRight.assign ((size_t) std::max<std::uint64_t> (latency, 1), 0.0f);
        s.blockSize = blockSize;
        s.latency = latency;
        s.shifter = std::move (shifter);
        clearState();
    }
    catch (const std::exception& e)
    {
        dropShifter();
        logLine ("[QUORVALEN RACK 0.2.0] frequency shifter unavailable: %s\n", e.what());
    }
}

void FreqShiftModule::reset() noexcept
{
    clearState();
    frame.reset();
    dry.clear();
}

void FreqShiftModule::clearState() noexcept
{
    auto& s = shift;
    if (s.shifter != nullptr)
        s.shifter->reset();
    for (auto* v : { &s.inputLeft, &s.inputRight, &s.outputLeft, &s.outputRight, &s.dryDelayLeft, &s.dryDelayRight })
        std::fill (v->begin(), v->end(), 0.0f);
    s.wetSmoothLeft = s.wetSmoothRight = 0.0f;
    s.inputFill = s.outputRead = s.outputAvailable = s.dryIndex = s.processed = 0;
}

void FreqShiftModule::process (RackBlock block, const QuorvalenRackSettings& settings, const RackLanes& lanes)
{
    // The drone mode exists only offline.
    if (! settings.freqShift.enabled || settings.freqShift.pitchAdvancedOpen)
        return;
    auto& buffer = block.buffer;
    const int start = block.start;
    const int n = block.count;
    auto& s = shift;
    const int channels = std::min (buffer.getNumChannels(), 2);
    if (s.shifter == nullptr || s.blockSize == 0 || n < 1 || n > maxBlock || channels < 1 || start < 0
        || start + n > buffer.getNumSamples())
        return;
    auto& wet = frame.workBuffer();
    auto& oversampler = frame.filters();
    if (s.inputLeft.size() != s.blockSize || s.dryDelayLeft.empty() || wet.getNumChannels() < 2
        || wet.getNumSamples() < n || dry.getNumChannels() < 2 || dry.getNumSamples() < n)
        return;

    juce::ScopedNoDenormals noDenormals;

    const auto* inLeft = buffer.getReadPointer (0, start);
    const auto* inRight = buffer.getReadPointer (channels > 1 ? 1 : 0, start);
    const float mixMs = lanes.read (rackParameter::freqShiftMix, settings.freqShift.mixMs);
    const auto dryHold = msToSamples (mixMs, sampleRate, SampleRounding::towardZero);
    const auto fade = std::max<std::int64_t> (1, msToSamples (0.25, sampleRate, SampleRounding::towardZero));
    shiftCursor.reset();
    const auto dryLength = (std::uint64_t) s.dryDelayLeft.size();

    auto* wetLeft = wet.getWritePointer (0);
    auto* wetRight = wet.getWritePointer (1);
    auto* dryLeft = dry.getWritePointer (0);
    auto* dryRight = dry.getWritePointer (1);

    for (int i = 0; i < n; ++i)
    {
        // Non-finite input enters as silence: it would stay in the shifter and the
        // dry line for good.
        const float left = finiteOrSilent (inLeft[i]);
        const float right = finiteOrSilent (inRight[i]);
        const float semitones = lanes.read (rackParameter::freqShift, settings.freqShift.semitones, i, &shiftCursor);

        s.inputLeft[(size_t) s.inputFill] = left;
        s.inputRight[(size_t) s.inputFill] = right;
        if (++s.inputFill == s.blockSize)
        {
            s.shifter->setPitchScale (semitonesToRatio ((double) semitones));
            const float* in[2] = { s.inputLeft.data(), s.inputRight.data() };
            float* out[2] = { s.outputLeft.data(), s.outputRight.data() };
            s.shifter->shift (in, out);
            s.inputFill = 0;
            s.outputRead = 0;
            s.outputAvailable = s.blockSize;
        }

        float wl = 0.0f, wr = 0.0f;
        if (s.outputAvailable > 0)
        {
            wl = s.outputLeft[(size_t) s.outputRead];
            wr = s.outputRight[(size_t) s.outputRead];
            ++s.outputRead;
            --s.outputAvailable;
        }

        dryLeft[i] = s.dryDelayLeft[(size_t) s.dryIndex];
        s.dryDelayLeft[(size_t) s.dryIndex] = left;
        dryRight[i] = s.dryDelayRight[(size_t) s.dryIndex];
        s.dryDelayRight[(size_t) s.dryIndex] = right;
        if (semitones > 0.0f)
        {
            // Upward shifts fold energy towards the top: tame it before saturating.
            wl = s.wetSmoothLeft += (wl - s.wetSmoothLeft) * wetSmoothing;
            wr = s.wetSmoothRight += (wr - s.wetSmoothRight) * wetSmoothing;
        }
        wetLeft[i] = wl;
        wetRight[i] = wr;
        s.dryIndex = (s.dryIndex + 1) % dryLength;
    }

    saturateShiftedBlock (oversampler, juce::dsp::AudioBlock<float> (wet).getSubBlock (0, (size_t) n));

    // Silent for the latency, then the time-aligned dry sound for the hold, then a
    // short crossfade to the shifted sound for good.
    bool healthy = std::isfinite (s.wetSmoothLeft) && std::isfinite (s.wetSmoothRight);
    for (int c = 0; c < channels; ++c)
    {
        const auto* w = wet.getReadPointer (c);
        const auto* d = dry.getReadPointer (c);
        auto* out = buffer.getWritePointer (c, start);
        for (int i = 0; i < n; ++i)
        {
            const auto at = (std::int64_t) (s.processed + (std::uint64_t) i);
            const auto e = at >= (std::int64_t) s.latency ? at - (std::int64_t) s.latency : -1;
            float v;
            if (e < 0 || e >= dryHold + fade)
                v = w[i];
            else if (e < dryHold)
                v = d[i];
            else
            {
                v = dsp::rampMix (d[i], w[i], dsp::rampPosition (e - dryHold, fade));
            }
            if (! std::isfinite (v))
            {
                healthy = false;
                v = 0.0f;
            }
            out[i] = v;
        }
    }
    s.processed += (std::uint64_t) n;

    jassert (healthy);
    if (! healthy)
    {
        // Start over (silent through the latency, then the lead-in again) rather than
        // hand NaN to every module after this one.
        clearState();
        oversampler.reset();
    }
}

void saturateShiftedSamples (juce::dsp::AudioBlock<float>& up) noexcept
{
    for (size_t c = 0; c < up.getNumChannels(); ++c)
    {
        auto* x = up.getChannelPointer (c);
        for (size_t j = 0; j < up.getNumSamples(); ++j)
            x[j] = std::tanh (1.05f * x[j]);
    }
}

void saturateShiftedBlock (juce::dsp::Oversampling<float>& oversampler, juce::dsp::AudioBlock<float> block) noexcept
{
    auto up = oversampler.processSamplesUp (block);
    saturateShiftedSamples (up);
    oversampler.processSamplesDown (block);
}

} // namespace quorvalen
