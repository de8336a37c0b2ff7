#pragma once
// Long work's private copy of a cached sound. The work notes the entry under the
// engine lock, copies the samples it needs in short holds of the lock (so that
// copying a long sound keeps no other caller waiting), runs on the copy without
// the lock and, when something refuses, tells which of the entries it read moved.
#include "cache/CacheEntry.h"
#include "cache/LongWork.h"

#include <juce_audio_basics/juce_audio_basics.h>

#include <cstdint>

namespace quorvalen
{

struct EntryCopy
{
    std::uint32_t id = 0;
    std::uint64_t revision = 0;
    double sampleRate = 0.0;
    int channels = 0;               // the entry's own
    int samples = 0;                // the entry's own
    juce::AudioBuffer<float> audio; // the part copied
};

// The engine lock held: the work that `watch` follows reads `entry` (under `id`,
// with a buffer); its shape goes into `copy`.
void noteEntryRead (LongWorkWatch& watch, std::uint32_t id, const CacheEntry& entry, EntryCopy& copy);

// Without the lock: copies the first `channels` channels over samples [start,
// start + count) into copy.audio, holding the engine lock for at most about a
// megabyte at a time. False, with copy.audio incomplete, once `watch` finds that
// an entry it follows changed or went, the cache was cleared or the engine shut
// down. Throws when memory runs out.
bool copyEntryAudio (QuorvalenEngine& engine, const LongWorkWatch& watch, EntryCopy& copy, int channels, int start,
                     int count);

// The engine lock held: the entry is there with the revision it was read at.
bool entryAsRead (QuorvalenEngine& engine, const EntryCopy& copy);

} // namespace quorvalen
