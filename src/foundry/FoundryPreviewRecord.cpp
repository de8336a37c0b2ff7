// The preview cache's record, snapshots, hit test and completion.
#include "foundry/FoundryPreviewRecord.h"

#include "foundry/FoundryEngineAccess.h"

#include <cmath>
#include <cstring>

namespace quorvalen::foundry
{

namespace
{
std::uint64_t bytesOf (const juce::AudioBuffer<float>& audio)
{
    return (std::uint64_t) audio.getNumChannels() * (std::uint64_t) audio.getNumSamples() * 4u;
}

bool sameAudio (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
        return false;
    for (int c = 0; c < a.getNumChannels(); ++c)
        if (std::memcmp (a.getReadPointer (c), b.getReadPointer (c), (size_t) a.getNumSamples() * sizeof (float)) != 0)
            return false;
    return true;
}
} // namespace

void appendFoundryLanes (QuorvalenEngine& engine, std::vector<double>& params)
{
    for (const auto& layer : automationLanesOf (engine))
        for (const auto& lane : layer)
        {
            params.push_back ((double) lane.times.size());
            params.insert (params.end(), lane.times.begin(), lane.times.end());
            params.push_back ((double) lane.values.size());
            params.insert (params.end(), lane.values.begin(), lane.values.end());
        }
}

bool collectFoundrySourceSnapshots (QuorvalenEngine& engine, const SourceIds& ids, bool liveFilter, SourceSlots& slots)
{
    bool cacheable = engineReady (engine) && ! liveFilter && ids[0] > 0;
    for (size_t k = 0; k < ids.size(); ++k)
    {
        slots[k] = {};
        if (ids[k] < 1)
            continue;
        const auto found = lookupEntry (engine, ids[k], Needs::buffer);
        if (found.entry == nullptr)
        {
            cacheable = false;
            continue;
        }
        slots[k] = { found.entry->buffer.get(), found.entry->sampleRate };
        if (isSessionWorkEntry (engine, ids[k]))
            cacheable = false;
    }
    return cacheable;
}

std::unique_ptr<FoundryPreviewCache> snapshotFoundryBuffers (const std::vector<double>& params,
                                                             const SourceSlots& slots)
{
    std::uint64_t total = 0;
    for (const auto& slot : slots)
    {
        if (slot.audio == nullptr)
            continue;
        if (slot.audio->getNumChannels() < 1 || slot.audio->getNumSamples() < 1 || ! std::isfinite (slot.sampleRate)
            || ! (slot.sampleRate > 0.0))
            return nullptr;
        total += bytesOf (*slot.audio);
        if (total > previewCacheBudgetBytes)
            return nullptr;
    }
    try
    {
        auto record = std::make_unique<FoundryPreviewCache>();
        record->params = params;
        record->snapshotBytes = total;
        for (size_t k = 0; k < slots.size(); ++k)
            if (slots[k].audio != nullptr)
            {
                record->snapshots[k].present = true;
                record->snapshots[k].audio.makeCopyOf (*slots[k].audio);
                record->snapshots[k].sampleRate = slots[k].sampleRate;
            }
        return record;
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

bool foundryRenderParamsEqual (const FoundryPreviewCache& record, const std::vector<double>& params,
                               const SourceSlots& slots)
{
    if (record.params.size() != params.size())
        return false;
    for (size_t i = 0; i < params.size(); ++i)
        if (! (record.params[i] == params[i])) // NaN never equals
            return false;
    for (size_t k = 0; k < slots.size(); ++k)
    {
        const auto& kept = record.snapshots[k];
        if (kept.present != (slots[k].audio != nullptr))
            return false;
        if (kept.present && (! (kept.sampleRate == slots[k].sampleRate) || ! sameAudio (kept.audio, *slots[k].audio)))
            return false;
    }
    return true;
}

void storeCompletedFoundryPreview (QuorvalenEngine& engine, PreviewCompletion& completion,
                                   const juce::AudioBuffer<float>& finished, double rate)
{
    if (completion.record == nullptr || foundryGenerationOf (engine) != completion.generation)
        return;
    SourceSlots fresh;
    if (! collectFoundrySourceSnapshots (engine, completion.ids, false, fresh))
        return;
    const auto* preview = &finished;
    if (! foundryRenderParamsEqual (*completion.record, completion.params, fresh) || preview == nullptr
        || preview->getNumChannels() < 1 || preview->getNumSamples() < 1 || ! std::isfinite (rate) || ! (rate > 0.0)
        || bytesOf (*preview) > previewCacheBudgetBytes - completion.record->snapshotBytes)
        return;
    try
    {
        completion.record->preview = std::make_unique<juce::AudioBuffer<float>>();
        completion.record->preview->makeCopyOf (*preview);
        completion.record->previewSampleRate = rate;
        setPreviewCache (engine, std::move (completion.record));
    }
    catch (const std::bad_alloc&)
    {
        completion.record.reset();
    }
}

} // namespace quorvalen::foundry
