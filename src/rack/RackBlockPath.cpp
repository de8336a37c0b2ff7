// The rack's block path, shared by the live stage and the offline render.
#include "rack/RackProcessingState.h"

#include <algorithm>
#include <atomic>
#include <cmath>

namespace quorvalen
{

namespace
{
std::atomic<RackDispatchObserver> dispatchObserver { nullptr };

bool loops (const RackProcessingState& state) noexcept { return state.looping && state.loopLength > 0; }

void runMonoBlend (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                   const QuorvalenRackSettings& settings)
{
    const float target = settings.stereoMono ? 1.0f : 0.0f;
    auto& blend = state.monoBlend;
    if (! state.monoBlendStarted)
    {
        blend.setCurrentAndTargetValue (target);
        state.monoBlendStarted = true;
    }
    else
    {
        blend.setTargetValue (target);
    }

    if (buffer.getNumChannels() < 2 || (blend.getCurrentValue() == 0.0f && ! blend.isSmoothing()))
        return;
    for (int i = 0; i < n; ++i)
        applyMonoBlend (buffer, start + i, blend.getNextValue());
}

void runSpace (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
               const QuorvalenRackSettings& settings)
{
    const auto p0 = state.position;
    if (! loops (state))
    {
        // The tail after the sound is the reverb's: no play-length limit here.
        dispatchRackModule (state, buffer, start, n, rackModuleSpace, settings);
        return;
    }

    auto p = std::max<std::int64_t> (p0, 0) % state.loopLength;
    int offset = start;
    int remaining = n;
    while (remaining > 0)
    {
        const auto piece = std::max<std::int64_t> (state.loopLength - p, 1);
        const int count = (int) std::min<std::int64_t> (piece, remaining);
        state.position = p;
        dispatchRackModule (state, buffer, offset, count, rackModuleSpace, settings);
        p += count;
        offset += count;
        remaining -= count;
        if (p >= state.loopLength)
        {
            p = 0;
            // Each pass of the loop starts without the previous pass's reverb.
            if (! state.keepTail)
                resetSpaceTail (state.space);
        }
    }
    state.position = p0;
}
} // namespace

void setRackDispatchObserver (RackDispatchObserver observer) noexcept
{
    dispatchObserver.store (observer);
}

void processRackBlock (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n,
                       const QuorvalenRackSettings& settings)
{
    if (n < 1 || buffer.getNumChannels() < 1)
        return;

    if (n > state.maxBlock)
    {
        // Buffers are sized for maxBlock; longer device blocks are split, never grown.
        const int chunk = std::max (state.maxBlock, 1);
        for (int done = 0; done < n; done += chunk)
            processRackBlock (state, buffer, start + done, std::min (chunk, n - done), settings);
        return;
    }

    if (settings.rackModules.empty())
    {
        for (auto module : settings.chainOrder)
            runRackModule (state, buffer, start, n, module, settings);
    }
    else
    {
        const auto entries = std::min (state.children.size(), settings.rackModules.size());
        for (size_t i = 0; i < entries; ++i)
        {
            const auto& entry = settings.rackModules[i];
            if (entry.settings == nullptr)
                continue;
            auto& child = *state.children[i];
            runRackModule (child, buffer, start, n, (int) entry.module, *entry.settings);
            child.position += n;
            if (loops (child))
                child.position %= child.loopLength;
        }
    }

    state.position += n;
    if (state.looping && state.loopLength >= 1)
        state.position %= state.loopLength;
}

void runRackModule (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n, int module,
                    const QuorvalenRackSettings& settings)
{
    if (n < 1)
        return;
    if (module == rackModuleSpace)
    {
        runSpace (state, buffer, start, n, settings);
        return;
    }

    // Other modules see only positions inside the sound (and a shifter's delay past
    // it), each loop piece starting at its own loop-relative position; samples past
    // that pass unprocessed.
    const auto p0 = state.position;
    auto p = loops (state) ? std::max<std::int64_t> (p0, 0) % state.loopLength : p0;
    int offset = start;
    int remaining = n;
    while (remaining > 0)
    {
        auto piece = loops (state) ? state.loopLength - p : (std::int64_t) remaining;
        piece = std::clamp<std::int64_t> (piece, 1, remaining);
        const auto window = state.playLength + (loops (state) ? 0 : state.delayTail);
        if (p < window)
        {
            const auto count = std::min (window - p, piece);
            if (count > 0)
            {
                state.position = p;
                dispatchRackModule (state, buffer, offset, (int) count, module, settings);
            }
        }
        remaining -= (int) piece;
        offset += (int) piece;
        p += piece;
        if (loops (state) && p >= state.loopLength)
            p = 0;
    }
    state.position = p0;

    if (module == rackModuleStereo)
        runMonoBlend (state, buffer, start, n, settings);
}

void dispatchRackModule (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n, int module,
                         const QuorvalenRackSettings& s)
{
    if (auto* observer = dispatchObserver.load (std::memory_order_relaxed))
        observer (state, module, start, n, s);

    switch (module)
    {
        case rackModuleHeat:
            if (s.heatEnabled)
                processHeat (state, buffer, start, n, s);
            break;
        case rackModuleFilter:
            // The cepstral mode always runs: its on switch only limits its amount.
            if (s.filterMode == (std::int32_t) FilterMode::ceps)
                processCepstralFilter (state, buffer, start, n, s);
            else if (s.deEssEnabled)
                processFilter (state, buffer, start, n, s);
            break;
        case rackModuleTransient:
            if (s.transientEnabled)
                processTransient (state, buffer, start, n, s);
            break;
        case rackModuleFreqShift:
            // The drone mode exists only offline.
            if (s.freqShiftEnabled && ! s.pitchAdvancedOpen)
                processFreqShift (state, buffer, start, n, s);
            break;
        case rackModuleSpectralDelay:
            if (s.spectralDelayEnabled)
                processSpectralDelay (state, buffer, start, n, s);
            break;
        case rackModuleSpace:
            if (s.spaceEnabled)
                processSpace (state, buffer, start, n, s);
            break;
        case rackModuleStereo:
            if (s.stereoEnabled)
                processStereo (state, buffer, start, n, s);
            break;
        default:
            break;
    }
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

float automationValue (const QuorvalenRackSettings& settings, int lane, float defaultValue, float lo, float hi,
                       std::int64_t position, std::int64_t length, bool logarithmic) noexcept
{
    if (lane < 0 || lane >= rackAutomationLaneCount)
        return defaultValue;
    const auto& xs = settings.automation[(size_t) lane].times;
    const auto& ys = settings.automation[(size_t) lane].values;
    if (xs.empty() || xs.size() != ys.size())
        return defaultValue;

    float t = 0.0f;
    if (length > 1)
        t = std::clamp ((float) position / (float) (length - 1), 0.0f, 1.0f);

    float v;
    if (xs[0] >= t)
    {
        v = ys[0];
    }
    else
    {
        size_t i = 1;
        while (i < xs.size() && ! (xs[i] >= t))
            ++i;
        if (i == xs.size())
        {
            v = ys.back();
        }
        else
        {
            const float dx = std::max (xs[i] - xs[i - 1], 1.0e-6f);
            v = std::clamp (ys[i - 1] + (ys[i] - ys[i - 1]) * (t - xs[i - 1]) / dx, 0.0f, 1.0f);
        }
    }

    if (logarithmic && 0.0f < lo && lo < hi)
        return lo * std::pow (hi / lo, v);
    return lo + (hi - lo) * v;
}

std::int64_t rackAutomationPosition (const RackProcessingState& state, std::int64_t offset) noexcept
{
    auto q = std::max<std::int64_t> (state.position + offset, 0);
    if (loops (state))
        q %= state.loopLength;
    return std::min (q, state.playLength - 1);
}

float onePoleCoefficient (float frequency, double rate) noexcept
{
    const float r = (float) rate;
    if (! (r > 0.0f) || ! std::isfinite (r))
        return 1.0f;
    float f = frequency >= 5.0f ? frequency : 5.0f; // NaN too
    f = std::min (f, 0.45f * r);
    return 1.0f - std::exp (-2.0f * juce::MathConstants<float>::pi * f / r);
}

} // namespace quorvalen
