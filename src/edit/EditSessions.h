#pragma once
// Processing edit sessions: crop, end fade and reverse of a work copy of a cached
// sound, with whole-buffer undo and redo.
#include <cstddef>
#include <cstdint>

namespace quorvalen
{

class QuorvalenEngine;
struct EditSession;
template <typename Session>
class SessionTable;

// The engine's edit sessions; the caller holds the engine lock.
SessionTable<EditSession>& editSessionTable (QuorvalenEngine& engine);

inline constexpr std::size_t editUndoLimit = 48;
// History memory of one session (undo and redo snapshots together) stays within the
// larger of this floor and 8 x the work buffer (512 MB holds 48 steps of a sound up
// to about 5.6 MB, 30 s of 48 kHz stereo; a 10-minute sound keeps 8 steps, 1.8 GB,
// instead of 48 at 11 GB). The oldest steps go first, with a log line; the newest
// step always stays.
inline constexpr std::size_t editHistoryBudgetFloor = std::size_t { 512 } << 20;
// Tests lower the floor to reach the budget with small sounds.
void setEditHistoryBudgetFloor (std::size_t bytes);

int beginProcessingEditSession (QuorvalenEngine& engine, std::int32_t cacheId, std::uint32_t* outWorkCacheId);
int cropProcessingEditSession (QuorvalenEngine& engine, std::int32_t session, float start, float end);
int endFadeProcessingEditSession (QuorvalenEngine& engine, std::int32_t session, float fadeMs);
int reverseProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
int undoProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
int redoProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
int endProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);

} // namespace quorvalen
