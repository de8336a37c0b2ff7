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

bool loops (const RackProcessingState& state) noexcept
{
    return state.looping && state.loopLength > 0;
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
                state.space.reset();
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
        state.stereo.blendToMono ({ buffer, start, n }, settings);
}

void dispatchRackModule (RackProcessingState& state, juce::AudioBuffer<float>& buffer, int start, int n, int module,
                         const QuorvalenRackSettings& s)
{
    if (auto* observer = dispatchObserver.load (std::memory_order_relaxed))
        observer (state, module, start, n, s);

    const auto timeline = state.timeline();
    const RackLanes lanes (s, timeline);
    const RackBlock block { buffer, start, n };
    switch (module)
    {
        case rackModuleHeat: state.heat.process (block, s, lanes); break;
        case rackModuleFilter: state.filter.process (block, s, lanes); break;
        case rackModuleTransient: state.transient.process (block, s, lanes); break;
        case rackModuleFreqShift: state.freqShift.process (block, s, lanes); break;
        case rackModuleSpectralDelay: state.spectralDelay.process (block, s, lanes); break;
        case rackModuleSpace: state.space.process (block, s, lanes); break;
        case rackModuleStereo: state.stereo.process (block, s, lanes); break;
        default: break;
    }
}

float automationValue (const QuorvalenRackSettings& settings, int lane, float defaultValue, float lo, float hi,
                       std::int64_t position, std::int64_t length, bool logarithmic,
                       AutomationLaneCursor* cursor) noexcept
{
    if (lane < 0 || lane >= rackAutomationLaneCount)
        return defaultValue;
    const auto& points = settings.automation[(size_t) lane];
    if (! points.hasPoints())
        return defaultValue;

    float t = 0.0f;
    if (length > 1)
        t = std::clamp ((float) position / (float) (length - 1), 0.0f, 1.0f);
    const float v = cursor != nullptr ? cursor->valueAt (points, t) : automationLaneValue (points, t);

    if (logarithmic && 0.0f < lo && lo < hi)
        return lo * std::pow (hi / lo, v);
    return lo + (hi - lo) * v;
}

std::int64_t rackAutomationPosition (const RackProcessingState& state, std::int64_t offset) noexcept
{
    return state.timeline().automationPosition (offset);
}

} // namespace quorvalen
