#include "rack/OfflineRender.h"

#include "cache/AudioCache.h"
#include "core/Log.h"
#include "core/Units.h"
#include "dsp/Fades.h"
#include "dsp/OfflineOversampler.h"
#include "dsp/stretch/StretchUtility.h"
#include "io/WavWriter.h"
#include "rack/RackProcessingState.h"
#include "rack/modules/FreqShiftModule.h"

#include <juce_dsp/juce_dsp.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>

namespace quorvalen
{

namespace
{
constexpr int moduleBlock = 512;
constexpr int stretchBlock = 4096;
constexpr int ambiDroneBlock = 1024;
constexpr std::int64_t maxBufferSamples = std::numeric_limits<int>::max();
constexpr float peakCeiling = 0.98f;

bool laneHasPoints (const QuorvalenRackSettings& s, int lane)
{
    return s.automation[(size_t) lane].hasPoints();
}

// One-pole low-pass over every channel, smoothing the top of upward shifts.
void smoothUpwardShift (juce::AudioBuffer<float>& buffer, double rate)
{
    const float fc = std::min (0.45f * (float) rate, 12000.0f);
    const float k = 1.0f - std::exp (-2.0f * juce::MathConstants<float>::pi * fc / (float) rate);
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        auto* x = buffer.getWritePointer (ch);
        float y = 0.0f;
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            x[i] = y += (x[i] - y) * k;
    }
}

// tanh(1.05 x) at four times the rate, latency removed so nothing moves in time.
void saturateOversampled (juce::AudioBuffer<float>& buffer)
{
    dsp::runOversampledOffline (buffer,
                                [] (juce::dsp::AudioBlock<float>& up, std::int64_t) { saturateShiftedSamples (up); });
}

// The first milliseconds (freqShiftMix) stay unshifted, then a 0.25 ms crossfade
// hands over to the shifted sound for good.
void applyDryLeadIn (juce::AudioBuffer<float>& wet, const juce::AudioBuffer<float>& dry, double rate,
                     const QuorvalenRackSettings& s)
{
    const int m = std::min (wet.getNumSamples(), dry.getNumSamples());
    if (wet.getNumChannels() < 1 || dry.getNumChannels() < 1 || m < 1)
        return;
    const auto& mix = rackParameter::freqShiftMix;
    const float mixMs = automationValue (s, mix.lane, s.freqShift.mixMs, mix.lo, mix.hi, 0, m, mix.logarithmic);
    const int dryLen = (int) std::min<std::int64_t> (msToSamples (mixMs, rate, SampleRounding::towardZero), m);
    const int fade = std::min (std::max (m - dryLen, 0),
                               (int) std::max<std::int64_t> (1, msToSamples (0.25, rate, SampleRounding::towardZero)));

    for (int ch = 0; ch < wet.getNumChannels(); ++ch)
    {
        const auto* d = dry.getReadPointer (std::min (ch, dry.getNumChannels() - 1));
        auto* p = wet.getWritePointer (ch);
        std::copy (d, d + dryLen, p);
        for (int i = 0; i < fade; ++i)
        {
            p[dryLen + i] = dsp::rampMix (d[dryLen + i], p[dryLen + i], dsp::rampPosition (i, fade));
        }
    }
}
} // namespace

DroneLengths droneLengths (double sampleRate, float droneStretch, int availableSamples) noexcept
{
    const double stretch = std::isnan (droneStretch) ? 2.0 : std::clamp ((double) droneStretch, 2.0, 20.0);
    const int maxOutput = (int) std::min (sampleRate * 106.0, (double) maxBufferSamples);
    int source = std::max (1, (int) (maxOutput / stretch));
    if (stretch < 12.0)
        source += (int) (sampleRate * 0.25); // run-out, so the stretched end is not cut short
    return { stretch, maxOutput, std::max (0, std::min (source, availableSamples)) };
}

void limitPeak (juce::AudioBuffer<float>& buffer) noexcept
{
    if (buffer.hasBeenCleared())
        return;
    float peak = 0.0f;
    for (int ch = 0; ch < buffer.getNumChannels(); ++ch)
    {
        const auto range = buffer.findMinMax (ch, 0, buffer.getNumSamples());
        peak = std::max ({ peak, -range.getStart(), range.getEnd() });
    }
    // Only ever down: quieter renders keep their level.
    if (peak > peakCeiling)
        buffer.applyGain (peakCeiling / peak);
}

bool renderFreqShiftOffline (juce::AudioBuffer<float>& buffer, double rate, const QuorvalenRackSettings& s)
{
    if (! s.freqShift.enabled)
        return true;
    // Nothing to stretch: every stage below would fail on it.
    if (buffer.getNumChannels() < 1 || buffer.getNumSamples() < 1)
        return false;

    const bool drone = s.freqShift.pitchAdvancedOpen;
    const float semitones = drone ? s.freqShift.dronePitch : s.freqShift.semitones;
    const bool ambiDrone = drone && s.freqShift.mode == FreqShiftMode::ambi;

    // Pitch stage into a new buffer; `buffer` stays untouched meanwhile and serves
    // as the dry signal. The pitch is the field's own value for the whole sound:
    // the offline stretcher fixes it before its study pass, so lanes 18 and 20 do
    // not move it here.
    juce::AudioBuffer<float> pitched;
    const bool skipPitch = drone && std::abs (semitones) < 0.0001f && ! laneHasPoints (s, rackLane::dronePitch);
    if (! skipPitch)
    {
        const int options = ambiDrone                 ? stretchOptions::libraryDefaults
            : s.freqShift.mode != FreqShiftMode::beat ? stretchOptions::finer
                                                      : stretchOptions::beat;
        if (! stretchBuffer (buffer, pitched, rate, 1.0, pitchRatio (semitones), options,
                             ambiDrone ? ambiDroneBlock : stretchBlock))
            return false;
    }

    if (drone)
    {
        // The long stretch replaces the sound; nothing dry is mixed back. Its input
        // is a view of the first samples, not a copy.
        auto& whole = skipPitch ? buffer : pitched;
        const auto lengths = droneLengths (rate, s.freqShift.droneStretch, whole.getNumSamples());
        const juce::AudioBuffer<float> source (whole.getArrayOfWritePointers(), whole.getNumChannels(),
                                               lengths.sourceLength);
        juce::AudioBuffer<float> droned;
        if (! stretchBuffer (source, droned, rate, lengths.stretch, 1.0,
                             ambiDrone ? stretchOptions::libraryDefaults : stretchOptions::drone,
                             ambiDrone ? ambiDroneBlock : stretchBlock))
            return false;
        if (droned.getNumSamples() > lengths.maxOutput)
            droned.setSize (droned.getNumChannels(), lengths.maxOutput, true, false, true);
        buffer = std::move (droned);
        return true;
    }

    if (semitones > 0.0f)
        smoothUpwardShift (pitched, rate);
    saturateOversampled (pitched);
    applyDryLeadIn (pitched, buffer, rate, s);
    buffer = std::move (pitched);
    return true;
}

bool renderRackModuleOffline (OfflineRenderContext& context, int module, const QuorvalenRackSettings& s)
{
    auto& buffer = context.buffer;
    if (module == rackModuleFreqShift)
        return renderFreqShiftOffline (buffer, context.sampleRate, s);

    if (module == rackModuleSpace && s.space.enabled && ! s.space.spectroNoTail && ! context.tailAdded)
    {
        // Ten seconds of silence for the reverb to ring out into, once per render.
        const auto tail = (std::int64_t) std::llround (context.sampleRate * 10.0);
        if ((std::int64_t) buffer.getNumSamples() + tail > maxBufferSamples)
            return false;
        buffer.setSize (buffer.getNumChannels(), buffer.getNumSamples() + (int) tail, true, true, false);
        context.tailAdded = true;
    }

    RackProcessingState state (false);
    prepareRackState (state, context.sampleRate, moduleBlock); // also resets the state
    const auto length = std::max<std::int64_t> (buffer.getNumSamples(), 1);
    state.playLength = length;
    state.loopLength = length;
    state.looping = false;

    if (module == rackModuleSpace)
        state.space.loadImpulseResponse (s, buffer.getNumChannels(), false);

    for (int start = 0; start < buffer.getNumSamples(); start += moduleBlock)
    {
        const int count = std::min (moduleBlock, buffer.getNumSamples() - start);
        runRackModule (state, buffer, start, count, module, s);
        state.position += count;
    }
    return true;
}

bool renderRackOffline (juce::AudioBuffer<float>& buffer, double sampleRate, const char* json)
{
    const auto settings = parseRackSettings (json);
    if (settings == nullptr || ! isUsableRate (sampleRate))
        return false;

    juce::ScopedNoDenormals noDenormals;
    OfflineRenderContext context { buffer, sampleRate };
    if (settings->rackModules.empty())
    {
        // Every module is visited; each tests its own enable flag.
        for (const auto module : settings->chainOrder)
            if (! renderRackModuleOffline (context, module, *settings))
                return false;
        return true;
    }
    for (const auto& entry : settings->rackModules)
        if (entry.settings != nullptr && ! renderRackModuleOffline (context, (int) entry.module, *entry.settings))
            return false;
    return true;
}

int renderCachedWithProcessing (QuorvalenEngine& engine, std::uint32_t cacheId, const char* json, const char* outPath)
{
    if (json == nullptr || outPath == nullptr)
        return renderNullArgument;

    juce::AudioBuffer<float> work;
    double rate = 0.0;
    {
        const auto lock = lockEngine (engine);
        const auto* entry = findCacheEntry (engine, cacheId);
        if (entry == nullptr)
            return renderNoEntry;
        if (entry->buffer == nullptr)
            return renderNoBuffer;
        if (! isUsableRate (entry->sampleRate))
            return renderBadSampleRate;
        try
        {
            work.makeCopyOf (*entry->buffer);
        }
        catch (const std::bad_alloc&)
        {
            return renderFailed;
        }
        rate = entry->sampleRate;
    }

    // The rest runs on private data; other exports and playback continue.
    juce::ScopedNoDenormals noDenormals;
    bool rendered = false;
    try
    {
        rendered = renderRackOffline (work, rate, json);
    }
    catch (const std::exception&)
    {
        // A long tail or drone on a big sound can exhaust memory: a failed render.
        rendered = false;
    }
    if (! rendered)
        return renderFailed;

    limitPeak (work);

    const juce::File file (juce::String::fromUTF8 (outPath));
    file.getParentDirectory().createDirectory();
    switch (writeWav24 (file, work, rate))
    {
        case WavWriteResult::ok: break;
        case WavWriteResult::streamFailed: return renderStreamFailed;
        case WavWriteResult::writerFailed: return renderWriterFailed;
        case WavWriteResult::writeFailed: return renderWriteFailed;
    }
    logLine ("[QUORVALEN RACK 0.2.0] processed WAV written: %s\n", outPath);
    return renderOk;
}

} // namespace quorvalen
