#pragma once
// Processing edit sessions: crop, end fade and reverse of a work copy of a cached
// sound, with whole-buffer undo and redo.
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;

inline constexpr std::size_t editUndoLimit = 48;

int beginProcessingEditSession (QuorvalenEngine& engine, std::int32_t cacheId, std::uint32_t* outWorkCacheId);
int cropProcessingEditSession (QuorvalenEngine& engine, std::int32_t session, float start, float end);
int endFadeProcessingEditSession (QuorvalenEngine& engine, std::int32_t session, float fadeMs);
int reverseProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
int undoProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
int redoProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
int endProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);

} // namespace quorvalen
