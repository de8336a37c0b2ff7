#pragma once
// Playing a cached sound through the rack, and swapping a new sound into that
// playback while it runs.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;
class QuorvalenProcessingRackSource;

// The rack stage of the engine's playback chain.
QuorvalenProcessingRackSource& liveRack (QuorvalenEngine& engine);

// Results of playing through the rack and of refreshing that playback.
enum class RackPlayResult : std::int32_t
{
    ok = 0,
    notReady = 1,
    unknownId = 2,
    noAudio = 3,        // no buffer, no frame (refresh) or a rate that is not usable
    badSettings = 4,    // settings, or the refresh id, refused
    badLength = 5,      // the length to play is out of range
    refreshRefused = 6, // not the playback named, or the position lies past the new sound's end
};

// Takes engineMutex. ok, notReady, unknownId, noAudio, badSettings or badLength.
// With the refresh key in the settings, the result of refreshProcessingPreview.
RackPlayResult playCachedWithProcessing (QuorvalenEngine& engine, std::int32_t cacheId, const char* settingsJson,
                                         float volumePercent, bool loop);

// engineMutex held by the caller. ok (swapped), unknownId, noAudio, badSettings or
// refreshRefused.
RackPlayResult refreshProcessingPreview (QuorvalenEngine& engine, std::int32_t cacheId, const char* settingsJson,
                                         float volumePercent, bool loop);

} // namespace quorvalen
