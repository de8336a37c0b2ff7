#pragma once
// Undo and redo of spectral sessions by audio deltas: the push rule and moving a
// record between the stacks.
#include "core/HistoryBudget.h"
#include "spectral/SpectralUndoRecord.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;

// Appends the record (dropping the oldest beyond 48) and empties the redo stack;
// then drops the oldest records, with a log line, while the history is over its
// byte budget: the larger of this floor and 8 x the live copy. The new record stays.
void pushSpectralUndo (SpectralSession& session, SpectralUndoRecord record);
inline constexpr std::size_t spectralHistoryBudgetFloor = historyBudgetFloor;
// Tests lower the floor to reach the budget with small sounds.
void setSpectralHistoryBudgetFloor (std::size_t bytes);

// Run in the session's turn like a stroke (see SessionWork): the samples the
// record changes and the STFT frames that see them are worked out on copies and
// the samples installed in a short hold. The live cache id or one of these.
enum class SpectralHistoryError : std::int32_t
{
    unknownSession = -1, // also when the session ends before the step is in
    nothingToMove = -2,
    // The live copy is gone or changed meanwhile, or memory ran out; the record
    // stays where it was and nothing changed.
    notApplied = -3,
};
int undoCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId);
int redoCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId);

} // namespace quorvalen
