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

// Takes engineMutex. 0 playing; 1 not ready; 2 no entry; 3 entry without usable
// audio; 4 settings refused; 5 length to play out of range. With the refresh key
// in the settings, the result of refreshProcessingPreview instead.
int playCachedWithProcessing (QuorvalenEngine& engine, std::int32_t cacheId, const char* settingsJson,
                              float volumePercent, bool loop);

// engineMutex held by the caller. 0 swapped; 2 no entry; 3 new entry unusable;
// 4 settings or refresh id unusable; 6 not the playback named, or the position
// lies past the new sound's end.
int refreshProcessingPreview (QuorvalenEngine& engine, std::int32_t cacheId, const char* settingsJson,
                              float volumePercent, bool loop);

} // namespace quorvalen
