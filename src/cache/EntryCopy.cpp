#include "cache/EntryCopy.h"

#include "cache/AudioCache.h"

#include <algorithm>

namespace quorvalen
{
namespace
{
// Floats copied per hold of the engine lock: about a megabyte, well under a
// millisecond.
constexpr int floatsPerHold = 1 << 18;
} // namespace

void noteEntryRead (LongWorkWatch& watch, std::uint32_t id, const CacheEntry& entry, EntryCopy& copy)
{
    watch.read (id);
    copy.id = id;
    copy.revision = entry.revision;
    copy.sampleRate = entry.sampleRate;
    copy.channels = entry.buffer->getNumChannels();
    copy.samples = entry.buffer->getNumSamples();
}

bool copyEntryAudio (QuorvalenEngine& engine, const LongWorkWatch& watch, EntryCopy& copy, int channels, int start,
                     int count)
{
    copy.audio.setSize (channels, count);
    const int framesPerHold = std::max (1, floatsPerHold / std::max (channels, 1));
    for (int copied = 0; copied < count;)
    {
        const auto lock = lockEngine (engine);
        if (! watch.unchanged())
            return false;
        // A writer that swapped the buffer without marking the entry changed must
        // not make the copy read past its end.
        const auto* entry = findCacheEntry (engine, copy.id);
        if (entry == nullptr || entry->buffer == nullptr || entry->buffer->getNumChannels() < channels
            || entry->buffer->getNumSamples() < start + count)
            return false;
        const int n = std::min (framesPerHold, count - copied);
        for (int c = 0; c < channels; ++c)
            copy.audio.copyFrom (c, copied, *entry->buffer, c, start + copied, n);
        copied += n;
    }
    return true;
}

bool entryAsRead (QuorvalenEngine& engine, const EntryCopy& copy)
{
    const auto* entry = findCacheEntry (engine, copy.id);
    return entry != nullptr && entry->revision == copy.revision;
}

} // namespace quorvalen
