#pragma once
// Processing edit sessions: crop, end fade and reverse of a work copy of a cached
// sound, with whole-buffer undo and redo.
#include "core/HistoryBudget.h"

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
// larger of this floor and 8 x the work buffer. The oldest steps go first, with a
// log line; the newest step always stays.
inline constexpr std::size_t editHistoryBudgetFloor = historyBudgetFloor;
// Tests lower the floor to reach the budget with small sounds.
void setEditHistoryBudgetFloor (std::size_t bytes);

// The edits answer with the work entry's id or one of these codes; the numbers are
// those the public header documents. Beginning answers like every session opening
// (`SessionOpenCode`).
// Crop (bad bounds) and end fade (a length not above 0).
enum class EditShapeError : std::int32_t
{
    unknownSession = -1,
    badArgument = -2,
    noWorkAudio = -3,
    outOfMemory = -4,
};
enum class ReverseError : std::int32_t
{
    unknownSession = -1,
    noWorkAudio = -2,
    outOfMemory = -3,
};
// Undo and redo.
enum class HistoryMoveError : std::int32_t
{
    unknownSession = -1,
    nothingToMove = -2,
    noWorkAudio = -3,
    outOfMemory = -4,
};
enum class EndEditResult : std::int32_t
{
    ok = 0,
    unknownSession = 1,
};

int beginProcessingEditSession (QuorvalenEngine& engine, std::int32_t cacheId, std::uint32_t* outWorkCacheId);
int cropProcessingEditSession (QuorvalenEngine& engine, std::int32_t session, float start, float end);
int endFadeProcessingEditSession (QuorvalenEngine& engine, std::int32_t session, float fadeMs);
int reverseProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
int undoProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
int redoProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);
EndEditResult endProcessingEditSession (QuorvalenEngine& engine, std::int32_t session);

} // namespace quorvalen
