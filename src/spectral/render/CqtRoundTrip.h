#pragma once
// Audition of the constant-Q round trip: a cached entry analysed and
// resynthesised unchanged, played from the start like a file.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

// Reads the entry under engineMutex, analyses and resynthesises a copy without
// it and takes it again to play the result; a round trip whose entry moved stops
// before its next transform and plays nothing.
enum class RoundTripResult : std::int32_t
{
    playing = 0,
    notReady = 1,  // or no device; also when the engine shut down meanwhile
    unknownId = 2, // ids below 1 included; also when the entry was unloaded or changed meanwhile
    noBuffer = 3,
    badRate = 4,     // not above 0
    empty = 5,       // no channels or samples
    outOfMemory = 6, // or no analysis at this rate (playback stopped)
};
RoundTripResult playCachedGaboratorRoundtrip (QuorvalenEngine& engine, std::int32_t cacheId);

} // namespace quorvalen
