#pragma once
// The preview cache's rules: the render record, the source snapshots, the hit
// test, the copy budget and the completion that stores a finished render.
#include "foundry/FoundryPreviewCache.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

// Snapshot copies and the cached preview share this budget.
inline constexpr std::uint64_t previewCacheBudgetBytes = 67108864;

// A source as the cache holds it now: its buffer (not copied) and rate, or empty.
struct SourceSlot
{
    const juce::AudioBuffer<float>* audio = nullptr;
    double sampleRate = 0.0;
};
using SourceSlots = std::array<SourceSlot, 4>;

// Transient, body, tail and overtone source ids.
using SourceIds = std::array<std::int32_t, 4>;

// Appends the automation lanes (3 layers x 8 parameters: count, times, count,
// values). Caller holds the engine mutex.
void appendFoundryLanes (QuorvalenEngine& engine, std::vector<double>& params);

// Fills `slots` and returns whether the render may be cached. Caller holds the
// engine mutex.
bool collectFoundrySourceSnapshots (QuorvalenEngine& engine, const SourceIds& ids, bool liveFilter, SourceSlots& slots);

// A new record with copies of the parameters and the present slots; null when a
// slot is unusable, the copies would exceed the budget or memory runs out.
std::unique_ptr<FoundryPreviewCache> snapshotFoundryBuffers (const std::vector<double>& params,
                                                             const SourceSlots& slots);

// Equal parameters (a NaN never equals) and byte-identical sources.
bool foundryRenderParamsEqual (const FoundryPreviewCache& record, const std::vector<double>& params,
                               const SourceSlots& slots);

// What a render needs to offer its result to the cache once finished.
struct PreviewCompletion
{
    std::unique_ptr<FoundryPreviewCache> record;
    std::uint64_t generation = 0;
    SourceIds ids {};
    std::vector<double> params;
};

// Adopts a copy of the finished preview into the record and makes it the engine's
// preview cache, when nothing changed since render start. Caller holds the
// engine mutex.
void storeCompletedFoundryPreview (QuorvalenEngine& engine, PreviewCompletion& completion,
                                   const juce::AudioBuffer<float>& preview, double rate);

} // namespace quorvalen::foundry
