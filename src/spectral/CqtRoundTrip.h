#pragma once
// Audition of the constant-Q round trip: a cached entry analysed and
// resynthesised unchanged, played from the start like a file.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

// Takes engineMutex for the whole call. 0 playing; 1 not ready or no device; 2
// unknown id (ids below 1 included); 3 no buffer; 4 rate not above 0; 5 no
// channels or samples; 6 out of memory or no analysis at this rate (playback
// stopped).
int playCachedGaboratorRoundtrip (QuorvalenEngine& engine, std::int32_t cacheId);

} // namespace quorvalen
