#pragma once
// Audition of the constant-Q round trip: a cached entry analysed and
// resynthesised unchanged, played from the start like a file.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

// Takes engineMutex for the whole call.
enum class RoundTripResult : std::int32_t
{
    playing = 0,
    notReady = 1,  // or no device
    unknownId = 2, // ids below 1 included
    noBuffer = 3,
    badRate = 4,     // not above 0
    empty = 5,       // no channels or samples
    outOfMemory = 6, // or no analysis at this rate (playback stopped)
};
RoundTripResult playCachedGaboratorRoundtrip (QuorvalenEngine& engine, std::int32_t cacheId);

} // namespace quorvalen
