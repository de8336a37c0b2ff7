#pragma once
// The engine-facing steps of the offline constant-Q renders (spectral edit, morphs,
// manifold mix): locking, the ready tests, reading a source entry and inserting a
// result. Everything these renders touch inside the engine goes through here.
#include "cache/AudioCache.h"
#include "cache/EntryCopy.h"
#include "cache/LongWork.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>
#include <memory>
#include <mutex>

namespace quorvalen::spectral
{

using quorvalen::cacheGeneration;
using quorvalen::engineReady;
using quorvalen::lockEngine;

// `ready` with a device manager. Callers hold the engine lock.
bool engineReadyWithDevice (QuorvalenEngine& engine);

struct SourceAudio
{
    const juce::AudioBuffer<float>* buffer = nullptr;
    double sampleRate = 0.0;
};

enum class SourceLookup
{
    ok,
    unknownId,
    noBuffer,
    badRate
};

// Looks a cache entry up; the caller holds the engine lock while it reads `out`.
SourceLookup lookupSource (QuorvalenEngine& engine, std::uint32_t id, SourceAudio& out);

// The engine lock held: the render that `watch` follows reads the source `id`
// (looked up as ok); its shape goes into `copy`, whose samples the render then
// copies without the lock (copyEntryAudio).
void noteSourceRead (QuorvalenEngine& engine, LongWorkWatch& watch, std::uint32_t id, EntryCopy& copy);
using quorvalen::copyEntryAudio;
using quorvalen::entryAsRead;

// Inserts a rendered buffer as a new entry under the next cache id and returns it.
// The caller holds the engine lock.
std::uint32_t insertRendered (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer,
                              double sampleRate, const char* name);

} // namespace quorvalen::spectral
