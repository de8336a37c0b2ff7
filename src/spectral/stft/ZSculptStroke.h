#pragma once
// The Z sculpt stroke: soft elliptical holes carved into the time and
// log-frequency plane of the live audio through 4096-point STFT frames (hop 256),
// its vertical axis the constant-Q band plan (0 the highest band, 1 the lowest).
#include "spectral/SpectralUndoRecord.h"
#include "spectral/stft/ZSculptCarve.h"

#include <cstdint>
#include <vector>

namespace quorvalen
{

class SessionWork;
struct SpectralSession;

// In the session's turn; points checked by the dispatcher. The live cache id; -2
// the boxes reach more than maxStrokeCells cells; -3 the session ended meanwhile;
// -4 the live copy is gone or does not match the session (or no points); -5 the
// edit cannot be carried through, or the live copy changed meanwhile. Nothing
// changes on failure.
int applyZSculptStft (SessionWork& work, SpectralSession& session, std::uint32_t sessionId, const float* points,
                      std::int32_t count);

std::vector<ZSculptBox> zSculptBoxes (const float* points, std::int32_t count);

} // namespace quorvalen
