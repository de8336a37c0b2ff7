#pragma once
// Undo and redo of spectral sessions by audio deltas: the before-snapshot, the
// delta, the push rule and applying a record. engineMutex is held by the caller
// of every routine here except the two exported operations, which take it.
#include "core/HistoryBudget.h"
#include "spectral/SpectralUndoRecord.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvalen
{

class QuorvalenEngine;
struct SpectralSession;

// Samples [start, end) (clamped to the session) of the live copy, channel-major,
// over min(live channels, session channels) channels written to outChannels.
// Empty (outChannels 0 when the live copy is unusable) when nothing is there.
std::vector<float> copySessionRegion (QuorvalenEngine& engine, const SpectralSession& session, std::int64_t start,
                                      std::int64_t end, std::int32_t* outChannels);

// record.delta = live - snapshot over the record's range and channels.
bool buildSessionDelta (QuorvalenEngine& engine, const SpectralSession& session, SpectralUndoRecord& record,
                        const std::vector<float>& snapshot);

// Appends the record (dropping the oldest beyond 48) and empties the redo stack;
// then drops the oldest records, with a log line, while the history is over its
// byte budget: the larger of this floor and 8 x the live copy. The new record stays.
void pushSpectralUndo (SpectralSession& session, SpectralUndoRecord record);
inline constexpr std::size_t spectralHistoryBudgetFloor = historyBudgetFloor;
// Tests lower the floor to reach the budget with small sounds.
void setSpectralHistoryBudgetFloor (std::size_t bytes);

// Adds (redo) or subtracts (undo) the delta while playback of the live copy is
// detached, analyses again the STFT frames that see a sample it changed (the
// others see the same audio as before) and resumes playback. On false
// the audio is as before (the STFT state may be left empty for the next stroke to
// rebuild).
bool applySpectralUndoRecord (QuorvalenEngine& engine, SpectralSession& session, const SpectralUndoRecord& record,
                              bool redo);

// Take engineMutex. The live cache id or one of these.
enum class SpectralHistoryError : std::int32_t
{
    unknownSession = -1,
    nothingToMove = -2,
    notApplied = -3, // the record stays where it was
};
int undoCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId);
int redoCqtSpectralSession (QuorvalenEngine& engine, std::int32_t sessionId);

} // namespace quorvalen
