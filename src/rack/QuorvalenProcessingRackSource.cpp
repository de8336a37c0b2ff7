#include "rack/QuorvalenProcessingRackSource.h"

#include "rack/RackProcessingState.h"

#include <algorithm>
#include <cmath>

namespace quorvalen
{

namespace
{
// Sizes used until a device tells the rack its own.
constexpr double defaultRate = 44100.0;
constexpr int defaultBlock = 512;

void applyPlanLengths (RackProcessingState& s, const RackPlaybackPlan& plan)
{
    s.delayTail = 0;
    s.playLength = plan.playLength;
    s.looping = plan.looping;
    s.keepTail = plan.keepTail;
    s.loopLength = plan.loopLength;
}

void seekState (RackProcessingState& s, std::int64_t position)
{
    auto p = std::max<std::int64_t> (position, 0);
    if (s.looping)
        p = s.loopLength >= 1 ? p % s.loopLength : std::min (p, s.playLength - 1);
    else
        p = std::min (p, s.playLength - 1);
    s.position = p;
}

// Children follow the parent's position, each within its own lengths.
void seekAll (RackProcessingState& s, std::int64_t position)
{
    seekState (s, position);
    for (auto& child : s.children)
        seekState (*child, s.position);
}

std::int64_t scaleSamples (std::int64_t samples, double ratio)
{
    return (std::int64_t) std::llround ((double) samples * ratio);
}
} // namespace

RackPlaybackPlan RackPlaybackPlan::make (std::int64_t length, bool looping, std::int64_t loopLength, bool keepTail)
{
    RackPlaybackPlan p;
    p.playLength = std::max<std::int64_t> (length, 1);
    p.looping = looping;
    p.keepTail = keepTail;
    if (looping)
        p.loopLength = std::max (p.playLength, loopLength >= 1 ? loopLength : p.playLength);
    else
        p.loopLength = p.playLength;
    return p;
}

QuorvalenProcessingRackSource::QuorvalenProcessingRackSource (juce::AudioSource* inputStage)
        : ChainStage (inputStage), state (std::make_unique<RackProcessingState> (true)),
          spare (std::make_unique<RackProcessingState> (true)),
          publisher (std::make_shared<const QuorvalenRackSettings>())
{
    // Sized from the start, so that driving the stage before any device prepared it
    // never reaches an unsized buffer.
    prepareRackState (*state, defaultRate, defaultBlock);
    prepareRackState (*spare, defaultRate, defaultBlock);
}

QuorvalenProcessingRackSource::~QuorvalenProcessingRackSource() = default;

void QuorvalenProcessingRackSource::prepareToPlay (int samplesPerBlockExpected, double sampleRate)
{
    ChainStage::prepareToPlay (samplesPerBlockExpected, sampleRate);

    std::lock_guard host (hostMutex);
    const double oldRate = state->sampleRate;
    std::int64_t position;
    {
        std::lock_guard lock (stateMutex);
        position = positionAtRelease.value_or (state->position);
        prepareRackState (*state, sampleRate, samplesPerBlockExpected);
    }
    positionAtRelease.reset();
    prepareRackState (*spare, sampleRate, samplesPerBlockExpected);
    stagedIsStale = true;

    // A device that restarts (perhaps at another rate or block size) under running
    // rack playback: rebuild what depends on them and carry on where it stood,
    // instead of processing on with a reset state and a stale shifter or response.
    if (! plan.has_value() || ! isProcessingEnabled())
        return;
    const double ratio = state->sampleRate / oldRate;
    if (ratio != 1.0)
    {
        plan->playLength = std::max<std::int64_t> (scaleSamples (plan->playLength, ratio), 1);
        plan->loopLength = std::max (plan->playLength, scaleSamples (plan->loopLength, ratio));
        position = scaleSamples (position, ratio);
    }
    const auto record = publisher.current();
    preparePlaybackOn (*spare, *plan, record.get());
    swapInSpare();
    std::lock_guard lock (stateMutex);
    seekAll (*state, position);
}

void QuorvalenProcessingRackSource::releaseResources()
{
    ChainStage::releaseResources();
    std::lock_guard host (hostMutex);
    std::lock_guard lock (stateMutex);
    if (! positionAtRelease.has_value())
        positionAtRelease = state->position;
    resetRackState (*state);
}

void QuorvalenProcessingRackSource::getNextAudioBlock (const juce::AudioSourceChannelInfo& info)
{
    juce::ScopedNoDenormals noDenormals;
    if (! pullInput (info))
        return;
    if (info.buffer == nullptr || info.numSamples < 1 || ! isProcessingEnabled())
        return;

    // A host thread swapping the state in this instant: this block passes dry
    // rather than waiting on it.
    std::unique_lock lock (stateMutex, std::try_to_lock);
    if (! lock.owns_lock())
        return;
    const RackSettingsPublisher::Lease settings (publisher);
    if (! settings)
        return;
    processRackBlock (*state, *info.buffer, info.startSample, info.numSamples, *settings);
}

double QuorvalenProcessingRackSource::rackTailSeconds() const
{
    const auto record = publisher.current();
    if (record == nullptr)
        return 0.0;
    if (record->rackModules.empty())
        return record->space.enabled ? 10.0 : 0.0;
    for (const auto& entry : record->rackModules)
        if (entry.module == (std::uint32_t) rackModuleSpace && entry.settings != nullptr
            && entry.settings->space.enabled)
            return 10.0;
    return 0.0;
}

void QuorvalenProcessingRackSource::preparePlaybackOn (RackProcessingState& s, const RackPlaybackPlan& p,
                                                       const QuorvalenRackSettings* record) const
{
    resetRackState (s);
    applyPlanLengths (s, p);
    if (record == nullptr)
        return;

    if (record->rackModules.empty())
    {
        s.freqShift.prepareShifter (*record);
        s.space.loadImpulseResponse (*record, 2, true);
        if (! p.looping)
            s.delayTail = s.freqShift.delaySamples();
        return;
    }

    const auto entries = std::min (s.children.size(), record->rackModules.size());
    for (size_t i = 0; i < entries; ++i)
    {
        auto& child = *s.children[i];
        const auto& entry = record->rackModules[i];
        resetRackState (child);
        applyPlanLengths (child, p);
        // Children have no children: an entry whose record lists entries of its own
        // runs as it is, without preparing anything further.
        if (entry.settings == nullptr || ! entry.settings->rackModules.empty())
            continue;
        if (entry.module == (std::uint32_t) rackModuleFreqShift)
            child.freqShift.prepareShifter (*entry.settings);
        else if (entry.module == (std::uint32_t) rackModuleSpace)
            child.space.loadImpulseResponse (*entry.settings, 2, true);
    }
    // Shifters in a chain of entries delay one another: every entry processes their
    // summed delay past the sound.
    std::int64_t delay = 0;
    for (size_t i = 0; i < entries; ++i)
        delay += s.children[i]->freqShift.delaySamples();
    if (! p.looping)
        for (size_t i = 0; i < entries; ++i)
            s.children[i]->delayTail = delay;
    s.delayTail = p.looping ? 0 : delay;
}

void QuorvalenProcessingRackSource::swapInSpare()
{
    std::lock_guard lock (stateMutex);
    std::swap (state, spare);
    positionAtRelease.reset();
}

void QuorvalenProcessingRackSource::prepareRackPlayback (std::int64_t length, bool looping, std::int64_t loopLength,
                                                         bool keepTail)
{
    const auto p = RackPlaybackPlan::make (length, looping, loopLength, keepTail);
    const auto record = publisher.current();
    std::lock_guard host (hostMutex);
    // With processing off the live state serves no one: prepare on it (by swapping it
    // to the spare side), so that what it holds, such as the loaded impulse response,
    // is what a repeated preparation reuses.
    if (! isProcessingEnabled())
        swapInSpare();
    preparePlaybackOn (*spare, p, record.get());
    swapInSpare();
    plan = p;
    stagedPlan.reset();
    stagedRecord.reset();
}

void QuorvalenProcessingRackSource::stageRackPlayback (const RackPlaybackPlan& p,
                                                       std::shared_ptr<const QuorvalenRackSettings> record)
{
    std::lock_guard host (hostMutex);
    preparePlaybackOn (*spare, p, record.get());
    stagedPlan = p;
    stagedRecord = std::move (record);
    stagedIsStale = false;
}

void QuorvalenProcessingRackSource::commitStagedRackPlayback()
{
    std::lock_guard host (hostMutex);
    if (! stagedPlan.has_value())
        return;
    // The device re-prepared the spare after staging (a restart in between): prepare
    // it again; rare, and the device has just stopped anyway.
    if (stagedIsStale)
        preparePlaybackOn (*spare, *stagedPlan, stagedRecord.get());
    swapInSpare();
    plan = stagedPlan;
    stagedPlan.reset();
    stagedRecord.reset();
}

void QuorvalenProcessingRackSource::seekRack (std::int64_t position)
{
    std::lock_guard lock (stateMutex);
    seekAll (*state, position);
}

std::int64_t QuorvalenProcessingRackSource::delayTailSamples() const
{
    std::lock_guard lock (stateMutex);
    return state->delayTail;
}

RackPlaybackSnapshot QuorvalenProcessingRackSource::playbackSnapshot() const
{
    std::lock_guard lock (stateMutex);
    RackPlaybackSnapshot s;
    s.position = state->position;
    s.playLength = state->playLength;
    s.loopLength = state->loopLength;
    s.looping = state->looping;
    s.sampleRate = state->sampleRate;
    s.maxBlock = state->maxBlock;
    s.childPosition0 = state->children.empty() ? 0 : state->children.front()->position;
    return s;
}

bool updateSettings (QuorvalenProcessingRackSource& rack, const char* jsonUtf8)
{
    auto record = parseRackSettings (jsonUtf8);
    if (record == nullptr)
        return false;
    rack.publishSettings (std::move (record));
    return true;
}

} // namespace quorvalen
