#pragma once
// The Foundry's only ways into engine internals: the engine mutex, cache entries
// under their ids, and detaching playback before an entry's audio is replaced.
#include "engine/CacheEntry.h"
#include "foundry/FoundryCodes.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace quorvalen
{
class QuorvalenEngine;
}

namespace quorvalen::foundry
{

std::unique_lock<std::mutex> lockEngine (QuorvalenEngine& engine);

// Which properties of an entry a stage needs, tested in the shared order.
enum class Needs
{
    buffer,         // codes 2, 4
    bufferAndRate,  // codes 2, 4, 5
    audio,          // codes 2, 4, 5, 6
};

struct EntryLookup
{
    CacheEntry* entry = nullptr;
    int code = 0;
};

// Caller holds the engine mutex.
EntryLookup lookupEntry (QuorvalenEngine& engine, std::int32_t id, Needs needs);

// Stops playback when it reads the entry `id`, so that a stage may write or replace
// its audio. Caller holds the engine mutex.
void detachPlaybackOf (QuorvalenEngine& engine, std::int32_t id);

// Puts `entry` under `id`, erasing what was there (after detaching its playback).
// Caller holds the engine mutex.
void replaceEntry (QuorvalenEngine& engine, std::int32_t id, CacheEntry entry);
// Caller holds the engine mutex; a missing id is skipped.
void eraseEntry (QuorvalenEngine& engine, std::int32_t id);

// The engine's owned playback buffer (the finished preview), or null.
juce::AudioBuffer<float>* playbackBuffer (QuorvalenEngine& engine);
// Gives the engine a new playback buffer, detaching any playback that reads the
// old one first. Caller holds the engine mutex.
void replacePlaybackBuffer (QuorvalenEngine& engine, std::unique_ptr<juce::AudioBuffer<float>> buffer);

// Ready with a device manager. Caller holds the engine mutex.
bool engineHasDevice (QuorvalenEngine& engine);

} // namespace quorvalen::foundry
